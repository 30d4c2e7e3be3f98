// Helpers of the transformed-kernel tests: owned images, the draw state, and
// a per-pixel reference of every blend mode written straight from the
// formulas in 64-bit arithmetic with real divisions (no tables, no packed
// tricks), so that the kernels' table and mask arithmetic is checked against
// something computed another way.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>

#include "lib/softrender/blend_tables.h"
#include "lib/softrender/memimg.h"
#include "lib/softrender/soft_draw_state.h"
#include "lib/softrender/soft_kernels.h"

namespace xformtest {

// A MEMIMG released with its owner.
struct Image {
  MEMIMG m;
  Image(int width, int height, int format, int paletted = 0, int alpha = 0, uint32_t key = 0) {
    std::memset(&m, 0, sizeof(m));
    InitMemImg(&m, width, height, -1, key, format, paletted, alpha, 0, nullptr);
  }
  ~Image() { ReleaseMemImg(&m); }
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;

  int Bpp() const { return m.base->format_info->bytes_per_pixel; }
  uint8_t* At(int x, int y) { return m.pixels + y * m.base->pitch + x * Bpp(); }
  uint32_t Get(int x, int y) {
    uint32_t v = 0;
    std::memcpy(&v, At(x, y), Bpp());
    return v;
  }
  void Set(int x, int y, uint32_t v) { std::memcpy(At(x, y), &v, Bpp()); }
  void Fill(uint32_t v) {
    for (int y = 0; y < m.height; ++y)
      for (int x = 0; x < m.width; ++x) Set(x, y, v);
  }
  void SetPalette(int index, uint32_t entry) {
    const int size = m.base->pixel_format == kMemImg32 ? 4 : 2;
    std::memcpy(m.base->palette + index * size, &entry, size);
  }
  uint32_t Palette(int index) {
    uint32_t v = 0;
    std::memcpy(&v, m.base->palette + index * (m.base->pixel_format == kMemImg32 ? 4 : 2),
                m.base->pixel_format == kMemImg32 ? 4 : 2);
    return v;
  }
};

// Sets the draw state the kernels read; the tables are built once.
inline void SetState(uint32_t mode, int param, uint32_t bright, IntRect clip) {
  static const bool built = (BuildSoftBlendTables(), true);
  (void)built;
  SoftDrawState& s = SoftDraw();
  s.blend_mode = mode;
  s.blend_param = param;
  s.bright = bright;
  s.clip = clip;
}

// ---- The reference ---------------------------------------------------------------

struct RefPixel {
  bool is16 = false;
  bool paletted = false;
  bool has_alpha = false;  // direct source with its alpha flag
  bool trans = false;
  bool blend = false;
  int mode = 0;
  int64_t p = 0;
  uint32_t bright = 0xFFFFFF;
  uint32_t key = 0;
  uint32_t index = 0;   // paletted: the texel's index
  uint32_t colour = 0;  // the texel's value (direct, alpha byte included for 32-bit) or palette entry
  int64_t a = 255;      // alpha byte (alpha sources)
  int64_t w = 0;        // blend weight (with a blend image)
  uint32_t dst = 0;
};

// Whether the call draws at all with these settings.
inline bool RefCallDraws(int mode, int64_t p, bool paletted) {
  switch (mode) {
    case 0: case 4: case 10: case 11: return true;
    case 1: case 2: return p != 0;
    case 3: return p != 0 || paletted;
    default: return false;
  }
}

inline int64_t Mul255(int64_t k, int64_t x) { return x * k / 255; }
// (d * 2^(8n) + (s - d) * f) / 2^(8n), rounded down.
inline int64_t Weighted(int64_t d, int64_t s, int64_t f, int n) {
  const int64_t one = int64_t(1) << (8 * n);
  const int64_t num = d * one + (s - d) * f;
  return num >= 0 ? num / one : -((-num + one - 1) / one);
}
inline int64_t DiffForm(int64_t d, int64_t s, int64_t p) { return d + (s - d) * p / 255; }

inline uint32_t RefAdd32(uint32_t d, uint32_t s) {
  auto ch = [](uint32_t v, int c) { return (v >> (8 * c)) & 0xFF; };
  const uint32_t tb = ch(s, 0) + ch(d, 0);
  const uint32_t cb = tb > 255;
  const uint32_t blue = cb ? 255 : tb;
  const uint32_t hg = (ch(s, 1) >> 1) + (ch(d, 1) >> 1);
  const uint32_t cg = hg > 127;
  const uint32_t green = cg ? 255 : (2 * hg) | cb | ((ch(s, 1) | ch(d, 1)) & 1);
  const uint32_t hr = (ch(s, 2) >> 1) + (ch(d, 2) >> 1);
  const uint32_t cr = hr > 127;
  const uint32_t red = cr ? 255 : (2 * hr) | cg | ((ch(s, 2) | ch(d, 2)) & 1);
  return blue | green << 8 | red << 16 | cr << 24;
}

inline uint32_t RefAdd16(uint32_t d, uint32_t s) {
  const uint32_t sb = s & 31, sg = (s >> 5) & 63, sr = s >> 11;
  const uint32_t db = d & 31, dg = (d >> 5) & 63, dr = d >> 11;
  const uint32_t tb = sb + db;
  const uint32_t cb = tb > 31;
  const uint32_t blue = cb ? 31 : tb;
  const uint32_t hg = (sg >> 1) + (dg >> 1);
  const uint32_t cg = hg > 31;
  const uint32_t green = (2 * (cg ? 31 : hg)) | cb | ((sg | dg) & 1);
  const uint32_t hr = (sr >> 1) + (dr >> 1);
  const uint32_t cr = hr > 15;
  const uint32_t red = cr ? 31 : (2 * hr) | cg | ((sr | dr) & 1);
  return red << 11 | green << 5 | blue;
}

inline uint32_t RefSub32(uint32_t d, uint32_t s) {
  auto ch = [](uint32_t v, int c) { return int64_t((v >> (8 * c)) & 0xFF); };
  const bool ub = ch(s, 0) > ch(d, 0);
  const int64_t blue = ub ? 0 : ch(d, 0) - ch(s, 0);
  const bool ug = (ch(d, 1) & 0xFE) < (ch(s, 1) & 0xFE);
  const int64_t green = ug ? 0 : (ch(d, 1) & 0xFE) - (ch(s, 1) & 0xFE) + 1 - (ub ? 1 : 0);
  const bool ur = (ch(d, 2) & 0xFE) < (ch(s, 2) & 0xFE);
  const int64_t red = ur ? 0 : (ch(d, 2) & 0xFE) - (ch(s, 2) & 0xFE) + 1 - (ug ? 1 : 0);
  return uint32_t(blue | green << 8 | red << 16);
}

inline uint32_t RefSub16(uint32_t d, uint32_t s) {
  const int64_t sb = s & 31, sg = (s >> 5) & 63, sr = s >> 11;
  const int64_t db = d & 31, dg = (d >> 5) & 63, dr = d >> 11;
  const int64_t blue = sb > db ? 0 : db - sb;
  const bool ug = (dg & 0x3E) < (sg & 0x3E);
  const int64_t green = ug ? 0 : (dg & 0x3E) - (sg & 0x3E);
  const bool ur = (dr & 0x1E) < (sr & 0x1E);
  const int64_t red = ur ? 0 : (dr & 0x1E) - (sr & 0x1E) + 1 - (ug ? 1 : 0);
  return uint32_t(red << 11 | green << 5 | blue);
}

// The new destination value, or nothing when the pixel is skipped. The call
// must draw (RefCallDraws).
inline std::optional<uint32_t> Reference(const RefPixel& r) {
  int mode = r.mode;
  if (mode == 1 && r.p == 255) mode = 0;
  const bool white = (r.bright & 0xFFFFFF) == 0xFFFFFF;
  const bool alpha = r.has_alpha && !r.paletted;
  if (r.trans) {
    if (r.paletted) {
      if (r.index == r.key) return std::nullopt;
    } else if (!alpha) {
      if (r.colour == r.key) return std::nullopt;
    } else if (r.a == 0 && mode != 4 && mode != 11) {
      return std::nullopt;
    }
  }
  const bool use_a = alpha && !(r.trans && r.a == 255);
  const int64_t a = r.a, w = r.w, p = r.p;

  if (!r.is16) {
    int64_t s[3], d[3], br[3];
    for (int c = 0; c < 3; ++c) {
      s[c] = (r.colour >> (8 * c)) & 0xFF;
      d[c] = (r.dst >> (8 * c)) & 0xFF;
      br[c] = (r.bright >> (8 * c)) & 0xFF;
    }
    auto bright = [&](int c, int64_t v) { return white ? v : Mul255(br[c], v); };
    int64_t out[3];
    const uint32_t keep3 = r.dst & 0xFF000000u;
    switch (mode) {
      case 0:
      case 1: {
        int n = 0;
        int64_t f = 1;
        if (r.blend) { f *= w; ++n; }
        if (use_a) { f *= a; ++n; }
        if (mode == 1) { f *= p; ++n; }
        if (n == 0 && white) return r.colour;
        for (int c = 0; c < 3; ++c) out[c] = n == 0 ? bright(c, s[c]) : Weighted(d[c], bright(c, s[c]), f, n);
        break;
      }
      case 2:
      case 3: {
        uint32_t scaled = 0;
        for (int c = 0; c < 3; ++c) {
          const int64_t sp = bright(c, s[c]);
          int64_t v;
          if (!r.blend && !use_a) v = Mul255(p, sp);
          else if (!r.blend) v = (sp * a * p) >> 16;
          else if (!use_a) v = (sp * w * p) >> 16;
          else v = (sp * w * a * p) >> 24;
          scaled |= uint32_t(v) << (8 * c);
        }
        return mode == 2 ? RefAdd32(r.dst, scaled) : RefSub32(r.dst, scaled);
      }
      case 4: {
        for (int c = 0; c < 3; ++c) {
          int64_t v = d[c] * bright(c, s[c]);
          int shift = 8;
          if (r.blend) { v *= w; shift += 8; }
          if (use_a) { v *= a; shift += 8; }
          out[c] = v >> shift;
        }
        break;
      }
      case 10:
      case 11: {
        int n = 1;
        int64_t f = p;
        if (r.blend) { f *= w; ++n; }
        if (use_a) { f *= a; ++n; }
        for (int c = 0; c < 3; ++c) {
          const int64_t target = mode == 10 ? bright(c, 255 - s[c]) : (bright(c, s[c]) * d[c]) >> 8;
          out[c] = Weighted(d[c], target, f, n);
        }
        break;
      }
      default:
        return std::nullopt;
    }
    return uint32_t(out[0] | out[1] << 8 | out[2] << 16) | keep3;
  }

  // RGB565: fields blue, green, red.
  static constexpr int kShift[3] = {0, 5, 11};
  static constexpr int kBits[3] = {5, 6, 5};
  static constexpr int64_t kMax[3] = {31, 63, 31};
  const uint32_t colour = r.colour & 0xFFFF;
  int64_t s[3], d[3], br[3], inv[3];
  for (int f = 0; f < 3; ++f) {
    s[f] = (colour >> kShift[f]) & kMax[f];
    d[f] = (r.dst >> kShift[f]) & kMax[f];
    br[f] = (r.bright >> (8 * f)) & 0xFF;
    inv[f] = kMax[f] - s[f];
  }
  auto bright = [&](int f, int64_t v) { return white ? v : Mul255(br[f], v); };
  int64_t out[3];
  switch (mode) {
    case 0:
    case 1: {
      int n = 0;
      int64_t fac = 1;
      if (r.blend) { fac *= w; ++n; }
      if (use_a) { fac *= a; ++n; }
      const bool p_alone = mode == 1 && n == 0;
      if (mode == 1) { fac *= p; ++n; }
      if (n == 0 && white) return colour;
      for (int f = 0; f < 3; ++f) {
        const int64_t sp = bright(f, s[f]);
        out[f] = n == 0 ? sp : (p_alone ? DiffForm(d[f], sp, p) : Weighted(d[f], sp, fac, n));
      }
      break;
    }
    case 2:
    case 3: {
      uint32_t scaled = 0;
      for (int f = 0; f < 3; ++f) {
        int64_t i;
        if (!r.blend && !use_a) i = bright(f, s[f]);
        else if (!r.blend) i = bright(f, (s[f] * a) >> 8);
        else if (!use_a) i = (bright(f, s[f]) * w) >> 8;
        else i = (bright(f, s[f]) * w * a) >> 16;
        scaled |= uint32_t(Mul255(p, i)) << kShift[f];
      }
      return mode == 2 ? RefAdd16(r.dst & 0xFFFF, scaled) : RefSub16(r.dst & 0xFFFF, scaled);
    }
    case 4: {
      for (int f = 0; f < 3; ++f) {
        int64_t v = d[f] * bright(f, s[f]);
        int shift = kBits[f];
        if (r.blend) { v *= w; shift += 8; }
        if (use_a) { v *= a; shift += 8; }
        out[f] = v >> shift;
      }
      break;
    }
    case 10:
    case 11: {
      int n = 1;
      int64_t fac = p;
      if (r.blend) { fac *= w; ++n; }
      if (use_a) { fac *= a; ++n; }
      for (int f = 0; f < 3; ++f) {
        const int64_t sp = bright(f, mode == 10 ? inv[f] : s[f]);
        const int64_t target = mode == 10 ? sp : (sp * d[f]) >> kBits[f];
        if (n == 1) {
          out[f] = DiffForm(d[f], target, p);
        } else if (mode == 11 && f == 1 && white && !r.blend && use_a) {
          const int64_t num = d[f] * (int64_t(1) << 21) + ((sp * d[f]) / 2 - 32 * d[f]) * a * p;
          out[f] = num >> 21;
        } else {
          out[f] = Weighted(d[f], target, fac, n);
        }
      }
      break;
    }
    default:
      return std::nullopt;
  }
  return uint32_t(out[2] << 11 | out[1] << 5 | out[0]);
}

}  // namespace xformtest
