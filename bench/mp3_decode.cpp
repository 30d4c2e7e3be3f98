// MP3 decoding speed and the stream refill cost.
//
// BM_Mp3DecodeWhole converts a 60-second 44.1 kHz stereo 128 kbit/s MP3 whole
// into PCM through the MP3 converter (the compression-manager path);
// BM_Mp3DecodeThroughGraph converts the same file through the filter graph
// (the other converters switched off); BM_Mp3DecodeCommand decodes the same
// file with the mpg123 command (process start included) for comparison. Both
// report "x_realtime": seconds of music decoded per second of wall time.
// BM_StreamRefillPerSecond plays the file as a looping stream sound on the
// null output and runs the pump's refill every 30 ms of sound; its
// "refill_per_music_second" is the refill time spent per second of music.
// The test file is made by sox and lame in a folder of the user's own in the
// temporary folder (bench/bench_folder.h) and kept from run to run.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench/bench_folder.h"
#include "lib/core/memory.h"
#include "lib/core/stream.h"
#include "lib/sound/pcm_decoder.h"
#include "lib/sound/sound.h"
#include "lib/sound/sound_internal.h"
#include "platform/audio/dsound.h"
#include "platform/kernel/kernel.h"
#include "rorud/rorud.h"

namespace {

constexpr double kMusicSeconds = 60.0;

// The folder of the test file, the user's own, kept from run to run.
const benchfolder::Folder& Mp3Folder() {
  static const benchfolder::Folder folder = benchfolder::Make("rorud_bench_mp3");
  return folder;
}

const std::string& MusicFile() {
  static std::string path = [] {
    const std::string folder = Mp3Folder().path;
    if (folder.empty()) return folder;
    std::string mp3 = folder + "/music60.mp3";
    if (!std::filesystem::exists(mp3)) {
      std::string wav = folder + "/music60.wav";
      std::system(("sox -R -n -r 44100 -c 2 -b 16 " + wav +
                   " synth 60 sine 100-8000 pinknoise vol 0.5 >/dev/null 2>&1")
                      .c_str());
      const bool made =
          std::system(("lame --quiet -b 128 " + wav + " " + benchfolder::PartName(mp3) + " >/dev/null 2>&1").c_str()) ==
          0;
      std::filesystem::remove(wav);
      benchfolder::PutInPlace(mp3, made);
    }
    return mp3;
  }();
  return path;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void BM_Mp3DecodeWhole(benchmark::State& state) {
  if (!benchfolder::Usable(state, Mp3Folder())) return;
  std::vector<uint8_t> file = ReadAll(MusicFile());
  if (file.empty()) {
    state.SkipWithError("sox and lame are needed to make the test file");
    return;
  }
  LoadAcmFunctions();
  for (auto _ : state) {
    SoundStream stream{};
    stream.ops = *GetMemoryStreamTable();
    stream.handle = MemoryStreamOpen(file.data(), file.size());
    PcmDecoderRecord record{};
    if (OpenPcmDecoder(&stream, &record) != 0) {
      state.SkipWithError("the MP3 converter refused the file");
      break;
    }
    plat::WaveFormatEx format{};
    void* pcm = nullptr;
    int32_t size = 0;
    ConvertPcmDecoderToMemory(&record, &format, &pcm, &size);
    benchmark::DoNotOptimize(pcm);
    TrackedFree(pcm);
    ClosePcmDecoder(&record);
    stream.ops.close(stream.handle);
  }
  state.counters["x_realtime"] =
      benchmark::Counter(kMusicSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Mp3DecodeWhole)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Mp3DecodeThroughGraph(benchmark::State& state) {
  if (!benchfolder::Usable(state, Mp3Folder())) return;
  std::vector<uint8_t> file = ReadAll(MusicFile());
  if (file.empty()) {
    state.SkipWithError("sox and lame are needed to make the test file");
    return;
  }
  const int32_t mask = PcmDecoderDisableMask;
  PcmDecoderDisableMask = ~kPcmDisableMp3Graph;
  for (auto _ : state) {
    SoundStream stream{};
    stream.ops = *GetMemoryStreamTable();
    stream.handle = MemoryStreamOpen(file.data(), file.size());
    PcmDecoderRecord record{};
    if (OpenPcmDecoder(&stream, &record) != 0) {
      state.SkipWithError("the graph refused the file");
      stream.ops.close(stream.handle);
      break;
    }
    benchmark::DoNotOptimize(record.mem.data);
    ClosePcmDecoder(&record);
    stream.ops.close(stream.handle);
  }
  PcmDecoderDisableMask = mask;
  state.counters["x_realtime"] =
      benchmark::Counter(kMusicSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Mp3DecodeThroughGraph)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Mp3DecodeCommand(benchmark::State& state) {
  if (!benchfolder::Usable(state, Mp3Folder())) return;
  const std::string command = "mpg123 -q --no-gapless --no-infoframe -O /dev/null " + MusicFile() + " >/dev/null 2>&1";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("the mpg123 command is needed");
      break;
    }
  }
  state.counters["x_realtime"] =
      benchmark::Counter(kMusicSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Mp3DecodeCommand)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_StreamRefillPerSecond(benchmark::State& state) {
  if (!benchfolder::Usable(state, Mp3Folder())) return;
  std::vector<uint8_t> file = ReadAll(MusicFile());
  if (file.empty()) {
    state.SkipWithError("sox and lame are needed to make the test file");
    return;
  }
  plat::SetAudioOutput(plat::AudioOutput::kNull);
  plat::SetProcessorCountOverride(1);
  InitializeSoundSystem();
  SetSoundCreateMode(2);  // a stream sound whatever the length
  int handle = CreateSoundHandleFromFile(file.data(), static_cast<int>(file.size()), 1, -1);
  SetSoundCreateMode(0);
  if (handle == -1 || PlaySoundHandle(handle, 3, 1) != 0) {
    state.SkipWithError("the stream sound could not be made");
  } else {
    // One second of music per iteration: render 30 ms, refill, as the pump
    // would with one processor.
    const uint32_t step = plat::NullAudioRate() * 30 / 1000;
    const int steps = 1000 / 30;
    for (auto _ : state) {
      for (int i = 0; i < steps; ++i) {
        state.PauseTiming();
        plat::NullAudioRender(nullptr, step);
        state.ResumeTiming();
        RefillAllStreamSounds();
      }
    }
    state.counters["refill_per_music_second"] = benchmark::Counter(
        static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  }
  TerminateSoundSystem();
  plat::SetProcessorCountOverride(0);
  plat::SetAudioOutput(plat::AudioOutput::kDefault);
}
BENCHMARK(BM_StreamRefillPerSecond)->Unit(benchmark::kMillisecond);

}  // namespace
