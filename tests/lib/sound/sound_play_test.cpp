// Playback control on the null output, whose cursors move only when the test
// renders frames.
#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

#include "tests/lib/sound/sound_fixture.h"

namespace {

using namespace soundtest;

class SoundPlayTest : public SoundFixture {
 protected:
  // A mono 16-bit sound at the output rate, frames long.
  int MakeSound(uint32_t frames, int buffers = 1) {
    WaveSpec spec;
    spec.rate = 44100;
    spec.bits = 16;
    std::vector<uint8_t> data(frames * 2);
    for (uint32_t i = 0; i < frames; ++i) {
      int16_t v = static_cast<int16_t>(1000 + i);
      std::memcpy(&data[i * 2], &v, 2);
    }
    return Load(MakeWave(spec, data), buffers);
  }
};

TEST_F(SoundPlayTest, PlayOnceStopsAtEndWithPositionZero) {
  int h = MakeSound(1000);
  ASSERT_NE(h, -1);
  ASSERT_EQ(PlaySoundHandle(h, 1, 1), 0);
  EXPECT_EQ(IsSoundHandlePlaying(h), 1);
  Render(400);
  EXPECT_EQ(GetSoundHandleCurrentPosition(h), 800);
  EXPECT_EQ(GetSoundHandleCurrentTime(h), 9);  // 400 samples at 44.1 kHz
  Render(600);
  EXPECT_EQ(IsSoundHandlePlaying(h), 0);
  EXPECT_EQ(GetSoundHandleCurrentPosition(h), 0);
}

TEST_F(SoundPlayTest, LoopWrapsAndStopThenPlayFromTopRestarts) {
  int h = MakeSound(1000);
  ASSERT_EQ(PlaySoundHandle(h, 3, 1), 0);
  Render(2500);
  EXPECT_EQ(IsSoundHandlePlaying(h), 1);
  EXPECT_EQ(GetSoundHandleCurrentPosition(h), 1000);
  EXPECT_EQ(StopSoundHandle(h), 0);
  EXPECT_EQ(IsSoundHandlePlaying(h), 0);
  // Continue from where it stopped, then from the top.
  ASSERT_EQ(PlaySoundHandle(h, 1, 0), 0);
  EXPECT_EQ(GetSoundHandleCurrentPosition(h), 1000);
  StopSoundHandle(h);
  ASSERT_EQ(PlaySoundHandle(h, 1, 1), 0);
  EXPECT_EQ(GetSoundHandleCurrentPosition(h), 0);
  std::vector<int16_t> out = Render(2);
  EXPECT_EQ(out[0], 1000);
  EXPECT_EQ(out[2], 1001);
  // Playing again without from-top while it plays changes nothing.
  Render(98);
  EXPECT_EQ(PlaySoundHandle(h, 1, 0), 0);
  EXPECT_EQ(GetSoundHandleCurrentPosition(h), 200);
}

TEST_F(SoundPlayTest, ThreeBuffersOverlapThreeTimes) {
  int h = MakeSound(1000, 3);
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(PlaySoundHandle(h, 1, 1), 0);
    Render(100);
  }
  SoundRecord* r = FindSound(h);
  int playing = 0;
  for (int i = 0; i < 3; ++i) {
    uint32_t status = 0;
    GetSoundBufferStatus(&r->buffers[i], &status);
    playing += (status & plat::kDSBSTATUS_PLAYING) ? 1 : 0;
  }
  EXPECT_EQ(playing, 3);
  // The three copies sum in the mix.
  std::vector<int16_t> out = Render(1);
  EXPECT_EQ(out[0], (1000 + 300) + (1000 + 200) + (1000 + 100));
  // A fourth play restarts the buffer the first play used.
  ASSERT_EQ(PlaySoundHandle(h, 1, 1), 0);
  EXPECT_EQ(r->current_buffer, 1);
  EXPECT_EQ(GetSoundHandleCurrentPosition(h), 0);
}

TEST_F(SoundPlayTest, VolumeScaleFollowsDecibelCurve) {
  int h = MakeSound(100, 2);
  struct Case {
    int scale, db;
  };
  // The buffer volume is 1000 log10(scale / 255), truncated toward
  // zero: 254 is -1.7, 200 is -105.5, 64 is -600.4, 2 is -2105.5.
  for (Case c : {Case{255, 0}, Case{300, 0}, Case{254, -1}, Case{200, -105}, Case{128, -299},
                 Case{100, -406}, Case{64, -600}, Case{25, -1008}, Case{2, -2105}, Case{1, -2406},
                 Case{0, -10000}, Case{-5, -10000}}) {
    ASSERT_EQ(ChangeSoundHandleVolume(c.scale, h), 0);
    EXPECT_EQ(FindSound(h)->volume, c.db) << c.scale;
    EXPECT_EQ(GetSoundHandleVolume(h), c.db + 10000) << c.scale;
  }
  EXPECT_EQ(SetSoundHandleVolume(12000, h), 0);
  EXPECT_EQ(GetSoundHandleVolume(h), 10000);
  EXPECT_EQ(SetSoundHandlePan(-20000, h), 0);
  EXPECT_EQ(GetSoundHandlePan(h), -10000);
  EXPECT_EQ(SetSoundHandleFrequency(22050, h), 0);
  EXPECT_EQ(GetSoundHandleFrequency(h), 22050);
  EXPECT_EQ(SetSoundHandleFrequency(-1, h), 0);
  EXPECT_EQ(GetSoundHandleFrequency(h), 44100);
  // Settings reach the buffer that plays next.
  ChangeSoundHandleVolume(128, h);
  SetSoundHandlePan(0, h);
  PlaySoundHandle(h, 1, 1);
  std::vector<int16_t> out = Render(1);
  EXPECT_NEAR(out[0], 708.6, 1.0);  // 1000 x 10^(-2.99 / 20)
}

TEST_F(SoundPlayTest, PlayAndWaitReturnsAfterTheEnd) {
  int h = MakeSound(2000);
  std::atomic<bool> done{false};
  std::thread clock([&] {
    while (!done.load()) {
      plat::NullAudioRender(nullptr, 100);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  EXPECT_EQ(PlaySoundHandle(h, 0, 1), 0);
  EXPECT_EQ(IsSoundHandlePlaying(h), 0);
  done = true;
  clock.join();
}

TEST_F(SoundPlayTest, LoopPositionRefusalsAndStreamConversion) {
  int h = MakeSound(1000);
  EXPECT_EQ(SetSoundHandleLoopSamplePosition(1000, h), -1);
  EXPECT_EQ(SetSoundHandleLoopPosition(1000, h), -1);  // 44100 samples: past the end
  EXPECT_EQ(SetSoundHandleLoopPosition(-1, h), 0);
  EXPECT_EQ(FindSound(h)->kind, kSoundOrdinary);
  ChangeSoundHandleVolume(128, h);
  // A loop point turns the sound into a stream sound under the same handle.
  ASSERT_EQ(SetSoundHandleLoopSamplePosition(500, h), 0);
  SoundRecord* r = FindSound(h);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->kind, kSoundStream);
  EXPECT_EQ(r->stream.files[0].loop_count, 255);
  EXPECT_EQ(r->stream.files[0].loop_start_sample, 500);
  EXPECT_EQ(GetSoundHandleVolume(h), 10000 - 299);
  EXPECT_EQ(GetSoundHandleSampleLength(h), 1000);
  EXPECT_EQ(SetSoundHandleLoopPosition(5, h), 0);
  EXPECT_EQ(FindSound(h)->stream.files[0].loop_start_sample, 220);
}

// A looped stream plays its samples in order and, past the end, continues
// from the loop point with no gap or repeated sample.
TEST_F(SoundPlayTest, LoopedStreamContinuesFromLoopPoint) {
  int h = MakeSound(1000);
  ASSERT_EQ(SetSoundHandleLoopSamplePosition(500, h), 0);
  ASSERT_EQ(PlaySoundHandle(h, 3, 1), 0);
  std::vector<int16_t> played;
  for (int i = 0; i < 40; ++i) {
    RefillAllStreamSounds();
    std::vector<int16_t> out = Render(100);
    for (int f = 0; f < 100; ++f) played.push_back(out[2 * f]);
  }
  for (size_t k = 0; k < played.size(); ++k) {
    int expected = k < 1000 ? 1000 + static_cast<int>(k) : 1500 + static_cast<int>((k - 1000) % 500);
    ASSERT_EQ(played[k], expected) << "frame " << k;
  }
  EXPECT_EQ(IsSoundHandlePlaying(h), 1);
  EXPECT_EQ(StopSoundHandle(h), 0);
  EXPECT_EQ(IsSoundHandlePlaying(h), 0);
}

// A stream that does not loop ends with silence and stops once the cursor has
// passed its end.
TEST_F(SoundPlayTest, StreamPlaysOnceAndStops) {
  int h = MakeSound(1000);
  ASSERT_EQ(CreateStreamSoundHandle(h), 0);
  ASSERT_EQ(PlaySoundHandle(h, 1, 1), 0);
  std::vector<int16_t> played;
  for (int i = 0; i < 40 && IsSoundHandlePlaying(h) == 1; ++i) {
    RefillAllStreamSounds();
    std::vector<int16_t> out = Render(100);
    for (int f = 0; f < 100; ++f) played.push_back(out[2 * f]);
  }
  EXPECT_EQ(IsSoundHandlePlaying(h), 0);
  ASSERT_GE(played.size(), 1000u);
  for (size_t k = 0; k < played.size(); ++k) ASSERT_EQ(played[k], k < 1000 ? 1000 + static_cast<int>(k) : 0) << k;
}

TEST_F(SoundPlayTest, BadHandlesAndDeletion) {
  int h = MakeSound(100);
  EXPECT_EQ(PlaySoundHandle(-1, 1, 1), -1);
  EXPECT_EQ(PlaySoundHandle(h + 1, 1, 1), -1);
  EXPECT_EQ(PlaySoundHandle(h ^ 0x00010000, 1, 1), -1);
  EXPECT_EQ(DeleteSoundHandle(h, 0), 0);
  EXPECT_EQ(DeleteSoundHandle(h, 0), -1);
  EXPECT_EQ(IsSoundHandlePlaying(h), -1);
}

}  // namespace
