// lib/softrender/xform_pixel_ops.h - the per-pixel operations of the
// transformed kernels (textured triangle, rotated blit, filled triangle).
//
// Each operation is a type whose template arguments fix the source family,
// the blend mode and the variant (blend image present, white bright colour,
// source alpha channel, transparency flag), so that a frame instantiated on
// it holds no test of the draw state in its pixel loop: per pixel only the
// colour key or the alpha byte is looked at.
#pragma once

#include <cstdint>
#include <cstring>

namespace softxform {

// Source families; the two fill families serve a triangle without a source.
enum class Family { kPal32, kDirect32, kPal16, kDirect16, kFill32, kFill16 };

// Blend modes the transformed kernels draw.
enum Mode : int {
  kCopy = 0,
  kAlpha = 1,
  kAdd = 2,
  kSub = 3,
  kMul = 4,
  kInverse = 10,
  kMulBlend = 11,
};

// What an operation reads, fixed for one call.
struct OpContext {
  const uint32_t* mul_b = nullptr;  // Mul rows of the bright colour's channels
  const uint32_t* mul_g = nullptr;
  const uint32_t* mul_r = nullptr;
  const uint32_t* mul_p = nullptr;  // Mul row of the blend parameter
  const int32_t* diff_p = nullptr;  // Diff row of the blend parameter, at d = 0
  const uint8_t* weight = nullptr;  // blend-image byte -> weight
  const uint8_t* palette = nullptr; // 4-byte (32-bit) or 2-byte (16-bit) entries
  uint32_t colour_key = 0;
  uint32_t p = 0;       // blend parameter
  uint32_t fill = 0;    // prepared fill colour (fill families)
  uint32_t fill_s = 0;  // fill colour scaled by p (fill families, add and subtract)
};

inline uint32_t Load32(const uint8_t* at) {
  uint32_t v;
  std::memcpy(&v, at, 4);
  return v;
}
inline void Store32(uint8_t* at, uint32_t v) { std::memcpy(at, &v, 4); }
inline uint32_t Load16(const uint8_t* at) {
  uint16_t v;
  std::memcpy(&v, at, 2);
  return v;
}
inline void Store16(uint8_t* at, uint32_t v) {
  const uint16_t w = static_cast<uint16_t>(v);
  std::memcpy(at, &w, 2);
}

// Saturating add of two packed 32-bit pixels. Green and red are added on
// their upper seven bits, the carries land in the cleared bits above and are
// spread over the byte below; the fourth byte ends as red's carry.
inline uint32_t PackedAdd32(uint32_t d, uint32_t s) {
  const uint32_t t = (s & 0xFEFEFFu) + (d & 0xFEFEFFu);
  const uint32_t k = t & 0x1010100u;
  return (k - (k >> 8)) | ((s | d) & 0x10100u) | t;
}

// The same on one RGB565 pixel held in the low half of a word.
inline uint32_t PackedAdd16(uint32_t d, uint32_t s) {
  const uint32_t t = (s & 0xF7DEF7DFu) + (d & 0xF7DEF7DFu);
  const uint32_t k = t & 0x8210820u;
  return ((k - (k >> 5)) | ((s | d) & 0x820u) | t) & 0xFFFFu;
}

// Packed subtract stopping at zero; the lowest bits of green and red act as
// guards for the borrow of the channel below, the fourth byte ends as 0.
inline uint32_t PackedSubtract32(uint32_t d, uint32_t s) {
  const uint32_t e = (d | 0x01010100u) - (s & 0xFEFEFEFFu);
  const uint32_t m = e & 0x01010100u;
  return e & (m - (m >> 8));
}

inline uint32_t PackedSubtract16(uint32_t d, uint32_t s) {
  const uint32_t e = (d | 0x08210820u) - (s & 0xF7DEF7DFu);
  const uint32_t m = e & 0x08210820u;
  return (e & (m - (m >> 5))) & 0xFFFFu;
}

// (d x 2^(8n) + (s - d) x f) >> 8n in its never-negative shape; f < 2^(8n).
template <int N>
inline uint32_t Lerp(uint32_t d, uint32_t s, uint32_t f) {
  static_assert(N >= 1 && N <= 3);
  constexpr uint32_t one = 1u << (8 * N);
  return (d * (one - f) + s * f) >> (8 * N);
}

inline uint32_t DiffBlend(const int32_t* diff, uint32_t d, uint32_t s) {
  return static_cast<uint32_t>(static_cast<int32_t>(d) + diff[static_cast<int32_t>(s) - static_cast<int32_t>(d)]);
}

// Field helpers of RGB565: shift and width of blue, green, red in turn.
constexpr int kFieldShift[3] = {0, 5, 11};
constexpr uint32_t kFieldMask[3] = {31, 63, 31};
constexpr int kFieldBits[3] = {5, 6, 5};

template <Family F>
constexpr bool kIs16 = F == Family::kPal16 || F == Family::kDirect16 || F == Family::kFill16;
template <Family F>
constexpr bool kIsPal = F == Family::kPal32 || F == Family::kPal16;

// Bytes per destination pixel and per source texel of a family.
template <Family F>
constexpr int kDestBytes = kIs16<F> ? 2 : 4;
template <Family F, bool A>
constexpr int kSrcBytes = kIsPal<F> ? 1 : (F == Family::kDirect16 ? (A ? 4 : 2) : 4);

// Modes whose transparency flag skips a texel of alpha 0.
constexpr bool SkipsZeroAlpha(int mode) { return mode != kMul && mode != kMulBlend; }

// One pixel operation: family F, blend mode M, and the variant: B blend image
// given, W bright colour white, A source with an alpha channel (direct
// families only), T transparency flag set.
template <Family F, int M, bool B, bool W, bool A, bool T>
struct PixelOp {
  static_assert(!(A && kIsPal<F>), "paletted sources have no alpha variants");
  static constexpr bool k16 = kIs16<F>;
  static constexpr int kDst = kDestBytes<F>;
  static constexpr int kSrc = kSrcBytes<F, A>;

  // dst: the destination pixel; src_row, blend_row: the texel's row in the
  // source and in the blend image; col: the texel's column.
  static inline void Apply(const OpContext& c, uint8_t* dst, const uint8_t* src_row,
                           const uint8_t* blend_row, uint32_t col) {
    uint32_t sv;
    uint32_t a = 255;
    if constexpr (kIsPal<F>) {
      const uint32_t index = src_row[col];
      if constexpr (T) {
        if (index == c.colour_key) return;
      }
      sv = k16 ? Load16(c.palette + 2 * index) : Load32(c.palette + 4 * index);
    } else {
      const uint8_t* at = src_row + kSrc * col;
      sv = k16 ? Load16(at) : Load32(at);
      if constexpr (A) {
        a = k16 ? at[2] : (sv >> 24);
      } else if constexpr (T) {
        if (sv == c.colour_key) return;
      }
    }
    uint32_t w = 0;
    if constexpr (B) w = c.weight[blend_row[col]];
    if constexpr (A && T) {
      if constexpr (SkipsZeroAlpha(M)) {
        if (a == 0) return;
      }
      if (a == 255) {
        Blend<false>(c, dst, sv, 0, w);
        return;
      }
    }
    Blend<A>(c, dst, sv, a, w);
  }

  // The arithmetic of the mode, with the alpha a taking part when UseA.
  template <bool UseA>
  static inline void Blend(const OpContext& c, uint8_t* dst, uint32_t sv, uint32_t a, uint32_t w) {
    if constexpr (k16) {
      Blend16<UseA>(c, dst, sv, a, w);
    } else {
      Blend32<UseA>(c, dst, sv, a, w);
    }
  }

  static inline uint32_t Bright(const OpContext& c, int channel, uint32_t v) {
    if constexpr (W) {
      return v;
    } else {
      const uint32_t* row = channel == 0 ? c.mul_b : (channel == 1 ? c.mul_g : c.mul_r);
      return row[v];
    }
  }

  template <bool UseA>
  static inline void Blend32(const OpContext& c, uint8_t* dst, uint32_t sv, uint32_t a, uint32_t w) {
    constexpr int nwa = (B ? 1 : 0) + (UseA ? 1 : 0);
    const uint32_t wa = (B ? w : 1u) * (UseA ? a : 1u);
    if constexpr (M == kCopy || M == kAlpha) {
      constexpr int n = nwa + (M == kAlpha ? 1 : 0);
      if constexpr (n == 0) {
        if constexpr (W) {
          Store32(dst, sv);
        } else {
          for (int ch = 0; ch < 3; ++ch) dst[ch] = static_cast<uint8_t>(Bright(c, ch, (sv >> (8 * ch)) & 0xFF));
        }
      } else {
        const uint32_t f = wa * (M == kAlpha ? c.p : 1u);
        for (int ch = 0; ch < 3; ++ch) {
          const uint32_t s = Bright(c, ch, (sv >> (8 * ch)) & 0xFF);
          dst[ch] = static_cast<uint8_t>(Lerp<n>(dst[ch], s, f));
        }
      }
    } else if constexpr (M == kAdd || M == kSub) {
      uint32_t scaled = 0;
      for (int ch = 0; ch < 3; ++ch) {
        const uint32_t s = Bright(c, ch, (sv >> (8 * ch)) & 0xFF);
        uint32_t out;
        if constexpr (nwa == 0) {
          out = c.mul_p[s];
        } else {
          out = (s * wa * c.p) >> (8 * (nwa + 1));
        }
        scaled |= out << (8 * ch);
      }
      const uint32_t d = Load32(dst);
      Store32(dst, M == kAdd ? PackedAdd32(d, scaled) : PackedSubtract32(d, scaled));
    } else if constexpr (M == kMul) {
      for (int ch = 0; ch < 3; ++ch) {
        const uint32_t s = Bright(c, ch, (sv >> (8 * ch)) & 0xFF);
        dst[ch] = static_cast<uint8_t>((dst[ch] * s * wa) >> (8 * (nwa + 1)));
      }
    } else if constexpr (M == kInverse) {
      const uint32_t f = wa * c.p;
      for (int ch = 0; ch < 3; ++ch) {
        const uint32_t i = Bright(c, ch, 255 - ((sv >> (8 * ch)) & 0xFF));
        dst[ch] = static_cast<uint8_t>(Lerp<nwa + 1>(dst[ch], i, f));
      }
    } else if constexpr (M == kMulBlend) {
      const uint32_t f = wa * c.p;
      for (int ch = 0; ch < 3; ++ch) {
        const uint32_t s = Bright(c, ch, (sv >> (8 * ch)) & 0xFF);
        const uint32_t d = dst[ch];
        dst[ch] = static_cast<uint8_t>(Lerp<nwa + 1>(d, (s * d) >> 8, f));
      }
    } else {
      static_assert(M == kCopy, "no such blend mode");
    }
  }

  template <bool UseA>
  static inline void Blend16(const OpContext& c, uint8_t* dst, uint32_t sv, uint32_t a, uint32_t w) {
    constexpr int nwa = (B ? 1 : 0) + (UseA ? 1 : 0);
    const uint32_t wa = (B ? w : 1u) * (UseA ? a : 1u);
    if constexpr (M == kCopy || M == kAlpha) {
      constexpr int n = nwa + (M == kAlpha ? 1 : 0);
      if constexpr (n == 0) {
        if constexpr (W) {
          Store16(dst, sv);
        } else {
          uint32_t out = 0;
          for (int f = 0; f < 3; ++f) out |= Bright(c, f, (sv >> kFieldShift[f]) & kFieldMask[f]) << kFieldShift[f];
          Store16(dst, out);
        }
      } else {
        const uint32_t d = Load16(dst);
        uint32_t out = 0;
        for (int f = 0; f < 3; ++f) {
          const uint32_t s = Bright(c, f, (sv >> kFieldShift[f]) & kFieldMask[f]);
          const uint32_t df = (d >> kFieldShift[f]) & kFieldMask[f];
          uint32_t r;
          if constexpr (M == kAlpha && nwa == 0) {
            r = DiffBlend(c.diff_p, df, s);
          } else {
            r = Lerp<n>(df, s, wa * (M == kAlpha ? c.p : 1u));
          }
          out |= r << kFieldShift[f];
        }
        Store16(dst, out);
      }
    } else if constexpr (M == kAdd || M == kSub) {
      uint32_t scaled = 0;
      for (int f = 0; f < 3; ++f) {
        const uint32_t field = (sv >> kFieldShift[f]) & kFieldMask[f];
        uint32_t i;
        if constexpr (!B && !UseA) {
          i = Bright(c, f, field);
        } else if constexpr (!B) {
          i = Bright(c, f, (field * a) >> 8);  // alpha before the bright colour
        } else {
          i = (Bright(c, f, field) * wa) >> (8 * nwa);
        }
        scaled |= c.mul_p[i] << kFieldShift[f];
      }
      const uint32_t d = Load16(dst);
      Store16(dst, M == kAdd ? PackedAdd16(d, scaled) : PackedSubtract16(d, scaled));
    } else if constexpr (M == kMul) {
      const uint32_t d = Load16(dst);
      uint32_t out = 0;
      for (int f = 0; f < 3; ++f) {
        const uint32_t s = Bright(c, f, (sv >> kFieldShift[f]) & kFieldMask[f]);
        const uint32_t df = (d >> kFieldShift[f]) & kFieldMask[f];
        out |= ((df * s * wa) >> (kFieldBits[f] + 8 * nwa)) << kFieldShift[f];
      }
      Store16(dst, out);
    } else if constexpr (M == kInverse) {
      const uint32_t d = Load16(dst);
      const uint32_t inv = sv ^ 0xFFFFu;
      uint32_t out = 0;
      for (int f = 0; f < 3; ++f) {
        const uint32_t i = Bright(c, f, (inv >> kFieldShift[f]) & kFieldMask[f]);
        const uint32_t df = (d >> kFieldShift[f]) & kFieldMask[f];
        uint32_t r;
        if constexpr (nwa == 0) {
          r = DiffBlend(c.diff_p, df, i);
        } else {
          r = Lerp<nwa + 1>(df, i, wa * c.p);
        }
        out |= r << kFieldShift[f];
      }
      Store16(dst, out);
    } else if constexpr (M == kMulBlend) {
      const uint32_t d = Load16(dst);
      uint32_t out = 0;
      for (int f = 0; f < 3; ++f) {
        const uint32_t s = Bright(c, f, (sv >> kFieldShift[f]) & kFieldMask[f]);
        const uint32_t df = (d >> kFieldShift[f]) & kFieldMask[f];
        uint32_t r;
        if constexpr (nwa == 0) {
          r = DiffBlend(c.diff_p, df, (s * df) >> kFieldBits[f]);
        } else if (W && !B && UseA && f == 1) {
          // Green keeps five more fraction bits of its product here.
          const uint32_t f2 = a * c.p;
          r = (df * ((1u << 21) - 32u * f2) + ((s * df) >> 1) * f2) >> 21;
        } else {
          r = Lerp<nwa + 1>(df, (s * df) >> kFieldBits[f], wa * c.p);
        }
        out |= r << kFieldShift[f];
      }
      Store16(dst, out);
    } else {
      static_assert(M == kCopy, "no such blend mode");
    }
  }
};

// The operations of a triangle without a source: every visited pixel takes
// the prepared colour under the blend mode.
template <Family F, int M>
struct FillOp {
  static constexpr bool k16 = F == Family::kFill16;
  static constexpr int kDst = k16 ? 2 : 4;

  static inline void Apply(const OpContext& c, uint8_t* dst) {
    const uint32_t k = c.fill;
    if constexpr (M == kCopy) {
      if constexpr (k16) {
        Store16(dst, k);
      } else {
        Store32(dst, k);
      }
    } else if constexpr (M == kAdd || M == kSub) {
      if constexpr (k16) {
        const uint32_t d = Load16(dst);
        Store16(dst, M == kAdd ? PackedAdd16(d, c.fill_s) : PackedSubtract16(d, c.fill_s));
      } else {
        const uint32_t d = Load32(dst);
        Store32(dst, M == kAdd ? PackedAdd32(d, c.fill_s) : PackedSubtract32(d, c.fill_s));
      }
    } else if constexpr (k16) {
      const uint32_t d = Load16(dst);
      const uint32_t kk = M == kInverse ? (k ^ 0xFFFFu) : k;
      uint32_t out = 0;
      for (int f = 0; f < 3; ++f) {
        const uint32_t df = (d >> kFieldShift[f]) & kFieldMask[f];
        const uint32_t fk = (kk >> kFieldShift[f]) & kFieldMask[f];
        uint32_t r;
        if constexpr (M == kAlpha || M == kInverse) {
          r = DiffBlend(c.diff_p, df, fk);
        } else if constexpr (M == kMul) {
          r = (df * fk) >> kFieldBits[f];
        } else {
          static_assert(M == kMulBlend, "no such blend mode");
          r = DiffBlend(c.diff_p, df, (fk * df) >> kFieldBits[f]);
        }
        out |= r << kFieldShift[f];
      }
      Store16(dst, out);
    } else {
      for (int ch = 0; ch < 3; ++ch) {
        const uint32_t d = dst[ch];
        const uint32_t kc = (k >> (8 * ch)) & 0xFF;
        uint32_t r;
        if constexpr (M == kAlpha) {
          r = Lerp<1>(d, kc, c.p);
        } else if constexpr (M == kMul) {
          r = (d * kc) >> 8;
        } else if constexpr (M == kInverse) {
          r = Lerp<1>(d, 255 - kc, c.p);
        } else {
          static_assert(M == kMulBlend, "no such blend mode");
          r = Lerp<1>(d, (kc * d) >> 8, c.p);
        }
        dst[ch] = static_cast<uint8_t>(r);
      }
    }
  }
};

}  // namespace softxform
