// Stream sounds of several files: file limits and format checks when adding,
// repeat counts, a short stream's silent tail, and playing a playing stream.
#include "tests/lib/sound/sound_fixture.h"

namespace {

using namespace soundtest;
using testsupport::Sjis;

class StreamFilesTest : public SoundFixture {
 protected:
  // A mono 16-bit file at the output rate whose samples are base, base+1...
  std::vector<uint8_t> File(uint32_t frames, int base, uint32_t rate = 44100) {
    WaveSpec spec;
    spec.rate = rate;
    spec.bits = 16;
    std::vector<uint8_t> data(frames * 2);
    for (uint32_t i = 0; i < frames; ++i) {
      int16_t v = static_cast<int16_t>(base + i);
      std::memcpy(&data[i * 2], &v, 2);
    }
    return MakeWave(spec, data);
  }
  int Add(int handle, const std::vector<uint8_t>& file, uint8_t loops = 0) {
    return AddStreamSoundMemory(file.data(), static_cast<int32_t>(file.size()), loops, handle, 2, -1);
  }
  // Left-channel samples while the stream plays, refilled as the pump would.
  std::vector<int16_t> Play(int handle, int play_type, int rounds) {
    EXPECT_EQ(PlaySoundHandle(handle, play_type, 1), 0);
    std::vector<int16_t> played;
    for (int i = 0; i < rounds; ++i) {
      RefillAllStreamSounds();
      std::vector<int16_t> out = Render(100);
      for (int f = 0; f < 100; ++f) played.push_back(out[2 * f]);
    }
    return played;
  }
};

TEST_F(StreamFilesTest, FourthFileAndOtherFormatsAreRefused) {
  int h = AddSoundData(-1);
  ASSERT_NE(h, -1);
  ASSERT_EQ(Add(h, File(300, 1000)), 0);
  ASSERT_EQ(Add(h, File(300, 2000)), 0);
  log_.Clear();
  EXPECT_EQ(Add(h, File(300, 3000, 22050)), -1);
  EXPECT_NE(log_.Debug().find(Sjis("フォーマットの違う音声データは同時に使うことは出来ません")), std::string::npos);
  EXPECT_EQ(FindSound(h)->stream.file_count, 2);
  EXPECT_EQ(FindSound(h)->stream.total_samples, 600);
  ASSERT_EQ(Add(h, File(300, 3000)), 0);
  log_.Clear();
  EXPECT_EQ(Add(h, File(300, 4000)), -1);
  EXPECT_NE(log_.Debug().find(Sjis("ストリーム風サウンドの制御データ領域がいっぱいです")), std::string::npos);
  EXPECT_EQ(FindSound(h)->stream.file_count, 3);
  EXPECT_EQ(FindSound(h)->stream.total_samples, 900);

  // A stream that plays takes no further file.
  int p = AddSoundData(-1);
  ASSERT_EQ(Add(p, File(300, 1000)), 0);
  ASSERT_EQ(PlaySoundHandle(p, 1, 1), 0);
  log_.Clear();
  EXPECT_EQ(Add(p, File(300, 2000)), -1);
  EXPECT_NE(log_.Debug().find(Sjis("既に再生中のストリームサウンドデータにデータを追加しようとしました")),
            std::string::npos);
}

// Repeat counts: 1 plays a file twice, 0 once; then the next file; the end
// is silence and the stream stops.
TEST_F(StreamFilesTest, FilesRepeatByTheirCountsInOrder) {
  int h = AddSoundData(-1);
  ASSERT_EQ(Add(h, File(700, 1000), 1), 0);
  ASSERT_EQ(Add(h, File(500, 5000), 0), 0);
  std::vector<int16_t> played = Play(h, 1, 60);
  std::vector<int16_t> expected;
  for (int pass = 0; pass < 2; ++pass)
    for (int i = 0; i < 700; ++i) expected.push_back(static_cast<int16_t>(1000 + i));
  for (int i = 0; i < 500; ++i) expected.push_back(static_cast<int16_t>(5000 + i));
  ASSERT_GE(played.size(), expected.size() + 100);
  for (size_t k = 0; k < played.size(); ++k)
    ASSERT_EQ(played[k], k < expected.size() ? expected[k] : 0) << "frame " << k;
  EXPECT_EQ(IsSoundHandlePlaying(h), 0);
}

// Loop play (type 3) of several files wraps from the last file to the first.
TEST_F(StreamFilesTest, LoopPlayWrapsToTheFirstFile) {
  int h = AddSoundData(-1);
  ASSERT_EQ(Add(h, File(600, 1000)), 0);
  ASSERT_EQ(Add(h, File(400, 5000)), 0);
  std::vector<int16_t> played = Play(h, 3, 40);
  for (size_t k = 0; k < played.size(); ++k) {
    size_t at = k % 1000;
    int expected = at < 600 ? 1000 + static_cast<int>(at) : 5000 + static_cast<int>(at - 600);
    ASSERT_EQ(played[k], expected) << "frame " << k;
  }
  EXPECT_EQ(IsSoundHandlePlaying(h), 1);
}

// A stream shorter than the first fill is written whole at once with its
// end, followed by silence as far as the ring is filled (a 32nd of a second,
// in whole blocks, short of the cursor), over whatever the ring held, and
// stops once the cursor has passed it; playing it again without from the top
// while it plays is refused.
TEST_F(StreamFilesTest, ShortStreamEndsWithSilenceAndStops) {
  int h = AddSoundData(-1);
  ASSERT_EQ(Add(h, File(2000, 1000)), 0);
  SoundRecord* r = FindSound(h);
  std::vector<uint8_t> noise = Ramp(88200);
  SoundBufferPieces pieces{};
  ASSERT_EQ(SoundBufLock(&r->buffers[0], 0, 88200, &pieces), 0);
  std::memcpy(pieces.piece1, noise.data(), pieces.bytes1);
  SoundBufUnlock(&r->buffers[0], &pieces);
  ASSERT_EQ(PlaySoundHandle(h, 1, 1), 0);
  EXPECT_EQ(r->stream.stopping, 1);
  EXPECT_EQ(r->stream.end_write_pos, 4000);
  EXPECT_EQ(r->stream.write_pos, 88200 - 2756);
  const std::vector<uint8_t> ring = BufferBytes(h);
  ASSERT_EQ(ring.size(), 88200u);
  EXPECT_EQ(std::count(ring.begin() + 4000, ring.begin() + r->stream.write_pos, 0), r->stream.write_pos - 4000);
  RefillAllStreamSounds();
  EXPECT_EQ(PlaySoundHandle(h, 1, 0), -1);
  EXPECT_EQ(IsSoundHandlePlaying(h), 1);
  for (int i = 0; i < 40 && IsSoundHandlePlaying(h) == 1; ++i) {
    RefillAllStreamSounds();
    Render(100);
  }
  EXPECT_EQ(IsSoundHandlePlaying(h), 0);
  EXPECT_EQ(r->stream.playing, 0);
  EXPECT_EQ(r->stream.ended, 1);
  // From the top it plays again.
  EXPECT_EQ(PlaySoundHandle(h, 1, 1), 0);
  EXPECT_EQ(IsSoundHandlePlaying(h), 1);
}

// A short file repeated (count 3: four passes, all within the first fill)
// and a second file after it: the play position counts every pass, so right
// after the repeats it is four lengths of the first file and what has played
// of the second.
TEST_F(StreamFilesTest, PositionRightAfterAShortFiniteLoopCountsEveryPass) {
  int h = AddSoundData(-1);
  ASSERT_EQ(Add(h, File(150, 1000), 3), 0);
  ASSERT_EQ(Add(h, File(2000, 5000)), 0);
  ASSERT_EQ(PlaySoundHandle(h, 1, 1), 0);
  std::vector<int16_t> out = Render(610);
  EXPECT_EQ(out[2 * 599], 1149);
  EXPECT_EQ(out[2 * 600], 5000);
  EXPECT_EQ(GetSoundHandleCurrentPosition(h), 610 * 2);
}

}  // namespace
