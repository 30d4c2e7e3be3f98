// The LZ decoder's speed in MB/s of decoded output, against LZ4's safe decoder
// on the same inputs and against memcpy of the same number of bytes.
// Inputs: text, an executable (this program), deflated image data (as in PNG
// files: incompressible), random bytes, sprite pixels and sparse data.
#include <benchmark/benchmark.h>
#include <lz4.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "lib/core/pack_lz.h"

namespace {

using Bytes = std::vector<unsigned char>;
constexpr size_t kSize = 4 << 20;
enum Kind { kText, kExecutable, kImages, kRandom, kSprites, kSparse, kKindCount };

Bytes MakeText(std::mt19937& rng) {
  const char* words[] = {"the ", "enemy ", "bullet ", "score ", "player ", "stage ", "boss ", "item ",
                         "graze ", "of ", "and ", "a ", "to ", "shot ", "bomb ", "power ", "\n"};
  Bytes data;
  while (data.size() < kSize) {
    const char* w = words[rng() % 17];
    data.insert(data.end(), w, w + std::strlen(w));
    if (rng() % 10 == 0) data.push_back(static_cast<unsigned char>('0' + rng() % 10));
  }
  return data;
}

Bytes MakeSprites(std::mt19937& rng) {
  Bytes data;
  while (data.size() < kSize) {
    uint32_t pixel = rng() % 4 == 0 ? 0 : 0xFF000000u | (rng() & 0x00F0F0F0u);
    int run = 1 + static_cast<int>(rng() % 24);
    for (int i = 0; i < run; ++i) {
      data.insert(data.end(), reinterpret_cast<unsigned char*>(&pixel),
                  reinterpret_cast<unsigned char*>(&pixel) + 4);
    }
  }
  return data;
}

Bytes ReadSelf() {
  Bytes data;
  if (FILE* f = std::fopen("/proc/self/exe", "rb")) {
    data.resize(kSize);
    data.resize(std::fread(data.data(), 1, kSize, f));
    std::fclose(f);
  }
  return data;
}

// Image files hold deflated pixels: sprite pixels with some noise, deflated.
Bytes MakeImages(std::mt19937& rng) {
  Bytes pixels = MakeSprites(rng);
  for (size_t i = 0; i < pixels.size(); i += 7) pixels[i] ^= static_cast<unsigned char>(rng() & 15);
  uLongf size = compressBound(static_cast<uLong>(pixels.size()));
  Bytes data(size);
  compress2(data.data(), &size, pixels.data(), static_cast<uLong>(pixels.size()), 9);
  data.resize(size);
  return data;
}

Bytes MakeKind(int kind) {
  std::mt19937 rng(42);
  Bytes data;
  switch (kind) {
    case kText: data = MakeText(rng); break;
    case kExecutable: data = ReadSelf(); break;
    case kImages: data = MakeImages(rng); break;
    case kRandom:
      data.resize(kSize);
      for (auto& b : data) b = static_cast<unsigned char>(rng() >> 24);
      break;
    case kSprites: data = MakeSprites(rng); break;
    default:
      // Long zero runs with scattered bytes.
      data.assign(kSize, 0);
      for (size_t i = 0; i < kSize; i += 1 + rng() % 2000) data[i] = static_cast<unsigned char>(rng());
  }
  if (data.size() > kSize) data.resize(kSize);
  return data;
}

// The inputs are made once: the benchmark runs each function several times.
const Bytes& MakeData(int kind) {
  static Bytes made[kKindCount];
  static bool done[kKindCount];
  if (!done[kind]) {
    made[kind] = MakeKind(kind);
    done[kind] = true;
  }
  return made[kind];
}

const Bytes& PackedData(int kind) {
  static Bytes made[kKindCount];
  static bool done[kKindCount];
  if (!done[kind]) {
    made[kind] = EncodePackData(MakeData(kind).data(), MakeData(kind).size());
    done[kind] = true;
  }
  return made[kind];
}

const char* KindName(int kind) {
  const char* names[] = {"text", "executable", "images", "random", "sprites", "sparse"};
  return names[kind];
}

void Finish(benchmark::State& state, int kind, const Bytes& data, const Bytes& out, size_t packed) {
  if (out != data) state.SkipWithError("decoded data differ");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
  state.SetLabel(std::string(KindName(kind)) + ", ratio " +
                 std::to_string(data.empty() ? 0 : 100 * packed / data.size()) + "%");
}

void BM_LzDecode(benchmark::State& state) {
  int kind = static_cast<int>(state.range(0));
  const Bytes& data = MakeData(kind);
  const Bytes& block = PackedData(kind);
  Bytes out(data.size());
  for (auto _ : state) {
    DecodePackDataChecked(block.data(), block.size(), out.data(), out.size());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  Finish(state, kind, data, out, block.size());
}

// The same inputs through LZ4 (default compression level, safe decoder).
void BM_Lz4Decode(benchmark::State& state) {
  int kind = static_cast<int>(state.range(0));
  const Bytes& data = MakeData(kind);
  Bytes block(static_cast<size_t>(LZ4_compressBound(static_cast<int>(data.size()))));
  int packed = LZ4_compress_default(reinterpret_cast<const char*>(data.data()), reinterpret_cast<char*>(block.data()),
                                    static_cast<int>(data.size()), static_cast<int>(block.size()));
  Bytes out(data.size());
  for (auto _ : state) {
    LZ4_decompress_safe(reinterpret_cast<const char*>(block.data()), reinterpret_cast<char*>(out.data()), packed,
                        static_cast<int>(out.size()));
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  Finish(state, kind, data, out, static_cast<size_t>(packed));
}

void BM_Memcpy(benchmark::State& state) {
  const Bytes& data = MakeData(static_cast<int>(state.range(0)));
  Bytes out(data.size());
  for (auto _ : state) {
    std::memcpy(out.data(), data.data(), data.size());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}

void BM_LzEncode(benchmark::State& state) {
  const Bytes& data = MakeData(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(EncodePackData(data.data(), data.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}

BENCHMARK(BM_LzDecode)->DenseRange(0, kKindCount - 1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Lz4Decode)->DenseRange(0, kKindCount - 1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Memcpy)->DenseRange(0, kKindCount - 1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LzEncode)->DenseRange(0, kKindCount - 1)->Unit(benchmark::kMillisecond);

}  // namespace
