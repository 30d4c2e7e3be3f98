// platform/d3d9/d3d9_spans_avx2.cpp - the point-sampled blended span, eight
// pixels a step, for processors with AVX2 (only called on them).
#include <cstdint>

#include "platform/d3d9/d3d9_spans_simd.h"

#pragma GCC push_options
#pragma GCC target("avx2")
// clang does not take the GCC target pragma; its own form marks every
// function of the file.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#endif
#include <immintrin.h>

namespace plat {

namespace {

// Eight pixels, two per 64 bits of each 128-bit half, worked in 16-bit lanes
// by the reference's steps: the rounded product t = x * y + 128,
// (t + (t >> 8)) >> 8, the alpha broadcast, the blend and the saturating pack.
__attribute__((always_inline)) inline __m256i Round255(__m256i m) {
  return _mm256_srli_epi16(_mm256_add_epi16(m, _mm256_srli_epi16(m, 8)), 8);
}

__attribute__((always_inline)) inline __m256i Half(__m256i q, __m256i d, __m256i diffuse, const PointSpanRun& r,
                                                   __m256i* alpha) {
  const __m256i half = _mm256_set1_epi16(128);
  if (r.modulate) q = Round255(_mm256_add_epi16(_mm256_mullo_epi16(q, diffuse), half));
  const __m256i a = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(q, 0xFF), 0xFF);
  *alpha = q;
  __m256i m = _mm256_mullo_epi16(q, a);
  if (!r.additive) m = _mm256_add_epi16(m, _mm256_mullo_epi16(d, _mm256_sub_epi16(_mm256_set1_epi16(255), a)));
  __m256i res = Round255(_mm256_add_epi16(m, half));
  if (r.additive) res = _mm256_add_epi16(res, d);  // saturated by the pack
  return res;
}

}  // namespace

int PointSpanAvx2(const PointSpanRun& r, int x, int last, int64_t* u_io, int64_t* v_io, int64_t du, int64_t dv) {
  // Inside the run the texel positions lie in [0, 2^31), so 32-bit lanes
  // stepping by du and dv modulo 2^32 hold them exactly.
  const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  __m256i u = _mm256_add_epi32(_mm256_set1_epi32(int32_t(uint32_t(*u_io))),
                               _mm256_mullo_epi32(lane, _mm256_set1_epi32(int32_t(uint32_t(du)))));
  __m256i v = _mm256_add_epi32(_mm256_set1_epi32(int32_t(uint32_t(*v_io))),
                               _mm256_mullo_epi32(lane, _mm256_set1_epi32(int32_t(uint32_t(dv)))));
  const __m256i du8 = _mm256_set1_epi32(int32_t(uint32_t(du * 8))), dv8 = _mm256_set1_epi32(int32_t(uint32_t(dv * 8)));
  const __m256i stride = _mm256_set1_epi32(int32_t(r.stride));
  const __m256i ao = _mm256_set1_epi32(int32_t(r.alpha_or));
  const __m256i tmask = _mm256_set1_epi32(int32_t(r.tmask)), tfill = _mm256_set1_epi32(int32_t(r.tfill));
  const __m256i z = _mm256_setzero_si256();
  const __m256i diffuse = _mm256_unpacklo_epi8(_mm256_set1_epi32(int32_t(r.diffuse)), z);
  const __m256i alpha_bits = _mm256_set1_epi32(int32_t(0xFF000000u));
  const __m256i force = r.opaque_target ? alpha_bits : z;
  const int32_t* base = reinterpret_cast<const int32_t*>(r.texels);
  int n = 0;
  for (; x + 7 <= last; x += 8, n += 8) {
    const __m256i idx = _mm256_add_epi32(_mm256_mullo_epi32(_mm256_srli_epi32(v, 16), stride), _mm256_srli_epi32(u, 16));
    const __m256i tex = _mm256_or_si256(_mm256_i32gather_epi32(base, idx, 4), ao);
    u = _mm256_add_epi32(u, du8);
    v = _mm256_add_epi32(v, dv8);
    if (r.skip_clear && _mm256_testz_si256(tex, alpha_bits)) continue;
    const __m256i src = _mm256_or_si256(_mm256_and_si256(tex, tmask), tfill);
    uint32_t* out = r.row + x;
    const __m256i dst = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(out));
    __m256i alo, ahi;
    const __m256i lo = Half(_mm256_unpacklo_epi8(src, z), _mm256_unpacklo_epi8(dst, z), diffuse, r, &alo);
    const __m256i hi = Half(_mm256_unpackhi_epi8(src, z), _mm256_unpackhi_epi8(dst, z), diffuse, r, &ahi);
    const __m256i res = _mm256_or_si256(_mm256_packus_epi16(lo, hi), force);
    // A pixel whose source alpha is 0 keeps its bytes.
    const __m256i src_alpha = _mm256_packus_epi16(alo, ahi);
    const __m256i keep = _mm256_cmpeq_epi32(_mm256_and_si256(src_alpha, alpha_bits), z);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_blendv_epi8(res, dst, keep));
  }
  *u_io += du * n;
  *v_io += dv * n;
  return x;
}

}  // namespace plat

#if defined(__clang__)
#pragma clang attribute pop
#endif
#pragma GCC pop_options
