// Coded WAVE, MP3 and Ogg Vorbis sounds: files made at test time by sox, lame
// and oggenc load with the samples of a reference decode (sox, the mpg123
// command, oggdec); tags and damaged files; seeking through the look-ahead
// decoder; and the music path: a long MP3 looped as a stream sound.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <chrono>
#include <functional>

#include "tests/lib/sound/sound_fixture.h"

namespace {

using namespace soundtest;

std::vector<int16_t> Samples(const uint8_t* bytes, size_t size) {
  std::vector<int16_t> s(size / 2);
  std::memcpy(s.data(), bytes, s.size() * 2);
  return s;
}
std::vector<int16_t> Samples(const std::vector<uint8_t>& bytes) { return Samples(bytes.data(), bytes.size()); }

int WorstDifference(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
  int worst = 0;
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) worst = std::max(worst, std::abs(a[i] - b[i]));
  return worst;
}

// The reference decode of an MP3: every frame, nothing trimmed, the info
// frame decoded as a frame.
bool Mpg123(const std::string& mp3, const std::string& raw) {
  return Shell("mpg123 -q --no-gapless --no-infoframe -O " + raw + " " + mp3);
}

// A converter opened over a file image, for the tests that look inside.
struct Converter {
  explicit Converter(const std::vector<uint8_t>& image) : data(image) {
    stream.ops = *GetMemoryStreamTable();
    stream.handle = MemoryStreamOpen(data.data(), data.size());
    ok = OpenPcmDecoder(&stream, &record) == 0;
  }
  ~Converter() {
    if (ok) ClosePcmDecoder(&record);
    stream.ops.close(stream.handle);
  }
  std::vector<uint8_t> Read(int32_t bytes) {
    std::vector<uint8_t> out(static_cast<size_t>(bytes));
    int32_t got = RunPcmDecoder(&record, out.data(), bytes);
    out.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return out;
  }
  std::vector<uint8_t> data;
  SoundStream stream{};
  PcmDecoderRecord record{};
  bool ok = false;
};

class CodedSoundTest : public SoundFixture {};

TEST_F(CodedSoundTest, CodedWavesLoadWithTheReferenceSamples) {
  ASSERT_TRUE(Sox("-n -r 22050 -c 2 cw_src.wav synth 0.8 sine 300-3000 whitenoise vol 0.5"));
  for (const char* e : {"ms-adpcm", "ima-adpcm", "a-law", "u-law"}) {
    std::string name = std::string("cw_") + e;
    ASSERT_TRUE(Sox("cw_src.wav -e " + std::string(e) + " " + name + ".wav"));
    ASSERT_TRUE(Sox(name + ".wav -e signed-integer -b 16 -t raw " + name + ".raw"));
    std::vector<uint8_t> reference = ReadAll(name + ".raw");
    int handle = Load(ReadAll(name + ".wav"));
    ASSERT_NE(handle, -1) << e;
    SoundRecord* r = FindSound(handle);
    EXPECT_EQ(r->format.format_tag, plat::kWaveFormatPcm);
    EXPECT_EQ(r->format.bits_per_sample, 16);
    EXPECT_EQ(r->format.block_align, 4);
    EXPECT_EQ(r->format.samples_per_sec, 22050u);
    EXPECT_EQ(BufferBytes(handle), reference) << e;
    DeleteSoundHandle(handle, 0);

    // Without a known sample count the length is what the codec makes of
    // all the coded bytes; the plain converter and a disabled coded one
    // refuse the file.
    Converter c(ReadAll(name + ".wav"));
    ASSERT_TRUE(c.ok);
    EXPECT_EQ(c.record.kind, kPcmDecoderAcm);
    EXPECT_EQ(c.record.acm.total_samples, -1);
    EXPECT_EQ(GetPcmDecoderLength(&c.record), static_cast<int32_t>(reference.size()));
    EXPECT_EQ(c.record.buffer_size, 22050 * 4);
    PcmDecoderDisableMask = kPcmDisableAcmWave | kPcmDisableMp3Acm | kPcmDisableMp3Graph;
    EXPECT_EQ(Load(ReadAll(name + ".wav")), -1);
    PcmDecoderDisableMask = 0;
  }
}

// A format body whose extra size claims more bytes than the body holds is
// refused instead of letting the codec read past it.
TEST_F(CodedSoundTest, CodedFormatShorterThanItsExtraSizeIsRefused) {
  ASSERT_TRUE(Sox("-R -n -r 8000 -c 1 cx_src.wav synth 0.2 sine 440 vol 0.5"));
  ASSERT_TRUE(Sox("cx_src.wav -e ms-adpcm cx.wav"));
  std::vector<uint8_t> file = ReadAll("cx.wav");
  ASSERT_NE(Load(file), -1);
  // The extra size sits at offset 36 (12 + 8 + 16).
  file[36] = 0xFF;
  file[37] = 0x00;
  // (Coded data can hold what the MP3 frame scans take for frames.)
  PcmDecoderDisableMask = kPcmDisableMp3Acm | kPcmDisableMp3Graph;
  EXPECT_EQ(Load(file), -1);
}

// Blocks larger than one decoding step of 2048 coded bytes are still taken
// whole (a step is at least one block), so such a file is not cut off unread.
TEST_F(CodedSoundTest, BlocksLargerThanOneDecodingStep) {
  const uint16_t block = 4100;  // four header bytes and 8192 samples of data
  std::vector<uint8_t> v;
  PutId(v, "RIFF");
  Put32(v, 0);
  PutId(v, "WAVE");
  PutId(v, "fmt ");
  Put32(v, 20);
  Put16(v, 0x11);
  Put16(v, 1);
  Put32(v, 8000);
  Put32(v, 8000u * block / 8193);
  Put16(v, block);
  Put16(v, 4);
  Put16(v, 2);
  Put16(v, 8193);
  PutId(v, "data");
  Put32(v, 3u * block);
  uint32_t seed = 99;
  for (int b = 0; b < 3; ++b) {
    v.insert(v.end(), {0x10, 0x00, 20, 0});
    for (int i = 0; i < block - 4; ++i) {
      seed = seed * 1103515245u + 12345u;
      v.push_back(static_cast<uint8_t>(seed >> 16));
    }
  }
  uint32_t riff = static_cast<uint32_t>(v.size() - 8);
  std::memcpy(v.data() + 4, &riff, 4);
  std::FILE* f = std::fopen("big_block.wav", "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(v.data(), 1, v.size(), f);
  std::fclose(f);
  ASSERT_TRUE(Sox("big_block.wav -e signed-integer -b 16 -t raw big_block.raw"));
  std::vector<uint8_t> reference = ReadAll("big_block.raw");
  ASSERT_EQ(reference.size(), 3u * 8193 * 2);
  int handle = Load(v);
  ASSERT_NE(handle, -1);
  EXPECT_EQ(BufferBytes(handle), reference);
}

struct Mp3Case {
  int rate, channels;
  const char* lame;
};

TEST_F(CodedSoundTest, Mp3FilesMatchTheReferenceDecoder) {
  const Mp3Case cases[] = {{22050, 1, "-b 32"},  {44100, 2, "-b 128"}, {48000, 2, "-V 5"},
                           {32000, 1, "-V 7"},   {24000, 2, "-b 64"},  {16000, 1, "-t -b 24"}};
  for (const Mp3Case& c : cases) {
    std::string name = "mp3_" + std::to_string(c.rate) + "_" + std::to_string(c.channels);
    ASSERT_TRUE(Sox("-n -r " + std::to_string(c.rate) + " -c " + std::to_string(c.channels) + " " + name +
                    ".wav synth 1.3 sine 200-5000 pinknoise vol 0.5"));
    ASSERT_TRUE(Shell(std::string("lame --quiet ") + c.lame + " " + name + ".wav " + name + ".mp3"));
    ASSERT_TRUE(Mpg123(name + ".mp3", name + ".raw"));
    std::vector<uint8_t> reference = ReadAll(name + ".raw");
    int handle = Load(ReadAll(name + ".mp3"));
    ASSERT_NE(handle, -1) << name;
    SoundRecord* r = FindSound(handle);
    EXPECT_EQ(r->format.samples_per_sec, static_cast<uint32_t>(c.rate));
    EXPECT_EQ(r->format.channels, c.channels);
    EXPECT_EQ(r->format.block_align, 2 * c.channels);
    std::vector<uint8_t> pcm = BufferBytes(handle);
    EXPECT_EQ(pcm.size(), reference.size()) << name;
    EXPECT_LE(WorstDifference(Samples(pcm), Samples(reference)), 1) << name;
    DeleteSoundHandle(handle, 0);

    Converter conv(ReadAll(name + ".mp3"));
    ASSERT_TRUE(conv.ok);
    const int32_t per_frame = c.rate >= 32000 ? 1152 : 576;
    EXPECT_EQ(GetPcmDecoderLength(&conv.record), static_cast<int32_t>(reference.size()));
    EXPECT_EQ(conv.record.acm.total_samples % per_frame, 0);
    EXPECT_EQ(conv.record.buffer_size, c.rate * 2 * c.channels * 4 / 3);
    auto* l3 = reinterpret_cast<const plat::MpegLayer3WaveFormat*>(conv.record.acm.source_format);
    EXPECT_EQ(l3->wfx.format_tag, plat::kWaveFormatMpegLayer3);
    EXPECT_EQ(l3->codec_delay, 700);
    EXPECT_EQ(l3->frames_per_block, 1);
  }
}

// ID3v2.4 with a footer is skipped by size + 20; an ID3v1 block ends the
// frames even when its bytes look like a frame header.
TEST_F(CodedSoundTest, Mp3TagsAreSkipped) {
  ASSERT_TRUE(Sox("-n -r 22050 -c 1 tag_src.wav synth 0.6 sine 500 vol 0.5"));
  ASSERT_TRUE(Shell("lame --quiet -t -b 32 tag_src.wav tag.mp3"));
  std::vector<uint8_t> plain = ReadAll("tag.mp3");
  Converter reference(plain);
  ASSERT_TRUE(reference.ok);
  std::vector<uint8_t> expected = reference.Read(GetPcmDecoderLength(&reference.record));

  const uint32_t body = 300;
  std::vector<uint8_t> tagged = {'I', 'D', '3', 4, 0, 0x10, 0, 0, body >> 7, body & 0x7F};
  // The body and footer hold what would look like frame syncs.
  for (uint32_t i = 0; i < body + 10; ++i) tagged.push_back(i % 3 == 0 ? 0xFF : 0xFB);
  tagged.insert(tagged.end(), plain.begin(), plain.end());
  std::vector<uint8_t> v1 = {'T', 'A', 'G', 0xFF, 0xFB, 0x90, 0x00};
  v1.resize(128, 0);
  tagged.insert(tagged.end(), v1.begin(), v1.end());
  Converter c(tagged);
  ASSERT_TRUE(c.ok);
  EXPECT_EQ(c.record.data_pos, static_cast<int32_t>(body + 20));
  EXPECT_EQ(c.record.data_size, static_cast<int32_t>(plain.size()));
  EXPECT_EQ(GetPcmDecoderLength(&c.record), static_cast<int32_t>(expected.size()));
  EXPECT_EQ(c.Read(GetPcmDecoderLength(&c.record) + 100), expected);
  EXPECT_EQ(c.record.end_of_data, 1);
  EXPECT_EQ(c.Read(10).size(), 0u);
}

// Bytes before the frames (here after an ID3v2 tag) with a frame sync whose
// header parses but begins no chain of frames: the file loads at the rate and
// with the samples of its frames, as the mpg123 command decodes it.
TEST_F(CodedSoundTest, FalseSyncBeforeTheFramesIsPassedOver) {
  ASSERT_TRUE(Sox("-n -r 44100 -c 2 fs_src.wav synth 0.8 sine 300-3000 vol 0.5"));
  ASSERT_TRUE(Shell("lame --quiet -t -b 128 fs_src.wav fs.mp3"));
  const std::vector<uint8_t> frames = ReadAll("fs.mp3");
  std::vector<uint8_t> file = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 20};
  file.resize(30, 0);
  // MPEG-2 Layer III, 24000 Hz mono, 96 bytes: the real frames follow at its
  // end, but they are MPEG-1 at 44100 Hz.
  file.insert(file.end(), {0xFF, 0xF3, 0x44, 0xC0});
  file.resize(file.size() + 92, 0);
  file.insert(file.end(), frames.begin(), frames.end());
  std::ofstream("fs_false.mp3", std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  ASSERT_TRUE(Mpg123("fs_false.mp3", "fs_false.raw"));
  const std::vector<uint8_t> reference = ReadAll("fs_false.raw");
  ASSERT_EQ(reference.size() % (1152 * 4), 0u);

  const int handle = LoadSoundHandle("fs_false.mp3", 1, -1);
  ASSERT_NE(handle, -1);
  const SoundRecord* r = FindSound(handle);
  EXPECT_EQ(r->format.samples_per_sec, 44100u);
  EXPECT_EQ(r->format.channels, 2);
  const std::vector<uint8_t> pcm = BufferBytes(handle);
  EXPECT_EQ(pcm.size(), reference.size());
  EXPECT_LE(WorstDifference(Samples(pcm), Samples(reference)), 1);
  DeleteSoundHandle(handle, 0);
  Converter c(file);
  ASSERT_TRUE(c.ok);
  EXPECT_EQ(c.record.kind, kPcmDecoderAcm);
  EXPECT_EQ(c.record.data_pos, 30 + 96);
}

TEST_F(CodedSoundTest, MpegHeaderFields) {
  MpegFrameInfo f{};
  const uint8_t l3[4] = {0xFF, 0xFB, 0x92, 0x44};  // MPEG-1 III 128 kbit/s 44100, padded
  ASSERT_EQ(ParseMpegAudioHeader(l3, &f), 0);
  EXPECT_EQ(f.layer, 2);
  EXPECT_EQ(f.version, 0);
  EXPECT_EQ(f.bitrate, 128u);
  EXPECT_EQ(f.rate, 44100u);
  EXPECT_EQ(f.padding, 1);
  EXPECT_EQ(f.channels, 2);
  EXPECT_EQ(f.frame_length, 418u);
  EXPECT_EQ(f.samples, 1152u);
  const uint8_t l3m2[4] = {0xFF, 0xF3, 0x44, 0xC0};  // MPEG-2 III 32 kbit/s 24000 mono
  ASSERT_EQ(ParseMpegAudioHeader(l3m2, &f), 0);
  EXPECT_EQ(f.version, 1);
  EXPECT_EQ(f.channels, 1);
  EXPECT_EQ(f.frame_length, 96u);
  EXPECT_EQ(f.samples, 576u);
  const uint8_t l1[4] = {0xFF, 0xFF, 0x10, 0x00};  // MPEG-1 I 32 kbit/s 44100
  ASSERT_EQ(ParseMpegAudioHeader(l1, &f), 0);
  EXPECT_EQ(f.layer, 0);
  EXPECT_EQ(f.frame_length, 32u);
  EXPECT_EQ(f.samples, 384u);
  const uint8_t l2[4] = {0xFF, 0xFD, 0x14, 0x00};  // MPEG-1 II 32 kbit/s 48000
  ASSERT_EQ(ParseMpegAudioHeader(l2, &f), 0);
  EXPECT_EQ(f.layer, 1);
  EXPECT_EQ(f.frame_length, 96u);
  const uint8_t bad_layer[4] = {0xFF, 0xF9, 0x90, 0x00};
  const uint8_t bad_rate[4] = {0xFF, 0xFB, 0xF0, 0x00};
  const uint8_t bad_sample[4] = {0xFF, 0xFB, 0x9C, 0x00};
  const uint8_t no_sync[4] = {0xFF, 0xE3, 0x90, 0x00};
  EXPECT_EQ(ParseMpegAudioHeader(bad_layer, &f), -1);
  EXPECT_EQ(ParseMpegAudioHeader(bad_rate, &f), -1);
  EXPECT_EQ(ParseMpegAudioHeader(bad_sample, &f), -1);
  EXPECT_EQ(ParseMpegAudioHeader(no_sync, &f), -2);
}

class DamagedMp3Test : public CodedSoundTest {
 protected:
  void SetUp() override {
    CodedSoundTest::SetUp();
    // What the compression-manager path refuses here the filter graph takes
    // (its own tests); these are about the compression-manager path.
    PcmDecoderDisableMask = kPcmDisableMp3Graph;
    ASSERT_TRUE(Sox("-n -r 44100 -c 2 dm_src.wav synth 0.8 sine 300-3000 vol 0.5"));
    ASSERT_TRUE(Shell("lame --quiet -t -b 128 dm_src.wav dm.mp3"));
    ASSERT_TRUE(Mpg123("dm.mp3", "dm.raw"));
    file_ = ReadAll("dm.mp3");
    reference_ = ReadAll("dm.raw");
  }
  // Byte offsets of the frames, by walking their lengths.
  std::vector<size_t> Frames() {
    std::vector<size_t> at;
    size_t pos = 0;
    MpegFrameInfo f{};
    while (pos + 4 <= file_.size() && ParseMpegAudioHeader(&file_[pos], &f) == 0) {
      at.push_back(pos);
      pos += f.frame_length;
    }
    return at;
  }
  std::vector<uint8_t> file_, reference_;
};

TEST_F(DamagedMp3Test, BadHeaderAfterGoodFramesRefusesTheFile) {
  std::vector<size_t> frames = Frames();
  ASSERT_GT(frames.size(), 20u);
  for (uint8_t damage : {uint8_t{0xF0}, uint8_t{0x9C}}) {  // bit-rate index 15, rate index 3
    std::vector<uint8_t> bad = file_;
    bad[frames[15] + 2] = damage;
    EXPECT_EQ(Load(bad), -1);
  }
  std::vector<uint8_t> bad = file_;
  bad[frames[15] + 1] = 0xF9;  // layer bits 00
  EXPECT_EQ(Load(bad), -1);
}

TEST_F(DamagedMp3Test, TruncatedFileDecodesWhatIsWhole) {
  std::vector<size_t> frames = Frames();
  std::vector<uint8_t> cut(file_.begin(), file_.begin() + static_cast<long>(frames[12] + 100));
  int handle = Load(cut);
  ASSERT_NE(handle, -1);
  std::vector<uint8_t> pcm = BufferBytes(handle);
  // The twelve whole frames; the cut one is not decoded.
  ASSERT_EQ(pcm.size(), 12u * 1152 * 4);
  EXPECT_LE(WorstDifference(Samples(pcm), Samples(reference_)), 1);
}

// A frame with the free-format bit rate has no length to skip by: with the
// padding bit it would come out as one byte and send the scan backwards.
TEST_F(DamagedMp3Test, FreeFormatFramesAreRefusedWithoutHanging) {
  for (uint8_t b2 : {uint8_t{0x02}, uint8_t{0x00}}) {
    std::vector<uint8_t> file;
    for (int i = 0; i < 50; ++i) file.insert(file.end(), {0xFF, 0xFB, b2, 0x00, 0x11, 0x22});
    EXPECT_EQ(Load(file), -1);
    std::vector<uint8_t> mixed = file_;
    std::vector<size_t> frames = Frames();
    mixed[frames[5] + 2] = b2;
    EXPECT_EQ(Load(mixed), -1);
  }
}

TEST_F(DamagedMp3Test, GarbageBetweenAndInsideFramesNeitherHangsNorOverruns) {
  std::vector<size_t> frames = Frames();
  std::vector<uint8_t> noisy = file_;
  // Frame bodies overwritten with noise decode to something (or silence).
  uint32_t seed = 12345;
  for (size_t k = 3; k < frames.size(); k += 4)
    for (size_t i = frames[k] + 4; i < frames[k] + 200 && i < noisy.size(); ++i) {
      seed = seed * 1103515245u + 12345u;
      noisy[i] = static_cast<uint8_t>((seed >> 16) & 0x7F);  // never a sync byte
    }
  int handle = Load(noisy);
  ASSERT_NE(handle, -1);
  EXPECT_EQ(BufferBytes(handle).size(), reference_.size());
  // Pure noise without syncs is no MP3.
  std::vector<uint8_t> junk(5000);
  for (auto& b : junk) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<uint8_t>((seed >> 16) & 0x7F);
  }
  EXPECT_EQ(Load(junk), -1);
  EXPECT_EQ(Load(std::vector<uint8_t>{0xFF, 0xFB}), -1);
}

TEST_F(CodedSoundTest, OggFilesMatchTheReferenceDecoder) {
  struct Case {
    int rate, channels;
  };
  for (const Case c : {Case{22050, 1}, Case{44100, 2}}) {
    std::string name = "ogg_" + std::to_string(c.rate) + "_" + std::to_string(c.channels);
    ASSERT_TRUE(Sox("-n -r " + std::to_string(c.rate) + " -c " + std::to_string(c.channels) + " -b 16 " + name +
                    ".wav synth 1.1 sine 200-4000 pinknoise vol 0.5"));
    ASSERT_TRUE(Shell("oggenc -Q -q 2 -o " + name + ".ogg " + name + ".wav"));
    ASSERT_TRUE(Shell("oggdec -Q -R -o " + name + ".raw " + name + ".ogg"));
    std::vector<uint8_t> reference = ReadAll(name + ".raw");
    int handle = Load(ReadAll(name + ".ogg"));
    ASSERT_NE(handle, -1) << name;
    SoundRecord* r = FindSound(handle);
    EXPECT_EQ(r->format.block_align, 2 * c.channels);
    EXPECT_EQ(r->format.samples_per_sec, static_cast<uint32_t>(c.rate));
    EXPECT_EQ(r->format.avg_bytes_per_sec, static_cast<uint32_t>(c.rate * 2 * c.channels));
    std::vector<uint8_t> pcm = BufferBytes(handle);
    EXPECT_EQ(pcm.size(), reference.size());
    EXPECT_LE(WorstDifference(Samples(pcm), Samples(reference)), 1) << name;
    DeleteSoundHandle(handle, 0);

    Converter conv(ReadAll(name + ".ogg"));
    ASSERT_TRUE(conv.ok);
    EXPECT_EQ(conv.record.kind, kPcmDecoderOgg);
    EXPECT_EQ(conv.record.buffer_size, 4096);
    EXPECT_EQ(GetPcmDecoderLength(&conv.record), static_cast<int32_t>(reference.size()));
    EXPECT_EQ(conv.record.data_size, static_cast<int32_t>(reference.size()));
    // A seek lands exactly, and the position is the sample's byte offset.
    const int32_t ba = 2 * c.channels;
    ASSERT_EQ(SeekPcmDecoder(&conv.record, 12345), 0);
    EXPECT_EQ(conv.record.position, 12345 * ba);
    std::vector<uint8_t> part = conv.Read(4000 * ba);
    std::vector<uint8_t> expected(reference.begin() + 12345 * ba, reference.begin() + 16345 * ba);
    EXPECT_LE(WorstDifference(Samples(part), Samples(expected)), 1);
  }
}

TEST_F(CodedSoundTest, DamagedOggNeitherHangsNorOverruns) {
  ASSERT_TRUE(Sox("-n -r 22050 -c 2 -b 16 og_src.wav synth 1.5 sine 200-4000 vol 0.5"));
  ASSERT_TRUE(Shell("oggenc -Q -q 1 -o og.ogg og_src.wav"));
  std::vector<uint8_t> file = ReadAll("og.ogg");
  // Cut inside its only audio page, nothing of it decodes.
  std::vector<uint8_t> cut(file.begin(), file.begin() + static_cast<long>(file.size() * 2 / 3));
  EXPECT_EQ(Load(cut), -1);
  std::vector<uint8_t> noisy = file;
  for (size_t i = noisy.size() / 2; i < noisy.size() / 2 + 3000 && i < noisy.size(); i += 7) noisy[i] ^= 0x5A;
  int handle = Load(noisy);
  if (handle != -1) DeleteSoundHandle(handle, 0);
  std::vector<uint8_t> headers_only(file.begin(), file.begin() + 200);
  EXPECT_EQ(Load(headers_only), -1);
  // Only the Ogg converter allowed, as for a movie's sound: a WAVE is refused.
  PcmDecoderDisableMask = ~kPcmDisableOgg;
  EXPECT_EQ(Load(ReadAll("og_src.wav")), -1);
  EXPECT_NE((handle = Load(file)), -1);
}

// A seek past the end (as far as sample 1 << 30, whose byte position is
// beyond what a 32-bit position holds) or before the start lands at the end
// or the start, in every converter: nothing is read past the end, and the
// start reads again.
TEST_F(CodedSoundTest, SeeksOutsideTheSoundLandAtItsEnds) {
  ASSERT_TRUE(Sox("-n -r 22050 -c 2 -b 16 far.wav synth 0.5 sine 300-3000 vol 0.5"));
  ASSERT_TRUE(Sox("far.wav -e ima-adpcm far_ima.wav"));
  ASSERT_TRUE(Shell("oggenc -Q -q 2 -o far.ogg far.wav"));
  ASSERT_TRUE(Shell("lame --quiet -b 64 far.wav far.mp3"));
  for (const std::string name : {"far.wav", "far_ima.wav", "far.ogg", "far.mp3"}) {
    SCOPED_TRACE(name);
    Converter c(ReadAll(name));
    ASSERT_TRUE(c.ok);
    const std::vector<uint8_t> start = c.Read(4000);
    ASSERT_EQ(SeekPcmDecoder(&c.record, 1 << 30), 0);
    EXPECT_GE(c.record.position, 4000);
    EXPECT_LE(c.record.position, GetPcmDecoderLength(&c.record));
    EXPECT_EQ(c.Read(4000).size(), 0u);
    ASSERT_EQ(SeekPcmDecoder(&c.record, -5), 0);
    EXPECT_EQ(c.record.position, 0);
    EXPECT_EQ(c.Read(4000), start);
  }
}

// Seeking an MP3 backwards goes through the look-ahead decoder when it is
// parked before the target, else restarts; either way the samples are those
// of a straight decode.
TEST_F(CodedSoundTest, Mp3SeeksMatchAStraightDecode) {
  ASSERT_TRUE(Sox("-n -r 24000 -c 1 sk_src.wav synth 6 sine 200-3000 pinknoise vol 0.5"));
  ASSERT_TRUE(Shell("lame --quiet -b 32 sk_src.wav sk.mp3"));
  std::vector<uint8_t> file = ReadAll("sk.mp3");
  Converter straight(file);
  ASSERT_TRUE(straight.ok);
  const int32_t length = GetPcmDecoderLength(&straight.record);
  std::vector<uint8_t> all = straight.Read(length);
  ASSERT_EQ(static_cast<int32_t>(all.size()), length);

  Converter c(file);
  ASSERT_TRUE(c.ok);
  const int32_t loop = 60000;  // samples
  c.record.ahead_target = loop * 2;
  // Reading the whole sound carries the look-ahead decoder to the loop point.
  EXPECT_EQ(c.Read(length), all);
  EXPECT_LE(static_cast<int32_t>(c.record.acm.ahead_pcm_pos), loop * 2);
  EXPECT_GE(static_cast<int32_t>(c.record.acm.ahead_pcm_pos), loop * 2 - 10240);
  for (int32_t sample : {loop, loop + 7, 100, 70001, 3, loop}) {
    ASSERT_EQ(SeekPcmDecoder(&c.record, sample), 0);
    EXPECT_EQ(c.record.position, sample * 2);
    std::vector<uint8_t> got = c.Read(30000);
    std::vector<uint8_t> expected(all.begin() + sample * 2, all.begin() + sample * 2 + 30000);
    EXPECT_EQ(got, expected) << "seek to " << sample;
  }
  // After a loop back the look-ahead starts again from the top, and is parked
  // again by the time the reader reaches the end, however near the end the
  // loop point lies.
  const int32_t late = length / 2 - 4000;
  c.record.ahead_target = late * 2;
  c.Read(length);
  ASSERT_GE(static_cast<int32_t>(c.record.acm.ahead_pcm_pos), late * 2 - 10240);
  ASSERT_EQ(SeekPcmDecoder(&c.record, late), 0);  // the swap; the look-ahead starts over
  std::vector<uint8_t> tail = c.Read(length);
  EXPECT_EQ(tail, std::vector<uint8_t>(all.begin() + late * 2, all.end()));
  EXPECT_GE(static_cast<int32_t>(c.record.acm.ahead_pcm_pos), late * 2 - 10240);
  ASSERT_EQ(SeekPcmDecoder(&c.record, late + 3), 0);
  EXPECT_EQ(c.Read(7000), std::vector<uint8_t>(all.begin() + (late + 3) * 2, all.begin() + (late + 3) * 2 + 7000));
  // Past the end: nothing more, and the end is flagged.
  ASSERT_EQ(SeekPcmDecoder(&c.record, length), 0);
  EXPECT_EQ(c.Read(100).size(), 0u);
  EXPECT_EQ(c.record.end_of_data, 1);
}

// The game's music: a 250-second MP3 becomes a stream sound, loops from
// 245196 ms, and past the end continues from the loop point with no gap and
// no repeated sample. What the refills write into the ring is compared with
// the reference decode around the seam.
class MusicLoopTest : public CodedSoundTest {
 protected:
  // Made once into the test binary's work folder (each test then runs in a
  // folder of its own, hence the full paths).
  static void SetUpTestSuite() {
    folder_ = std::filesystem::current_path().string() + "/";
    if (std::filesystem::exists(folder_ + "music250.raw")) return;
    // Test processes may run side by side: each makes its own copy and puts
    // it in place whole, the reference last.
    const std::string own = folder_ + "music250." + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + std::to_string(reinterpret_cast<uintptr_t>(&folder_) ^ static_cast<uintptr_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    Shell("sox -R -n -r 16000 -c 1 -b 16 " + own + ".wav synth 250 sine 200-2000 vol 0.5");
    Shell("lame --quiet -b 16 --resample 16 -m m " + own + ".wav " + own + ".mp3");
    Mpg123(own + ".mp3", own + ".raw");
    std::filesystem::remove(own + ".wav");
    std::rename((own + ".mp3").c_str(), (folder_ + "music250.mp3").c_str());
    std::rename((own + ".raw").c_str(), (folder_ + "music250.raw").c_str());
  }
  static std::vector<uint8_t> Music() { return ReadAll(folder_ + "music250.mp3"); }
  static std::string folder_;

  // Plays the music from `start_ms` while capturing every byte the refills
  // write; `refill` runs one refill pass (the pump's or the sound thread's).
  std::vector<int16_t> PlayAndCapture(int handle, int start_ms, int seconds, const std::function<void()>& refill) {
    SoundRecord* r = FindSound(handle);
    const int32_t ba = r->format.block_align;
    EXPECT_EQ(SetSoundHandleCurrentPosition(MsToSamples(start_ms, 16000) * ba, handle), 0);
    EXPECT_EQ(PlaySoundHandle(handle, 3, 0), 0);
    std::vector<int16_t> captured;
    int32_t seen = 0;  // write position already captured
    auto capture = [&]() {
      SoundLockScope lock;
      std::vector<uint8_t> ring = BufferBytes(handle);
      int32_t now = r->stream.write_pos;
      while (seen != now) {
        captured.push_back(static_cast<int16_t>(ring[seen] | ring[seen + 1] << 8));
        seen = (seen + 2) % r->stream.ring_size;
      }
    };
    capture();
    const uint32_t step = plat::NullAudioRate() / 20;
    for (int i = 0; i < seconds * 20; ++i) {
      Render(step);
      refill();
      capture();
    }
    return captured;
  }

  void CheckAgainstReference(const std::vector<int16_t>& captured, int start_ms, int loop_ms) {
    std::vector<int16_t> reference = Samples(ReadAll(folder_ + "music250.raw"));
    ASSERT_GT(reference.size(), 245196u * 16);
    const size_t start = static_cast<size_t>(MsToSamples(start_ms, 16000));
    const size_t loop = static_cast<size_t>(MsToSamples(loop_ms, 16000));
    const size_t before_seam = reference.size() - start;
    ASSERT_GT(captured.size(), before_seam + 16000) << "played past the end and a second more";
    const size_t loop_length = reference.size() - loop;
    for (size_t k = 0; k < captured.size(); ++k) {
      size_t source = k < before_seam ? start + k : loop + (k - before_seam) % loop_length;
      ASSERT_LE(std::abs(captured[k] - reference[source]), 1)
          << "sample " << k << " (" << (k < before_seam ? "before" : "after") << " the seam)";
    }
  }
};

std::string MusicLoopTest::folder_;

TEST_F(MusicLoopTest, LongMp3LoopsFromItsLoopPointWithTheSoundPump) {
  std::vector<uint8_t> file = Music();
  ASSERT_FALSE(file.empty());
  int handle = Load(file);
  ASSERT_NE(handle, -1) << log_.Debug();
  SoundRecord* r = FindSound(handle);
  ASSERT_EQ(r->kind, kSoundStream) << "over 180 seconds";
  ASSERT_EQ(SoundNeedsPumpService(), 1);
  ASSERT_EQ(SetSoundHandleLoopPosition(245196, handle), 0);
  EXPECT_EQ(r->stream.files[0].loop_count, 255);
  // Long enough for two seams: the second finds the look-ahead decoder
  // restarted at the first and decodes forward from where it got to.
  std::vector<int16_t> captured = PlayAndCapture(handle, 248500, 8, [] { ServiceSoundFromPump(); });
  ASSERT_GT(captured.size(), 16000u * 7);
  CheckAgainstReference(captured, 248500, 245196);
  int now = GetSoundHandleCurrentTime(handle);
  EXPECT_GT(now, 245196);
  EXPECT_LT(now, 250200);
}

TEST_F(MusicLoopTest, LongMp3LoopsFromItsLoopPointOnTheSoundThread) {
  TerminateSoundSystem();
  plat::SetProcessorCountOverride(4);
  ASSERT_EQ(InitializeSoundSystem(), 0);
  ASSERT_EQ(SoundNeedsPumpService(), 0);
  int handle = Load(Music());
  ASSERT_NE(handle, -1);
  ASSERT_EQ(SetSoundHandleLoopPosition(245196, handle), 0);
  SoundRecord* r = FindSound(handle);
  // The pump leaves the work to the thread; each step waits until the thread
  // has run a round that saw the moved cursor.
  std::vector<int16_t> captured = PlayAndCapture(handle, 248500, 4, [&] {
    EXPECT_EQ(ServiceSoundFromPump(), 0);
    for (int i = 0; i < 5000; ++i) {
      plat::SetEvent(g_sound.thread_wake);
      plat::Sleep(1);
      SoundLockScope lock;
      uint32_t cursor = 0;
      GetSoundBufferPlayCursor(&r->buffers[0], &cursor);
      if (r->stream.last_cursor == static_cast<int32_t>(cursor)) break;
    }
  });
  CheckAgainstReference(captured, 248500, 245196);
}

// While the sound thread refills a playing stream, the main thread loads and
// deletes other sounds (run under ThreadSanitizer by scripts/tsan-check).
TEST_F(MusicLoopTest, StreamPlaysWhileAnotherSoundLoads) {
  TerminateSoundSystem();
  plat::SetProcessorCountOverride(4);
  ASSERT_EQ(InitializeSoundSystem(), 0);
  ASSERT_TRUE(Sox("-n -r 22050 -c 2 ld_src.wav synth 0.3 sine 440 vol 0.5"));
  ASSERT_TRUE(Shell("lame --quiet -b 64 ld_src.wav ld.mp3"));
  std::vector<uint8_t> other = ReadAll("ld.mp3");
  int music = Load(Music());
  ASSERT_NE(music, -1);
  ASSERT_EQ(SetSoundHandleLoopPosition(245196, music), 0);
  ASSERT_EQ(PlaySoundHandle(music, 3, 1), 0);
  for (int i = 0; i < 20; ++i) {
    Render(plat::NullAudioRate() / 10);
    plat::SetEvent(g_sound.thread_wake);
    int h = Load(other);
    ASSERT_NE(h, -1);
    EXPECT_EQ(PlaySoundHandle(h, 1, 1), 0);
    EXPECT_EQ(IsSoundHandlePlaying(music), 1);
    EXPECT_EQ(DeleteSoundHandle(h, 0), 0);
  }
  EXPECT_EQ(StopSoundHandle(music), 0);
}

}  // namespace
