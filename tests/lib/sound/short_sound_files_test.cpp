// tests/lib/sound/short_sound_files_test.cpp - sound files whose own sizes
// promise more than they hold load what they hold with one log line naming
// the file and the shortfall, or are refused when nothing decodes; and MP3
// inside WAVE files made by the ffmpeg command loads every frame, checked
// against ffprobe's frame count and the mpg123 command's decode.
#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "tests/lib/sound/sound_fixture.h"

namespace {

using namespace soundtest;

void WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) {
  std::ofstream(name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}

std::string ShellOutput(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buffer[256];
    while (fgets(buffer, sizeof(buffer), p)) out += buffer;
    pclose(p);
  }
  return out;
}

class ShortSoundFileTest : public SoundFixture {
 protected:
  // How many log lines so far contain the text.
  size_t Lines(const std::string& text) const { return log_.Count(text); }
  std::vector<uint8_t> Pcm(int handle) {
    SoundRecord* r = FindSound(handle);
    return r ? std::vector<uint8_t>(r->data, r->data + r->data_size) : std::vector<uint8_t>{};
  }
};

TEST_F(ShortSoundFileTest, WaveCutInItsSamplesLoadsWhatItHoldsWithOneLine) {
  ASSERT_TRUE(Sox("-n -r 22050 -c 2 -b 16 whole.wav synth 0.5 sine 440 vol 0.5"));
  const std::vector<uint8_t> whole = ReadAll("whole.wav");
  ASSERT_EQ(whole.size(), 44u + 22050 * 2);
  // 1000 of its 11025 samples frames are left: 40100 bytes are missing.
  WriteFile("cut.wav", std::vector<uint8_t>(whole.begin(), whole.begin() + 44 + 4000));
  const int handle = LoadSoundHandle("cut.wav", 1, -1);
  ASSERT_NE(handle, -1);
  EXPECT_EQ(Pcm(handle), std::vector<uint8_t>(whole.begin() + 44, whole.begin() + 44 + 4000));
  EXPECT_EQ(Lines("short of its stated size"), 1u) << log_.Debug();
  EXPECT_EQ(Lines("Sound file cut.wav ends 40100 bytes short"), 1u) << log_.Debug();

  // The whole file says nothing; a data chunk with none of its bytes is
  // refused with a line.
  log_.Clear();
  ASSERT_NE(LoadSoundHandle("whole.wav", 1, -1), -1);
  EXPECT_EQ(Lines("short of its stated size"), 0u);
  WriteFile("empty.wav", std::vector<uint8_t>(whole.begin(), whole.begin() + 44));
  EXPECT_EQ(LoadSoundHandle("empty.wav", 1, -1), -1);
  EXPECT_EQ(Lines("Sound file empty.wav ends 44100 bytes short of its stated size and holds no sound"), 1u)
      << log_.Debug();
}

// A WAVE file cut inside its last frame plays the frames sox reads from it,
// once and looping: as a stream converted while it plays, and loaded whole
// with a loop point, a loop goes on from the file's first frame with no part
// of the cut frame in between (a byte off turns it to noise, two swap the
// channels).
TEST_F(ShortSoundFileTest, WaveCutInsideAFrameLoopsSampleExact) {
  ASSERT_TRUE(Sox("-n -r 44100 -c 2 -b 16 whole.wav synth 0.1 sine 440 vol 0.5"));
  const std::vector<uint8_t> whole = ReadAll("whole.wav");
  ASSERT_EQ(whole.size(), 44u + 4410 * 4);
  // Refilled every 735 frames, as the sound thread does, and rendered.
  auto capture = [&](int handle, int play_type, uint32_t frames) {
    std::vector<int16_t> played;
    EXPECT_EQ(PlaySoundHandle(handle, play_type, 1), 0);
    while (played.size() < frames * 2) {
      RefillAllStreamSounds();
      const std::vector<int16_t> out = Render(735);
      played.insert(played.end(), out.begin(), out.end());
    }
    return played;
  };
  for (size_t cut : {1u, 2u}) {
    SCOPED_TRACE(testing::Message() << "cut by " << cut);
    WriteFile("cut.wav", std::vector<uint8_t>(whole.begin(), whole.end() - static_cast<std::ptrdiff_t>(cut)));
    ASSERT_TRUE(Sox("cut.wav -t raw cut.raw"));
    const std::vector<uint8_t> raw = ReadAll("cut.raw");
    ASSERT_EQ(raw.size(), 4409u * 4);
    std::vector<int16_t> reference(raw.size() / 2);
    std::memcpy(reference.data(), raw.data(), raw.size());
    auto first_wrong = [&](const std::vector<int16_t>& played, bool loops) {
      for (size_t k = 0; k < played.size(); ++k) {
        const int16_t expected = loops || k < reference.size() ? reference[k % reference.size()] : 0;
        if (played[k] != expected) return static_cast<int64_t>(k / 2);
      }
      return int64_t{-1};
    };

    const int stream = AddSoundData(-1);
    ASSERT_EQ(AddStreamSoundFile("cut.wav", 0, stream, 2, -1), 0);
    EXPECT_EQ(first_wrong(capture(stream, 3, 4409 * 5), true), -1) << "stream, looping";
    EXPECT_EQ(first_wrong(capture(stream, 1, 4409 + 4410), false), -1) << "stream, once";
    EXPECT_EQ(IsSoundHandlePlaying(stream), 0);

    const int loaded = LoadSoundHandle("cut.wav", 1, -1);
    ASSERT_NE(loaded, -1);
    EXPECT_EQ(GetSoundHandleSampleLength(loaded), 4409);
    std::vector<int16_t> once = capture(loaded, 1, 4409 + 735);
    EXPECT_EQ(first_wrong(once, false), -1) << "loaded, once";
    ASSERT_EQ(SetSoundHandleLoopSamplePosition(0, loaded), 0);
    EXPECT_EQ(first_wrong(capture(loaded, 3, 4409 * 5), true), -1) << "loaded, loop point at the start";
    DeleteSoundHandle(stream, 0);
    DeleteSoundHandle(loaded, 0);
  }
}

TEST_F(ShortSoundFileTest, CutMp3sLoadTheirWholeFramesOrNothing) {
  ASSERT_TRUE(Sox("-n -r 44100 -c 2 src.wav synth 0.5 sine 300-3000 vol 0.5"));
  ASSERT_TRUE(Shell("lame --quiet -t -b 128 src.wav plain.mp3"));
  const std::vector<uint8_t> mp3 = ReadAll("plain.mp3");
  // 128 kbit/s at 44100 Hz: frames of 417 bytes, 418 with the padding bit.
  size_t end = 0;
  int whole = 0;
  while (end + 4 <= mp3.size()) {
    const size_t length = 144000 * 128 / 44100 + ((mp3[end + 2] >> 1) & 1);
    if (end + length > 1000) break;
    end += length;
    ++whole;
  }
  const size_t cut_frame_end = end + 417 + ((mp3[end + 2] >> 1) & 1);
  ASSERT_EQ(whole, 2);
  WriteFile("cut.mp3", std::vector<uint8_t>(mp3.begin(), mp3.begin() + 1000));
  const int handle = LoadSoundHandle("cut.mp3", 1, -1);
  ASSERT_NE(handle, -1);
  EXPECT_EQ(Pcm(handle).size(), 2u * 1152 * 4);
  EXPECT_EQ(Lines("short of its stated size"), 1u) << log_.Debug();
  EXPECT_EQ(Lines("Sound file cut.mp3 ends " + std::to_string(cut_frame_end - 1000) + " bytes short"), 1u)
      << log_.Debug();

  // A 100-byte file holding the start of one frame decodes to nothing: both
  // paths refuse it, with a line.
  WriteFile("stub.mp3", std::vector<uint8_t>(mp3.begin(), mp3.begin() + 100));
  log_.Clear();
  EXPECT_EQ(LoadSoundHandle("stub.mp3", 1, -1), -1);
  EXPECT_NE(log_.Debug().find("stub.mp3"), std::string::npos);
  PcmDecoderDisableMask = kPcmDisableMp3Graph;
  log_.Clear();
  EXPECT_EQ(Load(std::vector<uint8_t>(mp3.begin(), mp3.begin() + 100)), -1);
  EXPECT_FALSE(log_.Debug().empty());
}

// Low-rate MP3s decode through the filter graph; cut, they get the same line.
TEST_F(ShortSoundFileTest, CutLowRateMp3sGetTheSameLine) {
  ASSERT_TRUE(Sox("-R -n -r 8000 -c 1 low.wav synth 1 pinknoise vol 0.8"));
  ASSERT_TRUE(Shell("ffmpeg -y -i low.wav -c:a libmp3lame -b:a 16k -f wav low_in.wav"));
  ASSERT_TRUE(Shell("ffmpeg -y -i low_in.wav -c:a copy -write_xing 0 -id3v2_version 0 low.mp3"));
  const std::vector<uint8_t> mp3 = ReadAll("low.mp3");
  // MPEG 2.5 Layer III at 16 kbit/s and 8000 Hz: frames of 144 bytes, 145
  // with the padding bit. The file is cut 50 bytes into its sixth frame.
  size_t start = 0;
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(mp3[start] == 0xFF && (mp3[start + 1] & 0xFE) == 0xE2) << i;
    start += 144 + ((mp3[start + 2] >> 1) & 1);
  }
  const size_t frame_end = start + 144 + ((mp3[start + 2] >> 1) & 1);
  WriteFile("cut_low.mp3", std::vector<uint8_t>(mp3.begin(), mp3.begin() + static_cast<long>(start) + 50));
  int handle = LoadSoundHandle("cut_low.mp3", 1, -1);
  ASSERT_NE(handle, -1) << log_.Debug();
  EXPECT_EQ(FindSound(handle)->format.samples_per_sec, 8000u);
  EXPECT_EQ(Lines("Sound file cut_low.mp3 ends " + std::to_string(frame_end - start - 50) + " bytes short"), 1u)
      << log_.Debug();

  // Inside a WAVE file, the data chunk says what is missing.
  const std::vector<uint8_t> wave = ReadAll("low_in.wav");
  WriteFile("cut_low.wav", std::vector<uint8_t>(wave.begin(), wave.end() - 100));
  log_.Clear();
  handle = LoadSoundHandle("cut_low.wav", 1, -1);
  ASSERT_NE(handle, -1) << log_.Debug();
  EXPECT_EQ(FindSound(handle)->format.samples_per_sec, 8000u);
  EXPECT_EQ(Lines("Sound file cut_low.wav ends 100 bytes short"), 1u) << log_.Debug();
}

TEST_F(ShortSoundFileTest, Mp3InWaveFromFfmpegLoadsEveryFrame) {
  struct Case {
    int rate, channels, samples_per_frame;
    const char* bitrate;
  };
  for (const Case& c : {Case{44100, 2, 1152, "128k"}, Case{22050, 1, 576, "32k"}, Case{32000, 2, 1152, "64k"},
                        Case{48000, 1, 1152, "96k"}}) {
    const std::string name = "in_wave_" + std::to_string(c.rate);
    ASSERT_TRUE(Shell("ffmpeg -y -f lavfi -i sine=frequency=500:sample_rate=" + std::to_string(c.rate) +
                      ":duration=1.5 -ac " + std::to_string(c.channels) + " -c:a libmp3lame -b:a " + c.bitrate +
                      " " + name + ".wav"));
    const std::vector<uint8_t> wave = ReadAll(name + ".wav");
    ASSERT_GT(wave.size(), 40u);
    uint16_t block_size = 0;
    std::memcpy(&block_size, wave.data() + 44, 2);  // nBlockSize of the 30-byte format
    EXPECT_EQ(block_size, 1152) << name;                 // what makes the size estimate fall short
    const int frames = std::atoi(ShellOutput("ffprobe -v error -select_streams a -count_packets -show_entries "
                                             "stream=nb_read_packets -of csv=p=0 " + name + ".wav").c_str());
    ASSERT_GT(frames, 20) << name;
    // The same frames as a plain MP3, decoded whole by the mpg123 command.
    ASSERT_TRUE(Shell("ffmpeg -y -i " + name + ".wav -c:a copy -write_xing 0 -id3v2_version 0 " + name + ".mp3"));
    ASSERT_TRUE(Shell("mpg123 -q --no-gapless --no-infoframe -O " + name + ".raw " + name + ".mp3"));
    const std::vector<uint8_t> reference = ReadAll(name + ".raw");

    const int handle = Load(wave);
    ASSERT_NE(handle, -1) << name;
    const std::vector<uint8_t> pcm = Pcm(handle);
    EXPECT_EQ(pcm.size(), size_t(frames) * c.samples_per_frame * 2 * c.channels) << name;
    ASSERT_EQ(pcm.size(), reference.size()) << name;
    int worst = 0;
    for (size_t i = 0; i + 1 < pcm.size(); i += 2) {
      const int a = int16_t(pcm[i] | pcm[i + 1] << 8), b = int16_t(reference[i] | reference[i + 1] << 8);
      worst = std::max(worst, std::abs(a - b));
    }
    EXPECT_LE(worst, 1) << name;
    DeleteSoundHandle(handle, 0);
  }
}

}  // namespace
