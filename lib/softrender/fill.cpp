// lib/softrender/fill.cpp - the rectangle fill of a memory image under the
// blend mode, blend parameter and bright colour of the software draw state.
#include "lib/softrender/fill_ops.h"
#include "lib/softrender/soft_kernels.h"

FillOp PrepareFillColour(int pixel_format, uint32_t colour, FillColour* out) {
  const SoftDrawState& state = SoftDraw();
  const BlendTables& tables = SoftBlendTables();
  int32_t p = state.blend_param;
  if (p < 0) p = 0;
  if (p > 255) p = 255;

  FillOp op;
  switch (state.blend_mode) {
    case 0: op = kFillCopy; break;
    case 1: op = p == 0 ? kFillNothing : p == 255 ? kFillCopy : kFillAlpha; break;
    case 2: op = p == 0 ? kFillNothing : kFillAdd; break;
    case 3: op = p == 0 ? kFillNothing : kFillSub; break;
    case 4: op = kFillMul; break;
    case 10: op = kFillInvert; break;
    case 11: op = kFillMulAlpha; break;
    default: op = kFillNothing; break;
  }
  if (op == kFillNothing) return op;

  // The bright colour scales the colour once, by a shift rather than the
  // blits' table, so a factor of 255 still takes a full channel one step down.
  const bool white = (state.bright & 0xFFFFFFu) == 0xFFFFFFu;
  const int32_t bb = state.bright & 0xFF, bg = (state.bright >> 8) & 0xFF, br = (state.bright >> 16) & 0xFF;
  FillColour& c = *out;
  c.p = p;
  c.diff = DiffRowCentre(p);
  if (pixel_format == kMemImg32) {
    c.c0 = colour & 0xFF;
    c.c1 = (colour >> 8) & 0xFF;
    c.c2 = (colour >> 16) & 0xFF;
    if (!white) {
      c.c0 = (c.c0 * bb) >> 8;
      c.c1 = (c.c1 * bg) >> 8;
      c.c2 = (c.c2 * br) >> 8;
    }
    c.word = (colour & 0xFF000000u) | static_cast<uint32_t>(c.c2 << 16 | c.c1 << 8 | c.c0);
    c.inv0 = 255 - c.c0;
    c.inv1 = 255 - c.c1;
    c.inv2 = 255 - c.c2;
    c.operand = tables.mul[p][c.c2] << 16 | (tables.mul[p][c.c1] & 0xFF) << 8 | (tables.mul[p][c.c0] & 0xFF);
  } else {
    // Only the low 16 bits are a pixel; anything above them is not stored.
    c.c0 = colour & 31;
    c.c1 = (colour >> 5) & 63;
    c.c2 = (colour >> 11) & 31;
    if (!white) {
      c.c0 = (c.c0 * bb) >> 8;
      c.c1 = (c.c1 * bg) >> 8;
      c.c2 = (c.c2 * br) >> 8;
    }
    c.word = static_cast<uint32_t>(c.c2 << 11 | c.c1 << 5 | c.c0);
    c.inv0 = 31 - c.c0;
    c.inv1 = 63 - c.c1;
    c.inv2 = 31 - c.c2;
    c.operand = (tables.mul[p][c.c2] << 11) + (tables.mul[p][c.c1] << 5) + tables.mul[p][c.c0];
  }
  return op;
}

namespace {

template <int Op, int Bytes>
void FillRows(uint8_t* row, int32_t pitch, int w, int h, const FillColour& c) {
  for (int y = 0; y < h; ++y, row += pitch) {
    uint8_t* px = row;
    if constexpr (Op == kFillCopy && Bytes == 4) {
      for (int x = 0; x < w; ++x, px += 4) StorePixel32(px, c.word);
    } else if constexpr (Op == kFillCopy && Bytes == 2) {
      // Two pixels a store, then the odd one.
      const uint32_t pair = c.word | c.word << 16;
      int x = 0;
      for (; x + 2 <= w; x += 2, px += 4) StorePixel32(px, pair);
      if (x < w) StorePixel16(px, c.word);
    } else {
      for (int x = 0; x < w; ++x, px += Bytes) FillPixel<Op, Bytes>(px, c);
    }
  }
}

template <int Bytes>
void FillDispatch(FillOp op, uint8_t* row, int32_t pitch, int w, int h, const FillColour& c) {
  switch (op) {
    case kFillCopy: FillRows<kFillCopy, Bytes>(row, pitch, w, h, c); break;
    case kFillAlpha: FillRows<kFillAlpha, Bytes>(row, pitch, w, h, c); break;
    case kFillAdd: FillRows<kFillAdd, Bytes>(row, pitch, w, h, c); break;
    case kFillSub: FillRows<kFillSub, Bytes>(row, pitch, w, h, c); break;
    case kFillMul: FillRows<kFillMul, Bytes>(row, pitch, w, h, c); break;
    case kFillInvert: FillRows<kFillInvert, Bytes>(row, pitch, w, h, c); break;
    case kFillMulAlpha: FillRows<kFillMulAlpha, Bytes>(row, pitch, w, h, c); break;
    default: break;
  }
}

}  // namespace

void FillMemImgRect(MEMIMG* dst, const IntRect* rect, uint32_t colour) {
  if (dst == nullptr || dst->base == nullptr || dst->check != kMemImgCheck) return;
  const MemImgBase& base = *dst->base;
  if (base.paletted == 1 || base.alpha == 1) return;
  if (base.pixel_format != kMemImg32 && base.pixel_format != kMemImgRgb565) return;

  IntRect r;
  if (rect == nullptr) {
    r = {0, 0, dst->width, dst->height};
  } else {
    r.left = rect->left < rect->right ? rect->left : rect->right;
    r.right = rect->left < rect->right ? rect->right : rect->left;
    r.top = rect->top < rect->bottom ? rect->top : rect->bottom;
    r.bottom = rect->top < rect->bottom ? rect->bottom : rect->top;
  }
  const IntRect clip = BoundedClip(dst);
  ClipRect(&r, &clip);
  const int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return;

  FillColour c;
  const FillOp op = PrepareFillColour(base.pixel_format, colour, &c);
  if (op == kFillNothing) return;

  const int bytes = base.pixel_format == kMemImg32 ? 4 : 2;
  uint8_t* row = dst->pixels + static_cast<intptr_t>(r.top) * base.pitch + static_cast<intptr_t>(r.left) * bytes;
  if (bytes == 4) {
    FillDispatch<4>(op, row, base.pitch, w, h, c);
  } else {
    FillDispatch<2>(op, row, base.pitch, w, h, c);
  }
}
