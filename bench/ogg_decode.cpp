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
// The open against the whole decode where the open weighs most
// (BM_OggOpen and BM_OggDecodeWhole with the same arg): a 60-second mono
// file of one-segment packets in pages of at most 72 bytes (arg 4), a chain
// of 60 links of 1 s (arg 5); and the open of the 60-second file's pages
// among a foreign stream's, which goes on for 100 MB after the sound ends
// (arg 6: the open looks back through all of it for the sound's last page).
//
// The files are made in a folder of the user's own in the temporary folder
// (bench/bench_folder.h) and kept from run to run.
#include <benchmark/benchmark.h>
#include <ogg/ogg.h>
#include <vorbis/codec.h>
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
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

// A file's packets (the first stream's), each with its granule position
// where the page gives one.
struct Packets {
  long serial = 0;
  int64_t last_granule = 0;
  std::vector<std::vector<uint8_t>> data;
};
Packets ReadPackets(const std::vector<uint8_t>& file) {
  Packets out;
  ogg_sync_state sync;
  ogg_sync_init(&sync);
  std::memcpy(ogg_sync_buffer(&sync, static_cast<long>(file.size())), file.data(), file.size());
  ogg_sync_wrote(&sync, static_cast<long>(file.size()));
  ogg_stream_state os;
  ogg_page page;
  ogg_packet packet;
  bool started = false;
  while (ogg_sync_pageout(&sync, &page) == 1) {
    if (!started) {
      out.serial = ogg_page_serialno(&page);
      ogg_stream_init(&os, static_cast<int>(out.serial));
      started = true;
    }
    if (ogg_page_serialno(&page) != out.serial) continue;
    ogg_stream_pagein(&os, &page);
    if (ogg_page_granulepos(&page) != -1) out.last_granule = ogg_page_granulepos(&page);
    while (ogg_stream_packetout(&os, &packet) == 1) out.data.emplace_back(packet.packet, packet.packet + packet.bytes);
  }
  if (started) ogg_stream_clear(&os);
  ogg_sync_clear(&sync);
  return out;
}

// Writes `packets` as one stream: the headers on their own pages, then the
// audio packets `per_page` at a time (0: as many as fit in `page_bytes`),
// each page with its granule position (the samples counted, the last the
// file's own). `between` (if set) is called after the first page and each
// audio page.
std::vector<uint8_t> Repaged(const Packets& packets, int per_page, long page_bytes,
                             const std::function<void(std::vector<uint8_t>*)>& between = nullptr) {
  std::vector<uint8_t> out;
  if (packets.data.size() < 4) return out;
  vorbis_info info;
  vorbis_comment comment;
  vorbis_info_init(&info);
  vorbis_comment_init(&comment);
  ogg_stream_state os;
  ogg_stream_init(&os, static_cast<int>(packets.serial));
  ogg_page page;
  const auto flush = [&] {
    bool wrote = false;
    while (ogg_stream_flush(&os, &page) != 0) {
      out.insert(out.end(), page.header, page.header + page.header_len);
      out.insert(out.end(), page.body, page.body + page.body_len);
      wrote = true;
    }
    return wrote;
  };
  int64_t count = 0;
  long previous = 0, body = 0, segments = 0, on_page = 0;
  for (size_t i = 0; i < packets.data.size(); ++i) {
    ogg_packet packet{};
    packet.packet = const_cast<unsigned char*>(packets.data[i].data());
    packet.bytes = static_cast<long>(packets.data[i].size());
    packet.b_o_s = i == 0;
    packet.packetno = static_cast<int64_t>(i);
    if (i < 3) {
      vorbis_synthesis_headerin(&info, &comment, &packet);
      ogg_stream_packetin(&os, &packet);
      if (i != 1) flush();
      // Another stream's first page goes with the first pages of all.
      if (i == 0 && between) between(&out);
      continue;
    }
    const long size = std::max(0L, vorbis_packet_blocksize(&info, &packet));
    if (previous != 0 && size != 0) count += (previous + size) / 4;
    if (size != 0) previous = size;
    const long lacing = packet.bytes / 255 + 1;
    const bool full = per_page > 0 ? on_page == per_page : 27 + segments + lacing + body + packet.bytes > page_bytes;
    if (on_page > 0 && full) {
      flush();
      if (between) between(&out);
      body = segments = on_page = 0;
    }
    packet.granulepos = i + 1 == packets.data.size() ? packets.last_granule : count;
    packet.e_o_s = i + 1 == packets.data.size();
    ogg_stream_packetin(&os, &packet);
    body += packet.bytes;
    segments += lacing;
    ++on_page;
  }
  flush();
  if (between) between(&out);
  ogg_stream_clear(&os);
  vorbis_comment_clear(&comment);
  vorbis_info_clear(&info);
  return out;
}

// A 60-second mono sine (oggenc -q -1), its packets in pages of at most 72
// bytes (most hold one packet of one segment).
const std::vector<uint8_t>& TinyPageFile() {
  static const std::vector<uint8_t> file = [] {
    const std::string folder = OggFolder().path;
    if (folder.empty()) return std::vector<uint8_t>();
    const std::string wav = folder + "/tiny.wav", ogg = folder + "/tiny.ogg";
    if (!std::filesystem::exists(ogg)) {
      std::system(("sox -R -n -r 44100 -c 1 -b 16 " + wav + " synth 60 sine 440 vol 0.3 >/dev/null 2>&1").c_str());
      const bool made =
          std::system(("oggenc -Q -q -1 -o " + benchfolder::PartName(ogg) + " " + wav + " >/dev/null 2>&1").c_str()) == 0;
      std::filesystem::remove(wav);
      benchfolder::PutInPlace(ogg, made);
    }
    return Repaged(ReadPackets(ReadAll(ogg)), 0, 72);
  }();
  return file;
}

// 60 links of 1 s each (stereo, oggenc -q 4), of their own serial numbers.
const std::vector<uint8_t>& SixtyLinks() {
  static const std::vector<uint8_t> chain = [] {
    const std::string folder = OggFolder().path;
    if (folder.empty()) return std::vector<uint8_t>();
    const std::string path = folder + "/links60.ogg";
    if (!std::filesystem::exists(path)) {
      std::string links;
      for (int i = 0; i < 60; ++i) {
        const std::string wav = folder + "/second.wav", ogg = folder + "/second" + std::to_string(i) + ".ogg";
        std::system(("sox -R -n -r 44100 -c 2 -b 16 " + wav + " synth 1 sine " + std::to_string(200 + 20 * i) +
                     " pinknoise vol 0.5 >/dev/null 2>&1")
                        .c_str());
        std::system(("oggenc -Q -q 4 -s " + std::to_string(5000 + i) + " -o " + ogg + " " + wav + " >/dev/null 2>&1")
                        .c_str());
        links += " " + ogg;
      }
      benchfolder::PutInPlace(path, std::system(("cat" + links + " > " + benchfolder::PartName(path)).c_str()) == 0);
      for (int i = 0; i < 60; ++i) std::filesystem::remove(folder + "/second" + std::to_string(i) + ".ogg");
      std::filesystem::remove(folder + "/second.wav");
    }
    return ReadAll(path);
  }();
  return chain;
}

// The 60-second file's pages of eight packets each, a page of a foreign
// stream (16,000 bytes of noise) after each, and 100 MB more of it after
// the sound's last page.
const std::vector<uint8_t>& BesideAnotherStream() {
  static const std::vector<uint8_t> file = [] {
    const Packets packets = ReadPackets(ReadAll(SoundFile(false)));
    if (packets.data.size() < 4) return std::vector<uint8_t>();
    ogg_stream_state other;
    ogg_stream_init(&other, static_cast<int>(packets.serial ^ 0x5a5a5a));
    std::vector<uint8_t> junk(16000);
    uint32_t x = 1;
    int64_t number = 0;
    const auto foreign = [&](std::vector<uint8_t>* out) {
      for (uint8_t& c : junk) c = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
      ogg_packet packet{};
      packet.packet = junk.data();
      packet.bytes = static_cast<long>(junk.size());
      packet.b_o_s = number == 0;
      packet.granulepos = number;
      packet.packetno = number++;
      ogg_stream_packetin(&other, &packet);
      ogg_page page;
      while (ogg_stream_flush(&other, &page) != 0) {
        out->insert(out->end(), page.header, page.header + page.header_len);
        out->insert(out->end(), page.body, page.body + page.body_len);
      }
    };
    std::vector<uint8_t> out = Repaged(packets, 8, 0, foreign);
    for (const size_t end = out.size() + (size_t{100} << 20); out.size() < end;) foreign(&out);
    ogg_stream_clear(&other);
    return out;
  }();
  return file;
}

// The file a benchmark's arg names.
std::vector<uint8_t> BenchFile(int64_t arg) {
  switch (arg) {
    case 2: return ChainFile();
    case 3: return LongDisagreeingFile();
    case 4: return TinyPageFile();
    case 5: return SixtyLinks();
    case 6: return BesideAnotherStream();
    default: return ReadAll(SoundFile(arg != 0));
  }
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
  const std::vector<uint8_t> file = BenchFile(state.range(0));
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
BENCHMARK(BM_OggDecodeWhole)
    ->ArgName("file")
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Arg(4)
    ->Arg(5)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

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
  const std::vector<uint8_t> file = BenchFile(state.range(0));
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
BENCHMARK(BM_OggOpen)->ArgName("file")->DenseRange(0, 6)->Unit(benchmark::kMicrosecond)->UseRealTime();

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
