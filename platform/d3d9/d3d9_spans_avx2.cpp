// platform/d3d9/d3d9_spans_avx2.cpp - the vector spans eight pixels a step,
// for processors with AVX2 (only called on them).
#include <cstdint>

#include "platform/d3d9/d3d9_spans_simd.h"

// clang does not take the GCC target pragma; its own form marks every
// function of the file.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif
#include <immintrin.h>

#include "platform/d3d9/d3d9_spans_kernel.h"

namespace plat {

namespace {

#define RORUD_LANE_OP __attribute__((always_inline)) static inline

struct Avx2Lanes {
  using I = __m256i;
  static constexpr bool kMaskedMemory = true;  // masked 32-bit loads and stores
  static constexpr int kLanes = 8;
  RORUD_LANE_OP I Zero() { return _mm256_setzero_si256(); }
  RORUD_LANE_OP I Set1(uint32_t x) { return _mm256_set1_epi32(int32_t(x)); }
  RORUD_LANE_OP I Lane() { return _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7); }
  RORUD_LANE_OP I And(I a, I b) { return _mm256_and_si256(a, b); }
  RORUD_LANE_OP I AndNot(I a, I b) { return _mm256_andnot_si256(a, b); }  // ~a & b
  RORUD_LANE_OP I Or(I a, I b) { return _mm256_or_si256(a, b); }
  RORUD_LANE_OP I Add32(I a, I b) { return _mm256_add_epi32(a, b); }
  RORUD_LANE_OP I Sub32(I a, I b) { return _mm256_sub_epi32(a, b); }
  // Lane i: i * d (modulo 2^32), without a 32-bit product's latency.
  RORUD_LANE_OP I LaneSteps(uint32_t d) {
    const I lane = Lane();
    I r = And(Eq32(And(lane, Set1(1)), Set1(1)), Set1(d));
    r = Add32(r, And(Eq32(And(lane, Set1(2)), Set1(2)), Set1(2 * d)));
    r = Add32(r, And(Eq32(And(lane, Set1(4)), Set1(4)), Set1(4 * d)));
    return r;
  }
  // y * stride for y and stride below 2^15 (stride with its high half 0).
  RORUD_LANE_OP I MulRow(I y, I stride) { return _mm256_madd_epi16(y, stride); }
  RORUD_LANE_OP I Xor(I a, I b) { return _mm256_xor_si256(a, b); }
  RORUD_LANE_OP I Madd16(I a, I b) { return _mm256_madd_epi16(a, b); }
  // Interleaving and packing within each 128-bit half.
  RORUD_LANE_OP I UnpackLo16(I a, I b) { return _mm256_unpacklo_epi16(a, b); }
  RORUD_LANE_OP I UnpackHi16(I a, I b) { return _mm256_unpackhi_epi16(a, b); }
  RORUD_LANE_OP I UnpackLo32(I a, I b) { return _mm256_unpacklo_epi32(a, b); }
  RORUD_LANE_OP I UnpackHi32(I a, I b) { return _mm256_unpackhi_epi32(a, b); }
  RORUD_LANE_OP I PackUs32(I a, I b) { return _mm256_packus_epi32(a, b); }
  RORUD_LANE_OP I Add16(I a, I b) { return _mm256_add_epi16(a, b); }
  RORUD_LANE_OP I Sub16(I a, I b) { return _mm256_sub_epi16(a, b); }
  RORUD_LANE_OP I Mul16(I a, I b) { return _mm256_mullo_epi16(a, b); }
  RORUD_LANE_OP I MulHiU16(I a, I b) { return _mm256_mulhi_epu16(a, b); }
  RORUD_LANE_OP I AddSatU8(I a, I b) { return _mm256_adds_epu8(a, b); }
  RORUD_LANE_OP I Shuffle8(I a, I pattern) { return _mm256_shuffle_epi8(a, pattern); }
  RORUD_LANE_OP I LoadBytes(const uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
  // Lane i takes a's lane idx[i] (0 .. 7).
  RORUD_LANE_OP I Permute32(I a, I idx) { return _mm256_permutevar8x32_epi32(a, idx); }
  RORUD_LANE_OP I MinU16(I a, I b) { return _mm256_min_epu16(a, b); }
  RORUD_LANE_OP I Min32(I a, I b) { return _mm256_min_epi32(a, b); }
  RORUD_LANE_OP I Max32(I a, I b) { return _mm256_max_epi32(a, b); }
  RORUD_LANE_OP I Eq32(I a, I b) { return _mm256_cmpeq_epi32(a, b); }
  RORUD_LANE_OP I Gt32(I a, I b) { return _mm256_cmpgt_epi32(a, b); }
  template <int k> RORUD_LANE_OP I Srl16(I a) { return _mm256_srli_epi16(a, k); }
  template <int k> RORUD_LANE_OP I Sll16(I a) { return _mm256_slli_epi16(a, k); }
  template <int k> RORUD_LANE_OP I Srl32(I a) { return _mm256_srli_epi32(a, k); }
  template <int k> RORUD_LANE_OP I Sll32(I a) { return _mm256_slli_epi32(a, k); }
  template <int k> RORUD_LANE_OP I Sra32(I a) { return _mm256_srai_epi32(a, k); }
  RORUD_LANE_OP bool AllZero(I a) { return _mm256_testz_si256(a, a) != 0; }
  RORUD_LANE_OP bool NoneInBoth(I a, I b) { return _mm256_testz_si256(a, b) != 0; }  // a & b all zero
  // Lanes of mask set take b.
  RORUD_LANE_OP I Blend(I a, I b, I mask) { return _mm256_blendv_epi8(a, b, mask); }
  RORUD_LANE_OP I Gather(const uint32_t* base, I idx) {
    return _mm256_i32gather_epi32(reinterpret_cast<const int*>(base), idx, 4);
  }
  RORUD_LANE_OP I Load32(const uint32_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
  RORUD_LANE_OP I Load32Part(const uint32_t* p, int n, I valid) {
    return _mm256_maskload_epi32(reinterpret_cast<const int*>(p), valid);
  }
  RORUD_LANE_OP void Store32(uint32_t* p, I v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
  RORUD_LANE_OP void Store32Masked(uint32_t* p, I v, I mask) { _mm256_maskstore_epi32(reinterpret_cast<int*>(p), mask, v); }
  RORUD_LANE_OP I Load16(const uint16_t* p) {
    return _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
  }
  RORUD_LANE_OP I Load16Part(const uint16_t* p, int n) {
    alignas(16) uint16_t t[8] = {};
    for (int i = 0; i < n && i < 8; i++) t[i] = p[i];
    return _mm256_cvtepu16_epi32(_mm_load_si128(reinterpret_cast<const __m128i*>(t)));
  }
  RORUD_LANE_OP void Store16(uint16_t* p, I v) {
    const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi32(v, v), 0x08);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm256_castsi256_si128(packed));
  }
  RORUD_LANE_OP void Store16Masked(uint16_t* p, I v, I mask) {
    alignas(32) uint32_t t[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(t), v);
    const int bits = _mm256_movemask_ps(_mm256_castsi256_ps(mask));
    for (int i = 0; i < 8; i++)
      if (bits & (1 << i)) p[i] = uint16_t(t[i]);
  }
};

#undef RORUD_LANE_OP

}  // namespace

VecSpanFn VecSpanAvx2(int filter, bool modulate, int blend, int target, bool test) {
  return PickKernel<Avx2Lanes>(filter, modulate, blend, target, test);
}

VecSpanFn VecTermSpanAvx2(int target) { return PickTermKernel<Avx2Lanes>(target); }

}  // namespace plat

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
