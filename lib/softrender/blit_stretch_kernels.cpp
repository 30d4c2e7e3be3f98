// lib/softrender/blit_stretch_32.cpp - the stretched blit's kernels for
// 32-bit sources (bytes blue, green, red, alpha) and paletted sources with
// 4-byte palette entries. Each destination pixel takes the plain blit's
// pixel operation for the source pixel it shows, one pixel at a time: no
// halving at parameter 128 in mode 1, no dropped lowest bits at full strength
// in mode 2, and a source alpha blended by its alpha in mode 0 without the
// transparency flag.
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

  void Apply(uint8_t* d, const uint8_t* s, const uint8_t* b, int cls) const {
    constexpr int kOp = kStretchOpMode<Mode>;
    const uint32_t S = Pal ? LoadPixel32(c.palette + 4 * *s) : LoadPixel32(s);
    const uint32_t a = Alpha ? s[3] : 255u;
    const uint32_t w = Blend ? c.rows.weight[*b] : 255u;
    const uint32_t D = LoadPixel32(d);
    if constexpr (Alpha) {
      if (cls == kStretchAlpha) {
        StorePixel32(d, blitops::Op32<kOp, White, Blend, true>(D, S, a, w, c.rows));
        return;
      }
    }
    StorePixel32(d, blitops::Op32<kOp, White, Blend, false>(D, S, a, w, c.rows));
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
