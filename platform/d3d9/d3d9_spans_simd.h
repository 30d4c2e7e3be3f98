// platform/d3d9/d3d9_spans_simd.h - the rasteriser's vector spans: the
// specialised spans of one texture stage (constant colour, point-sampled or
// bilinear; opaque, alpha-blended or additive; modulated by a constant
// diffuse or not; into A8R8G8B8, X8R8G8B8 or R5G6B5) in SSE4.1 (four pixels
// a step) and AVX2 (eight), chosen at run time from the processor. Each
// gives every pixel the value the reference span gives it, by the same
// integer steps, clamped addressing and alpha test included.
#pragma once

#include <cstdint>

namespace plat {

// One span of a row: pixels x0 .. x1 - 1, the first sampling at the texel
// position (u, v) (16.16, stepped by du, dv per pixel). The caller sees to
// it that every position of the span lies within +-2^30, that the texture's
// sides and stride are below 32768 and that every texel index fits in 31
// bits.
struct SpanArgs {
  const uint32_t* texels;
  int32_t stride;                  // in texels
  int32_t width, height;
  uint32_t alpha_or;               // ORed into every texel
  uint32_t tmask, tfill;           // texel channels kept / forced to 255
  uint32_t diffuse;                // the modulating colour (the colour itself without a texture)
  bool skip_clear;                 // texels of alpha 0 give a source alpha of 0
  bool alpha_test;
  uint32_t alpha_func, alpha_ref;
  uint8_t* row;                    // the target row
  int x0, x1;
  int64_t u, v, du, dv;
};

using VecSpanFn = void (*)(const SpanArgs& args);

// filter: 0 no texture, 1 point, 2 bilinear; blend: 0 opaque, 1 alpha,
// 2 additive; target: 0 A8R8G8B8, 1 X8R8G8B8, 2 R5G6B5; test: the draw has
// an alpha test (the span's alpha_test then says whether it is on).
VecSpanFn VecSpanSse41(int filter, bool modulate, int blend, int target, bool test);
VecSpanFn VecSpanAvx2(int filter, bool modulate, int blend, int target, bool test);

// Span levels: 0 the reference spans, 1 SSE4.1, 2 AVX2.
int SpanLevelInUse();
VecSpanFn VecSpanForLevel(int level, int filter, bool modulate, int blend, int target, bool test);

}  // namespace plat
