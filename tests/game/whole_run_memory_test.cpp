// One whole run as a player makes it, every frame drawn: the title, stage 1
// started from the menu, the pause menu back to the title, the exit item.
// After the library's end nothing of the library's tracked memory is left.
#include <gtest/gtest.h>

#include <filesystem>

#include "game/frame/frame_loop.h"
#include "game/frame/game_error.h"
#include "game/frame/game_state.h"
#include "game/stages/stage_script.h"
#include "game/winmain.h"
#include "lib/core/memory.h"
#include "platform/kernel/kernel.h"
#include "platform/window/window.h"
#include "rorud/rorud.h"
#include "tests/game/game_fixture.h"
#include "tests/support/sjis.h"

namespace {

namespace fs = std::filesystem;

bool AtTitleMenu() { return g_game.levels[kLevelScene] == kSceneTitle && g_game.levels[kLevelPhase] == 3; }

// Frames until the condition holds (or a limit).
template <typename Done>
void FramesUntil(Done done, int limit) {
  for (int f = 0; f < limit && g_stop_flag == 0 && !done(); ++f) RunFrame();
}

// Holds a key for two frames: it reaches the pad at a frame's pump.
void Press(int key) {
  plat::HeadlessSetKey(key, true);
  RunFrame();
  RunFrame();
  plat::HeadlessSetKey(key, false);
  RunFrame();
}

TEST(WholeGameRun, TitleStageTitleExitLeavesNoTrackedMemory) {
  const fs::path data = fs::path(RORUD_BINARY_DIR) / "data";
  if (!fs::exists(data / "grp" / "stm0x.png")) GTEST_SKIP() << "no data set";
  gametest::ScratchFolder scratch;
  for (const char* sub : {"grp", "se", "bgm"}) fs::create_directory_symlink(data / sub, sub);
  gametest::ResetGameGlobals();
  plat::SetWindowLockFolder(scratch.path().string());
  plat::EnableVirtualClock(true);
  plat::SetVirtualClockMicros(5'000'000);
  plat::SetVirtualClockAutoAdvance(1);
  const int before = GetAllocationCount();

  ASSERT_EQ(InitGame(), InitResult::kReady);
  g_game.levels[kLevelScene] = kSceneBoot;
  FramesUntil(AtTitleMenu, 600);
  ASSERT_TRUE(AtTitleMenu());
  Press('Z');  // the start item
  FramesUntil([] { return g_game.levels[kLevelScene] == kSceneStage1 && g_game.levels[kLevelPhase] >= kPhaseFadeIn; }, 300);
  ASSERT_EQ(g_game.levels[kLevelScene], kSceneStage1);
  FramesUntil([] { return false; }, 240);  // the first waves, shots and sounds
  Press('V');                              // pause
  ASSERT_EQ(g_game.pause, 1);
  Press('X');  // back to the title
  FramesUntil(AtTitleMenu, 300);
  ASSERT_TRUE(AtTitleMenu());
  g_game.title_cursor = 4;  // the exit item
  Press('Z');
  EXPECT_EQ(std::string(g_error_text), testsupport::Sjis("EXIT 終了"));
  WaitMillisPumping(150);
  LibraryEnd();
  plat::SetVirtualClockAutoAdvance(0);
  EXPECT_EQ(GetAllocationCount(), before) << GetAllocationTotal() << " bytes";
}

}  // namespace
