// lib/system/window_mode.cpp - window or full-screen mode, the window styles
// and size of each mode, the cursor's visibility and the mouse position in
// the program's screen coordinates.
#include "lib/core/log.h"
#include "lib/system/window_system.h"
#include "lib/graphics/graphics_device.h"

namespace {

constexpr uint32_t kWindowStyle = 0x80CA0000u;
constexpr uint32_t kWindowExStyle = 0x00000300u;
constexpr uint32_t kFullScreenStyle = 0x80000000u;
constexpr uint32_t kFullScreenExStyle = 0x00000008u;

void ClientSize(int* width, int* height) {
  int sw, sh;
  GetWindowScreenSize(&sw, &sh);
  double sx, sy;
  GetWindowScale(&sx, &sy);
  *width = static_cast<int>(sw * sx);
  *height = static_cast<int>(sh * sy);
}

}  // namespace

int ScreenSizeIsDisplayMode() {
  int width, height;
  GetScreenSize(&width, &height);
  int count = GetDisplayModeCount();
  for (int i = 0; i < count; ++i) {
    DisplayModeRecord record;
    GetDisplayModeRecord(&record, i);
    if (record.width == width && record.height == height) return 1;
  }
  return 0;
}

int ChangeWindowMode(int flag) {
  WriteLogLine("ChangeWindowMode実行 \n");
  if (flag == IsWindowMode()) return 0;
  WindowSystemState& s = WindowState();
  if (flag == 0 && s.main_window != nullptr) {
    int width, height;
    GetScreenSize(&width, &height);
    bool small = width == 320 && height == 240;
    if (!ScreenSizeIsDisplayMode() && !(small && GetHardwareRenderFlag())) return -1;
    if (small) {
      Screen().emulate_320x240 = 1;
      Screen().width = 640;
      Screen().height = 480;
    }
  }
  s.visible_style = 1;
  StoreWindowModeFlag(flag);
  if (s.main_window == nullptr) return 0;
  s.mode_changing = 1;
  ApplyWindowStyle();
  int r = ChangeScreenMode(-1, -1, -1, 1, -1);
  s.mode_changing = 0;
  return r;
}

int ApplyWindowStyle() {
  WindowSystemState& s = WindowState();
  plat::Window* window = s.main_window;
  if (window == nullptr) return 0;
  int sw, sh;
  GetWindowScreenSize(&sw, &sh);
  if (IsWindowMode() == 1) {
    WriteLogLine("ウインドウスタイルをウインドウモード用に変更します... ");
    uint32_t style = kWindowStyle | (s.visible_style ? plat::kWsVisible : 0u);
    plat::SetWindowExStyle(window, kWindowExStyle);
    plat::SetWindowStyle(window, style);
    int cw, ch;
    ClientSize(&cw, &ch);
    plat::Rect r = {0, 0, cw, ch};
    plat::AdjustWindowRectEx(&r, style, kWindowExStyle);
    int w = r.right - r.left, h = r.bottom - r.top;
    r.left += (s.desktop_width - w) / 2;
    r.top += (s.desktop_height - h) / 2;
    plat::SetWindowPos(window, plat::ZOrder::kNoTopmost, r.left, r.top, w, h, 0);
    plat::SetWindowPos(window, plat::ZOrder::kTop, r.left, r.top, w, h, 0);
    plat::Rect client{};
    plat::GetClientRect(window, &client);
    int left = 0, top = 0;
    plat::ClientToScreen(window, &left, &top);
    s.client_rect_on_screen = {left, top, left + client.right, top + client.bottom};
    if (s.client_rect_on_screen.left < 0 || s.client_rect_on_screen.top < 0) {
      int dx = s.client_rect_on_screen.left < 0 ? -s.client_rect_on_screen.left : 0;
      int dy = s.client_rect_on_screen.top < 0 ? -s.client_rect_on_screen.top : 0;
      r.left += dx;
      r.top += dy;
      s.client_rect_on_screen.left += dx;
      s.client_rect_on_screen.right += dx;
      s.client_rect_on_screen.top += dy;
      s.client_rect_on_screen.bottom += dy;
      plat::SetWindowPos(window, plat::ZOrder::kTop, r.left, r.top, w, h, 0);
    }
    UpdateCursorVisible(1);
    WriteLogLine("完了\n");
  } else {
    WriteLogLine("ウインドウスタイルをフルスクリーンモード用に変更します... ");
    plat::SetWindowExStyle(window, kFullScreenExStyle);
    plat::SetWindowStyle(window, kFullScreenStyle | plat::kWsVisible);
    s.client_rect_on_screen = {0, 0, sw, sh};
    plat::ShowWindow(window, plat::kSwShowNormal);
    plat::UpdateWindow(window);
    plat::SetWindowPos(window, plat::ZOrder::kTopmost, 0, 0, sw, sh, plat::kSwpNoRedraw);
    UpdateCursorVisible(0);
    WriteLogLine("完了\n");
  }
  plat::SetForegroundWindow(window);
  plat::PostMessage(window, plat::kWmSetCursor, 0, 0);
  return 0;
}

int FitWindowToClient() {
  WindowSystemState& s = WindowState();
  plat::Window* window = s.main_window;
  int cw, ch;
  ClientSize(&cw, &ch);
  plat::Rect window_rect, client;
  if (!plat::GetWindowRect(window, &window_rect) || !plat::GetClientRect(window, &client)) return 0;
  s.client_rect_on_screen.right = s.client_rect_on_screen.left + cw;
  s.client_rect_on_screen.bottom = s.client_rect_on_screen.top + ch;
  int w = (window_rect.right - window_rect.left) - client.right + cw;
  int h = (window_rect.bottom - window_rect.top) - client.bottom + ch;
  if (w != window_rect.right - window_rect.left || h != window_rect.bottom - window_rect.top) {
    plat::MoveWindow(window, window_rect.left, window_rect.top, w, h, true);
  }
  if (IsWindowMode() == 1 && s.visible_style == 0) {
    s.visible_style = 1;
    ApplyWindowStyle();
  }
  return 0;
}

int UpdateCursorVisible(int want) {
  WindowSystemState& s = WindowState();
  if (want != -1) s.cursor_wanted = want;
  int shown = s.cursor_wanted == 1 ? 1 : 0;
  if (want != -1 && shown == s.cursor_shown) return 0;
  if (shown) {
    while (plat::ShowCursor(true) < 0) {
    }
  } else {
    while (plat::ShowCursor(false) >= 0) {
    }
  }
  plat::PostMessage(s.main_window, plat::kWmSetCursor, 0, 0);
  s.cursor_shown = shown;
  return 0;
}

int GetMouseClientPos(int* x, int* y) {
  const WindowSystemState& s = WindowState();
  int cx, cy;
  plat::GetCursorPos(&cx, &cy);
  if (IsWindowMode() == 1) {
    double sx, sy;
    GetWindowScale(&sx, &sy);
    cx = static_cast<int>((cx - s.client_rect_on_screen.left) / sx);
    cy = static_cast<int>((cy - s.client_rect_on_screen.top) / sy);
  }
  if (x != nullptr) *x = cx;
  if (y != nullptr) *y = cy;
  return 0;
}

int GetDrawAreaScreenRect(int32_t rect[4]) {
  const WindowSystemState& s = WindowState();
  // The window has no tool bar, so the drawing area is the client area.
  rect[0] = s.client_rect_on_screen.left;
  rect[1] = s.client_rect_on_screen.top;
  rect[2] = s.client_rect_on_screen.right;
  rect[3] = s.client_rect_on_screen.bottom;
  return 0;
}

int UpdateMenuAutoShow() {
  if (IsWindowMode() == 1) return 0;
  int x, y;
  GetMouseClientPos(&x, &y);
  if (y > 60) UpdateCursorVisible(-1);
  return 0;
}

int SetMenuVisible(int) { return 0; }
int GetMenuItemName(int, char*) { return -1; }
int GetToolBarButtonIndex(int) { return -1; }
int DeleteToolBarButton(int) { return -1; }
