// lib/graphics/screen_mode.cpp - the screen mode (size, colour bits, refresh
// rate), its change with the rebuild of the graphics system and its
// fallbacks, the display-mode list and the measured refresh period.
#include <cstring>
#include <vector>

#include "lib/core/log.h"
#include "lib/graphics/graphics_device.h"
#include "lib/system/window_system.h"
#include "lib/graphics/graphics_links.h"
#include "platform/kernel/kernel.h"
#include "platform/window/window.h"

namespace {

ScreenSettings g_screen = {0, 0, 0, 0, 0, 0, -1};
DisplayModeRecord* g_modes = nullptr;
int g_mode_count = 0;

int64_t MicroNow() {
  int64_t f = plat::QueryPerformanceFrequency();
  return f > 0 ? int64_t((__int128)plat::QueryPerformanceCounter() * 1000000 / f) : 0;
}

struct LogIndent {
  LogIndent() { LogIndentIn(); }
  ~LogIndent() { LogIndentOut(); }
};

}  // namespace

ScreenSettings& Screen() { return g_screen; }

int ConfigureScreenMode(int width, int height, int colour_bits, int refresh_rate) {
  if (width <= 0 || height <= 0 || (colour_bits != 8 && colour_bits != 16 && colour_bits != 32)) return -1;
  if (!IsLibraryStarted()) {
    g_screen.width = width;
    g_screen.height = height;
    g_screen.colour_bits = colour_bits;
    g_screen.refresh_rate = refresh_rate;
    return 0;
  }
  ScreenSettings before = g_screen;
  ChangeScreenMode(width, height, colour_bits, 0, refresh_rate);
  const ScreenSettings& now = g_screen;
  if (now.width == width && now.height == height && now.colour_bits == colour_bits && now.refresh_rate == refresh_rate)
    return 0;
  if (now.width == before.width && now.height == before.height && now.colour_bits == before.colour_bits &&
      now.refresh_rate == before.refresh_rate)
    return -1;
  if (now.width == 640 && now.height == 480 && now.colour_bits == 16 && now.refresh_rate == 0) return -2;
  return -1;
}

int ChangeScreenMode(int width, int height, int colour_bits, int force, int refresh_rate) {
  FlushVertexBatch();
  bool window_mode = IsWindowMode() != 0;
  if (width == -1) width = g_screen.width;
  if (height == -1) height = g_screen.height;
  if (colour_bits == -1) colour_bits = g_screen.colour_bits;
  if (refresh_rate == -1) refresh_rate = g_screen.refresh_rate;
  if (!window_mode && width == 320 && height == 240) {
    g_screen.emulate_320x240 = 1;
    width = 640;
    height = 480;
  } else if (window_mode && force == 1 && g_screen.emulate_320x240 && g_screen.width == 640 && g_screen.height == 480) {
    width = 320;
    height = 240;
    g_screen.emulate_320x240 = 0;
  } else {
    g_screen.emulate_320x240 = 0;
  }
  if (width == g_screen.width && height == g_screen.height && colour_bits == g_screen.colour_bits &&
      refresh_rate == g_screen.refresh_rate && force == 0)
    return 0;
  WriteLogLine("画面モード変更処理を開始します\n");
  LogIndent indent;
  char font_face[256] = {0};
  int font_size = 0, font_thickness = 0;
  bool kept_font = GraphicsDevice().started && GetDefaultFontSettings(font_face, &font_size, &font_thickness) == 0;
  ScreenSettings noted = g_screen;
  if (!IsLibraryStarted() && !IsLibraryStarting()) {
    g_screen.width = width;
    g_screen.height = height;
    g_screen.colour_bits = colour_bits;
    g_screen.refresh_rate = refresh_rate;
    return 0;
  }
  if (!window_mode && !IsDisplayModeAvailable(width, height, colour_bits)) return 0;
  auto restart = [&](int w, int h, int bits, int rate) {
    if (GraphicsDevice().started) {
      TerminateGraphicsSystem();
    }
    g_screen.width = w;
    g_screen.height = h;
    g_screen.colour_bits = bits;
    g_screen.refresh_rate = rate;
    return GraphicsSystemStart();
  };
  if (restart(width, height, colour_bits, refresh_rate) != 0) {
    bool ok = false;
    if (width == 320 && height == 240) {
      SetDisplayEmulationFlag(1);
      ok = restart(640, 480, colour_bits, refresh_rate) == 0;
    }
    if (!ok) ok = restart(noted.width, noted.height, noted.colour_bits, noted.refresh_rate) == 0;
    if (!ok) ok = restart(640, 480, 16, 0) == 0;
    if (!ok) {
      FatalErrorExit("予期せぬ画面モード変更不能現象が起きました2\n");
    }
  }
  if (window_mode) ApplyWindowStyle();
  if (kept_font) SetDefaultFontSize(font_face, font_size, font_thickness);
  WriteLogLine("画面モード変更処理は正常に終了しました\n");
  PumpWindowMessages();
  SetDrawTarget(GetDrawTarget());
  return 0;
}

int ChangeDisplayResolution() {
  WriteLogLineFmt("画面モードの変更処理を開始します %u x %u  %u bit ", unsigned(g_screen.width),
                  unsigned(g_screen.height), unsigned(g_screen.colour_bits));
  LogIndent indent;
  if (g_screen.colour_bits != 16 && g_screen.colour_bits != 32) return -1;
  WriteLogLine("画面解像度を変更します... ");
  plat::DisplayMode mode = {g_screen.width, g_screen.height, g_screen.colour_bits, g_screen.refresh_rate};
  bool ok = plat::ChangeDisplayMode(&mode);
  if (!ok) {
    // Retried without the refresh rate, which is given up for good.
    g_screen.refresh_rate = 0;
    mode.refresh = 0;
    ok = plat::ChangeDisplayMode(&mode);
  }
  if (!ok && g_screen.width == 320 && g_screen.height == 240) {
    g_screen.width = 640;
    g_screen.height = 480;
    SetDisplayEmulationFlag(1);
    mode.width = 640;
    mode.height = 480;
    ok = plat::ChangeDisplayMode(&mode);
    if (ok) ApplyWindowStyle();
  }
  if (ok) {
    WriteLogLine("成功しました\n");
    return 0;
  }
  return WriteLogLine("画面モードの変更に失敗しました\n");
}

int MeasureRefreshPeriod() {
  g_screen.refresh_period = -1;
  plat::DirectDraw7* dd = GetDirectDrawObject();
  if (dd) {
    dd->WaitForVerticalBlank(plat::DDWAITVB_BLOCKBEGIN, nullptr);
    int64_t previous_time = MicroNow();
    int64_t previous_interval = 0, run_sum = 0;
    int run_length = 0;
    for (int i = 0; i < 60; i++) {
      dd->WaitForVerticalBlank(plat::DDWAITVB_BLOCKBEGIN, nullptr);
      int64_t now = MicroNow();
      int64_t interval = now - previous_time;
      previous_time = now;
      int64_t diff = interval - previous_interval;
      if (diff < 0) diff = -diff;
      if (diff < 1000) {
        run_sum += interval;
        run_length++;
      } else {
        run_sum = 0;
        run_length = 0;
      }
      previous_interval = interval;
      bool done = run_length >= 10;
      if (done) g_screen.refresh_period = run_sum / 10;
      plat::Sleep(5);
      if (done) break;
    }
  }
  if (dd) WaitVBlankPaced();
  return 0;
}

int GetLogicalScreenSize(int* width, int* height, int* colour_bits) {
  bool emulated = g_screen.emulate_320x240 || g_screen.display_emulation;
  if (width) *width = emulated ? 320 : (g_screen.width ? g_screen.width : 640);
  if (height) *height = emulated ? 240 : (g_screen.height ? g_screen.height : 480);
  if (colour_bits) *colour_bits = g_screen.colour_bits ? g_screen.colour_bits : 16;
  return 0;
}

int GetScreenSize(int* width, int* height) {
  if (width) *width = g_screen.width ? g_screen.width : 640;
  if (height) *height = g_screen.height ? g_screen.height : 480;
  return 0;
}

int GetScreenColorBits() { return g_screen.colour_bits ? g_screen.colour_bits : 16; }

int IsFullScreenMode() { return IsWindowMode() ? 0 : 1; }

int SetDisplayEmulationFlag(int flag) {
  g_screen.display_emulation = flag;
  return 0;
}

void EnumDisplayModes(DisplayModeRecord** list, int* count) {
  if (*list) plat::HeapFree(*list);
  *list = nullptr;
  *count = 0;
  std::vector<plat::DisplayMode> modes = plat::GetDisplayModes();
  int n = 0;
  for (const auto& m : modes) n += m.bits >= 16;
  if (n == 0) return;
  auto* out = static_cast<DisplayModeRecord*>(plat::HeapAlloc(sizeof(DisplayModeRecord) * size_t(n)));
  if (!out) return;
  int i = 0;
  for (const auto& m : modes)
    if (m.bits >= 16 && i < n) out[i++] = {m.width, m.height, m.bits, m.refresh};
  *list = out;
  *count = i;
}

void FreeDisplayModeList() {
  if (g_modes) plat::HeapFree(g_modes);
  g_modes = nullptr;
  g_mode_count = 0;
}

int GetDisplayModeCount() {
  if (!g_modes) EnumDisplayModes(&g_modes, &g_mode_count);
  return g_mode_count;
}

DisplayModeRecord* GetDisplayModeRecord(DisplayModeRecord* out, int index) {
  if (!out) return out;
  GetDisplayModeCount();
  if (index < 0 || index >= g_mode_count) *out = {-1, -1, -1, -1};
  else *out = g_modes[index];
  return out;
}

int IsDisplayModeAvailable(int width, int height, int colour_bits) {
  int n = GetDisplayModeCount();
  for (int i = 0; i < n; i++)
    if (g_modes[i].width == width && g_modes[i].height == height && g_modes[i].colour_bits == colour_bits) return 1;
  return 0;
}

int SetDeviceDialogBoxMode(int flag) {
  GraphicsDeviceState& d = GraphicsDevice();
  if (d.direct3d_mode && d.device) {
    d.device->SetDialogBoxMode(0);
    if (flag) d.device->SetDialogBoxMode(1);
  }
  return 0;
}

int SetDialogBoxModeAfterScene(int flag) {
  GraphicsDeviceState& d = GraphicsDevice();
  if (d.device) {
    if (d.scene_open) {
      d.device->EndScene();
      d.scene_open = 0;
    }
    d.device->SetDialogBoxMode(flag);
  }
  return 0;
}
