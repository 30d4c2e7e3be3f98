// bench/softrender_stretch.cpp - the stretched blit, the rectangle fill and
// lines on a 640 x 480 software screen, 32-bit and 16-bit.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>

#include "lib/softrender/blend_tables.h"
#include "lib/softrender/memimg.h"
#include "lib/softrender/soft_draw_state.h"
#include "lib/softrender/soft_kernels.h"

namespace {

struct Screen {
  MEMIMG target{}, sprite{}, alpha_sprite{};
  explicit Screen(int format) {
    static const bool built = (BuildSoftBlendTables(), true);
    (void)built;
    InitMemImg(&target, 640, 480, -1, 0, format, 0, 0, 0, nullptr);
    InitMemImg(&sprite, 64, 64, -1, 0, format, 0, 0, 0, nullptr);
    InitMemImg(&alpha_sprite, 64, 64, -1, 0, format, 0, 1, 0, nullptr);
    std::mt19937 rng(1);
    for (MEMIMG* m : {&target, &sprite, &alpha_sprite}) {
      uint8_t* p = m->base->pixel_block;
      for (int i = 0; i < m->base->pitch * m->base->height; ++i) p[i] = static_cast<uint8_t>(rng());
    }
  }
  ~Screen() {
    ReleaseMemImg(&alpha_sprite);
    ReleaseMemImg(&sprite);
    ReleaseMemImg(&target);
  }
  void State(uint32_t mode, int param, uint32_t bright) {
    SoftDrawState& s = SoftDraw();
    s.blend_mode = mode;
    s.blend_param = param;
    s.bright = bright;
    s.clip = {0, 0, 640, 480};
    s.target = &target;
    s.blend_image = nullptr;
  }
};

// 200 sprites of 64 x 64 drawn at 96 x 80, mirrored every other one.
void Stretch(benchmark::State& st, int format, uint32_t mode, int param, uint32_t bright, bool alpha, int trans) {
  Screen scr(format);
  scr.State(mode, param, bright);
  MEMIMG* src = alpha ? &scr.alpha_sprite : &scr.sprite;
  for (auto _ : st) {
    for (int i = 0; i < 200; ++i) {
      int x = (i * 37) % 560 - 10, y = (i * 53) % 420 - 10;
      IntRect r = (i & 1) ? IntRect{x + 96, y, x, y + 80} : IntRect{x, y, x + 96, y + 80};
      DrawMemImgStretch(&scr.target, src, &r, trans, nullptr);
    }
    benchmark::ClobberMemory();
  }
  st.SetItemsProcessed(st.iterations() * 200 * 96 * 80);
}

BENCHMARK_CAPTURE(Stretch, copy32, 1, 0, 0, 0xFFFFFF, false, 0);
BENCHMARK_CAPTURE(Stretch, keyed_copy32, 1, 0, 0, 0xFFFFFF, false, 1);
BENCHMARK_CAPTURE(Stretch, alpha32_p128, 1, 1, 128, 0xFFFFFF, false, 0);
BENCHMARK_CAPTURE(Stretch, add32, 1, 2, 200, 0xFFFFFF, false, 0);
BENCHMARK_CAPTURE(Stretch, alpha_source32, 1, 0, 0, 0xFFFFFF, true, 1);
BENCHMARK_CAPTURE(Stretch, bright32, 1, 0, 0, 0x8080FF, false, 0);
BENCHMARK_CAPTURE(Stretch, copy16, 0, 0, 0, 0xFFFFFF, false, 0);
BENCHMARK_CAPTURE(Stretch, alpha16_p128, 0, 1, 128, 0xFFFFFF, false, 0);
BENCHMARK_CAPTURE(Stretch, add16, 0, 2, 200, 0xFFFFFF, false, 0);

// The whole screen filled once per iteration.
void Fill(benchmark::State& st, int format, uint32_t mode, int param) {
  Screen scr(format);
  scr.State(mode, param, 0xFFFFFF);
  for (auto _ : st) {
    FillMemImgRect(&scr.target, nullptr, 0x00336699);
    benchmark::ClobberMemory();
  }
  st.SetItemsProcessed(st.iterations() * 640 * 480);
}

BENCHMARK_CAPTURE(Fill, copy32, 1, 0, 0);
BENCHMARK_CAPTURE(Fill, alpha32, 1, 1, 100);
BENCHMARK_CAPTURE(Fill, add32, 1, 2, 100);
BENCHMARK_CAPTURE(Fill, copy16, 0, 0, 0);
BENCHMARK_CAPTURE(Fill, alpha16, 0, 1, 100);

// 1000 lines between random points, some reaching past the screen.
void Lines(benchmark::State& st, int format, uint32_t mode) {
  Screen scr(format);
  scr.State(mode, 128, 0xFFFFFF);
  std::mt19937 rng(3);
  std::vector<MemImgLineRecord> recs(1000);
  for (auto& r : recs) {
    r = {static_cast<int32_t>(rng() % 800) - 80, static_cast<int32_t>(rng() % 600) - 60,
         static_cast<int32_t>(rng() % 800) - 80, static_cast<int32_t>(rng() % 600) - 60, 0x00FF8040, 0};
  }
  for (auto _ : st) {
    DrawMemImgLineList(&scr.target, recs.data(), static_cast<int>(recs.size()));
    benchmark::ClobberMemory();
  }
  st.SetItemsProcessed(st.iterations() * 1000);
}

BENCHMARK_CAPTURE(Lines, copy32, 1, 0);
BENCHMARK_CAPTURE(Lines, alpha32, 1, 1);
BENCHMARK_CAPTURE(Lines, copy16, 0, 0);

}  // namespace
