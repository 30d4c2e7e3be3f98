// lib/core/random.h - the library's random generator: MT19937 with the
// 1998 seeding rule (linear congruential fill, multiplier 69069), producing a
// block of 624 tempered outputs at a time. The exact output sequence is part
// of the replay format, so it must match MT19937 bit for bit.
#pragma once

#include <cstdint>

constexpr int kRandomStateWords = 624;
constexpr uint32_t kRandomDefaultSeed = 4357;

struct MersenneTwisterState {
  // The 624 state words; the 625th is a scratch copy of word 0 while a block
  // is generated.
  uint32_t state[kRandomStateWords + 1];
  // Next output to hand out; 624 means the block is used up.
  int32_t index;
  uint32_t output[kRandomStateWords];
  // 1 once a seed has been set; an unseeded generator seeds itself with 4357
  // on first use.
  int32_t seeded;
};

// A generator as it is at program start: unseeded, block used up.
constexpr MersenneTwisterState MakeUnseededRandomState() {
  MersenneTwisterState s{};
  s.index = kRandomStateWords;
  return s;
}

// Inner operations on an explicit state (the public ones use the library's
// single generator).
void InitRandomState(MersenneTwisterState* mt, uint32_t seed);
void GenerateRandomBlock(MersenneTwisterState* mt);
uint32_t NextRandomWord(MersenneTwisterState* mt);
// 0..max from one output: the upper 32 bits of output x (max + 1).
int32_t GetRandomRange(MersenneTwisterState* mt, int32_t max);

// The library's own generator.
MersenneTwisterState* GetLibraryRandomState();

// Public (rorud.h): seed the library's generator; a random integer 0..max.
int SeedRandom(uint32_t seed);
int GetRandomRange(int max);
