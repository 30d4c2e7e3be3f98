// lib/core/number_helpers.h - the library's small numeric helpers: float to
// int conversions that truncate toward zero, sine and cosine as floats, a
// few absolute values, integer to text, and the 128-bit multiply and divide
// the microsecond clock scales counter values with.
#pragma once

#include <cstdint>

// Both results as floats.
void SinCosF(float angle, float* sine, float* cosine);
// |value|; the most negative int stays as it is.
int AbsInt(int value);
// |value|; a NaN comes back unchanged.
float AbsFloat(float value);

// Truncate toward zero. A value outside the int range, and a NaN, gives
// -2147483648 (the processor's integer-indefinite value).
int FloatToInt(float value);
int DoubleToInt(double value);
int DoubleToInt4(const double in[4], int out[4]);

float SqrtFloat(float value);
// x raised to y, by the runtime's pow.
double PowFloat(float x, float y);

// Writes value in the base (2..36; digits 0-9 then a, b, ...), "-" for
// negatives, "0" for zero; returns buffer. 34 bytes hold any value in base 2.
// Another base writes an empty string.
char* IntToText(int value, char* buffer, int base);

// out = a x b exactly; out holds the 128 bits as four words, lowest first.
void Mul64To128(uint64_t a, uint64_t b, uint32_t out[4]);
// *quotient = the low 64 bits of floor(dividend / divisor), the dividend as
// four words lowest first. Returns 0, or -1 for a divisor of 0 (quotient 0).
int Div128By64(const uint32_t dividend[4], uint64_t divisor, uint64_t* quotient);
