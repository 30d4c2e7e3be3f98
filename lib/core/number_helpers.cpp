// lib/core/number_helpers.cpp - numeric helpers.
#include "lib/core/number_helpers.h"

#include <cmath>
#include <cstdint>

namespace {

constexpr int kIntegerIndefinite = INT32_MIN;

// A C++ cast of an out-of-range value is undefined; the processor's
// conversion gives the integer-indefinite value instead, which callers of
// the original conversions may see, so give exactly that.
inline int TruncateToInt(double value) {
  if (!(value > -2147483649.0 && value < 2147483648.0)) return kIntegerIndefinite;
  return static_cast<int>(value);
}

}  // namespace

void SinCosF(float angle, float* sine, float* cosine) {
  const double a = angle;
  *sine = static_cast<float>(std::sin(a));
  *cosine = static_cast<float>(std::cos(a));
}

int AbsInt(int value) {
  const uint32_t u = static_cast<uint32_t>(value);
  return static_cast<int>(value < 0 ? 0u - u : u);
}

float AbsFloat(float value) { return value < 0.0f ? -value : value; }

int FloatToInt(float value) { return TruncateToInt(value); }

int DoubleToInt(double value) { return TruncateToInt(value); }

int DoubleToInt4(const double in[4], int out[4]) {
  for (int i = 0; i < 4; ++i) out[i] = TruncateToInt(in[i]);
  return 0;
}

float SqrtFloat(float value) { return std::sqrt(value); }

double PowFloat(float x, float y) {
  return std::pow(static_cast<double>(x), static_cast<double>(y));
}

char* IntToText(int value, char* buffer, int base) {
  if (base < 2 || base > 36) {
    buffer[0] = '\0';
    return buffer;
  }
  char digits[33];
  int count = 0;
  uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  do {
    const uint32_t d = magnitude % static_cast<uint32_t>(base);
    digits[count++] = static_cast<char>(d < 10 ? '0' + d : 'a' + (d - 10));
    magnitude /= static_cast<uint32_t>(base);
  } while (magnitude != 0);
  char* out = buffer;
  if (value < 0) *out++ = '-';
  while (count > 0) *out++ = digits[--count];
  *out = '\0';
  return buffer;
}

void Mul64To128(uint64_t a, uint64_t b, uint32_t out[4]) {
  // Schoolbook multiply on 32-bit halves; every partial sum fits in 64 bits.
  const uint64_t a0 = a & 0xFFFFFFFFu, a1 = a >> 32;
  const uint64_t b0 = b & 0xFFFFFFFFu, b1 = b >> 32;
  const uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
  const uint64_t middle = (p00 >> 32) + (p01 & 0xFFFFFFFFu) + (p10 & 0xFFFFFFFFu);
  const uint64_t high = p11 + (p01 >> 32) + (p10 >> 32) + (middle >> 32);
  out[0] = static_cast<uint32_t>(p00);
  out[1] = static_cast<uint32_t>(middle);
  out[2] = static_cast<uint32_t>(high);
  out[3] = static_cast<uint32_t>(high >> 32);
}

int Div128By64(const uint32_t dividend[4], uint64_t divisor, uint64_t* quotient) {
  if (divisor == 0) {
    *quotient = 0;
    return -1;
  }
  const uint64_t high = (static_cast<uint64_t>(dividend[3]) << 32) | dividend[2];
  const uint64_t low = (static_cast<uint64_t>(dividend[1]) << 32) | dividend[0];
  // Bitwise long division from the top bit. The running remainder stays below
  // 2 x divisor, so it can need 65 bits: a carry out of the shift means it is
  // certainly not below the divisor, and the wrapped subtraction is exact.
  uint64_t remainder = 0;
  uint64_t result = 0;
  for (int bit = 127; bit >= 0; --bit) {
    const uint64_t next = bit >= 64 ? (high >> (bit - 64)) & 1u : (low >> bit) & 1u;
    const bool carry = (remainder >> 63) != 0;
    remainder = (remainder << 1) | next;
    if (carry || remainder >= divisor) {
      remainder -= divisor;
      if (bit < 64) result |= uint64_t{1} << bit;
    }
  }
  *quotient = result;
  return 0;
}
