// lib/softrender/blit_stretch_16.cpp - the stretched blit's kernels for RGB565
// sources: plain words, words followed by an alpha byte, and paletted
// sources with RGB565 palette entries. Every field keeps its own width, as
// in the plain blit's 16-bit operations, but one pixel at a time: no pair
// forms, no six-bit mix table and no halving (mode 1 takes the Diff blend).
#include "lib/softrender/blit_stretch_kernels.h"
#include "lib/softrender/fill_ops.h"

namespace {

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
      // Mode 10 tests the source before inverting it.
      if constexpr (Key) return LoadPixel16(s) == (c.key & 0xFFFFu) ? kStretchSkip : kStretchSolid;
      return kStretchSolid;
    }
  }

  void Apply(uint8_t* d, const uint8_t* s, const uint8_t* b, int cls) const {
    constexpr int kOp = kStretchOpMode<Mode>;
    const uint32_t S = Pal ? LoadPixel16(c.palette + 2 * *s) : LoadPixel16(s);
    const uint32_t a = Alpha ? s[2] : 255u;
    const uint32_t w = Blend ? c.rows.weight[*b] : 255u;
    const uint32_t D = LoadPixel16(d);
    if constexpr (Alpha) {
      if (cls == kStretchAlpha) {
        StorePixel16(d, blitops::Op16<kOp, White, Blend, true>(D, S, a, w, c.rows));
        return;
      }
    }
    StorePixel16(d, blitops::Op16<kOp, White, Blend, false>(D, S, a, w, c.rows));
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
