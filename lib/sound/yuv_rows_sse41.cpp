// lib/sound/yuv_rows_sse41.cpp - a 4:2:0 row to 32-bit pixels eight at a
// time, for processors with SSE4.1 (only called on them).
#include <cstring>

#include "lib/sound/yuv_rows.h"

// clang does not take the GCC target pragma; its own form marks every
// function of the file.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("sse4.1"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("sse4.1")
#endif
#include <immintrin.h>

namespace {

// A pair of 16-bit coefficients for madd: lo times the even element, hi
// times the odd one.
__m128i Pair(int32_t lo, int32_t hi) {
  return _mm_set1_epi32(static_cast<int32_t>((static_cast<uint32_t>(hi & 0xFFFF) << 16) | (lo & 0xFFFF)));
}

// Four chroma samples, less 128, each twice: the chroma of eight pixels.
__m128i Chroma(const uint8_t* p) {
  int32_t four;
  std::memcpy(&four, p, 4);
  const __m128i c = _mm_sub_epi16(_mm_cvtepu8_epi16(_mm_cvtsi32_si128(four)), _mm_set1_epi16(128));
  return _mm_unpacklo_epi16(c, c);
}

// The sums of four pixels divided by 16384. Every sum lies within
// (-2^23, 2^24), so the shifted values fit 16 bits; where a sum is negative
// the shift rounds down and the division toward zero, but both give at most
// 0, which the clamp makes 0.
__m128i Scale(__m128i lo, __m128i hi) {
  const __m128i v = _mm_packs_epi32(_mm_srai_epi32(lo, 14), _mm_srai_epi32(hi, 14));
  return _mm_min_epi16(_mm_max_epi16(v, _mm_setzero_si128()), _mm_set1_epi16(255));
}

}  // namespace

int Yuv420RowSse41(const uint8_t* luma, const uint8_t* cb, const uint8_t* cr, uint8_t* out, int width) {
  // Blue's Cb coefficient does not fit 16 bits; its half does, times 2 (Cb - 128).
  const __m128i k_blue = Pair(kYuvLuma, kYuvCbBlue / 2), k_red = Pair(kYuvLuma, kYuvCrRed);
  const __m128i k_green = Pair(kYuvLuma, kYuvCbGreen), k_green_cr = Pair(kYuvCrGreen, kYuvGreenBias);
  const __m128i one = _mm_set1_epi16(1), alpha = _mm_set1_epi16(static_cast<int16_t>(0xFF00));
  const int n = width & ~7;
  for (int x = 0; x < n; x += 8) {
    const __m128i l = _mm_sub_epi16(_mm_cvtepu8_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(luma + x))),
                                    _mm_set1_epi16(16));
    const __m128i u = Chroma(cb + x / 2), v = Chroma(cr + x / 2);
    const __m128i u2 = _mm_add_epi16(u, u);
    const __m128i b = Scale(_mm_madd_epi16(_mm_unpacklo_epi16(l, u2), k_blue),
                            _mm_madd_epi16(_mm_unpackhi_epi16(l, u2), k_blue));
    const __m128i r = Scale(_mm_madd_epi16(_mm_unpacklo_epi16(l, v), k_red),
                            _mm_madd_epi16(_mm_unpackhi_epi16(l, v), k_red));
    const __m128i g = Scale(_mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(l, u), k_green),
                                          _mm_madd_epi16(_mm_unpacklo_epi16(v, one), k_green_cr)),
                            _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(l, u), k_green),
                                          _mm_madd_epi16(_mm_unpackhi_epi16(v, one), k_green_cr)));
    const __m128i bg = _mm_or_si128(b, _mm_slli_epi16(g, 8)), ra = _mm_or_si128(r, alpha);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * x), _mm_unpacklo_epi16(bg, ra));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * x + 16), _mm_unpackhi_epi16(bg, ra));
  }
  return n;
}

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
