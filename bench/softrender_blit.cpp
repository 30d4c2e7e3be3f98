// Plain blit speed: 2000 sprites of 32 x 32 onto a 640 x 480 32-bit target
// per iteration, in blend modes 0 (copy), 1 (alpha 128 and 200) and 2 (add),
// for a plain source and for a source with alpha, drawn with and without the
// transparency flag (the flag takes the run-length path when it can).
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>

#include "lib/softrender/blend_tables.h"
#include "lib/softrender/memimg.h"
#include "lib/softrender/soft_draw_state.h"
#include "lib/softrender/soft_kernels.h"

namespace {

constexpr int kSprites = 2000;

struct Scene {
  MEMIMG target{};
  MEMIMG sprite{};
  int xs[kSprites];
  int ys[kSprites];
  Scene(int format, bool alpha) {
    BuildSoftBlendTables();
    InitMemImg(&target, 640, 480, -1, 0, format, 0, 0, 0, nullptr);
    InitMemImg(&sprite, 32, 32, -1, 0, format, 0, alpha ? 1 : 0, 1, nullptr);
    std::mt19937 rng(1);
    const int bpp = MemImgBytesPerPixel(format, 0, alpha ? 1 : 0);
    for (int j = 0; j < 32; ++j) {
      for (int i = 0; i < 32; ++i) {
        // A disc: transparent corners, an opaque middle, a soft rim.
        const int dx = i - 16, dy = j - 16, r2 = dx * dx + dy * dy;
        uint32_t v = rng() & 0x00FFFFFFu;
        if (alpha) {
          const uint32_t a = r2 > 256 ? 0 : (r2 > 196 ? 128 : 255);
          v = bpp == 4 && format == 1 ? (v | a << 24) : ((v & 0xFFFF) | a << 16);
        } else if (r2 > 256) {
          v = 0;
        }
        if (format == 0 && !alpha) v &= 0xFFFF;
        std::memcpy(sprite.pixels + j * sprite.base->pitch + i * bpp, &v, bpp);
      }
    }
    BuildMemImgRunTable(sprite.base);
    for (int k = 0; k < kSprites; ++k) {
      xs[k] = int(rng() % 640) - 16;
      ys[k] = int(rng() % 480) - 16;
    }
  }
  ~Scene() {
    ReleaseMemImg(&sprite);
    ReleaseMemImg(&target);
  }
};

void Run(benchmark::State& state, int format, bool alpha, uint32_t mode, int param, int trans) {
  Scene scene(format, alpha);
  SoftDrawState saved = SoftDraw();
  SoftDraw().blend_mode = mode;
  SoftDraw().blend_param = param;
  SoftDraw().bright = 0xFFFFFF;
  SoftDraw().clip = IntRect{0, 0, 640, 480};
  SoftDraw().target = &scene.target;
  for (auto _ : state) {
    for (int k = 0; k < kSprites; ++k)
      DrawMemImgBasic(&scene.target, &scene.sprite, scene.xs[k], scene.ys[k], trans, nullptr);
    benchmark::DoNotOptimize(scene.target.pixels[0]);
  }
  state.SetItemsProcessed(state.iterations() * kSprites);
  SoftDraw() = saved;
}

}  // namespace

BENCHMARK_CAPTURE(Run, copy32_plain, 1, false, 0u, 255, 0);
BENCHMARK_CAPTURE(Run, copy32_keyed, 1, false, 0u, 255, 1);
BENCHMARK_CAPTURE(Run, copy32_alpha_keyed, 1, true, 0u, 255, 1);
BENCHMARK_CAPTURE(Run, alpha32_p128, 1, false, 1u, 128, 0);
BENCHMARK_CAPTURE(Run, alpha32_p200, 1, false, 1u, 200, 0);
BENCHMARK_CAPTURE(Run, alpha32_p200_alpha_keyed, 1, true, 1u, 200, 1);
BENCHMARK_CAPTURE(Run, add32_p255, 1, false, 2u, 255, 0);
BENCHMARK_CAPTURE(Run, add32_p200_alpha_keyed, 1, true, 2u, 200, 1);
BENCHMARK_CAPTURE(Run, add32_p200_alpha_perpixel, 1, true, 2u, 200, 2);
BENCHMARK_CAPTURE(Run, copy16_keyed, 0, false, 0u, 255, 1);
BENCHMARK_CAPTURE(Run, alpha16_p200, 0, false, 1u, 200, 0);
BENCHMARK_CAPTURE(Run, add16_p255, 0, false, 2u, 255, 0);
