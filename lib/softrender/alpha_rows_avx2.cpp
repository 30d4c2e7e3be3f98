// lib/softrender/alpha_rows_avx2.cpp - the vector rows, eight pixels a step,
// for processors with AVX2 (only called on them).
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "lib/softrender/alpha_rows.h"

// clang does not take the GCC target pragma; its own form marks every
// function of the file.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif
#include <immintrin.h>

namespace alpharows {
namespace {

#include "lib/softrender/alpha_rows_vec128.h"

struct Wide {
  using T = __m256i;
  static constexpr int kLanes = 8;
  static T Zero() { return _mm256_setzero_si256(); }
  static T Set1(uint32_t v) { return _mm256_set1_epi32(static_cast<int32_t>(v)); }
  template <int N>
  static T Load(const uint8_t* p) {
    static_assert(N == 8);
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  }
  template <int N>
  static void Store(uint8_t* p, T v) {
    static_assert(N == 8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
  }
  static T Shuffle(int b0, int b1, int b2, int b3, int b4, int b5, int b6, int b7, int b8, int b9, int b10, int b11,
                   int b12, int b13, int b14, int b15) {
    return _mm256_broadcastsi128_si256(Vec128::Shuffle(b0, b1, b2, b3, b4, b5, b6, b7, b8, b9, b10, b11, b12, b13,
                                                       b14, b15));
  }
  // A byte shuffle putting the 16-bit word at byte i into 16-bit lane k.
  static T Words16(int i0, int i1, int i2, int i3, int i4, int i5, int i6, int i7) {
    const __m128i h = _mm_setr_epi8(char(i0), char(i0 + 1), char(i1), char(i1 + 1), char(i2), char(i2 + 1),
                                    char(i3), char(i3 + 1), char(i4), char(i4 + 1), char(i5), char(i5 + 1),
                                    char(i6), char(i6 + 1), char(i7), char(i7 + 1));
    return _mm256_broadcastsi128_si256(h);
  }
  static T And(T a, T b) { return _mm256_and_si256(a, b); }
  static T Or(T a, T b) { return _mm256_or_si256(a, b); }
  static T AndNot(T a, T b) { return _mm256_andnot_si256(a, b); }  // ~a & b
  static T Add32(T a, T b) { return _mm256_add_epi32(a, b); }
  static T Sub32(T a, T b) { return _mm256_sub_epi32(a, b); }
  static T Srli32(T a, int n) { return _mm256_srli_epi32(a, n); }
  static T Srai32(T a, int n) { return _mm256_srai_epi32(a, n); }
  static T Add16(T a, T b) { return _mm256_add_epi16(a, b); }
  static T Sub16(T a, T b) { return _mm256_sub_epi16(a, b); }
  static T Mullo16(T a, T b) { return _mm256_mullo_epi16(a, b); }
  static T MulhiU16(T a, T b) { return _mm256_mulhi_epu16(a, b); }
  static T Madd16(T a, T b) { return _mm256_madd_epi16(a, b); }
  static T Srli16(T a, int n) { return _mm256_srli_epi16(a, n); }
  // The unpacks, packs and shuffles work within each 128 bits, which the
  // steps keep to: pixels 0-3 and 4-7 are worked as two SSE steps side by side.
  static T Unpacklo8(T a, T b) { return _mm256_unpacklo_epi8(a, b); }
  static T Unpackhi8(T a, T b) { return _mm256_unpackhi_epi8(a, b); }
  static T Unpacklo16(T a, T b) { return _mm256_unpacklo_epi16(a, b); }
  static T Unpackhi16(T a, T b) { return _mm256_unpackhi_epi16(a, b); }
  static T Packus16(T a, T b) { return _mm256_packus_epi16(a, b); }
  static T Packs32(T a, T b) { return _mm256_packs_epi32(a, b); }
  static T Cmpeq32(T a, T b) { return _mm256_cmpeq_epi32(a, b); }
  static T Cmpeq16(T a, T b) { return _mm256_cmpeq_epi16(a, b); }
  static T Mullo32(T a, T b) { return _mm256_mullo_epi32(a, b); }
  static T Abs32(T a) { return _mm256_abs_epi32(a); }
  static T Sign32(T a, T b) { return _mm256_sign_epi32(a, b); }  // a, -a or 0 by the sign of b
  // N 16-bit pixels into the low halves of N 32-bit lanes, and back.
  template <int N>
  static T Load16(const uint8_t* p) {
    static_assert(N == 8);
    return _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
  }
  template <int N>
  static void Store16(uint8_t* p, T v) {
    static_assert(N == 8);
    const T packed = _mm256_permute4x64_epi64(_mm256_packus_epi32(v, v), 0x08);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm256_castsi256_si128(packed));
  }
  static T Cmpgt32(T a, T b) { return _mm256_cmpgt_epi32(a, b); }
  static T Xor(T a, T b) { return _mm256_xor_si256(a, b); }
  static T Slli32(T a, int n) { return _mm256_slli_epi32(a, n); }
  static T Shuffle8(T a, T m) { return _mm256_shuffle_epi8(a, m); }
  template <int I>
  static T Shuffle32(T a) { return _mm256_shuffle_epi32(a, I); }
  // Bytes of b where m's byte has its top bit set, else of a.
  static T Blend8(T a, T b, T m) { return _mm256_blendv_epi8(a, b, m); }
  // One bit per byte, as an unsigned mask.
  static uint32_t Movemask8(T a) { return static_cast<uint32_t>(_mm256_movemask_epi8(a)); }
  // All ones in lane i where bit i of bits is set.
  static T LanesFromBits(uint32_t bits) {
    const T sel = _mm256_setr_epi32(1, 2, 4, 8, 16, 32, 64, 128);
    return _mm256_cmpeq_epi32(_mm256_and_si256(Set1(bits), sel), sel);
  }
};

#include "lib/softrender/alpha_rows_body.h"
#include "lib/softrender/pair_rows_body.h"
#include "lib/softrender/alpha16_rows_body.h"

}  // namespace

RowFn AlphaRowAvx2(int mode, Classes classes) { return PickAlphaRow(mode, classes); }

MaskedRowFn AlphaMaskedRowAvx2(int mode) { return PickAlphaMaskedRow(mode); }

MaskedRowsFn AlphaMaskedRowsAvx2(int mode) { return PickAlphaMaskedRows(mode); }

PairRowFn PairRowAvx2(bool sub, bool keyed) { return PickPairRow(sub, keyed); }

RowFn Alpha16RowAvx2(int mode, Classes classes) { return PickAlpha16Row(mode, classes); }

MaskedRowFn Alpha16MaskedRowAvx2(int mode) { return PickAlpha16MaskedRow(mode); }

MaskedRowsFn Alpha16MaskedRowsAvx2(int mode) { return PickAlpha16MaskedRows(mode); }

}  // namespace alpharows

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
