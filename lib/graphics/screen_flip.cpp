// lib/graphics/screen_flip.cpp - the flip at the end of each frame, the
// paced vertical-sync wait, the scene bracket and the sub back buffer.
#include "lib/graphics/graphics_device.h"

#include <algorithm>
#include <cstring>

#include "lib/graphics/graphic.h"
#include "lib/core/log.h"
#include "lib/system/window_system.h"
#include "lib/graphics/graphics_links.h"
#include "lib/graphics/soft_draw.h"
#include "platform/kernel/kernel.h"
#include "platform/window/window.h"

namespace {

int g_flip_running = 0;
int64_t g_last_vblank = 0;

int64_t MicroNow() {
  int64_t f = plat::QueryPerformanceFrequency();
  return f > 0 ? int64_t((__int128)plat::QueryPerformanceCounter() * 1000000 / f) : 0;
}

bool Emulated() {
  const ScreenSettings& s = Screen();
  return (s.emulate_320x240 || s.display_emulation) && s.width == 640 && s.height == 480;
}

}  // namespace

int64_t GetLastVerticalBlank() { return g_last_vblank; }

void ComputeFlipRects(plat::RECT* source, plat::RECT* dest) {
  int w = 0, h = 0;
  GetScreenSize(&w, &h);
  bool emulated = Emulated();
  *source = emulated ? plat::RECT{0, 0, 320, 240} : plat::RECT{0, 0, w, h};
  *dest = {0, 0, w, h};
  if (IsWindowMode() && !emulated) {
    double sx = 1.0, sy = 1.0;
    GetWindowScale(&sx, &sy);
    dest->right = int32_t(w * sx);
    dest->bottom = int32_t(h * sy);
  }
}

void BeginDeviceScene() {
  GraphicsDeviceState& d = GraphicsDevice();
  if (!d.device || d.scene_open) return;
  d.device->BeginScene();
  d.scene_open = 1;
  ClearLastDrawWords();
}

void EndDeviceScene() {
  GraphicsDeviceState& d = GraphicsDevice();
  if (!d.device || !d.scene_open) return;
  d.device->EndScene();
  d.scene_open = 0;
}

void WaitVBlankPaced() {
  plat::DirectDraw7* dd = GetDirectDrawObject();
  if (!dd) return;
  int64_t period = Screen().refresh_period;
  int64_t threshold = period >= 0 ? period - 3000 : 4000;
  if (MicroNow() - g_last_vblank >= threshold) {
    dd->WaitForVerticalBlank(plat::DDWAITVB_BLOCKBEGIN, nullptr);
    g_last_vblank = MicroNow();
    plat::Sleep(0);
    return;
  }
  // Sleep most of the frame rather than spin, then catch the blank.
  plat::Sleep(0);
  while (MicroNow() - g_last_vblank < threshold) plat::Sleep(1);
  dd->WaitForVerticalBlank(plat::DDWAITVB_BLOCKBEGIN, nullptr);
  g_last_vblank = MicroNow();
}

int BeginSubBackBuffer() {
  GraphicsDeviceState& d = GraphicsDevice();
  if (d.sub_back_buffer) return 0;
  FlushVertexBatch();
  EndDeviceScene();
  if (CreateSubBackBuffer() != 0) return -1;
  d.device->StretchRect(d.back_buffer, nullptr, d.sub_back_buffer, nullptr, plat::D3DTEXF_NONE);
  SetRenderTargetSurface(d.sub_back_buffer, 1);
  return 0;
}

int FlipScreenCore() {
  if (g_flip_running) return 0;
  GraphicsDeviceState& d = GraphicsDevice();
  if (!IsLibraryStarted() || GetWindowDestroyedFlag()) return -1;
  ApplyPendingMaskRect();
  if (GetScreenLogLineCount() > 0) {
    g_flip_running = 1;
    DrawScreenLogOverFrame();
    g_flip_running = 0;
  }
  plat::RECT source, dest;
  ComputeFlipRects(&source, &dest);
  bool vblank_on = !GraphicsConfig().vblank_wait_off;
  if (d.direct3d_mode) {
    FlushVertexBatch();
    EndDeviceScene();
    if (d.sub_back_buffer &&
        d.device->StretchRect(d.sub_back_buffer, nullptr, d.back_buffer, nullptr, plat::D3DTEXF_NONE) != 0)
      return -1;
    if (!d.swap_chain) return 0;
    int64_t t0 = MicroNow();
    plat::Window* window = GetMainWindow();
    if (!WindowState().minimised) {
      plat::HRESULT hr;
      if (IsWindowMode() || Emulated()) hr = d.swap_chain->Present(&source, &dest, window, nullptr, 0);
      else hr = d.swap_chain->Present(nullptr, nullptr, window, nullptr, 0);
      if (hr != plat::D3D_OK) return -1;
    }
    // The device did not wait for the blank itself: pace here.
    if (GetRunInactiveFlag() && vblank_on && MicroNow() - t0 < 500) WaitVBlankPaced();
    return 0;
  }
  if (vblank_on) WaitVBlankPaced();
  CopyScreenImageToWindow(source.left, source.top, source.right - source.left, source.bottom - source.top,
                            dest.right - dest.left, dest.bottom - dest.top);
  return 0;
}

int FlipScreen() { return FlipScreenCore(); }

void FlipScreenWithSubBackBuffer() {
  if (!IsWindowMode() && GraphicsDevice().direct3d_mode) BeginSubBackBuffer();
  FlipScreenCore();
}

// ---- Reading a rectangle of the draw screen -------------------------------------------

namespace {

struct LockState {
  int locked;
  plat::Direct3DSurface9* direct;  // the surface locked in place
  plat::Direct3DSurface9* copy;    // or the system-memory copy locked instead
};
LockState g_lock;

int FormatInfoFor(plat::D3DFORMAT f, PixelFormatInfo* info) {
  switch (f) {
    case plat::D3DFMT_X8R8G8B8: return CreatePixelFormatInfoFromMasks(info, 32, 0xFF0000, 0xFF00, 0xFF, 0);
    case plat::D3DFMT_A8R8G8B8: return CreatePixelFormatInfoFromMasks(info, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u);
    case plat::D3DFMT_R5G6B5: return CreatePixelFormatInfoFromMasks(info, 16, 0xF800, 0x07E0, 0x001F, 0);
    case plat::D3DFMT_X1R5G5B5: return CreatePixelFormatInfoFromMasks(info, 16, 0x7C00, 0x03E0, 0x001F, 0);
    case plat::D3DFMT_A1R5G5B5: return CreatePixelFormatInfoFromMasks(info, 16, 0x7C00, 0x03E0, 0x001F, 0x8000);
    case plat::D3DFMT_A4R4G4B4: return CreatePixelFormatInfoFromMasks(info, 16, 0x0F00, 0x00F0, 0x000F, 0xF000);
    default: return -1;
  }
}

}  // namespace

int CreateBackBufferLockSurfaces(const int32_t rect[4], BaseImage* out, int target, int read_only) {
  GraphicsDeviceState& d = GraphicsDevice();
  if (!rect || !out || g_lock.locked) return -1;
  FlushVertexBatch();
  EndDeviceScene();
  // The rectangle is checked against the target it names: here the screen,
  // whatever the draw area of the current target is.
  if (target == -1) target = GetDrawTarget();
  if (!d.direct3d_mode) {
    // A view straight into the target's image, checked against its size.
    MEMIMG* image = DrawTargetMemImg(target);
    if (!image || !(0 <= rect[0] && rect[0] < rect[2] && rect[2] <= image->width && 0 <= rect[1] &&
                    rect[1] < rect[3] && rect[3] <= image->height))
      return -1;
    *out = BaseImage{};
    out->format = *image->base->format_info;
    out->width = rect[2] - rect[0];
    out->height = rect[3] - rect[1];
    out->pitch = image->base->pitch;
    out->pixels = image->pixels + size_t(rect[1]) * size_t(image->base->pitch) +
                  size_t(rect[0]) * image->base->format_info->bytes_per_pixel;
    out->mip_count = 0;
    g_lock = {1, nullptr, nullptr};
    return 0;
  }
  int width = 0, height = 0;
  GetScreenSize(&width, &height);
  if (!(0 <= rect[0] && rect[0] < rect[2] && rect[2] <= width && 0 <= rect[1] && rect[1] < rect[3] &&
        rect[3] <= height))
    return -1;
  if (!d.direct3d_mode || !d.device) return -1;
  plat::Direct3DSurface9* surface = d.sub_back_buffer ? d.sub_back_buffer : d.back_buffer;
  plat::D3DFORMAT format = d.back_buffer_format;
  PixelFormatInfo info{};
  if (FormatInfoFor(format, &info) != 0) return -1;
  plat::RECT r = {rect[0], rect[1], rect[2], rect[3]};
  int w = r.right - r.left, h = r.bottom - r.top;
  plat::D3DLOCKED_RECT locked{};
  if (d.use_back_buffer_lock &&
      surface->LockRect(&locked, &r, read_only ? uint32_t(plat::D3DLOCK_READONLY) : 0u) == plat::D3D_OK) {
    g_lock = {1, surface, nullptr};
  } else {
    plat::Direct3DSurface9 *target_surface = nullptr, *copy = nullptr;
    if (d.device->CreateRenderTarget(w, h, format, 0, 0, 0, &target_surface, nullptr) != plat::D3D_OK)
      return WriteLogLine("バックバッファロック用描画可能サーフェスの作成に失敗しました\n");
    if (d.device->CreateOffscreenPlainSurface(w, h, format, plat::D3DPOOL_SYSTEMMEM, &copy, nullptr) != plat::D3D_OK) {
      target_surface->Release();
      return WriteLogLine("バックバッファロック用システムメモリサーフェスの作成に失敗しました\n");
    }
    d.device->StretchRect(surface, &r, target_surface, nullptr, plat::D3DTEXF_NONE);
    d.device->GetRenderTargetData(target_surface, copy);
    target_surface->Release();
    if (copy->LockRect(&locked, nullptr, read_only ? uint32_t(plat::D3DLOCK_READONLY) : 0u) != plat::D3D_OK) {
      copy->Release();
      return -1;
    }
    g_lock = {1, nullptr, copy};
  }
  out->format = info;
  out->width = w;
  out->height = h;
  out->pitch = locked.Pitch;
  out->pixels = static_cast<uint8_t*>(locked.pBits);
  out->mip_count = 0;
  return 0;
}

int ReleaseBackBufferLockSurfaces() {
  if (!g_lock.locked) return 0;
  if (g_lock.copy) {
    g_lock.copy->UnlockRect();
    g_lock.copy->Release();
  } else if (g_lock.direct) {
    g_lock.direct->UnlockRect();
  }
  g_lock = {0, nullptr, nullptr};
  return 0;
}

// ---- The inactive-screen image ------------------------------------------------------------

namespace {

// The picture the window shows while the application is inactive, and the
// graphic made from it on first use.
BaseImage g_inactive_image{};
bool g_inactive_image_set = false;
int g_inactive_graphic = -1;

}  // namespace

int SetInactiveScreenImage(const BaseImage* image) {
  ClearInactiveScreenImage();
  if (!image || !image->pixels || image->width < 1 || image->height < 1 || image->mip_count > 1) return image ? -1 : 0;
  if (CreateBaseImageLike(image->width, image->height, &image->format, &g_inactive_image) != 0) return -1;
  for (int y = 0; y < image->height; y++)
    memcpy(g_inactive_image.pixels + size_t(y) * size_t(g_inactive_image.pitch),
           image->pixels + size_t(y) * size_t(image->pitch), size_t(std::min(image->pitch, g_inactive_image.pitch)));
  g_inactive_image_set = true;
  return 0;
}

int ClearInactiveScreenImage() {
  if (g_inactive_image_set) FreeBaseImagePixels(&g_inactive_image);
  g_inactive_image_set = false;
  if (g_inactive_graphic != -1) DeleteGraphic(g_inactive_graphic);
  g_inactive_graphic = -1;
  return 0;
}

int IsInactiveScreenImageSet() { return g_inactive_image_set ? 1 : 0; }

int DrawInactiveScreenImage(void* device_context) {
  (void)device_context;  // the picture reaches the window through the flip
  if (WindowState().ending) return 0;
  if (!g_inactive_image_set) return -1;
  GraphicsDeviceState& d = GraphicsDevice();
  if (!d.started) return -1;
  int kept_run = GetRunInactiveFlag();
  SetRunInactiveFlag(1);
  if (!IsGraphicHandleValid(g_inactive_graphic)) g_inactive_graphic = MakeGraphicFromImage(&g_inactive_image, nullptr, 0);
  if (g_inactive_graphic == -1) {
    SetRunInactiveFlag(kept_run);
    return -1;
  }
  GraphicsSettings& config = GraphicsConfig();
  int kept_target = GetDrawTarget(), kept_filter = GetDrawFilterMode(), kept_vblank_off = config.vblank_wait_off;
  SetDrawTarget(-2);
  SetDrawFilterMode(1);
  config.vblank_wait_off = 1;
  int w = 0, h = 0;
  GetScreenSize(&w, &h);
  // What the game drew is kept aside and put back after the flip, so its
  // next frame starts from its own picture.
  int saved = MakeGraphic(w, h);
  if (saved != -1 && GetDrawScreenToGraphic(0, 0, w, h, saved, 0) != 0) {
    DeleteGraphic(saved);
    saved = -1;
  }
  int iw = 0, ih = 0;
  GetGraphicSize(g_inactive_graphic, &iw, &ih);
  if (iw == w && ih == h) DrawGraphicAt(0, 0, g_inactive_graphic, 0);
  else DrawGraphicStretched(0, 0, w, h, g_inactive_graphic, 0);
  FlipScreenWithSubBackBuffer();
  if (saved != -1) {
    DrawGraphicAt(0, 0, saved, 0);
    DeleteGraphic(saved);
  }
  SetDrawTarget(kept_target);
  SetDrawFilterMode(kept_filter);
  config.vblank_wait_off = kept_vblank_off;
  SetRunInactiveFlag(kept_run);
  return 0;
}
