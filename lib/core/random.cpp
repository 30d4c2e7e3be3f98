// lib/core/random.cpp - MT19937 block generation and the 1998 seeding rule.
#include "lib/core/random.h"

namespace {

constexpr int kN = kRandomStateWords;
constexpr int kM = 397;
constexpr uint32_t kMatrixA = 0x9908B0DFu;
constexpr uint32_t kUpperMask = 0x80000000u;
constexpr uint32_t kLowerMask = 0x7FFFFFFFu;

constinit MersenneTwisterState g_random = MakeUnseededRandomState();

inline uint32_t Twist(uint32_t upper_word, uint32_t lower_word, uint32_t far_word) {
  const uint32_t y = (upper_word & kUpperMask) | (lower_word & kLowerMask);
  return far_word ^ (y >> 1) ^ ((y & 1u) ? kMatrixA : 0u);
}

}  // namespace

void InitRandomState(MersenneTwisterState* mt, uint32_t seed) {
  // Each word takes the upper halves of two successive LCG values.
  uint32_t x = seed;
  for (int i = 0; i < kN; ++i) {
    uint32_t word = x & 0xFFFF0000u;
    x = 69069u * x + 1u;
    word |= x >> 16;
    x = 69069u * x + 1u;
    mt->state[i] = word;
  }
  mt->seeded = 1;
  GenerateRandomBlock(mt);
}

void GenerateRandomBlock(MersenneTwisterState* mt) {
  uint32_t* s = mt->state;
  int k = 0;
  for (; k < kN - kM; ++k) s[k] = Twist(s[k], s[k + 1], s[k + kM]);
  // The last word pairs with the already renewed word 0: keep a copy of it
  // past the end so one loop covers the wrap.
  s[kN] = s[0];
  for (; k < kN; ++k) s[k] = Twist(s[k], s[k + 1], s[k - (kN - kM)]);
  for (int i = 0; i < kN; ++i) {
    uint32_t y = s[i];
    y ^= y >> 11;
    y ^= (y << 7) & 0x9D2C5680u;
    y ^= (y << 15) & 0xEFC60000u;
    y ^= y >> 18;
    mt->output[i] = y;
  }
  mt->index = 0;
}

uint32_t NextRandomWord(MersenneTwisterState* mt) {
  if (mt->index >= kN) {
    if (!mt->seeded) {
      InitRandomState(mt, kRandomDefaultSeed);
    } else {
      GenerateRandomBlock(mt);
    }
  }
  return mt->output[mt->index++];
}

int32_t GetRandomRange(MersenneTwisterState* mt, int32_t max) {
  const int64_t word = NextRandomWord(mt);
  const int64_t range = static_cast<int64_t>(max) + 1;
  // |word x range| < 2^63, and >> on a negative value is arithmetic in C++20,
  // so a negative max gives the same upper word as the 64-bit multiply.
  return static_cast<int32_t>((word * range) >> 32);
}

MersenneTwisterState* GetLibraryRandomState() { return &g_random; }

int SeedRandom(uint32_t seed) {
  InitRandomState(&g_random, seed);
  return 0;
}

int GetRandomRange(int max) { return GetRandomRange(&g_random, max); }
