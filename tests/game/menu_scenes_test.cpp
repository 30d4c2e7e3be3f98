// Boot, title and high-score scenes on the headless library with the
// generated data set, driven frame by frame with scripted input.
#include <gtest/gtest.h>

#include <filesystem>

#include "game/frame/frame_loop.h"
#include "game/frame/game_error.h"
#include "game/frame/game_state.h"
#include "game/frame/input.h"
#include "game/frame/menu_scenes.h"
#include "game/objects/backgrounds.h"
#include "game/objects/dispatch.h"
#include "game/objects/effects.h"
#include "game/objects/player.h"
#include "game/objects/game_object.h"
#include "game/objects/panel.h"
#include "game/objects/resources.h"
#include "game/winmain.h"
#include "lib/system/window_system.h"
#include "platform/kernel/kernel.h"
#include "platform/window/window.h"
#include "rorud/rorud.h"
#include "tests/game/game_fixture.h"
#include "tests/support/sjis.h"

namespace {

namespace fs = std::filesystem;

class MenuScenes : public ::testing::Test {
 protected:
  void SetUp() override {
    gametest::ResetGameGlobals();
    const fs::path data = fs::path(RORUD_BINARY_DIR) / "data";
    if (!fs::exists(data / "grp" / "stm1x.png")) GTEST_SKIP() << "no data set";
    for (const char* sub : {"grp", "se", "bgm"}) fs::create_directory_symlink(data / sub, sub);
    plat::SetWindowLockFolder(scratch_.path().string());
    plat::EnableVirtualClock(true);
    plat::SetVirtualClockMicros(5'000'000);
    plat::SetVirtualClockAutoAdvance(1);
    ASSERT_EQ(InitGame(), InitResult::kReady);
    g_game.levels[kLevelScene] = kSceneBoot;
  }
  void TearDown() override {
    LibraryEnd();
    plat::SetVirtualClockAutoAdvance(0);
  }
  // One frame as the frame loop runs it, with this frame's pressed input.
  void Frame(uint8_t pressed_actions = 0, uint8_t pressed_directions = 0) {
    g_input.pressed_actions = pressed_actions;
    g_input.pressed_directions = pressed_directions;
    g_input.held_actions = pressed_actions;
    g_input.held_directions = pressed_directions;
    RunScene();
    UpdateObjects();
    DrawFrame();
    ServeSoundRequests();
    WaitFrame();
    ++frames_;
  }
  // Runs frames until the scene is `scene` at phase `phase`.
  int RunUntil(uint32_t scene, uint32_t phase, int limit = 1000) {
    int n = 0;
    while (!(g_game.levels[kLevelScene] == scene && g_game.levels[kLevelPhase] == phase) &&
           n < limit) {
      Frame();
      ++n;
    }
    return n;
  }
  void ToTitleMenu() {
    RunUntil(kSceneTitle, 3);
    ASSERT_EQ(g_game.levels[kLevelScene], kSceneTitle);
  }
  gametest::ScratchFolder scratch_;
  int frames_ = 0;
};

TEST_F(MenuScenes, LogoFadesFor128FramesThenThreeLoadingFrames) {
  EXPECT_EQ(RunUntil(kSceneBoot, 3), 3);
  EXPECT_EQ(g_game.overlay_mode, 10u);
  EXPECT_EQ(g_menu_objects[0].menu_draw_kind, 2u);
  int fade = 0;
  while (g_game.levels[kLevelPhase] == 3 && fade < 1000) {
    Frame();
    ++fade;
  }
  EXPECT_EQ(fade, 128);
  EXPECT_EQ(g_menu_objects[0].blend_value, 255.0);
  int loading = 0;
  while (g_game.levels[kLevelScene] == kSceneBoot && loading < 10) {
    Frame();
    ++loading;
  }
  EXPECT_EQ(loading, 3);
  EXPECT_EQ(g_game.levels[kLevelScene], kSceneTitle);
  EXPECT_EQ(g_game.levels[kLevelPhase], 0u);
  EXPECT_NE(g_graphics[499].handle, -1);  // the common sheets are in
  EXPECT_EQ(g_stop_flag, 0);
}

TEST_F(MenuScenes, DecideSkipsTheLogo) {
  RunUntil(kSceneBoot, 3);
  Frame(kActionShot);
  EXPECT_EQ(g_game.levels[kLevelPhase], 4u);
  Frame();
  Frame();
  Frame();
  EXPECT_EQ(g_game.levels[kLevelScene], kSceneTitle);
}

TEST_F(MenuScenes, TitleMenuPlacesItsPicturesAndFadesIn) {
  ToTitleMenu();
  EXPECT_EQ(g_game.title_cursor, 1u);
  EXPECT_EQ(g_game.overlay_mode, 11u);
  EXPECT_EQ(g_game.fade_value, 0.0);
  EXPECT_EQ(g_menu_objects[11].graphic_id, 554u);
  Frame();
  EXPECT_EQ(g_game.fade_value, 5.5);
  EXPECT_EQ(g_menu_objects[1].graphic_id, 544u);  // the first item selected
  EXPECT_EQ(g_menu_objects[2].graphic_id, 535u);
  EXPECT_EQ(g_menu_objects[2].blend_value, 255.0);
  EXPECT_EQ(g_menu_objects[10].x, 210.0);
  EXPECT_EQ(g_menu_objects[10].y, 290.0);
  for (int i = 0; i < 60; ++i) Frame();
  EXPECT_EQ(g_game.fade_value, 255.0);
  for (int row : {524, 534, 537, 544, 547, 554}) {
    int w = 0, h = 0;
    GetGraphicSize(g_graphics[row].handle, &w, &h);
    EXPECT_EQ(w, row == 524 ? 640 : row == 554 ? 304 : 160) << row;
  }
}

TEST_F(MenuScenes, CursorMovesWithoutWrapping) {
  ToTitleMenu();
  Frame(0, kDirUp);
  EXPECT_EQ(g_game.title_cursor, 1u);
  EXPECT_EQ(g_sounds[4].request, 0);  // no sound at the top
  for (int i = 0; i < 5; ++i) Frame(0, kDirDown);
  EXPECT_EQ(g_game.title_cursor, 4u);
  EXPECT_EQ(g_menu_objects[10].y, 386.0);
  EXPECT_EQ(g_menu_objects[4].graphic_id, 547u);
  EXPECT_EQ(g_menu_objects[1].graphic_id, 534u);
  // Up and down in one frame: up first, then down, a sound for each.
  g_input.pressed_directions = kDirUp | kDirDown;
  g_input.pressed_actions = 0;
  TitleScene(g_game);
  EXPECT_EQ(g_game.title_cursor, 4u);
  EXPECT_EQ(g_sounds[4].request, 1);
}

TEST_F(MenuScenes, DownDownDecideStartsTheReplay) {
  ToTitleMenu();
  Frame(0, kDirDown);
  Frame(0, kDirDown);
  g_input.pressed_actions = kActionShot;
  g_input.pressed_directions = 0;
  RunScene();
  EXPECT_EQ(g_sounds[8].request, 1);
  EXPECT_EQ(g_game.replay_playback, 1);
  EXPECT_EQ(g_game.next_scene, kSceneStage1);
  EXPECT_EQ(g_game.player_setup_row, 1u);
  EXPECT_EQ(g_player_setups[1].ship_kind, 1u);
  EXPECT_EQ(g_game.levels[kLevelPhase], 4u);
  Frame();
  EXPECT_EQ(g_game.levels[kLevelScene], kSceneStage1);
  EXPECT_EQ(g_game.levels[kLevelPhase], 0u);
}

TEST_F(MenuScenes, StartItemSetsUpTheFirstStage) {
  ToTitleMenu();
  g_game.score = 77;
  g_game.carried_score = 88;
  Frame(kActionShot);
  EXPECT_EQ(g_game.replay_playback, 0);
  EXPECT_EQ(g_game.score, 0u);
  EXPECT_EQ(g_game.carried_score, 0u);
  EXPECT_EQ(g_player_setups[1].partner_mode, 1u);
  EXPECT_EQ(g_game.next_scene, kSceneStage1);
}

TEST_F(MenuScenes, ExitItemEndsTheGameWithItsSound) {
  ToTitleMenu();
  for (int i = 0; i < 3; ++i) Frame(0, kDirDown);
  g_input.pressed_actions = kActionShot;
  g_input.pressed_directions = 0;
  RunScene();
  EXPECT_EQ(g_stop_flag, 1);
  EXPECT_EQ(std::string(g_error_text), testsupport::Sjis("EXIT 終了"));
  EXPECT_EQ(g_sounds[5].request, 1);
  EXPECT_EQ(ExitStatusForError(g_error_text), 0);
}

TEST_F(MenuScenes, HighScoreScreenAndBack) {
  ToTitleMenu();
  Frame(0, kDirDown);
  Frame(kActionShot);
  EXPECT_EQ(g_sounds[5].request, 0);  // served at the end of that frame
  Frame();
  EXPECT_EQ(g_game.levels[kLevelScene], kSceneHighScore);
  EXPECT_EQ(RunUntil(kSceneHighScore, 3), 3);
  EXPECT_EQ(g_game.overlay_mode, 12u);
  for (int i = 0; i < 10; ++i) Frame();
  Frame(kActionFocus);  // cancel leaves as decide does
  EXPECT_EQ(g_game.levels[kLevelPhase], 4u);
  Frame();
  EXPECT_EQ(g_game.levels[kLevelScene], kSceneTitle);
  EXPECT_EQ(g_stop_flag, 0);
}

// ---- Screens -------------------------------------------------------------------

// Saves the last presented frame beside the build for a reviewer to look at
// and returns its pixels (X8R8G8B8).
std::vector<uint32_t> Screenshot(const char* name) {
  std::vector<uint32_t> pixels;
  int w = 0, h = 0;
  EXPECT_TRUE(plat::HeadlessGetLastFrame(GetMainWindow(), &pixels, &w, &h));
  EXPECT_EQ(w, 640);
  EXPECT_EQ(h, 480);
  const fs::path dir = fs::path(RORUD_BINARY_DIR) / "screenshots";
  fs::create_directories(dir);
  EXPECT_TRUE(plat::SaveLastFramePng(GetMainWindow(), (dir / name).string().c_str()));
  return pixels;
}

// Mean brightness (0 to 765) of a rectangle of a 640-wide frame.
double MeanLevel(const std::vector<uint32_t>& px, int x1, int y1, int x2, int y2) {
  double sum = 0.0;
  int n = 0;
  for (int y = y1; y < y2; ++y) {
    for (int x = x1; x < x2; ++x) {
      const uint32_t p = px[static_cast<size_t>(y) * 640 + x];
      sum += (p & 0xFF) + ((p >> 8) & 0xFF) + ((p >> 16) & 0xFF);
      ++n;
    }
  }
  return n != 0 ? sum / n : 0.0;
}

TEST_F(MenuScenes, TitleAtFrame200) {
  while (frames_ < 200) Frame();
  ASSERT_EQ(g_game.levels[kLevelScene], kSceneTitle);
  ASSERT_EQ(g_game.fade_value, 255.0);
  const std::vector<uint32_t> px = Screenshot("title_frame200.png");
  ASSERT_EQ(px.size(), 640u * 480u);
  EXPECT_GT(MeanLevel(px, 0, 0, 640, 480), 10.0);      // the background
  EXPECT_GT(MeanLevel(px, 210, 290, 242, 322), 10.0);  // the cursor
  // The selected first item differs from the plain second.
  EXPECT_NE(MeanLevel(px, 250, 290, 410, 322), MeanLevel(px, 250, 322, 410, 354));
}

TEST_F(MenuScenes, HighScoreScreenShowsItsTexts) {
  ToTitleMenu();
  g_game.high_score = 1234567;
  Frame(0, kDirDown);
  Frame(kActionShot);
  for (int i = 0; i < 60; ++i) Frame();
  ASSERT_EQ(g_game.levels[kLevelScene], kSceneHighScore);
  const std::vector<uint32_t> px = Screenshot("high_score.png");
  EXPECT_EQ(g_stop_flag, 0);
  EXPECT_GT(MeanLevel(px, 30, 30, 160, 52), 5.0);   // "ハイスコア！"
  EXPECT_GT(MeanLevel(px, 50, 100, 400, 122), 5.0); // the score line
  EXPECT_GT(MeanLevel(px, 50, 320, 270, 342), 5.0); // the way back
  EXPECT_EQ(MeanLevel(px, 50, 200, 400, 300), 0.0); // nothing in between
  // Each text starts at its place: nothing left of or above its corner.
  EXPECT_EQ(MeanLevel(px, 0, 26, 30, 56), 0.0);
  EXPECT_EQ(MeanLevel(px, 0, 0, 640, 30), 0.0);
  EXPECT_EQ(MeanLevel(px, 0, 96, 50, 126), 0.0);
  EXPECT_EQ(MeanLevel(px, 0, 316, 50, 346), 0.0);
  EXPECT_EQ(MeanLevel(px, 50, 60, 400, 100), 0.0);
  EXPECT_EQ(MeanLevel(px, 50, 300, 400, 320), 0.0);
}

// A play field without a stage script: backgrounds, the player, the focus
// indicator and the panel, as a stage sets them up.
TEST_F(MenuScenes, PlayFieldWithPanelAndPauseScreen) {
  while (g_game.levels[kLevelScene] != kSceneTitle) Frame(kActionShot);
  g_game.levels[kLevelScene] = 99;  // no scene runs
  ResetSession(g_game);
  g_player_setups[1] = {1, 1};
  g_game.player_setup_row = 1;
  LoadPlayerGraphics(1, 1);
  LoadStageGraphics(1);
  for (uint32_t n = 1; n <= 2; ++n) CreateBackgroundBase(g_backgrounds[n - 1], n);
  for (uint32_t n = 1; n <= 2; ++n) CreateBackgroundSub(g_backgrounds[n + 1], n);
  InitPlayer();
  if (GameObject* e = TakeFreeEffect()) CreateFocusIndicator(*e);
  ResetPlayerStatus();
  g_game.hud_on = 1;
  g_game.fade_value = 255.0;
  g_game.background_brightness = 255.0;
  g_game.scroll_speed = 1.0;
  StartMusicCaption(g_game, "Placeholder music");
  for (int i = 0; i < 90; ++i) Frame();
  ASSERT_EQ(g_player.state, 1u);
  ASSERT_EQ(g_stop_flag, 0) << g_error_text;
  const std::vector<uint32_t> play = Screenshot("play_field.png");
  EXPECT_GT(MeanLevel(play, 420, 0, 640, 480), 10.0);  // the panel
  EXPECT_GT(MeanLevel(play, 0, 0, 420, 480), 10.0);    // the background

  g_game.pause = 1;
  Frame();
  const std::vector<uint32_t> paused = Screenshot("pause.png");
  // The whole screen darkens, the panel too (alpha 192 of near black).
  EXPECT_LT(MeanLevel(paused, 0, 0, 420, 190), MeanLevel(play, 0, 0, 420, 190) * 0.35 + 1.0);
  EXPECT_LT(MeanLevel(paused, 440, 380, 640, 480), MeanLevel(play, 440, 380, 640, 480) * 0.35 + 1.0);
  EXPECT_GT(MeanLevel(paused, 155, 200, 250, 232), MeanLevel(paused, 0, 0, 100, 100));  // "休憩中"

}

// ---- Through the real frame loop and keyboard ----------------------------------

// Holds a key until the game sees it, then lets it go until the game sees
// that (the pad is read at most once a millisecond).
void Tap(int key) {
  const bool dir = key == plat::kVkDown;
  auto seen = [dir] {
    return dir ? (g_input.held_directions & kDirDown) != 0 : (g_input.held_actions & kActionShot) != 0;
  };
  plat::HeadlessSetKey(key, true);
  for (int f = 0; f < 3 && !seen(); ++f) RunFrame();
  plat::HeadlessSetKey(key, false);
  for (int f = 0; f < 3 && seen(); ++f) RunFrame();
}

TEST_F(MenuScenes, KeysDownDownDecideSelectTheReplayItem) {
  while (!(g_game.levels[kLevelScene] == kSceneTitle && g_game.levels[kLevelPhase] == 3) &&
         g_pacing.frame_number < 400) {
    RunFrame();
  }
  ASSERT_EQ(g_game.levels[kLevelPhase], 3u);
  Tap(plat::kVkDown);
  Tap(plat::kVkDown);
  EXPECT_EQ(g_game.title_cursor, 3u);
  plat::HeadlessSetKey('Z', true);
  for (int f = 0; f < 3 && g_game.levels[kLevelPhase] != 4; ++f) RunFrame();
  plat::HeadlessSetKey('Z', false);
  EXPECT_EQ(g_game.levels[kLevelPhase], 4u);
  EXPECT_EQ(g_game.replay_playback, 1);
  EXPECT_EQ(g_game.next_scene, kSceneStage1);
}

TEST_F(MenuScenes, ExitItemThroughTheKeysEndsWinMainCleanly) {
  while (!(g_game.levels[kLevelScene] == kSceneTitle && g_game.levels[kLevelPhase] == 3) &&
         g_pacing.frame_number < 400) {
    RunFrame();
  }
  for (int i = 0; i < 3; ++i) Tap(plat::kVkDown);
  plat::HeadlessSetKey('Z', true);
  for (int f = 0; f < 3 && g_stop_flag == 0; ++f) RunFrame();
  plat::HeadlessSetKey('Z', false);
  EXPECT_EQ(g_stop_flag, 1);
  EXPECT_EQ(std::string(g_error_text), testsupport::Sjis("EXIT 終了"));
  EXPECT_EQ(ExitStatusForError(g_error_text), 0);
}

}  // namespace
