// Software images: building the blend tables once, converting a 512 x 512
// sprite sheet into an alpha MEMIMG with its run table and premultiplied copy
// (the load of a graphic in software mode), and the raw fill of a 640 x 480
// 16-bit screen. Counters give megapixels per second.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>

#include "lib/softrender/blend_tables.h"
#include "lib/softrender/memimg.h"

namespace {

void BM_BuildSoftBlendTables(benchmark::State& state) {
  for (auto _ : state) {
    BuildSoftBlendTables();
    benchmark::DoNotOptimize(SoftBlendTables().mix6[31][63][0]);
  }
}
BENCHMARK(BM_BuildSoftBlendTables)->Unit(benchmark::kMicrosecond);

void BM_ConvertSheetToAlphaMemImg(benchmark::State& state) {
  const int size = 512;
  BaseImage sheet{};
  CreateArgb8BaseImage(size, size, &sheet);
  std::mt19937 rng(5);
  for (int y = 0; y < size; ++y) {
    uint32_t* row = reinterpret_cast<uint32_t*>(sheet.pixels + size_t(y) * sheet.pitch);
    for (int x = 0; x < size; ++x) {
      // Round sprites in 48-pixel cells: transparent, opaque and a soft rim.
      const int dx = x % 48 - 24, dy = y % 48 - 24, d = dx * dx + dy * dy;
      const uint32_t a = d < 18 * 18 ? 255 : (d < 22 * 22 ? 128 : 0);
      row[x] = (a << 24) | (rng() & 0xFFFFFF);
    }
  }
  MEMIMG image;
  std::memset(&image, 0, sizeof(image));
  InitMemImg(&image, size, size, -1, 0, kMemImg32, 0, 1, 1, nullptr);
  for (auto _ : state) {
    ConvertBaseImageToMemImg(&sheet, nullptr, &image, 0, 0, size, size, 0, 0, 0);
    benchmark::DoNotOptimize(image.base->run_table[0]);
  }
  state.counters["Mpixel/s"] =
      benchmark::Counter(double(size) * size * double(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
  ReleaseMemImg(&image);
  FreeBaseImagePixels(&sheet);
}
BENCHMARK(BM_ConvertSheetToAlphaMemImg)->Unit(benchmark::kMillisecond);

void BM_FillScreen16(benchmark::State& state) {
  MEMIMG screen;
  CreateMemImg(&screen, 640, 480, kMemImgRgb565);
  uint32_t colour = 0;
  for (auto _ : state) {
    FillMemImgRawRect(&screen, nullptr, colour++);
    benchmark::DoNotOptimize(screen.pixels[0]);
  }
  state.counters["Mpixel/s"] =
      benchmark::Counter(640.0 * 480.0 * double(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
  ReleaseMemImg(&screen);
}
BENCHMARK(BM_FillScreen16)->Unit(benchmark::kMicrosecond);

}  // namespace
