// The software renderer's kernels against pixman (Debian libpixman-1-dev) on
// the same images in the same run, each against the pixman operation that
// does the same work: 2000 sprites of 32 x 32 with an alpha channel onto a
// 640 x 480 32-bit target, unscaled (our plain blit of an alpha source with
// the transparency flag, which blends, against pixman's OVER; without the
// flag it copies the source's words, against pixman's SRC), scaled to 48 x 48
// (our stretched blit, which samples the nearest source pixel, against
// pixman's scaled OVER with the nearest filter) and turned by a random angle
// (our rotated blit, also nearest, against pixman's transformed OVER with the
// nearest filter). The counters give both times per frame and the ratio
// (above 1: ours is faster). Pixman's bilinear scaling is timed on its own:
// we have no bilinear stretch, so that row has no ratio.
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "lib/softrender/blend_tables.h"
#include "lib/softrender/memimg.h"
#include "lib/softrender/soft_draw_state.h"
#include "lib/softrender/soft_kernels.h"

namespace {

constexpr int kW = 640, kH = 480, kSprites = 2000, kSize = 32;

struct Scene {
  MEMIMG target{}, sprite{};
  std::vector<uint32_t> premultiplied;  // the sprite as pixman takes it
  std::vector<uint32_t> pix_target;
  pixman_image_t* pix_src = nullptr;
  pixman_image_t* pix_dst = nullptr;
  int xs[kSprites], ys[kSprites];

  Scene() {
    BuildSoftBlendTables();
    InitMemImg(&target, kW, kH, -1, 0, 1, 0, 0, 0, nullptr);
    InitMemImg(&sprite, kSize, kSize, -1, 0, 1, 0, 1, 1, nullptr);
    premultiplied.resize(kSize * kSize);
    std::mt19937 rng(1);
    for (int j = 0; j < kSize; ++j) {
      for (int i = 0; i < kSize; ++i) {
        // A disc: transparent corners, an opaque middle, a soft rim.
        const int dx = i - 16, dy = j - 16, r2 = dx * dx + dy * dy;
        const uint32_t a = r2 > 256 ? 0 : (r2 > 196 ? 128 : 255);
        const uint32_t c = rng() & 0x00FFFFFFu;
        const uint32_t v = c | a << 24;
        std::memcpy(sprite.pixels + j * sprite.base->pitch + i * 4, &v, 4);
        uint32_t p = a << 24;
        for (int s = 0; s < 24; s += 8) p |= (((c >> s) & 255) * a / 255) << s;
        premultiplied[size_t(j) * kSize + i] = p;
      }
    }
    BuildMemImgRunTable(sprite.base);
    pix_target.assign(size_t(kW) * kH, 0xFF204060u);
    pix_src = pixman_image_create_bits(PIXMAN_a8r8g8b8, kSize, kSize, premultiplied.data(), kSize * 4);
    pix_dst = pixman_image_create_bits(PIXMAN_x8r8g8b8, kW, kH, pix_target.data(), kW * 4);
    for (int k = 0; k < kSprites; ++k) {
      xs[k] = int(rng() % kW) - 16;
      ys[k] = int(rng() % kH) - 16;
    }
    SoftDraw().blend_mode = 0;
    SoftDraw().blend_param = 255;
    SoftDraw().bright = 0xFFFFFF;
    SoftDraw().clip = IntRect{0, 0, kW, kH};
  }
  ~Scene() {
    pixman_image_unref(pix_src);
    pixman_image_unref(pix_dst);
    ReleaseMemImg(&sprite);
    ReleaseMemImg(&target);
  }
};

template <class F>
double MsPerFrame(int frames, F draw) {
  const auto t0 = std::chrono::steady_clock::now();
  for (int f = 0; f < frames; ++f) draw();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count() / frames;
}

void Report(benchmark::State& state, double ours, double theirs) {
  state.counters["ours_ms"] = ours;
  state.counters["pixman_ms"] = theirs;
  state.counters["ratio"] = theirs / ours;
}

// Unscaled: transparency flag 1 (blended, against OVER) or 0 (the source's
// words copied, against SRC).
void BM_AlphaBlitAgainstPixman(benchmark::State& state) {
  Scene s;
  const int trans = int(state.range(0));
  const pixman_op_t op = trans ? PIXMAN_OP_OVER : PIXMAN_OP_SRC;
  state.SetLabel(trans ? "blend vs OVER" : "copy vs SRC");
  int frames = 0;
  double ours = 0, theirs = 0;
  for (auto _ : state) {
    ours += MsPerFrame(1, [&] {
      for (int k = 0; k < kSprites; ++k) DrawMemImgBasic(&s.target, &s.sprite, s.xs[k], s.ys[k], trans, nullptr);
    });
    theirs += MsPerFrame(1, [&] {
      for (int k = 0; k < kSprites; ++k)
        pixman_image_composite32(op, s.pix_src, nullptr, s.pix_dst, 0, 0, 0, 0, s.xs[k], s.ys[k], kSize, kSize);
    });
    ++frames;
  }
  Report(state, ours / frames, theirs / frames);
}
BENCHMARK(BM_AlphaBlitAgainstPixman)->ArgName("trans")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

// Scaled to 48 x 48 with nearest sampling on both sides.
void BM_StretchBlitAgainstPixmanScaledOver(benchmark::State& state) {
  Scene s;
  constexpr int kOut = 48;
  pixman_transform_t t;
  pixman_transform_init_scale(&t, pixman_double_to_fixed(double(kSize) / kOut),
                              pixman_double_to_fixed(double(kSize) / kOut));
  pixman_image_set_transform(s.pix_src, &t);
  pixman_image_set_filter(s.pix_src, PIXMAN_FILTER_NEAREST, nullptr, 0);
  int frames = 0;
  double ours = 0, theirs = 0;
  for (auto _ : state) {
    ours += MsPerFrame(1, [&] {
      for (int k = 0; k < kSprites; ++k) {
        const IntRect r{s.xs[k], s.ys[k], s.xs[k] + kOut, s.ys[k] + kOut};
        DrawMemImgStretch(&s.target, &s.sprite, &r, 1, nullptr);
      }
    });
    theirs += MsPerFrame(1, [&] {
      for (int k = 0; k < kSprites; ++k)
        pixman_image_composite32(PIXMAN_OP_OVER, s.pix_src, nullptr, s.pix_dst, 0, 0, 0, 0, s.xs[k], s.ys[k], kOut,
                                 kOut);
    });
    ++frames;
  }
  Report(state, ours / frames, theirs / frames);
}
BENCHMARK(BM_StretchBlitAgainstPixmanScaledOver)->Unit(benchmark::kMillisecond);

// Pixman's bilinear scaling to 48 x 48 alone: we have no equal, so no ratio.
void BM_PixmanBilinearScaledOverAlone(benchmark::State& state) {
  Scene s;
  constexpr int kOut = 48;
  pixman_transform_t t;
  pixman_transform_init_scale(&t, pixman_double_to_fixed(double(kSize) / kOut),
                              pixman_double_to_fixed(double(kSize) / kOut));
  pixman_image_set_transform(s.pix_src, &t);
  pixman_image_set_filter(s.pix_src, PIXMAN_FILTER_BILINEAR, nullptr, 0);
  int frames = 0;
  double theirs = 0;
  for (auto _ : state) {
    theirs += MsPerFrame(1, [&] {
      for (int k = 0; k < kSprites; ++k)
        pixman_image_composite32(PIXMAN_OP_OVER, s.pix_src, nullptr, s.pix_dst, 0, 0, 0, 0, s.xs[k], s.ys[k], kOut,
                                 kOut);
    });
    ++frames;
  }
  state.counters["pixman_ms"] = theirs / frames;
  state.SetLabel("no bilinear stretch of ours: no ratio");
}
BENCHMARK(BM_PixmanBilinearScaledOverAlone)->Unit(benchmark::kMillisecond);

// Turned by a random angle about the sprite's centre, unscaled, with the
// transparency flag; pixman samples the nearest pixel through the inverse
// turn over the turned sprite's bounding box.
void BM_RotatedBlitAgainstPixmanTransformedOver(benchmark::State& state) {
  Scene s;
  constexpr int kBox = 46;  // the turned 32 x 32 sprite's bounding box, at most
  pixman_image_set_filter(s.pix_src, PIXMAN_FILTER_NEAREST, nullptr, 0);
  std::mt19937 rng(7);
  std::vector<float> angles(kSprites);
  std::vector<pixman_transform_t> turns(kSprites);
  for (int k = 0; k < kSprites; ++k) {
    angles[k] = float(rng() % 6283) / 1000.0f;
    // Destination point of the box (centre kBox / 2) to source point (centre 16).
    const double c = std::cos(angles[k]), sn = std::sin(angles[k]), h = kBox / 2.0;
    const double m[2][3] = {{c, sn, 16 - (c * h + sn * h)}, {-sn, c, 16 - (-sn * h + c * h)}};
    pixman_transform_t& t = turns[k];
    for (int r = 0; r < 2; ++r)
      for (int q = 0; q < 3; ++q) t.matrix[r][q] = pixman_double_to_fixed(m[r][q]);
    t.matrix[2][0] = t.matrix[2][1] = 0;
    t.matrix[2][2] = pixman_fixed_1;
  }
  int frames = 0;
  double ours = 0, theirs = 0;
  for (auto _ : state) {
    ours += MsPerFrame(1, [&] {
      for (int k = 0; k < kSprites; ++k)
        DrawMemImgRotation(&s.target, &s.sprite, s.xs[k] + 16, s.ys[k] + 16, angles[k], 1.0f, 1, 0, nullptr);
    });
    theirs += MsPerFrame(1, [&] {
      for (int k = 0; k < kSprites; ++k) {
        pixman_image_set_transform(s.pix_src, &turns[k]);
        pixman_image_composite32(PIXMAN_OP_OVER, s.pix_src, nullptr, s.pix_dst, 0, 0, 0, 0, s.xs[k] + 16 - kBox / 2,
                                 s.ys[k] + 16 - kBox / 2, kBox, kBox);
      }
    });
    ++frames;
  }
  Report(state, ours / frames, theirs / frames);
}
BENCHMARK(BM_RotatedBlitAgainstPixmanTransformedOver)->Unit(benchmark::kMillisecond);

}  // namespace
