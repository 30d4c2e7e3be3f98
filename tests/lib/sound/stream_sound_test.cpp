// tests/lib/sound/stream_sound_test.cpp - a stream sound's one-second ring on
// the null output: a stream played once stops within a refill of its end
// wherever that end falls in the ring and however far apart the refills come,
// a looping stream wraps exactly, and a stream whose position is set while it
// plays goes on from there.
#include "tests/lib/sound/sound_fixture.h"

namespace {

using namespace soundtest;

constexpr int32_t kRate = 44100;

// Frame i of the test sound: distinct, never silent, left and right apart.
int16_t LeftAt(int64_t i) { return static_cast<int16_t>(1 + i % 30000); }
int16_t RightAt(int64_t i) { return static_cast<int16_t>(-1 - i % 30000); }

class StreamSoundTest : public SoundFixture {
 protected:
  // A stream of one stereo 16-bit file at the output rate, kept in memory and
  // converted while it plays.
  int MakeStream(int64_t frames) {
    WaveSpec spec;
    spec.rate = kRate;
    spec.channels = 2;
    spec.bits = 16;
    std::vector<uint8_t> data(static_cast<size_t>(frames) * 4);
    for (int64_t i = 0; i < frames; ++i) {
      const int16_t pair[2] = {LeftAt(i), RightAt(i)};
      std::memcpy(&data[static_cast<size_t>(i) * 4], pair, 4);
    }
    const std::vector<uint8_t> file = MakeWave(spec, data);
    const int handle = AddSoundData(-1);
    if (handle == -1 ||
        AddStreamSoundMemory(file.data(), static_cast<int32_t>(file.size()), 0, handle, 2, -1) != 0)
      return -1;
    return handle;
  }
  // One refill period: a refill as the sound thread or the pump does it,
  // then that many frames rendered and kept.
  void Period(uint32_t frames, std::vector<int16_t>* played) {
    RefillAllStreamSounds();
    const std::vector<int16_t> out = Render(frames);
    played->insert(played->end(), out.begin(), out.end());
  }
  // The first frame (from `from`) where the played pairs differ from the
  // sound's frames first..., or -1.
  static int64_t Mismatch(const std::vector<int16_t>& played, size_t from, size_t count, int64_t first) {
    for (size_t k = 0; k < count; ++k) {
      const size_t at = (from + k) * 2;
      if (played[at] != LeftAt(first + static_cast<int64_t>(k)) ||
          played[at + 1] != RightAt(first + static_cast<int64_t>(k)))
        return static_cast<int64_t>(from + k);
    }
    return -1;
  }
  // Plays handle h (a stream of `frames` frames) once, refilled every `gap`
  // frames: exactly its frames, then only silence, and it reports stopped at
  // the first refill at or after the end of its last frame. Its position
  // follows what has played, and stays at its end while the silence after it
  // plays.
  void PlayOnceAndCheck(int h, int64_t frames, uint32_t gap) {
    ASSERT_EQ(PlaySoundHandle(h, 1, 1), 0);
    std::vector<int16_t> played;
    int64_t rendered = 0;
    while (rendered < frames + 3 * kRate) {
      RefillAllStreamSounds();
      if (IsSoundHandlePlaying(h) != 1) break;
      const std::vector<int16_t> out = Render(gap);
      played.insert(played.end(), out.begin(), out.end());
      rendered += gap;
      ASSERT_EQ(GetSoundHandleCurrentPosition(h), std::min(rendered, frames) * 4) << "after " << rendered;
    }
    EXPECT_EQ(IsSoundHandlePlaying(h), 0);
    EXPECT_GE(rendered, frames);
    EXPECT_LT(rendered, frames + gap);
    ASSERT_GE(played.size(), static_cast<size_t>(frames) * 2);
    EXPECT_EQ(Mismatch(played, 0, static_cast<size_t>(frames), 0), -1);
    EXPECT_EQ(std::count(played.begin() + frames * 2, played.end(), 0),
              static_cast<std::ptrdiff_t>(played.size()) - frames * 2);
  }
};

// The data's end falls anywhere in the ring: inside the first fill, just
// before and on the ring's end in the first and second second, and where a
// refill every 735 frames (60 to the ring) never lands between the end and
// the ring's end. Each plays exactly, then silence, and stops at the first
// refill once its last frame has played, also one that comes just as it ends
// (44100 frames: the 60th and the 10th refill).
TEST_F(StreamSoundTest, PlayOnceStopsWithinARefillOfItsEnd) {
  const int64_t lengths[] = {20000, 44000, 44099, 44100, 50000, 88000, 88150, 88199, 88200, 130000};
  for (uint32_t period : {735u, 4410u}) {
    for (int64_t frames : lengths) {
      SCOPED_TRACE(testing::Message() << frames << " frames, refilled every " << period);
      const int h = MakeStream(frames);
      ASSERT_NE(h, -1);
      PlayOnceAndCheck(h, frames, period);
      // The position is back at the start for the next play.
      EXPECT_EQ(GetSoundHandleCurrentPosition(h), 0);
      EXPECT_EQ(DeleteSoundHandle(h, 0), 0);
    }
  }
}

// Refills far apart (a tenth, a quarter, a half and nine tenths of a
// second): a stream played once, twice over so that the ring holds the first
// play's sound, plays exactly to its last frame, then silence, and reports
// stopped at the first refill after its last frame; a looping stream, shorter
// or longer than the ring, with or without a loop point, and one far shorter
// than a refill's span (over 32 wraps a refill), wraps sample-exact with its
// position following every wrap.
TEST_F(StreamSoundTest, EndsAndLoopsExactlyUnderSlowRefills) {
  for (uint32_t gap : {4410u, 11025u, 22050u, 39690u}) {
    for (int64_t frames : {20000, 44100, 130000}) {
      SCOPED_TRACE(testing::Message() << frames << " frames played once, refilled every " << gap);
      const int h = MakeStream(frames);
      ASSERT_NE(h, -1);
      for (int round = 0; round < 2; ++round) PlayOnceAndCheck(h, frames, gap);
      EXPECT_EQ(DeleteSoundHandle(h, 0), 0);
    }
    const int64_t loops[][2] = {{20000, 0}, {100000, 0}, {30000, 12345}, {700, 0}, {1500, 1100}};
    for (const auto& loop : loops) {
      const int64_t frames = loop[0], start = loop[1];
      SCOPED_TRACE(testing::Message() << frames << " frames looped from " << start << ", refilled every " << gap);
      const int h = MakeStream(frames);
      ASSERT_NE(h, -1);
      if (start != 0) {
        ASSERT_EQ(SetSoundHandleLoopSamplePosition(static_cast<int>(start), h), 0);
      }
      auto source = [&](int64_t k) { return k < frames ? k : start + (k - frames) % (frames - start); };
      ASSERT_EQ(PlaySoundHandle(h, 3, 1), 0);
      std::vector<int16_t> played;
      int64_t rendered = 0;
      while (rendered < 3 * frames + 2 * kRate) {
        Period(gap, &played);
        rendered += gap;
        ASSERT_EQ(IsSoundHandlePlaying(h), 1);
        ASSERT_EQ(GetSoundHandleCurrentPosition(h), source(rendered) * 4) << "after " << rendered;
      }
      for (int64_t k = 0; k < rendered; ++k)
        ASSERT_TRUE(played[2 * k] == LeftAt(source(k)) && played[2 * k + 1] == RightAt(source(k))) << "frame " << k;
      EXPECT_EQ(DeleteSoundHandle(h, 0), 0);
    }
  }
}

// Setting the position while the stream plays goes on from the new position
// at once (back, forward, and back again while the tail drains after the end
// was written), and the stream still ends and stops. A stopped stream stays
// stopped and starts from the position set.
TEST_F(StreamSoundTest, PositionSetWhilePlayingGoesOnFromThere) {
  const int64_t frames = 100000;
  const int h = MakeStream(frames);
  ASSERT_NE(h, -1);
  ASSERT_EQ(PlaySoundHandle(h, 1, 1), 0);
  std::vector<int16_t> played;
  auto play_from = [&](int64_t first, int periods) {
    const size_t from = played.size() / 2;
    for (int i = 0; i < periods; ++i) Period(735, &played);
    EXPECT_EQ(Mismatch(played, from, played.size() / 2 - from, first), -1) << "from frame " << first;
  };
  play_from(0, 30);                         // 22050 frames
  ASSERT_EQ(SetSoundHandleCurrentPosition(5000 * 4, h), 0);
  EXPECT_EQ(IsSoundHandlePlaying(h), 1);
  EXPECT_EQ(GetSoundHandleCurrentPosition(h), 5000 * 4);
  play_from(5000, 70);                      // 51450 frames, across the ring's end
  EXPECT_EQ(GetSoundHandleCurrentPosition(h), (5000 + 51450) * 4);
  ASSERT_EQ(SetSoundHandleCurrentPosition(80000 * 4, h), 0);
  play_from(80000, 20);                     // to 94700: the end is written
  ASSERT_EQ(FindSound(h)->stream.stopping, 1);
  ASSERT_EQ(SetSoundHandleCurrentPosition(90000 * 4, h), 0);
  const size_t from = played.size() / 2;
  while (played.size() / 2 - from < 20000) {
    RefillAllStreamSounds();
    if (IsSoundHandlePlaying(h) != 1) break;
    const std::vector<int16_t> out = Render(735);
    played.insert(played.end(), out.begin(), out.end());
  }
  EXPECT_EQ(IsSoundHandlePlaying(h), 0);
  ASSERT_GE(played.size() / 2 - from, 10000u);
  EXPECT_LE(played.size() / 2 - from, 10000u + 735);
  EXPECT_EQ(Mismatch(played, from, 10000, 90000), -1);
  EXPECT_EQ(std::count(played.begin() + static_cast<std::ptrdiff_t>(from + 10000) * 2, played.end(), 0),
            static_cast<std::ptrdiff_t>(played.size()) - static_cast<std::ptrdiff_t>(from + 10000) * 2);

  // Stopped, it stays stopped; played on (not from the top) it starts there.
  ASSERT_EQ(SetSoundHandleCurrentPosition(30000 * 4, h), 0);
  EXPECT_EQ(IsSoundHandlePlaying(h), 0);
  played.clear();
  Period(735, &played);
  EXPECT_EQ(std::count(played.begin(), played.end(), 0), static_cast<std::ptrdiff_t>(played.size()));
  played.clear();
  ASSERT_EQ(PlaySoundHandle(h, 1, 0), 0);
  play_from(30000, 10);
}

}  // namespace
