// Sounds through the media graph against the ffmpeg command's own decode:
// mixed to stereo by the channel layout their file names, cut to the length
// the container gives (priming and padding gone) and looping without a gap;
// and the lines a load writes about channels, each true and written once.
#include <cmath>
#include <cstdio>

#include "tests/lib/sound/sound_fixture.h"

namespace {

using namespace soundtest;

// Signal to noise of `got` against `want` over their common part, in dB.
double Snr(const std::vector<int16_t>& got, const std::vector<int16_t>& want) {
  double signal = 0, noise = 0;
  for (size_t i = 0; i < std::min(got.size(), want.size()); ++i) {
    signal += double(want[i]) * want[i];
    noise += double(got[i] - want[i]) * (got[i] - want[i]);
  }
  return noise == 0 ? 999 : 10 * std::log10(signal / noise);
}

// The ffmpeg command's 16-bit stereo decode of a file.
std::vector<int16_t> FfmpegStereo(const std::string& file) {
  if (!Shell("ffmpeg -y -v error -i " + file + " -ac 2 -f s16le " + file + ".raw")) return {};
  return PcmSamples(ReadAll(file + ".raw"));
}

// A Vorbis file's own sound as the ffmpeg command mixes it to stereo: its
// decode with nothing cut, up to its last granule position (`frames`, for a
// file whose positions start at 0).
std::vector<int16_t> GranuleStereo(const std::string& file, size_t frames) {
  if (!Shell("ffmpeg -y -v error -flags2 +skip_manual -i " + file + " -ac 2 -f s16le " + file + ".raw")) return {};
  std::vector<int16_t> all = PcmSamples(ReadAll(file + ".raw"));
  if (all.size() < 2 * frames) return {};
  all.resize(2 * frames);
  return all;
}

// A tone of its own frequency in each channel of the layout.
std::string Tones(const std::string& layout, int rate, const std::string& seconds) {
  std::string exprs;
  for (size_t k = 0, n = std::count(layout.begin(), layout.end(), '+') + 1; k < n; ++k)
    exprs += (k ? "|" : "") + std::string("0.06*sin(2*PI*t*") + std::to_string(200 + 150 * k) + ")";
  return "ffmpeg -y -v error -f lavfi -i aevalsrc=exprs='" + exprs + "':c=" + layout + ":s=" + std::to_string(rate) +
         ":d=" + seconds;
}

class ThreadedGraphSound : public SoundFixture {
 protected:
  // Loads a file whole and as a decoding stream; its stereo PCM, both ways
  // the same, or nothing when it does not load.
  std::vector<int16_t> LoadBothWays(const std::string& file) {
    int channels = 0;
    const std::vector<int16_t> whole = PcmSamples(LoadedPcm(file, 0, &channels));
    if (whole.empty()) return {};
    EXPECT_EQ(channels, 2);
    EXPECT_EQ(PcmSamples(LoadedPcm(file, 3)), whole);
    return whole;
  }
  // How often the log holds `text`.
  size_t Count(const std::string& text) {
    size_t n = 0;
    for (size_t at = log_.Debug().find(text); at != std::string::npos; at = log_.Debug().find(text, at + 1)) ++n;
    return n;
  }
};

// WAVE files whose channel mask names their channels mix as the ffmpeg
// command mixes them: the centre of a three-channel front is no LFE, quad's
// back pair no side pair; masks of 9, 12 and 17 named channels, which have
// no default layout of their count, mix too.
TEST_F(ThreadedGraphSound, ChannelMasksMixAsTheFfmpegCommandMixesThem) {
  const char* layouts[] = {
      "FL+FR+FC",
      "FL+FR+BL+BR",
      "FL+FR+FC+LFE+SL+SR",
      "FL+FR+FC+LFE+BL+BR+SL+SR",
      "FL+FR+FC+LFE+BL+BR+FLC+FRC",
      "FL+FR+FC+LFE+BL+BR+FLC+FRC+BC",
      "FL+FR+FC+LFE+BL+BR+FLC+FRC+BC+SL+SR+TC",
      "FL+FR+FC+LFE+BL+BR+FLC+FRC+BC+SL+SR+TC+TFL+TFC+TFR+TBL",
      "FL+FR+FC+LFE+BL+BR+FLC+FRC+BC+SL+SR+TC+TFL+TFC+TFR+TBL+TBC",
  };
  for (const char* layout : layouts) {
    SCOPED_TRACE(layout);
    ASSERT_TRUE(Shell(Tones(layout, 44100, "0.3") + " masked.wav"));
    const std::vector<int16_t> reference = FfmpegStereo("masked.wav");
    ASSERT_EQ(reference.size(), 2u * 13230);
    log_.Clear();
    const std::vector<int16_t> pcm = LoadBothWays("masked.wav");
    ASSERT_EQ(pcm.size(), reference.size()) << log_.Debug();
    EXPECT_GE(Snr(pcm, reference), 30.0);
    EXPECT_EQ(log_.Debug().find("cannot be mixed"), std::string::npos) << log_.Debug();
  }
  // Named channels with no mix of their own (one back speaker) load as
  // their count's default layout, as they did before masks were read.
  ASSERT_TRUE(Shell(Tones("FL+FR+FC+LFE+BL", 44100, "0.3") + " lopsided.wav"));
  log_.Clear();
  EXPECT_EQ(LoadBothWays("lopsided.wav").size(), 2u * 13230);
  EXPECT_EQ(log_.Debug(), "");
}

// Through the graph a sound has the frames of the ffmpeg command's decode:
// a Vorbis file's last granule cuts its end, an Opus pre-skip and an MP4
// edit list its priming, an MP3's LAME header both.
TEST_F(ThreadedGraphSound, LengthsAreThoseOfTheFfmpegCommandsDecode) {
  const struct {
    std::string file, make;
    int32_t disable;  // converters kept out, so that the graph decodes
    size_t frames;
  } cases[] = {
      {"surround.ogg", Tones("5.1", 22050, "1") + " -c:a libvorbis", 0, 22050},
      {"stereo.ogg", Tones("stereo", 22050, "1") + " -c:a libvorbis", kPcmDisableOgg, 22050},
      {"voice.opus", Tones("stereo", 48000, "1") + " -c:a libopus", 0, 48000},
      {"music.m4a", Tones("stereo", 44100, "1") + " -c:a aac", 0, 45056},
      {"lame.mp3", Tones("stereo", 44100, "1") + " -c:a libmp3lame", kPcmDisableMp3Acm, 44100},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    ASSERT_TRUE(Shell(c.make + " " + c.file));
    const std::vector<int16_t> reference = FfmpegStereo(c.file);
    ASSERT_EQ(reference.size(), 2 * c.frames);
    PcmDecoderDisableMask = c.disable;
    const std::vector<int16_t> pcm = LoadBothWays(c.file);
    EXPECT_EQ(pcm.size(), reference.size()) << log_.Debug();
    // Priming left in shifts the whole sound.
    EXPECT_GE(Snr(pcm, reference), 30.0);
  }
}

// Vorbis through the graph ends at its last granule position, as through
// the Ogg converter, whatever its channel count: a file of one page too,
// which the ffmpeg command's decode ends 128 frames early (3.0, stereo, 7.1)
// or not at all, keeping the padding its last packet decodes to (5.1). A
// file of many pages whose positions start a second on ends there as it did.
TEST_F(ThreadedGraphSound, ShortVorbisOfAnyChannelCountEndsAtItsLastGranule) {
  const struct {
    const char* layout;
    int rate;
    const char* seconds;
    size_t frames;
    int32_t disable;
    const char* options = "";
  } cases[] = {
      {"3.0", 44100, "0.25", 11025, 0},
      {"stereo", 44100, "1", 44100, kPcmDisableOgg},
      {"5.1", 48000, "0.3125", 15000, 0},
      {"7.1", 32000, "0.03125", 1000, 0},
      {"5.1", 44100, "3", 132300, 0, " -output_ts_offset 1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.layout) + " " + c.seconds + " s");
    ASSERT_TRUE(Shell(Tones(c.layout, c.rate, c.seconds) + " -c:a libvorbis" + c.options + " short.ogg"));
    const std::vector<int16_t> reference = GranuleStereo("short.ogg", c.frames);
    ASSERT_FALSE(reference.empty());
    PcmDecoderDisableMask = c.disable;
    const std::vector<int16_t> pcm = LoadBothWays("short.ogg");
    EXPECT_EQ(pcm.size(), reference.size()) << log_.Debug();
    EXPECT_TRUE(pcm == reference);
  }
}

// A 5.1 Vorbis sound played looping through the mixer comes round every
// length its last granule position gives, sample for sample.
TEST_F(ThreadedGraphSound, AFiveOneVorbisLoopsWithoutGapOrLag) {
  ASSERT_TRUE(Shell(Tones("5.1", 44100, "0.25") + " -c:a libvorbis loop.ogg"));
  const std::vector<int16_t> reference = GranuleStereo("loop.ogg", 11025);
  ASSERT_FALSE(reference.empty());
  const int handle = LoadSoundHandle("loop.ogg", 1, -1);
  ASSERT_NE(handle, -1) << log_.Debug();
  ASSERT_EQ(PlaySoundHandle(handle, 3, 1), 0);
  const std::vector<int16_t> out = Render(static_cast<uint32_t>(3 * reference.size() / 2));
  for (size_t turn = 0; turn < 3; ++turn) {
    SCOPED_TRACE(turn);
    const std::vector<int16_t> part(out.begin() + turn * reference.size(), out.begin() + (turn + 1) * reference.size());
    EXPECT_GE(Snr(part, reference), 30.0);
  }
  DeleteSoundHandle(handle, 0);
}

// A sound that loads writes no channel line; one that cannot be mixed is
// refused with its one line and only the load's own failure after it,
// named or from memory, whole or through the decoding stream.
TEST_F(ThreadedGraphSound, ChannelLinesAreTrueAndWrittenOnceALoad) {
  ASSERT_TRUE(Shell(Tones("5.1", 22050, "0.3") + " -c:a libvorbis six.ogg"));
  log_.Clear();
  EXPECT_EQ(LoadBothWays("six.ogg").size(), 2u * 6615);
  EXPECT_EQ(log_.Debug(), "");
  // Ten channels of Vorbis have no layout of their count to mix by.
  ASSERT_TRUE(Sox("-n -r 22050 -c 10 ten.ogg synth 0.3 sine 440 vol 0.3"));
  log_.Clear();
  EXPECT_EQ(LoadSoundHandle("ten.ogg", 1, -1), -1);
  // The load's own two lines follow; nothing else.
  EXPECT_EQ(log_.Debug(),
            LogText("0:Sound file ten.ogg holds sound of 10 channels, which cannot be mixed to stereo; not loaded\n"
                    "0:音声ファイルのＰＣＭへの変換に失敗しました\n"
                    "0:右記の音声ファイルのロードに失敗しました_2：ten.ogg\n"));
  const std::vector<uint8_t> image = ReadAll("ten.ogg");
  const std::string unnamed = "Sound file (sound in memory) holds sound of 10 channels";
  for (int mode : {0, 3}) {
    SCOPED_TRACE(mode);
    SoundCreateMode = mode;
    log_.Clear();
    EXPECT_EQ(Load(image), -1);
    EXPECT_EQ(Count(unnamed), 1u) << log_.Debug();
  }
}

// A chain of 5.1 Vorbis links (one page each, or a one-page link before or
// after one of many pages) plays through the graph as each link's own
// sound cut at its last granule position, one after the other: each link's
// end trim follows its own first packet, and no link starts with the
// samples the decoder gives its first packet (the ffmpeg command's decode
// has 128 of them at each join, and keeps a later one-page link's padding).
TEST_F(ThreadedGraphSound, AChainOfFiveOneVorbisLinksEndsEachLinkAtItsLastGranule) {
  struct Link {
    const char* seconds;
    size_t frames;
  };
  const Link one_page = {"0.3125", 15000}, shorter = {"0.25", 12000}, pages = {"3", 144000};
  const std::vector<std::vector<Link>> chains = {
      {one_page, shorter, one_page}, {pages, one_page}, {one_page, pages}};
  for (const auto& chain : chains) {
    std::vector<uint8_t> file;
    std::vector<int16_t> expected;
    std::string trace;
    for (size_t i = 0; i < chain.size(); ++i) {
      const std::string name = "link" + std::to_string(i) + ".ogg";
      ASSERT_TRUE(Shell(Tones("5.1", 48000, chain[i].seconds) + " -c:a libvorbis " + name));
      const std::vector<int16_t> part = GranuleStereo(name, chain[i].frames);
      ASSERT_FALSE(part.empty());
      expected.insert(expected.end(), part.begin(), part.end());
      const std::vector<uint8_t> bytes = ReadAll(name);
      file.insert(file.end(), bytes.begin(), bytes.end());
      trace += std::string(i ? " + " : "") + chain[i].seconds + " s";
    }
    SCOPED_TRACE(trace);
    std::ofstream("chain.ogg", std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    const std::vector<int16_t> pcm = LoadBothWays("chain.ogg");
    EXPECT_EQ(pcm.size(), expected.size()) << log_.Debug();
    EXPECT_TRUE(pcm == expected);
  }
}

}  // namespace
