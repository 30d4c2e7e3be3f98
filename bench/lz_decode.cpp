// The LZ decoder's speed in MB/s of decoded output, against memcpy of the same
// number of bytes, on data of three kinds.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "lib/core/pack_lz.h"

namespace {

std::vector<unsigned char> MakeData(int kind) {
  std::mt19937 rng(42);
  std::vector<unsigned char> data;
  const size_t size = 4 << 20;
  if (kind == 0) {
    // Text-like: words from a small vocabulary.
    const char* words[] = {"enemy ", "bullet ", "score ", "player ", "stage ", "boss ", "item ", "graze "};
    while (data.size() < size) {
      const char* w = words[rng() % 8];
      data.insert(data.end(), w, w + std::strlen(w));
      if (rng() % 10 == 0) data.push_back(static_cast<unsigned char>('0' + rng() % 10));
    }
  } else if (kind == 1) {
    // Sprite-like: 32-bit pixels in runs with some noise.
    while (data.size() < size) {
      uint32_t pixel = rng() % 4 == 0 ? 0 : 0xFF000000u | (rng() & 0x00F0F0F0u);
      int run = 1 + static_cast<int>(rng() % 24);
      for (int i = 0; i < run; ++i) {
        data.insert(data.end(), reinterpret_cast<unsigned char*>(&pixel),
                    reinterpret_cast<unsigned char*>(&pixel) + 4);
      }
    }
  } else {
    // Long zero runs with scattered bytes.
    data.assign(size, 0);
    for (size_t i = 0; i < size; i += 1 + rng() % 2000) data[i] = static_cast<unsigned char>(rng());
  }
  data.resize(size);
  return data;
}

const char* KindName(int kind) { return kind == 0 ? "text" : kind == 1 ? "sprites" : "sparse"; }

void BM_LzDecode(benchmark::State& state) {
  int kind = static_cast<int>(state.range(0));
  std::vector<unsigned char> data = MakeData(kind);
  std::vector<unsigned char> block = EncodePackData(data.data(), data.size());
  std::vector<unsigned char> out(data.size());
  for (auto _ : state) {
    DecodePackData(block.data(), out.data());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  if (out != data) state.SkipWithError("decoded data differ");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
  state.SetLabel(std::string(KindName(kind)) + ", ratio " +
                 std::to_string(100 * block.size() / data.size()) + "%");
}

void BM_Memcpy(benchmark::State& state) {
  std::vector<unsigned char> data = MakeData(static_cast<int>(state.range(0)));
  std::vector<unsigned char> out(data.size());
  for (auto _ : state) {
    std::memcpy(out.data(), data.data(), data.size());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}

void BM_LzEncode(benchmark::State& state) {
  std::vector<unsigned char> data = MakeData(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(EncodePackData(data.data(), data.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}

BENCHMARK(BM_LzDecode)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Memcpy)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LzEncode)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

}  // namespace
