// platform/d3d9/d3d9_spans_avx512.cpp - the vector spans sixteen pixels a
// step, for processors with AVX-512 F, BW, DQ and VL (only called on them).
// Lane masks stay whole lanes of all ones or zeros, as the narrower levels
// have them, and become mask registers only where memory is read or written
// or lanes are picked.
#include <cstdint>

#include "platform/d3d9/d3d9_spans_simd.h"

// clang does not take the GCC target pragma; its own form marks every
// function of the file.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,avx512bw,avx512dq,avx512vl"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,avx512dq,avx512vl")
// GCC 12's AVX-512 headers start some results from a deliberately undefined
// vector, which its own warnings then report where they are inlined.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#include "platform/d3d9/d3d9_spans_kernel.h"

namespace plat {

namespace {

#define RORUD_LANE_OP __attribute__((always_inline)) static inline

struct Avx512Lanes {
  using I = __m512i;
  static constexpr bool kMaskedMemory = true;
  static constexpr int kLanes = 16;
  RORUD_LANE_OP __mmask16 K(I mask) { return _mm512_movepi32_mask(mask); }
  RORUD_LANE_OP I Zero() { return _mm512_setzero_si512(); }
  RORUD_LANE_OP I Set1(uint32_t x) { return _mm512_set1_epi32(int32_t(x)); }
  RORUD_LANE_OP I Lane() { return _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15); }
  RORUD_LANE_OP I And(I a, I b) { return _mm512_and_si512(a, b); }
  RORUD_LANE_OP I AndNot(I a, I b) { return _mm512_andnot_si512(a, b); }  // ~a & b
  RORUD_LANE_OP I Or(I a, I b) { return _mm512_or_si512(a, b); }
  RORUD_LANE_OP I Add32(I a, I b) { return _mm512_add_epi32(a, b); }
  RORUD_LANE_OP I Sub32(I a, I b) { return _mm512_sub_epi32(a, b); }
  // Lane i: i * d (modulo 2^32), without a 32-bit product's latency.
  RORUD_LANE_OP I LaneSteps(uint32_t d) {
    const I lane = Lane();
    I r = _mm512_maskz_mov_epi32(_mm512_test_epi32_mask(lane, Set1(1)), Set1(d));
    r = Add32(r, _mm512_maskz_mov_epi32(_mm512_test_epi32_mask(lane, Set1(2)), Set1(2 * d)));
    r = Add32(r, _mm512_maskz_mov_epi32(_mm512_test_epi32_mask(lane, Set1(4)), Set1(4 * d)));
    r = Add32(r, _mm512_maskz_mov_epi32(_mm512_test_epi32_mask(lane, Set1(8)), Set1(8 * d)));
    return r;
  }
  // y * stride for y and stride below 2^15 (stride with its high half 0).
  RORUD_LANE_OP I MulRow(I y, I stride) { return _mm512_madd_epi16(y, stride); }
  RORUD_LANE_OP I Xor(I a, I b) { return _mm512_xor_si512(a, b); }
  RORUD_LANE_OP I Madd16(I a, I b) { return _mm512_madd_epi16(a, b); }
  // Interleaving and packing within each 128-bit quarter.
  RORUD_LANE_OP I UnpackLo16(I a, I b) { return _mm512_unpacklo_epi16(a, b); }
  RORUD_LANE_OP I UnpackHi16(I a, I b) { return _mm512_unpackhi_epi16(a, b); }
  RORUD_LANE_OP I UnpackLo32(I a, I b) { return _mm512_unpacklo_epi32(a, b); }
  RORUD_LANE_OP I UnpackHi32(I a, I b) { return _mm512_unpackhi_epi32(a, b); }
  RORUD_LANE_OP I PackUs32(I a, I b) { return _mm512_packus_epi32(a, b); }
  RORUD_LANE_OP I Add16(I a, I b) { return _mm512_add_epi16(a, b); }
  RORUD_LANE_OP I Sub16(I a, I b) { return _mm512_sub_epi16(a, b); }
  RORUD_LANE_OP I Mul16(I a, I b) { return _mm512_mullo_epi16(a, b); }
  RORUD_LANE_OP I MulHiU16(I a, I b) { return _mm512_mulhi_epu16(a, b); }
  RORUD_LANE_OP I AddSatU8(I a, I b) { return _mm512_adds_epu8(a, b); }
  RORUD_LANE_OP I Shuffle8(I a, I pattern) { return _mm512_shuffle_epi8(a, pattern); }
  RORUD_LANE_OP I LoadBytes(const uint8_t* p) { return _mm512_loadu_si512(p); }
  // Lane i takes a's lane idx[i] (0 .. 15).
  RORUD_LANE_OP I Permute32(I a, I idx) { return _mm512_permutexvar_epi32(idx, a); }
  RORUD_LANE_OP I MinU16(I a, I b) { return _mm512_min_epu16(a, b); }
  RORUD_LANE_OP I Min32(I a, I b) { return _mm512_min_epi32(a, b); }
  RORUD_LANE_OP I Max32(I a, I b) { return _mm512_max_epi32(a, b); }
  RORUD_LANE_OP I Eq32(I a, I b) { return _mm512_movm_epi32(_mm512_cmpeq_epi32_mask(a, b)); }
  RORUD_LANE_OP I Gt32(I a, I b) { return _mm512_movm_epi32(_mm512_cmpgt_epi32_mask(a, b)); }
  template <int k> RORUD_LANE_OP I Srl16(I a) { return _mm512_srli_epi16(a, k); }
  template <int k> RORUD_LANE_OP I Sll16(I a) { return _mm512_slli_epi16(a, k); }
  template <int k> RORUD_LANE_OP I Srl32(I a) { return _mm512_srli_epi32(a, k); }
  template <int k> RORUD_LANE_OP I Sll32(I a) { return _mm512_slli_epi32(a, k); }
  template <int k> RORUD_LANE_OP I Sra32(I a) { return _mm512_srai_epi32(a, k); }
  RORUD_LANE_OP bool AllZero(I a) { return _mm512_test_epi32_mask(a, a) == 0; }
  RORUD_LANE_OP bool NoneInBoth(I a, I b) { return _mm512_test_epi32_mask(a, b) == 0; }  // a & b all zero
  // Lanes of mask set take b.
  RORUD_LANE_OP I Blend(I a, I b, I mask) { return _mm512_mask_blend_epi32(K(mask), a, b); }
  RORUD_LANE_OP I Gather(const uint32_t* base, I idx) { return _mm512_i32gather_epi32(idx, base, 4); }
  RORUD_LANE_OP I Load32(const uint32_t* p) { return _mm512_loadu_si512(p); }
  RORUD_LANE_OP I Load32Part(const uint32_t* p, int n, I valid) { return _mm512_maskz_loadu_epi32(K(valid), p); }
  RORUD_LANE_OP void Store32(uint32_t* p, I v) { _mm512_storeu_si512(p, v); }
  RORUD_LANE_OP void Store32Masked(uint32_t* p, I v, I mask) { _mm512_mask_storeu_epi32(p, K(mask), v); }
  // R5G6B5 pixels widened to 32-bit lanes and narrowed back (every lane
  // below 2^16, so narrowing keeps its value).
  RORUD_LANE_OP I Load16(const uint16_t* p) {
    return _mm512_cvtepu16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
  }
  RORUD_LANE_OP I Load16Part(const uint16_t* p, int n) {
    return _mm512_cvtepu16_epi32(_mm256_maskz_loadu_epi16(__mmask16((1u << n) - 1), p));
  }
  RORUD_LANE_OP void Store16(uint16_t* p, I v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), _mm512_cvtepi32_epi16(v));
  }
  RORUD_LANE_OP void Store16Masked(uint16_t* p, I v, I mask) {
    _mm256_mask_storeu_epi16(p, K(mask), _mm512_cvtepi32_epi16(v));
  }
};

#undef RORUD_LANE_OP

}  // namespace

VecSpanFn VecSpanAvx512(int filter, bool modulate, int blend, int target, bool test) {
  return PickKernel<Avx512Lanes>(filter, modulate, blend, target, test);
}

VecSpanFn VecTermSpanAvx512(int target) { return PickTermKernel<Avx512Lanes>(target); }

}  // namespace plat

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC diagnostic pop
#pragma GCC pop_options
#endif
