// lib/sound/yuv_rows_avx2.cpp - a 4:2:0 row to 32-bit pixels sixteen at a
// time, for processors with AVX2 (only called on them).
#include "lib/sound/yuv_rows.h"

// clang does not take the GCC target pragma; its own form marks every
// function of the file.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif
#include <immintrin.h>

namespace {

// A pair of 16-bit coefficients for madd: lo times the even element, hi
// times the odd one.
__m256i Pair(int32_t lo, int32_t hi) {
  return _mm256_set1_epi32(static_cast<int32_t>((static_cast<uint32_t>(hi & 0xFFFF) << 16) | (lo & 0xFFFF)));
}

// Eight chroma samples, less 128, each twice: the chroma of sixteen pixels
// in order.
__m256i Chroma(const uint8_t* p) {
  const __m128i c = _mm_sub_epi16(_mm_cvtepu8_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))),
                                  _mm_set1_epi16(128));
  return _mm256_set_m128i(_mm_unpackhi_epi16(c, c), _mm_unpacklo_epi16(c, c));
}

// The sums divided by 16384, as in the SSE4.1 rows: lo holds pixels 0-3
// and 8-11, hi 4-7 and 12-15, so the pack puts them in order.
__m256i Scale(__m256i lo, __m256i hi) {
  const __m256i v = _mm256_packs_epi32(_mm256_srai_epi32(lo, 14), _mm256_srai_epi32(hi, 14));
  return _mm256_min_epi16(_mm256_max_epi16(v, _mm256_setzero_si256()), _mm256_set1_epi16(255));
}

}  // namespace

int Yuv420RowAvx2(const uint8_t* luma, const uint8_t* cb, const uint8_t* cr, uint8_t* out, int width) {
  // Blue's Cb coefficient does not fit 16 bits; its half does, times 2 (Cb - 128).
  const __m256i k_blue = Pair(kYuvLuma, kYuvCbBlue / 2), k_red = Pair(kYuvLuma, kYuvCrRed);
  const __m256i k_green = Pair(kYuvLuma, kYuvCbGreen), k_green_cr = Pair(kYuvCrGreen, kYuvGreenBias);
  const __m256i one = _mm256_set1_epi16(1), alpha = _mm256_set1_epi16(static_cast<int16_t>(0xFF00));
  const int n = width & ~15;
  for (int x = 0; x < n; x += 16) {
    const __m256i l = _mm256_sub_epi16(
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(luma + x))), _mm256_set1_epi16(16));
    const __m256i u = Chroma(cb + x / 2), v = Chroma(cr + x / 2);
    const __m256i u2 = _mm256_add_epi16(u, u);
    const __m256i b = Scale(_mm256_madd_epi16(_mm256_unpacklo_epi16(l, u2), k_blue),
                            _mm256_madd_epi16(_mm256_unpackhi_epi16(l, u2), k_blue));
    const __m256i r = Scale(_mm256_madd_epi16(_mm256_unpacklo_epi16(l, v), k_red),
                            _mm256_madd_epi16(_mm256_unpackhi_epi16(l, v), k_red));
    const __m256i g = Scale(_mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(l, u), k_green),
                                             _mm256_madd_epi16(_mm256_unpacklo_epi16(v, one), k_green_cr)),
                            _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(l, u), k_green),
                                             _mm256_madd_epi16(_mm256_unpackhi_epi16(v, one), k_green_cr)));
    const __m256i bg = _mm256_or_si256(b, _mm256_slli_epi16(g, 8)), ra = _mm256_or_si256(r, alpha);
    // Pixels 0-3 and 8-11, and 4-7 and 12-15: put back in order.
    const __m256i lo = _mm256_unpacklo_epi16(bg, ra), hi = _mm256_unpackhi_epi16(bg, ra);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * x), _mm256_permute2x128_si256(lo, hi, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * x + 32), _mm256_permute2x128_si256(lo, hi, 0x31));
  }
  return n;
}

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
