// A dialogue frame on the headless library with the generated data set: the
// left portrait and speech window with three lines of Japanese text, checked
// in the captured pixels against frames without the dialogue and without
// the text.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "game/bosses/talk.h"
#include "game/frame/frame_loop.h"
#include "game/frame/game_error.h"
#include "game/frame/game_state.h"
#include "game/frame/input.h"
#include "game/objects/dispatch.h"
#include "game/objects/effects.h"
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

using Pixels = std::vector<uint32_t>;

class TalkDraw : public ::testing::Test {
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
    started_ = true;
  }
  void TearDown() override {
    if (started_) LibraryEnd();
    plat::SetVirtualClockAutoAdvance(0);
  }
  void Frame() {
    RunScene();
    UpdateObjects();
    DrawFrame();
    WaitFrame();
  }
  Pixels Shot(const char* name) {
    Pixels px;
    int w = 0, h = 0;
    EXPECT_TRUE(plat::HeadlessGetLastFrame(GetMainWindow(), &px, &w, &h));
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 480);
    const fs::path dir = fs::path(RORUD_BINARY_DIR) / "screenshots";
    fs::create_directories(dir);
    EXPECT_TRUE(plat::SaveLastFramePng(GetMainWindow(), (dir / name).string().c_str()));
    return px;
  }
  gametest::ScratchFolder scratch_;
  bool started_ = false;
};

int Channel(uint32_t p, int shift) { return static_cast<int>((p >> shift) & 0xFF); }

// Pixels of the rectangle that differ between two frames by more than a step.
int Differing(const Pixels& a, const Pixels& b, int x1, int y1, int x2, int y2) {
  int n = 0;
  for (int y = y1; y < y2; ++y) {
    for (int x = x1; x < x2; ++x) {
      const size_t i = static_cast<size_t>(y) * 640 + x;
      int d = 0;
      for (int s : {0, 8, 16}) d += std::abs(Channel(a[i], s) - Channel(b[i], s));
      n += d > 24;
    }
  }
  return n;
}

TEST_F(TalkDraw, DialogueFrameShowsPortraitWindowAndThreeLines) {
  g_game.levels[kLevelScene] = 99;  // no scene runs: the test drives the dialogue
  ResetSession(g_game);
  LoadCommonResources();
  LoadPlayerGraphics(1, 1);
  LoadStageGraphics(1);
  g_game.fade_value = 255.0;
  g_game.background_brightness = 255.0;
  g_game.opponent_portrait_set = 1;
  for (uint32_t side : {kTalkLeft, kTalkRight}) {
    if (GameObject* e = TakeFreeEffect()) CreatePortrait(*e, side);
  }
  for (uint32_t side : {kTalkLeft, kTalkRight}) {
    if (GameObject* e = TakeFreeEffect()) CreateTalkWindow(*e, side);
  }
  Frame();
  const Pixels quiet = Shot("talk_none.png");

  const std::string lines[3] = {testsupport::Sjis("春なのに、前が全然見えないよ！"),
                                testsupport::Sjis("霞の原因を調べに来たの。"),
                                testsupport::Sjis("速達って、そういう意味？")};
  TalkState& t = g_game.talk;
  t.talk_mode = 1;
  t.left_speaks = 1;
  t.left_present = 1;
  t.left_highlighted = 1;
  t.left_expression = 1;
  for (int i = 0; i < 3; ++i) t.left_lines[i] = lines[i].c_str();
  for (int i = 0; i < 60; ++i) Frame();  // window, text and portrait at full
  ASSERT_EQ(g_stop_flag, 0) << g_error_text;
  const Pixels talk = Shot("talk_dialogue.png");
  for (int i = 0; i < 3; ++i) t.left_lines[i] = "";
  Frame();
  const Pixels blank = Shot("talk_blank.png");
  t.left_lines[0] = lines[0].c_str();
  t.left_lines[2] = lines[2].c_str();
  Frame();
  const Pixels gap = Shot("talk_gap.png");

  // The portrait above the window (it slid in to about x 99, y 261, 256 x 512).
  EXPECT_GT(Differing(quiet, talk, 0, 40, 220, 310), 220 * 270 / 4);
  EXPECT_EQ(Differing(quiet, talk, 250, 40, 420, 310), 0);  // the right side stays empty
  // The window (400 x 128 around 210, 385) over the field.
  EXPECT_GT(Differing(quiet, talk, 20, 330, 400, 440), 380 * 110 / 2);

  bool text_drawn =
      DrawTextWithFont(0, 0, "A", GetColorCode(255, 255, 255), g_fonts[kFont16], 0, 0) == 0;
  if (!text_drawn) GTEST_SKIP() << "text is not drawn to the screen in this build";
  // Text rows start at 340, 370 and 400, 21 pixels high, from x 26.
  for (int row : {340, 370, 400}) {
    EXPECT_GT(Differing(talk, blank, 26, row, 400, row + 24), 200) << row;
  }
  EXPECT_EQ(Differing(talk, blank, 0, 0, 640, 336), 0);
  EXPECT_EQ(Differing(talk, blank, 0, 426, 640, 480), 0);
  EXPECT_EQ(Differing(talk, blank, 0, 330, 24, 430), 0);
  // An empty line draws nothing on its row; the others are unchanged.
  EXPECT_EQ(Differing(gap, blank, 0, 366, 640, 396), 0);
  EXPECT_EQ(Differing(gap, talk, 0, 336, 640, 366), 0);
  EXPECT_EQ(Differing(gap, talk, 0, 396, 640, 430), 0);
  // The left side's text colour (224, 192, 160): red above blue where it is drawn.
  int warm = 0;
  for (int y = 340; y < 362; ++y) {
    for (int x = 26; x < 400; ++x) {
      const uint32_t p = talk[static_cast<size_t>(y) * 640 + x];
      warm += Channel(p, 16) > 150 && Channel(p, 16) > Channel(p, 0) + 30;
    }
  }
  EXPECT_GT(warm, 50);
}

}  // namespace
