// platform/d3d9/d3d9_spans_sse41.cpp - the vector spans four pixels a step,
// for processors with SSE4.1 (only called on them).
#include <cstdint>

#include "platform/d3d9/d3d9_spans_simd.h"

// clang does not take the GCC target pragma; its own form marks every
// function of the file.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("sse4.1"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("sse4.1")
#endif
#include <smmintrin.h>

#include "platform/d3d9/d3d9_spans_kernel.h"

namespace plat {

namespace {

#define RORUD_LANE_OP __attribute__((always_inline)) static inline

struct Sse41Lanes {
  using I = __m128i;
  static constexpr bool kMaskedMemory = false;  // masked 32-bit loads and stores
  static constexpr int kLanes = 4;
  RORUD_LANE_OP I Zero() { return _mm_setzero_si128(); }
  RORUD_LANE_OP I Set1(uint32_t x) { return _mm_set1_epi32(int32_t(x)); }
  RORUD_LANE_OP I Lane() { return _mm_setr_epi32(0, 1, 2, 3); }
  RORUD_LANE_OP I And(I a, I b) { return _mm_and_si128(a, b); }
  RORUD_LANE_OP I AndNot(I a, I b) { return _mm_andnot_si128(a, b); }  // ~a & b
  RORUD_LANE_OP I Or(I a, I b) { return _mm_or_si128(a, b); }
  RORUD_LANE_OP I Add32(I a, I b) { return _mm_add_epi32(a, b); }
  RORUD_LANE_OP I Sub32(I a, I b) { return _mm_sub_epi32(a, b); }
  // Lane i: i * d (modulo 2^32), without a 32-bit product's latency.
  RORUD_LANE_OP I LaneSteps(uint32_t d) {
    const I lane = Lane();
    I r = And(Eq32(And(lane, Set1(1)), Set1(1)), Set1(d));
    r = Add32(r, And(Eq32(And(lane, Set1(2)), Set1(2)), Set1(2 * d)));
    return r;
  }
  // y * stride for y and stride below 2^15 (stride with its high half 0).
  RORUD_LANE_OP I MulRow(I y, I stride) { return _mm_madd_epi16(y, stride); }
  RORUD_LANE_OP I Xor(I a, I b) { return _mm_xor_si128(a, b); }
  RORUD_LANE_OP I Madd16(I a, I b) { return _mm_madd_epi16(a, b); }
  // Interleaving and packing within each 128-bit half.
  RORUD_LANE_OP I UnpackLo16(I a, I b) { return _mm_unpacklo_epi16(a, b); }
  RORUD_LANE_OP I UnpackHi16(I a, I b) { return _mm_unpackhi_epi16(a, b); }
  RORUD_LANE_OP I UnpackLo32(I a, I b) { return _mm_unpacklo_epi32(a, b); }
  RORUD_LANE_OP I UnpackHi32(I a, I b) { return _mm_unpackhi_epi32(a, b); }
  RORUD_LANE_OP I PackUs32(I a, I b) { return _mm_packus_epi32(a, b); }
  RORUD_LANE_OP I Add16(I a, I b) { return _mm_add_epi16(a, b); }
  RORUD_LANE_OP I Sub16(I a, I b) { return _mm_sub_epi16(a, b); }
  RORUD_LANE_OP I Mul16(I a, I b) { return _mm_mullo_epi16(a, b); }
  RORUD_LANE_OP I MulHiU16(I a, I b) { return _mm_mulhi_epu16(a, b); }
  RORUD_LANE_OP I AddSatU8(I a, I b) { return _mm_adds_epu8(a, b); }
  RORUD_LANE_OP I Shuffle8(I a, I pattern) { return _mm_shuffle_epi8(a, pattern); }
  RORUD_LANE_OP I LoadBytes(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
  // Lane i takes a's lane idx[i] (0 .. 3).
  RORUD_LANE_OP I Permute32(I a, I idx) {
    const I bytes = _mm_shuffle_epi8(_mm_slli_epi32(idx, 2), _mm_setr_epi8(0, 0, 0, 0, 4, 4, 4, 4, 8, 8, 8, 8, 12, 12, 12, 12));
    return _mm_shuffle_epi8(a, _mm_or_si128(bytes, _mm_set1_epi32(0x03020100)));
  }
  RORUD_LANE_OP I MinU16(I a, I b) { return _mm_min_epu16(a, b); }
  RORUD_LANE_OP I Min32(I a, I b) { return _mm_min_epi32(a, b); }
  RORUD_LANE_OP I Max32(I a, I b) { return _mm_max_epi32(a, b); }
  RORUD_LANE_OP I Eq32(I a, I b) { return _mm_cmpeq_epi32(a, b); }
  RORUD_LANE_OP I Gt32(I a, I b) { return _mm_cmpgt_epi32(a, b); }
  template <int k> RORUD_LANE_OP I Srl16(I a) { return _mm_srli_epi16(a, k); }
  template <int k> RORUD_LANE_OP I Sll16(I a) { return _mm_slli_epi16(a, k); }
  template <int k> RORUD_LANE_OP I Srl32(I a) { return _mm_srli_epi32(a, k); }
  template <int k> RORUD_LANE_OP I Sll32(I a) { return _mm_slli_epi32(a, k); }
  template <int k> RORUD_LANE_OP I Sra32(I a) { return _mm_srai_epi32(a, k); }
  RORUD_LANE_OP bool AllZero(I a) { return _mm_testz_si128(a, a) != 0; }
  RORUD_LANE_OP bool NoneInBoth(I a, I b) { return _mm_testz_si128(a, b) != 0; }  // a & b all zero
  // Lanes of mask set take b.
  RORUD_LANE_OP I Blend(I a, I b, I mask) { return _mm_blendv_epi8(a, b, mask); }
  RORUD_LANE_OP I Gather(const uint32_t* base, I idx) {
    const uint32_t i0 = uint32_t(_mm_cvtsi128_si32(idx)), i1 = uint32_t(_mm_extract_epi32(idx, 1));
    const uint32_t i2 = uint32_t(_mm_extract_epi32(idx, 2)), i3 = uint32_t(_mm_extract_epi32(idx, 3));
    return _mm_setr_epi32(int32_t(base[i0]), int32_t(base[i1]), int32_t(base[i2]), int32_t(base[i3]));
  }
  RORUD_LANE_OP I Load32(const uint32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
  RORUD_LANE_OP I Load32Part(const uint32_t* p, int n, I valid) {
    alignas(16) uint32_t t[4] = {};
    for (int i = 0; i < n && i < 4; i++) t[i] = p[i];
    return _mm_load_si128(reinterpret_cast<const __m128i*>(t));
  }
  RORUD_LANE_OP void Store32(uint32_t* p, I v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
  RORUD_LANE_OP void Store32Masked(uint32_t* p, I v, I mask) {
    alignas(16) uint32_t t[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(t), v);
    const int bits = _mm_movemask_ps(_mm_castsi128_ps(mask));
    for (int i = 0; i < 4; i++)
      if (bits & (1 << i)) p[i] = t[i];
  }
  RORUD_LANE_OP I Load16(const uint16_t* p) {
    return _mm_cvtepu16_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
  }
  RORUD_LANE_OP I Load16Part(const uint16_t* p, int n) {
    alignas(16) uint16_t t[8] = {};
    for (int i = 0; i < n && i < 4; i++) t[i] = p[i];
    return _mm_cvtepu16_epi32(_mm_load_si128(reinterpret_cast<const __m128i*>(t)));
  }
  RORUD_LANE_OP void Store16(uint16_t* p, I v) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_packus_epi32(v, v));
  }
  RORUD_LANE_OP void Store16Masked(uint16_t* p, I v, I mask) {
    alignas(16) uint32_t t[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(t), v);
    const int bits = _mm_movemask_ps(_mm_castsi128_ps(mask));
    for (int i = 0; i < 4; i++)
      if (bits & (1 << i)) p[i] = uint16_t(t[i]);
  }
};

#undef RORUD_LANE_OP

}  // namespace

VecSpanFn VecSpanSse41(int filter, bool modulate, int blend, int target, bool test) {
  return PickKernel<Sse41Lanes>(filter, modulate, blend, target, test);
}

VecSpanFn VecTermSpanSse41(int target) { return PickTermKernel<Sse41Lanes>(target); }

}  // namespace plat

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
