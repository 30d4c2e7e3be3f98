// lib/system/window_proc.cpp - the main window's procedure, activation changes
// and the window teardown at the library end.
#include <cstring>
#include <vector>

#include "lib/system/input.h"
#include "lib/core/log.h"
#include "lib/core/memory.h"
#include "lib/system/network.h"
#include "lib/system/text_input.h"
#include "lib/system/window_system.h"
#include "lib/graphics/graphic.h"
#include "lib/graphics/graphics_device.h"
#include "lib/graphics/mask.h"
#include "lib/sound/movie.h"
#include "lib/sound/sound.h"
#include "platform/audio/mci.h"
#include "platform/window/imm.h"
#include "platform/kernel/kernel.h"

namespace {

// The two notifications of the keyboard-hook library.
constexpr uint32_t kWmKeyboardHook1 = 0x046F;
constexpr uint32_t kWmKeyboardHook2 = 0x0470;

void RefreshWindowRect(plat::Window* window) {
  plat::GetWindowRect(window, &WindowState().window_rect);
}

void RequestClose() {
  WindowSystemState& s = WindowState();
  if (s.close_requested == 0) {
    s.close_requested = 1;
    plat::PostMessage(s.main_window, plat::kWmClose, 0, 0);
  }
}

void HideCursorForMessage() {
  WindowSystemState& s = WindowState();
  if (s.cursor_shown != 0) return;
  plat::SetCursorVisibleShape(false);
  while (plat::ShowCursor(false) >= 0) {
  }
}

// Paint in window mode. Before the library is started the client area is
// black; once it runs, the screen contents come back through the flip.
void Paint(plat::Window* window) {
  plat::Rect paint;
  if (!plat::BeginPaint(window, &paint)) return;
  WindowSystemState& s = WindowState();
  if (IsWindowMode() == 1) {
    s.painting = 1;
    if (!s.active && IsInactiveScreenImageSet() && !GetRunInactiveFlag()) {
      if (!s.minimised) DrawInactiveScreenImage(nullptr);
    } else if (!IsLibraryStarted()) {
      int w = paint.right - paint.left, h = paint.bottom - paint.top;
      if (w > 0 && h > 0) {
        std::vector<uint32_t> black(static_cast<size_t>(w) * static_cast<size_t>(h), 0);
        plat::PresentToWindow(window, black.data(), w, h, w * 4, nullptr, &paint);
      }
    }
    s.painting = 0;
  }
  plat::EndPaint(window);
}

void DisplayChange(uintptr_t wparam, intptr_t lparam) {
  WindowSystemState& s = WindowState();
  if (IsWindowMode() != 1 || s.mode_changing) return;
  int bits = static_cast<int>(wparam);
  int width = static_cast<int>(lparam & 0xFFFF);
  int height = static_cast<int>((lparam >> 16) & 0xFFFF);
  int screen_w, screen_h, screen_bits;
  GetLogicalScreenSize(&screen_w, &screen_h, &screen_bits);
  bool differ = bits != screen_bits || width != screen_w || height != screen_h;
  if (!differ) return;
  if (bits == 24 || (bits != screen_bits && bits == 8) || screen_w > width || screen_h > height) {
    WriteLogLine("復元関数が登録されていないためか画面が２４ビットカラーに変更されたため終了します\n");
    WriteLogLine("またはスクリーンが小さすぎるためか色ビット数の違いが大きいためか終了します\n");
    RequestClose();
  }
}

}  // namespace

intptr_t MainWindowProc(plat::Window* window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  WindowSystemState& s = WindowState();
  switch (message) {
    case plat::kWmClose:
      WriteLogLine("ウインドウを閉じようとしています\n");
      plat::DestroyWindow(window);
      return 0;
    case plat::kWmDestroy:
      WriteLogLine("ウインドウが破棄されようとしています\n");
      s.destroy_received = 1;
      plat::PostQuitMessage(0);
      s.window_destroyed = 1;
      WriteLogLine("ソフトを終了する準備が整いました\n");
      break;
    case plat::kWmMove:
      RefreshWindowRect(window);
      if (IsWindowMode() == 1 && s.mode_changing == 0) OnWindowMove(lparam);
      break;
    case plat::kWmSize:
      RefreshWindowRect(window);
      s.minimised = wparam == 1;
      if (wparam != 2) FitWindowToClient();
      break;
    case plat::kWmActivateApp:
      if (wparam != 0) break;
      [[fallthrough]];
    case plat::kWmActivate:
      if (s.inside_pump == 1 && s.creating_window == 0 && s.activation_count < kActivationQueueSize) {
        s.activation_queue[s.activation_write] = static_cast<uint32_t>(wparam);
        s.activation_write = (s.activation_write + 1) % kActivationQueueSize;
        ++s.activation_count;
      } else {
        OnActivateApp(wparam);
      }
      break;
    case plat::kWmPaint:
      Paint(window);
      return 0;
    case plat::kWmSetCursor:
    case plat::kWmMouseMove:
    case plat::kWmLButtonDown:
    case plat::kWmLButtonUp:
    case plat::kWmRButtonDown:
    case plat::kWmRButtonUp:
    case plat::kWmMButtonDown:
    case plat::kWmMButtonUp:
      if (message == plat::kWmLButtonDown) LogMouseClick(1);
      if (message == plat::kWmRButtonDown) LogMouseClick(2);
      if (message == plat::kWmMButtonDown) LogMouseClick(4);
      HideCursorForMessage();
      break;
    case plat::kWmDisplayChange:
      DisplayChange(wparam, lparam);
      break;
    case plat::kWmNcHitTest:
      // In full screen the top rows act as a menu bar.
      if (GraphicsDevice().direct3d_mode && IsWindowMode() == 0 && static_cast<int16_t>(lparam >> 16) < 8) {
        return 5;
      }
      break;
    case plat::kWmSysCommand:
      if ((wparam & 0xFFF0) == plat::kScScreenSave || (wparam & 0xFFF0) == plat::kScMonitorPower) return 1;
      break;
    case plat::kWmMouseWheel:
      s.wheel_vertical += static_cast<int16_t>(wparam >> 16) > 0 ? 1 : -1;
      break;
    case plat::kWmMouseHWheel:
      s.wheel_horizontal += static_cast<int16_t>(wparam >> 16) > 0 ? 1 : -1;
      break;
    case plat::kWmKeyDown:
      if (IsCharBufferFull() == 0) {
        uint8_t code = ControlCodeOfKey(static_cast<int>(wparam));
        if (code != 0) PushInputChar(code);
      }
      break;
    case plat::kWmChar: {
      uintptr_t c = wparam & 0xFF;
      if (c == 10) {
        PushInputChar(13);
      } else if (c >= 0x20 || c == 8 || c == 9 || c == 13 || c == 16 || c == 27 || c == 3 || c == 22 ||
                 c == 24 || c == 1) {
        PushInputChar(static_cast<uint8_t>(c));
      }
      break;
    }
    case plat::kWmImeStartComposition:
    case plat::kWmImeEndComposition:
    case plat::kWmImeComposition:
    case plat::kWmImeSetContext:
    case plat::kWmImeNotify:
      return OnImeMessage(message, wparam, window, lparam);
    case kWmKeyboardHook1:
      SetKeyboardHookFlag(0, wparam == 1 ? 1 : 0);
      break;
    case kWmKeyboardHook2:
      SetKeyboardHookFlag(1, wparam == 1 ? 1 : 0);
      break;
    case plat::kWmMciNotify:
      OnMciMidiNotify();
      break;
    case kNetworkSocketMessage:
      return OnSocketEvent(lparam, wparam);
    case plat::kWmMoving:
      RefreshWindowRect(window);
      if (IsWindowMode() == 0 && lparam != 0) *reinterpret_cast<plat::Rect*>(lparam) = s.window_rect;
      break;
    default:
      break;
  }
  return plat::DefWindowProc(window, message, wparam, lparam);
}


namespace {

// The rebuild restarts input, which pumps messages; the pump waits while the
// application is inactive, so the rebuild runs as active already. The flag
// goes back afterwards, for the pads' vibration reads the state left behind.
void RestoreDeviceWhileActivating(WindowSystemState& s) {
  const int was_active = s.active;
  s.active = 1;
  RestoreGraphicsDeviceDefault();
  s.active = was_active;
}

}  // namespace

int OnActivateApp(uintptr_t wparam) {
  WindowSystemState& s = WindowState();
  int act = (wparam & 0xFFFF) != 0 ? 1 : 0;
  if (s.creating_window == 1) {
    s.active = act;
    return 0;
  }
  // Movies stop with the application unless it is told to run inactive.
  const bool movies_follow = GetRunInactiveFlag() == 0;
  GraphicsDeviceState& d = GraphicsDevice();
  const bool full_screen = IsWindowMode() == 0;
  if (act == 0) {
    // Whether the graphics were up is taken before their release below.
    const bool graphics_up = GetDirectDrawObject() != nullptr;
    if (full_screen) {
      // A full-screen program gives the display back: its device goes, the
      // desktop gets its own mode again and the window is minimised.
      TerminateGraphics();
      if (plat::GetSystemInfo().os_version_code > 0x107 || !d.direct3d_mode) {
        plat::ChangeDisplayMode(nullptr);
        plat::ShowWindow(s.main_window, plat::kSwMinimize);
      }
    }
    if (full_screen && graphics_up) {
      if (s.desktop_composition == 0) SetDesktopComposition(1);
      if (!IsRestoreCallbackSet()) {
        WriteLogLine("復元関数が登録されていないため終了します\n");
        if (s.close_requested == 0) {
          s.close_requested = 1;
          plat::PostMessage(s.main_window, plat::kWmClose, 0, 0);
        }
        return -1;
      }
      PauseAllMovies();
    } else {
      if (movies_follow) PauseAllMovies();
      ReacquireInputDevices();
    }
    // A deactivated window keeps showing its last frame, or the
    // inactive-screen image when one is set.
    if (IsInactiveScreenImageSet()) DrawInactiveScreenImage(nullptr);
  } else {
    ImeState& ime = GetImeState();
    if (ime.enabled == 1 && ime.open == 1) ime.restore_step = 1;
    if (!full_screen && d.started && d.direct3d_mode && d.device) {
      // A device that was lost while inactive is rebuilt, with every graphic
      // handle kept.
      EndDeviceScene();
      if (d.device->TestCooperativeLevel() != plat::D3D_OK) RestoreDeviceWhileActivating(s);
      if (movies_follow) ResumeAllMovies();
      ReacquireInputDevices();
    } else if (full_screen && IsLibraryStarted()) {
      // Back from the desktop: the screen mode and the device return, unless
      // the window is still minimised.
      if (((wparam >> 16) & 0xFFFF) == 0) {
        // The activation says the window is no longer minimised, ahead of
        // its size message.
        s.minimised = 0;
        RestoreDeviceWhileActivating(s);
      }
      ResumeAllMovies();
      ReacquireInputDevices();
    } else {
      if (movies_follow) ResumeAllMovies();
      ReacquireInputDevices();
    }
  }
  // Vibration follows the state the window leaves.
  ApplyPadVibration();
  s.active = act;
  return 0;
}

int OnWindowMove(intptr_t lparam) {
  WindowSystemState& s = WindowState();
  plat::Rect client;
  if (!plat::GetClientRect(s.main_window, &client)) return 0;
  int x = static_cast<int16_t>(lparam & 0xFFFF);
  int y = static_cast<int16_t>((lparam >> 16) & 0xFFFF);
  s.client_rect_on_screen = {x, y, x + client.right, y + client.bottom};
  if (!GraphicsDevice().started) return 0;
  // The front screen is shown straight from the window's place on the
  // desktop: the mask target follows it.
  if (GetDrawTarget() == -4) {
    UpdateMaskDrawTarget(0);
    UpdateMaskDrawTarget(GetMaskScreenUseFlag());
  }
  const int* clip = Draw().requested_clip;
  SetDrawClipRect(clip[0], clip[1], clip[2], clip[3]);
  return 0;
}

int ForceForegroundWindow(plat::Window* window, int topmost) {
  plat::SetForegroundWindow(window);
  if (topmost == 1) {
    plat::SetWindowPos(WindowState().main_window, plat::ZOrder::kTopmost, 0, 0, 0, 0,
                       plat::kSwpNoMove | plat::kSwpNoSize | plat::kSwpNoRedraw);
  }
  return 0;
}

int LogMouseClick(int button) {
  WindowSystemState& s = WindowState();
  if (s.click_count >= kClickLogSize) return 0;
  int x, y;
  GetMouseClientPos(&x, &y);
  s.clicks[s.click_count++] = {button, x, y};
  return 0;
}

int FreeDroppedFileNames() {
  WindowSystemState& s = WindowState();
  for (int i = 0; i < s.dropped_count; ++i) {
    RR_FREE(s.dropped_files[i]);
    s.dropped_files[i] = nullptr;
  }
  s.dropped_count = 0;
  return 0;
}

int TeardownWindow() {
  WindowSystemState& s = WindowState();
  if (s.main_window == nullptr) return 0;
  plat::SetScreenSaverActive(true);
  auto enable_ime = reinterpret_cast<int (*)(plat::Window*, int)>(GetLoadedFunction("WINNLSEnableIME"));
  if (enable_ime != nullptr) enable_ime(s.main_window, 1);
  s.cursor_wanted = 1;
  if (s.cursor_shown == 0) {
    while (plat::ShowCursor(true) < 0) {
    }
    plat::PostMessage(s.main_window, plat::kWmSetCursor, 0, 0);
    s.cursor_shown = 1;
  }
  if (s.close_requested == 0) {
    s.close_requested = 1;
    plat::PostMessage(s.main_window, plat::kWmClose, 0, 0);
    while (PumpWindowMessages() == 0 && s.destroy_received == 0) {
    }
    plat::UnregisterWindowClass(GetWindowClassName());
  }
  DeleteAllKeyStringInputs();
  ClearInactiveScreenImage();
  FreeDroppedFileNames();
  auto end_period = reinterpret_cast<uint32_t (*)(uint32_t)>(GetLoadedFunction("timeEndPeriod"));
  if (end_period != nullptr) end_period(1);
  return 0;
}
