// Key presses of a real X keyboard reach the pad queries and a text line
// through the SDL back end: a child process runs the library in a window
// under a virtual X server and xdotool presses keys into it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "lib/system/input.h"
#include "lib/system/text_input.h"
#include "lib/system/window_system.h"
#include "platform/window/backend.h"
#include "platform/kernel/kernel.h"
#include "rorud/rorud.h"
#include "tests/support/log_capture.h"
#include "tests/support/sjis.h"

namespace {

std::string SelfPath() {
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return "";
  path[n] = '\0';
  return path;
}

// Runs xdotool on the child's display; true when it succeeded.
bool Xdotool(const std::string& arguments) {
  std::string command = "xdotool " + arguments + " > /dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

// Pumps until the condition holds; false once a minute has passed, a net for
// a key that never comes, which no load on the machine comes near.
bool PumpUntil(const std::function<bool()>& done) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (;;) {
    ProcessWindowMessages();
    if (done()) return true;
    if (std::chrono::steady_clock::now() > until) return false;
    plat::Sleep(1);
  }
}

// Pumps until the pad state has the bits; the state seen.
int WaitForPadState(int input_type, int bits) {
  int state = 0;
  PumpUntil([&] { return ((state = GetPadState(input_type)) & bits) == bits; });
  return state;
}

TEST(InputXvfb, XKeyPressesReachThePadState) {
  if (std::system("command -v xvfb-run > /dev/null 2>&1") != 0) {
    GTEST_SKIP() << "xvfb-run is not installed: the real-keyboard test needs a virtual X server";
  }
  if (std::system("command -v xdotool > /dev/null 2>&1") != 0) {
    GTEST_SKIP() << "xdotool is not installed (scripts/install-deps installs it): no keys can be pressed";
  }
  std::string command = "RORUD_PLATFORM=sdl SDL_VIDEODRIVER=x11 xvfb-run -a -s '-screen 0 1280x1024x24' '" +
                        SelfPath() +
                        "' --gtest_also_run_disabled_tests --gtest_filter=InputXvfbChild.DISABLED_Run"
                        " > input-xvfb.txt 2>&1";
  int status = std::system(command.c_str());
  std::ifstream in("input-xvfb.txt");
  std::stringstream text;
  text << in.rdbuf();
  if (status != 0 && text.str().find("Xvfb failed to start") != std::string::npos) {
    GTEST_SKIP() << "no X server could be started: " << text.str();
  }
  EXPECT_EQ(status, 0) << text.str();
}

TEST(InputXvfbChild, DISABLED_Run) {
  ASSERT_FALSE(plat::IsHeadless());
  testsupport::LogCapture capture;
  plat::EnableVirtualClock(false);
  ResetWindowSettings();
  plat::SetWindowLockFolder(capture.Folder().string());
  SetWindowTitle("RoRudInputXvfb");
  ChangeWindowMode(1);
  SetRunInactiveFlag(1);
  ASSERT_EQ(LibraryStart(), 0) << testsupport::Utf8(capture.File());
  for (int i = 0; i < 50; ++i) {
    ProcessWindowMessages();
    plat::Sleep(2);
  }
  // Without a window manager the keyboard goes where the focus is put.
  ASSERT_TRUE(Xdotool("search --sync --name RoRudInputXvfb windowfocus --sync"));
  for (int i = 0; i < 50; ++i) {
    ProcessWindowMessages();
    plat::Sleep(2);
  }
  EXPECT_EQ(GetPadState(0x1001), 0);

  ASSERT_TRUE(Xdotool("keydown z"));
  EXPECT_EQ(WaitForPadState(0x1001, 0x10), 0x10);
  ASSERT_TRUE(Xdotool("keydown Left"));
  EXPECT_EQ(WaitForPadState(0x1001, 0x12), 0x12);
  ASSERT_TRUE(Xdotool("keyup z keyup Left"));
  EXPECT_TRUE(PumpUntil([] { return GetPadState(0x1001) == 0; })) << GetPadState(0x1001);

  // The game's map: V on button 4, through the same keyboard.
  MapPadToKeys(0x1001, 0x80, 0x2F, -1, -1, -1);
  ASSERT_TRUE(Xdotool("keydown v"));
  EXPECT_EQ(WaitForPadState(0x1001, 0x80), 0x80);
  ASSERT_TRUE(Xdotool("keyup v keydown Escape"));
  EXPECT_TRUE(PumpUntil([] { return IsKeyPressed(1) == 1; }));
  Xdotool("keyup Escape");

  // The keypad with NumLock off (the X server's start) moves and deletes in
  // a text line as the arrows, Home, End and Delete do. The keys above are
  // in the character buffer still; the line starts after them.
  for (int i = 0; i < 200; ++i) {
    ProcessWindowMessages();
    plat::Sleep(1);
  }
  for (uint8_t c[2]; PopInputChar(c, 1) != 0;) {
  }
  const int line = MakeKeyStringInput(20, 1, 0, 0);
  ASSERT_NE(line, -1);
  ASSERT_EQ(SetActiveKeyStringInput(line), 0);
  ASSERT_TRUE(Xdotool("type abcd"));
  ASSERT_TRUE(Xdotool("key KP_Left KP_Left KP_Delete KP_Home z KP_End y"));
  std::string text;
  PumpUntil([&] {
    const KeyStringInputRecord* r = FindKeyStringInput(line);
    if (r != nullptr) text.assign(r->text, r->length);
    return r == nullptr || text == "zabdy";
  });
  ASSERT_NE(FindKeyStringInput(line), nullptr);
  EXPECT_EQ(text, "zabdy");
  EXPECT_EQ(LibraryEnd(), 0);
}

}  // namespace
