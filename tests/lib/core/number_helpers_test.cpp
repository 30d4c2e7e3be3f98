#include "lib/core/number_helpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace {

TEST(FloatConversion, TruncatesTowardZero) {
  EXPECT_EQ(FloatToInt(-2.7f), -2);
  EXPECT_EQ(FloatToInt(2.7f), 2);
  EXPECT_EQ(FloatToInt(-0.99f), 0);
  EXPECT_EQ(DoubleToInt(-2.7), -2);
  EXPECT_EQ(DoubleToInt(2147483647.9), 2147483647);
  EXPECT_EQ(DoubleToInt(-2147483648.9), -2147483647 - 1);
  EXPECT_EQ(FloatToInt(2147483520.0f), 2147483520);  // largest float below 2^31
}

TEST(FloatConversion, OutOfRangeGivesIntegerIndefinite) {
  // These must not be undefined behaviour (the sanitizer build checks).
  const int kIndefinite = -2147483647 - 1;
  EXPECT_EQ(DoubleToInt(1e10), kIndefinite);
  EXPECT_EQ(DoubleToInt(-1e10), kIndefinite);
  EXPECT_EQ(DoubleToInt(2147483648.0), kIndefinite);
  EXPECT_EQ(DoubleToInt(std::numeric_limits<double>::quiet_NaN()), kIndefinite);
  EXPECT_EQ(DoubleToInt(std::numeric_limits<double>::infinity()), kIndefinite);
  EXPECT_EQ(FloatToInt(3e9f), kIndefinite);
  EXPECT_EQ(FloatToInt(-std::numeric_limits<float>::infinity()), kIndefinite);
  EXPECT_EQ(FloatToInt(std::nanf("")), kIndefinite);
  const double in[4] = {1.9, -1.9, 1e300, -0.0};
  int out[4];
  EXPECT_EQ(DoubleToInt4(in, out), 0);
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(out[1], -1);
  EXPECT_EQ(out[2], kIndefinite);
  EXPECT_EQ(out[3], 0);
}

TEST(NumberHelpers, AbsoluteValuesAndRoots) {
  EXPECT_EQ(AbsInt(-5), 5);
  EXPECT_EQ(AbsInt(std::numeric_limits<int>::min()), std::numeric_limits<int>::min());
  EXPECT_EQ(AbsFloat(-1.5f), 1.5f);
  EXPECT_TRUE(std::isnan(AbsFloat(std::nanf(""))));
  EXPECT_EQ(SqrtFloat(2.0f), std::sqrt(2.0f));
  EXPECT_DOUBLE_EQ(PowFloat(2.0f, 10.0f), 1024.0);
  float s, c;
  SinCosF(0.5f, &s, &c);
  EXPECT_EQ(s, static_cast<float>(std::sin(0.5)));
  EXPECT_EQ(c, static_cast<float>(std::cos(0.5)));
}

TEST(NumberHelpers, IntToText) {
  char buf[40];
  EXPECT_STREQ(IntToText(-255, buf, 16), "-ff");
  EXPECT_STREQ(IntToText(0, buf, 10), "0");
  EXPECT_STREQ(IntToText(35, buf, 36), "z");
  EXPECT_STREQ(IntToText(std::numeric_limits<int>::min(), buf, 10), "-2147483648");
  IntToText(std::numeric_limits<int>::min(), buf, 2);
  EXPECT_EQ(std::string(buf), "-1" + std::string(31, '0'));
  EXPECT_EQ(strlen(buf) + 1, 34u);
  EXPECT_STREQ(IntToText(12, buf, 1), "");
  EXPECT_STREQ(IntToText(12, buf, 37), "");
}

unsigned __int128 FromWords(const uint32_t w[4]) {
  return (static_cast<unsigned __int128>(w[3]) << 96) |
         (static_cast<unsigned __int128>(w[2]) << 64) |
         (static_cast<unsigned __int128>(w[1]) << 32) | w[0];
}

TEST(Wide, MultiplyAndDivideMatchInt128) {
  uint32_t w[4];
  Mul64To128(~0ull, ~0ull, w);
  const unsigned __int128 max_sq = ~static_cast<unsigned __int128>(0) - (static_cast<unsigned __int128>(1) << 65) + 2;
  EXPECT_TRUE(FromWords(w) == max_sq);  // 2^128 - 2^65 + 1

  std::mt19937_64 rng(7);
  for (int i = 0; i < 20000; ++i) {
    // Mix full-width values with short ones so small quotients and
    // quotients beyond 64 bits both occur.
    uint64_t a = rng(), b = rng(), d = rng();
    if (i % 3 == 1) b >>= rng() % 64;
    if (i % 4 == 2) d >>= rng() % 64;
    if (d == 0) d = 1;
    Mul64To128(a, b, w);
    const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
    ASSERT_TRUE(FromWords(w) == product) << a << " * " << b;
    uint64_t q = 0;
    ASSERT_EQ(Div128By64(w, d, &q), 0);
    ASSERT_EQ(q, static_cast<uint64_t>(product / d)) << a << " * " << b << " / " << d;
  }
  // The microsecond-clock shape: ticks x 1,000,000 / frequency.
  Mul64To128(123456789012345ull, 1000000, w);
  uint64_t q;
  Div128By64(w, 3579545, &q);
  EXPECT_EQ(q, static_cast<uint64_t>(static_cast<unsigned __int128>(123456789012345ull) * 1000000 / 3579545));
  const uint32_t all_ones[4] = {~0u, ~0u, ~0u, ~0u};
  Div128By64(all_ones, ~0ull, &q);
  EXPECT_EQ(q, 1u);  // quotient 2^64 + 1: low 64 bits
  EXPECT_EQ(Div128By64(all_ones, 0, &q), -1);
  EXPECT_EQ(q, 0u);
}

}  // namespace
