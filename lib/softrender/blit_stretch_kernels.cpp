// lib/softrender/blit_stretch_kernels.cpp - the stretched blit's kernels, one
// template over the pixel format: 32-bit sources (bytes blue, green, red,
// alpha) with 4-byte palette entries, and RGB565 sources (plain words, words
// followed by an alpha byte) with RGB565 palette entries. Each destination
// pixel takes the plain blit's pixel operation of its format for the source
// pixel it shows, one pixel at a time. In 32 bits: no halving at parameter
// 128 in mode 1, no dropped lowest bits at full strength in mode 2, and a
// source alpha blended by its alpha in mode 0 without the transparency flag.
// In 16 bits every field keeps its own width: no pair forms, no six-bit mix
// table and no halving (mode 1 takes the Diff blend).
#include "lib/softrender/blit_stretch_kernels.h"
#include "lib/softrender/fill_ops.h"

namespace {

// A pixel format of the kernels: the bytes of a pixel and of a palette entry,
// the byte of a source pixel's alpha, the bits of a pixel the colour key is
// compared with, and the format's load, store and pixel operation.
struct Pixels32 {
  static constexpr int kBytes = 4;
  static constexpr int kAlphaByte = 3;
  static constexpr uint32_t kKeyMask = 0xFFFFFFFFu;
  static uint32_t Load(const uint8_t* p) { return LoadPixel32(p); }
  static void Store(uint8_t* p, uint32_t v) { StorePixel32(p, v); }
  template <int Mode, bool White, bool Blend, bool WithA>
  static uint32_t Op(uint32_t D, uint32_t S, uint32_t a, uint32_t w, const blitops::OpRows& r) {
    return blitops::Op32<Mode, White, Blend, WithA>(D, S, a, w, r);
  }
};

struct Pixels16 {
  static constexpr int kBytes = 2;
  static constexpr int kAlphaByte = 2;
  static constexpr uint32_t kKeyMask = 0xFFFFu;
  static uint32_t Load(const uint8_t* p) { return LoadPixel16(p); }
  static void Store(uint8_t* p, uint32_t v) { StorePixel16(p, v); }
  template <int Mode, bool White, bool Blend, bool WithA>
  static uint32_t Op(uint32_t D, uint32_t S, uint32_t a, uint32_t w, const blitops::OpRows& r) {
    return blitops::Op16<Mode, White, Blend, WithA>(D, S, a, w, r);
  }
};

template <class Px>
struct Kernels {
  template <int Mode, bool Pal, bool Blend, bool White, bool Alpha, bool Key>
  struct Op {
    const StretchContext& c;

    int Classify(const uint8_t* s) const {
      if constexpr (Pal) {
        if constexpr (Key) return *s == c.key ? kStretchSkip : kStretchSolid;
        return kStretchSolid;
      } else if constexpr (Alpha) {
        if constexpr (Key) {
          const uint8_t a = s[Px::kAlphaByte];
          return a == 0 ? kStretchSkip : a == 255 ? kStretchSolid : kStretchAlpha;
        }
        return kStretchAlpha;
      } else {
        // Mode 10 tests the source before inverting it.
        if constexpr (Key) return Px::Load(s) == (c.key & Px::kKeyMask) ? kStretchSkip : kStretchSolid;
        return kStretchSolid;
      }
    }

    void Apply(uint8_t* d, const uint8_t* s, const uint8_t* b, int cls) const {
      constexpr int kOp = kStretchOpMode<Mode>;
      const uint32_t S = Pal ? Px::Load(c.palette + Px::kBytes * *s) : Px::Load(s);
      const uint32_t a = Alpha ? s[Px::kAlphaByte] : 255u;
      const uint32_t w = Blend ? c.rows.weight[*b] : 255u;
      const uint32_t D = Px::Load(d);
      if constexpr (Alpha) {
        if (cls == kStretchAlpha) {
          Px::Store(d, Px::template Op<kOp, White, Blend, true>(D, S, a, w, c.rows));
          return;
        }
      }
      Px::Store(d, Px::template Op<kOp, White, Blend, false>(D, S, a, w, c.rows));
    }
  };

  template <int Mode, bool Pal, bool Blend, bool White, bool Alpha, bool Key>
  struct Run {
    static void Go(const StretchWalk& w, const StretchContext& c) {
      if constexpr (kStretchExists<Mode, Pal, Blend, White, Alpha>) {
        const Op<Mode, Pal, Blend, White, Alpha, Key> op{c};
        RunStretchWalk<decltype(op), Px::kBytes, kStretchZeroStop<Mode, Blend, White, Alpha>, Blend>(
            w, op);
      }
    }
  };

  static void Draw(const StretchWalk& walk, const StretchSource& src) {
    if (src.base->paletted == 1) {
      DispatchStretch<Run, true>(walk, src);
    } else {
      DispatchStretch<Run, false>(walk, src);
    }
  }
};

}  // namespace

void DrawStretch32(const StretchWalk& walk, const StretchSource& src) {
  Kernels<Pixels32>::Draw(walk, src);
}

void DrawStretch16(const StretchWalk& walk, const StretchSource& src) {
  Kernels<Pixels16>::Draw(walk, src);
}
