// Mixing cost of the sound device: 32 looping 44.1 kHz stereo 16-bit buffers
// (half of them at a shifted frequency, so the resampler's fractional path
// runs) mixed for one second of output. The "realtime_fraction" counter is the
// share of one core that mixing takes while it plays in real time.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "platform/kernel/com.h"
#include "platform/audio/dsound.h"

namespace {

void BM_Mix32StereoBuffers(benchmark::State& state) {
  using namespace plat;
  SetAudioOutput(AudioOutput::kNull);
  DirectSound* ds = nullptr;
  CreateDirectSoundObject(&ds);
  ds->Initialize(nullptr);
  ds->SetCooperativeLevel(nullptr, kDSSCL_PRIORITY);
  WaveFormatEx f{kWaveFormatPcm, 2, 44100, 176400, 4, 16, 0};
  const uint32_t frames = 44100;
  std::vector<int16_t> samples(frames * 2);
  for (uint32_t i = 0; i < frames; ++i)
    samples[2 * i] = samples[2 * i + 1] = static_cast<int16_t>(8000 * std::sin(i * 0.05));
  std::vector<DirectSoundBuffer*> buffers;
  for (int n = 0; n < 32; ++n) {
    DsBufferDesc desc{sizeof(desc), kDSBCAPS_CTRLVOLUME | kDSBCAPS_CTRLPAN | kDSBCAPS_CTRLFREQUENCY, frames * 4, 0, &f};
    DirectSoundBuffer* b = nullptr;
    ds->CreateSoundBuffer(&desc, &b, nullptr);
    void *p1, *p2;
    uint32_t n1, n2;
    b->Lock(0, frames * 4, &p1, &n1, &p2, &n2, 0);
    std::memcpy(p1, samples.data(), n1);
    b->Unlock(p1, n1, p2, n2);
    b->SetVolume(-600);
    b->SetPan((n % 5 - 2) * 1000);
    if (n % 2) b->SetFrequency(44100 + 997 * n);
    b->Play(0, 0, kDSBPLAY_LOOPING);
    buffers.push_back(b);
  }
  std::vector<int16_t> out(1024 * 2);
  for (auto _ : state) {
    // One second of output in the output's usual chunks.
    for (uint32_t done = 0; done < 44100; done += 1024) {
      uint32_t n = std::min<uint32_t>(1024, 44100 - done);
      MixDeviceForTest(ds, out.data(), n);
    }
    benchmark::DoNotOptimize(out.data());
  }
  // Seconds of mixing per second of sound, from the measured wall time.
  state.counters["realtime_fraction"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate |
                                                                   benchmark::Counter::kInvert);
  for (DirectSoundBuffer* b : buffers) b->Release();
  ds->Release();
  SetAudioOutput(AudioOutput::kDefault);
}
BENCHMARK(BM_Mix32StereoBuffers)->Unit(benchmark::kMillisecond);

}  // namespace
