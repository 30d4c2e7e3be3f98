// lib/softrender/blit_stretch_32.cpp - the stretched blit's kernels for
// 32-bit sources (bytes blue, green, red, alpha) and paletted sources with
// 4-byte palette entries. The per-pixel arithmetic is that of the plain
// blit, one pixel at a time: no halving at parameter 128 in mode 1 and no
// dropped lowest bits at full strength in mode 2.
#include "lib/softrender/blit_stretch_kernels.h"
#include "lib/softrender/fill_ops.h"

namespace {

template <int Mode, bool Pal, bool Blend, bool White, bool Alpha, bool Key>
struct Op32 {
  const StretchContext& c;

  int Classify(const uint8_t* s) const {
    if constexpr (Pal) {
      if constexpr (Key) return *s == c.key ? kStretchSkip : kStretchSolid;
      return kStretchSolid;
    } else if constexpr (Alpha) {
      if constexpr (Key) return s[3] == 0 ? kStretchSkip : s[3] == 255 ? kStretchSolid : kStretchAlpha;
      return kStretchAlpha;
    } else {
      if constexpr (Key) return LoadPixel32(s) == c.key ? kStretchSkip : kStretchSolid;
      return kStretchSolid;
    }
  }

  // The source channel scaled by the bright byte of its channel.
  int32_t Bright(const uint32_t* row, int32_t v) const {
    if constexpr (White) {
      return v;
    } else {
      return static_cast<int32_t>(row[v] & 0xFF);
    }
  }

  void Apply(uint8_t* d, const uint8_t* s, const uint8_t* b, int cls) const {
    const uint32_t sw = Pal ? LoadPixel32(c.palette + 4 * *s) : LoadPixel32(s);
    constexpr bool kPlainWhite = White && !Blend;
    if constexpr (Mode == 0 && kPlainWhite && !Alpha) {
      StorePixel32(d, sw);  // the copy: the whole word, palette entry's fourth byte included
      return;
    } else if constexpr (Mode == kStretchFullSub) {
      StorePixel32(d, FillPackedSub32(LoadPixel32(d), sw));
      return;
    } else {
      if constexpr (Mode == 0 && kPlainWhite && Alpha) {
        if (cls == kStretchSolid) {
          StorePixel32(d, sw);  // alpha 255 under the transparency flag
          return;
        }
      }
      const int64_t a = Alpha ? s[3] : 255;
      const int64_t w = Blend ? c.weight[*b] : 255;
      const int64_t p = c.p;
      const int32_t s0 = sw & 0xFF, s1 = (sw >> 8) & 0xFF, s2 = (sw >> 16) & 0xFF;
      if constexpr (Mode == 2 || Mode == 3) {
        uint32_t t[3];
        const int32_t sv[3] = {Bright(c.mul_b, s0), Bright(c.mul_g, s1), Bright(c.mul_r, s2)};
        for (int i = 0; i < 3; ++i) {
          if (cls == kStretchSolid) {
            t[i] = Blend ? static_cast<uint32_t>((sv[i] * w * p) >> 16) : (c.mul_p[sv[i]] & 0xFF);
          } else {
            t[i] = Blend ? static_cast<uint32_t>((sv[i] * w * a * p) >> 24)
                         : static_cast<uint32_t>((sv[i] * a * p) >> 16);
          }
        }
        const uint32_t tw = t[2] << 16 | t[1] << 8 | t[0];
        const uint32_t dw = LoadPixel32(d);
        StorePixel32(d, Mode == 2 ? FillPackedAdd32(dw, tw) : FillPackedSub32(dw, tw));
      } else if constexpr (Mode == 4) {
        const int32_t sv[3] = {Bright(c.mul_b, s0), Bright(c.mul_g, s1), Bright(c.mul_r, s2)};
        for (int i = 0; i < 3; ++i) {
          const int64_t prod = int64_t{sv[i]} * d[i];
          int64_t v;
          if (cls == kStretchSolid) {
            v = Blend ? (prod * w) >> 16 : prod >> 8;
          } else {
            v = Blend ? (prod * w * a) >> 24 : (prod * a) >> 16;
          }
          d[i] = static_cast<uint8_t>(v);
        }
      } else {
        // Modes 0, 1, 10 and 11: a lerp toward a target by the factors present.
        int32_t x[3];
        if constexpr (Mode == 10) {
          if constexpr (White) {
            x[0] = 255 - s0, x[1] = 255 - s1, x[2] = 255 - s2;
          } else {
            x[0] = c.mul_b[255 - s0] & 0xFF, x[1] = c.mul_g[255 - s1] & 0xFF, x[2] = c.mul_r[255 - s2] & 0xFF;
          }
        } else {
          x[0] = Bright(c.mul_b, s0), x[1] = Bright(c.mul_g, s1), x[2] = Bright(c.mul_r, s2);
          if constexpr (Mode == 11) {
            for (int i = 0; i < 3; ++i) x[i] = (x[i] * d[i]) >> 8;
          }
        }
        constexpr bool kWithP = Mode != 0;
        for (int i = 0; i < 3; ++i) {
          int32_t v;
          if (cls == kStretchSolid) {
            if constexpr (Blend) {
              v = kWithP ? StretchLerp<16>(d[i], x[i], w * p) : StretchLerp<8>(d[i], x[i], w);
            } else {
              v = kWithP ? StretchLerp<8>(d[i], x[i], p) : x[i];
            }
          } else {
            if constexpr (Blend) {
              v = kWithP ? StretchLerp<24>(d[i], x[i], w * a * p) : StretchLerp<16>(d[i], x[i], w * a);
            } else {
              v = kWithP ? StretchLerp<16>(d[i], x[i], a * p) : StretchLerp<8>(d[i], x[i], a);
            }
          }
          d[i] = static_cast<uint8_t>(v);
        }
      }
    }
  }
};

template <int Mode, bool Pal, bool Blend, bool White, bool Alpha, bool Key>
struct Run32 {
  static void Go(const StretchWalk& w, const StretchContext& c) {
    if constexpr (kStretchExists<Mode, Pal, Blend, White, Alpha>) {
      const Op32<Mode, Pal, Blend, White, Alpha, Key> op{c};
      RunStretchWalk<decltype(op), 4, kStretchZeroStop<Mode, Blend, White, Alpha>, Blend>(w, op);
    }
  }
};

}  // namespace

void DrawStretch32(const StretchWalk& walk, const StretchSource& src) {
  if (src.base->paletted == 1) {
    DispatchStretch<Run32, true>(walk, src);
  } else {
    DispatchStretch<Run32, false>(walk, src);
  }
}
