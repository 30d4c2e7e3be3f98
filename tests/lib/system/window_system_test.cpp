// Library start and end, the main window, the message pump and the library
// lock, on the headless desktop with the virtual clock.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "lib/core/clock.h"
#include "lib/core/log.h"
#include "lib/system/window_system.h"
#include "lib/graphics/graphics_device.h"
#include "platform/window/backend.h"
#include "platform/kernel/kernel.h"
#include "platform/window/window.h"
#include "rorud/rorud.h"
#include "tests/support/log_capture.h"
#include "tests/support/sjis.h"

namespace {

using testsupport::Sjis;
using testsupport::StripStamps;

// The log text without stamps and carriage returns.
std::string Plain(const std::string& file) {
  std::string text = StripStamps(file), out;
  for (char c : text) {
    if (c != '\r') out += c;
  }
  return out;
}

std::vector<std::string> g_steps;
void RecordStep(const char* step) { g_steps.push_back(step); }

// Each test's class locks go to a folder of its own run, so that runs side by
// side (other builds' tests) never see each other's windows.
std::string LockFolderFor(const std::string& name) {
  auto folder = std::filesystem::temp_directory_path() /
                ("rorud-lock-" + name + "-" + std::to_string(std::random_device{}()));
  std::filesystem::create_directories(folder);
  return folder.string();
}

class LibraryFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::SetBackend(plat::Backend::kHeadless);
    plat::VirtualDesktop desktop;
    desktop.width = 1920;
    desktop.height = 1080;
    desktop.bits = 32;
    plat::HeadlessReset(desktop);
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    lock_folder_ = LockFolderFor(std::string(info->test_suite_name()) + "." + info->name());
    plat::SetWindowLockFolder(lock_folder_);
    plat::SetProcessorCountOverride(4);
    ResetWindowSettings();
    ResetGraphicsDeviceForTest();
    capture_ = std::make_unique<testsupport::LogCapture>();
    // Busy loops that read the clock must end: each read moves it on 10 us.
    plat::SetVirtualClockAutoAdvance(10);
    g_steps.clear();
    SetLibraryStepRecorder(RecordStep);
  }
  void TearDown() override {
    LibraryEnd();
    SetLibraryStepRecorder(nullptr);
    SetPumpObserver(nullptr);
    ResetWindowSettings();
    ResetGraphicsDeviceForTest();
    capture_.reset();
    plat::SetProcessorCountOverride(0);
    plat::HeadlessReset(plat::VirtualDesktop{});
    std::error_code ignored;
    std::filesystem::remove_all(lock_folder_, ignored);
  }
  std::string Log() const { return Plain(capture_->File()); }
  // Drains what the start left queued (paint, cursor) so that tests see only
  // their own messages.
  void Drain() {
    for (int i = 0; i < 20 && ProcessWindowMessages() == 0; ++i) {
    }
  }
  std::string lock_folder_;
  std::unique_ptr<testsupport::LogCapture> capture_;
};

// ---- Start and end -----------------------------------------------------------------

TEST_F(LibraryFixture, StartAndEndRunTheirStepsInOrder) {
  ChangeWindowMode(1);
  ASSERT_EQ(LibraryStart(), 0);
  std::vector<std::string> start = g_steps;
  const std::vector<std::string> start_order = {
      "LoadSystemLibraries", "InitializeYuvTables", "ArchiveCacheEnd", "InstallFileFunctions",
      "GetStartDirectory", "LogFileStart", "ColourDepthCheck", "PerformanceFrequency",
      "WriteSystemReport", "FillStreamTables", "LoadLateLibraries", "SetGraphicsRestoreCallback",
      "CoInitialize", "StartWindowSystem", "InputStart", "InitializeSoundSystem",
      "GraphicsSystemStart", "InitCharCodeBuffer", "ScreenLogStart", "SetDrawTarget",
      "InitModelSystem"};
  std::vector<std::string> names;
  for (const std::string& s : start) names.push_back(s.substr(0, s.find(' ')));
  EXPECT_EQ(names, start_order);
  // The start leaves the library's own restore routine and the front screen
  // (reached through the back screen) in force.
  EXPECT_EQ(IsRestoreCallbackSet(), 1);
  EXPECT_EQ(GetDrawTarget(), -4);

  g_steps.clear();
  ASSERT_EQ(LibraryEnd(), 0);
  const std::vector<std::string> end_order = {
      "ScreenLogEnd", "NetworkEnd", "StopMusicPlayback", "DeleteAllModelRecords",
      "TerminateGraphicsSystem", "InputEnd", "TerminateSoundSystem", "TeardownWindow",
      "CoUninitialize", "DeleteAllSoftImages", "PumpUntilDestroyed", "UnregisterClass",
      "DestroyMainWindow", "RestoreStartDirectory", "ArchiveCacheEnd", "DumpAllocations",
      "FreeSystemLibraries"};
  names.clear();
  for (const std::string& s : g_steps) names.push_back(s.substr(0, s.find(' ')));
  EXPECT_EQ(names, end_order);
  EXPECT_EQ(plat::FindWindow("V123987A"), nullptr);
  EXPECT_TRUE(plat::IsScreenSaverActive());
}

TEST_F(LibraryFixture, TheEndPutsBackTheStartDirectory) {
  ChangeWindowMode(1);
  auto start = std::filesystem::current_path();
  ASSERT_EQ(LibraryStart(), 0);
  std::filesystem::create_directories(start / "elsewhere");
  std::filesystem::current_path(start / "elsewhere");
  ASSERT_EQ(LibraryEnd(), 0);
  EXPECT_EQ(std::filesystem::current_path(), start);
}

TEST_F(LibraryFixture, SecondStartAndEndWithoutStartDoNothing) {
  EXPECT_EQ(LibraryEnd(), 0);
  EXPECT_TRUE(g_steps.empty());
  ChangeWindowMode(1);
  ASSERT_EQ(LibraryStart(), 0);
  g_steps.clear();
  std::string before = capture_->File();
  EXPECT_EQ(LibraryStart(), 0);
  EXPECT_TRUE(g_steps.empty());
  EXPECT_EQ(capture_->File(), before);
  EXPECT_EQ(LibraryEnd(), 0);
  g_steps.clear();
  EXPECT_EQ(LibraryEnd(), 0);
  EXPECT_TRUE(g_steps.empty());
}

TEST_F(LibraryFixture, GoldenLogOfAWindowStart) {
  ChangeWindowMode(1);
  SetWindowTitle("Quillona Ver2.00");
  capture_->Clear();
  ASSERT_EQ(LibraryStart(), 0);
  std::string log = Log();
  // The memory figures are the machine's: the line is compared by its shape.
  const std::string memory = Sjis("メモリ総量:");
  size_t m = log.find(memory);
  ASSERT_NE(m, std::string::npos);
  size_t m_end = log.find('\n', m);
  EXPECT_NE(log.substr(m, m_end - m).find(Sjis("MB  空きメモリ領域:")), std::string::npos);
  log.replace(m, m_end - m, "<memory>");

  // The processor lines follow what the machine reports.
  plat::SystemInfo info = plat::GetSystemInfo();
  const SystemFindings& found = GetSystemFindings();
  std::string cpu;
  char buffer[128];
  if (info.has_cpuid && info.has_time_stamp_counter) {
    std::snprintf(buffer, sizeof buffer, "%.2f", found.cpu_mhz / 1000.0);
    cpu += "\t" + Sjis("ＣＰＵ動作速度：大体") + buffer + "GHz\n";
  }
  if (!info.has_cpuid) {
    cpu += "\t" + Sjis("ＣＰＵＩＤ命令は使えません\n");
  } else if (!info.has_mmx) {
    cpu += "\t" + Sjis("ＭＭＸは使えません\n");
  } else {
    cpu += "\t" + Sjis("ＭＭＸ命令を使用します\n");
    if (info.has_sse) cpu += "\t" + Sjis("ＳＳＥ命令が使用可能です\n");
    if (info.has_sse && info.has_sse2) cpu += "\t" + Sjis("ＳＳＥ２命令が使用可能です\n");
  }
  if (info.has_cpuid) {
    cpu += "\t" + Sjis("ＣＰＵベンダ：") + std::string(info.cpu_vendor, 12) + "\n";
    if (info.cpu_brand[0] != '\0') cpu += "\t" + Sjis("ＣＰＵ名：") + info.cpu_brand + "\n";
  }
  std::snprintf(buffer, sizeof buffer, "%lf", static_cast<double>(plat::QueryPerformanceFrequency()) / 1000.0);

  std::string expected = Sjis("システムの情報を出力します\n") + "\tZOvurar Ver3.06a\n" +
                         Sjis("\t論理プロセッサの数 : 4\n") + Sjis("\tＯＳ  ") + found.os_text + "\n" + cpu +
                         Sjis("ＣＯＭの初期化... 成功しました\n") + "<memory>\n" +
                         Sjis("タイマーの精度を検査します\n") +
                         Sjis("精度結果 更新回数 マルチメディアタイマー：1  パフォーマンスカウンター：60\n") +
                         Sjis(" パフォーマンスカウンターを使用します タイマー精度 : ") + buffer + " KHz \n" +
                         Sjis(" ソフトの二重起動検査... 二重起動はされていませんでした\n") +
                         Sjis("ウインドウクラスを登録します... 登録に成功しました\n") +
                         Sjis("ウインドウモード起動用のウインドウを作成します\n") +
                         Sjis("ウインドウの作成に成功しました\n") +
                         Sjis("ウインドウスタイルをウインドウモード用に変更します... 完了\n") +
                         Sjis("ＩＭＥを無効にしました\n") +
                         // The input start follows the window.
                         Sjis("DirectInput関係初期化処理\n") + Sjis("\tDirectInput7 の取得中... 成功\n") +
                         Sjis("\t\t引き続き初期化処理... 初期化成功\n") + Sjis("\tジョイパッドの初期化... \n") +
                         Sjis("\tジョイパッドの初期化は正常に終了しました\n") +
                         Sjis("\tマウスデバイスの初期化... 初期化成功\n") +
                         Sjis("\tキーボードデバイスの初期化... 初期化成功\n") +
                         Sjis("DirectInput 関連の初期化は正常に終了しました\n");
  size_t report = log.find(Sjis("システムの情報を出力します\n"));
  ASSERT_NE(report, std::string::npos);
  // The sound and graphics starts follow; their lines are their own tests'
  // business.
  size_t sound = log.find(Sjis("DirectSound の初期化を行います\n"), report);
  ASSERT_NE(sound, std::string::npos);
  EXPECT_EQ(testsupport::Utf8(log.substr(report, sound - report)), testsupport::Utf8(expected));
  EXPECT_EQ(found.processor_count, 4);
  if (info.os_platform == 2 && info.os_major == 6 && info.os_minor == 1) {
    EXPECT_EQ(found.os_version_code, 0x109);
    EXPECT_EQ(std::string(found.os_text).rfind("Windows7 ( Build ", 0), 0u);
  }
}

TEST_F(LibraryFixture, ATwentyFourBitDesktopInWindowModeIsRefused) {
  plat::HeadlessChangeDesktop(1920, 1080, 24);
  ChangeWindowMode(1);
  EXPECT_EQ(LibraryStart(), -1);
  EXPECT_NE(Log().find(Sjis("ZOvurarは２４ビットカラーモードに対応していません\n")), std::string::npos);
  EXPECT_EQ(plat::FindWindow("V123987A"), nullptr);
  EXPECT_EQ(GetMainWindow(), nullptr);
  EXPECT_EQ(LibraryEnd(), 0);
}

TEST_F(LibraryFixture, AFullScreenSizeThatIsNoDisplayModeStartsInAWindow) {
  plat::VirtualDesktop desktop;
  desktop.modes = {{800, 600, 32, 60}, {1920, 1080, 32, 60}};
  plat::HeadlessReset(desktop);
  ASSERT_EQ(IsWindowMode(), 0);
  ASSERT_EQ(LibraryStart(), 0);
  EXPECT_EQ(IsWindowMode(), 1);
  EXPECT_EQ(plat::GetWindowStyle(GetMainWindow()) & plat::kWsCaption, plat::kWsCaption);
}

TEST_F(LibraryFixture, ATwentyFourBitScreenModeIsRefused) {
  // The public setter refuses 24 bits; the start checks the setting anyway.
  EXPECT_EQ(ConfigureScreenMode(640, 480, 24, 60), -1);
  Screen().colour_bits = 24;
  ChangeWindowMode(1);
  EXPECT_EQ(LibraryStart(), -1);
  EXPECT_NE(Log().find(Sjis("ZOvurarは２４ビットカラーモードに対応していません\n")), std::string::npos);
  EXPECT_EQ(GetMainWindow(), nullptr);
}

TEST_F(LibraryFixture, FullScreen320By240RunsAt640By480WithTheEmulationFlag) {
  plat::HeadlessSetDisplayModes({{640, 480, 32, 60}, {1920, 1080, 32, 60}});
  ASSERT_EQ(ConfigureScreenMode(320, 240, 32, 60), 0);
  ASSERT_EQ(LibraryStart(), 0);
  EXPECT_EQ(IsWindowMode(), 0);
  EXPECT_EQ(Screen().emulate_320x240, 1);
  int w, h;
  GetScreenSize(&w, &h);
  EXPECT_EQ(w, 640);
  EXPECT_EQ(h, 480);
  GetLogicalScreenSize(&w, &h, nullptr);
  EXPECT_EQ(w, 320);
  EXPECT_EQ(h, 240);
}

TEST_F(LibraryFixture, FullScreen800By600WithoutSuchAModeStartsInAWindow) {
  plat::HeadlessSetDisplayModes({{640, 480, 32, 60}, {1920, 1080, 32, 60}});
  ConfigureScreenMode(800, 600, 32, 60);
  ASSERT_EQ(LibraryStart(), 0);
  EXPECT_EQ(IsWindowMode(), 1);
  plat::Rect client;
  plat::GetClientRect(GetMainWindow(), &client);
  EXPECT_EQ(client.right, 800);
  EXPECT_EQ(client.bottom, 600);
}

TEST_F(LibraryFixture, AFullScreenStartMakesATopmostPopupOfTheScreenSize) {
  ASSERT_EQ(LibraryStart(), 0);
  plat::Window* w = GetMainWindow();
  EXPECT_EQ(plat::GetWindowStyle(w) & ~plat::kWsVisible, plat::kWsPopup);
  EXPECT_TRUE(plat::IsTopmost(w));
  plat::Rect r;
  plat::GetWindowRect(w, &r);
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.right, 640);
  EXPECT_EQ(r.bottom, 480);
  EXPECT_EQ(WindowState().cursor_shown, 0);
  EXPECT_NE(Log().find(Sjis("カーソルを不可視にしました\n")), std::string::npos);
}

// ---- The main window ------------------------------------------------------------------

TEST_F(LibraryFixture, ClassAndTextWithoutAndWithATitle) {
  ChangeWindowMode(1);
  ASSERT_EQ(LibraryStart(), 0);
  EXPECT_EQ(plat::FindWindow("V123987A"), GetMainWindow());
  EXPECT_EQ(plat::GetWindowText(GetMainWindow()), "RoRud");
  LibraryEnd();
  ResetWindowSettings();
  ChangeWindowMode(1);
  SetWindowTitle("Quillona Ver2.00");
  ASSERT_EQ(LibraryStart(), 0);
  EXPECT_EQ(plat::FindWindow("Quillona Ver2.00"), GetMainWindow());
  EXPECT_EQ(plat::GetWindowText(GetMainWindow()), "Quillona Ver2.00");
  EXPECT_EQ(plat::FindWindow("V123987A"), nullptr);
}

TEST_F(LibraryFixture, ScaleOneAndAHalfGivesACentredClientOf960By720) {
  ChangeWindowMode(1);
  SetWindowScale(1.5, -1.0);
  ASSERT_EQ(LibraryStart(), 0);
  plat::Window* w = GetMainWindow();
  plat::Rect client, outer;
  ASSERT_TRUE(plat::GetClientRect(w, &client));
  EXPECT_EQ(client.right, 960);
  EXPECT_EQ(client.bottom, 720);
  ASSERT_TRUE(plat::GetWindowRect(w, &outer));
  // The adjusted rectangle (-5, -25, 965, 725) moved by half the room left
  // on the desktop: (1920 - 970) / 2 and (1080 - 750) / 2.
  EXPECT_EQ(outer.left, -5 + 475);
  EXPECT_EQ(outer.top, -25 + 165);
  EXPECT_EQ(outer.right - outer.left, 970);
  EXPECT_EQ(outer.bottom - outer.top, 750);
  const plat::Rect& on_screen = WindowState().client_rect_on_screen;
  EXPECT_EQ(on_screen.right - on_screen.left, 960);
  EXPECT_EQ(on_screen.bottom - on_screen.top, 720);
  int x = 0, y = 0;
  plat::ClientToScreen(w, &x, &y);
  EXPECT_EQ(on_screen.left, x);
  EXPECT_EQ(on_screen.top, y);
  // 1.6 gives 1024 x 768 at once, through the style change.
  SetWindowScale(1.6, 0);
  plat::GetClientRect(w, &client);
  EXPECT_EQ(client.right, 1024);
  EXPECT_EQ(client.bottom, 768);
}

TEST_F(LibraryFixture, WindowScaleSettingRules) {
  SetWindowScale(2.0, 0);
  double x, y;
  EXPECT_EQ(GetWindowScale(&x, &y), 1.0);  // full screen: always 1
  ChangeWindowMode(1);
  EXPECT_EQ(GetWindowScale(&x, &y), 2.0);
  EXPECT_EQ(y, 2.0);
  SetWindowScale(-1, -1);
  GetWindowScale(&x, &y);
  EXPECT_EQ(x, 1.0);
  EXPECT_EQ(y, 1.0);
  // The same mode again only writes its log line.
  EXPECT_EQ(ChangeWindowMode(1), 0);
  EXPECT_NE(Log().find(Sjis("ChangeWindowMode実行 \n")), std::string::npos);
}

TEST_F(LibraryFixture, ATallWindowIsMovedDownToRowZeroAndTheMouseIsScaled) {
  plat::HeadlessReset(plat::VirtualDesktop{800, 600, 32, {}, {3, 20, 2}});
  ChangeWindowMode(1);
  SetWindowScale(2.0, 0);
  ASSERT_EQ(LibraryStart(), 0);
  EXPECT_EQ(WindowState().client_rect_on_screen.top, 0);
  int x = 0, y = 0;
  plat::ClientToScreen(GetMainWindow(), &x, &y);
  EXPECT_EQ(y, 0);
  plat::HeadlessMoveMouse(WindowState().client_rect_on_screen.left + 101, 10);
  int mx, my;
  GetMouseClientPos(&mx, &my);
  EXPECT_EQ(mx, 50);
  EXPECT_EQ(my, 5);
}

TEST_F(LibraryFixture, SwitchingModesAfterTheStartRestylesTheWindow) {
  ChangeWindowMode(1);
  SetWindowScale(1.5, 0);
  ASSERT_EQ(LibraryStart(), 0);
  plat::Window* w = GetMainWindow();
  EXPECT_EQ(WindowState().cursor_shown, 1);
  ASSERT_EQ(ChangeWindowMode(0), 0);
  EXPECT_EQ(plat::GetWindowStyle(w) & plat::kWsCaption, 0u);
  EXPECT_TRUE(plat::IsTopmost(w));
  plat::Rect r;
  plat::GetWindowRect(w, &r);
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.top, 0);
  EXPECT_EQ(r.right, 640);
  EXPECT_EQ(r.bottom, 480);
  EXPECT_EQ(WindowState().cursor_shown, 0);
  EXPECT_LT(plat::ShowCursor(true), 1);
  plat::ShowCursor(false);
  ASSERT_EQ(ChangeWindowMode(1), 0);
  EXPECT_FALSE(plat::IsTopmost(w));
  plat::Rect client;
  plat::GetClientRect(w, &client);
  EXPECT_EQ(client.right, 960);
  EXPECT_EQ(client.bottom, 720);
  EXPECT_EQ(WindowState().cursor_shown, 1);
  // Full screen needs a display mode of the screen size.
  plat::HeadlessSetDisplayModes({{800, 600, 32, 60}});
  EXPECT_EQ(ChangeWindowMode(0), -1);
  EXPECT_EQ(IsWindowMode(), 1);
}

TEST_F(LibraryFixture, FullScreenDeactivationGivesTheDesktopBackAndActivationRestoresIt) {
  // Software rendering switches the display itself, so its mode shows on the
  // desktop; the device's own full screen is checked after it.
  for (int hardware : {0, 1}) {
    SetHardwareRenderFlag(hardware);
    ChangeWindowMode(0);
    ASSERT_EQ(LibraryStart(), 0);
    SetDrawTarget(-2);  // as a program does; the front screen flips on a timer
    ASSERT_EQ(IsWindowMode(), 0);
    ASSERT_EQ(GraphicsDevice().direct3d_mode, hardware);
    plat::Window* w = GetMainWindow();
    int width = 0, height = 0;
    plat::GetDesktopSize(&width, &height);
    if (!hardware) { ASSERT_EQ(width, 640); }
    OnActivateApp(0);
    plat::GetDesktopSize(&width, &height);
    EXPECT_EQ(width, 1920);
    EXPECT_EQ(height, 1080);
    EXPECT_EQ(GraphicsDevice().device, nullptr);
    EXPECT_TRUE(plat::IsIconic(w));
    EXPECT_EQ(IsAppActive(), 0);
    // Activation while still minimised waits for the window to come back.
    OnActivateApp(1 | (1u << 16));
    EXPECT_EQ(GetDirectDrawObject(), nullptr);
    // Restoring the window activates it.
    plat::ShowWindow(w, plat::kSwRestore);
    plat::GetDesktopSize(&width, &height);
    if (!hardware) { EXPECT_EQ(width, 640); }
    EXPECT_NE(GetDirectDrawObject(), nullptr);
    EXPECT_EQ(GraphicsDevice().direct3d_mode, hardware);
    if (hardware) { EXPECT_NE(GraphicsDevice().device, nullptr); }
    EXPECT_EQ(IsAppActive(), 1);
    ASSERT_EQ(LibraryEnd(), 0);
  }
  SetHardwareRenderFlag(1);
}

void ThrowOnExit(int code) { throw code; }

TEST_F(LibraryFixture, AFatalErrorWritesItsMessageAndEndsTheLibrary) {
  ChangeWindowMode(1);
  ASSERT_EQ(LibraryStart(), 0);
  plat::SetExitProcessHook(ThrowOnExit);
  std::string long_text(3000, 'x');
  try {
    FatalErrorExitFmt("%s%s", "fatal: ", long_text.c_str());
    FAIL() << "returned";
  } catch (int code) {
    EXPECT_EQ(code, -1);
  }
  plat::SetExitProcessHook(nullptr);
  EXPECT_EQ(IsLibraryStarted(), 0);
  EXPECT_EQ(plat::FindWindow("V123987A"), nullptr);
  std::string log = Log();
  size_t at = log.find("fatal: xxx");
  ASSERT_NE(at, std::string::npos);
  size_t end = log.find('\n', at);
  EXPECT_EQ(end - at, 1023u);  // formatted into 1024 bytes, cut rather than overrun
}

// ---- Window procedure --------------------------------------------------------------------

TEST_F(LibraryFixture, ClosingLogsThreeLinesAndThePumpThenFails) {
  ChangeWindowMode(1);
  ASSERT_EQ(LibraryStart(), 0);
  Drain();
  plat::HeadlessClose();
  EXPECT_EQ(ProcessWindowMessages(), -1);
  std::string log = Log();
  size_t a = log.find(Sjis("ウインドウを閉じようとしています\n"));
  size_t b = log.find(Sjis("ウインドウが破棄されようとしています\n"));
  size_t c = log.find(Sjis("ソフトを終了する準備が整いました\n"));
  ASSERT_NE(a, std::string::npos);
  EXPECT_LT(a, b);
  EXPECT_LT(b, c);
  EXPECT_NE(c, std::string::npos);
  EXPECT_EQ(ProcessWindowMessages(), -1);
  EXPECT_EQ(LibraryEnd(), 0);
}

TEST_F(LibraryFixture, ATwentyFourBitDesktopChangeClosesTheWindow) {
  ChangeWindowMode(1);
  ASSERT_EQ(LibraryStart(), 0);
  Drain();
  plat::HeadlessChangeDesktop(1920, 1080, 24);
  for (int i = 0; i < 5 && ProcessWindowMessages() == 0; ++i) {
  }
  EXPECT_EQ(ProcessWindowMessages(), -1);
  EXPECT_NE(Log().find(Sjis("またはスクリーンが小さすぎるためか色ビット数の違いが大きいためか終了します\n")),
            std::string::npos);
  EXPECT_EQ(IsQuitRequested(), 1);
}

TEST_F(LibraryFixture, ClicksAndWheelAreRecorded) {
  ChangeWindowMode(1);
  ASSERT_EQ(LibraryStart(), 0);
  Drain();
  const plat::Rect& c = WindowState().client_rect_on_screen;
  plat::HeadlessMoveMouse(c.left + 30, c.top + 40);
  for (int i = 0; i < 40; ++i) plat::HeadlessClick(i % 2 == 0 ? 1 : 2, true);
  plat::HeadlessWheel(1, false);
  plat::HeadlessWheel(-1, true);
  for (int i = 0; i < 20; ++i) ProcessWindowMessages();
  EXPECT_EQ(WindowState().click_count, kClickLogSize);
  EXPECT_EQ(WindowState().clicks[1].button, 2);
  EXPECT_EQ(WindowState().clicks[0].x, 30);
  EXPECT_EQ(WindowState().clicks[0].y, 40);
  EXPECT_EQ(WindowState().wheel_vertical, 1);
  EXPECT_EQ(WindowState().wheel_horizontal, -1);
}

// ---- Pump ------------------------------------------------------------------------------------

int CountQueued() {
  int count = 0;
  plat::Message m;
  std::vector<plat::Message> kept;
  while (plat::PeekMessage(&m, plat::kAnyWindow, true)) kept.push_back(m);
  for (const plat::Message& k : kept) {
    if (k.message == plat::kWmUser) ++count;
    plat::PostMessage(k.window, k.message, k.wparam, k.lparam);
  }
  return count;
}

TEST_F(LibraryFixture, OneCallDispatchesFiveOfTwelveMessages) {
  ChangeWindowMode(1);
  ASSERT_EQ(LibraryStart(), 0);
  Drain();
  for (int i = 0; i < 12; ++i) plat::PostMessage(GetMainWindow(), plat::kWmUser, i, 0);
  EXPECT_EQ(ProcessWindowMessages(), 0);
  EXPECT_EQ(CountQueued(), 7);
  EXPECT_EQ(WindowState().inside_pump, 0);
}

TEST_F(LibraryFixture, AQuitMakesEveryLaterCallFail) {
  ChangeWindowMode(1);
  ASSERT_EQ(LibraryStart(), 0);
  Drain();
  plat::PostQuitMessage(0);
  EXPECT_EQ(ProcessWindowMessages(), -1);
  EXPECT_EQ(ProcessWindowMessages(), -1);
  EXPECT_EQ(GetWindowDestroyedFlag(), 1);
  EXPECT_EQ(WindowState().inside_pump, 0);
}

TEST_F(LibraryFixture, InactiveThePumpWaitsForAnActivationFromAnotherThread) {
  ChangeWindowMode(1);
  ASSERT_EQ(LibraryStart(), 0);
  Drain();
  plat::HeadlessSetFocus(false);
  EXPECT_EQ(ProcessWindowMessages(), 0);  // applies the deactivation
  EXPECT_EQ(IsAppActive(), 0);
  std::atomic<bool> injected{false};
  std::thread other([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    injected = true;
    plat::HeadlessSetFocus(true);
  });
  EXPECT_EQ(ProcessWindowMessages(), 0);
  EXPECT_TRUE(injected);
  EXPECT_EQ(IsAppActive(), 1);
  other.join();
  // Told to run inactive, the pump returns at once.
  SetRunInactiveFlag(1);
  plat::HeadlessSetFocus(false);
  EXPECT_EQ(ProcessWindowMessages(), 0);
  EXPECT_EQ(ProcessWindowMessages(), 0);
  EXPECT_EQ(IsAppActive(), 0);
  EXPECT_EQ(WaitWhileInactive(), 0);
}

TEST_F(LibraryFixture, MinimisedThePumpWaitsUntilRestoredAndDrawCallsWaitToo) {
  ChangeWindowMode(1);
  ASSERT_EQ(LibraryStart(), 0);
  Drain();
  plat::HeadlessMinimize(true);
  EXPECT_EQ(ProcessWindowMessages(), 0);  // hears of the minimise
  EXPECT_EQ(WindowState().minimised, 1);
  EXPECT_EQ(IsAppActive(), 0);
  std::atomic<bool> injected{false};
  std::thread other([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    injected = true;
    plat::HeadlessMinimize(false);
  });
  EXPECT_EQ(WaitWhileInactive(), 0);
  EXPECT_TRUE(injected);
  other.join();
  EXPECT_EQ(WindowState().minimised, 0);
  EXPECT_EQ(IsAppActive(), 1);
}

std::vector<int64_t> g_pump_times;
void NotePumpTime() { g_pump_times.push_back(static_cast<int64_t>(GetMicroClock())); }

TEST_F(LibraryFixture, WaitMillisPumpingPumpsUntilFourMillisecondsRemain) {
  ChangeWindowMode(1);
  ASSERT_EQ(LibraryStart(), 0);
  Drain();
  g_pump_times.clear();
  SetPumpObserver(NotePumpTime);
  int64_t start = static_cast<int64_t>(GetMicroClock());
  EXPECT_EQ(WaitMillisPumping(150), 0);
  int64_t end = static_cast<int64_t>(GetMicroClock());
  ASSERT_GT(g_pump_times.size(), 100u);
  EXPECT_LT(g_pump_times.front() - start, 1000);
  int64_t last = g_pump_times.back() - start;
  EXPECT_GE(last, 145000);
  EXPECT_LT(last, 146000 + 1000);
  EXPECT_GE(end - start, 150000);
  EXPECT_LT(end - start, 151000);

  // A short wait only spins.
  g_pump_times.clear();
  start = static_cast<int64_t>(GetMicroClock());
  EXPECT_EQ(WaitMillisPumping(3), 0);
  EXPECT_TRUE(g_pump_times.empty());
  EXPECT_GE(static_cast<int64_t>(GetMicroClock()) - start, 3000);

  // After the window is gone the wait still lasts its time.
  plat::PostQuitMessage(0);
  start = static_cast<int64_t>(GetMicroClock());
  EXPECT_EQ(WaitMillisPumping(20), 0);
  EXPECT_GE(static_cast<int64_t>(GetMicroClock()) - start, 20000);
}

// ---- Lock ---------------------------------------------------------------------------------------

TEST(LibraryLock, ThreadsGetTheLockInArrivalOrderAndTheOwnerReenters) {
  LockLibrary();
  LockLibrary();  // the owner does not block
  std::mutex order_lock;
  std::vector<int> order;
  auto worker = [&](int id) {
    LockLibrary();
    {
      std::lock_guard<std::mutex> g(order_lock);
      order.push_back(id);
    }
    UnlockLibrary();
  };
  std::thread first(worker, 1);
  while (GetLibraryLockWaiterCount() < 1) std::this_thread::yield();
  std::thread second(worker, 2);
  while (GetLibraryLockWaiterCount() < 2) std::this_thread::yield();
  UnlockLibrary();
  // Still held once: nobody may have it yet.
  EXPECT_EQ(GetLibraryLockWaiterCount(), 2);
  UnlockLibrary();
  std::thread third(worker, 3);
  first.join();
  second.join();
  third.join();
  ASSERT_EQ(order.size(), 3u);
  EXPECT_EQ(order[0], 1);
  EXPECT_EQ(order[1], 2);
  EXPECT_EQ(order[2], 3);
  DeleteLibraryLock();
}

TEST(LibraryLock, TheThirdArrivingWhileTheSecondWaitsQueuesBehindIt) {
  LockLibrary();
  std::vector<int> order;
  std::mutex order_lock;
  std::atomic<int> holding{0};
  auto worker = [&](int id) {
    LockLibrary();
    holding = id;
    {
      std::lock_guard<std::mutex> g(order_lock);
      order.push_back(id);
    }
    std::this_thread::yield();
    UnlockLibrary();
  };
  std::thread second(worker, 2);
  while (GetLibraryLockWaiterCount() < 1) std::this_thread::yield();
  std::thread third(worker, 3);
  while (GetLibraryLockWaiterCount() < 2) std::this_thread::yield();
  UnlockLibrary();
  second.join();
  third.join();
  EXPECT_EQ(order, (std::vector<int>{2, 3}));
  DeleteLibraryLock();
}

// ---- Double start ---------------------------------------------------------------------------------

std::string SelfPath() { return std::filesystem::read_symlink("/proc/self/exe").string(); }

TEST_F(LibraryFixture, ASecondProcessWithTheSameTitleIsRefused) {
  ChangeWindowMode(1);
  SetWindowTitle("DoubleStartTitle");
  ASSERT_EQ(LibraryStart(), 0);
  std::string command = "RORUD_PLATFORM=headless RORUD_TEST_LOCK_FOLDER='" + lock_folder_ + "' '" +
                        SelfPath() +
                        "' --gtest_also_run_disabled_tests"
                        " --gtest_filter=DoubleStartChild.DISABLED_SecondCopyStops > /dev/null 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0);
  LibraryEnd();
  // With the first copy gone, a second one starts.
  std::string again = "RORUD_PLATFORM=headless RORUD_TEST_LOCK_FOLDER='" + lock_folder_ + "' '" +
                      SelfPath() +
                      "' --gtest_also_run_disabled_tests"
                      " --gtest_filter=DoubleStartChild.DISABLED_SecondCopyStops > /dev/null 2>&1";
  EXPECT_NE(std::system(again.c_str()), 0);
}

// Run by the test above in a second process.
TEST(DoubleStartChild, DISABLED_SecondCopyStops) {
  const char* folder = std::getenv("RORUD_TEST_LOCK_FOLDER");
  ASSERT_NE(folder, nullptr);
  plat::SetWindowLockFolder(folder);
  testsupport::LogCapture capture;
  plat::SetVirtualClockAutoAdvance(10);
  ResetWindowSettings();
  ChangeWindowMode(1);
  SetWindowTitle("DoubleStartTitle");
  EXPECT_EQ(LibraryStart(), -1);
  EXPECT_NE(Plain(capture.File()).find(Sjis("二重起動されています、ソフトを終了します\n")), std::string::npos);
  LibraryEnd();
}

// ---- The real window under a virtual X server ------------------------------------------------------

TEST(RealWindow, OpensAtScaleOneAndAHalfAndClosing) {
  if (std::system("command -v xvfb-run > /dev/null 2>&1") != 0) {
    GTEST_SKIP() << "xvfb-run is not installed: the real-window test needs a virtual X server";
  }
  std::string command = "RORUD_PLATFORM=sdl SDL_VIDEODRIVER=x11 xvfb-run -a -s '-screen 0 1920x1080x24' '" +
                        SelfPath() +
                        "' --gtest_also_run_disabled_tests --gtest_filter=RealWindowChild.DISABLED_Run"
                        " > real-window.txt 2>&1";
  int status = std::system(command.c_str());
  std::ifstream in("real-window.txt");
  std::stringstream text;
  text << in.rdbuf();
  if (status != 0 && text.str().find("Xvfb failed to start") != std::string::npos) {
    GTEST_SKIP() << "no X server could be started: " << text.str();
  }
  EXPECT_EQ(status, 0) << text.str();
}

TEST(RealWindowChild, DISABLED_Run) {
  ASSERT_FALSE(plat::IsHeadless());
  testsupport::LogCapture capture;
  plat::EnableVirtualClock(false);
  ResetWindowSettings();
  auto folder = capture.Folder().string();
  plat::SetWindowLockFolder(folder);
  SetWindowTitle("Quillona Ver2.00");
  ChangeWindowMode(1);
  SetWindowScale(1.5, -1.0);
  SetRunInactiveFlag(1);
  ASSERT_EQ(LibraryStart(), 0) << testsupport::Utf8(capture.File());
  // The X server runs at depth 24 in four-byte pixels: the library sees 32.
  EXPECT_EQ(plat::GetDesktopColorBits(), 32);
  int w = 0, h = 0;
  std::string title;
  ASSERT_TRUE(plat::GetNativeWindowInfo(GetMainWindow(), &w, &h, &title));
  EXPECT_EQ(w, 960);
  EXPECT_EQ(h, 720);
  EXPECT_EQ(title, "Quillona Ver2.00");
  std::vector<uint32_t> frame(640 * 480, 0x00336699);
  EXPECT_EQ(plat::PresentToWindow(GetMainWindow(), frame.data(), 640, 480, 640 * 4, nullptr, nullptr), 0);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(ProcessWindowMessages(), 0);
  plat::RequestNativeClose(GetMainWindow());
  // The close is waited for, a minute at most: a net that no load comes near.
  int result = 0;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (result == 0 && std::chrono::steady_clock::now() < until) {
    plat::Sleep(1);
    result = ProcessWindowMessages();
  }
  EXPECT_EQ(result, -1);
  EXPECT_EQ(LibraryEnd(), 0);
}

}  // namespace
