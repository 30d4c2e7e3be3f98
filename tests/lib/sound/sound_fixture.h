// tests/lib/sound/sound_fixture.h - a started sound system on the null audio
// output (its clock moves only when a test renders), one processor (no sound
// thread), with the log captured; and WAVE helpers for the tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "lib/core/log.h"
#include "lib/core/memory.h"
#include "lib/sound/sound.h"
#include "lib/sound/sound_internal.h"
#include "platform/audio/dsound.h"
#include "platform/kernel/kernel.h"
#include "rorud/rorud.h"
#include "tests/support/log_capture.h"
#include "tests/support/sjis.h"

namespace soundtest {

// The times (ms) at which sound starts after at least 0.1 s of quiet, from
// the peaks of 5 ms windows of stereo frames at 44100 a second.
inline std::vector<int> Onsets(const std::vector<int16_t>& sound) {
  constexpr size_t kWindow = 441 / 2;
  std::vector<int> onsets;
  int quiet = 20;
  for (size_t w = 0; (w + 1) * kWindow * 2 <= sound.size(); ++w) {
    int peak = 0;
    for (size_t i = w * kWindow * 2; i < (w + 1) * kWindow * 2; ++i)
      peak = std::max(peak, std::abs(static_cast<int>(sound[i])));
    if (peak > 3000 && quiet >= 20) onsets.push_back(static_cast<int>(w * 5));
    quiet = peak < 500 ? quiet + 1 : 0;
  }
  return onsets;
}

// A log text as the debugger output shows it: code page 932, CR LF line ends.
inline std::string LogText(const std::string& utf8) {
  std::string out;
  for (char c : testsupport::Sjis(utf8)) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// 16-bit samples from their bytes.
inline std::vector<int16_t> PcmSamples(const std::vector<uint8_t>& bytes) {
  std::vector<int16_t> s(bytes.size() / 2);
  std::memcpy(s.data(), bytes.data(), s.size() * 2);
  return s;
}

inline std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Runs sox in the current folder; false when it fails.
// A command line run quietly: whether it succeeded.
inline bool Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

inline bool Sox(const std::string& arguments) {
  std::string command = "sox " + arguments + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

inline void Put32(std::vector<uint8_t>& v, uint32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}
inline void Put16(std::vector<uint8_t>& v, uint16_t x) {
  v.push_back(static_cast<uint8_t>(x));
  v.push_back(static_cast<uint8_t>(x >> 8));
}
// Byte by byte, as Put32 does: GCC 12 takes a four-byte range insert into an
// empty vector for a write past its new block.
inline void PutId(std::vector<uint8_t>& v, const char* id) {
  for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(id[i]));
}

// A WAVE file of PCM with the given fmt body size (16 or 18) and optional
// extra chunks placed before "data".
struct WaveSpec {
  uint16_t tag = 1;
  uint16_t channels = 1;
  uint32_t rate = 8000;
  uint16_t bits = 8;
  uint32_t avg = 0;  // 0: computed
  uint32_t fmt_size = 16;
  std::vector<uint8_t> chunks_before_data;
  bool bext = false;
  int64_t data_size_override = -1;
};

inline std::vector<uint8_t> MakeWave(const WaveSpec& s, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> v;
  PutId(v, "RIFF");
  Put32(v, 0);
  PutId(v, "WAVE");
  if (s.bext) {
    PutId(v, "bext");
    Put32(v, 3);  // odd, skipped without padding
    v.insert(v.end(), {1, 2, 3});
  }
  PutId(v, "fmt ");
  Put32(v, s.fmt_size);
  uint16_t block = static_cast<uint16_t>(s.channels * s.bits / 8);
  Put16(v, s.tag);
  Put16(v, s.channels);
  Put32(v, s.rate);
  Put32(v, s.avg ? s.avg : s.rate * block);
  Put16(v, block);
  Put16(v, s.bits);
  for (uint32_t i = 16; i < s.fmt_size; ++i) v.push_back(0);
  v.insert(v.end(), s.chunks_before_data.begin(), s.chunks_before_data.end());
  PutId(v, "data");
  Put32(v, s.data_size_override >= 0 ? static_cast<uint32_t>(s.data_size_override) : static_cast<uint32_t>(data.size()));
  v.insert(v.end(), data.begin(), data.end());
  uint32_t riff = static_cast<uint32_t>(v.size() - 8);
  std::memcpy(v.data() + 4, &riff, 4);
  return v;
}

inline std::vector<uint8_t> Ramp(size_t bytes) {
  std::vector<uint8_t> v(bytes);
  for (size_t i = 0; i < bytes; ++i) v[i] = static_cast<uint8_t>(i * 7 + 3);
  return v;
}

class SoundFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::SetAudioOutput(plat::AudioOutput::kNull);
    plat::ClearDsoundFaults();
    plat::SetProcessorCountOverride(1);
    ASSERT_EQ(InitializeSoundSystem(), 0);
  }
  void TearDown() override {
    TerminateSoundSystem();
    plat::SetProcessorCountOverride(0);
    plat::SetAudioOutput(plat::AudioOutput::kDefault);
    plat::ClearDsoundFaults();
    SoundCreateMode = 0;
    PcmDecoderDisableMask = 0;
  }
  std::vector<int16_t> Render(uint32_t frames) {
    std::vector<int16_t> out(frames * 2);
    plat::NullAudioRender(out.data(), frames);
    return out;
  }
  // The bytes in a handle's buffer.
  std::vector<uint8_t> BufferBytes(int handle, int index = 0) {
    SoundRecord* r = FindSound(handle);
    if (r == nullptr || !r->buffers[index].made) return {};
    SoundBufferPieces pieces{};
    uint32_t size = r->kind == kSoundStream ? static_cast<uint32_t>(r->stream.ring_size) : r->data_size;
    if (size == 0 || SoundBufLock(&r->buffers[index], 0, size, &pieces) != 0) return {};
    std::vector<uint8_t> out(static_cast<uint8_t*>(pieces.piece1), static_cast<uint8_t*>(pieces.piece1) + pieces.bytes1);
    SoundBufUnlock(&r->buffers[index], &pieces);
    return out;
  }
  // The PCM a file loads to, whole (mode 0) or read through its decoding
  // stream (mode 3), with its channel count; empty when it does not load.
  std::vector<uint8_t> LoadedPcm(const std::string& file, int mode, int* channels = nullptr) {
    SoundCreateMode = mode;
    const int handle = LoadSoundHandle(file.c_str(), 1, -1);
    SoundCreateMode = 0;
    if (handle == -1) return {};
    SoundRecord* r = FindSound(handle);
    if (channels != nullptr) *channels = r->format.channels;
    std::vector<uint8_t> pcm = BufferBytes(handle);
    if (mode == 3) {
      PcmDecoderRecord* d = &r->stream.files[0].decoder;
      pcm.resize(static_cast<size_t>(GetPcmDecoderLength(d)));
      SeekPcmDecoder(d, 0);
      pcm.resize(static_cast<size_t>(std::max(0, RunPcmDecoder(d, pcm.data(), static_cast<int32_t>(pcm.size())))));
    }
    DeleteSoundHandle(handle, 0);
    return pcm;
  }
  int Load(const std::vector<uint8_t>& file, int buffers = 1) {
    return CreateSoundHandleFromFile(file.data(), static_cast<int>(file.size()), buffers, -1);
  }
  testsupport::LogCapture log_;
};

}  // namespace soundtest
