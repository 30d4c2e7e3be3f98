// Ogg Vorbis decoding speed through the OGG converter.
//
// Two 60-second 44.1 kHz stereo files made by sox and oggenc (-q 4): one as
// oggenc writes it, and a copy cut at 7.3 s by the ffmpeg command without
// re-encoding (its first page's granule position is negative: a start trim
// longer than the page). BM_OggDecodeWhole converts each whole into PCM
// (opening included); BM_OggDecodeVorbisfile reads the first file whole
// through libvorbisfile's own read for comparison. Both report "x_realtime":
// seconds of sound decoded per second of wall time. BM_OggOpen opens and
// closes the converter only; BM_OggSeekAndRead makes 100 seeks to scattered
// samples, each followed by a read of 4096 frames.
#include <benchmark/benchmark.h>
#include <vorbis/vorbisfile.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "lib/core/memory.h"
#include "lib/core/stream.h"
#include "lib/sound/pcm_decoder.h"

namespace {

constexpr double kSeconds = 60.0;

// The file as oggenc writes it (cut = false) or cut by the ffmpeg command.
const std::string& SoundFile(bool cut) {
  static const std::string folder = [] {
    std::string path = (std::filesystem::temp_directory_path() / "rorud_bench_ogg").string();
    std::filesystem::create_directories(path);
    const std::string ogg = path + "/sound60.ogg";
    if (!std::filesystem::exists(path + "/cut60.ogg")) {
      const std::string wav = path + "/sound60.wav";
      std::system(("sox -R -n -r 44100 -c 2 -b 16 " + wav + " synth 60 sine 100-8000 pinknoise vol 0.5 >/dev/null 2>&1")
                      .c_str());
      std::system(("oggenc -Q -q 4 -o " + ogg + " " + wav + " >/dev/null 2>&1").c_str());
      std::filesystem::remove(wav);
      std::system(("ffmpeg -loglevel error -y -ss 7.3 -i " + ogg + " -c copy " + path + "/cut60.ogg >/dev/null 2>&1")
                      .c_str());
    }
    return path;
  }();
  static const std::string plain = folder + "/sound60.ogg";
  static const std::string cut_file = folder + "/cut60.ogg";
  return cut ? cut_file : plain;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

struct OpenConverter {
  explicit OpenConverter(const std::vector<uint8_t>& file) {
    stream.ops = *GetMemoryStreamTable();
    stream.handle = MemoryStreamOpen(file.data(), file.size());
    open = OpenPcmDecoder(&stream, &record) == 0;
  }
  ~OpenConverter() {
    if (open) ClosePcmDecoder(&record);
    stream.ops.close(stream.handle);
  }
  SoundStream stream{};
  PcmDecoderRecord record{};
  bool open = false;
};

void BM_OggDecodeWhole(benchmark::State& state) {
  const std::vector<uint8_t> file = ReadAll(SoundFile(state.range(0) != 0));
  if (file.empty()) {
    state.SkipWithError("sox, oggenc and ffmpeg are needed to make the test files");
    return;
  }
  double seconds = 0;
  for (auto _ : state) {
    OpenConverter converter(file);
    if (!converter.open) {
      state.SkipWithError("the OGG converter refused the file");
      break;
    }
    plat::WaveFormatEx format{};
    void* pcm = nullptr;
    int32_t size = 0;
    ConvertPcmDecoderToMemory(&converter.record, &format, &pcm, &size);
    benchmark::DoNotOptimize(pcm);
    TrackedFree(pcm);
    seconds += static_cast<double>(size) / format.avg_bytes_per_sec;
  }
  state.counters["x_realtime"] = benchmark::Counter(seconds, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_OggDecodeWhole)->ArgName("cut")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

struct MemoryFile {
  const std::vector<uint8_t>* bytes;
  size_t at;
};

size_t MemoryRead(void* out, size_t size, size_t count, void* source) {
  auto* f = static_cast<MemoryFile*>(source);
  size_t n = size * count;
  if (n > f->bytes->size() - f->at) n = f->bytes->size() - f->at;
  std::memcpy(out, f->bytes->data() + f->at, n);
  f->at += n;
  return size != 0 ? n / size : 0;
}

int MemorySeek(void* source, ogg_int64_t offset, int origin) {
  auto* f = static_cast<MemoryFile*>(source);
  const int64_t base = origin == SEEK_SET ? 0 : origin == SEEK_CUR ? static_cast<int64_t>(f->at)
                                                                    : static_cast<int64_t>(f->bytes->size());
  if (base + offset < 0 || base + offset > static_cast<int64_t>(f->bytes->size())) return -1;
  f->at = static_cast<size_t>(base + offset);
  return 0;
}

long MemoryTell(void* source) { return static_cast<long>(static_cast<MemoryFile*>(source)->at); }

void BM_OggDecodeVorbisfile(benchmark::State& state) {
  const std::vector<uint8_t> file = ReadAll(SoundFile(false));
  if (file.empty()) {
    state.SkipWithError("sox and oggenc are needed to make the test file");
    return;
  }
  std::vector<char> pcm(static_cast<size_t>(kSeconds * 44100 * 4) + 65536);
  for (auto _ : state) {
    MemoryFile source{&file, 0};
    OggVorbis_File vf;
    if (ov_open_callbacks(&source, &vf, nullptr, 0, {&MemoryRead, &MemorySeek, nullptr, &MemoryTell}) != 0) {
      state.SkipWithError("libvorbisfile refused the file");
      break;
    }
    size_t at = 0;
    int section = 0;
    long got;
    while ((got = ov_read(&vf, pcm.data() + at, 4096, 0, 2, 1, &section)) > 0) at += static_cast<size_t>(got);
    benchmark::DoNotOptimize(pcm.data());
    ov_clear(&vf);
  }
  state.counters["x_realtime"] =
      benchmark::Counter(kSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_OggDecodeVorbisfile)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OggOpen(benchmark::State& state) {
  const std::vector<uint8_t> file = ReadAll(SoundFile(state.range(0) != 0));
  if (file.empty()) {
    state.SkipWithError("sox, oggenc and ffmpeg are needed to make the test files");
    return;
  }
  for (auto _ : state) {
    OpenConverter converter(file);
    if (!converter.open) {
      state.SkipWithError("the OGG converter refused the file");
      break;
    }
    benchmark::DoNotOptimize(converter.record.data_size);
  }
}
BENCHMARK(BM_OggOpen)->ArgName("cut")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_OggSeekAndRead(benchmark::State& state) {
  const std::vector<uint8_t> file = ReadAll(SoundFile(false));
  OpenConverter converter(file);
  if (!converter.open) {
    state.SkipWithError("the test file could not be made or opened");
    return;
  }
  const int32_t frames = GetPcmDecoderLength(&converter.record) / converter.record.format.block_align;
  std::vector<uint8_t> out(4096 * 4);
  for (auto _ : state) {
    uint32_t x = 12345;
    for (int i = 0; i < 100; ++i) {
      x = x * 1103515245u + 12345u;
      SeekPcmDecoder(&converter.record, static_cast<int32_t>((x >> 8) % static_cast<uint32_t>(frames)));
      benchmark::DoNotOptimize(RunPcmDecoder(&converter.record, out.data(), static_cast<int32_t>(out.size())));
    }
  }
}
BENCHMARK(BM_OggSeekAndRead)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
