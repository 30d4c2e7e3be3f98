// platform/d3d9/d3d9_spans_sse41.cpp - the point-sampled blended span, four
// pixels a step, for processors with SSE4.1 (only called on them).
#include <cstdint>

#include "platform/d3d9/d3d9_spans_simd.h"

#pragma GCC push_options
#pragma GCC target("sse4.1")
// clang does not take the GCC target pragma; its own form marks every
// function of the file.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("sse4.1"))), apply_to = function)
#endif
#include <smmintrin.h>

namespace plat {

namespace {

// Four pixels, two per 64-bit half, worked in 16-bit lanes by the
// reference's steps (see the AVX2 span).
__attribute__((always_inline)) inline __m128i Round255(__m128i m) {
  return _mm_srli_epi16(_mm_add_epi16(m, _mm_srli_epi16(m, 8)), 8);
}

__attribute__((always_inline)) inline __m128i Half(__m128i q, __m128i d, __m128i diffuse, const PointSpanRun& r,
                                                   __m128i* alpha) {
  const __m128i half = _mm_set1_epi16(128);
  if (r.modulate) q = Round255(_mm_add_epi16(_mm_mullo_epi16(q, diffuse), half));
  const __m128i a = _mm_shufflehi_epi16(_mm_shufflelo_epi16(q, 0xFF), 0xFF);
  *alpha = q;
  __m128i m = _mm_mullo_epi16(q, a);
  if (!r.additive) m = _mm_add_epi16(m, _mm_mullo_epi16(d, _mm_sub_epi16(_mm_set1_epi16(255), a)));
  __m128i res = Round255(_mm_add_epi16(m, half));
  if (r.additive) res = _mm_add_epi16(res, d);  // saturated by the pack
  return res;
}

}  // namespace

int PointSpanSse41(const PointSpanRun& r, int x, int last, int64_t* u_io, int64_t* v_io, int64_t du, int64_t dv) {
  const __m128i ao = _mm_set1_epi32(int32_t(r.alpha_or));
  const __m128i tmask = _mm_set1_epi32(int32_t(r.tmask)), tfill = _mm_set1_epi32(int32_t(r.tfill));
  const __m128i z = _mm_setzero_si128();
  const __m128i diffuse = _mm_unpacklo_epi8(_mm_set1_epi32(int32_t(r.diffuse)), z);
  const __m128i alpha_bits = _mm_set1_epi32(int32_t(0xFF000000u));
  const __m128i force = r.opaque_target ? alpha_bits : z;
  int64_t u = *u_io, v = *v_io;
  const size_t stride = size_t(r.stride);
  for (; x + 3 <= last; x += 4) {
    uint32_t t[4];
    for (int i = 0; i < 4; i++) {
      t[i] = r.texels[size_t(v >> 16) * stride + size_t(u >> 16)];
      u += du;
      v += dv;
    }
    const __m128i tex = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t)), ao);
    if (r.skip_clear && _mm_testz_si128(tex, alpha_bits)) continue;
    const __m128i src = _mm_or_si128(_mm_and_si128(tex, tmask), tfill);
    uint32_t* out = r.row + x;
    const __m128i dst = _mm_loadu_si128(reinterpret_cast<const __m128i*>(out));
    __m128i alo, ahi;
    const __m128i lo = Half(_mm_unpacklo_epi8(src, z), _mm_unpacklo_epi8(dst, z), diffuse, r, &alo);
    const __m128i hi = Half(_mm_unpackhi_epi8(src, z), _mm_unpackhi_epi8(dst, z), diffuse, r, &ahi);
    const __m128i res = _mm_or_si128(_mm_packus_epi16(lo, hi), force);
    // A pixel whose source alpha is 0 keeps its bytes.
    const __m128i keep = _mm_cmpeq_epi32(_mm_and_si128(_mm_packus_epi16(alo, ahi), alpha_bits), z);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_blendv_epi8(res, dst, keep));
  }
  *u_io = u;
  *v_io = v;
  return x;
}

}  // namespace plat

#if defined(__clang__)
#pragma clang attribute pop
#endif
#pragma GCC pop_options
