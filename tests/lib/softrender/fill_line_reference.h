// tests/lib/softrender/fill_line_reference.h - independent per-pixel
// references for the fill, line and stretched-blit tests: channel by channel,
// from the arithmetic's meaning (saturating adds with their traces in the
// lowest bits, borrows, lerps), with products and quotients worked out
// directly instead of through the blend tables. Also the test images and
// the draw-state set-up they share.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "lib/softrender/blend_tables.h"
#include "lib/softrender/memimg.h"
#include "lib/softrender/soft_draw_state.h"

namespace reference {

inline int64_t Mul(int64_t b, int64_t v) { return v * b / 255; }
// e * p / 255 truncated toward zero (C++ division truncates).
inline int64_t Diff(int64_t p, int64_t e) { return e * p / 255; }
// d + (x - d) * f / 2^shift, floored.
inline int64_t Lerp(int64_t d, int64_t x, int64_t f, int shift) {
  int64_t num = d * (int64_t{1} << shift) + (x - d) * f;
  return num >= 0 ? num >> shift : -((-num + (int64_t{1} << shift) - 1) >> shift);
}

// Channels of a 32-bit word (blue, green, red, fourth byte).
struct Px32 {
  int64_t c[4];
};
inline Px32 Split32(uint32_t w) { return {{w & 0xFF, (w >> 8) & 0xFF, (w >> 16) & 0xFF, w >> 24}}; }
inline uint32_t Join32(const Px32& p) {
  return static_cast<uint32_t>(p.c[0] | p.c[1] << 8 | p.c[2] << 16 | p.c[3] << 24);
}

// Blue adds exactly, saturating at 255. Green and red add their upper seven
// bits, saturating to 255; otherwise their lowest bit is the OR of both
// lowest bits and the carry out of the channel below. The fourth byte
// becomes the carry out of red.
inline uint32_t Add32(uint32_t dw, uint32_t sw) {
  Px32 d = Split32(dw), s = Split32(sw), r{};
  int64_t blue = d.c[0] + s.c[0];
  bool carry = blue > 255;
  r.c[0] = carry ? 255 : blue;
  for (int i = 1; i < 3; ++i) {
    int64_t hi = (d.c[i] >> 1) + (s.c[i] >> 1);
    bool over = hi > 127;
    r.c[i] = over ? 255 : (hi << 1) | (d.c[i] & 1) | (s.c[i] & 1) | (carry ? 1 : 0);
    carry = over;
  }
  r.c[3] = carry ? 1 : 0;
  return Join32(r);
}

// A channel that borrows becomes 0. Blue subtracts exactly; green and red
// subtract their upper seven bits, and their lowest bit is 1 when the
// channel below did not borrow. The fourth byte becomes 0.
inline uint32_t Sub32(uint32_t dw, uint32_t sw) {
  Px32 d = Split32(dw), s = Split32(sw), r{};
  bool borrow = s.c[0] > d.c[0];
  r.c[0] = borrow ? 0 : d.c[0] - s.c[0];
  for (int i = 1; i < 3; ++i) {
    int64_t hi = (d.c[i] >> 1) - (s.c[i] >> 1);
    bool below_ok = !borrow;
    borrow = hi < 0;
    r.c[i] = borrow ? 0 : (hi << 1) | (below_ok ? 1 : 0);
  }
  r.c[3] = 0;
  return Join32(r);
}

// RGB565 fields: blue, green, red.
struct Px16 {
  int64_t f[3];
};
constexpr int kBits[3] = {5, 6, 5};
inline Px16 Split16(uint32_t w) { return {{w & 31, (w >> 5) & 63, (w >> 11) & 31}}; }
inline uint32_t Join16(const Px16& p) { return static_cast<uint32_t>(p.f[2] << 11 | p.f[1] << 5 | p.f[0]); }

// Blue adds exactly, saturating at 31. Green's upper five bits add; on
// overflow its upper bits are all set, else they are the sum; its lowest bit
// is the OR of both lowest bits and the carry out of blue. Red's upper four
// bits add; on overflow red is 31, else its lowest bit is the OR of both
// lowest bits and green's carry.
inline uint32_t Add16(uint32_t dw, uint32_t sw) {
  Px16 d = Split16(dw), s = Split16(sw), r{};
  int64_t blue = d.f[0] + s.f[0];
  bool carry_b = blue > 31;
  r.f[0] = carry_b ? 31 : blue;
  int64_t g_hi = (d.f[1] >> 1) + (s.f[1] >> 1);
  bool carry_g = g_hi > 31;
  int64_t g_low = (d.f[1] & 1) | (s.f[1] & 1) | (carry_b ? 1 : 0);
  r.f[1] = (carry_g ? 62 : g_hi << 1) | g_low;
  int64_t r_hi = (d.f[2] >> 1) + (s.f[2] >> 1);
  r.f[2] = r_hi > 15 ? 31 : (r_hi << 1) | (d.f[2] & 1) | (s.f[2] & 1) | (carry_g ? 1 : 0);
  return Join16(r);
}

// A field that borrows becomes 0; green's lowest bit ends 0; red's lowest
// bit is 1 when neither green nor red borrowed.
inline uint32_t Sub16(uint32_t dw, uint32_t sw) {
  Px16 d = Split16(dw), s = Split16(sw), r{};
  r.f[0] = s.f[0] > d.f[0] ? 0 : d.f[0] - s.f[0];
  int64_t g_hi = (d.f[1] >> 1) - (s.f[1] >> 1);
  bool borrow_g = g_hi < 0;
  r.f[1] = borrow_g ? 0 : g_hi << 1;
  int64_t r_hi = (d.f[2] >> 1) - (s.f[2] >> 1);
  r.f[2] = r_hi < 0 ? 0 : (r_hi << 1) | (borrow_g ? 0 : 1);
  return Join16(r);
}

// The fill and line colour operation on one destination pixel.
inline uint32_t FillPixel32(uint32_t d, uint32_t colour, uint32_t mode, int p, uint32_t bright) {
  Px32 v = Split32(colour);
  if ((bright & 0xFFFFFF) != 0xFFFFFF) {
    for (int i = 0; i < 3; ++i) v.c[i] = (v.c[i] * ((bright >> (8 * i)) & 0xFF)) >> 8;
  }
  Px32 dd = Split32(d), r = dd;
  switch (mode) {
    case 0: return Join32(v);
    case 1:
      if (p == 0) return d;
      if (p == 255) return Join32(v);
      for (int i = 0; i < 3; ++i) r.c[i] = Lerp(dd.c[i], v.c[i], p, 8);
      return Join32(r);
    case 2:
    case 3: {
      if (p == 0) return d;
      Px32 s{{Mul(p, v.c[0]), Mul(p, v.c[1]), Mul(p, v.c[2]), 0}};
      return mode == 2 ? Add32(d, Join32(s)) : Sub32(d, Join32(s));
    }
    case 4:
      for (int i = 0; i < 3; ++i) r.c[i] = (dd.c[i] * v.c[i]) >> 8;
      return Join32(r);
    case 10:
      for (int i = 0; i < 3; ++i) r.c[i] = Lerp(dd.c[i], 255 - v.c[i], p, 8);
      return Join32(r);
    case 11:
      for (int i = 0; i < 3; ++i) r.c[i] = Lerp(dd.c[i], (dd.c[i] * v.c[i]) >> 8, p, 8);
      return Join32(r);
    default: return d;
  }
}

inline uint32_t FillPixel16(uint32_t d, uint32_t colour, uint32_t mode, int p, uint32_t bright) {
  Px16 v = Split16(colour & 0xFFFF);
  if ((bright & 0xFFFFFF) != 0xFFFFFF) {
    for (int i = 0; i < 3; ++i) v.f[i] = (v.f[i] * ((bright >> (8 * i)) & 0xFF)) >> 8;
  }
  Px16 dd = Split16(d), r = dd;
  switch (mode) {
    case 0: return Join16(v);
    case 1:
      if (p == 0) return d;
      if (p == 255) return Join16(v);
      for (int i = 0; i < 3; ++i) r.f[i] = dd.f[i] + Diff(p, v.f[i] - dd.f[i]);
      return Join16(r);
    case 2:
    case 3: {
      if (p == 0) return d;
      Px16 s{{Mul(p, v.f[0]), Mul(p, v.f[1]), Mul(p, v.f[2])}};
      return mode == 2 ? Add16(d, Join16(s)) : Sub16(d, Join16(s));
    }
    case 4:
      for (int i = 0; i < 3; ++i) r.f[i] = (dd.f[i] * v.f[i]) >> kBits[i];
      return Join16(r);
    case 10:
      for (int i = 0; i < 3; ++i) {
        int64_t inv = ((1 << kBits[i]) - 1) - v.f[i];
        r.f[i] = dd.f[i] + Diff(p, inv - dd.f[i]);
      }
      return Join16(r);
    case 11:
      for (int i = 0; i < 3; ++i) {
        int64_t t = (dd.f[i] * v.f[i]) >> kBits[i];
        r.f[i] = dd.f[i] + Diff(p, t - dd.f[i]);
      }
      return Join16(r);
    default: return d;
  }
}

}  // namespace reference

namespace softtest {

// A software image owned by the test.
struct Image {
  MEMIMG img{};
  Image(int w, int h, int format, int paletted = 0, int alpha = 0, uint32_t key = 0) {
    std::memset(&img, 0, sizeof img);
    EXPECT_EQ(InitMemImg(&img, w, h, -1, key, format, paletted, alpha, 0, nullptr), 0);
  }
  ~Image() { ReleaseMemImg(&img); }
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;
  int Bpp() const { return MemImgBytesPerPixel(img.base->pixel_format, img.base->paletted, img.base->alpha); }
  uint8_t* At(int x, int y) { return img.pixels + y * img.base->pitch + x * Bpp(); }
  uint32_t Get(int x, int y) {
    uint32_t v = 0;
    std::memcpy(&v, At(x, y), Bpp() > 4 ? 4 : Bpp());
    return v;
  }
  void Set(int x, int y, uint32_t v) { std::memcpy(At(x, y), &v, Bpp()); }
  // Every byte of the pixel block, padding included.
  std::vector<uint8_t> Bytes() const {
    const uint8_t* b = img.base->pixel_block;
    return std::vector<uint8_t>(b, b + static_cast<size_t>(img.base->pitch) * img.base->height);
  }
  void Randomise(std::mt19937& rng) {
    uint8_t* b = img.base->pixel_block;
    for (int i = 0; i < img.base->pitch * img.base->height; ++i) b[i] = static_cast<uint8_t>(rng());
  }
};

// Sets the draw state the kernels read; the tables are built once.
inline void SetState(MEMIMG* target, uint32_t mode, int param, uint32_t bright, IntRect clip) {
  static const bool built = (BuildSoftBlendTables(), true);
  (void)built;
  SoftDrawState& s = SoftDraw();
  s.blend_mode = mode;
  s.blend_param = param;
  s.bright = bright;
  s.clip = clip;
  s.target = target;
  s.blend_image = nullptr;
}

}  // namespace softtest
