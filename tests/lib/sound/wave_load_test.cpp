// Loading WAVE files into sound handles: files made by sox load with their
// samples intact; damaged headers are refused or cut to what is there.
#include "tests/lib/sound/sound_fixture.h"

namespace {

using namespace soundtest;
using testsupport::Sjis;

class WaveLoadTest : public SoundFixture {};

// sox's own raw output of the same file is the reference for the samples.
TEST_F(WaveLoadTest, SoxFilesLoadWithTheirSamples) {
  struct Case {
    int bits, channels, rate;
  };
  const Case cases[] = {{8, 1, 11025}, {8, 2, 22050}, {16, 1, 32000}, {16, 2, 44100}, {16, 2, 48000}, {8, 1, 48000}};
  for (const Case& c : cases) {
    std::string name = "t" + std::to_string(c.bits) + "_" + std::to_string(c.channels) + "_" + std::to_string(c.rate);
    std::string enc = c.bits == 8 ? "-e unsigned-integer" : "-e signed-integer";
    ASSERT_TRUE(Sox("-n -r " + std::to_string(c.rate) + " -c " + std::to_string(c.channels) + " -b " +
                    std::to_string(c.bits) + " " + enc + " " + name + ".wav synth 0.3 sine 440 sine 660 vol 0.8"));
    ASSERT_TRUE(Sox(name + ".wav -t raw " + name + ".raw"));
    std::vector<uint8_t> file = ReadAll(name + ".wav");
    std::vector<uint8_t> raw = ReadAll(name + ".raw");
    ASSERT_FALSE(raw.empty());
    int handle = Load(file);
    ASSERT_NE(handle, -1) << name;
    SoundRecord* r = FindSound(handle);
    EXPECT_EQ(r->format.samples_per_sec, static_cast<uint32_t>(c.rate));
    EXPECT_EQ(r->format.channels, c.channels);
    EXPECT_EQ(r->format.bits_per_sample, c.bits);
    EXPECT_EQ(GetSoundHandleFrequency(handle), c.rate);
    EXPECT_EQ(GetSoundHandleSampleLength(handle), static_cast<int>(raw.size() / (c.bits / 8 * c.channels)));
    EXPECT_EQ(BufferBytes(handle), raw) << name;
    EXPECT_NEAR(GetSoundHandleTotalTime(handle), 300, 1);
    DeleteSoundHandle(handle, 0);
  }
}

TEST_F(WaveLoadTest, ChunkWalkSkipsBextExactlyAndOthersPadded) {
  WaveSpec spec;
  spec.bext = true;
  // An odd-sized "LIST" chunk with its pad byte, then "data".
  spec.chunks_before_data = {'L', 'I', 'S', 'T', 3, 0, 0, 0, 'a', 'b', 'c', 0};
  spec.fmt_size = 18;
  std::vector<uint8_t> data = Ramp(100);
  int handle = Load(MakeWave(spec, data));
  ASSERT_NE(handle, -1);
  EXPECT_EQ(BufferBytes(handle), data);

  // An odd "bext" of its exact size followed at once by a "LIST" whose size
  // starts with a printable byte: "IST" and that byte look like a chunk id
  // too, but "LIST" is one, so no pad byte is read.
  std::vector<uint8_t> file = MakeWave(WaveSpec{}, data);
  const std::vector<uint8_t> chunks = {'b', 'e', 'x', 't', 3, 0, 0, 0, 1, 2, 3, 'L', 'I', 'S', 'T', 'A', 0, 0, 0};
  std::vector<uint8_t> list(chunks);
  for (int i = 0; i < 'A'; ++i) list.push_back(static_cast<uint8_t>('a' + i % 26));
  list.push_back(0);
  file.insert(file.begin() + 12, list.begin(), list.end());
  handle = Load(file);
  ASSERT_NE(handle, -1);
  EXPECT_EQ(BufferBytes(handle), data);
}

// Text lists, padding (odd-sized, with its pad byte), cue points and a
// sample count before "fmt ", as editors write them: the whole sound loads,
// as sound file and as stream, with the samples of sox's decoding.
TEST_F(WaveLoadTest, ChunksBeforeTheFormatArePassedOver) {
  ASSERT_TRUE(Sox("-R -n -r 22050 -c 1 -b 16 plain.wav synth 1 pinknoise vol 0.5"));
  const std::vector<uint8_t> plain = ReadAll("plain.wav");
  ASSERT_GT(plain.size(), 12u);
  std::vector<uint8_t> file(plain.begin(), plain.begin() + 12);
  const char kInfo[] = "INFOISFT\x0e\0\0\0tool 1.0 beta";  // with its closing zero: 26 bytes
  const std::vector<uint8_t> info(kInfo, kInfo + sizeof(kInfo));
  PutId(file, "LIST");
  Put32(file, static_cast<uint32_t>(info.size()));
  file.insert(file.end(), info.begin(), info.end());
  PutId(file, "JUNK");
  Put32(file, 7);
  file.insert(file.end(), {1, 2, 3, 4, 5, 6, 7, 0});
  PutId(file, "cue ");
  Put32(file, 4);
  Put32(file, 0);
  PutId(file, "fact");
  Put32(file, 4);
  Put32(file, 22050);
  file.insert(file.end(), plain.begin() + 12, plain.end());
  const uint32_t riff = static_cast<uint32_t>(file.size() - 8);
  std::memcpy(file.data() + 4, &riff, 4);
  std::ofstream("listed.wav", std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  ASSERT_TRUE(Sox("listed.wav -t raw listed.raw"));
  const std::vector<uint8_t> raw = ReadAll("listed.raw");
  ASSERT_EQ(raw.size(), 44100u);

  int handle = LoadSoundHandle("listed.wav", 1, -1);
  ASSERT_NE(handle, -1);
  EXPECT_EQ(GetSoundHandleFrequency(handle), 22050);
  EXPECT_EQ(GetSoundHandleSampleLength(handle), 22050);
  EXPECT_EQ(BufferBytes(handle), raw);
  DeleteSoundHandle(handle, 0);
  ASSERT_EQ(SetSoundCreateMode(2), 0);
  handle = LoadSoundHandle("listed.wav", 1, -1);
  ASSERT_NE(handle, -1);
  EXPECT_EQ(FindSound(handle)->kind, kSoundStream);
  EXPECT_EQ(GetSoundHandleSampleLength(handle), 22050);
  DeleteSoundHandle(handle, 0);
}

TEST_F(WaveLoadTest, SixteenByteFormatTakesBitsFromBlockAlign) {
  WaveSpec spec;
  spec.channels = 2;
  spec.bits = 16;
  std::vector<uint8_t> file = MakeWave(spec, Ramp(64));
  file[34] = 99;  // a wrong bits-per-sample field
  int handle = Load(file);
  ASSERT_NE(handle, -1);
  EXPECT_EQ(FindSound(handle)->format.bits_per_sample, 16);
}

TEST_F(WaveLoadTest, TruncatedDataChunkIsCutToTheFile) {
  WaveSpec spec;
  spec.data_size_override = 100000;
  std::vector<uint8_t> data = Ramp(300);
  int handle = Load(MakeWave(spec, data));
  ASSERT_NE(handle, -1);
  EXPECT_EQ(GetSoundHandleSampleLength(handle), 300);
  EXPECT_EQ(BufferBytes(handle), data);
}

TEST_F(WaveLoadTest, ZeroBytesPerSecondStillLoads) {
  WaveSpec spec;
  spec.avg = 0;
  std::vector<uint8_t> file = MakeWave(spec, Ramp(50));
  std::memset(file.data() + 28, 0, 4);
  int handle = Load(file);
  ASSERT_NE(handle, -1);
  EXPECT_EQ(BufferBytes(handle), Ramp(50));
}

TEST_F(WaveLoadTest, DamagedHeadersAreRefused) {
  std::vector<uint8_t> good = MakeWave(WaveSpec{}, Ramp(40));
  std::vector<std::vector<uint8_t>> bad;
  bad.push_back({});
  bad.push_back(std::vector<uint8_t>(good.begin(), good.begin() + 30));  // cut inside "fmt "
  std::vector<uint8_t> b = good;
  b[0] = 'X';
  bad.push_back(b);
  b = good;
  b[16] = 200;  // fmt body larger than the file
  b[17] = 200;
  bad.push_back(b);
  b = good;
  b[16] = 8;  // fmt body too small to hold a format
  bad.push_back(b);
  b = good;
  b[36] = 'x';  // no data chunk at all
  bad.push_back(b);
  b = good;
  b[22] = 0;  // no channels
  bad.push_back(b);
  for (size_t i = 0; i < bad.size(); ++i) {
    log_.Clear();
    EXPECT_EQ(Load(bad[i]), -1) << i;
    if (i > 0) {
      EXPECT_NE(log_.Debug().find(Sjis("音声ファイルのＰＣＭへの変換に失敗しました")), std::string::npos) << i;
    }
  }
  EXPECT_EQ(g_sound_handles.Count(), 0);
}

TEST_F(WaveLoadTest, CodedWaveIsRefusedByThePlainConverter) {
  WaveSpec spec;
  spec.tag = 2;
  EXPECT_EQ(Load(MakeWave(spec, Ramp(40))), -1);
}

TEST_F(WaveLoadTest, BufferCountsAndModes) {
  std::vector<uint8_t> file = MakeWave(WaveSpec{}, Ramp(80));
  EXPECT_EQ(CreateSoundHandleFromFile(file.data(), static_cast<int>(file.size()), 11, -1), -1);
  int handle = Load(file, 10);
  ASSERT_NE(handle, -1);
  SoundRecord* r = FindSound(handle);
  EXPECT_EQ(r->buffer_count, 10);
  EXPECT_EQ(r->duplicate[0], 0u);
  EXPECT_EQ(r->duplicate[9], 1u);
  EXPECT_EQ(SetSoundCreateMode(1), 0);
  EXPECT_EQ(GetSoundCreateMode(), 0);
  EXPECT_EQ(SetSoundCreateMode(4), -1);
  EXPECT_EQ(SetSoundCreateMode(-1), -1);
  EXPECT_EQ(SetSoundSetting2(31), 0);
  EXPECT_EQ(GetSoundSetting2(), 31);
  EXPECT_EQ(Load(file), -1);  // every converter disabled
  SetSoundSetting2(0);
}

TEST_F(WaveLoadTest, LongSoundBecomesStreamAndModeIsKept) {
  // 181 seconds of 8-bit mono at 1000 Hz.
  WaveSpec spec;
  spec.rate = 1000;
  std::vector<uint8_t> data = Ramp(181 * 1000);
  int handle = Load(MakeWave(spec, data));
  ASSERT_NE(handle, -1);
  EXPECT_EQ(FindSound(handle)->kind, kSoundStream);
  EXPECT_EQ(GetSoundCreateMode(), 0);
  EXPECT_EQ(GetSoundHandleSampleLength(handle), 181000);
  std::vector<uint8_t> shorter(data.begin(), data.begin() + 180 * 1000);
  int whole = Load(MakeWave(spec, shorter));
  ASSERT_NE(whole, -1);
  EXPECT_EQ(FindSound(whole)->kind, kSoundOrdinary);
}

TEST_F(WaveLoadTest, WaveImageAndTimeConversions) {
  plat::WaveFormatEx format{1, 1, 8000, 8000, 1, 8, 0};
  void* image = nullptr;
  int32_t size = 0;
  ASSERT_EQ(CreateWaveFileImage(&image, &size, &format, 18, nullptr, 0), 0);
  EXPECT_EQ(size, 46);
  const uint8_t* p = static_cast<const uint8_t*>(image);
  EXPECT_EQ(std::memcmp(p, "RIFF", 4), 0);
  EXPECT_EQ(p[4], 38);
  EXPECT_EQ(std::memcmp(p + 38, "data", 4), 0);
  EXPECT_EQ(p[42], 0);
  TrackedFree(image);
  EXPECT_EQ(MsToSamples(1000, 44100), 44100);
  EXPECT_EQ(SamplesToMs(22050, 44100), 500);
  EXPECT_EQ(MsToSamples(999, 1), 0);
  EXPECT_EQ(MsToSamples(2000000, 48000), 96000000);  // no 32-bit overflow on the way
  EXPECT_EQ(WriteWaveFile(), -1);
}

}  // namespace

namespace {

using namespace soundtest;
using testsupport::Sjis;

class SoundFileTest : public SoundFixture {};

TEST_F(SoundFileTest, LoadSoundHandleReadsFilesAndReportsFailures) {
  ASSERT_TRUE(Sox("-n -r 22050 -c 1 -b 16 -e signed-integer se.wav synth 0.1 sine 500"));
  ASSERT_TRUE(Sox("se.wav -t raw se.raw"));
  int handle = LoadSoundHandle("se.wav", 20, -1);
  ASSERT_NE(handle, -1);
  EXPECT_EQ(FindSound(handle)->buffer_count, 10);
  EXPECT_EQ(BufferBytes(handle), ReadAll("se.raw"));

  log_.Clear();
  EXPECT_EQ(LoadSoundHandle("missing.wav", 1, -1), -1);
  EXPECT_NE(log_.Debug().find(Sjis("右記の音声ファイルのロードに失敗しました_1：missing.wav")), std::string::npos);

  std::ofstream("noise.bin", std::ios::binary) << "not a sound file at all";
  log_.Clear();
  EXPECT_EQ(LoadSoundHandle2("noise.bin", 1, -1), -1);
  std::string log = log_.Debug();
  size_t conversion = log.find(Sjis("音声ファイルのＰＣＭへの変換に失敗しました"));
  ASSERT_NE(conversion, std::string::npos);
  EXPECT_NE(log.find(Sjis("右記の音声ファイルのロードに失敗しました_2：noise.bin"), conversion), std::string::npos);
}

TEST_F(SoundFileTest, StreamModesReadTheFile) {
  ASSERT_TRUE(Sox("-n -r 44100 -c 2 -b 16 -e signed-integer bgm.wav synth 1.5 sine 220"));
  for (int mode : {2, 3}) {
    ASSERT_EQ(SetSoundCreateMode(mode), 0);
    int handle = LoadSoundHandle("bgm.wav", 1, -1);
    ASSERT_NE(handle, -1) << mode;
    SoundRecord* r = FindSound(handle);
    EXPECT_EQ(r->kind, kSoundStream);
    EXPECT_EQ(r->stream.files[0].mode, mode);
    EXPECT_EQ(GetSoundHandleSampleLength(handle), 66150);
    EXPECT_EQ(GetSoundHandleTotalTime(handle), 1500);
    ASSERT_EQ(PlaySoundHandle(handle, 1, 1), 0);
    Render(1000);
    RefillAllStreamSounds();
    EXPECT_EQ(GetSoundHandleCurrentPosition(handle), 4000);
    EXPECT_EQ(DeleteSoundHandle(handle, 0), 0);
  }
  SetSoundCreateMode(0);
  EXPECT_EQ(LoadSoundHandle("absent.wav", 1, -1), -1);
}

}  // namespace

namespace {

using namespace soundtest;


void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A chain of MPEG-2 Layer III frame headers (24000 Hz mono, 96 bytes a
// frame) with silent bodies: bytes in sample data that a frame scan would
// take for a sound of its own.
std::vector<uint8_t> FalseFrames(size_t bytes) {
  std::vector<uint8_t> v(bytes, 0);
  for (size_t i = 0; i + 4 <= bytes; i += 96) {
    v[i] = 0xFF;
    v[i + 1] = 0xF3;
    v[i + 2] = 0x44;
    v[i + 3] = 0xC0;
  }
  return v;
}

// A plain 44-byte-header WAVE file from sox, rewritten: its sample data
// with `insert` laid over the middle, its format in the extensible form
// (PCM sub-format) when asked, and a "bext" chunk of odd size padded to even
// before "fmt " when asked.
std::vector<uint8_t> Rewrap(const std::vector<uint8_t>& plain, bool extensible, bool padded_bext,
                            const std::vector<uint8_t>& insert = {}) {
  std::vector<uint8_t> data(plain.begin() + 44, plain.end());
  const size_t block = static_cast<size_t>(plain[32] | plain[33] << 8);
  const size_t middle = (data.size() - insert.size()) / 2 / block * block;
  std::copy(insert.begin(), insert.end(), data.begin() + static_cast<std::ptrdiff_t>(middle));
  std::vector<uint8_t> v;
  PutId(v, "RIFF");
  Put32(v, 0);
  PutId(v, "WAVE");
  if (padded_bext) {
    PutId(v, "bext");
    Put32(v, 603);
    for (int i = 0; i < 603; ++i) v.push_back(static_cast<uint8_t>('a' + i % 26));
    v.push_back(0);
  }
  PutId(v, "fmt ");
  Put32(v, extensible ? 40 : 16);
  v.insert(v.end(), plain.begin() + 20, plain.begin() + 36);
  if (extensible) {
    v[v.size() - 16] = 0xFE;
    v[v.size() - 15] = 0xFF;
    Put16(v, 22);
    v.insert(v.end(), plain.begin() + 34, plain.begin() + 36);  // valid bits
    Put32(v, plain[22] == 1 ? 4 : 3);                           // channel mask
    v.insert(v.end(), {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71});
  }
  PutId(v, "data");
  Put32(v, static_cast<uint32_t>(data.size()));
  v.insert(v.end(), data.begin(), data.end());
  const uint32_t riff = static_cast<uint32_t>(v.size() - 8);
  std::memcpy(v.data() + 4, &riff, 4);
  return v;
}

class WaveFormsTest : public SoundFixture {
 protected:
  // Plays a stream sound once through and gives what the output mixed.
  std::vector<uint8_t> PlayStream(int handle, size_t bytes) {
    std::vector<uint8_t> played;
    EXPECT_EQ(PlaySoundHandle(handle, 1, 1), 0);
    while (played.size() < bytes) {
      RefillAllStreamSounds();
      const std::vector<int16_t> out = Render(735);
      const auto* p = reinterpret_cast<const uint8_t*>(out.data());
      played.insert(played.end(), p, p + out.size() * 2);
    }
    played.resize(bytes);
    return played;
  }
};

// Extensible PCM of 8 and 16 bits, and an odd "bext" padded to even before
// "fmt ", load with the samples sox reads from the same file, whole and as a
// stream, although their data holds chains of MPEG frame headers.
TEST_F(WaveFormsTest, ExtensiblePcmAndPaddedBextLoadAsSoxReadsThem) {
  ASSERT_TRUE(Sox("-R -n -r 44100 -c 2 -b 16 f16.wav synth 0.5 pinknoise vol 0.8"));
  ASSERT_TRUE(Sox("-R -n -r 22050 -c 1 -b 8 f8.wav synth 0.3 sine 300-900 vol 0.7"));
  struct Case {
    const char* source;
    bool extensible, bext;
  };
  const Case cases[] = {{"f16.wav", true, false}, {"f16.wav", false, true}, {"f16.wav", true, true},
                        {"f8.wav", true, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.source << (c.extensible ? " extensible" : "") << (c.bext ? " bext" : ""));
    const std::vector<uint8_t> plain = ReadAll(c.source);
    ASSERT_GT(plain.size(), 44u + 4000);
    WriteFile("rewrapped.wav", Rewrap(plain, c.extensible, c.bext, FalseFrames(3840)));
    ASSERT_TRUE(Sox("rewrapped.wav -t raw rewrapped.raw"));
    const std::vector<uint8_t> raw = ReadAll("rewrapped.raw");
    ASSERT_EQ(raw.size(), plain.size() - 44);

    const int handle = LoadSoundHandle("rewrapped.wav", 1, -1);
    ASSERT_NE(handle, -1) << log_.Debug();
    const SoundRecord* r = FindSound(handle);
    EXPECT_EQ(r->format.format_tag, plat::kWaveFormatPcm);
    EXPECT_EQ(r->format.samples_per_sec, plain[24] | plain[25] << 8);
    EXPECT_EQ(r->format.channels, plain[22]);
    EXPECT_EQ(BufferBytes(handle), raw);
    DeleteSoundHandle(handle, 0);

    // As a stream the file is read as it plays, by the WAVE converter.
    ASSERT_EQ(SetSoundCreateMode(2), 0);
    const int stream = LoadSoundHandle("rewrapped.wav", 1, -1);
    ASSERT_EQ(SetSoundCreateMode(0), 0);
    ASSERT_NE(stream, -1);
    EXPECT_EQ(FindSound(stream)->stream.files[0].decoder.kind, kPcmDecoderWave);
    // (The output mixes 16-bit stereo unchanged.)
    if (plain[22] == 2 && plain[34] == 16) {
      EXPECT_EQ(PlayStream(stream, raw.size()), raw);
    }
    DeleteSoundHandle(stream, 0);
  }
}

// A-law and mu-law in the extensible form (their sub-formats, 8 bits a
// sample) are coded sound, not 8-bit PCM: they load with the samples sox
// decodes from the same data under the plain format tags.
TEST_F(WaveFormsTest, ExtensibleALawAndMuLawDecodeAsSoxReadsThem) {
  ASSERT_TRUE(Sox("-R -n -r 8000 -c 2 -b 16 src.wav synth 0.25 sine 300-900 vol 0.7"));
  for (const uint8_t code : {uint8_t{6}, uint8_t{7}}) {
    SCOPED_TRACE(code == 6 ? "a-law" : "mu-law");
    ASSERT_TRUE(Sox(std::string("src.wav -e ") + (code == 6 ? "a-law" : "u-law") + " g711.wav"));
    ASSERT_TRUE(Sox("g711.wav -e signed-integer -b 16 -t raw g711.raw"));
    const std::vector<uint8_t> plain = ReadAll("g711.wav");
    const std::string text(plain.begin(), plain.end());
    const size_t data = text.find("data");
    ASSERT_NE(data, std::string::npos);
    std::vector<uint8_t> v;
    PutId(v, "RIFF");
    Put32(v, 0);
    PutId(v, "WAVE");
    PutId(v, "fmt ");
    Put32(v, 40);
    Put16(v, 0xFFFE);
    Put16(v, 2);
    Put32(v, 8000);
    Put32(v, 16000);
    Put16(v, 2);
    Put16(v, 8);
    Put16(v, 22);
    Put16(v, 8);
    Put32(v, 3);
    v.insert(v.end(), {code, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71});
    v.insert(v.end(), plain.begin() + static_cast<std::ptrdiff_t>(data), plain.end());
    const uint32_t riff = static_cast<uint32_t>(v.size() - 8);
    std::memcpy(v.data() + 4, &riff, 4);
    const int handle = Load(v);
    ASSERT_NE(handle, -1) << log_.Debug();
    const SoundRecord* r = FindSound(handle);
    EXPECT_EQ(r->format.bits_per_sample, 16);
    EXPECT_EQ(r->format.channels, 2);
    EXPECT_EQ(BufferBytes(handle), ReadAll("g711.raw"));
    DeleteSoundHandle(handle, 0);
  }
}

class ThreadedWaveFormsTest : public WaveFormsTest {};

// Sounds of more than 16 bits, of floating point and in FLAC load through
// the media graph as 16-bit PCM at their own rate and channels. The
// reference is sox's 16-bit conversion without dither: sox rounds, the
// conversion here drops the low bits, so samples of more than 16 bits may
// differ by one; 16-bit FLAC is exact. A WAVE file of another format whose
// data holds MPEG frame headers is never played as MPEG audio.
TEST_F(ThreadedWaveFormsTest, FormatsBeyondSixteenBitsAndFlacLoadAsSixteenBit) {
  struct Case {
    const char* name;
    const char* make;
    int rate, channels, worst;
    int false_frames;  // MPEG frame headers over the first or the last samples
  };
  const Case cases[] = {
      {"w24.wav", "-R -n -r 22050 -c 1 -b 24 w24.wav synth 0.6 pinknoise vol 0.8", 22050, 1, 1, 1},
      {"w24p.wav", "-R -n -t wavpcm -r 32000 -c 2 -b 24 w24p.wav synth 0.2 sine 200-3000 vol 0.8", 32000, 2, 1, 2},
      {"w32.wav", "-R -n -r 44100 -c 2 -b 32 -e signed-integer w32.wav synth 0.4 pinknoise vol 0.8", 44100, 2, 1, 0},
      {"wf.wav", "-R -n -r 48000 -c 1 -b 32 -e floating-point wf.wav synth 0.4 sine 440 vol 0.8", 48000, 1, 1, 0},
      {"f16.flac", "-R -n -r 44100 -c 2 -b 16 f16.flac synth 0.5 pinknoise vol 0.8", 44100, 2, 0, 0},
      {"f24.flac", "-R -n -r 11025 -c 1 -b 24 f24.flac synth 0.5 sine 300 vol 0.8", 11025, 1, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(Sox(c.make));
    const std::string file = c.name;
    if (c.false_frames != 0) {
      std::vector<uint8_t> bytes = ReadAll(file);
      const std::vector<uint8_t> frames = FalseFrames(96 * 40);
      const std::string text(bytes.begin(), bytes.end());
      const size_t at = c.false_frames == 1 ? text.find("data") + 8 : bytes.size() - frames.size();
      std::copy(frames.begin(), frames.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
      WriteFile(file, bytes);
    }
    ASSERT_TRUE(Sox("-D " + file + " -b 16 -e signed-integer -t raw " + file + ".raw"));
    const std::vector<uint8_t> raw = ReadAll(file + ".raw");
    log_.Clear();
    const int handle = LoadSoundHandle(file.c_str(), 1, -1);
    ASSERT_NE(handle, -1) << log_.Debug();
    const SoundRecord* r = FindSound(handle);
    EXPECT_EQ(r->format.samples_per_sec, static_cast<uint32_t>(c.rate));
    EXPECT_EQ(r->format.channels, c.channels);
    EXPECT_EQ(r->format.bits_per_sample, 16);
    const std::vector<uint8_t> pcm = BufferBytes(handle);
    ASSERT_EQ(pcm.size(), raw.size());
    int worst = 0;
    for (size_t i = 0; i + 1 < pcm.size(); i += 2) {
      const int a = static_cast<int16_t>(pcm[i] | pcm[i + 1] << 8);
      const int b = static_cast<int16_t>(raw[i] | raw[i + 1] << 8);
      worst = std::max(worst, std::abs(a - b));
    }
    EXPECT_LE(worst, c.worst);
    DeleteSoundHandle(handle, 0);
  }
}

}  // namespace

namespace {

using namespace soundtest;

// A PCM header whose block_align is not channels x bits / 8 (a flipped byte
// gave 65,282 for 8-bit stereo; 16-bit mono with 4, or with 1 in the
// extensible form) is read as sox reads it, by channels and bits, whole and
// as a stream, with one line naming the file and the field, and with the
// rate in bytes its frames give (not the one its header took from the wrong
// block size, which would size the stream's ring and refills). 24-bit mono
// with 4, which the media graph would frame by the block size and read
// wrong, is refused with the line.
TEST_F(WaveFormsTest, BlockAlignNotOfTheChannelsIsReadAsSoxReadsIt) {
  ASSERT_TRUE(Sox("-R -n -r 11025 -c 2 -b 8 u8.wav synth 0.2 sine 300-900 vol 0.7"));
  ASSERT_TRUE(Sox("-R -n -r 22050 -c 1 -b 16 s16.wav synth 0.2 pinknoise vol 0.7"));
  ASSERT_TRUE(Sox("-R -n -r 22050 -c 1 -b 24 s24.wav synth 0.2 pinknoise vol 0.7"));
  struct Case {
    const char* source;
    bool extensible;
    uint16_t block_align;
  };
  for (const Case& c : {Case{"u8.wav", false, 65282}, Case{"s16.wav", false, 4}, Case{"s16.wav", true, 1},
                        Case{"s24.wav", false, 4}}) {
    const std::string name = std::string("ba") + std::to_string(c.block_align) + (c.extensible ? "x_" : "_") + c.source;
    SCOPED_TRACE(name);
    std::vector<uint8_t> file = ReadAll(c.source);
    if (c.extensible) file = Rewrap(file, true, false);
    ASSERT_GT(file.size(), 44u);
    file[32] = static_cast<uint8_t>(c.block_align);  // the format body starts at 20 in all of them
    file[33] = static_cast<uint8_t>(c.block_align >> 8);
    uint32_t rate = 0;
    std::memcpy(&rate, &file[24], 4);
    const uint32_t wrong_rate = rate * c.block_align;
    std::memcpy(&file[28], &wrong_rate, 4);
    WriteFile(name, file);
    ASSERT_TRUE(Sox(name + " -t raw " + name + ".raw"));
    const std::vector<uint8_t> raw = ReadAll(name + ".raw");
    const std::string line = name + " gives block_align " + std::to_string(c.block_align) + " ";
    for (int mode : {0, 2}) {
      ASSERT_EQ(SetSoundCreateMode(mode), 0);
      log_.Clear();
      const int handle = LoadSoundHandle(name.c_str(), 1, -1);
      const std::string& log = log_.Debug();
      EXPECT_NE(log.find(line), std::string::npos) << log;
      EXPECT_EQ(log.find(line), log.rfind(line)) << log;
      if (std::string(c.source) == "s24.wav") {
        EXPECT_EQ(handle, -1);
        EXPECT_NE(log.find(line + "in its format, not 3 (channels 1 x bits 24 / 8); refused"), std::string::npos);
        continue;
      }
      ASSERT_NE(handle, -1) << log;
      const SoundRecord* r = FindSound(handle);
      EXPECT_EQ(r->format.block_align, 2);  // 8-bit stereo and 16-bit mono alike
      EXPECT_EQ(r->format.avg_bytes_per_sec, rate * 2);
      EXPECT_EQ(r->format.bits_per_sample, c.source[0] == 'u' ? 8 : 16);
      EXPECT_EQ(GetSoundHandleSampleLength(handle), static_cast<int>(raw.size()) / 2);
      if (mode == 0) {
        EXPECT_EQ(BufferBytes(handle), raw);
      }
      DeleteSoundHandle(handle, 0);
    }
  }
  SetSoundCreateMode(0);
}

}  // namespace
