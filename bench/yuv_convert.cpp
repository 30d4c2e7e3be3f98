// Movie frame conversion in megapixels per second: the 4:2:0 fixed-point
// path and the floating-point path of other chroma layouts, on a 640 x 480
// frame of varied samples.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "lib/sound/movie.h"

namespace {

void RunConversion(benchmark::State& state, bool four_two_zero) {
  InitializeYuvTables();
  const int w = 640, h = 480;
  const int cw = four_two_zero ? w / 2 : w, ch = four_two_zero ? h / 2 : h;
  std::mt19937 rng(7);
  std::vector<uint8_t> y(static_cast<size_t>(w) * h), cb(static_cast<size_t>(cw) * ch), cr(cb.size());
  for (auto& v : y) v = static_cast<uint8_t>(rng());
  for (auto& v : cb) v = static_cast<uint8_t>(rng());
  for (auto& v : cr) v = static_cast<uint8_t>(rng());
  TheoraFrameSlot slot{};
  slot.in_use = 1;
  slot.frame = 0;
  slot.y = y.data(), slot.cb = cb.data(), slot.cr = cr.data();
  slot.y_width = w, slot.y_height = h, slot.y_stride = w;
  slot.c_width = cw, slot.c_height = ch, slot.c_stride = cw;
  auto* record = new TheoraMovieRecord();
  record->stock = &slot;
  record->stock_size = 1;
  record->state = kTheoraStockFull;
  record->current_frame = 0;
  CreateXrgb8BaseImage(w, h, &record->frame_image);
  for (auto _ : state) {
    record->image_converted = 0;
    benchmark::DoNotOptimize(ConvertTheoraFrame(record, 1, 0));
    benchmark::ClobberMemory();
  }
  state.counters["Mpixel/s"] =
      benchmark::Counter(static_cast<double>(w) * h * static_cast<double>(state.iterations()) / 1e6,
                         benchmark::Counter::kIsRate);
  FreeBaseImagePixels(&record->frame_image);
  delete record;
}

void BM_Convert420(benchmark::State& state) { RunConversion(state, true); }
void BM_Convert444Float(benchmark::State& state) { RunConversion(state, false); }

BENCHMARK(BM_Convert420);
BENCHMARK(BM_Convert444Float);

}  // namespace
