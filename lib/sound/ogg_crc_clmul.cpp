// lib/sound/ogg_crc_clmul.cpp - the Ogg page checksum sixteen bytes a step
// by carry-less multiplication (PCLMULQDQ), for processors that have it
// (only called on them).
//
// A run of 16-byte blocks, each read most significant byte first so that
// bit i of the register is the coefficient of x^i, is folded: a block X
// followed by 128 more bits is X * x^128 + next, and X * x^128 is congruent
// modulo the polynomial to hi(X) * (x^192 mod P) + lo(X) * (x^128 mod P),
// a value of under 96 bits. Four blocks are carried side by side, folded
// by 512 bits, then into one; what is left is a message of 16 bytes whose
// checksum the tables give.
#include "lib/sound/ogg_crc.h"

#if defined(__x86_64__) || defined(__i386__)

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("pclmul,ssse3"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("pclmul,ssse3")
#endif
#include <immintrin.h>

namespace oggpcm {

namespace {

// x^n modulo the polynomial.
constexpr uint64_t PowerMod(int n) {
  uint64_t r = 1;
  for (int i = 0; i < n; ++i) {
    r <<= 1;
    if ((r & 0x100000000ull) != 0) r ^= 0x104C11DB7ull;
  }
  return r;
}

__m128i Load(const uint8_t* p, __m128i swap) {
  return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), swap);
}

// x * x^(distance) reduced to under 96 bits: `k` holds x^(distance+64) mod P
// in its high half and x^distance mod P in its low half.
__m128i Fold(__m128i x, __m128i k) {
  return _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x11), _mm_clmulepi64_si128(x, k, 0x00));
}

}  // namespace

uint32_t OggCrcMultiply(uint32_t crc, const uint8_t* p, size_t n) {
  if (n < 64) return OggCrcTables(crc, p, n);
  const __m128i swap = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  const __m128i by512 = _mm_set_epi64x(static_cast<int64_t>(PowerMod(576)), static_cast<int64_t>(PowerMod(512)));
  const __m128i by128 = _mm_set_epi64x(static_cast<int64_t>(PowerMod(192)), static_cast<int64_t>(PowerMod(128)));
  // The checksum so far stands in the message's first 32 bits.
  __m128i x0 = _mm_xor_si128(Load(p, swap), _mm_set_epi32(static_cast<int32_t>(crc), 0, 0, 0));
  __m128i x1 = Load(p + 16, swap);
  __m128i x2 = Load(p + 32, swap);
  __m128i x3 = Load(p + 48, swap);
  p += 64;
  n -= 64;
  for (; n >= 64; n -= 64, p += 64) {
    x0 = _mm_xor_si128(Fold(x0, by512), Load(p, swap));
    x1 = _mm_xor_si128(Fold(x1, by512), Load(p + 16, swap));
    x2 = _mm_xor_si128(Fold(x2, by512), Load(p + 32, swap));
    x3 = _mm_xor_si128(Fold(x3, by512), Load(p + 48, swap));
  }
  __m128i x = _mm_xor_si128(Fold(x0, by128), x1);
  x = _mm_xor_si128(Fold(x, by128), x2);
  x = _mm_xor_si128(Fold(x, by128), x3);
  for (; n >= 16; n -= 16, p += 16) x = _mm_xor_si128(Fold(x, by128), Load(p, swap));
  alignas(16) uint8_t folded[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(folded), _mm_shuffle_epi8(x, swap));
  return OggCrcTables(OggCrcTables(0, folded, 16), p, n);
}

}  // namespace oggpcm

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#else

namespace oggpcm {
uint32_t OggCrcMultiply(uint32_t crc, const uint8_t* p, size_t n) { return OggCrcTables(crc, p, n); }
}  // namespace oggpcm

#endif
