// tests/lib/softrender/blit_reference.h - an independent per-pixel model of
// the plain blit's pixel operations: each channel or field worked out with
// 64-bit integers and explicit divisions (no blend tables, no carry masks),
// the packed add and subtract channel by channel as their effect is described.
#pragma once

#include <cstdint>

namespace blitref {

inline int64_t Mul(int64_t b, int64_t v) { return v * b / 255; }
inline int64_t Diff(int64_t p, int64_t e) { return e * p / 255; }  // truncates toward zero
inline int64_t Mix6(int64_t k, int64_t a, int64_t b) { return (a * k + b * (63 - k)) / 63; }
inline int64_t FloorDiv(int64_t v, int64_t m) {
  int64_t q = v / m;
  if ((v % m != 0) && ((v < 0) != (m < 0))) --q;
  return q;
}
// floor((d * 2^q + (x - d) * f) / 2^q)
inline int64_t Lerp(int64_t d, int64_t x, int64_t f, int q) {
  return FloorDiv(d * (int64_t{1} << q) + (x - d) * f, int64_t{1} << q);
}

// How the pixel is worked.
enum class Form {
  NoA,      // the form without the alpha factor
  WithA,    // the form with the alpha factor
  Halve,    // mode 1 at p = 128, white, no blend image, no source alpha
  Mix,      // 16-bit mode 1, white, no blend image, no source alpha, p other than 128
  AddFull,  // mode 2 at p = 255, white, no blend image, no source alpha (no bit-0 OR)
};

struct Draw {
  int mode = 0;
  int64_t p = 0;
  uint32_t bright = 0xFFFFFF;
  bool blend = false;
  bool White() const { return (bright & 0xFFFFFF) == 0xFFFFFF; }
  int64_t BrightByte(int c) const { return (bright >> (8 * c)) & 0xFF; }
};

// ---------------------------------------------------------------------------
// 32-bit. Channels c = 0 blue, 1 green, 2 red.

inline int64_t Byte(uint32_t w, int c) { return (w >> (8 * c)) & 0xFF; }

inline uint32_t Pixel32(const Draw& dr, Form form, uint32_t D, uint32_t S, int64_t a, int64_t w) {
  const int mode = dr.mode;
  const int64_t p = dr.p;
  const bool white = dr.White();
  const bool blend = dr.blend;
  const bool wa = form == Form::WithA;
  if (form == Form::Halve) {
    uint32_t out = 0;
    for (int c = 0; c < 3; ++c) out |= uint32_t(Byte(S, c) / 2 + Byte(D, c) / 2) << (8 * c);
    return out;  // byte 3 cleared
  }
  if (mode == 0 && white && !blend && !wa) return S;

  int64_t res[3];
  int64_t t[3];
  for (int c = 0; c < 3; ++c) {
    const int64_t s = Byte(S, c), d = Byte(D, c), bc = dr.BrightByte(c);
    const int64_t sp = white ? s : Mul(bc, s);
    switch (mode) {
      case 0:
        if (!blend && !wa) res[c] = sp;
        else if (!blend) res[c] = Lerp(d, sp, a, 8);
        else if (!wa) res[c] = Lerp(d, sp, w, 8);
        else res[c] = Lerp(d, sp, w * a, 16);
        break;
      case 1:
      case 10:
      case 11: {
        int64_t x = sp;
        if (mode == 10) x = white ? 255 - s : Mul(bc, 255 - s);
        if (mode == 11) x = sp * d / 256;
        if (!blend && !wa) res[c] = Lerp(d, x, p, 8);
        else if (!blend) res[c] = Lerp(d, x, a * p, 16);
        else if (!wa) res[c] = Lerp(d, x, w * p, 16);
        else res[c] = Lerp(d, x, w * a * p, 24);
        break;
      }
      case 2:
      case 3:
        if (form == Form::AddFull) t[c] = s;
        else if (!blend && !wa) t[c] = Mul(p, sp);
        else if (!blend) t[c] = sp * a * p / 65536;
        else if (!wa) t[c] = sp * w * p / 65536;
        else t[c] = sp * w * a * p / 16777216;
        break;
      case 4:
        if (!blend && !wa) res[c] = sp * d / 256;
        else if (!blend) res[c] = sp * d * a / 65536;
        else if (!wa) res[c] = w * d * sp / 65536;
        else res[c] = w * a * d * sp / 16777216;
        break;
    }
  }
  if (mode == 2) {
    // Blue: exact sum saturated. Green and red: upper seven bits added and
    // saturated; bit 0 the OR of the operands' bit 0 (not in the full form)
    // and of the carry out of the channel below. Byte 3: carry out of red.
    int64_t b = Byte(D, 0) + t[0];
    int64_t carry = b > 255;
    res[0] = carry ? 255 : b;
    for (int c = 1; c < 3; ++c) {
      const int64_t d = Byte(D, c);
      const int64_t up = (d & 0xFE) + (t[c] & 0xFE);
      const int64_t low = (form == Form::AddFull ? 0 : ((d | t[c]) & 1)) | carry;
      carry = up > 255;
      res[c] = carry ? 255 : (up | low);
    }
    return uint32_t(res[0]) | uint32_t(res[1]) << 8 | uint32_t(res[2]) << 16 | uint32_t(carry) << 24;
  }
  if (mode == 3) {
    // Blue: d - t or 0. Green, red: (d | 1) - (t & ~1) - borrow below, 0 when
    // (d >> 1) < (t >> 1). Byte 3 cleared.
    const int64_t b = Byte(D, 0) - t[0];
    int64_t borrow = b < 0;
    res[0] = borrow ? 0 : b;
    for (int c = 1; c < 3; ++c) {
      const int64_t d = Byte(D, c);
      const bool under = (d >> 1) < (t[c] >> 1);
      res[c] = under ? 0 : (d | 1) - (t[c] & 0xFE) - borrow;
      borrow = under;
    }
    return uint32_t(res[0]) | uint32_t(res[1]) << 8 | uint32_t(res[2]) << 16;
  }
  return (D & 0xFF000000u) | uint32_t(res[0]) | uint32_t(res[1]) << 8 | uint32_t(res[2]) << 16;
}

// ---------------------------------------------------------------------------
// 16-bit RGB565. Fields f = 0 blue (5 bits), 1 green (6), 2 red (5).

inline int FieldBits(int f) { return f == 1 ? 6 : 5; }
inline int FieldShift(int f) { return f == 0 ? 0 : (f == 1 ? 5 : 11); }
inline int64_t Field(uint32_t w, int f) { return (w >> FieldShift(f)) & ((1 << FieldBits(f)) - 1); }
inline uint16_t Join(const int64_t v[3]) {
  return uint16_t(v[2] << 11 | v[1] << 5 | v[0]);
}

inline uint16_t Pixel16(const Draw& dr, Form form, uint32_t D, uint32_t S, int64_t a, int64_t w) {
  const int mode = dr.mode;
  const int64_t p = dr.p;
  const bool white = dr.White();
  const bool blend = dr.blend;
  const bool wa = form == Form::WithA;
  int64_t out[3];
  if (form == Form::Halve) {
    for (int f = 0; f < 3; ++f) out[f] = Field(S, f) / 2 + Field(D, f) / 2;
    return Join(out);
  }
  if (form == Form::Mix) {
    for (int f = 0; f < 3; ++f) out[f] = Mix6(p >> 2, Field(S, f), Field(D, f));
    return Join(out);
  }
  if (mode == 0 && white && !blend && !wa) return uint16_t(S);
  const uint32_t src = mode == 10 ? (~S & 0xFFFF) : S;

  int64_t t[3];
  for (int f = 0; f < 3; ++f) {
    const int n = FieldBits(f);
    const int64_t s = Field(src, f), d = Field(D, f), bc = dr.BrightByte(f);
    const int64_t sp = white ? s : Mul(bc, s);
    switch (mode) {
      case 0:
        if (!blend && !wa) out[f] = sp;
        else if (!blend) out[f] = Lerp(d, sp, a, 8);
        else if (!wa) out[f] = Lerp(d, sp, w, 8);
        else out[f] = Lerp(d, sp, a * w, 16);
        break;
      case 1:
      case 10:
      case 11: {
        const int64_t v = mode == 11 ? sp * d / (int64_t{1} << n) : sp;
        if (!blend && !wa) {
          out[f] = d + Diff(p, v - d);
        } else if (!blend) {
          if (mode == 11 && white && f == 1)
            out[f] = FloorDiv(d * (int64_t{1} << 21) + (s * d / 2 - 32 * d) * a * p, int64_t{1} << 21);
          else
            out[f] = Lerp(d, v, a * p, 16);
        } else if (!wa) {
          out[f] = Lerp(d, v, w * p, 16);
        } else {
          out[f] = Lerp(d, v, a * w * p, 24);
        }
        break;
      }
      case 2:
      case 3:
        if (form == Form::AddFull) t[f] = s;
        else if (!blend && !wa) t[f] = Mul(p, sp);
        else if (!blend) t[f] = Mul(p, sp * a / 256);
        else if (!wa) t[f] = Mul(p, sp * w / 256);
        else t[f] = Mul(p, sp * a * w / 65536);
        break;
      case 4:
        if (!blend && !wa) out[f] = sp * d >> n;
        else if (!blend) out[f] = sp * d * a >> (n + 8);
        else if (!wa) out[f] = sp * d * w >> (n + 8);
        else out[f] = sp * d * a * w >> (n + 16);
        break;
    }
  }
  if (mode == 2) {
    // Blue: exact sum saturated at 31. Green: upper five bits added, at 31
    // when they carry; bit 0 the carry of blue, ORed (not in the full form)
    // with the operands' bit 0. Red: upper four bits added; a carry sets the
    // whole field; bit 0 the carry of green's upper bits (ORed likewise).
    const bool full = form == Form::AddFull;
    const int64_t b = Field(D, 0) + t[0];
    const int64_t cb = b > 31;
    out[0] = cb ? 31 : b;
    const int64_t dg = Field(D, 1), dr2 = Field(D, 2);
    const int64_t ug = (dg >> 1) + (t[1] >> 1);
    const int64_t cg = ug > 31;
    out[1] = (cg ? 62 : ug << 1) | cb | (full ? 0 : ((dg | t[1]) & 1));
    const int64_t ur = (dr2 >> 1) + (t[2] >> 1);
    out[2] = ur > 15 ? 31 : ((ur << 1) | cg | (full ? 0 : ((dr2 | t[2]) & 1)));
    return Join(out);
  }
  if (mode == 3) {
    // Blue: d - t or 0. Green: upper five bits subtracted, 0 on a borrow;
    // bit 0 always 0. Red: upper four bits subtracted, 0 as a whole on a
    // borrow; bit 0 set when neither green's upper bits nor red borrowed.
    const int64_t b = Field(D, 0) - t[0];
    out[0] = b < 0 ? 0 : b;
    const int64_t ug = (Field(D, 1) >> 1) - (t[1] >> 1);
    out[1] = ug < 0 ? 0 : ug << 1;
    const int64_t ur = (Field(D, 2) >> 1) - (t[2] >> 1);
    out[2] = ur < 0 ? 0 : ((ur << 1) | (ug < 0 ? 0 : 1));
    return Join(out);
  }
  return Join(out);
}

// Modes 2 and 3 at full strength on a pair of adjacent 16-bit pixels (left
// l, right r): the left pixel as alone; the right pixel's blue adds or
// subtracts only the upper four bits, its lowest bit being the carry out of
// the left red (add) or 1 when the left red did not borrow (subtract).
inline void Pair16(int mode, uint32_t Dl, uint32_t Sl, uint32_t Dr, uint32_t Sr, uint16_t* out_l,
                   uint16_t* out_r) {
  const Draw dr{mode, 255, 0xFFFFFF, false};
  const Form form = mode == 2 ? Form::AddFull : Form::NoA;
  *out_l = Pixel16(dr, form, Dl, Sl, 0, 0);
  uint16_t right = Pixel16(dr, form, Dr, Sr, 0, 0);
  const int64_t ub = (Field(Dr, 0) >> 1) + (mode == 2 ? 1 : -1) * (Field(Sr, 0) >> 1);
  int64_t blue;
  bool blue_out;  // carry or borrow out of the right blue
  if (mode == 2) {
    const bool left_red_carry = (Field(Dl, 2) >> 1) + (Field(Sl, 2) >> 1) > 15;
    blue_out = ub > 15;
    blue = blue_out ? 31 : (ub << 1) | (left_red_carry ? 1 : 0);
  } else {
    const bool left_red_borrow = (Field(Dl, 2) >> 1) - (Field(Sl, 2) >> 1) < 0;
    blue_out = ub < 0;
    blue = blue_out ? 0 : (ub << 1) | (left_red_borrow ? 0 : 1);
  }
  // The right green's lowest bit in the add is the blue's carry; the
  // subtract clears it whatever the blue did.
  right = uint16_t((right & ~0x1Fu) | uint32_t(blue));
  if (mode == 2) right = uint16_t((right & ~0x20u) | (blue_out ? 0x20u : 0u));
  *out_r = right;
}

}  // namespace blitref
