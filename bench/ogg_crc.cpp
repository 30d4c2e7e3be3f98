// The Ogg page checksum's speed: the library's two ways (eight bytes a step
// through tables, sixteen a step by carry-less multiplication) and the one
// it takes on this processor, against libogg's own as a yardstick.
//
// BM_OggCrcTables, BM_OggCrcMultiply and BM_OggCrc run over one buffer of
// random bytes (arg: its size; 4 KiB is a typical page's body, 64 KiB about
// the largest page's). BM_OggPageChecksumHolds checks every page of a
// stream of 4 KiB pages as the library's page walk does, header and body.
// BM_LiboggChecksumSet has libogg write the same pages' checksums
// (ogg_page_checksum_set), BM_LiboggSync has libogg's sync layer take the
// stream in and hand out its pages (ogg_sync_pageout, which checks each
// checksum; the time includes the copy into its buffer). Each reports
// bytes a second: bytes_per_second in the JSON output, GiB/s ("G/s") on the
// console; scripts/bench-report prints GB/s (10^9 bytes).
// BM_OggCrcMultiply runs only where the processor has carry-less
// multiplication (and RORUD_SPAN_LEVEL is not 0).
#include <benchmark/benchmark.h>
#include <ogg/ogg.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "lib/sound/ogg_crc.h"

namespace {

std::vector<uint8_t> RandomBytes(size_t n) {
  std::vector<uint8_t> bytes(n);
  std::mt19937 random(98);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

using CrcFunction = uint32_t (*)(uint32_t, const uint8_t*, size_t);

void RunCrc(benchmark::State& state, CrcFunction crc) {
  const std::vector<uint8_t> bytes = RandomBytes(static_cast<size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(crc(0, bytes.data(), bytes.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_OggCrcTables(benchmark::State& state) { RunCrc(state, oggpcm::OggCrcTables); }

void BM_OggCrcMultiply(benchmark::State& state) { RunCrc(state, oggpcm::OggCrcMultiply); }

void BM_OggCrc(benchmark::State& state) { RunCrc(state, oggpcm::OggCrc); }

// A stream of 256 pages of one logical stream, each 16 segments of 255
// bytes and one of 16 (4,096 bytes of body), made and checksummed by libogg.
struct Pages {
  std::vector<uint8_t> stream;
  std::vector<size_t> starts;  // each page's offset in `stream`
  std::vector<size_t> header_lens;
};

const Pages& MakePages() {
  static const Pages pages = [] {
    constexpr int kCount = 256;
    constexpr size_t kBody = 4096;
    const std::vector<uint8_t> body = RandomBytes(kBody * kCount);
    Pages p;
    for (int i = 0; i < kCount; ++i) {
      unsigned char header[27 + 17];
      std::memcpy(header, "OggS", 4);
      header[4] = 0;
      header[5] = i == 0 ? 2 : 0;
      const int64_t granule = static_cast<int64_t>(i) * 1024;
      for (int b = 0; b < 8; ++b) header[6 + b] = static_cast<unsigned char>(granule >> (8 * b));
      for (int b = 0; b < 4; ++b) header[14 + b] = static_cast<unsigned char>(0x98 >> (8 * b));
      for (int b = 0; b < 4; ++b) header[18 + b] = static_cast<unsigned char>(i >> (8 * b));
      std::memset(header + 22, 0, 4);
      header[26] = 17;
      std::memset(header + 27, 255, 16);
      header[27 + 16] = 16;
      std::vector<unsigned char> page_body(body.begin() + static_cast<std::ptrdiff_t>(kBody * i),
                                           body.begin() + static_cast<std::ptrdiff_t>(kBody * (i + 1)));
      ogg_page page{header, static_cast<long>(sizeof header), page_body.data(), static_cast<long>(kBody)};
      ogg_page_checksum_set(&page);
      p.starts.push_back(p.stream.size());
      p.header_lens.push_back(sizeof header);
      p.stream.insert(p.stream.end(), header, header + sizeof header);
      p.stream.insert(p.stream.end(), page_body.begin(), page_body.end());
    }
    return p;
  }();
  return pages;
}

void BM_OggPageChecksumHolds(benchmark::State& state) {
  const Pages& p = MakePages();
  for (auto _ : state) {
    size_t held = 0;
    for (size_t i = 0; i < p.starts.size(); ++i) {
      const size_t end = i + 1 < p.starts.size() ? p.starts[i + 1] : p.stream.size();
      held += oggpcm::OggPageChecksumHolds(p.stream.data() + p.starts[i], p.header_lens[i],
                                           end - p.starts[i] - p.header_lens[i]);
    }
    if (held != p.starts.size()) {
      state.SkipWithError("a page's checksum does not hold");
      return;
    }
    benchmark::DoNotOptimize(held);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * p.stream.size()));
}

void BM_LiboggChecksumSet(benchmark::State& state) {
  Pages p = MakePages();
  for (auto _ : state) {
    for (size_t i = 0; i < p.starts.size(); ++i) {
      const size_t end = i + 1 < p.starts.size() ? p.starts[i + 1] : p.stream.size();
      unsigned char* header = p.stream.data() + p.starts[i];
      ogg_page page{header, static_cast<long>(p.header_lens[i]), header + p.header_lens[i],
                    static_cast<long>(end - p.starts[i] - p.header_lens[i])};
      ogg_page_checksum_set(&page);
    }
    benchmark::DoNotOptimize(p.stream.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * p.stream.size()));
}

void BM_LiboggSync(benchmark::State& state) {
  const Pages& p = MakePages();
  ogg_sync_state sync;
  ogg_sync_init(&sync);
  for (auto _ : state) {
    char* buffer = ogg_sync_buffer(&sync, static_cast<long>(p.stream.size()));
    std::memcpy(buffer, p.stream.data(), p.stream.size());
    ogg_sync_wrote(&sync, static_cast<long>(p.stream.size()));
    ogg_page page;
    size_t got = 0;
    while (ogg_sync_pageout(&sync, &page) == 1) ++got;
    if (got != p.starts.size()) {
      state.SkipWithError("libogg did not hand out every page");
      break;
    }
  }
  ogg_sync_clear(&sync);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * p.stream.size()));
}

}  // namespace

BENCHMARK(BM_OggCrcTables)->Arg(4096)->Arg(65536);
// Only where the processor multiplies.
const bool kMultiplyRegistered =
    oggpcm::OggCrcCanMultiply() &&
    benchmark::RegisterBenchmark("BM_OggCrcMultiply", BM_OggCrcMultiply)->Arg(4096)->Arg(65536) != nullptr;
BENCHMARK(BM_OggCrc)->Arg(4096)->Arg(65536);
BENCHMARK(BM_OggPageChecksumHolds);
BENCHMARK(BM_LiboggChecksumSet);
BENCHMARK(BM_LiboggSync);
