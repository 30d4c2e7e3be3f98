// The window layer on the headless back end: classes and windows, queues and
// sent messages, rectangles, activation, paint, injected input, presenting,
// and where the class locks live.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <png.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/kernel/kernel.h"
#include "platform/window/window.h"
#include "tests/support/as_user.h"

namespace {

struct Seen {
  uint32_t message;
  uintptr_t wparam;
  intptr_t lparam;
};
std::vector<Seen> g_seen;

intptr_t RecordingProc(plat::Window* w, uint32_t m, uintptr_t wp, intptr_t lp) {
  g_seen.push_back({m, wp, lp});
  return plat::DefWindowProc(w, m, wp, lp);
}

class WindowLayer : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::HeadlessReset(plat::VirtualDesktop{});
    folder_ = std::filesystem::temp_directory_path() /
              ("rorud-window-test-" + std::to_string(std::random_device{}()) +
               "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(folder_);
    plat::SetWindowLockFolder(folder_.string());
    g_seen.clear();
    ASSERT_TRUE(plat::RegisterWindowClass("TestClass", RecordingProc));
  }
  void TearDown() override {
    plat::HeadlessReset(plat::VirtualDesktop{});
    std::filesystem::remove_all(folder_);
  }
  plat::Window* Make(uint32_t style = plat::kWsPopup | plat::kWsCaption) {
    return plat::CreateWindow("TestClass", "title", style, 0, 100, 50, 646, 506);
  }
  std::vector<uint32_t> Messages() {
    std::vector<uint32_t> out;
    for (const auto& s : g_seen) out.push_back(s.message);
    return out;
  }
  std::filesystem::path folder_;
};

TEST_F(WindowLayer, ClassesWindowsAndLookup) {
  EXPECT_FALSE(plat::RegisterWindowClass("TestClass", RecordingProc));
  EXPECT_FALSE(plat::RegisterWindowClass("", RecordingProc));
  EXPECT_EQ(plat::CreateWindow("NoSuchClass", "", 0, 0, 0, 0, 10, 10), nullptr);
  EXPECT_EQ(plat::FindWindow("TestClass"), nullptr);
  plat::Window* w = Make();
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(Messages(), std::vector<uint32_t>{plat::kWmCreate});
  EXPECT_EQ(plat::FindWindow("TestClass"), w);
  EXPECT_EQ(plat::GetWindowText(w), "title");
  EXPECT_TRUE(plat::SetWindowText(w, "other"));
  EXPECT_EQ(plat::GetWindowText(w), "other");
  EXPECT_FALSE(plat::UnregisterWindowClass("TestClass"));  // a window still lives
  EXPECT_TRUE(plat::DestroyWindow(w));
  EXPECT_EQ(g_seen.back().message, plat::kWmDestroy);
  EXPECT_FALSE(plat::IsWindow(w));
  EXPECT_FALSE(plat::DestroyWindow(w));
  EXPECT_EQ(plat::FindWindow("TestClass"), nullptr);
  EXPECT_TRUE(plat::UnregisterWindowClass("TestClass"));
}

TEST_F(WindowLayer, FrameMetricsGiveTheClientArea) {
  plat::Rect r = {0, 0, 640, 480};
  uint32_t style = plat::kWsPopup | plat::kWsCaption | plat::kWsSysMenu | plat::kWsMinimizeBox;
  plat::AdjustWindowRectEx(&r, style, plat::kWsExClientEdge | plat::kWsExWindowEdge);
  // border 3 each side, caption 20, client edge 2.
  EXPECT_EQ(r.left, -5);
  EXPECT_EQ(r.top, -25);
  EXPECT_EQ(r.right, 645);
  EXPECT_EQ(r.bottom, 485);
  plat::Window* w =
      plat::CreateWindow("TestClass", "", style, plat::kWsExClientEdge, 10, 20, r.right - r.left,
                         r.bottom - r.top);
  plat::Rect client;
  ASSERT_TRUE(plat::GetClientRect(w, &client));
  EXPECT_EQ(client.right, 640);
  EXPECT_EQ(client.bottom, 480);
  int x = 0, y = 0;
  plat::ClientToScreen(w, &x, &y);
  EXPECT_EQ(x, 15);
  EXPECT_EQ(y, 45);
  plat::Rect popup = {0, 0, 320, 240};
  plat::AdjustWindowRectEx(&popup, plat::kWsPopup, plat::kWsExTopmost);
  EXPECT_EQ(popup.left, 0);
  EXPECT_EQ(popup.bottom, 240);
}

TEST_F(WindowLayer, ShowActivatesSizesAndMovesInOrder) {
  plat::Window* w = Make();
  g_seen.clear();
  EXPECT_FALSE(plat::ShowWindow(w, plat::kSwShowNormal));
  EXPECT_EQ(Messages(), (std::vector<uint32_t>{plat::kWmActivateApp, plat::kWmActivate,
                                               plat::kWmSize, plat::kWmMove}));
  EXPECT_EQ(g_seen[0].wparam, 1u);
  EXPECT_EQ(g_seen[2].lparam, 640 | (480 << 16));
  EXPECT_EQ(plat::GetForegroundWindow(), w);
  EXPECT_TRUE(plat::GetWindowStyle(w) & plat::kWsVisible);
  g_seen.clear();
  plat::ShowWindow(w, plat::kSwMinimize);
  EXPECT_TRUE(plat::IsIconic(w));
  EXPECT_EQ(Messages(), (std::vector<uint32_t>{plat::kWmActivateApp, plat::kWmActivate, plat::kWmSize}));
  EXPECT_EQ(g_seen[2].wparam, 1u);
  EXPECT_EQ(plat::GetForegroundWindow(), nullptr);
}

TEST_F(WindowLayer, MovingAndSizingSendTheirMessages) {
  plat::Window* w = Make();
  g_seen.clear();
  ASSERT_TRUE(plat::SetWindowPos(w, plat::ZOrder::kTopmost, 7, 9, 646, 506, 0));
  EXPECT_EQ(Messages(), std::vector<uint32_t>{plat::kWmMove});
  EXPECT_EQ(g_seen[0].lparam, (7 + 3) | ((9 + 23) << 16));
  EXPECT_TRUE(plat::IsTopmost(w));
  g_seen.clear();
  plat::MoveWindow(w, 7, 9, 106, 86, true);
  EXPECT_EQ(Messages(), std::vector<uint32_t>{plat::kWmSize});
  EXPECT_EQ(g_seen[0].lparam, 100 | (60 << 16));
  plat::Rect r;
  plat::GetWindowRect(w, &r);
  EXPECT_EQ(r.right, 113);
  EXPECT_EQ(r.bottom, 95);
}

TEST_F(WindowLayer, QueuesArePerThreadAndFilterable) {
  plat::Window* w = Make();
  plat::Message m;
  EXPECT_FALSE(plat::PeekMessage(&m, plat::kAnyWindow, true));
  std::thread poster([&] {
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(plat::PostMessage(w, plat::kWmUser + i, i, -i));
    // The poster's own queue stays empty: the message goes to the window's thread.
    plat::Message none;
    EXPECT_FALSE(plat::PeekMessage(&none, plat::kAnyWindow, false));
  });
  poster.join();
  plat::PostQuitMessage(7);
  ASSERT_TRUE(plat::PeekMessage(&m, plat::kThreadMessages, true));
  EXPECT_EQ(m.message, plat::kWmQuit);
  EXPECT_EQ(m.wparam, 7u);
  EXPECT_EQ(m.window, nullptr);
  ASSERT_TRUE(plat::PeekMessage(&m, w, false));
  EXPECT_EQ(m.message, plat::kWmUser);
  ASSERT_TRUE(plat::PeekMessage(&m, plat::kAnyWindow, true));
  EXPECT_EQ(m.message, plat::kWmUser);
  g_seen.clear();
  plat::DispatchMessage(&m);
  ASSERT_EQ(g_seen.size(), 1u);
  EXPECT_EQ(g_seen[0].message, plat::kWmUser);
  // Destroying the window drops its queued messages.
  plat::DestroyWindow(w);
  EXPECT_FALSE(plat::PeekMessage(&m, plat::kAnyWindow, false));
  EXPECT_FALSE(plat::PostMessage(w, plat::kWmUser, 0, 0));
}

std::vector<uintptr_t> g_timer_calls;
void TimerCallback(plat::Window*, uint32_t message, uintptr_t id, uint32_t) {
  EXPECT_EQ(message, plat::kWmTimer);
  g_timer_calls.push_back(id);
}

TEST_F(WindowLayer, TimersFireAfterTheirPeriodOneAtATime) {
  plat::EnableVirtualClock(true);
  g_timer_calls.clear();
  plat::Window* w = Make();
  plat::Message m;
  while (plat::PeekMessage(&m, plat::kAnyWindow, true)) {
  }
  EXPECT_EQ(plat::SetTimer(w, 0, 10, TimerCallback), 0u);
  EXPECT_EQ(plat::SetTimer(nullptr, 5, 10, TimerCallback), 0u);
  ASSERT_EQ(plat::SetTimer(w, 7, 32, TimerCallback), 7u);
  ASSERT_EQ(plat::SetTimer(w, 8, 50, nullptr), 8u);
  EXPECT_FALSE(plat::PeekMessage(&m, plat::kAnyWindow, true));
  plat::Sleep(33);
  // A queued message comes before a due timer; a long wait gives one tick.
  plat::PostMessage(w, plat::kWmUser, 1, 2);
  ASSERT_TRUE(plat::PeekMessage(&m, plat::kAnyWindow, true));
  EXPECT_EQ(m.message, plat::kWmUser);
  ASSERT_TRUE(plat::PeekMessage(&m, plat::kAnyWindow, false));  // looking does not restart it
  ASSERT_TRUE(plat::PeekMessage(&m, w, true));
  EXPECT_EQ(m.message, plat::kWmTimer);
  EXPECT_EQ(m.wparam, 7u);
  EXPECT_FALSE(plat::PeekMessage(&m, plat::kThreadMessages, false));
  plat::DispatchMessage(&m);
  EXPECT_EQ(g_timer_calls, std::vector<uintptr_t>{7});
  EXPECT_FALSE(plat::PeekMessage(&m, plat::kAnyWindow, true));
  // Without a callback the window procedure gets the tick.
  plat::Sleep(20);
  ASSERT_TRUE(plat::PeekMessage(&m, plat::kAnyWindow, true));
  EXPECT_EQ(m.wparam, 8u);
  g_seen.clear();
  plat::DispatchMessage(&m);
  EXPECT_EQ(Messages(), std::vector<uint32_t>{plat::kWmTimer});
  // Killed timers and the timers of a destroyed window are gone.
  EXPECT_TRUE(plat::KillTimer(w, 7));
  EXPECT_FALSE(plat::KillTimer(w, 7));
  plat::Sleep(200);
  ASSERT_TRUE(plat::PeekMessage(&m, plat::kAnyWindow, true));
  EXPECT_EQ(m.wparam, 8u);
  EXPECT_FALSE(plat::PeekMessage(&m, plat::kAnyWindow, true));
  plat::DestroyWindow(w);
  plat::Sleep(200);
  while (plat::PeekMessage(&m, plat::kAnyWindow, true)) EXPECT_NE(m.message, plat::kWmTimer);
  plat::EnableVirtualClock(false);
}

TEST_F(WindowLayer, CloseGoesThroughTheDefaultProcedure) {
  plat::Window* w = Make();
  plat::ShowWindow(w, plat::kSwShow);
  while (plat::PeekMessage(nullptr, plat::kAnyWindow, true)) {
  }
  g_seen.clear();
  plat::HeadlessClose();
  plat::Message m;
  ASSERT_TRUE(plat::PeekMessage(&m, plat::kAnyWindow, true));
  plat::DispatchMessage(&m);
  EXPECT_EQ(Messages(),
            (std::vector<uint32_t>{plat::kWmSysCommand, plat::kWmClose, plat::kWmDestroy}));
  EXPECT_FALSE(plat::IsWindow(w));
}

TEST_F(WindowLayer, PaintCoversTheUnionOfInvalidRectangles) {
  plat::Window* w = Make();
  plat::Rect a = {10, 10, 20, 20}, b = {15, 5, 30, 12};
  plat::InvalidateRect(w, &a);
  plat::InvalidateRect(w, &b);
  plat::Message m;
  ASSERT_TRUE(plat::PeekMessage(&m, plat::kAnyWindow, true));
  EXPECT_EQ(m.message, plat::kWmPaint);
  EXPECT_FALSE(plat::PeekMessage(&m, plat::kAnyWindow, false));  // one paint message
  plat::Rect paint;
  ASSERT_TRUE(plat::BeginPaint(w, &paint));
  EXPECT_EQ(paint.left, 10);
  EXPECT_EQ(paint.top, 5);
  EXPECT_EQ(paint.right, 30);
  EXPECT_EQ(paint.bottom, 20);
  plat::EndPaint(w);
  ASSERT_TRUE(plat::BeginPaint(w, &paint));
  EXPECT_EQ(paint.right, 0);
}

TEST_F(WindowLayer, InjectedKeysCharactersMouseAndFocus) {
  plat::Window* w = Make();
  plat::ShowWindow(w, plat::kSwShow);
  while (plat::PeekMessage(nullptr, plat::kAnyWindow, true)) {
  }
  plat::HeadlessSetKey(plat::kVkLShift, true);
  plat::HeadlessSetKey('Z', true);
  uint8_t keys[256];
  plat::GetKeyboardState(keys);
  EXPECT_EQ(keys['Z'] & 0x80, 0x80);
  EXPECT_EQ(keys[plat::kVkShift] & 0x80, 0x80);
  EXPECT_EQ(keys[plat::kVkLShift] & 0x80, 0x80);
  plat::HeadlessSetKey(plat::kVkLShift, false);
  plat::GetKeyboardState(keys);
  EXPECT_EQ(keys[plat::kVkShift], 0);
  plat::HeadlessTypeText("\x82\xa0");
  plat::HeadlessMoveMouse(100 + 3 + 10, 50 + 23 + 20);
  plat::HeadlessClick(1, true);
  plat::HeadlessWheel(-1, false);
  plat::HeadlessSetFocus(false);
  std::vector<plat::Message> got;
  plat::Message m;
  while (plat::PeekMessage(&m, plat::kAnyWindow, true)) got.push_back(m);
  ASSERT_EQ(got.size(), 11u);
  EXPECT_EQ(got[0].message, plat::kWmKeyDown);
  EXPECT_EQ(got[1].wparam, static_cast<uintptr_t>('Z'));
  EXPECT_EQ(got[3].message, plat::kWmChar);
  EXPECT_EQ(got[3].wparam, 0x82u);
  EXPECT_EQ(got[4].wparam, 0xa0u);
  EXPECT_EQ(got[5].message, plat::kWmSetCursor);
  EXPECT_EQ(got[6].message, plat::kWmMouseMove);
  EXPECT_EQ(got[6].lparam, 10 | (20 << 16));
  EXPECT_EQ(got[7].message, plat::kWmLButtonDown);
  EXPECT_EQ(got[8].message, plat::kWmMouseWheel);
  EXPECT_EQ(static_cast<int16_t>(got[8].wparam >> 16), -120);
  EXPECT_EQ(got[9].message, plat::kWmActivateApp);
  EXPECT_EQ(got[9].wparam, 0u);
  EXPECT_EQ(plat::GetForegroundWindow(), nullptr);
  int x, y;
  plat::GetCursorPos(&x, &y);
  EXPECT_EQ(x, 113);
  EXPECT_EQ(y, 93);
}

TEST_F(WindowLayer, DesktopModesCursorClipboardAndScreenSaver) {
  plat::VirtualDesktop d;
  d.width = 1024;
  d.height = 768;
  d.bits = 24;
  plat::HeadlessReset(d);
  int w, h;
  plat::GetDesktopSize(&w, &h);
  EXPECT_EQ(w, 1024);
  EXPECT_EQ(h, 768);
  EXPECT_EQ(plat::GetDesktopColorBits(), 24);
  auto modes = plat::GetDisplayModes();
  bool has_640 = false, has_1920 = false;
  for (const auto& m : modes) {
    has_640 |= m.width == 640 && m.height == 480 && m.bits == 32;
    has_1920 |= m.width == 1920;
  }
  EXPECT_TRUE(has_640);
  EXPECT_FALSE(has_1920);
  plat::DisplayMode mode = {640, 480, 16, 60};
  EXPECT_TRUE(plat::ChangeDisplayMode(&mode));
  EXPECT_EQ(plat::GetDesktopColorBits(), 16);
  plat::DisplayMode missing = {1920, 1080, 32, 60};
  EXPECT_FALSE(plat::ChangeDisplayMode(&missing));
  EXPECT_TRUE(plat::ChangeDisplayMode(nullptr));
  EXPECT_EQ(plat::GetDesktopColorBits(), 24);

  EXPECT_EQ(plat::ShowCursor(false), -1);
  EXPECT_EQ(plat::ShowCursor(false), -2);
  EXPECT_EQ(plat::ShowCursor(true), -1);

  std::string text;
  EXPECT_FALSE(plat::GetClipboardText(&text));
  EXPECT_TRUE(plat::SetClipboardText("\x93\xfa\x96\x7b"));
  ASSERT_TRUE(plat::GetClipboardText(&text));
  EXPECT_EQ(text, "\x93\xfa\x96\x7b");

  EXPECT_TRUE(plat::IsScreenSaverActive());
  plat::SetScreenSaverActive(false);
  EXPECT_FALSE(plat::IsScreenSaverActive());
}

// Reads a PNG back with libpng as the independent reference.
std::vector<uint8_t> ReadPngRgb(const std::string& path, int* width, int* height) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> out(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, out.data(), 0, nullptr)) return {};
  *width = static_cast<int>(image.width);
  *height = static_cast<int>(image.height);
  return out;
}

TEST_F(WindowLayer, PresentKeepsAScaledFrameAndSavesIt) {
  plat::Window* w = plat::CreateWindow("TestClass", "", plat::kWsPopup, 0, 0, 0, 6, 4);
  // A 3x2 source: each pixel its own colour.
  uint32_t src[2][4] = {{0x00FF0000, 0x0000FF00, 0x000000FF, 0xDEADBEEF},
                        {0x00112233, 0x00445566, 0x00778899, 0xDEADBEEF}};
  plat::Rect s = {0, 0, 3, 2};
  ASSERT_EQ(plat::PresentToWindow(w, src, 3, 2, 16, &s, nullptr), 0);
  std::vector<uint32_t> frame;
  int fw, fh;
  ASSERT_TRUE(plat::HeadlessGetLastFrame(w, &frame, &fw, &fh));
  ASSERT_EQ(fw, 6);
  ASSERT_EQ(fh, 4);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 6; ++x) EXPECT_EQ(frame[y * 6 + x], src[y / 2][x / 2]) << x << "," << y;
  }
  EXPECT_EQ(plat::HeadlessPresentCount(w), 1);
  std::string path = (folder_ / "frame.png").string();
  ASSERT_TRUE(plat::SaveLastFramePng(w, path.c_str()));
  int pw = 0, ph = 0;
  std::vector<uint8_t> rgb = ReadPngRgb(path, &pw, &ph);
  ASSERT_EQ(pw, 6);
  ASSERT_EQ(ph, 4);
  EXPECT_EQ(rgb[0], 0xFF);
  EXPECT_EQ(rgb[(3 * 6 + 5) * 3 + 0], 0x77);
  EXPECT_EQ(rgb[(3 * 6 + 5) * 3 + 2], 0x99);

  // A source rectangle outside the pixels, a dead window and null pixels are refused.
  plat::Rect outside = {2, 0, 4, 2};
  EXPECT_EQ(plat::PresentToWindow(w, src, 3, 2, 16, &outside, nullptr), -1);
  EXPECT_EQ(plat::PresentToWindow(w, nullptr, 3, 2, 16, nullptr, nullptr), -1);
  plat::Rect d = {1, 1, 2, 2};
  ASSERT_EQ(plat::PresentToWindow(w, src, 3, 2, 16, &s, &d), 0);
  plat::Rect ls, ld;
  ASSERT_TRUE(plat::HeadlessGetLastPresentRects(w, &ls, &ld));
  EXPECT_EQ(ld.left, 1);
  EXPECT_EQ(ls.right, 3);
  // Unscaled, partly left of the client area: only the columns inside are kept.
  plat::Rect s2 = {1, 0, 3, 2}, d2 = {-1, 1, 1, 3};
  ASSERT_EQ(plat::PresentToWindow(w, src, 3, 2, 16, &s2, &d2), 0);
  ASSERT_TRUE(plat::HeadlessGetLastFrame(w, &frame, &fw, &fh));
  EXPECT_EQ(frame[1 * 6 + 0], src[0][2]);
  EXPECT_EQ(frame[2 * 6 + 0], src[1][2]);
  EXPECT_EQ(frame[1 * 6 + 1], src[0][0]);  // beyond the destination: the earlier frame
  plat::DestroyWindow(w);
  EXPECT_EQ(plat::PresentToWindow(w, src, 3, 2, 16, &s, nullptr), -1);
  EXPECT_FALSE(plat::SaveLastFramePng(w, path.c_str()));
}

}  // namespace

namespace {

// Sets an environment variable for one test and restores it after.
class EnvGuard {
 public:
  EnvGuard(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value != nullptr) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~EnvGuard() {
    if (had_) {
      ::setenv(name_, old_.c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};

intptr_t PlainProc(plat::Window* w, uint32_t m, uintptr_t wp, intptr_t lp) {
  return plat::DefWindowProc(w, m, wp, lp);
}

// Without a runtime folder the class locks go to a folder of the user's own
// in the temporary folder, not to that folder itself, which every user
// shares. A folder there that another user could enter, or a link in its
// place, is refused: no window is made and the problem names the folder.
TEST(WindowLockFolder, FallbackIsAFolderOfTheUsersOwnAndNothingElse) {
  plat::HeadlessReset(plat::VirtualDesktop{});
  const std::filesystem::path temp =
      std::filesystem::temp_directory_path() / ("rorud-lock-test-" + std::to_string(std::random_device{}()));
  std::filesystem::create_directories(temp);
  plat::SetWindowLockFolder("");
  {
    EnvGuard runtime("XDG_RUNTIME_DIR", nullptr);
    EnvGuard tmpdir("TMPDIR", temp.c_str());
    const std::string folder = temp.string() + "/rorud-" + std::to_string(::getuid());
    ASSERT_TRUE(plat::RegisterWindowClass("LockClass", PlainProc));
    const mode_t saved_mask = ::umask(0777);  // a mask that would leave the folder shut to its owner
    EXPECT_EQ(plat::WindowLockPath("AB"), folder + "/rorud-window-4142.lock");
    ::umask(saved_mask);
    struct stat st {};
    ASSERT_EQ(::lstat(folder.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(st.st_uid, ::getuid());
    EXPECT_EQ(plat::WindowLockProblem(), "");
    plat::Window* w = plat::CreateWindow("LockClass", "t", plat::kWsPopup, 0, 0, 0, 64, 48);
    EXPECT_NE(w, nullptr);
    plat::DestroyWindow(w);

    // Any one bit for the group or for others is refused.
    for (const mode_t mode : {0777, 0703, 0701, 0770, 0710}) {
      ::chmod(folder.c_str(), mode);
      char text[8];
      std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode));
      EXPECT_EQ(plat::WindowLockProblem(), "the lock folder " + folder + " is open to group or others (mode " + text +
                                               ", not 0700). Remove it, or set XDG_RUNTIME_DIR to a folder of your "
                                               "own closed to others");
      EXPECT_EQ(plat::CreateWindow("LockClass", "t", plat::kWsPopup, 0, 0, 0, 64, 48), nullptr);
    }

    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(temp / "elsewhere");
    ::chmod((temp / "elsewhere").c_str(), 0700);
    std::filesystem::create_directory_symlink(temp / "elsewhere", folder);
    EXPECT_EQ(plat::WindowLockProblem(), "the lock folder " + folder + " is a symbolic link, not a folder. Remove "
                                         "it, or set XDG_RUNTIME_DIR to a folder of your own closed to others");
    EXPECT_EQ(plat::CreateWindow("LockClass", "t", plat::kWsPopup, 0, 0, 0, 64, 48), nullptr);
    EXPECT_TRUE(std::filesystem::is_empty(temp / "elsewhere"));

    // A folder named with a slash at its end gives no doubled slash.
    ::setenv("TMPDIR", (temp.string() + "/").c_str(), 1);
    EXPECT_EQ(plat::WindowLockProblem(), "the lock folder " + folder + " is a symbolic link, not a folder. Remove "
                                         "it, or set XDG_RUNTIME_DIR to a folder of your own closed to others");
    std::filesystem::create_directories(temp / "run");
    ::chmod((temp / "run").c_str(), 0700);
    ::setenv("XDG_RUNTIME_DIR", (temp.string() + "/run/").c_str(), 1);
    EXPECT_EQ(plat::WindowLockPath("AB"), temp.string() + "/run/rorud-window-4142.lock");
    EXPECT_EQ(plat::WindowLockProblem(), "");
    plat::UnregisterWindowClass("LockClass");
  }
  std::filesystem::remove_all(temp);
}

// A runtime folder that cannot hold the lock (kept from another user across
// a change of user, missing, not a folder, open to others) gives way to the
// fallback folder, and the window made then holds its lock there, where a
// second copy looks. Never a window without a lock: when neither folder is
// fit, or the lock file cannot be opened, no window is made, and the
// problem names what is wrong and the way out.
TEST(WindowLockFolder, AnUnfitRuntimeFolderGivesWayToTheFallbackNeverToNoLock) {
  namespace fs = std::filesystem;
  plat::HeadlessReset(plat::VirtualDesktop{});
  const fs::path temp = fs::temp_directory_path() / ("rorud-lock-test-" + std::to_string(std::random_device{}()));
  fs::create_directories(temp / "open");
  fs::create_directories(temp / "others");
  ::chmod((temp / "others").c_str(), 0700);
  // Root owns every folder it makes and may write anywhere: another owner is
  // given, and a path through a file fails for root as well.
  const std::string others = ::getuid() == 0 && ::chown((temp / "others").c_str(), 65534, 65534) == 0
                                 ? (temp / "others").string()
                                 : "/";
  std::ofstream(temp / "file") << "x";
  plat::SetWindowLockFolder("");
  ASSERT_TRUE(plat::RegisterWindowClass("LockClass", PlainProc));
  {
    EnvGuard tmpdir("TMPDIR", temp.c_str());
    const std::string fallback = temp.string() + "/rorud-" + std::to_string(::getuid());
    const std::string lock = fallback + "/rorud-window-4142.lock";
    for (const std::string& runtime : {others, (temp / "missing").string(), (temp / "file" / "sub").string(),
                                      (temp / "file").string(), (temp / "open").string(), std::string("run")}) {
      EnvGuard runtime_dir("XDG_RUNTIME_DIR", runtime.c_str());
      EXPECT_EQ(plat::WindowLockPath("AB"), lock) << runtime;
      EXPECT_EQ(plat::WindowLockProblem(), "") << runtime;
      plat::Window* w = plat::CreateWindow("LockClass", "t", plat::kWsPopup, 0, 0, 0, 64, 48);
      ASSERT_NE(w, nullptr) << runtime;
      const int fd = ::open(lock.c_str(), O_RDONLY | O_CLOEXEC);
      EXPECT_NE(::flock(fd, LOCK_SH | LOCK_NB), 0) << runtime << ": the window holds no lock";
      ::close(fd);
      plat::DestroyWindow(w);
    }

    EnvGuard runtime_dir("XDG_RUNTIME_DIR", (temp / "missing").c_str());
    ::chmod(fallback.c_str(), 0777);
    EXPECT_EQ(plat::WindowLockProblem(), "XDG_RUNTIME_DIR names " + temp.string() +
                                             "/missing, which does not exist, and the lock folder " + fallback +
                                             " is open to group or others (mode 0777, not 0700). Remove it, or set "
                                             "XDG_RUNTIME_DIR to a folder of your own closed to others");
    EXPECT_EQ(plat::CreateWindow("LockClass", "t", plat::kWsPopup, 0, 0, 0, 64, 48), nullptr);
    // A temporary folder that does not exist is no folder to remove.
    ::setenv("TMPDIR", (temp / "none").c_str(), 1);
    EXPECT_EQ(plat::WindowLockProblem(), "XDG_RUNTIME_DIR names " + temp.string() +
                                             "/missing, which does not exist, and the lock folder " + temp.string() +
                                             "/none/rorud-" + std::to_string(::getuid()) + " cannot be made in " +
                                             temp.string() + "/none (No such file or directory). Set TMPDIR to a "
                                             "folder you can write, or XDG_RUNTIME_DIR to a folder of your own "
                                             "closed to others");

    // A fit folder whose lock file cannot be opened.
    fs::create_directories(temp / "run" / "rorud-window-4142.lock");
    ::chmod((temp / "run").c_str(), 0700);
    ::setenv("XDG_RUNTIME_DIR", (temp / "run").c_str(), 1);
    ASSERT_TRUE(plat::RegisterWindowClass("AB", PlainProc));
    EXPECT_EQ(plat::CreateWindow("AB", "t", plat::kWsPopup, 0, 0, 0, 64, 48), nullptr);
    EXPECT_EQ(plat::WindowLockProblem(), "the lock file " + temp.string() +
                                             "/run/rorud-window-4142.lock cannot be opened (Is a directory). Remove "
                                             "it, or set XDG_RUNTIME_DIR to a folder of your own closed to others");
  }
  plat::HeadlessReset(plat::VirtualDesktop{});
  fs::remove_all(temp);
}

// The class lock passes from a destroyed window to the next of its class as
// it is held, never let go in between: here its file can no longer be opened
// where it was (moved aside, a folder in its place), so a lock let go could
// not be taken again.
TEST(WindowLockFolder, TheNextWindowOfTheClassKeepsTheLockUnbroken) {
  namespace fs = std::filesystem;
  plat::HeadlessReset(plat::VirtualDesktop{});
  const fs::path temp = fs::temp_directory_path() / ("rorud-lock-test-" + std::to_string(std::random_device{}()));
  fs::create_directories(temp);
  plat::SetWindowLockFolder(temp.string());
  ASSERT_TRUE(plat::RegisterWindowClass("LockClass", PlainProc));
  plat::Window* first = plat::CreateWindow("LockClass", "t", plat::kWsPopup, 0, 0, 0, 64, 48);
  plat::Window* next = plat::CreateWindow("LockClass", "t", plat::kWsPopup, 0, 0, 0, 64, 48);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(next, nullptr);
  const std::string lock = plat::WindowLockPath("LockClass");
  fs::rename(lock, lock + ".held");
  fs::create_directory(lock);
  plat::DestroyWindow(first);
  const int fd = ::open((lock + ".held").c_str(), O_RDONLY | O_CLOEXEC);
  EXPECT_NE(::flock(fd, LOCK_SH | LOCK_NB), 0) << "the window left holds no lock";
  ::close(fd);
  plat::DestroyWindow(next);
  plat::HeadlessReset(plat::VirtualDesktop{});
  fs::remove_all(temp);
}

// Whether another open of the lock file finds it locked (a lock is held on
// an open file, so this process meets its own as another would).
bool LockHeld(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  const bool held = fd >= 0 && ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  if (fd >= 0) ::close(fd);
  return held;
}

// A folder whose locks do not work (a network mount without a lock
// service) holds no other copy's lock: the lock goes to the fallback folder,
// and only when that fails too is the start refused, naming the files, the
// system's reason and the way out. "Another copy" is a lock another holds.
// The fixed folder that every copy locks in as well is passed over when its
// locks do not work, as no copy can hold one there.
TEST(WindowLockFolder, LocksThatDoNotWorkAreNoOtherCopy) {
  namespace fs = std::filesystem;
  plat::HeadlessReset(plat::VirtualDesktop{});
  const fs::path temp = fs::temp_directory_path() / ("rorud-lock-test-" + std::to_string(std::random_device{}()));
  fs::create_directories(temp / "run");
  ::chmod((temp / "run").c_str(), 0700);
  plat::SetWindowLockFolder("");
  ASSERT_TRUE(plat::RegisterWindowClass("AB", PlainProc));
  {
    EnvGuard tmpdir("TMPDIR", temp.c_str());
    EnvGuard runtime("XDG_RUNTIME_DIR", (temp / "run").c_str());
    const std::string fallback = temp.string() + "/rorud-" + std::to_string(::getuid());
    const std::string fixed = std::string(std::getenv("RORUD_TEST_FIXED_LOCK_BASE")) + "/rorud-" +
                              std::to_string(::getuid());
    const std::string file = "/rorud-window-4142.lock";
    const auto make = [] { return plat::CreateWindow("AB", "t", plat::kWsPopup, 0, 0, 0, 64, 48); };

    plat::SetClassLockRefusal((temp / "run").string(), ENOLCK);
    plat::SetClassLockRefusal(fixed, ENOLCK);
    plat::Window* w = make();
    ASSERT_NE(w, nullptr) << plat::WindowLockProblem();
    EXPECT_TRUE(LockHeld(fallback + file));
    EXPECT_EQ(plat::WindowLockProblem(), "");
    plat::DestroyWindow(w);

    plat::SetClassLockRefusal(fallback, ENOLCK);
    for (int round = 0; round < 2; ++round) {  // the lock files are there from the first
      EXPECT_EQ(make(), nullptr);
      EXPECT_EQ(plat::FindWindow("AB"), nullptr);
      EXPECT_EQ(plat::WindowLockProblem(),
                "XDG_RUNTIME_DIR names " + temp.string() + "/run, where the lock file cannot be locked (No locks "
                "available), and the lock file " + fallback + file + " cannot be locked (No locks available). Set "
                "TMPDIR to a folder on a local disk");
    }
    ::unsetenv("XDG_RUNTIME_DIR");
    plat::SetClassLockRefusal(fallback, EOPNOTSUPP);
    EXPECT_EQ(make(), nullptr);
    EXPECT_EQ(plat::WindowLockProblem(), "the lock file " + fallback + file +
                                             " cannot be locked (Operation not supported). Set TMPDIR to a folder "
                                             "on a local disk");
    // Without TMPDIR the fallback is the fixed folder, which TMPDIR naming
    // its base would lead back to.
    ::unsetenv("TMPDIR");
    EXPECT_EQ(make(), nullptr);
    EXPECT_EQ(plat::WindowLockProblem(), "the lock file " + fixed + file + " cannot be locked (No locks available). "
                                             "Set TMPDIR to a folder on a local disk (not " +
                                             std::getenv("RORUD_TEST_FIXED_LOCK_BASE") + " or /)");
    ::setenv("TMPDIR", temp.c_str(), 1);

    // Held by another: that is another copy, and no problem of the folder.
    ::setenv("XDG_RUNTIME_DIR", (temp / "run").c_str(), 1);
    plat::SetClassLockRefusal(fallback, 0);
    const int other = ::open((fallback + file).c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(make(), nullptr);
    EXPECT_EQ(plat::WindowLockProblem(), "");
    EXPECT_EQ(plat::FindWindow("AB"), plat::ForeignWindow());
    EXPECT_EQ(plat::WindowLockPath("AB"), fallback + file);
    ::close(other);
  }
  plat::HeadlessReset(plat::VirtualDesktop{});
  fs::remove_all(temp);
}

// The fixed folder that every copy locks in, whatever its environment: met
// as the fallback by another path, it is locked once, not met as another
// copy's; when it is the user's own but not fit, the way out is no setting
// of the environment, as a runtime folder does not spare it, even where
// TMPDIR names its base another way, and removing it, as the line says,
// lets the game play.
TEST(WindowLockFolder, TheFixedFolderIsLockedOnceAndNoEnvironmentSparesIt) {
  namespace fs = std::filesystem;
  plat::HeadlessReset(plat::VirtualDesktop{});
  ASSERT_NE(std::getenv("RORUD_TEST_FIXED_LOCK_BASE"), nullptr);
  const std::string base = std::getenv("RORUD_TEST_FIXED_LOCK_BASE");
  const std::string fixed = base + "/rorud-" + std::to_string(::getuid());
  const fs::path run = fs::temp_directory_path() / ("rorud-lock-test-" + std::to_string(std::random_device{}()));
  fs::create_directories(run);
  ::chmod(run.c_str(), 0700);
  plat::SetWindowLockFolder("");
  ASSERT_TRUE(plat::RegisterWindowClass("AB", PlainProc));
  {
    EnvGuard runtime("XDG_RUNTIME_DIR", nullptr);
    EnvGuard tmpdir("TMPDIR", (base + "/.").c_str());
    plat::Window* w = plat::CreateWindow("AB", "t", plat::kWsPopup, 0, 0, 0, 64, 48);
    EXPECT_NE(w, nullptr) << plat::WindowLockProblem();
    plat::DestroyWindow(w);

    ::chmod(fixed.c_str(), 0777);
    const std::string problem = "the lock folder " + fixed + " is open to group or others (mode 0777, not 0700). "
                                "Remove it (every copy of the game locks there, whatever XDG_RUNTIME_DIR and "
                                "TMPDIR say)";
    EXPECT_EQ(plat::WindowLockProblem(), problem);
    ::setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
    EXPECT_EQ(plat::WindowLockProblem(), problem);
    EXPECT_EQ(plat::CreateWindow("AB", "t", plat::kWsPopup, 0, 0, 0, 64, 48), nullptr);
    fs::remove_all(fixed);
    plat::Window* again = plat::CreateWindow("AB", "t", plat::kWsPopup, 0, 0, 0, 64, 48);
    EXPECT_NE(again, nullptr) << plat::WindowLockProblem();
    plat::DestroyWindow(again);
    ::setenv("TMPDIR", base.c_str(), 1);

    // Another user's folder there (a squatter's) stops only a copy whose
    // fallback it is; a fit runtime folder plays on as it did.
    if (::geteuid() == 0 && ::chown(fixed.c_str(), testsupport::UnprivilegedUid(), 0) == 0) {
      EXPECT_EQ(plat::WindowLockProblem(), "");
      plat::Window* own = plat::CreateWindow("AB", "t", plat::kWsPopup, 0, 0, 0, 64, 48);
      EXPECT_NE(own, nullptr) << plat::WindowLockProblem();
      plat::DestroyWindow(own);
      ::unsetenv("XDG_RUNTIME_DIR");
      EXPECT_NE(plat::WindowLockProblem().find(fixed + " belongs to user id"), std::string::npos)
          << plat::WindowLockProblem();
      EXPECT_EQ(plat::CreateWindow("AB", "t", plat::kWsPopup, 0, 0, 0, 64, 48), nullptr);
      EXPECT_EQ(::chown(fixed.c_str(), 0, 0), 0);
    }
  }
  plat::HeadlessReset(plat::VirtualDesktop{});
  fs::remove_all(run);
}

// The permission paths as a user whom the permissions bind (the suite may
// run as root, who may write anywhere): a runtime folder of the user's own
// that the user cannot write, or named by a relative path (here of a fit
// folder in the working folder), gives way to the fallback.
TEST(WindowLockFolder, AsAnOrdinaryUserOnlyAWritableAbsoluteRuntimeFolderIsUsed) {
  namespace fs = std::filesystem;
  plat::HeadlessReset(plat::VirtualDesktop{});
  const fs::path temp =
      testsupport::UnprivilegedTempFolder() / ("rorud-lock-user-" + std::to_string(std::random_device{}()));
  for (const char* sub : {"readonly", "run", "tmp", "fixed"}) fs::create_directories(temp / sub);
  ::chmod(temp.c_str(), 0700);
  testsupport::GiveToUnprivilegedUser(temp);
  ::chmod((temp / "readonly").c_str(), 0500);
  ::chmod((temp / "run").c_str(), 0700);
  const testsupport::AsUserResult result = testsupport::RunAsUnprivilegedUser([&](std::string& text) {
    if (::chdir(temp.c_str()) != 0) return 2;
    ::setenv("TMPDIR", (temp / "tmp").c_str(), 1);
    plat::SetFixedLockBaseForTesting((temp / "fixed").string());
    plat::SetWindowLockFolder("");
    const std::string user = "/rorud-" + std::to_string(::getuid());
    const std::string lock = (temp / "tmp").string() + user + "/rorud-window-4142.lock";
    if (!plat::RegisterWindowClass("AB", PlainProc)) return 3;
    for (const std::string& runtime : {(temp / "readonly").string(), std::string("run")}) {
      ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
      const std::string path = plat::WindowLockPath("AB");
      if (path != lock) text += runtime + ": the lock is at " + path + "\n";
      plat::Window* w = plat::CreateWindow("AB", "t", plat::kWsPopup, 0, 0, 0, 64, 48);
      if (w == nullptr) text += runtime + ": no window: " + plat::WindowLockProblem() + "\n";
      if (!LockHeld(lock)) text += runtime + ": no lock held at " + lock + "\n";
      plat::DestroyWindow(w);
    }
    return text.empty() ? 0 : 1;
  });
  fs::remove_all(temp);
  RORUD_SKIP_UNLESS_RAN(result);
  EXPECT_EQ(result.status, 0) << result.text;
}

// The user's own fixed folder that the user took the bits from (mode 0500
// or 0600, holding a lock file, which rm -r could not remove) is set back to
// 0700 and the game plays; one also open to others is not, and its line
// gives the commands that remove it, which work as typed, whichever of its
// own bits are short.
TEST(WindowLockFolder, AsAnOrdinaryUserTheirOwnShutFixedFolderIsNoHindrance) {
  namespace fs = std::filesystem;
  plat::HeadlessReset(plat::VirtualDesktop{});
  const fs::path temp =
      testsupport::UnprivilegedTempFolder() / ("rorud-lock-user-" + std::to_string(std::random_device{}()));
  for (const char* sub : {"run", "fixed"}) fs::create_directories(temp / sub);
  ::chmod(temp.c_str(), 0700);
  testsupport::GiveToUnprivilegedUser(temp);
  ::chmod((temp / "run").c_str(), 0700);
  const testsupport::AsUserResult result = testsupport::RunAsUnprivilegedUser([&](std::string& text) {
    ::setenv("XDG_RUNTIME_DIR", (temp / "run").c_str(), 1);
    plat::SetFixedLockBaseForTesting((temp / "fixed").string());
    plat::SetWindowLockFolder("");
    if (!plat::RegisterWindowClass("AB", PlainProc)) return 3;
    const std::string fixed = (temp / "fixed").string() + "/rorud-" + std::to_string(::getuid());
    const auto start = [&text](const char* when) {
      plat::Window* w = plat::CreateWindow("AB", "t", plat::kWsPopup, 0, 0, 0, 64, 48);
      if (w == nullptr) text += std::string(when) + ": no window: " + plat::WindowLockProblem() + "\n";
      plat::DestroyWindow(w);
    };
    start("first");
    for (const int shut : {0500, 0600}) {
      struct stat st {};
      ::chmod(fixed.c_str(), shut);
      start(shut == 0500 ? "at 0500" : "at 0600");
      if (::stat(fixed.c_str(), &st) != 0 || (st.st_mode & 07777) != 0700) text += "the folder's mode is not 0700\n";
    }
    for (const char* mode : {"0555", "0677"}) {
      ::chmod(fixed.c_str(), std::stoi(mode, nullptr, 8));
      const std::string expected = "the lock folder " + fixed + " is open to group or others (mode " + mode +
                                   ", not 0700). Run chmod u+rwx " + fixed + ", then rm -r " + fixed +
                                   " (every copy of the game locks there, whatever XDG_RUNTIME_DIR and TMPDIR say)";
      if (plat::WindowLockProblem() != expected) {
        text += std::string("at ") + mode + ": " + plat::WindowLockProblem() + "\n";
      }
      const std::string typed = "chmod u+rwx " + fixed + " && rm -r " + fixed;
      if (std::system(typed.c_str()) != 0) text += "failed as typed: " + typed + "\n";
      start("after the way out");
    }
    return text.empty() ? 0 : 1;
  });
  fs::remove_all(temp);
  RORUD_SKIP_UNLESS_RAN(result);
  EXPECT_EQ(result.status, 0) << result.text;
}

// Another user's folder in the fixed place (a squatter's), with neither a
// runtime nor a temporary folder set: the line names the settings that let
// the game play, and each does, as typed; the temporary folder it says will
// not do, named any way, does not.
TEST(WindowLockFolder, AsAnOrdinaryUserASquattersFixedFolderNamesTheSettingsThatWork) {
  namespace fs = std::filesystem;
  if (::geteuid() != 0) GTEST_SKIP() << "only root can make another user's folder";
  plat::HeadlessReset(plat::VirtualDesktop{});
  const fs::path temp =
      testsupport::UnprivilegedTempFolder() / ("rorud-lock-user-" + std::to_string(std::random_device{}()));
  for (const char* sub : {"run", "tmp", "fixed"}) fs::create_directories(temp / sub);
  fs::create_directory_symlink(temp / "fixed", temp / "link");
  ::chmod(temp.c_str(), 0755);
  testsupport::GiveToUnprivilegedUser(temp);
  ::chmod((temp / "run").c_str(), 0700);
  const std::string squatted = (temp / "fixed").string() + "/rorud-" + std::to_string(testsupport::UnprivilegedUid());
  fs::create_directories(squatted);  // root's
  const testsupport::AsUserResult result = testsupport::RunAsUnprivilegedUser([&](std::string& text) {
    ::unsetenv("XDG_RUNTIME_DIR");
    ::unsetenv("TMPDIR");
    plat::SetFixedLockBaseForTesting((temp / "fixed").string());
    plat::SetWindowLockFolder("");
    if (!plat::RegisterWindowClass("AB", PlainProc)) return 3;
    const std::string base = (temp / "fixed").string();
    const std::string expected = "the lock folder " + squatted + " belongs to user id 0, not to you (" +
                                 std::to_string(::getuid()) + "). Set TMPDIR to a folder you can write (not " + base +
                                 " or /), or XDG_RUNTIME_DIR to a folder of your own closed to others, or ask its "
                                 "owner or the administrator to remove it";
    for (const std::string& named : {std::string(), base, base + "/.", (temp / "link").string()}) {
      if (!named.empty()) ::setenv("TMPDIR", named.c_str(), 1);
      plat::Window* w = plat::CreateWindow("AB", "t", plat::kWsPopup, 0, 0, 0, 64, 48);
      if (w != nullptr) text += "TMPDIR=" + named + ": a window without a lock\n";
      plat::DestroyWindow(w);
      if (plat::WindowLockProblem() != expected) text += "TMPDIR=" + named + ": " + plat::WindowLockProblem() + "\n";
    }
    for (const char* name : {"TMPDIR", "XDG_RUNTIME_DIR"}) {
      ::unsetenv("XDG_RUNTIME_DIR");
      ::unsetenv("TMPDIR");
      ::setenv(name, (temp / (name[0] == 'T' ? "tmp" : "run")).c_str(), 1);
      plat::Window* w = plat::CreateWindow("AB", "t", plat::kWsPopup, 0, 0, 0, 64, 48);
      if (w == nullptr) text += std::string(name) + " set: no window: " + plat::WindowLockProblem() + "\n";
      plat::DestroyWindow(w);
    }
    return text.empty() ? 0 : 1;
  });
  fs::remove_all(temp);
  RORUD_SKIP_UNLESS_RAN(result);
  EXPECT_EQ(result.status, 0) << result.text;
}

// A test process's stand-in for /tmp holds the fallback folder as well, when
// TMPDIR is not set, names /tmp or is /: a test looks in no folder of the
// user's in /tmp, where a game the user has open holds its lock, and leaves
// nothing there.
TEST(WindowLockFolder, TheTestsStandInForTmpHoldsTheFallbackToo) {
  plat::HeadlessReset(plat::VirtualDesktop{});
  ASSERT_NE(std::getenv("RORUD_TEST_FIXED_LOCK_BASE"), nullptr);
  const std::string lock = std::string(std::getenv("RORUD_TEST_FIXED_LOCK_BASE")) + "/rorud-" +
                           std::to_string(::getuid()) + "/rorud-window-4142.lock";
  plat::SetWindowLockFolder("");
  EnvGuard runtime("XDG_RUNTIME_DIR", nullptr);
  for (const char* temp : {static_cast<const char*>(nullptr), "/tmp", "/tmp/.", "/"}) {
    EnvGuard tmpdir("TMPDIR", temp);
    EXPECT_EQ(plat::WindowLockPath("AB"), lock) << (temp != nullptr ? temp : "no TMPDIR");
  }
}

}  // namespace
