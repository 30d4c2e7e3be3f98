// The whole game on the headless back end: start-up, the configuration file,
// frame pacing on the virtual clock and the end of the run.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "game/frame/config.h"
#include "game/frame/frame_loop.h"
#include "game/frame/game_error.h"
#include "game/frame/game_state.h"
#include "game/frame/input.h"
#include "game/objects/dispatch.h"
#include "game/objects/game_object.h"
#include "game/objects/resource_tables.h"
#include "game/objects/resources.h"
#include "game/winmain.h"
#include "platform/kernel/kernel.h"
#include "platform/window/window.h"
#include "rorud/rorud.h"
#include "tests/game/game_fixture.h"
#include "tests/support/sjis.h"

namespace {

namespace fs = std::filesystem;
using gametest::ScratchFolder;

// A scratch working folder that sees the generated data set, on a virtual
// clock that creeps forward one microsecond per reading so busy waits end.
class WholeGame : public ::testing::Test {
 protected:
  void SetUp() override {
    gametest::ResetGameGlobals();
    const fs::path data = fs::path(RORUD_BINARY_DIR) / "data";
    for (const char* sub : {"grp", "se", "bgm"}) {
      if (fs::exists(data / sub)) fs::create_directory_symlink(data / sub, sub);
    }
    // Each test process is its own single instance of the game.
    plat::SetWindowLockFolder(scratch_.path().string());
    plat::EnableVirtualClock(true);
    plat::SetVirtualClockMicros(5'000'000);
    plat::SetVirtualClockAutoAdvance(1);
  }
  void TearDown() override {
    LibraryEnd();
    plat::SetVirtualClockAutoAdvance(0);
  }
  static void WriteConfig(uint32_t word, uint32_t value) {
    fs::create_directories("system");
    std::ofstream f(kConfigPath, std::ios::binary);
    for (int i = 0; i < kConfigWords; ++i) {
      const uint32_t v = i == static_cast<int>(word) ? value : kDefaultConfigWords[i];
      const unsigned char b[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                                  static_cast<unsigned char>(v >> 16),
                                  static_cast<unsigned char>(v >> 24)};
      f.write(reinterpret_cast<const char*>(b), 4);
    }
  }
  ScratchFolder scratch_;
};

TEST_F(WholeGame, FirstStartWritesTheConfigurationAndStartsTheLibrary) {
  ASSERT_EQ(InitGame(), InitResult::kReady);
  EXPECT_EQ(fs::file_size(kConfigPath), 64u);
  EXPECT_STREQ(g_error_text, "INITA___");
  EXPECT_EQ(g_stop_flag, 0);
  int w = 0, h = 0;
  GetScreenSize(&w, &h);
  EXPECT_EQ(w, 640);
  EXPECT_EQ(h, 480);
  EXPECT_EQ(GetScreenColorBits(), 32);
  EXPECT_EQ(g_game.fade_value, 255.0);
  EXPECT_EQ(g_game.high_score, 0u);
  EXPECT_EQ(g_game.record_words[0], 59999u);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(g_input.buttons[i], static_cast<uint32_t>(i + 1));
}

TEST_F(WholeGame, SixteenBitColourFromTheFile) {
  WriteConfig(5, 0);
  ASSERT_EQ(InitGame(), InitResult::kReady);
  EXPECT_EQ(g_config.color32, 0);
  // A window takes the desktop's depth; full screen gets the 16-bit mode.
  if (IsFullScreenMode()) { EXPECT_EQ(GetScreenColorBits(), 16); }
}

TEST_F(WholeGame, FramesTakeSixteenSeventeenSeventeenMilliseconds) {
  ASSERT_EQ(InitGame(), InitResult::kReady);
  uint32_t before = g_pacing.previous_time;
  const uint32_t lengths[] = {16, 17, 17, 16, 17, 17};
  for (uint32_t len : lengths) {
    EXPECT_TRUE(WaitFrame());
    EXPECT_EQ(g_pacing.previous_time - before, len);
    before = g_pacing.previous_time;
  }
  EXPECT_EQ(g_pacing.frame_number, 6);
  EXPECT_EQ(g_pacing.frame_rate, 1000.0 / 16.0);
}

// The player is told which file and word stop the game, and the way out;
// the command named sets the word.
TEST_F(WholeGame, InvalidWindowSizeRunsNoFrameAndNamesTheWayOut) {
  WriteConfig(9, 7);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(WinMain(), 1);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::string(g_error_text), testsupport::Sjis("windowサイズ設定ミス"));
  EXPECT_EQ(g_pacing.frame_number, 0);
  const std::string tool = RORUD_BINARY_DIR "/tools/quillona-config";
  const std::string file = (fs::current_path() / kConfigPath).string();
  const std::string way_out = "quillona: to start the game, run " + tool + " --file " + file +
                              " --window-size N with N from 0 (640x480) to 4 (1600x1200), or --defaults, or "
                              "delete " + file + " so that the game writes its defaults at its next start\n";
  EXPECT_EQ(err.find("quillona: system/config.hsd: window size code 7 is not 0 to 4\n" + way_out), 0u) << err;
  EXPECT_NE(err.find("quillona: stopped by the game error"), std::string::npos) << err;
  const std::string command = tool + " --file " + file + " --window-size 3 >/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  GameConfig c{};
  ASSERT_TRUE(LoadOrCreateConfig(kConfigPath, c));
  EXPECT_EQ(c.size_code, 3u);
}

TEST_F(WholeGame, FullScreenIgnoresTheWindowSize) {
  WriteConfig(2, 0);
  fs::remove(kConfigPath);
  {
    // Word 2 = 0 (full screen) with an invalid size code.
    std::ofstream f(kConfigPath, std::ios::binary);
    for (int i = 0; i < kConfigWords; ++i) {
      const uint32_t v = i == 2 ? 0u : (i == 9 ? 7u : kDefaultConfigWords[i]);
      f.write(reinterpret_cast<const char*>(&v), 4);
    }
  }
  ASSERT_EQ(InitGame(), InitResult::kReady);
  EXPECT_EQ(g_stop_flag, 0);
}

TEST_F(WholeGame, UncreatableConfigurationEndsAtOnce) {
  { std::ofstream blocker("system"); }
  EXPECT_EQ(InitGame(), InitResult::kNoConfig);
}

}  // namespace

namespace {

TEST_F(WholeGame, SixFontsOfTheGameSizes) {
  ASSERT_EQ(InitGame(), InitResult::kReady);
  const int sizes[kFontCount] = {13, 16, 20, 21, 24, 32};
  for (int i = 0; i < kFontCount; ++i) {
    EXPECT_EQ(IsFontHandleValid(g_fonts[i]), 1) << i;
    EXPECT_EQ(FontHandleGetSize(g_fonts[i]), sizes[i]) << i;
  }
}

TEST_F(WholeGame, SoundEffectsLoadIntoTheirSlotsAndRequestsPlayOnce) {
  if (!fs::exists("se/cs1.wav")) GTEST_SKIP() << "no data set";
  ASSERT_EQ(InitGame(), InitResult::kReady);
  LoadSoundEffects();
  for (int slot = 0; slot <= 30; ++slot) {
    if (slot == 25) {
      EXPECT_EQ(g_sounds[slot].handle, 0);
    } else {
      EXPECT_NE(g_sounds[slot].handle, -1) << slot;
      EXPECT_NE(g_sounds[slot].handle, 0) << slot;
    }
  }
  // Loading again replaces the handles.
  const int before = g_sounds[4].handle;
  LoadSoundEffects();
  EXPECT_NE(g_sounds[4].handle, -1);
  EXPECT_NE(IsSoundHandlePlaying(before), 1);  // the old sound is gone
  g_sounds[4].request = 1;
  g_sounds[4].request = 1;
  g_sounds[40].request = 1;  // an empty slot: nothing to play, still cleared
  ServeSoundRequests();
  EXPECT_EQ(IsSoundHandlePlaying(g_sounds[4].handle), 1);
  EXPECT_EQ(g_sounds[4].request, 0);
  EXPECT_EQ(g_sounds[40].request, 0);
}

TEST_F(WholeGame, MusicSlotsPlayOnceOrLoopAndStopTogether) {
  if (!fs::exists("se/cs1.wav")) GTEST_SKIP() << "no data set";
  ASSERT_EQ(InitGame(), InitResult::kReady);
  LoadBgm(g_bgm_music, "se/cs1.wav", -1);
  LoadBgm(g_bgm_boss, "se/cs2.wav", 0);
  EXPECT_EQ(g_bgm_music.loop_ms, -1);
  PlayBgm(g_bgm_music);
  EXPECT_EQ(IsSoundHandlePlaying(g_bgm_music.handle), 1);
  PlayBgm(g_bgm_boss);  // the boss music stops the stage music first
  EXPECT_EQ(IsSoundHandlePlaying(g_bgm_music.handle), 0);
  EXPECT_EQ(IsSoundHandlePlaying(g_bgm_boss.handle), 1);
  StopAllBgm();
  EXPECT_EQ(IsSoundHandlePlaying(g_bgm_boss.handle), 0);
}

}  // namespace

namespace {

constexpr int kVkEscape = 0x1B, kVkLeft = 0x25, kVkUp = 0x26;

TEST_F(WholeGame, KeysBecomeTheReplayWord) {
  ASSERT_EQ(InitGame(), InitResult::kReady);
  g_game.levels[kLevelScene] = 40;  // no scene: only input, objects and pacing
  for (int f = 0; f < 31; ++f) RunFrame();
  EXPECT_EQ(g_pacing.frame_rate, 60.0);
  plat::HeadlessSetKey(kVkUp, true);
  plat::HeadlessSetKey(kVkLeft, true);
  plat::HeadlessSetKey('Z', true);
  // A key message may reach the keyboard state only at a frame's pump.
  for (int f = 0; f < 3 && (g_input.held_actions & kActionShot) == 0; ++f) RunFrame();
  ASSERT_EQ(g_input.held_actions, kActionShot);
  plat::HeadlessSetKey('C', true);
  for (int f = 0; f < 3 && (g_input.pressed_actions & kActionBomb) == 0; ++f) RunFrame();
  const uint32_t i = g_game.replay_frame_index - 1;
  // Up and left, shot held, bomb pressed (and so held) at 60.0 frames a second.
  EXPECT_EQ(g_replay_words[i],
            (1u << 0) | (1u << 3) | (1u << 4) | (1u << 6) | (1u << 9) | (6000u << 12));
  EXPECT_EQ(g_input.held_actions, kActionShot | kActionBomb);
  plat::HeadlessSetKey(kVkUp, false);
  plat::HeadlessSetKey(kVkLeft, false);
  plat::HeadlessSetKey('Z', false);
  plat::HeadlessSetKey('C', false);
  RunFrame();
  EXPECT_EQ(g_input.held_actions, 0);
  EXPECT_EQ(g_input.released_actions, kActionShot | kActionBomb);
}

TEST_F(WholeGame, HeldPauseDuringPlaybackReturnsToTheTitle) {
  ASSERT_EQ(InitGame(), InitResult::kReady);
  g_game.levels[kLevelScene] = kSceneStage1 + 1;
  g_game.levels[kLevelPhase] = 4;
  g_game.replay_playback = 1;
  plat::HeadlessSetKey('V', true);
  for (int f = 0; f < 3 && g_game.levels[kLevelScene] != kSceneTitle; ++f) RunFrame();
  plat::HeadlessSetKey('V', false);
  EXPECT_EQ(g_game.levels[kLevelScene], kSceneTitle);
  // The title's first phase runs in the same frame and ends the playback.
  EXPECT_EQ(g_game.levels[kLevelPhase], 1u);
  EXPECT_EQ(g_game.replay_playback, 0);
  EXPECT_EQ(g_game.pause, 0);
}

TEST_F(WholeGame, EscapeHeldOverTwoTestsEndsTheGameCleanly) {
  ASSERT_EQ(InitGame(), InitResult::kReady);
  g_game.levels[kLevelScene] = 40;
  // A tap that spans only one test does nothing.
  for (int f = 0; f < 25; ++f) RunFrame();
  plat::HeadlessSetKey(kVkEscape, true);
  for (int f = 0; f < 10; ++f) RunFrame();
  plat::HeadlessSetKey(kVkEscape, false);
  for (int f = 0; f < 60; ++f) RunFrame();
  EXPECT_EQ(g_stop_flag, 0);
  plat::HeadlessSetKey(kVkEscape, true);
  int frames = 0;
  while (g_stop_flag == 0 && frames < 200) {
    RunFrame();
    ++frames;
  }
  plat::HeadlessSetKey(kVkEscape, false);
  EXPECT_EQ(std::string(g_error_text), testsupport::Sjis("エスケープキー"));
  EXPECT_LE(frames, 60);
  EXPECT_EQ(g_pacing.frame_number % 30, 0);
  EXPECT_EQ(ExitStatusForError(g_error_text), 0);
}

}  // namespace

namespace {

TEST_F(WholeGame, CommonResourcesGiveEveryCutItsHandleAndSize) {
  if (!fs::exists("grp/tx_en1.png")) GTEST_SKIP() << "no data set";
  ASSERT_EQ(InitGame(), InitResult::kReady);
  LoadCommonResources();
  EXPECT_EQ(g_stop_flag, 0);
  std::vector<int> first;
  for (const SheetDef& sheet : kCommonSheets) {
    const GraphicEntry& s = g_graphics[sheet.row];
    EXPECT_EQ(IsGraphicHandleValid(s.handle), 1) << sheet.file;
    EXPECT_EQ(s.width, sheet.width) << sheet.file;
    EXPECT_EQ(s.height, sheet.height) << sheet.file;
    const CutList& cuts = kCutGroups[sheet.cuts];
    for (int i = 0; i < cuts.count; ++i) {
      const CutDef& c = cuts.cuts[i];
      const GraphicEntry& e = g_graphics[c.row];
      EXPECT_EQ(IsGraphicHandleValid(e.handle), 1) << "row " << c.row;
      EXPECT_EQ(e.width, c.w) << "row " << c.row;
      EXPECT_EQ(e.height, c.h) << "row " << c.row;
      EXPECT_EQ(e.animated, c.frames_per_step > 0 ? 1 : 0) << "row " << c.row;
      first.push_back(e.handle);
    }
  }
  EXPECT_EQ(g_sounds[25].handle, 0);
  // Loading again replaces every graphic: the old handles are gone.
  LoadCommonResources();
  for (int h : first) EXPECT_EQ(IsGraphicHandleValid(h), 0);
}

TEST_F(WholeGame, MissingSheetRaisesItsTag) {
  if (!fs::exists("grp/tx_en1.png")) GTEST_SKIP() << "no data set";
  fs::remove("grp");
  fs::create_directories("grp");
  const fs::path data = fs::path(RORUD_BINARY_DIR) / "data" / "grp";
  for (const auto& entry : fs::directory_iterator(data)) {
    if (entry.path().filename() != "tx_ex1.png") fs::copy(entry.path(), "grp" / entry.path().filename());
  }
  ASSERT_EQ(InitGame(), InitResult::kReady);
  LoadCommonResources();
  EXPECT_EQ(g_stop_flag, 1);
  EXPECT_STREQ(g_error_text, "tx_ex1");
  EXPECT_EQ(IsGraphicHandleValid(g_graphics[380].handle), 0);
  EXPECT_EQ(IsGraphicHandleValid(g_graphics[499].handle), 1);  // loading went on
}

TEST_F(WholeGame, PlayerAndStageSheets) {
  if (!fs::exists("grp/sel_mya.png")) GTEST_SKIP() << "no data set";
  ASSERT_EQ(InitGame(), InitResult::kReady);
  LoadPlayerGraphics(1, 2);
  EXPECT_EQ(g_stop_flag, 0);
  EXPECT_EQ(g_graphics[12].width, 1024);
  EXPECT_EQ(g_graphics[13].width, 256);
  EXPECT_EQ(g_graphics[28].next_id, 29);
  EXPECT_EQ(g_graphics[32].next_id, 24);
  LoadStageGraphics(3);
  EXPECT_EQ(g_graphics[480].height, 960);
  EXPECT_EQ(g_graphics[491].width, 256);
  LoadStageGraphics(6);
  EXPECT_STREQ(g_error_text, "stg_load");
}

TEST_F(WholeGame, PlayFieldDrawsAndFreesWithoutErrors) {
  if (!fs::exists("grp/tx_en1.png")) GTEST_SKIP() << "no data set";
  ASSERT_EQ(InitGame(), InitResult::kReady);
  LoadCommonResources();
  GameObject& e = g_enemies[0];
  e.free = 0;
  e.in_use = 1;
  e.kind = kKindZakoA;
  e.x = 100.4;
  e.y = 50.5;
  SetObjectGraphic(e, 1, 69, 0, 255.0);
  g_enemies[1].free = 0;  // removed in an update: freed by the draw
  DrawPlayField();
  EXPECT_EQ(g_stop_flag, 0);
  EXPECT_EQ(g_enemies[1].free, 1);
  // A record drawn by its own function with no such function stops the game.
  g_effects[0].free = 0;
  g_effects[0].in_use = 1;
  g_effects[0].visible = 1;
  g_effects[0].kind = 99;
  g_effects[0].draw_layer = 2;
  g_effects[0].generic_draw = 0;
  DrawPlayField();
  EXPECT_EQ(std::string(g_error_text), testsupport::Sjis("個別描画設定なし"));
}

}  // namespace
