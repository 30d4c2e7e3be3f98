// lib/softrender/blit_pixel_ops.h - what the plain and stretched blits do to
// one destination pixel, per blend mode and variant, for 32-bit (B, G, R, A
// bytes) and 16-bit (RGB565) images.
//
// Every operation is exact integer arithmetic over the blend tables' rows; the
// draw loops pick one instantiation per draw, so the template arguments are
// the only "tests" of the draw state and none of them survives into the pixel
// loop. An operation takes the destination pixel D, the source pixel S (for a
// paletted source, its palette entry), the source alpha a (only read by the
// forms with alpha) and the blend-image weight w (only read when a blend image
// is present), and returns the destination pixel to store.
//
// Template arguments common to both widths:
//   Mode   blend mode: 0 copy, 1 alpha, 2 add, 3 subtract, 4 multiply,
//          10 inverted source, 11 multiply then alpha;
//   White  the bright colour is white (low 24 bits 0xFFFFFF): no modulation;
//   Blend  a blend image is present (w is its weight for this pixel);
//   WithA  the form with the source alpha factor (a source with an alpha
//          channel whose pixel is not taken as opaque).
// Mode 1 at p = 255 is mode 0 and modes 1, 2 (and 3 for a plain source) at
// p = 0 draw nothing: those exits belong to the draw's dispatch, not here.
#pragma once

#include <cstdint>

namespace blitops {

// The table rows one draw reads, fixed once per draw.
struct OpRows {
  const uint32_t* mul_p = nullptr;  // Mul[p]
  const uint32_t* mul_b = nullptr;  // Mul[bright blue]
  const uint32_t* mul_g = nullptr;  // Mul[bright green]
  const uint32_t* mul_r = nullptr;  // Mul[bright red]
  const int32_t* diff_p = nullptr;  // Diff[p], pointing at e = 0 (valid for e = -255..255)
  const uint8_t* mix6_p = nullptr;  // Mix6[p >> 2]: 64 x 64, [a * 64 + b]
  const uint8_t* weight = nullptr;  // blend-image byte -> weight
  uint32_t p = 0;                   // blend parameter 0..255
};

// Bright colour word: byte 0 scales blue, 1 green, 2 red; the top byte is ignored.
inline bool IsWhiteBright(uint32_t bright) { return (bright & 0xFFFFFFu) == 0xFFFFFFu; }

// ---------------------------------------------------------------------------
// Lerp forms. The exact sums lie in 0 .. 2^(8+n) - 1 (L24: 0 .. 2^32 - 1), so
// unsigned 32-bit arithmetic, which wraps the negative partial product, gives
// them exactly; the quotient is the floor.

// (d * 256 + (x - d) * f) >> 8, f in 0..255.
inline uint32_t L8(uint32_t d, uint32_t x, uint32_t f) { return (d * 256u + (x - d) * f) >> 8; }
// (d * 65536 + (x - d) * f) >> 16, f up to 255 * 255.
inline uint32_t L16(uint32_t d, uint32_t x, uint32_t f) { return (d * 65536u + (x - d) * f) >> 16; }
// (d * 2^24 + (x - d) * f) >> 24, f up to 255^3.
inline uint32_t L24(uint32_t d, uint32_t x, uint32_t f) { return ((d << 24) + (x - d) * f) >> 24; }

// Weighted blend of one field toward v with a weight product f of scale 2^Q:
// floor((d * 2^Q + (v - d) * f) / 2^Q). Same arithmetic as the lerp forms,
// applied to 5- or 6-bit fields.
template <int Q>
inline uint32_t Weighted(uint32_t d, uint32_t v, uint32_t f) {
  return ((d << Q) + (v - d) * f) >> Q;
}

// Diff blend of one field toward v: d + Diff[p][v - d] (rounds toward d).
inline uint32_t DiffBlend(uint32_t d, uint32_t v, const int32_t* diff_p) {
  return static_cast<uint32_t>(static_cast<int32_t>(d) +
                               diff_p[static_cast<int32_t>(v) - static_cast<int32_t>(d)]);
}

// ---------------------------------------------------------------------------
// 32-bit words.

inline uint32_t ChB(uint32_t w) { return w & 0xFFu; }
inline uint32_t ChG(uint32_t w) { return (w >> 8) & 0xFFu; }
inline uint32_t ChR(uint32_t w) { return (w >> 16) & 0xFFu; }

// Channel write: blue, green, red replaced, byte 3 of the destination kept.
inline uint32_t ChannelWrite32(uint32_t D, uint32_t b, uint32_t g, uint32_t r) {
  return (D & 0xFF000000u) | (r << 16) | (g << 8) | b;
}

// Packed add with the operands' bit 0 of green and red ORed in: blue saturates
// at 255, green and red add their upper seven bits and saturate; byte 3 becomes
// the carry out of red.
inline uint32_t PackedAdd32(uint32_t D, uint32_t Tw) {
  const uint32_t s = (D & 0x00FEFEFFu) + (Tw & 0x00FEFEFFu);
  const uint32_t k = s & 0x01010100u;
  return s | (k - (k >> 8)) | ((D | Tw) & 0x00010100u);
}

// The full-strength add (p = 255, white, no blend image, no source alpha):
// the same without the operands' bit 0 of green and red.
inline uint32_t PackedAdd32Full(uint32_t D, uint32_t S) {
  const uint32_t s = (D & 0x00FEFEFFu) + (S & 0x00FEFEFFu);
  const uint32_t k = s & 0x01010100u;
  return s | (k - (k >> 8));
}

// Packed subtract: blue is max(d - t, 0); green and red subtract with d's bit 0
// forced to 1 and t's dropped and become 0 when they borrow; byte 3 becomes 0.
inline uint32_t PackedSub32(uint32_t D, uint32_t Tw) {
  const uint32_t x = (D | 0x01010100u) - (Tw & 0xFEFEFEFFu);
  const uint32_t k = x & 0x01010100u;
  return x & (k - (k >> 8));
}

// Halving (mode 1 at p = 128, white, no blend image, no source alpha): each
// channel floor(s / 2) + floor(d / 2); byte 3 becomes 0.
inline uint32_t Halve32(uint32_t D, uint32_t S) {
  return ((S >> 1) & 0x007F7F7Fu) + ((D >> 1) & 0x007F7F7Fu);
}

// L8 on blue, green and red at once, byte 3 of D kept. d * (256 - f) + x * f
// equals d * 256 + (x - d) * f and never exceeds 16 bits, so blue and red
// share one multiplication without reaching each other.
inline uint32_t L8Word(uint32_t D, uint32_t X, uint32_t f) {
  const uint32_t g = 256u - f;
  const uint32_t rb = (((D & 0xFF00FFu) * g + (X & 0xFF00FFu) * f) >> 8) & 0xFF00FFu;
  const uint32_t gg = (((D & 0xFF00u) * g + (X & 0xFF00u) * f) >> 8) & 0xFF00u;
  return (D & 0xFF000000u) | rb | gg;
}

// The source channels after the bright colour.
template <bool White>
inline void Modulate32(uint32_t S, const OpRows& r, uint32_t& b, uint32_t& g, uint32_t& rr) {
  if constexpr (White) {
    b = ChB(S);
    g = ChG(S);
    rr = ChR(S);
  } else {
    b = r.mul_b[ChB(S)];
    g = r.mul_g[ChG(S)];
    rr = r.mul_r[ChR(S)];
  }
}

// One 32-bit pixel in the given mode and variant.
template <int Mode, bool White, bool Blend, bool WithA>
inline uint32_t Op32(uint32_t D, uint32_t S, uint32_t a, uint32_t w, const OpRows& r) {
  static_assert(Mode == 0 || Mode == 1 || Mode == 2 || Mode == 3 || Mode == 4 || Mode == 10 ||
                Mode == 11);
  const uint32_t p = r.p;
  const uint32_t db = ChB(D), dg = ChG(D), dr = ChR(D);
  uint32_t sb, sg, sr;
  if constexpr (Mode == 10) {
    // Inversion first, then modulation.
    if constexpr (White) {
      sb = 255u - ChB(S);
      sg = 255u - ChG(S);
      sr = 255u - ChR(S);
    } else {
      sb = r.mul_b[255u - ChB(S)];
      sg = r.mul_g[255u - ChG(S)];
      sr = r.mul_r[255u - ChR(S)];
    }
  } else {
    Modulate32<White>(S, r, sb, sg, sr);
  }

  if constexpr (Mode == 0) {
    if constexpr (!Blend && !WithA) {
      if constexpr (White) return S;  // word write, byte 3 included
      else return ChannelWrite32(D, sb, sg, sr);
    } else if constexpr (!Blend) {
      return L8Word(D, (sr << 16) | (sg << 8) | sb, a);
    } else if constexpr (!WithA) {
      return L8Word(D, (sr << 16) | (sg << 8) | sb, w);
    } else {
      const uint32_t f = w * a;
      return ChannelWrite32(D, L16(db, sb, f), L16(dg, sg, f), L16(dr, sr, f));
    }
  } else if constexpr (Mode == 1 || Mode == 10 || Mode == 11) {
    uint32_t xb = sb, xg = sg, xr = sr;
    if constexpr (Mode == 11) {
      xb = (sb * db) >> 8;
      xg = (sg * dg) >> 8;
      xr = (sr * dr) >> 8;
    }
    if constexpr (!Blend && !WithA) {
      return L8Word(D, (xr << 16) | (xg << 8) | xb, p);
    } else if constexpr (Blend && WithA) {
      const uint32_t f = w * a * p;
      return ChannelWrite32(D, L24(db, xb, f), L24(dg, xg, f), L24(dr, xr, f));
    } else {
      const uint32_t f = (Blend ? w : a) * p;
      return ChannelWrite32(D, L16(db, xb, f), L16(dg, xg, f), L16(dr, xr, f));
    }
  } else if constexpr (Mode == 2 || Mode == 3) {
    uint32_t tb, tg, tr;
    if constexpr (!Blend && !WithA) {
      tb = r.mul_p[sb];
      tg = r.mul_p[sg];
      tr = r.mul_p[sr];
    } else if constexpr (Blend && WithA) {
      const uint32_t f = w * a * p;
      tb = (sb * f) >> 24;
      tg = (sg * f) >> 24;
      tr = (sr * f) >> 24;
    } else {
      const uint32_t f = (Blend ? w : a) * p;
      tb = (sb * f) >> 16;
      tg = (sg * f) >> 16;
      tr = (sr * f) >> 16;
    }
    const uint32_t Tw = (tr << 16) | (tg << 8) | tb;
    if constexpr (Mode == 2) return PackedAdd32(D, Tw);
    else return PackedSub32(D, Tw);
  } else {  // Mode 4
    if constexpr (!Blend && !WithA) {
      return ChannelWrite32(D, (sb * db) >> 8, (sg * dg) >> 8, (sr * dr) >> 8);
    } else if constexpr (Blend && WithA) {
      const uint32_t f = w * a;
      return ChannelWrite32(D, (f * db * sb) >> 24, (f * dg * sg) >> 24, (f * dr * sr) >> 24);
    } else {
      const uint32_t f = Blend ? w : a;
      return ChannelWrite32(D, (f * db * sb) >> 16, (f * dg * sg) >> 16, (f * dr * sr) >> 16);
    }
  }
}

// ---------------------------------------------------------------------------
// 16-bit (RGB565) words. Fields keep their own width (5, 6, 5 bits) and index
// the tables as they are.

inline uint32_t F5B(uint32_t w) { return w & 0x1Fu; }
inline uint32_t F6G(uint32_t w) { return (w >> 5) & 0x3Fu; }
inline uint32_t F5R(uint32_t w) { return (w >> 11) & 0x1Fu; }
inline uint16_t Pack565(uint32_t r, uint32_t g, uint32_t b) {
  return static_cast<uint16_t>((r << 11) | (g << 5) | b);
}

// Packed add of t to d: blue saturates at 31; green's upper five and red's
// upper four bits add and saturate; the lowest bits of green and red are the
// OR of the operands' and of the carry of the field below.
inline uint16_t PackedAdd16(uint32_t d, uint32_t t) {
  const uint32_t sum = (d & 0xF7DEF7DFu) + (t & 0xF7DEF7DFu);
  const uint32_t k = sum & 0x8210820u;
  return static_cast<uint16_t>((k - (k >> 5)) | ((d | t) & 0x820u) | sum);
}

// The full-strength add (p = 255, white, no blend image, no source alpha), one
// pixel: as the packed add without the OR of the operands' lowest bits.
inline uint16_t PackedAdd16Full(uint32_t d, uint32_t s) {
  const uint32_t sum = (d & 0xF7DFu) + (s & 0xF7DFu);
  const uint32_t k = sum & 0x10820u;
  return static_cast<uint16_t>((k - (k >> 5)) | sum);
}

// The full-strength add and subtract of two adjacent pixels at once, one
// 32-bit word with the left pixel in the low half. The carry (borrow) out of
// the left pixel's red runs into the right pixel's blue, whose lowest bit the
// operands do not keep: it becomes the left red's carry (or its no-borrow).
// The left pixel gets what the single-pixel forms give it.
inline uint32_t PairAdd16Full(uint32_t D, uint32_t S) {
  const uint64_t wide = uint64_t{D & 0xF7DEF7DFu} + (S & 0xF7DEF7DFu);
  const uint32_t carry = static_cast<uint32_t>(wide >> 32);
  const uint32_t sum = static_cast<uint32_t>(wide);
  const uint32_t k = sum & 0x8210820u;
  return (k - ((k >> 5) | (carry << 27))) | sum;
}
inline uint32_t PairSub16Full(uint32_t D, uint32_t S) {
  const uint64_t wide = uint64_t{D | 0x8210820u} - (S & 0xF7DEF7DFu);
  const bool borrow = (wide >> 32) != 0;
  const uint32_t e = static_cast<uint32_t>(wide);
  const uint32_t k = e & 0x8210820u;
  return ((k - (k >> 5)) | (borrow ? 0u : 0xF8000000u)) & e;
}

// Packed subtract of t from d: blue max(d - t, 0); green's upper five and red's
// upper four bits subtract and become 0 on a borrow; green's lowest bit ends 0.
inline uint16_t PackedSub16(uint32_t d, uint32_t t) {
  const uint32_t e = (d | 0x8210820u) - (t & 0xF7DEF7DFu);
  const uint32_t k = e & 0x8210820u;
  return static_cast<uint16_t>((k - (k >> 5)) & e);
}

// Halving (mode 1 at p = 128, white, no blend image, no source alpha): every
// field floor(s / 2) + floor(d / 2).
inline uint16_t Halve16(uint32_t d, uint32_t s) {
  return static_cast<uint16_t>(((s >> 1) & 0x7BEFu) + ((d >> 1) & 0x7BEFu));
}

// The six-bit mix (mode 1, white, no blend image, no source alpha, p other
// than 128): Mix6[p >> 2][s][d] on each field.
inline uint16_t Mix16(uint32_t d, uint32_t s, const OpRows& r) {
  const uint8_t* m = r.mix6_p;
  return Pack565(m[F5R(s) * 64u + F5R(d)], m[F6G(s) * 64u + F6G(d)], m[F5B(s) * 64u + F5B(d)]);
}

// One 16-bit pixel in the given mode and variant. In mode 1 the form without
// alpha and blend image is the Diff blend; the draw loops use Mix16 or Halve16
// instead where the white draw of a source without alpha allows it.
template <int Mode, bool White, bool Blend, bool WithA>
inline uint16_t Op16(uint32_t D, uint32_t S, uint32_t a, uint32_t w, const OpRows& r) {
  static_assert(Mode == 0 || Mode == 1 || Mode == 2 || Mode == 3 || Mode == 4 || Mode == 10 ||
                Mode == 11);
  const uint32_t p = r.p;
  if constexpr (Mode == 10) S = ~S & 0xFFFFu;  // inverted before the bright colour
  const uint32_t db = F5B(D), dg = F6G(D), dr = F5R(D);
  uint32_t sb = F5B(S), sg = F6G(S), sr = F5R(S);
  if constexpr (!White) {
    sb = r.mul_b[sb];
    sg = r.mul_g[sg];
    sr = r.mul_r[sr];
  }

  if constexpr (Mode == 0) {
    if constexpr (!Blend && !WithA) {
      if constexpr (White) return static_cast<uint16_t>(S);
      else return Pack565(sr, sg, sb);
    } else if constexpr (Blend && WithA) {
      const uint32_t f = a * w;
      return Pack565(Weighted<16>(dr, sr, f), Weighted<16>(dg, sg, f), Weighted<16>(db, sb, f));
    } else {
      const uint32_t f = Blend ? w : a;
      return Pack565(Weighted<8>(dr, sr, f), Weighted<8>(dg, sg, f), Weighted<8>(db, sb, f));
    }
  } else if constexpr (Mode == 1 || Mode == 10 || Mode == 11) {
    uint32_t vb = sb, vg = sg, vr = sr;
    if constexpr (Mode == 11) {
      vb = (sb * db) >> 5;
      vg = (sg * dg) >> 6;
      vr = (sr * dr) >> 5;
    }
    if constexpr (!Blend && !WithA) {
      const int32_t* df = r.diff_p;
      return Pack565(DiffBlend(dr, vr, df), DiffBlend(dg, vg, df), DiffBlend(db, vb, df));
    } else if constexpr (Blend && WithA) {
      const uint32_t f = a * w * p;
      return Pack565(Weighted<24>(dr, vr, f), Weighted<24>(dg, vg, f), Weighted<24>(db, vb, f));
    } else if constexpr (Mode == 11 && White && !Blend) {
      // The white alpha form keeps five more fractional bits in green.
      const uint32_t f = a * p;
      const uint32_t g = ((dg << 21) + (sg * dg / 2u - 32u * dg) * f) >> 21;
      return Pack565(Weighted<16>(dr, vr, f), g, Weighted<16>(db, vb, f));
    } else {
      const uint32_t f = (Blend ? w : a) * p;
      return Pack565(Weighted<16>(dr, vr, f), Weighted<16>(dg, vg, f), Weighted<16>(db, vb, f));
    }
  } else if constexpr (Mode == 2 || Mode == 3) {
    const uint32_t* m = r.mul_p;
    uint32_t tb, tg, tr;
    if constexpr (!Blend && !WithA) {
      tb = m[sb];
      tg = m[sg];
      tr = m[sr];
    } else if constexpr (Blend && WithA) {
      const uint32_t f = a * w;
      tb = m[(sb * f) >> 16];
      tg = m[(sg * f) >> 16];
      tr = m[(sr * f) >> 16];
    } else {
      const uint32_t f = Blend ? w : a;
      tb = m[(sb * f) >> 8];
      tg = m[(sg * f) >> 8];
      tr = m[(sr * f) >> 8];
    }
    const uint32_t t = Pack565(tr, tg, tb);
    if constexpr (Mode == 2) return PackedAdd16(D, t);
    else return PackedSub16(D, t);
  } else {  // Mode 4
    if constexpr (!Blend && !WithA) {
      return Pack565((sr * dr) >> 5, (sg * dg) >> 6, (sb * db) >> 5);
    } else if constexpr (Blend && WithA) {
      const uint32_t f = a * w;
      return Pack565((sr * dr * f) >> 21, (sg * dg * f) >> 22, (sb * db * f) >> 21);
    } else {
      const uint32_t f = Blend ? w : a;
      return Pack565((sr * dr * f) >> 13, (sg * dg * f) >> 14, (sb * db * f) >> 13);
    }
  }
}

}  // namespace blitops
