// lib/softrender/xform_context.h - what the transformed kernels take from
// the draw state, the blend tables and the images once per call.
#pragma once

#include <cstdint>

#include "lib/core/math3d.h"
#include "lib/softrender/blend_tables.h"
#include "lib/softrender/memimg.h"
#include "lib/softrender/soft_draw_state.h"
#include "lib/softrender/xform_pixel_ops.h"

namespace softxform {

// Source sizes, coordinates and their differences must stay within this many
// pixels for every 14.18 value to fit a signed 32-bit word.
constexpr int32_t kMaxCoordinate = 8191;

inline bool UsableImage(const MEMIMG* image) {
  return image != nullptr && image->check == kMemImgCheck && image->base != nullptr && image->pixels != nullptr &&
         image->width >= 0 && image->height >= 0;
}

// A destination the kernels draw on: 16-bit or 32-bit, not paletted, no alpha.
inline bool UsableDestination(const MEMIMG* dst) {
  if (!UsableImage(dst)) return false;
  const MemImgBase* b = dst->base;
  return b->paletted != 1 && b->alpha != 1 && (b->pixel_format == kMemImgRgb565 || b->pixel_format == kMemImg32);
}

// The family of a source drawn onto a destination of the same format.
inline Family SourceFamily(const MEMIMG* src) {
  const MemImgBase* b = src->base;
  const bool paletted = b->paletted == 1;
  if (b->pixel_format == kMemImg32) return paletted ? Family::kPal32 : Family::kDirect32;
  return paletted ? Family::kPal16 : Family::kDirect16;
}

// A blend image is read one byte a pixel at the texel's column and row: it
// must cover the whole source, or the read would leave its rows.
inline bool BlendImageCovers(const MEMIMG* blend, const MEMIMG* src) {
  return UsableImage(blend) && blend->width >= src->width && blend->height >= src->height &&
         blend->base->pitch >= blend->width;
}

// The draw state's clip rectangle, kept inside the destination.
inline IntRect ClipInside(const SoftDrawState& state, const MEMIMG* dst) {
  IntRect clip = state.clip;
  const IntRect bounds{0, 0, dst->width, dst->height};
  ClipRect(&clip, &bounds);
  return clip;
}

inline uint32_t ClampedParam(const SoftDrawState& state) {
  const int32_t p = state.blend_param;
  return static_cast<uint32_t>(p < 0 ? 0 : (p > 255 ? 255 : p));
}

inline bool BrightIsWhite(const SoftDrawState& state) { return (state.bright & 0xFFFFFFu) == 0xFFFFFFu; }

inline OpContext MakeOpContext(const SoftDrawState& state, const MEMIMG* src) {
  BlendTables& tables = SoftBlendTables();
  OpContext c;
  const uint32_t bright = state.bright;
  const uint32_t p = ClampedParam(state);
  c.mul_b = tables.mul[bright & 0xFF];
  c.mul_g = tables.mul[(bright >> 8) & 0xFF];
  c.mul_r = tables.mul[(bright >> 16) & 0xFF];
  c.mul_p = tables.mul[p];
  c.diff_p = &tables.diff[p][255];
  c.weight = tables.weight;
  c.p = p;
  if (src != nullptr) {
    c.colour_key = src->base->colour_key;
    c.palette = src->base->palette;
  }
  return c;
}

}  // namespace softxform
