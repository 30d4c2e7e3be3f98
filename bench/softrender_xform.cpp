// Transformed kernels: 2000 rotated 16 x 16 sprites per frame on a 640 x 480
// 32-bit target, in the alpha blend (mode 1) and the additive blend (mode 2),
// through the plain rotated walk and through the mirrored (two-triangle) form.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "lib/softrender/blend_tables.h"
#include "lib/softrender/memimg.h"
#include "lib/softrender/soft_draw_state.h"
#include "lib/softrender/soft_kernels.h"

namespace {

constexpr int kSprites = 2000;

struct Scene {
  MEMIMG target;
  MEMIMG sprite;
  struct Placement {
    int x, y;
    float angle, scale;
  };
  std::vector<Placement> placements;

  Scene() {
    std::memset(&target, 0, sizeof(target));
    std::memset(&sprite, 0, sizeof(sprite));
    CreateMemImg(&target, 640, 480, kMemImg32);
    InitMemImg(&sprite, 16, 16, -1, 0, kMemImg32, 0, 1, 0, nullptr);
    std::mt19937 rng(5);
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) {
        // A round sprite: opaque inside, a soft rim, transparent corners.
        const int dx = 2 * x - 15, dy = 2 * y - 15, r2 = dx * dx + dy * dy;
        const uint32_t a = r2 < 150 ? 255 : (r2 < 225 ? 128 : 0);
        const uint32_t v = (rng() & 0xFFFFFF) | a << 24;
        std::memcpy(sprite.pixels + y * sprite.base->pitch + 4 * x, &v, 4);
      }
    for (int i = 0; i < kSprites; ++i) {
      placements.push_back({int(rng() % 640), int(rng() % 480), float(rng() % 6283) / 1000.0f, 1.0f});
    }
    BuildSoftBlendTables();
  }
  ~Scene() {
    ReleaseMemImg(&sprite);
    ReleaseMemImg(&target);
  }
};

void RotatedSprites(benchmark::State& state) {
  static Scene scene;
  SoftDrawState& s = SoftDraw();
  s.blend_mode = static_cast<uint32_t>(state.range(0));
  s.blend_param = 160;
  s.bright = 0xFFFFFF;
  s.clip = {0, 0, 640, 480};
  const int turn = static_cast<int>(state.range(1));
  for (auto _ : state) {
    for (const auto& p : scene.placements)
      DrawMemImgRotation(&scene.target, &scene.sprite, p.x, p.y, p.angle, p.scale, 1, turn, nullptr);
    benchmark::DoNotOptimize(scene.target.pixels[0]);
  }
  state.SetItemsProcessed(state.iterations() * kSprites);
}

BENCHMARK(RotatedSprites)
    ->ArgNames({"mode", "turn"})
    ->Args({1, 0})
    ->Args({2, 0})
    ->Args({1, 1})
    ->Args({2, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace
