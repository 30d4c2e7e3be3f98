// lib/softrender/blit_stretch.cpp - the stretched blit's frame: orders the
// rectangle (a reversed axis mirrors), hands unscaled draws to the plain
// blit, clips, sets up the fixed-point walk so that a clipped draw shows the
// same pixels as the visible part of the whole one, and picks the kernels of
// the source's format.
#include "lib/softrender/blit_stretch.h"

#include <utility>

#include "lib/softrender/alpha_rows.h"
#include "lib/softrender/fill_ops.h"
#include "lib/softrender/soft_draw_state.h"
#include "lib/softrender/soft_kernels.h"

namespace {

// Larger sources would let the truncated scale walk past their last pixel.
constexpr int32_t kMaxSourceExtent = 65536;

bool Usable(const MEMIMG* img) {
  return img != nullptr && img->check == kMemImgCheck && img->base != nullptr && img->pixels != nullptr;
}

}  // namespace

void DrawMemImgStretch(MEMIMG* dst, const MEMIMG* src, const IntRect* rect, int trans, const MEMIMG* blend) {
  if (!Usable(dst) || !Usable(src) || rect == nullptr) return;
  const MemImgBase& sb = *src->base;
  const MemImgBase& db = *dst->base;
  // The kernels write pixels of the source's format: a destination of
  // another format, paletted or with an alpha channel is refused, as by the
  // plain blit.
  if (sb.pixel_format != db.pixel_format || db.paletted == 1 || db.alpha == 1) return;
  if (sb.pixel_format != kMemImg32 && sb.pixel_format != kMemImgRgb565) return;
  if (sb.paletted == 1 && sb.palette == nullptr) return;
  if (src->width <= 0 || src->height <= 0 || src->width > kMaxSourceExtent || src->height > kMaxSourceExtent) return;

  int64_t x1 = rect->left, y1 = rect->top, x2 = rect->right, y2 = rect->bottom;
  int x_dir = 1, y_dir = 1;
  if (x1 > x2) {
    std::swap(x1, x2);
    x_dir = -1;
  }
  if (y1 > y2) {
    std::swap(y1, y2);
    y_dir = -1;
  }
  const int64_t width = x2 - x1, height = y2 - y1;
  if (width == 0 || height == 0) return;
  if (width == src->width && height == src->height && x_dir == 1 && y_dir == 1) {
    DrawMemImgBasic(dst, src, static_cast<int>(x1), static_cast<int>(y1), trans, blend);
    return;
  }

  // The blend image is read one byte per source pixel at the source position,
  // mirrored with it, so it must cover the whole source.
  if (blend != nullptr && (!Usable(blend) || blend->width < src->width || blend->height < src->height)) return;
  const uint32_t mode = SoftDraw().blend_mode;
  if (mode > 11 || (mode >= 5 && mode <= 9)) return;

  StretchWalk w;
  w.x_scale = (width << 16) / src->width;
  w.y_scale = (height << 16) / src->height;

  // Clip a copy (in 64 bits: a mirrored rectangle's edges span the int range).
  const IntRect clip = BoundedClip(dst);
  auto clamp = [](int64_t v, int64_t low, int64_t high) { return v > high ? high : v < low ? low : v; };
  const int64_t cx1 = clamp(x1, clip.left, clip.right), cx2 = clamp(x2, clip.left, clip.right);
  const int64_t cy1 = clamp(y1, clip.top, clip.bottom), cy2 = clamp(y2, clip.top, clip.bottom);
  if (cx2 <= cx1 || cy2 <= cy1) return;

  // Land on the source pixel and accumulator that the whole walk has at the
  // first visible pixel.
  const int64_t dx = cx1 - x1, dy = cy1 - y1;
  const int64_t sx = (dx << 16) / w.x_scale, rx = (dx << 16) % w.x_scale;
  const int64_t sy = (dy << 16) / w.y_scale, ry = (dy << 16) % w.y_scale;
  w.x_acc_start = w.x_scale - rx;
  w.y_acc = w.y_scale - ry;
  w.width = static_cast<int>(cx2 - cx1);
  w.height = static_cast<int>(cy2 - cy1);

  const int sbpp = MemImgBytesPerPixel(sb.pixel_format, sb.paletted, sb.alpha);
  const int64_t col = x_dir > 0 ? sx : src->width - 1 - sx;
  const int64_t row = y_dir > 0 ? sy : src->height - 1 - sy;
  w.src_row = src->pixels + row * sb.pitch + col * sbpp;
  w.src_step = x_dir * intptr_t{sbpp};
  w.src_row_step = y_dir * intptr_t{sb.pitch};
  if (blend != nullptr) {
    const int32_t bpitch = blend->base->pitch;
    w.blend_row = blend->pixels + row * bpitch + col;
    w.blend_step = x_dir;
    w.blend_row_step = y_dir * intptr_t{bpitch};
  } else {
    w.blend_row = nullptr;
    w.blend_step = 0;
    w.blend_row_step = 0;
  }
  const int dbpp = MemImgBytesPerPixel(db.pixel_format, db.paletted, db.alpha);
  w.dst_row = dst->pixels + cy1 * db.pitch + cx1 * dbpp;
  w.dst_pitch = db.pitch;

  const SoftDrawState& state = SoftDraw();
  StretchSource s;
  s.base = &sb;
  s.mode = mode;
  s.p = state.blend_param < 0 ? 0 : state.blend_param > 255 ? 255 : state.blend_param;
  s.bright = state.bright & 0xFFFFFFu;
  s.white = s.bright == 0xFFFFFFu;
  s.blend = blend != nullptr;
  s.key = trans != 0;
  s.separate = alpharows::SeparateImages(dst, src);
  if (sb.pixel_format == kMemImg32) {
    DrawStretch32(w, s);
  } else {
    DrawStretch16(w, s);
  }
}
