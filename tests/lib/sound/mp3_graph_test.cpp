// MP3 files the compression-manager path refuses (MPEG 2.5, free-format bit
// rates, a damaged header after good frames, tiny files) load through the
// filter graph with the samples of the mpg123 command's decode; files it
// takes never reach the graph; the graph's failures write their log lines.
#include <algorithm>
#include <cstdio>

#include "tests/lib/sound/sound_fixture.h"

namespace {

using namespace soundtest;

int WorstDifference(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
  int worst = 0;
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) worst = std::max(worst, std::abs(a[i] - b[i]));
  return worst;
}

// Opens a converter over a file image and says which kind took it.
int ConverterKind(std::vector<uint8_t> image) {
  SoundStream stream{};
  stream.ops = *GetMemoryStreamTable();
  stream.handle = MemoryStreamOpen(image.data(), image.size());
  PcmDecoderRecord record{};
  int kind = -1;
  if (OpenPcmDecoder(&stream, &record) == 0) {
    kind = record.kind;
    ClosePcmDecoder(&record);
  }
  stream.ops.close(stream.handle);
  return kind;
}

class ThreadedMp3Graph : public SoundFixture {
 protected:
  // Loads the file through LoadSoundHandle and compares the PCM with the
  // mpg123 command's decode.
  void ExpectReferenceDecode(const std::string& mp3, int channels, int rate) {
    SCOPED_TRACE(mp3);
    ASSERT_TRUE(Shell("mpg123 -q --no-gapless --no-infoframe -O " + mp3 + ".raw " + mp3));
    std::vector<uint8_t> reference = ReadAll(mp3 + ".raw");
    ASSERT_FALSE(reference.empty());
    log_.Clear();
    int handle = LoadSoundHandle(mp3.c_str(), 1, -1);
    ASSERT_NE(handle, -1) << log_.Debug();
    SoundRecord* r = FindSound(handle);
    EXPECT_EQ(r->format.channels, channels);
    EXPECT_EQ(r->format.samples_per_sec, static_cast<uint32_t>(rate));
    EXPECT_EQ(r->format.bits_per_sample, 16);
    std::vector<uint8_t> pcm = BufferBytes(handle);
    EXPECT_EQ(pcm.size(), reference.size());
    EXPECT_LE(WorstDifference(PcmSamples(pcm), PcmSamples(reference)), 1);
    DeleteSoundHandle(handle, 0);
  }
};

TEST_F(ThreadedMp3Graph, FilesTheCompressionManagerRefusesLoadThroughTheGraph) {
  ASSERT_TRUE(Sox("-n -r 44100 -c 2 g_src.wav synth 2.0 sine 300-3000 vol 0.5"));
  ASSERT_TRUE(Sox("-n -r 44100 -c 1 g_mono.wav synth 3.0 sine 200-900 vol 0.6"));
  // MPEG 2.5; the 8000 Hz one decodes to more than ten times its size, so
  // the PCM block grows while the graph runs.
  ASSERT_TRUE(Shell("lame --quiet -t -b 8 --resample 8 g_mono.wav g_8k.mp3"));
  ASSERT_TRUE(Shell("lame --quiet -t --resample 11.025 g_src.wav g_11k.mp3"));
  ASSERT_TRUE(Shell("lame --quiet -t --resample 12 g_src.wav g_12k.mp3"));
  ASSERT_TRUE(Shell("lame --quiet -t --freeformat -b 200 g_src.wav g_free.mp3"));
  for (const char* name : {"g_8k.mp3", "g_11k.mp3", "g_12k.mp3", "g_free.mp3"})
    EXPECT_EQ(ConverterKind(ReadAll(name)), kPcmDecoderMemory) << name;
  EXPECT_LT(ReadAll("g_8k.mp3").size() * 10, 3u * 8000 * 2);
  ExpectReferenceDecode("g_8k.mp3", 1, 8000);
  ExpectReferenceDecode("g_11k.mp3", 2, 11025);
  ExpectReferenceDecode("g_12k.mp3", 2, 12000);
  ExpectReferenceDecode("g_free.mp3", 2, 44100);
}

TEST_F(ThreadedMp3Graph, DamagedHeaderAndTinyFilesLoadThroughTheGraph) {
  ASSERT_TRUE(Sox("-n -r 44100 -c 2 d_src.wav synth 1.0 sine 300-3000 vol 0.5"));
  ASSERT_TRUE(Shell("lame --quiet -t -b 128 d_src.wav d_good.mp3"));
  std::vector<uint8_t> good = ReadAll("d_good.mp3");
  EXPECT_EQ(ConverterKind(good), kPcmDecoderAcm);  // never reaches the graph

  // The sixteenth frame's bit-rate index made reserved.
  std::vector<size_t> frames;
  MpegFrameInfo f{};
  for (size_t pos = 0; pos + 4 <= good.size() && ParseMpegAudioHeader(&good[pos], &f) == 0; pos += f.frame_length)
    frames.push_back(pos);
  ASSERT_GT(frames.size(), 20u);
  std::vector<uint8_t> bad = good;
  bad[frames[15] + 2] = 0xF0;
  std::FILE* out = std::fopen("d_bad.mp3", "wb");
  std::fwrite(bad.data(), 1, bad.size(), out);
  std::fclose(out);
  EXPECT_EQ(ConverterKind(bad), kPcmDecoderMemory);
  // The mpg123 command takes the frames after the damaged header for a new
  // stream and writes only those; the graph keeps the good frames before it
  // too: they match the command's decode of the undamaged file, the rest
  // matches the command's decode of the damaged one.
  ASSERT_TRUE(Shell("mpg123 -q --no-gapless --no-infoframe -O d_good.raw d_good.mp3"));
  ASSERT_TRUE(Shell("mpg123 -q --no-gapless --no-infoframe -O d_bad.raw d_bad.mp3"));
  std::vector<uint8_t> head = ReadAll("d_good.raw"), tail = ReadAll("d_bad.raw");
  int handle = LoadSoundHandle("d_bad.mp3", 1, -1);
  ASSERT_NE(handle, -1) << log_.Debug();
  std::vector<uint8_t> pcm = BufferBytes(handle);
  const size_t good_bytes = 15 * 1152 * 4;
  ASSERT_GE(pcm.size(), good_bytes + tail.size());
  head.resize(good_bytes);
  EXPECT_EQ(WorstDifference(PcmSamples(std::vector<uint8_t>(pcm.begin(), pcm.begin() + good_bytes)), PcmSamples(head)), 0);
  EXPECT_EQ(WorstDifference(PcmSamples(std::vector<uint8_t>(pcm.end() - static_cast<long>(tail.size()), pcm.end())),
                            PcmSamples(tail)),
            0);
  EXPECT_LE(pcm.size(), good_bytes + 1152 * 4 + tail.size());
  DeleteSoundHandle(handle, 0);

  // A 100-byte file: one whole MPEG 2.5 frame at 8 kbit/s and a cut one.
  ASSERT_TRUE(Sox("-n -r 8000 -c 1 d_tiny.wav synth 0.5 sine 440 vol 0.5"));
  ASSERT_TRUE(Shell("lame --quiet -t -b 8 d_tiny.wav d_tiny_full.mp3"));
  std::vector<uint8_t> tiny = ReadAll("d_tiny_full.mp3");
  ASSERT_GT(tiny.size(), 100u);
  tiny.resize(100);
  out = std::fopen("d_tiny.mp3", "wb");
  std::fwrite(tiny.data(), 1, tiny.size(), out);
  std::fclose(out);
  ExpectReferenceDecode("d_tiny.mp3", 1, 8000);
}

// Low-rate (MPEG 2.5) MP3s made by the ffmpeg command from noise and sweeps:
// plain, inside WAVE files, and their bare frames. Audio data like this holds
// bytes that look like frame headers of other rates (with these sounds, most
// of the WAVE and bare files do), and none may be taken for the file. Rate,
// channels and samples are those of the mpg123 command's decode.
TEST_F(ThreadedMp3Graph, LowRateMp3sLoadAsTheReferenceDecodes) {
  struct Case {
    int rate, channels;
    const char* bitrate;
    const char* content;
  };
  const Case cases[] = {
      {8000, 1, "8k", "synth 1.5 pinknoise synth sine amod 3 vol 0.7 : synth 1 sine 100-3000 vol 0.5"},
      {8000, 2, "16k", "synth 0.4 pinknoise vol 0.9"},
      {11025, 1, "32k", "synth 0.4 pinknoise vol 0.9"},
      {11025, 2, "16k", "synth 0.4 pinknoise vol 0.9"},
      {12000, 1, "8k", "synth 0.7 brownnoise vol 0.8 : synth 0.5 sine 3000-200 vol 0.7"},
      {12000, 2, "32k", "synth 0.4 pinknoise vol 0.9"},
  };
  int index = 0;
  for (const Case& c : cases) {
    const std::string name = "low" + std::to_string(index++);
    ASSERT_TRUE(Sox("-R -n -r " + std::to_string(c.rate) + " -c " + std::to_string(c.channels) + " " + name +
                    "_src.wav " + c.content));
    const std::string encode = "ffmpeg -y -v error -i " + name + "_src.wav -c:a libmp3lame -b:a " + c.bitrate;
    ASSERT_TRUE(Shell(encode + " " + name + ".mp3"));
    ASSERT_TRUE(Shell(encode + " -f wav " + name + "_in.wav"));
    ASSERT_TRUE(Shell("ffmpeg -y -v error -i " + name + "_in.wav -c:a copy -write_xing 0 -id3v2_version 0 " + name +
                      "_bare.mp3"));
    for (const std::string& file : {name + ".mp3", name + "_in.wav", name + "_bare.mp3"}) {
      SCOPED_TRACE(file);
      // The command leaves out the information frame of the plain file (no
      // sound of its own) and cuts the encoder delay and padding it gives.
      ASSERT_TRUE(Shell("mpg123 -q -w " + file + ".ref.wav " + file));
      const std::vector<uint8_t> ref = ReadAll(file + ".ref.wav");
      ASSERT_GT(ref.size(), 44u);
      uint16_t channels = 0;
      uint32_t rate = 0, bytes = 0;
      std::memcpy(&channels, &ref[22], 2);
      std::memcpy(&rate, &ref[24], 4);
      std::memcpy(&bytes, &ref[40], 4);
      ASSERT_EQ(rate, static_cast<uint32_t>(c.rate));
      ASSERT_EQ(channels, c.channels);
      ASSERT_EQ(bytes, ref.size() - 44);
      log_.Clear();
      const int handle = LoadSoundHandle(file.c_str(), 1, -1);
      ASSERT_NE(handle, -1) << log_.Debug();
      const SoundRecord* r = FindSound(handle);
      EXPECT_EQ(r->format.samples_per_sec, rate);
      EXPECT_EQ(r->format.channels, channels);
      const std::vector<uint8_t> pcm = BufferBytes(handle);
      EXPECT_EQ(pcm.size(), bytes);
      EXPECT_LE(WorstDifference(PcmSamples(pcm), PcmSamples(std::vector<uint8_t>(ref.begin() + 44, ref.end()))), 1);
      EXPECT_EQ(log_.Debug().find("short of its stated size"), std::string::npos);
      DeleteSoundHandle(handle, 0);
    }
  }
}

// Bytes without a header of their own that hold a few frame headers (MPEG
// 2.5, which only the graph decodes) somewhere inside are no MP3: they are
// refused, not played from wherever something like frames turns up.
TEST_F(ThreadedMp3Graph, FramesInsideHeaderlessBytesAreRefused) {
  std::vector<uint8_t> junk(6000);
  uint32_t seed = 7;
  for (auto& b : junk) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<uint8_t>((seed >> 16) & 0x7F);
  }
  std::vector<uint8_t> frames;
  for (int i = 0; i < 3; ++i) {  // 8000 Hz mono Layer III, 72 bytes a frame
    frames.insert(frames.end(), {0xFF, 0xE3, 0x18, 0xC0});
    frames.resize(frames.size() + 68, 0);
  }
  std::vector<uint8_t> file(junk.begin(), junk.begin() + 3000);
  file.insert(file.end(), frames.begin(), frames.end());
  file.insert(file.end(), junk.begin() + 3000, junk.end());
  EXPECT_EQ(ConverterKind(file), -1);
  // The same frames from the first byte on are a sound.
  frames.insert(frames.end(), junk.begin(), junk.end());
  EXPECT_EQ(ConverterKind(frames), kPcmDecoderMemory);
}

TEST_F(ThreadedMp3Graph, TheMaskBitSkipsTheGraphAndFailuresWriteTheirLine) {
  ASSERT_TRUE(Sox("-n -r 44100 -c 2 m_src.wav synth 0.5 sine 440 vol 0.5"));
  ASSERT_TRUE(Shell("lame --quiet -t --resample 11.025 m_src.wav m_11k.mp3"));
  std::vector<uint8_t> file = ReadAll("m_11k.mp3");
  PcmDecoderDisableMask = kPcmDisableMp3Graph;
  EXPECT_EQ(ConverterKind(file), -1);
  PcmDecoderDisableMask = 0;
  EXPECT_EQ(ConverterKind(file), kPcmDecoderMemory);

  // Bytes no filter can take: rendering fails, with exactly one whole line.
  std::vector<uint8_t> junk(3000);
  uint32_t seed = 99;
  for (auto& b : junk) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<uint8_t>((seed >> 16) & 0x7F);
  }
  log_.Clear();
  EXPECT_EQ(ConverterKind(junk), -1);
  const std::string line = testsupport::Sjis("グラフの構築に失敗しました");
  const size_t at = log_.Debug().find(line);
  ASSERT_NE(at, std::string::npos) << log_.Debug();
  EXPECT_EQ(log_.Debug().substr(at + line.size(), 2), "\r\n");  // a line of its own
  EXPECT_EQ(log_.Debug().find(line, at + 1), std::string::npos);
}

// Sounds of more channels than a frame's first eight planes, and one of
// them that once stopped the program, load (whole and as a stream) with the
// samples of the ffmpeg command's mix to stereo; so do 16 channels of packed
// PCM and a 5.1 Vorbis file (its decode up to its last granule position, of
// one page). `make` writes the file.
TEST_F(ThreadedMp3Graph, ManyChannelsMixToStereoAsTheFfmpegCommandMixesThem) {
  auto sines = [](const std::string& layout) {
    std::string exprs;
    for (size_t k = 0, n = std::count(layout.begin(), layout.end(), '+') + 1; k < n; ++k)
      exprs += (k ? "|" : "") + std::string("0.06*sin(2*PI*t*") + std::to_string(200 + 150 * k) + ")";
    return "ffmpeg -y -v error -f lavfi -i aevalsrc=exprs='" + exprs + "':c=" + layout + ":s=48000:d=0.5";
  };
  const struct {
    std::string file, make, reference_input;
    size_t frames = 0;  // of the reference; 0: all it decodes to
  } cases[] = {
      {"planar10.wv", sines("FL+FR+FC+LFE+BL+BR+FLC+FRC+SL+SR") + " -c:a wavpack planar10.wv", ""},
      {"planar16.wv", sines("FL+FR+FC+LFE+BL+BR+FLC+FRC+BC+SL+SR+TC+TFL+TFC+TFR+TBL") + " -c:a wavpack planar16.wv", ""},
      {"packed16.wav", "sox -n -r 44100 -c 16 packed16.wav synth 0.5 sine 300-3000 vol 0.2", ""},
      // The Ogg converter's 5.1 goes on to the graph, which mixes it down.
      {"surround.ogg", "sox -n -r 44100 -c 6 -C 3 surround.ogg synth 0.5 sine 300-3000 vol 0.5",
       "-flags2 +skip_manual ", 22050},
      {"ten-channels-aac.mp3", "cp " RORUD_SOURCE_DIR "/tests/lib/sound/data/ten-channels-aac.mp3 .", "-f aac "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    ASSERT_TRUE(Shell(c.make));
    ASSERT_TRUE(Shell("ffmpeg -y -v error " + c.reference_input + "-i " + c.file + " -ac 2 -f s16le " + c.file + ".raw"));
    std::vector<int16_t> reference = PcmSamples(ReadAll(c.file + ".raw"));
    ASSERT_GE(reference.size(), 2 * c.frames);
    if (c.frames > 0) reference.resize(2 * c.frames);
    ASSERT_FALSE(reference.empty());
    for (int mode : {0, 3}) {
      SCOPED_TRACE(mode);
      int channels = 0;
      const std::vector<uint8_t> pcm = LoadedPcm(c.file, mode, &channels);
      ASSERT_FALSE(pcm.empty()) << log_.Debug();
      EXPECT_EQ(channels, 2);
      EXPECT_EQ(pcm.size(), reference.size() * 2);
      EXPECT_EQ(WorstDifference(PcmSamples(pcm), reference), 0);
    }
  }
}

// Channels the resampler has no mix to stereo for (12 unnamed ones, which
// have no default layout) are refused, whole and as a stream, with a line
// that names the file and the count; so is a 5.1 Vorbis file where only the
// Ogg converter may take it (the sound of a Theora movie).
TEST_F(ThreadedMp3Graph, ChannelsThatCannotBeMixedAreRefusedWithALineNamingFileAndCount) {
  WaveSpec spec;
  spec.channels = 12;
  spec.bits = 16;
  const std::vector<uint8_t> file = MakeWave(spec, Ramp(12 * 2 * 4000));
  std::FILE* out = std::fopen("twelve.wav", "wb");
  std::fwrite(file.data(), 1, file.size(), out);
  std::fclose(out);
  for (int mode : {0, 3}) {
    SCOPED_TRACE(mode);
    SoundCreateMode = mode;
    log_.Clear();
    EXPECT_EQ(LoadSoundHandle("twelve.wav", 1, -1), -1);
    EXPECT_NE(log_.Debug().find("Sound file twelve.wav holds sound of 12 channels, which cannot be mixed to stereo; "
                                "not loaded\r\n"),
              std::string::npos)
        << log_.Debug();
  }
  ASSERT_TRUE(Sox("-n -r 44100 -c 6 surround.ogg synth 0.2 sine 440"));
  PcmDecoderDisableMask = ~kPcmDisableOgg;
  log_.Clear();
  EXPECT_EQ(LoadSoundHandle("surround.ogg", 1, -1), -1);
  EXPECT_NE(log_.Debug().find("Sound file surround.ogg holds sound of 6 channels, which cannot be mixed to stereo"),
            std::string::npos)
      << log_.Debug();
}

}  // namespace
