// The whole game on the headless back end: start-up, frames, pacing, Escape
// and the end of the run.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "game/frame/config.h"
#include "game/frame/frame_loop.h"
#include "game/frame/game_error.h"
#include "game/frame/game_state.h"
#include "game/winmain.h"
#include "platform/kernel.h"
#include "platform/window.h"
#include "rorud/rorud.h"
#include "tests/game/game_fixture.h"
#include "tests/support/sjis.h"

namespace {

namespace fs = std::filesystem;
using gametest::ScratchFolder;

// A scratch folder that sees the generated data set.
class WholeGame : public ::testing::Test {
 protected:
  void SetUp() override {
    gametest::ResetGameGlobals();
    const fs::path data = fs::path(RORUD_BINARY_DIR) / "data";
    if (!fs::exists(data / "manifest.txt")) GTEST_SKIP() << "no data set";
    for (const char* sub : {"grp", "se", "bgm"}) fs::create_directory_symlink(data / sub, sub);
    plat::EnableVirtualClock(true);
    plat::SetVirtualClockAutoAdvance(1000);
  }
  void TearDown() override { LibraryEnd(); }
  ScratchFolder scratch_;
};

TEST_F(WholeGame, FirstStartWritesTheConfigurationAndPacesFrames) {
  ASSERT_EQ(InitGame(), InitResult::kReady);
  EXPECT_EQ(fs::file_size(kConfigPath), 64u);
  EXPECT_STREQ(g_error_text, "INITA___");
  uint32_t before = static_cast<uint32_t>(GetMilliClock(0));
  const uint32_t lengths[] = {16, 17, 17};
  for (uint32_t len : lengths) {
    WaitFrame();
    const uint32_t now = g_pacing.previous_time;
    EXPECT_EQ(now - before, len);
    before = now;
  }
}

TEST_F(WholeGame, InvalidWindowSizeRunsNoFrame) {
  fs::create_directories("system");
  {
    std::ofstream f(kConfigPath, std::ios::binary);
    for (uint32_t w : kDefaultConfigWords) {
      const uint32_t v = (&w - kDefaultConfigWords) == 9 ? 7u : w;
      f.write(reinterpret_cast<const char*>(&v), 4);
    }
  }
  EXPECT_EQ(WinMain(), 1);
  EXPECT_EQ(std::string(g_error_text), testsupport::Sjis("windowサイズ設定ミス"));
  EXPECT_EQ(g_pacing.frame_number, 0);
}

}  // namespace
