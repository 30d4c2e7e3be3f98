// platform/d3d9/d3d9_spans_simd.h - the rasteriser's vector spans: the
// specialised spans of one texture stage (constant colour, point-sampled or
// bilinear; opaque, alpha-blended or additive; modulated by a constant
// diffuse or not; into A8R8G8B8, X8R8G8B8 or R5G6B5) in SSE4.1 (four pixels
// a step), AVX2 (eight) and AVX-512 (sixteen), chosen at run time from the
// processor. Each
// gives every pixel the value the reference span gives it, by the same
// integer steps, clamped addressing and alpha test included.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plat {

// What the spans of one draw share: the texture, the channel masks and the
// alpha test. The caller sees to it that the texture's sides and stride are
// below 32768 and that every texel index fits in 31 bits.
struct SpanDraw {
  const uint32_t* texels = nullptr;
  int32_t stride = 0;              // in texels
  int32_t width = 1, height = 1;
  uint32_t alpha_or = 0;           // ORed into every texel
  uint32_t tmask = 0, tfill = 0;   // texel channels kept / forced to 255
  bool skip_clear = false;         // texels of alpha 0 give a source alpha of 0
  // The source alphas the alpha test passes: below, equal to and above the
  // reference (all three without a test).
  bool pass_lt = true, pass_eq = true, pass_gt = true;
  uint32_t alpha_ref = 0;
};

// One row's span: pixels x0 .. x1 - 1 of row y, the first sampling at the
// texel position (u, v) (16.16).
struct SpanRow {
  int32_t y, x0, x1;
  int32_t u, v;
};

// The spans of one triangle (rows of their own, so in any order), every
// position stepped by du, dv per pixel. The caller sees to it that every
// position of every span lies within +-2^30.
struct SpanRows {
  const SpanDraw* draw;
  uint32_t diffuse;                // the modulating colour (the colour itself without a texture)
  uint8_t* bits;                   // the target's row 0
  intptr_t pitch;                  // in bytes
  int32_t du, dv;
  const SpanRow* rows;
  int count;
};

using VecSpanFn = void (*)(const SpanRows& spans);

// filter: 0 no texture, 1 point, 2 bilinear; blend: 0 opaque, 1 alpha,
// 2 additive; target: 0 A8R8G8B8, 1 X8R8G8B8, 2 R5G6B5; test: the draw has
// an alpha test that some alphas fail.
VecSpanFn VecSpanSse41(int filter, bool modulate, int blend, int target, bool test);
VecSpanFn VecSpanAvx2(int filter, bool modulate, int blend, int target, bool test);
VecSpanFn VecSpanAvx512(int filter, bool modulate, int blend, int target, bool test);

// Additive point-sampled spans whose "texture" is a term table: entry i is
// what the span of texel i would add to a pixel, as an additive span of the
// draw gives it into a target of 0 (0 where it writes nothing), so a pixel
// takes the byte-wise saturated sum of its entry and its own value.
// target: 0 A8R8G8B8, 1 X8R8G8B8; nullptr for any other.
VecSpanFn VecTermSpanSse41(int target);
VecSpanFn VecTermSpanAvx2(int target);
VecSpanFn VecTermSpanAvx512(int target);

// Span levels: 0 the reference spans, 1 SSE4.1, 2 AVX2, 3 AVX-512.
int SpanLevelInUse();
VecSpanFn VecSpanForLevel(int level, int filter, bool modulate, int blend, int target, bool test);
VecSpanFn VecTermSpanForLevel(int level, int target);

}  // namespace plat
