// platform/d3d9/d3d9_spans_simd.h - the rasteriser's vector spans: the
// point-sampled, blended span of one texture stage in SSE4.1 (four pixels a
// step) and AVX2 (eight), chosen at run time from the processor. Each gives
// every pixel the value the reference span gives it, by the same integer
// steps; the reference spans draw what they leave over and whatever they do
// not take.
#pragma once

#include <cstdint>

namespace plat {

// One run of a span whose every pixel samples inside the texture.
struct PointSpanRun {
  const uint32_t* texels;
  int64_t stride;                    // in texels
  uint32_t alpha_or;                 // ORed into every texel
  uint32_t tmask, tfill;             // texel channels kept / forced to 255
  uint32_t diffuse;                  // the modulating colour
  bool modulate;                     // multiply by diffuse
  bool additive;                     // else the alpha blend
  bool opaque_target;                // X8R8G8B8: alpha written as 255
  bool skip_clear;                   // texels of alpha 0 are not drawn
  uint32_t* row;                     // the target row
};

// Draws pixels x, x + 1, ... of the run in whole steps while they stay at or
// before last, from the texel position (u, v) (16.16, stepped by du, dv),
// and returns the first pixel not drawn; u and v are moved on with it.
using PointSpanFn = int (*)(const PointSpanRun& run, int x, int last, int64_t* u, int64_t* v, int64_t du,
                            int64_t dv);

int PointSpanSse41(const PointSpanRun& run, int x, int last, int64_t* u, int64_t* v, int64_t du, int64_t dv);
int PointSpanAvx2(const PointSpanRun& run, int x, int last, int64_t* u, int64_t* v, int64_t du, int64_t dv);

// Span levels: 0 the reference spans, 1 SSE4.1, 2 AVX2.
int SpanLevelInUse();
PointSpanFn PointSpanForLevel(int level);

}  // namespace plat
