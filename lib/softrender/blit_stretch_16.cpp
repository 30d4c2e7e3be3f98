// lib/softrender/blit_stretch_16.cpp - the stretched blit's kernels for RGB565
// sources: plain words, words followed by an alpha byte, and paletted
// sources with RGB565 palette entries. Every field is worked on at its own
// width (5 or 6 bits), as in the plain blit's 16-bit arithmetic, but one
// pixel at a time: no pair forms, no six-bit mix table, no halving.
#include "lib/softrender/blit_stretch_kernels.h"
#include "lib/softrender/fill_ops.h"

namespace {

constexpr int kFieldShift[3] = {5, 6, 5};  // blue, green, red widths

template <int Mode, bool Pal, bool Blend, bool White, bool Alpha, bool Key>
struct Op16 {
  const StretchContext& c;

  int Classify(const uint8_t* s) const {
    if constexpr (Pal) {
      if constexpr (Key) return *s == c.key ? kStretchSkip : kStretchSolid;
      return kStretchSolid;
    } else if constexpr (Alpha) {
      if constexpr (Key) return s[2] == 0 ? kStretchSkip : s[2] == 255 ? kStretchSolid : kStretchAlpha;
      return kStretchAlpha;
    } else {
      if constexpr (Key) return LoadPixel16(s) == (c.key & 0xFFFFu) ? kStretchSkip : kStretchSolid;
      return kStretchSolid;
    }
  }

  void Apply(uint8_t* d, const uint8_t* s, const uint8_t* b, int cls) const {
    const uint32_t sw = Pal ? LoadPixel16(c.palette + 2 * *s) : LoadPixel16(s);
    constexpr bool kPlainWhite = White && !Blend;
    if constexpr (Mode == 0 && kPlainWhite && !Alpha) {
      StorePixel16(d, sw);  // the copy
      return;
    } else if constexpr (Mode == kStretchFullSub) {
      StorePixel16(d, FillPackedSub16(LoadPixel16(d), sw));
      return;
    } else {
      if constexpr (Mode == 0 && kPlainWhite && Alpha) {
        if (cls == kStretchSolid) {
          StorePixel16(d, sw);  // alpha 255 under the transparency flag: the colour word
          return;
        }
      }
      const uint32_t dw = LoadPixel16(d);
      const int32_t df[3] = {static_cast<int32_t>(dw & 31), static_cast<int32_t>((dw >> 5) & 63),
                             static_cast<int32_t>(dw >> 11)};
      int32_t sf[3] = {static_cast<int32_t>(sw & 31), static_cast<int32_t>((sw >> 5) & 63),
                       static_cast<int32_t>(sw >> 11)};
      if constexpr (Mode == 10) {
        sf[0] = 31 - sf[0], sf[1] = 63 - sf[1], sf[2] = 31 - sf[2];
      }
      const int32_t raw_green = sf[1];
      if constexpr (!White) {
        sf[0] = static_cast<int32_t>(c.mul_b[sf[0]]);
        sf[1] = static_cast<int32_t>(c.mul_g[sf[1]]);
        sf[2] = static_cast<int32_t>(c.mul_r[sf[2]]);
      }
      const int64_t a = Alpha ? s[2] : 255;
      const int64_t w = Blend ? c.weight[*b] : 255;
      const int64_t p = c.p;
      int32_t out[3];
      if constexpr (Mode == 2 || Mode == 3) {
        for (int i = 0; i < 3; ++i) {
          int64_t v;
          if (cls == kStretchSolid) {
            v = Blend ? (sf[i] * w) >> 8 : sf[i];
          } else {
            v = Blend ? (sf[i] * a * w) >> 16 : (sf[i] * a) >> 8;
          }
          out[i] = static_cast<int32_t>(c.mul_p[v]);
        }
        const uint32_t t = static_cast<uint32_t>(out[2] << 11 | out[1] << 5 | out[0]);
        StorePixel16(d, Mode == 2 ? FillPackedAdd16(dw, t) : FillPackedSub16(dw, t));
        return;
      } else if constexpr (Mode == 4) {
        for (int i = 0; i < 3; ++i) {
          const int64_t prod = int64_t{sf[i]} * df[i];
          const int n = kFieldShift[i];
          if (cls == kStretchSolid) {
            out[i] = static_cast<int32_t>(Blend ? (prod * w) >> (n + 8) : prod >> n);
          } else {
            out[i] = static_cast<int32_t>(Blend ? (prod * a * w) >> (n + 16) : (prod * a) >> (n + 8));
          }
        }
      } else {
        // Modes 0, 1, 10 and 11: toward the source fields, or the product
        // with the destination in mode 11.
        int32_t x[3] = {sf[0], sf[1], sf[2]};
        if constexpr (Mode == 11) {
          for (int i = 0; i < 3; ++i) x[i] = (sf[i] * df[i]) >> kFieldShift[i];
        }
        for (int i = 0; i < 3; ++i) {
          if constexpr (Mode == 0) {
            if (cls == kStretchSolid) {
              out[i] = Blend ? StretchLerp<8>(df[i], x[i], w) : x[i];
            } else {
              out[i] = Blend ? StretchLerp<16>(df[i], x[i], a * w) : StretchLerp<8>(df[i], x[i], a);
            }
          } else if (cls == kStretchSolid) {
            out[i] = Blend ? StretchLerp<16>(df[i], x[i], w * p) : df[i] + c.diff_p[x[i] - df[i]];
          } else {
            out[i] = Blend ? StretchLerp<24>(df[i], x[i], a * w * p) : StretchLerp<16>(df[i], x[i], a * p);
          }
        }
        if constexpr (Mode == 11 && kPlainWhite) {
          // The alpha form keeps five more fractional bits of green's product.
          if (cls == kStretchAlpha) {
            const int64_t dg = df[1];
            const int64_t n = (dg << 21) + ((raw_green * dg) / 2 - 32 * dg) * a * p;
            out[1] = static_cast<int32_t>(n >> 21);
          }
        }
      }
      StorePixel16(d, static_cast<uint32_t>(out[2] << 11 | out[1] << 5 | out[0]));
    }
  }
};

template <int Mode, bool Pal, bool Blend, bool White, bool Alpha, bool Key>
struct Run16 {
  static void Go(const StretchWalk& w, const StretchContext& c) {
    if constexpr (kStretchExists<Mode, Pal, Blend, White, Alpha>) {
      const Op16<Mode, Pal, Blend, White, Alpha, Key> op{c};
      RunStretchWalk<decltype(op), 2, kStretchZeroStop<Mode, Blend, White, Alpha>, Blend>(w, op);
    }
  }
};

}  // namespace

void DrawStretch16(const StretchWalk& walk, const StretchSource& src) {
  if (src.base->paletted == 1) {
    DispatchStretch<Run16, true>(walk, src);
  } else {
    DispatchStretch<Run16, false>(walk, src);
  }
}
