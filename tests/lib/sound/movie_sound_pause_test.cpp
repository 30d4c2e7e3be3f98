// tests/lib/sound/movie_sound_pause_test.cpp - the sound of a movie played
// through the media graph across a pause: what the audio renderer wrote
// ahead of the play cursor waits in its buffer while the movie is paused and
// is heard after the resume, at the movie's own times.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "lib/sound/movie.h"
#include "platform/kernel/kernel.h"
#include "platform/media/base_classes.h"
#include "tests/lib/sound/sound_fixture.h"
#include "tests/support/scratch_dir.h"

namespace {

int64_t ClockMicros() {
  return static_cast<int64_t>(static_cast<__int128>(plat::QueryPerformanceCounter()) * 1000000 /
                              plat::QueryPerformanceFrequency());
}

// Waits until `streams` renderers wait for samples not yet due at the
// clock's present time (or a long real time passes).
void Settle(int streams) {
  const plat::ReferenceTime now = static_cast<plat::ReferenceTime>(
      static_cast<__int128>(plat::QueryPerformanceCounter()) * plat::kUnitsPerSecond / plat::QueryPerformanceFrequency());
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (plat::MediaRenderersParkedAt(now) < streams && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

class ThreadedMovieSoundPause : public soundtest::SoundFixture {};

// The mixer plays each 10 ms as the clock reaches it. The movie is paused
// 0.1 s before its second beep, with that beep already written ahead, for
// half a second: nothing is heard while it stands, and the beep comes 0.1 s
// after the resume, once.
TEST_F(ThreadedMovieSoundPause, SoundWrittenAheadWaitsThroughAPause) {
  testsupport::ScratchDir dir;
  // 2.5 s whose sound is a 1 kHz beep of 0.1 s starting 0.2 s into each
  // second.
  const std::string file = dir / "beep.mp4";
  ASSERT_EQ(std::system(("ffmpeg -y -f lavfi -i color=c=gray:s=64x48:r=25:d=2.5 -f lavfi -i "
                         "'aevalsrc=exprs=if(between(mod(t\\,1)\\,0.2\\,0.3)\\,0.5*sin(2000*PI*t)\\,0):s=44100:d=2.5' "
                         "-c:v libx264 -pix_fmt yuv420p -bf 0 -c:a aac " +
                         file + " >/dev/null 2>&1")
                            .c_str()),
            0);
  const int handle = OpenMovie(file.c_str(), nullptr, nullptr, 0);
  ASSERT_NE(handle, -1);
  MovieRecord* r = MovieHandleToRecord(handle);
  r->play_type = 1;
  r->resume = 1;
  const int64_t start = ClockMicros();
  ResumeAllMovies();
  constexpr int kPauseAtMs = 1100, kPauseMs = 500;
  std::vector<int16_t> heard;
  for (int ms = 0; ms < 3000 + kPauseMs; ms += 10) {
    const bool paused = ms >= kPauseAtMs && ms < kPauseAtMs + kPauseMs;
    if (ms == kPauseAtMs) {
      ASSERT_EQ(PauseMovieHandle(handle, 0), 0);
    }
    if (ms == kPauseAtMs + kPauseMs) {
      r->resume = 1;
      ResumeAllMovies();
    }
    const int64_t now = ClockMicros();
    if (start + ms * 1000 > now) plat::AdvanceVirtualClock(static_cast<uint64_t>(start + ms * 1000 - now));
    if (!paused) {
      // Sound is taken a quarter second ahead: its renderer waits no more
      // from 2.25 s of the movie on, nor the picture's after its last frame.
      const int movie_ms = ms < kPauseAtMs ? ms : ms - kPauseMs;
      Settle(movie_ms < 2200 ? 2 : movie_ms < 2450 ? 1 : 0);
    }
    UpdateMovieFrame(handle);
    const std::vector<int16_t> part = Render(441);
    heard.insert(heard.end(), part.begin(), part.end());
  }
  EXPECT_EQ(CloseMovieHandle(handle), 0);
  const std::vector<int> onsets = soundtest::Onsets(heard);
  ASSERT_EQ(onsets.size(), 3u) << testing::PrintToString(onsets);
  EXPECT_NEAR(onsets[0], 200, 40);
  EXPECT_NEAR(onsets[1], 1200 + kPauseMs, 40);
  EXPECT_NEAR(onsets[2], 2200 + kPauseMs, 40);
}

}  // namespace
