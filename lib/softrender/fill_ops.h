// lib/softrender/fill_ops.h - what the rectangle fill and the lines do to one
// destination pixel: the colour is scaled by the bright colour and split once
// per call, then each blend mode has its own pixel operation for 32-bit and
// RGB565 destinations, so the loops hold no test of the draw state.
#pragma once

#include <cstdint>
#include <cstring>

#include "lib/softrender/blend_tables.h"
#include "lib/softrender/blit_pixel_ops.h"
#include "lib/softrender/memimg.h"
#include "lib/softrender/soft_draw_state.h"

// The operation a fill or line takes, chosen once per call.
enum FillOp : int {
  kFillNothing = 0,
  kFillCopy,
  kFillAlpha,
  kFillAdd,
  kFillSub,
  kFillMul,
  kFillInvert,
  kFillMulAlpha,
};

// The colour of one call, in the destination's pixel format.
struct FillColour {
  uint32_t word;            // 32-bit: the scaled colour with bits 24-31 as given; 16-bit: the scaled RGB565 word
  int32_t c0, c1, c2;       // blue, green, red of the scaled colour (channels, or RGB565 fields)
  int32_t inv0, inv1, inv2; // the inverted channels or fields, target of the inverted mode
  uint32_t operand;         // add and subtract: the colour scaled by the parameter, packed
  int32_t p;                // blend parameter, 0..255
  const int32_t* diff;      // Diff row of p, at its centre
};

// Works out the colour and the operation of a call on a destination of the
// given pixel format (0 or 1) from the draw state. kFillNothing when the
// blend mode and parameter draw nothing.
FillOp PrepareFillColour(int pixel_format, uint32_t colour, FillColour* out);

// ---- 32-bit destination ---------------------------------------------------------

inline uint32_t LoadPixel32(const uint8_t* px) {
  uint32_t v;
  std::memcpy(&v, px, 4);
  return v;
}
inline void StorePixel32(uint8_t* px, uint32_t v) { std::memcpy(px, &v, 4); }
inline uint16_t LoadPixel16(const uint8_t* px) {
  uint16_t v;
  std::memcpy(&v, px, 2);
  return v;
}
inline void StorePixel16(uint8_t* px, uint32_t v) {
  uint16_t w = static_cast<uint16_t>(v);
  std::memcpy(px, &w, 2);
}

// d + (x - d) * p / 256 with the quotient floored; never leaves 0..255.
inline int32_t FillLerp8(int32_t d, int32_t x, int32_t p) { return (d * 256 + (x - d) * p) >> 8; }

template <int Op>
inline void FillPixel32(uint8_t* px, const FillColour& c) {
  if constexpr (Op == kFillCopy) {
    StorePixel32(px, c.word);
  } else if constexpr (Op == kFillAdd) {
    StorePixel32(px, blitops::PackedAdd32(LoadPixel32(px), c.operand));
  } else if constexpr (Op == kFillSub) {
    StorePixel32(px, blitops::PackedSub32(LoadPixel32(px), c.operand));
  } else {
    int32_t d0 = px[0], d1 = px[1], d2 = px[2];
    if constexpr (Op == kFillAlpha) {
      d0 = FillLerp8(d0, c.c0, c.p);
      d1 = FillLerp8(d1, c.c1, c.p);
      d2 = FillLerp8(d2, c.c2, c.p);
    } else if constexpr (Op == kFillMul) {
      d0 = (d0 * c.c0) >> 8;
      d1 = (d1 * c.c1) >> 8;
      d2 = (d2 * c.c2) >> 8;
    } else if constexpr (Op == kFillInvert) {
      d0 = FillLerp8(d0, c.inv0, c.p);
      d1 = FillLerp8(d1, c.inv1, c.p);
      d2 = FillLerp8(d2, c.inv2, c.p);
    } else if constexpr (Op == kFillMulAlpha) {
      d0 = FillLerp8(d0, (d0 * c.c0) >> 8, c.p);
      d1 = FillLerp8(d1, (d1 * c.c1) >> 8, c.p);
      d2 = FillLerp8(d2, (d2 * c.c2) >> 8, c.p);
    }
    px[0] = static_cast<uint8_t>(d0);
    px[1] = static_cast<uint8_t>(d1);
    px[2] = static_cast<uint8_t>(d2);
  }
}

// ---- RGB565 destination -------------------------------------------------------

template <int Op>
inline void FillPixel16(uint8_t* px, const FillColour& c) {
  if constexpr (Op == kFillCopy) {
    StorePixel16(px, c.word);
  } else if constexpr (Op == kFillAdd) {
    StorePixel16(px, blitops::PackedAdd16(LoadPixel16(px), c.operand));
  } else if constexpr (Op == kFillSub) {
    StorePixel16(px, blitops::PackedSub16(LoadPixel16(px), c.operand));
  } else {
    uint32_t d = LoadPixel16(px);
    int32_t b = d & 31, g = (d >> 5) & 63, r = d >> 11;
    if constexpr (Op == kFillAlpha) {
      b += c.diff[c.c0 - b];
      g += c.diff[c.c1 - g];
      r += c.diff[c.c2 - r];
    } else if constexpr (Op == kFillMul) {
      b = (b * c.c0) >> 5;
      g = (g * c.c1) >> 6;
      r = (r * c.c2) >> 5;
    } else if constexpr (Op == kFillInvert) {
      b += c.diff[c.inv0 - b];
      g += c.diff[c.inv1 - g];
      r += c.diff[c.inv2 - r];
    } else if constexpr (Op == kFillMulAlpha) {
      b += c.diff[((b * c.c0) >> 5) - b];
      g += c.diff[((g * c.c1) >> 6) - g];
      r += c.diff[((r * c.c2) >> 5) - r];
    }
    StorePixel16(px, static_cast<uint32_t>(r << 11 | g << 5 | b));
  }
}

// Draws one pixel of the format; Bytes is 4 for a 32-bit and 2 for an RGB565
// pixel.
template <int Op, int Bytes>
inline void FillPixel(uint8_t* px, const FillColour& c) {
  if constexpr (Bytes == 4) {
    FillPixel32<Op>(px, c);
  } else {
    FillPixel16<Op>(px, c);
  }
}

// The draw state's clip rectangle, also bounded by the destination's own
// size so that a clip rectangle left larger than the image cannot send a
// write past it.
inline IntRect BoundedClip(const MEMIMG* dst) {
  IntRect clip = SoftDraw().clip;
  if (clip.left < 0) clip.left = 0;
  if (clip.top < 0) clip.top = 0;
  if (clip.right > dst->width) clip.right = dst->width;
  if (clip.bottom > dst->height) clip.bottom = dst->height;
  return clip;
}
