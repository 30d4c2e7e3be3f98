// lib/graphics/soft_draw.cpp - the software screen and its copy to the
// window, and the software draw adapters.
#include "lib/graphics/soft_draw.h"

#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "lib/core/log.h"
#include "lib/core/number_helpers.h"
#include "lib/system/window_system.h"
#include "lib/graphics/graphics_device.h"
#include "lib/softrender/soft_draw_state.h"
#include "lib/softrender/soft_kernels.h"
#include "platform/window/window.h"

namespace {

MEMIMG g_screen;
MEMIMG g_work[2];
// The 32-bit copy of a 16-bit screen handed to the window.
std::vector<uint32_t> g_present;

MEMIMG* Target() { return SoftDraw().target; }
const MEMIMG* Blend() { return SoftDraw().blend_image; }

}  // namespace

MEMIMG& SoftScreenImage() { return g_screen; }
MEMIMG& SoftFontWorkImage(int alpha) { return g_work[alpha ? 1 : 0]; }

int CreateScreenMemImgs() {
  int w = 0, h = 0;
  GetScreenSize(&w, &h);
  const int format = Screen().colour_bits == 16 ? kMemImgRgb565 : kMemImg32;
  ReleaseScreenMemImgs();
  // Without memory for the screen image the graphics start fails, so that
  // the program hears of it, rather than the process ending here.
  if (CreateMemImg(&g_screen, w, h, format) != 0)
    return WriteLogLine("プライマリサーフェス用の MEMIMG の作成に失敗しました\n");
  for (int i = 0; i < 2; ++i) {
    std::memset(&g_work[i], 0, sizeof(MEMIMG));
    if (InitMemImg(&g_work[i], w, h, -1, 0, format, 0, i, 0, nullptr) != 0)
      WriteLogLine("メモリイメージの作成に失敗しました\n");
  }
  // The screen's clear colour has no setter: black.
  FillMemImgRawRect(&g_screen, nullptr, 0);
  SoftDraw().target = &g_screen;
  return 0;
}

void ReleaseScreenMemImgs() {
  if (SoftDraw().target == &g_screen || SoftDraw().target == &g_work[0] || SoftDraw().target == &g_work[1])
    SoftDraw().target = nullptr;
  ReleaseMemImg(&g_screen);
  ReleaseMemImg(&g_work[0]);
  ReleaseMemImg(&g_work[1]);
  g_present.clear();
  g_present.shrink_to_fit();
}

int CopyScreenImageToWindow(int src_x, int src_y, int src_w, int src_h, int dst_w, int dst_h) {
  if (!IsValidMemImg(&g_screen)) return 0;
  plat::Window* window = GetMainWindow();
  if (!window) return -1;
  const int w = g_screen.width, h = g_screen.height;
  const void* pixels = g_screen.pixels;
  int pitch = g_screen.base->pitch;
  if (g_screen.base->pixel_format == kMemImgRgb565) {
    // The window takes 32-bit pixels: widen the 16-bit screen first.
    try {
      g_present.resize(size_t(w) * size_t(h));
    } catch (const std::bad_alloc&) {
      return WriteLogLine("画面転送用のメモリが確保できませんでした\n");
    }
    const ImageRect all{0, 0, w, h};
    if (ConvertPixelFormatBlit(g_present.data(), w * 4, GetDefaultPixelFormatInfo(kMemImg32, 0, 0), g_screen.pixels,
                               pitch, g_screen.base->format_info, nullptr, 0, nullptr, 0, 0, &all, 0, 0, 0,
                               kDitherNone, 0, 0, 0, 0) < 0)
      return -1;
    pixels = g_present.data();
    pitch = w * 4;
  }
  const plat::Rect source{src_x, src_y, src_x + src_w, src_y + src_h};
  const plat::Rect dest{0, 0, dst_w, dst_h};
  return plat::PresentToWindow(window, pixels, w, h, pitch, &source, &dest) == 0 ? 0 : -1;
}

MEMIMG* GraphicMemImg(GraphicRecord* record) {
  if (!record || !record->set || record->set->textured || !IsValidMemImg(&record->soft_view)) return nullptr;
  return &record->soft_view;
}

MEMIMG* DrawTargetMemImg(int handle) {
  MEMIMG* image = GraphicMemImg(GraphicHandleToRecord(handle));
  return image ? image : (IsValidMemImg(&g_screen) ? &g_screen : nullptr);
}

int DrawGraphicAtSoft(int x, int y, GraphicRecord* record, int transparent) {
  MEMIMG* src = GraphicMemImg(record);
  if (src && Target()) DrawMemImgBasic(Target(), src, x, y, transparent, Blend());
  return 0;
}

int DrawGraphicStretchedSoft(int x1, int y1, int x2, int y2, GraphicRecord* record, int transparent) {
  MEMIMG* src = GraphicMemImg(record);
  const IntRect rect{x1, y1, x2, y2};
  if (src && Target()) DrawMemImgStretch(Target(), src, &rect, transparent, Blend());
  return 0;
}

int DrawGraphicRotatedSoft(float x, float y, double scale, double angle, GraphicRecord* record, int transparent,
                           int turn) {
  MEMIMG* src = GraphicMemImg(record);
  if (src && Target())
    DrawMemImgRotation(Target(), src, FloatToInt(x), FloatToInt(y), float(angle), float(scale), transparent, turn,
                       Blend());
  return 0;
}

int DrawGraphicQuadSoft(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4, GraphicRecord* record,
                        int transparent) {
  MEMIMG* src = GraphicMemImg(record);
  if (!src || !Target()) return 0;
  const int w = record->width, h = record->height;
  const TriangleVertex p1{x1, y1, 0, 0}, p2{x2, y2, w, 0}, p3{x3, y3, 0, h}, p4{x4, y4, w, h};
  const TriangleVertex first[3] = {p1, p2, p3};
  const TriangleVertex second[3] = {p2, p3, p4};
  DrawMemImgTexturedTriangle(Target(), src, first, transparent, Blend(), 0);
  DrawMemImgTexturedTriangle(Target(), src, second, transparent, Blend(), 0);
  return 0;
}

int DrawGraphicQuadSoftF(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4,
                         GraphicRecord* record, int transparent) {
  return DrawGraphicQuadSoft(FloatToInt(x1), FloatToInt(y1), FloatToInt(x2), FloatToInt(y2), FloatToInt(x3),
                             FloatToInt(y3), FloatToInt(x4), FloatToInt(y4), record, transparent);
}

int FillBoxSoft(int x1, int y1, int x2, int y2, uint32_t colour) {
  const IntRect rect{x1, y1, x2, y2};
  if (Target()) FillMemImgRect(Target(), &rect, colour);
  return 0;
}

int DrawBoxOutlineSoft(int x1, int y1, int x2, int y2, uint32_t colour) {
  if (!Target()) return 0;
  // Each axis is put in order on its own, the rule the device path follows,
  // so a box given with one axis reversed draws the same outline.
  if (x1 > x2) std::swap(x1, x2);
  if (y1 > y2) std::swap(y1, y2);
  const uint32_t param = uint32_t(SoftDraw().blend_param);
  const MemImgLineRecord lines[4] = {
      {x1, y1, x2 - 1, y1, colour, param},
      {x2 - 1, y1, x2 - 1, y2 - 1, colour, param},
      {x2 - 1, y2 - 1, x1, y2 - 1, colour, param},
      {x1, y2 - 1, x1, y1, colour, param},
  };
  DrawMemImgLineList(Target(), lines, 4);
  return 0;
}

int FillGraphic(int handle, int r, int g, int b, int a) {
  GraphicRecord* record = GraphicHandleToRecord(handle);
  if (!record || !record->set) return -1;
  auto clamp = [](int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); };
  r = clamp(r), g = clamp(g), b = clamp(b), a = clamp(a);
  if (!record->set->textured) {
    MEMIMG* image = GraphicMemImg(record);
    const IntRect rect{0, 0, record->width, record->height};
    if (image) FillMemImgRect(image, &rect, GetColorCode(uint8_t(r), uint8_t(g), uint8_t(b)));
    return 0;
  }
  GraphicsDeviceState& d = GraphicsDevice();
  if (!d.device) return -1;
  if (!record->set->drawable) return 0;
  FlushVertexBatch();
  const uint32_t argb = (uint32_t(a) << 24) | (uint32_t(r) << 16) | (uint32_t(g) << 8) | uint32_t(b);
  for (int i = 0; i < record->set->tile_count; ++i) {
    GraphicTile& t = record->set->tiles[i];
    if (!t.surface) continue;
    const plat::RECT rect{0, 0, t.used_width, t.used_height};
    d.device->ColorFill(t.surface, &rect, argb);
  }
  return 0;
}
