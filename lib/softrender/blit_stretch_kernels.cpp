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

#include <vector>

#include "lib/softrender/alpha_rows.h"
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

// The vector form of a source of four bytes a pixel under the white bright
// colour without a blend image: the source column of every destination column is walked
// once per draw; each destination row gathers its texels (once per source
// row) and draws them through a vector row.
template <bool ZeroStop>
void VectorStretch(const StretchWalk& w, alpharows::RowFn row, uint32_t p, uint32_t key) {
  thread_local std::vector<ptrdiff_t> columns;
  thread_local std::vector<uint32_t> texels;
  const size_t width = static_cast<size_t>(w.width);
  if (columns.size() < width) {
    columns.resize(width);
    texels.resize(width);
  }
  // The walk of RunStretchWalk along one row.
  int64_t x_acc = w.x_acc_start;
  ptrdiff_t offset = 0;
  for (size_t x = 0;;) {
    columns[x] = offset;
    if (++x == width) break;
    x_acc -= 0x10000;
    if (x_acc <= 0) {
      do {
        x_acc += w.x_scale;
        offset += w.src_step;
      } while (ZeroStop ? x_acc < 0 : x_acc <= 0);
    }
  }
  const uint8_t* src_row = w.src_row;
  const uint8_t* gathered = nullptr;
  uint8_t* dst_row = w.dst_row;
  int64_t y_acc = w.y_acc;
  for (int y = 0;;) {
    if (src_row != gathered) {
      for (size_t x = 0; x < width; ++x) texels[x] = LoadPixel32(src_row + columns[x]);
      gathered = src_row;
    }
    row(dst_row, reinterpret_cast<const uint8_t*>(texels.data()), w.width, p, key);
    if (++y == w.height) break;
    dst_row += w.dst_pitch;
    y_acc -= 0x10000;
    if (y_acc <= 0) {
      do {
        y_acc += w.y_scale;
        src_row += w.src_row_step;
      } while (ZeroStop ? y_acc < 0 : y_acc <= 0);
    }
  }
}

}  // namespace

void DrawStretch32(const StretchWalk& walk, const StretchSource& src) {
  if (src.base->alpha == 1 && src.base->paletted != 1 && src.white && !src.blend && src.separate) {
    const int mode = StretchKernelMode(src, false, true);
    if (mode >= 0 && mode <= 2) {
      const alpharows::RowFn row =
          alpharows::AlphaRow(mode, src.key ? alpharows::Classes::kFromAlpha : alpharows::Classes::kAllAlpha);
      if (row != nullptr) {
        VectorStretch<false>(walk, row, static_cast<uint32_t>(src.p), 0);
        return;
      }
    }
  }
  if (src.base->alpha != 1 && src.base->paletted != 1 && src.white && !src.blend && src.separate) {
    // Without alpha every pixel not of the transparent colour takes the form
    // without the alpha factor (no halving, no add without lowest bits here);
    // the copy takes the zero-stop walk.
    const int mode = StretchKernelMode(src, false, false);
    if (mode >= 0 && mode <= 2) {
      const alpharows::RowFn row =
          alpharows::AlphaRow(mode, src.key ? alpharows::Classes::kFromKey : alpharows::Classes::kAllSolid);
      if (row != nullptr) {
        const uint32_t p = static_cast<uint32_t>(src.p);
        if (mode == 0) VectorStretch<true>(walk, row, p, src.base->colour_key);
        else VectorStretch<false>(walk, row, p, src.base->colour_key);
        return;
      }
    }
  }
  Kernels<Pixels32>::Draw(walk, src);
}

void DrawStretch16(const StretchWalk& walk, const StretchSource& src) {
  if (src.base->alpha == 1 && src.base->paletted != 1 && src.white && !src.blend && src.separate) {
    const int mode = StretchKernelMode(src, false, true);
    const alpharows::RowFn row =
        alpharows::Alpha16Row(mode, src.key ? alpharows::Classes::kFromAlpha : alpharows::Classes::kAllAlpha);
    if (row != nullptr) {
      VectorStretch<false>(walk, row, static_cast<uint32_t>(src.p), 0);
      return;
    }
  }
  Kernels<Pixels16>::Draw(walk, src);
}
