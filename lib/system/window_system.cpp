// lib/system/window_system.cpp - the window system start: machine report,
// clock choice, double-start check, window class and main window; and the
// getters and setters around the main window.
#include <cstdio>
#include <cstring>

#include "lib/core/charset.h"
#include "lib/core/clock.h"
#include "lib/core/log.h"
#include "lib/core/random.h"
#include "lib/system/window_system.h"
#include "lib/graphics/graphics_device.h"
#include "platform/kernel/kernel.h"

namespace {

WindowSystemState g_state;

// Settings made before the start; they survive every window-system start.
int g_window_mode = 0;
int g_run_while_inactive = 0;
double g_scale_x = 0.0, g_scale_y = 0.0;
char g_title[256];
char g_class_name[256];

struct TimeCaps {
  uint32_t period_min, period_max;
};

uint32_t TimerMinPeriod() {
  auto get_caps = reinterpret_cast<uint32_t (*)(TimeCaps*, uint32_t)>(GetLoadedFunction("timeGetDevCaps"));
  TimeCaps caps = {1, 1000000};
  if (get_caps != nullptr) get_caps(&caps, sizeof caps);
  return caps.period_min;
}

void BeginTimerPeriod() {
  auto begin = reinterpret_cast<uint32_t (*)(uint32_t)>(GetLoadedFunction("timeBeginPeriod"));
  if (begin != nullptr) begin(TimerMinPeriod());
}

void CopyText(char* out, size_t size, const char* text) {
  std::snprintf(out, size, "%s", text != nullptr ? text : "");
}

void WriteMemoryReport() {
  plat::SystemInfo info = plat::GetSystemInfo();
  double total = static_cast<double>(info.total_physical_memory) / 1048576.0;
  double available = static_cast<double>(info.available_physical_memory) / 1048576.0;
  WriteLogLineFmt("メモリ総量:%.2fMB  空きメモリ領域:%.2fMB ", total, available);
  char debug[64];
  std::snprintf(debug, sizeof debug, "%.2fMB\n", available);
  plat::OutputDebugString(debug);
  g_state.total_memory = info.total_physical_memory;
  g_state.available_memory = info.available_physical_memory;
}

// Chooses the clock behind the microsecond clock: the counter that changes
// more often over up to 60 changes of either (or one second).
void TimerTest() {
  WriteLogLine("タイマーの精度を検査します\n");
  uint32_t start = plat::TimeGetTime();
  uint32_t last_time = start;
  int64_t last_counter = plat::QueryPerformanceCounter();
  int time_changes = 0, counter_changes = 0;
  for (;;) {
    if (counter_changes >= 60 || time_changes >= 60) break;
    int64_t counter = plat::QueryPerformanceCounter();
    if (counter != last_counter) {
      ++counter_changes;
      last_counter = counter;
    }
    uint32_t now = plat::TimeGetTime();
    if (now != last_time) {
      ++time_changes;
      last_time = now;
    }
    if (now - start >= 1000) break;
  }
  WriteLogLineFmt("精度結果 更新回数 マルチメディアタイマー：%d  パフォーマンスカウンター：%d", time_changes,
                  counter_changes);
  WriteLogLine(" ");
  if (time_changes > counter_changes) {
    WriteLogLineFmt("Multi Media Timer を使用します Timer 精度 : %d.00 ms ", static_cast<int>(TimerMinPeriod()));
    SetMicroClockCounterFrequency(0);
  } else {
    WriteLogLineFmt("パフォーマンスカウンターを使用します タイマー精度 : %lf KHz ",
                    static_cast<double>(plat::QueryPerformanceFrequency()) / 1000.0);
  }
  WriteLogLine(" ");
}

}  // namespace

WindowSystemState& WindowState() { return g_state; }

int StartWindowSystem() {
  std::memset(&g_state, 0, sizeof g_state);
  g_state.desktop_composition = 1;

  if (g_class_name[0] == '\0') CopyText(g_class_name, sizeof g_class_name, g_title[0] != '\0' ? g_title : "V123987A");
  g_state.main_thread_id = plat::GetCurrentThreadId();

  // The extended memory status exists from the 2000 line on; older systems
  // take the same figures from the plain call.
  WriteMemoryReport();

  plat::GetDesktopSize(&g_state.desktop_width, &g_state.desktop_height);
  g_state.desktop_colour_bits = plat::GetDesktopColorBits();

  int screen_width, screen_height;
  GetWindowScreenSize(&screen_width, &screen_height);

  int64_t frequency = plat::QueryPerformanceFrequency();
  SetMicroClockCounterFrequency(frequency);
  BeginTimerPeriod();
  if (frequency != 0) TimerTest();

  SeedRandom(plat::TimeGetTime() & 0x7FFFFFFFu);
  plat::SetScreenSaverActive(false);
  if (GetCharSetIndex() == 0) SetCharSetFromCodePage(plat::GetSystemInfo().oem_code_page);

  WriteLogLine("ソフトの二重起動検査... ");
  if (plat::FindWindow(g_class_name) != nullptr) {
    WriteLogLine("二重起動されています、ソフトを終了します\n");
    g_state.window_destroyed = 1;
    return -1;
  }
  WriteLogLine("二重起動はされていませんでした\n");

  g_state.creating_window = 1;
  WriteLogLine("ウインドウクラスを登録します... ");
  if (!plat::RegisterWindowClass(g_class_name, MainWindowProc)) {
    g_state.window_destroyed = 1;
  } else {
    WriteLogLine("登録に成功しました\n");
  }

  if (g_title[0] == '\0') CopyText(g_title, sizeof g_title, "RoRud");

  plat::Window* window;
  if (g_window_mode == 1) {
    WriteLogLine("ウインドウモード起動用のウインドウを作成します\n");
    uint32_t style = 0x80CA0000u | (g_state.visible_style ? plat::kWsVisible : 0u);
    uint32_t ex_style = plat::kWsExClientEdge | plat::kWsExWindowEdge;
    g_state.cursor_wanted = 1;
    double sx, sy;
    GetWindowScale(&sx, &sy);
    int client_w = static_cast<int>(screen_width * sx);
    int client_h = static_cast<int>(screen_height * sy);
    plat::Rect r = {0, 0, client_w, client_h};
    plat::AdjustWindowRectEx(&r, style, ex_style);
    int w = r.right - r.left, h = r.bottom - r.top;
    r.left += (g_state.desktop_width - w) / 2;
    r.top += (g_state.desktop_height - h) / 2;
    window = plat::CreateWindow(g_class_name, g_title, style, ex_style, r.left, r.top, w, h);
  } else {
    WriteLogLine("フルスクリーンモード用のウインドウを作成します\n");
    g_state.cursor_wanted = 0;
    window = plat::CreateWindow(g_class_name, g_title, plat::kWsPopup, plat::kWsExTopmost, 0, 0,
                                screen_width, screen_height);
  }
  if (window == nullptr) {
    WriteLogLine("ウインドウの作成に失敗しました\n");
    g_state.window_destroyed = 1;
    g_state.creating_window = 0;
    return -1;
  }
  g_state.main_window = window;
  WriteLogLine("ウインドウの作成に成功しました\n");

  plat::ShowWindow(window, plat::kSwShowNormal);
  plat::UpdateWindow(window);
  g_state.close_requested = 0;
  g_state.destroy_received = 0;
  g_state.active = 1;

  if (g_window_mode == 0) {
    WriteLogLine("カーソルを不可視にしました\n");
    plat::SetCursorVisibleShape(false);
  }
  WriteLogLine("ＩＭＥを無効にしました\n");
  auto enable_ime = reinterpret_cast<int (*)(plat::Window*, int)>(GetLoadedFunction("WINNLSEnableIME"));
  if (enable_ime != nullptr) enable_ime(window, 0);

  if (g_window_mode == 1) {
    plat::Rect client{};
    plat::GetClientRect(window, &client);
    int left = client.left, top = client.top, right = client.right, bottom = client.bottom;
    plat::ClientToScreen(window, &left, &top);
    plat::ClientToScreen(window, &right, &bottom);
    g_state.client_rect_on_screen = {left, top, right, bottom};
  }
  UpdateCursorVisible(g_state.cursor_wanted);

  g_state.ending = 0;
  plat::SetWindowPos(window, plat::ZOrder::kTop, 0, 0, 0, 0, plat::kSwpNoMove | plat::kSwpNoSize);
  FitWindowToClient();
  g_state.creating_window = 0;
  return 0;
}

// ---- Getters and setters ----------------------------------------------------------------

int GetWindowDestroyedFlag() { return g_state.window_destroyed; }
plat::Window* GetMainWindow() { return g_state.main_window; }
int IsWindowMode() { return g_window_mode; }
int StoreWindowModeFlag(int flag) {
  g_window_mode = flag;
  WriteLogLine(flag == 1 ? "ウインドウモードフラグが立てられました\n" : "ウインドウモードフラグが倒されました\n");
  return 0;
}

int GetDesktopState(int* width, int* height, int* colour_bits) {
  int w, h, bits;
  if (IsLibraryStarted() || g_state.main_window != nullptr) {
    w = g_state.desktop_width;
    h = g_state.desktop_height;
    bits = g_state.desktop_colour_bits;
  } else {
    plat::GetDesktopSize(&w, &h);
    bits = plat::GetDesktopColorBits();
  }
  if (width != nullptr) *width = w;
  if (height != nullptr) *height = h;
  if (colour_bits != nullptr) *colour_bits = bits;
  return 0;
}

int IsAppActive() { return g_state.active; }
int GetRunInactiveFlag() { return g_run_while_inactive; }
int SetRunInactiveFlag(int flag) {
  g_run_while_inactive = flag;
  return 0;
}
int IsQuitRequested() { return g_state.close_requested; }

double GetWindowScale(double* x, double* y) {
  double rx = g_scale_x > 0.0 ? g_scale_x : 1.0;
  double ry = g_scale_y > 0.0 ? g_scale_y : 1.0;
  if (g_window_mode == 0) rx = ry = 1.0;
  if (x != nullptr) *x = rx;
  if (y != nullptr) *y = ry;
  return rx;
}

int SetWindowScale(double x, double y) {
  if (y <= 0.0) y = x;
  if (x == g_scale_x && y == g_scale_y) return 0;
  g_scale_x = x > 0.0 ? x : 1.0;
  g_scale_y = y > 0.0 ? y : 1.0;
  if (g_window_mode == 1) ApplyWindowStyle();
  return 0;
}

int SetWindowTitle(const char* text) {
  CopyText(g_title, sizeof g_title, text);
  if (g_state.main_window != nullptr) plat::SetWindowText(g_state.main_window, g_title);
  return 0;
}

const char* GetWindowClassName() { return g_class_name; }
const char* GetWindowTitle() { return g_title; }

int SetDesktopComposition(int enable) {
  if (enable != g_state.desktop_composition) {
    auto dwm = reinterpret_cast<int32_t (*)(uint32_t)>(GetLoadedFunction("DwmEnableComposition"));
    if (dwm != nullptr) dwm(static_cast<uint32_t>(enable));
  }
  g_state.desktop_composition = enable;
  return 0;
}

void ResetWindowSettings() {
  std::memset(&g_state, 0, sizeof g_state);
  g_window_mode = 0;
  g_run_while_inactive = 0;
  g_scale_x = g_scale_y = 0.0;
  g_title[0] = '\0';
  g_class_name[0] = '\0';
}

void GetWindowScreenSize(int* width, int* height) {
  GetScreenSize(width, height);
}
