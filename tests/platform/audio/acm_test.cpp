// Compression manager: each codec against a reference decode of files made by
// sox and lame at test time (decoded by sox and by the mpg123 command), the
// whole-block and destination rules of a conversion, and the refusals.
#include "platform/audio/acm.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

bool Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

// The "fmt " body and the data of a WAVE file.
struct WaveParts {
  std::vector<uint8_t> format;
  std::vector<uint8_t> data;
};
WaveParts SplitWave(const std::vector<uint8_t>& file) {
  WaveParts parts;
  size_t pos = 12;
  while (pos + 8 <= file.size()) {
    uint32_t size = Le32(&file[pos + 4]);
    const uint8_t* body = &file[pos + 8];
    size_t n = std::min<size_t>(size, file.size() - pos - 8);
    if (std::memcmp(&file[pos], "fmt ", 4) == 0) parts.format.assign(body, body + n);
    if (std::memcmp(&file[pos], "data", 4) == 0) parts.data.assign(body, body + n);
    pos += 8 + size + (size & 1);
  }
  if (parts.format.size() < 18) parts.format.resize(18, 0);
  return parts;
}

const plat::WaveFormatEx* Format(const WaveParts& p) {
  return reinterpret_cast<const plat::WaveFormatEx*>(p.format.data());
}

std::vector<int16_t> Samples(const std::vector<uint8_t>& bytes) {
  std::vector<int16_t> s(bytes.size() / 2);
  std::memcpy(s.data(), bytes.data(), s.size() * 2);
  return s;
}

// Runs a whole conversion in source pieces of the given sizes (cycled) and a
// destination of dest_size bytes, checking the rules of every call.
std::vector<uint8_t> ConvertAll(plat::AcmStream* stream, const std::vector<uint8_t>& source,
                                const std::vector<uint32_t>& pieces, uint32_t dest_size, uint32_t block) {
  std::vector<uint8_t> out;
  std::vector<uint8_t> dest(dest_size + 16, 0xA5);
  size_t pos = 0;
  size_t turn = 0;
  while (pos < source.size()) {
    plat::AcmStreamHeader h{};
    h.cb_struct = sizeof(h);
    uint32_t want = pieces[turn++ % pieces.size()];
    h.source = const_cast<uint8_t*>(source.data() + pos);
    h.source_length = static_cast<uint32_t>(std::min<size_t>(want, source.size() - pos));
    h.destination = dest.data();
    h.destination_length = dest_size;
    EXPECT_EQ(plat::AcmStreamPrepareHeader(stream, &h, 0), 0u);
    EXPECT_EQ(plat::AcmStreamConvert(stream, &h, plat::kACM_STREAMCONVERTF_BLOCKALIGN), 0u);
    EXPECT_EQ(plat::AcmStreamUnprepareHeader(stream, &h, 0), 0u);
    EXPECT_LE(h.source_length_used, h.source_length);
    EXPECT_LE(h.destination_length_used, dest_size);
    if (block > 1) {
      EXPECT_EQ(h.source_length_used % block, 0u);
    }
    for (int i = 0; i < 16; ++i) EXPECT_EQ(dest[dest_size + i], 0xA5) << "wrote past the destination";
    out.insert(out.end(), dest.begin(), dest.begin() + h.destination_length_used);
    if (h.destination_length_used == 0) break;
    pos += h.source_length_used;
  }
  return out;
}

class AcmCodecs : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ok_ = Shell("sox -n -r 22050 -c 2 acm_src2.wav synth 1.23 sine 200-4000 whitenoise vol 0.5") &&
          Shell("sox -n -r 11025 -c 1 acm_src1.wav synth 0.7 sine 300-2000 vol 0.6");
  }
  static bool ok_;
};
bool AcmCodecs::ok_ = false;

TEST_F(AcmCodecs, CodedWavesMatchTheReferenceDecode) {
  ASSERT_TRUE(ok_) << "sox is needed";
  const char* encodings[] = {"ms-adpcm", "ima-adpcm", "a-law", "u-law"};
  for (const char* source : {"acm_src1.wav", "acm_src2.wav"}) {
    for (const char* e : encodings) {
      std::string coded = std::string("acm_") + e + ".wav";
      ASSERT_TRUE(Shell(std::string("sox ") + source + " -e " + e + " " + coded));
      ASSERT_TRUE(Shell("sox " + coded + " -e signed-integer -b 16 -t raw acm_ref.raw"));
      WaveParts parts = SplitWave(ReadAll(coded));
      std::vector<uint8_t> reference = ReadAll("acm_ref.raw");
      const plat::WaveFormatEx* f = Format(parts);
      plat::WaveFormatEx pcm{};
      pcm.format_tag = plat::kWaveFormatPcm;
      ASSERT_EQ(plat::AcmFormatSuggest(nullptr, f, &pcm, sizeof(pcm), plat::kACM_FORMATSUGGESTF_WFORMATTAG), 0u) << e;
      EXPECT_EQ(pcm.channels, f->channels);
      EXPECT_EQ(pcm.samples_per_sec, f->samples_per_sec);
      EXPECT_EQ(pcm.bits_per_sample, 16);
      EXPECT_EQ(pcm.block_align, 2 * f->channels);
      plat::AcmStream* stream = nullptr;
      ASSERT_EQ(plat::AcmStreamOpen(&stream, nullptr, f, &pcm, nullptr, 0, 0, plat::kACM_STREAMOPENF_NONREALTIME), 0u);
      uint32_t expected = 0;
      ASSERT_EQ(plat::AcmStreamSize(stream, static_cast<uint32_t>(parts.data.size()), &expected,
                                    plat::kACM_STREAMSIZEF_SOURCE),
                0u);
      // Pieces that split blocks and a destination of a little over one block
      // of output: state must carry across calls.
      const uint32_t block = f->block_align;
      std::vector<uint8_t> out = ConvertAll(stream, parts.data, {2048, block + 5, 3 * block + 1, 5000},
                                            2 * f->channels * 1100u + 6, block);
      EXPECT_EQ(out.size(), expected) << source << " " << e;
      EXPECT_EQ(out.size(), reference.size()) << source << " " << e;
      std::vector<int16_t> a = Samples(out), b = Samples(reference);
      size_t differ = 0;
      for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) differ += a[i] != b[i];
      EXPECT_EQ(differ, 0u) << source << " " << e;
      EXPECT_EQ(plat::AcmStreamClose(stream, 0), 0u);
    }
  }
}

TEST(AcmG711, KnownCodes) {
  EXPECT_EQ(plat::MulawToLinear(0x00), -32124);
  EXPECT_EQ(plat::MulawToLinear(0x80), 32124);
  EXPECT_EQ(plat::MulawToLinear(0xFF), 0);
  EXPECT_EQ(plat::MulawToLinear(0x7F), 0);
  EXPECT_EQ(plat::AlawToLinear(0xD5), 8);
  EXPECT_EQ(plat::AlawToLinear(0x55), -8);
  EXPECT_EQ(plat::AlawToLinear(0xAA), 32256);
  EXPECT_EQ(plat::AlawToLinear(0x2A), -32256);
}

plat::WaveFormatEx Coded(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t block, uint16_t bits) {
  plat::WaveFormatEx f{};
  f.format_tag = tag;
  f.channels = channels;
  f.samples_per_sec = rate;
  f.block_align = block;
  f.bits_per_sample = bits;
  f.avg_bytes_per_sec = rate * block;
  return f;
}

TEST(AcmRefusals, UnsupportedAndInconsistentFormats) {
  auto suggest = [&](const plat::WaveFormatEx& f) {
    plat::WaveFormatEx out{};
    out.format_tag = plat::kWaveFormatPcm;
    return plat::AcmFormatSuggest(nullptr, &f, &out, sizeof(out), plat::kACM_FORMATSUGGESTF_WFORMATTAG);
  };
  EXPECT_EQ(suggest(Coded(1, 2, 44100, 4, 16)), plat::kACMERR_NOTPOSSIBLE);        // PCM is no codec
  EXPECT_EQ(suggest(Coded(0x31, 1, 8000, 65, 0)), plat::kACMERR_NOTPOSSIBLE);      // GSM 6.10
  EXPECT_EQ(suggest(Coded(0x50, 2, 44100, 1, 0)), plat::kACMERR_NOTPOSSIBLE);      // MPEG tag 0x50
  EXPECT_EQ(suggest(Coded(6, 2, 8000, 1, 8)), plat::kACMERR_NOTPOSSIBLE);          // block != channels
  EXPECT_EQ(suggest(Coded(0x11, 1, 8000, 4, 4)), plat::kACMERR_NOTPOSSIBLE);       // IMA without data
  EXPECT_EQ(suggest(Coded(0x11, 1, 8000, 256, 3)), plat::kACMERR_NOTPOSSIBLE);     // 3-bit IMA
  EXPECT_EQ(suggest(Coded(0x11, 3, 8000, 36, 4)), plat::kACMERR_NOTPOSSIBLE);      // three channels
  EXPECT_EQ(suggest(Coded(0x55, 2, 11025, 1, 0)), plat::kACMERR_NOTPOSSIBLE);      // no MPEG rate
  EXPECT_EQ(suggest(Coded(7, 1, 0, 1, 8)), plat::kACMERR_NOTPOSSIBLE);             // no rate
  EXPECT_EQ(suggest(Coded(7, 1, 4000000, 1, 8)), plat::kACMERR_NOTPOSSIBLE);       // absurd rate
  // MS ADPCM must carry its coefficient table in the extra bytes it names.
  struct {
    plat::WaveFormatEx f;
    uint8_t extra[32];
  } ms{};
  ms.f = Coded(2, 1, 8000, 256, 4);
  ms.f.extra_size = 4;
  ms.extra[0] = 0xF4;  // 500 samples per block
  ms.extra[1] = 0x01;
  ms.extra[2] = 7;  // seven pairs, but no room for them
  EXPECT_EQ(suggest(ms.f), plat::kACMERR_NOTPOSSIBLE);
  ms.f.extra_size = 32;
  EXPECT_EQ(suggest(ms.f), 0u);
  ms.extra[0] = 0xFF;  // more samples than the block holds
  EXPECT_EQ(suggest(ms.f), plat::kACMERR_NOTPOSSIBLE);

  // A destination other than the suggested PCM is refused.
  plat::WaveFormatEx ulaw = Coded(7, 1, 8000, 1, 8);
  plat::WaveFormatEx wrong{plat::kWaveFormatPcm, 2, 8000, 32000, 4, 16, 0};
  plat::AcmStream* stream = reinterpret_cast<plat::AcmStream*>(1);
  EXPECT_EQ(plat::AcmStreamOpen(&stream, nullptr, &ulaw, &wrong, nullptr, 0, 0, 0), plat::kACMERR_NOTPOSSIBLE);
  EXPECT_EQ(stream, nullptr);
  uint32_t size = 0;
  EXPECT_EQ(plat::AcmMetrics(nullptr, plat::kACM_METRIC_MAX_SIZE_FORMAT, &size), 0u);
  EXPECT_GE(size, 30u);
  EXPECT_NE(plat::AcmMetrics(nullptr, 1234, &size), 0u);
  EXPECT_EQ(plat::AcmFindEntryPoint("acmStreamSize"), reinterpret_cast<void*>(&plat::AcmStreamSize));
  EXPECT_EQ(plat::AcmFindEntryPoint("acmDriverOpen"), nullptr);
}

// A crafted MS ADPCM block: full-scale samples and coefficients and nibbles
// that grow the step on every sample. The arithmetic must stay defined (the
// sanitizer build stops at an overflow) and every sample saturate.
TEST(AcmMsAdpcm, ExtremeHeaderValuesSaturate) {
  struct {
    plat::WaveFormatEx f;
    uint8_t extra[8];
  } ms{};
  ms.f = Coded(2, 1, 8000, 256, 4);
  ms.f.extra_size = 8;
  const uint8_t extra[8] = {0xF4, 0x01, 1, 0, 0x00, 0x80, 0x00, 0x80};  // 500 samples, one pair -32768, -32768
  std::memcpy(ms.extra, extra, sizeof extra);
  plat::WaveFormatEx pcm{};
  pcm.format_tag = plat::kWaveFormatPcm;
  ASSERT_EQ(plat::AcmFormatSuggest(nullptr, &ms.f, &pcm, sizeof(pcm), plat::kACM_FORMATSUGGESTF_WFORMATTAG), 0u);
  plat::AcmStream* stream = nullptr;
  ASSERT_EQ(plat::AcmStreamOpen(&stream, nullptr, &ms.f, &pcm, nullptr, 0, 0, 0), 0u);
  std::vector<uint8_t> block(256, 0x88);
  block[0] = 0;                  // predictor
  block[1] = 0xFF, block[2] = 0x7F;  // the largest step
  block[3] = 0x00, block[4] = 0x80;  // newer sample -32768
  block[5] = 0x00, block[6] = 0x80;  // older sample -32768
  std::vector<uint8_t> source;
  for (int i = 0; i < 4; ++i) source.insert(source.end(), block.begin(), block.end());
  const std::vector<int16_t> out = Samples(ConvertAll(stream, source, {256}, 1000, 256));
  ASSERT_EQ(out.size(), 2000u);
  for (size_t i = 0; i < out.size(); ++i) ASSERT_TRUE(out[i] == -32768 || out[i] == 32767) << i;
  EXPECT_EQ(plat::AcmStreamClose(stream, 0), 0u);
}

TEST(AcmHeaders, PreparationRules) {
  plat::WaveFormatEx ulaw = Coded(7, 2, 8000, 2, 8);
  plat::WaveFormatEx pcm{};
  pcm.format_tag = plat::kWaveFormatPcm;
  ASSERT_EQ(plat::AcmFormatSuggest(nullptr, &ulaw, &pcm, sizeof(pcm), 0), 0u);
  plat::AcmStream* stream = nullptr;
  ASSERT_EQ(plat::AcmStreamOpen(&stream, nullptr, &ulaw, &pcm, nullptr, 0, 0, 0), 0u);
  uint8_t source[7] = {0xFF, 0x00, 0x80, 0x7F, 0x12, 0x34, 0x56};
  uint8_t dest[12];
  plat::AcmStreamHeader h{};
  h.cb_struct = sizeof(h);
  h.source = source;
  h.source_length = sizeof(source);
  h.destination = dest;
  h.destination_length = sizeof(dest);
  EXPECT_EQ(plat::AcmStreamConvert(stream, &h, 0), plat::kACMERR_UNPREPARED);
  EXPECT_EQ(plat::AcmStreamUnprepareHeader(stream, &h, 0), plat::kACMERR_UNPREPARED);
  ASSERT_EQ(plat::AcmStreamPrepareHeader(stream, &h, 0), 0u);
  ASSERT_EQ(plat::AcmStreamConvert(stream, &h, plat::kACM_STREAMCONVERTF_BLOCKALIGN), 0u);
  // Three whole blocks of two bytes; the odd byte stays.
  EXPECT_EQ(h.source_length_used, 6u);
  EXPECT_EQ(h.destination_length_used, 12u);
  EXPECT_EQ(static_cast<int16_t>(dest[0] | dest[1] << 8), 0);
  EXPECT_EQ(static_cast<int16_t>(dest[2] | dest[3] << 8), -32124);
  // A header whose buffers changed after preparation is refused.
  uint8_t other[4];
  h.destination = other;
  EXPECT_EQ(plat::AcmStreamConvert(stream, &h, 0), plat::kMMSYSERR_INVALPARAM);
  h.destination = dest;
  h.destination_length = 3;  // less than one block of output
  ASSERT_EQ(plat::AcmStreamConvert(stream, &h, 0), 0u);
  EXPECT_EQ(h.source_length_used, 0u);
  EXPECT_EQ(h.destination_length_used, 0u);
  EXPECT_EQ(plat::AcmStreamUnprepareHeader(stream, &h, 0), 0u);
  h.cb_struct = 84;
  EXPECT_EQ(plat::AcmStreamPrepareHeader(stream, &h, 0), plat::kMMSYSERR_INVALPARAM);
  EXPECT_EQ(plat::AcmStreamClose(stream, 0), 0u);
  EXPECT_EQ(plat::AcmStreamClose(nullptr, 0), plat::kMMSYSERR_INVALHANDLE);
}

// The MPEG codec, fed in arbitrary pieces, gives what the mpg123 command gives
// without gapless trimming and with the info frame decoded as a frame.
TEST(AcmMpeg, FramesMatchTheReferenceDecoder) {
  ASSERT_TRUE(Shell("sox -n -r 32000 -c 2 acm_mp3src.wav synth 1.5 sine 200-3000 pinknoise vol 0.5"));
  ASSERT_TRUE(Shell("lame --quiet -b 96 acm_mp3src.wav acm_codec.mp3"));
  ASSERT_TRUE(Shell("mpg123 -q --no-gapless --no-infoframe -O acm_codec.raw acm_codec.mp3"));
  std::vector<uint8_t> mp3 = ReadAll("acm_codec.mp3");
  std::vector<uint8_t> reference = ReadAll("acm_codec.raw");
  size_t first = 0;
  if (mp3.size() > 10 && std::memcmp(mp3.data(), "ID3", 3) == 0)
    first = 10 + ((mp3[6] << 21) | (mp3[7] << 14) | (mp3[8] << 7) | mp3[9]);
  std::vector<uint8_t> frames(mp3.begin() + static_cast<long>(first), mp3.end());
  plat::MpegLayer3WaveFormat l3{};
  l3.wfx = Coded(plat::kWaveFormatMpegLayer3, 2, 32000, 1, 0);
  l3.wfx.extra_size = 12;
  l3.id = 1;
  l3.block_size = 432;
  l3.frames_per_block = 1;
  plat::WaveFormatEx pcm{};
  pcm.format_tag = plat::kWaveFormatPcm;
  ASSERT_EQ(plat::AcmFormatSuggest(nullptr, &l3.wfx, &pcm, sizeof(pcm), plat::kACM_FORMATSUGGESTF_WFORMATTAG), 0u);
  plat::AcmStream* stream = nullptr;
  ASSERT_EQ(plat::AcmStreamOpen(&stream, nullptr, &l3.wfx, &pcm, nullptr, 0, 0, 0), 0u);
  std::vector<uint8_t> out = ConvertAll(stream, frames, {2048, 500, 1000}, 1152 * 4 * 2 + 100, 1);
  // Output is whole frames: a multiple of 1152 samples.
  EXPECT_EQ(out.size() % (1152 * 4), 0u);
  ASSERT_EQ(out.size(), reference.size());
  std::vector<int16_t> a = Samples(out), b = Samples(reference);
  int worst = 0;
  for (size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::abs(a[i] - b[i]));
  EXPECT_LE(worst, 1);

  // A frame cut short stays unconsumed, and a destination smaller than one
  // frame's output takes nothing.
  plat::AcmStreamHeader h{};
  h.cb_struct = sizeof(h);
  std::vector<uint8_t> dest(1152 * 4);
  h.source = frames.data();
  h.source_length = 300;
  h.destination = dest.data();
  h.destination_length = static_cast<uint32_t>(dest.size());
  ASSERT_EQ(plat::AcmStreamPrepareHeader(stream, &h, 0), 0u);
  ASSERT_EQ(plat::AcmStreamConvert(stream, &h, plat::kACM_STREAMCONVERTF_START), 0u);
  EXPECT_EQ(h.source_length_used, 0u);
  EXPECT_EQ(h.destination_length_used, 0u);
  plat::AcmStreamUnprepareHeader(stream, &h, 0);
  h.source_length = 2048;
  h.destination_length = 1152 * 4 - 1;
  ASSERT_EQ(plat::AcmStreamPrepareHeader(stream, &h, 0), 0u);
  ASSERT_EQ(plat::AcmStreamConvert(stream, &h, 0), 0u);
  EXPECT_EQ(h.destination_length_used, 0u);
  plat::AcmStreamUnprepareHeader(stream, &h, 0);
  plat::AcmStreamClose(stream, 0);
}

}  // namespace
