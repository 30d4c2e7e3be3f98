// lib/softrender/lines.cpp - one-pixel lines of one colour, and lists of
// them (the software box outline), under the blend state of the software
// draw state. A line's first end point is drawn and its second is not, so the
// four sides of a box meet without blending a corner twice.
#include "lib/core/number_helpers.h"
#include "lib/softrender/fill_ops.h"
#include "lib/softrender/soft_kernels.h"

namespace {

// Walks major pixels from px: pixel i lies i steps along the major axis and
// floor(i * minor / major) steps along the minor one.
template <int Op, int Bytes>
void WalkLine(uint8_t* px, intptr_t major_step, intptr_t minor_step, int major, int minor, const FillColour& c) {
  int err = 0;
  for (int i = 0;;) {
    FillPixel<Op, Bytes>(px, c);
    // No step past the last pixel: the second end point may lie outside the image.
    if (++i == major) break;
    px += major_step;
    err += minor;
    if (err >= major) {
      px += minor_step;
      err -= major;
    }
  }
}

template <int Bytes>
void WalkDispatch(FillOp op, uint8_t* px, intptr_t major_step, intptr_t minor_step, int major, int minor,
                  const FillColour& c) {
  switch (op) {
    case kFillCopy: WalkLine<kFillCopy, Bytes>(px, major_step, minor_step, major, minor, c); break;
    case kFillAlpha: WalkLine<kFillAlpha, Bytes>(px, major_step, minor_step, major, minor, c); break;
    case kFillAdd: WalkLine<kFillAdd, Bytes>(px, major_step, minor_step, major, minor, c); break;
    case kFillSub: WalkLine<kFillSub, Bytes>(px, major_step, minor_step, major, minor, c); break;
    case kFillMul: WalkLine<kFillMul, Bytes>(px, major_step, minor_step, major, minor, c); break;
    case kFillInvert: WalkLine<kFillInvert, Bytes>(px, major_step, minor_step, major, minor, c); break;
    case kFillMulAlpha: WalkLine<kFillMulAlpha, Bytes>(px, major_step, minor_step, major, minor, c); break;
    default: break;
  }
}

inline int32_t ClampInt(int32_t v, int32_t low, int32_t high) { return v < low ? low : v > high ? high : v; }

}  // namespace

void DrawMemImgLine(MEMIMG* dst, int x1, int y1, int x2, int y2, uint32_t colour) {
  if (dst == nullptr || dst->base == nullptr || dst->check != kMemImgCheck) return;
  const MemImgBase& base = *dst->base;
  // A paletted image steps one byte a pixel, so a 2- or 4-byte store would
  // run past its rows: such a destination is refused like in the fill.
  if (base.paletted == 1) return;
  if (base.pixel_format != kMemImg32 && base.pixel_format != kMemImgRgb565) return;
  const int bpp = MemImgBytesPerPixel(base.pixel_format, base.paletted, base.alpha);

  const IntRect clip = BoundedClip(dst);
  const int32_t left = clip.left, top = clip.top, right = clip.right, bottom = clip.bottom;
  if (right <= left || bottom <= top) return;

  // Bounding test (in 64 bits: the end points may be anywhere in the int range).
  const int64_t min_x = x1 < x2 ? x1 : x2, max_x = x1 < x2 ? x2 : x1;
  const int64_t min_y = y1 < y2 ? y1 : y2, max_y = y1 < y2 ? y2 : y1;
  if (max_y < top || min_y > int64_t{bottom} - 1 || min_x > int64_t{right} - 1 || max_x < left) return;

  // The line's equations from the unclipped end points.
  const double kx = y1 == y2 ? 0.0 : (double(x2) - double(x1)) / (double(y2) - double(y1));
  const double ky = x1 == x2 ? 0.0 : (double(y2) - double(y1)) / (double(x2) - double(x1));
  const double bx = double(x1) - kx * double(y1);
  const double by = double(y1) - ky * double(x1);

  // The first end point is moved just inside the clip rectangle, the second,
  // not drawn, just outside it.
  if (x1 < left) {
    x1 = left;
    y1 = DoubleToInt(ky * left + by);
  } else if (x1 >= right) {
    x1 = right - 1;
    y1 = DoubleToInt(ky * (right - 1) + by);
  }
  if (x2 < left) {
    x2 = left - 1;
    y2 = DoubleToInt(ky * (left - 1) + by);
  } else if (x2 >= right) {
    x2 = right;
    y2 = DoubleToInt(ky * right + by);
  }
  if (y1 < top) {
    y1 = top;
    x1 = DoubleToInt(kx * top + bx);
  } else if (y1 >= bottom) {
    y1 = bottom - 1;
    x1 = DoubleToInt(kx * (bottom - 1) + bx);
  }
  if (y2 < top) {
    y2 = top - 1;
    x2 = DoubleToInt(kx * (top - 1) + bx);
  } else if (y2 >= bottom) {
    y2 = bottom;
    x2 = DoubleToInt(kx * bottom + bx);
  }
  x1 = ClampInt(x1, left, right - 1);
  x2 = ClampInt(x2, left - 1, right);
  y1 = ClampInt(y1, top, bottom - 1);
  y2 = ClampInt(y2, top - 1, bottom);

  const int dx = x2 - x1, dy = y2 - y1;
  if (dx == 0 && dy == 0) return;

  FillColour c;
  const FillOp op = PrepareFillColour(base.pixel_format, colour, &c);
  if (op == kFillNothing) return;

  const int ax = dx < 0 ? -dx : dx, ay = dy < 0 ? -dy : dy;
  const intptr_t x_step = (dx < 0 ? -1 : 1) * intptr_t{bpp};
  const intptr_t y_step = (dy < 0 ? -1 : 1) * intptr_t{base.pitch};
  uint8_t* px = dst->pixels + static_cast<intptr_t>(y1) * base.pitch + static_cast<intptr_t>(x1) * bpp;
  // A diagonal counts as x-major.
  const bool x_major = ax >= ay;
  const int major = x_major ? ax : ay, minor = x_major ? ay : ax;
  const intptr_t major_step = x_major ? x_step : y_step, minor_step = x_major ? y_step : x_step;
  if (base.pixel_format == kMemImg32) {
    WalkDispatch<4>(op, px, major_step, minor_step, major, minor, c);
  } else {
    WalkDispatch<2>(op, px, major_step, minor_step, major, minor, c);
  }
}

void DrawMemImgLineList(MEMIMG* dst, const MemImgLineRecord* records, int count) {
  if (records == nullptr || count <= 0) return;
  for (int i = 0; i < count; ++i) {
    const MemImgLineRecord& r = records[i];
    DrawMemImgLine(dst, r.x1, r.y1, r.x2, r.y2, r.colour);
  }
}
