// The SDL back end's start without a reachable display: the refusal names
// the cause, and no system library writes to the terminal on the way.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/window/window_internal.h"

namespace {

// Without a runtime folder no Wayland compositor can be reached, so only X
// is tried: the display named is what fails, in the back end's words alone.
TEST(SdlDisplayStart, UnreachableXWithoutARuntimeFolderSaysOnlyWhy) {
  ::unsetenv("XDG_RUNTIME_DIR");
  ::unsetenv("WAYLAND_DISPLAY");
  ::unsetenv("SDL_VIDEODRIVER");
  ::setenv("DISPLAY", ":997", 1);
  ::testing::internal::CaptureStderr();
  const bool started = plat::detail::sdl::Init();
  const std::string err = ::testing::internal::GetCapturedStderr();
  ASSERT_FALSE(started);
  EXPECT_EQ(err, "");
  EXPECT_EQ(plat::detail::sdl::InitProblem().rfind("no display could be opened (DISPLAY=:997)", 0), 0u)
      << plat::detail::sdl::InitProblem();
}

}  // namespace
