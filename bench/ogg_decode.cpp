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
//
// A chain of three 3-minute links (three files one after the other, which
// the converter reads through libvorbisfile): BM_OggDecodeWhole (arg 2)
// converts it whole, BM_OggChainSeekAndRead makes 20 seeks to scattered
// frames, each followed by a read of 4096 bytes, and BM_OggOpen (arg 2)
// opens it. BM_OggOpen (arg 3) opens a 100 MB file made of the 60-second
// file's audio pages over and over, every granule position off the packets
// by a different amount.
//
// The files are made in a folder of the user's own in the temporary folder
// (bench/bench_folder.h) and kept from run to run.
#include <benchmark/benchmark.h>
#include <ogg/ogg.h>
#include <vorbis/vorbisfile.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench/bench_folder.h"
#include "lib/core/memory.h"
#include "lib/core/stream.h"
#include "lib/sound/pcm_decoder.h"

namespace {

constexpr double kSeconds = 60.0;

// The folder of the test files, the user's own, kept from run to run.
const benchfolder::Folder& OggFolder() {
  static const benchfolder::Folder folder = benchfolder::Make("rorud_bench_ogg");
  return folder;
}

// The file as oggenc writes it (cut = false) or cut by the ffmpeg command.
const std::string& SoundFile(bool cut) {
  static const std::string folder = [] {
    const std::string path = OggFolder().path;
    if (path.empty()) return path;
    const std::string ogg = path + "/sound60.ogg", cut_ogg = path + "/cut60.ogg";
    if (!std::filesystem::exists(ogg)) {
      const std::string wav = path + "/sound60.wav";
      std::system(("sox -R -n -r 44100 -c 2 -b 16 " + wav + " synth 60 sine 100-8000 pinknoise vol 0.5 >/dev/null 2>&1")
                      .c_str());
      const bool made =
          std::system(("oggenc -Q -q 4 -o " + benchfolder::PartName(ogg) + " " + wav + " >/dev/null 2>&1").c_str()) == 0;
      std::filesystem::remove(wav);
      benchfolder::PutInPlace(ogg, made);
    }
    if (std::filesystem::exists(ogg) && !std::filesystem::exists(cut_ogg)) {
      const bool made = std::system(("ffmpeg -loglevel error -y -ss 7.3 -i " + ogg + " -c copy " +
                                     benchfolder::PartName(cut_ogg) + " >/dev/null 2>&1")
                                        .c_str()) == 0;
      benchfolder::PutInPlace(cut_ogg, made);
    }
    return path;
  }();
  static const std::string plain = folder.empty() ? folder : folder + "/sound60.ogg";
  static const std::string cut_file = folder.empty() ? folder : folder + "/cut60.ogg";
  return cut ? cut_file : plain;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Three 3-minute files of their own serial numbers, one after the other.
const std::vector<uint8_t>& ChainFile() {
  static const std::vector<uint8_t> chain = [] {
    const std::string folder = OggFolder().path;
    if (folder.empty()) return std::vector<uint8_t>();
    const std::string path = folder + "/chain3x180.ogg";
    if (!std::filesystem::exists(path)) {
      std::string links;
      for (int i = 0; i < 3; ++i) {
        const std::string wav = folder + "/link.wav", ogg = folder + "/link" + std::to_string(i) + ".ogg";
        std::system(("sox -R -n -r 44100 -c 2 -b 16 " + wav + " synth 180 sine " + std::to_string(100 + 200 * i) +
                     "-8000 pinknoise vol 0.5 >/dev/null 2>&1")
                        .c_str());
        std::system(("oggenc -Q -q 4 -s " + std::to_string(1000 + i) + " -o " + ogg + " " + wav + " >/dev/null 2>&1")
                        .c_str());
        std::filesystem::remove(wav);
        links += " " + ogg;
      }
      benchfolder::PutInPlace(path, std::system(("cat" + links + " > " + benchfolder::PartName(path)).c_str()) == 0);
    }
    return ReadAll(path);
  }();
  return chain;
}

// About 100 MB of one stream: the 60-second file's headers, then its audio
// pages again and again, numbered on, each granule position moved by its own
// amount (the pages' samples no longer agree with any of them).
const std::vector<uint8_t>& LongDisagreeingFile() {
  static const std::vector<uint8_t> file = [] {
    const std::vector<uint8_t> source = ReadAll(SoundFile(false));
    std::vector<std::pair<size_t, size_t>> pages;
    for (size_t at = 0; at + 27 <= source.size() && std::memcmp(source.data() + at, "OggS", 4) == 0;) {
      size_t length = 27 + source[at + 26];
      for (int i = 0; i < source[at + 26]; ++i) length += source[at + 27 + i];
      pages.emplace_back(at, length);
      at += length;
    }
    std::vector<uint8_t> out;
    if (pages.size() < 4) return out;
    out.assign(source.begin(), source.begin() + static_cast<long>(pages[2].first));
    uint32_t sequence = 2;
    int64_t granule = 0;
    for (int pass = 0; out.size() < (size_t{100} << 20); ++pass) {
      for (size_t p = 2; p < pages.size(); ++p) {
        const size_t at = out.size();
        out.insert(out.end(), source.begin() + static_cast<long>(pages[p].first),
                   source.begin() + static_cast<long>(pages[p].first + pages[p].second));
        uint8_t* page = out.data() + at;
        page[5] = 0;
        granule += 4096 + static_cast<int64_t>((sequence * 2654435761u) % 7919);
        std::memcpy(page + 6, &granule, 8);
        std::memcpy(page + 18, &sequence, 4);
        ++sequence;
        ogg_page og{page, 27 + page[26], page + 27 + page[26], static_cast<long>(pages[p].second - 27 - page[26])};
        ogg_page_checksum_set(&og);
      }
    }
    return out;
  }();
  return file;
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
  if (!benchfolder::Usable(state, OggFolder())) return;
  const std::vector<uint8_t> file = state.range(0) == 2 ? ChainFile() : ReadAll(SoundFile(state.range(0) != 0));
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
BENCHMARK(BM_OggDecodeWhole)->ArgName("file")->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

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
  if (!benchfolder::Usable(state, OggFolder())) return;
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
  if (!benchfolder::Usable(state, OggFolder())) return;
  const std::vector<uint8_t> file = state.range(0) == 3   ? LongDisagreeingFile()
                                    : state.range(0) == 2 ? ChainFile()
                                                          : ReadAll(SoundFile(state.range(0) != 0));
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
BENCHMARK(BM_OggOpen)->ArgName("file")->Arg(0)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_OggChainSeekAndRead(benchmark::State& state) {
  if (!benchfolder::Usable(state, OggFolder())) return;
  OpenConverter converter(ChainFile());
  if (!converter.open) {
    state.SkipWithError("the chain could not be made or opened");
    return;
  }
  const int32_t frames = GetPcmDecoderLength(&converter.record) / converter.record.format.block_align;
  std::vector<uint8_t> out(4096);
  for (auto _ : state) {
    uint32_t x = 54321;
    for (int i = 0; i < 20; ++i) {
      x = x * 1103515245u + 12345u;
      SeekPcmDecoder(&converter.record, static_cast<int32_t>((x >> 8) % static_cast<uint32_t>(frames)));
      benchmark::DoNotOptimize(RunPcmDecoder(&converter.record, out.data(), static_cast<int32_t>(out.size())));
    }
  }
}
BENCHMARK(BM_OggChainSeekAndRead)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OggSeekAndRead(benchmark::State& state) {
  if (!benchfolder::Usable(state, OggFolder())) return;
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
