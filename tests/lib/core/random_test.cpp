#include "lib/core/random.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <sstream>

namespace {

// The oracle: std::mt19937 loaded with the 624 words of the 1998 seeding
// rule through its textual state (the words, then the index 624 so that the
// next call regenerates the block).
std::mt19937 OracleSeededWith(uint32_t seed) {
  std::ostringstream text;
  uint32_t x = seed;
  for (int i = 0; i < 624; ++i) {
    uint32_t hi = x & 0xFFFF0000u;
    x = x * 69069u + 1u;
    uint32_t lo = x >> 16;
    x = x * 69069u + 1u;
    text << (hi | lo) << ' ';
  }
  text << 624;
  std::mt19937 engine;
  std::istringstream in(text.str());
  in >> engine;
  EXPECT_FALSE(in.fail());
  return engine;
}

std::unique_ptr<MersenneTwisterState> FreshState() {
  return std::make_unique<MersenneTwisterState>(MakeUnseededRandomState());
}

TEST(Random, SeededMatchesOracle) {
  for (uint32_t seed : {4357u, 33557799u, 0u, 0xFFFFFFFFu}) {
    auto mt = FreshState();
    InitRandomState(mt.get(), seed);
    std::mt19937 oracle = OracleSeededWith(seed);
    for (int i = 0; i < 10000; ++i) {
      ASSERT_EQ(NextRandomWord(mt.get()), oracle()) << "seed " << seed << " output " << i;
    }
  }
}

TEST(Random, UnseededActsAsSeed4357) {
  auto mt = FreshState();
  std::mt19937 oracle = OracleSeededWith(4357);
  for (int i = 0; i < 10000; ++i) ASSERT_EQ(NextRandomWord(mt.get()), oracle()) << i;
}

TEST(Random, PublicGeneratorReseedRestarts) {
  ASSERT_EQ(SeedRandom(4357), 0);
  std::mt19937 oracle = OracleSeededWith(4357);
  int first[700];
  for (int i = 0; i < 700; ++i) {
    first[i] = GetRandomRange(999);
    ASSERT_EQ(first[i], static_cast<int>((uint64_t{oracle()} * 1000) >> 32));
  }
  SeedRandom(4357);
  for (int i = 0; i < 700; ++i) ASSERT_EQ(GetRandomRange(999), first[i]) << i;
}

TEST(Random, RangeEdges) {
  auto mt = FreshState();
  InitRandomState(mt.get(), 12345);
  std::mt19937 oracle = OracleSeededWith(12345);
  for (int i = 0; i < 2000; ++i) {
    const uint32_t w = oracle();
    switch (i % 5) {
      case 0: ASSERT_EQ(GetRandomRange(mt.get(), 0), 0); break;
      case 1: ASSERT_EQ(GetRandomRange(mt.get(), 1), w < 0x80000000u ? 0 : 1); break;
      case 2: ASSERT_EQ(GetRandomRange(mt.get(), 0x7FFFFFFF), static_cast<int32_t>(w >> 1)); break;
      // max -1: (max + 1) = 0 gives 0; max -2 gives the upper word of -w.
      case 3: ASSERT_EQ(GetRandomRange(mt.get(), -1), 0); break;
      case 4: ASSERT_EQ(GetRandomRange(mt.get(), -2), w == 0 ? 0 : -1); break;
    }
  }
}

}  // namespace
