// The memory-image kernels at every vector level draw what the scalar
// kernels draw, byte for byte: thousands of random plain, stretched, rotated
// and triangle blits in every blend mode, both pixel formats, with random
// clips, sizes, parameters, bright colours, blend images, flags and run
// tables (some left stale, some damaged), each drawn once per level onto the
// same destination.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "lib/softrender/blend_tables.h"
#include "lib/softrender/memimg.h"
#include "lib/softrender/soft_draw_state.h"
#include "lib/softrender/soft_kernels.h"
#include "lib/softrender/soft_simd_level.h"

namespace {

struct Img {
  MEMIMG m{};
  Img(int w, int h, int format, bool paletted, bool alpha, bool runs) {
    EXPECT_EQ(InitMemImg(&m, w, h, -1, 0, format, paletted, alpha, runs ? 1 : 0, nullptr), 0);
  }
  ~Img() { ReleaseMemImg(&m); }
  Img(const Img&) = delete;
  Img& operator=(const Img&) = delete;
  MemImgBase& B() const { return *m.base; }
  size_t Size() const { return size_t(B().pitch) * size_t(m.height); }
};

// Pixels where transparent, opaque and translucent pixels come in runs.
void Fill(Img& img, std::mt19937& rng) {
  MemImgBase& b = img.B();
  const bool wide = b.pixel_format == kMemImg32;
  const int bpp = MemImgBytesPerPixel(b.pixel_format, b.paletted, b.alpha);
  if (b.paletted) {
    for (int k = 0; k < 256; ++k) {
      const uint32_t v = rng();
      std::memcpy(b.palette + (wide ? 4 : 2) * k, &v, wide ? 4 : 2);
    }
  }
  b.colour_key = wide && !b.paletted ? rng() : rng() & 0xFF;
  if (!wide && !b.paletted) b.colour_key &= 0xFFFF;
  uint32_t a = 0, run = 0;
  for (int j = 0; j < img.m.height; ++j) {
    for (int i = 0; i < img.m.width; ++i) {
      if (run-- == 0) {
        run = rng() % 12;
        const uint32_t r = rng() % 4;
        a = r == 0 ? 0 : r == 1 ? 255 : rng() & 0xFF;
      }
      uint8_t* px = img.m.pixels + j * b.pitch + i * bpp;
      uint32_t v = rng();
      if (b.alpha) v = wide ? (v & 0xFFFFFF) | a << 24 : (v & 0xFF00FFFF) | a << 16;
      else if (a == 0) v = b.colour_key;  // the key, in runs
      std::memcpy(px, &v, bpp);
    }
  }
}

TEST(KernelLevels, EveryLevelDrawsWhatTheScalarKernelsDraw) {
  BuildSoftBlendTables();
  const SoftDrawState saved = SoftDraw();
  std::mt19937 rng(2024);
  const int top = MaxSoftKernelLevel();
  const uint32_t modes[] = {0, 1, 1, 1, 2, 2, 2, 3, 4, 10, 11};
  for (int iter = 0; iter < 6000; ++iter) {
    SCOPED_TRACE(iter);
    const int format = rng() % 3 ? kMemImg32 : kMemImgRgb565;
    const int kind = rng() % 5;  // 0, 1 plain; 2, 3 alpha; 4 paletted
    const bool alpha = kind == 2 || kind == 3, paletted = kind == 4;
    const int sw = 1 + rng() % 70, sh = 1 + rng() % 70;
    Img src(sw, sh, format, paletted, alpha, rng() % 4 != 0);
    Fill(src, rng);
    if (src.B().run_table != nullptr) {
      BuildMemImgRunTable(src.m.base);
      if (rng() % 3 == 0) Fill(src, rng);  // the table no longer matches the pixels
      if (rng() % 4 == 0) {                 // nor its own rows
        const size_t size = size_t(sw + 5) * size_t(sh);
        for (size_t k = 0; k < size / 8 + 1; ++k) src.B().run_table[rng() % size] = uint8_t(rng());
      }
    }
    // Half the draws lie inside the destination (the run-length path needs it).
    const bool inside = rng() % 2;
    Img dst(inside ? sw + rng() % 30 : 1 + rng() % 90, inside ? sh + rng() % 30 : 1 + rng() % 90, format, false,
            false, false);
    Fill(dst, rng);
    Img blend(sw + 2, sh, kMemImg32, false, false, false);
    Fill(blend, rng);
    BuildBlendImageWeightTable(rng() % 256, rng() % 256);

    SoftDrawState& st = SoftDraw();
    st.blend_mode = modes[rng() % std::size(modes)];
    const uint32_t pr = rng() % 4;
    st.blend_param = pr == 0 ? 255 : pr == 1 ? 128 : int32_t(rng() % 256);
    st.bright = rng() % 4 ? 0xFFFFFFu : rng();
    const MEMIMG* bl = rng() % 8 == 0 ? &blend.m : nullptr;
    const int trans = rng() % 2 ? 1 : rng() % 3;
    const int x = inside ? int(rng() % (dst.m.width - sw + 1)) : int(rng() % 100) - 30;
    const int y = inside ? int(rng() % (dst.m.height - sh + 1)) : int(rng() % 100) - 30;
    st.clip = inside || rng() % 3 ? IntRect{0, 0, dst.m.width, dst.m.height}
                        : IntRect{int32_t(rng() % 20), int32_t(rng() % 20), int32_t(rng() % 80), int32_t(rng() % 80)};
    // A third of the stretches by whole factors, where the walks' accumulators reach 0.
    const bool whole = rng() % 3 == 0;
    const int rw = whole ? sw * int(1 + rng() % 3) : int(rng() % 100) - 20;
    const int rh = whole ? sh * int(1 + rng() % 3) : int(rng() % 100) - 20;
    const IntRect rect{x, y, x + rw, y + rh};
    const float angle = float(rng() % 7000) / 1000.0f, scale = float(1 + rng() % 300) / 100.0f;
    const TriangleVertex tri[3] = {{x, y, 0, 0},
                                   {int(rng() % 90) - 10, int(rng() % 90) - 10, sw, int(rng() % (sh + 1))},
                                   {int(rng() % 90) - 10, int(rng() % 90) - 10, int(rng() % (sw + 1)), sh}};
    const int op = rng() % 5;
    const int turn = rng() % 4 == 0;

    const std::vector<uint8_t> before(dst.m.pixels, dst.m.pixels + dst.Size());
    std::vector<uint8_t> scalar;
    for (int level = 0; level <= top; ++level) {
      std::memcpy(dst.m.pixels, before.data(), before.size());
      SetSoftKernelLevel(level);
      switch (op) {
        case 0:
        case 1: DrawMemImgBasic(&dst.m, &src.m, x, y, trans, bl); break;
        case 2: DrawMemImgStretch(&dst.m, &src.m, &rect, trans, bl); break;
        case 3: DrawMemImgRotation(&dst.m, &src.m, x, y, angle, scale, trans, turn, bl); break;
        default: DrawMemImgTexturedTriangle(&dst.m, &src.m, tri, trans, bl, 0); break;
      }
      std::vector<uint8_t> out(dst.m.pixels, dst.m.pixels + dst.Size());
      if (level == 0) scalar = std::move(out);
      else ASSERT_EQ(out, scalar) << "level " << level << " op " << op << " mode " << st.blend_mode << " p "
                                  << st.blend_param << " format " << format << " kind " << kind;
    }
  }
  SetSoftKernelLevel(-1);
  SoftDraw() = saved;
}

}  // namespace
