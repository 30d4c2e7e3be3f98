// tests/lib/sound/movie_test.cpp - movie handles and the Theora player
// against movies made by the reference encoders, and the YUV conversion
// against a floating-point BT.601 reference and worked values.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <ogg/ogg.h>

#include "lib/core/handle_table.h"
#include "lib/sound/movie.h"
#include "tests/lib/sound/sound_fixture.h"
#include "tests/support/log_capture.h"
#include "tests/support/sjis.h"
#include "tests/support/theora_writer.h"

namespace {

using testsupport::MovieSpec;

void WriteFile(const std::string& name, const std::string& bytes) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The colour of pixel (x, y) of the movie's frame image.
struct Rgb {
  int r, g, b;
};
Rgb PixelOf(const BaseImage* image, int x, int y) {
  const uint8_t* p = image->pixels + static_cast<size_t>(y) * image->pitch + static_cast<size_t>(x) * 4;
  return {p[2], p[1], p[0]};
}

// Pixel (x, y) against the reference conversion of the test movie's frame 0
// there (a picture `height` rows high), within `tolerance` a channel.
void ExpectFrame0Pixel(const BaseImage* image, int x, int y, int height, int tolerance) {
  const testsupport::YuvSample s = testsupport::MovieSampleAt(0, x, y, height);
  int r, g, b;
  testsupport::Bt601Reference(s.y, s.cb, s.cr, &r, &g, &b);
  const Rgb c = PixelOf(image, x, y);
  EXPECT_NEAR(c.r, r, tolerance) << x << "," << y;
  EXPECT_NEAR(c.g, g, tolerance) << x << "," << y;
  EXPECT_NEAR(c.b, b, tolerance) << x << "," << y;
}

// Which frame the image shows, from the luma of its marker bar; -1 when the
// marker matches none.
int FrameShown(const BaseImage* image) {
  const Rgb c = PixelOf(image, 8, 8);
  for (int f = 0; f < 12; ++f) {
    int r, g, b;
    testsupport::Bt601Reference(32 + 16 * f, 128, 128, &r, &g, &b);
    if (std::abs(c.r - r) <= 5 && std::abs(c.g - g) <= 5 && std::abs(c.b - b) <= 5) return f;
  }
  return -1;
}

// Rewrites the coded frame size in a movie's Theora identification header
// (the first page) to the given count of 16 x 16 macroblocks a side, and
// seals the page again.
void SetTheoraMacroblocks(std::string* movie, uint16_t across, uint16_t down) {
  const size_t at = movie->find("\x80theora");
  ASSERT_NE(at, std::string::npos);
  auto* bytes = reinterpret_cast<unsigned char*>(movie->data());
  const size_t size_at = at + 7 + 3;  // past the packet type, "theora" and the version
  bytes[size_at] = uint8_t(across >> 8);
  bytes[size_at + 1] = uint8_t(across);
  bytes[size_at + 2] = uint8_t(down >> 8);
  bytes[size_at + 3] = uint8_t(down);
  ogg_page page;
  page.header = bytes;
  page.header_len = 27 + bytes[26];
  page.body = bytes + page.header_len;
  page.body_len = 0;
  for (int s = 0; s < bytes[26]; ++s) page.body_len += bytes[27 + s];
  ASSERT_LT(size_at, size_t(page.header_len + page.body_len));
  ogg_page_checksum_set(&page);
}

class MovieTest : public soundtest::SoundFixture {
 protected:
  void SetUp() override {
    capture_ = std::make_unique<testsupport::LogCapture>();
    soundtest::SoundFixture::SetUp();
    InitializeYuvTables();
  }
  void TearDown() override {
    for (int h : open_)
      CloseMovieHandle(h);
    EXPECT_EQ(GetMovieCount(), 0);
    soundtest::SoundFixture::TearDown();
    capture_.reset();
  }
  int Open(const std::string& name, const MovieSpec& spec, int* w = nullptr, int* h = nullptr) {
    WriteFile(name, testsupport::MakeOggMovie(spec));
    int handle = OpenMovie(name.c_str(), w, h, 0);
    if (handle != -1) open_.push_back(handle);
    return handle;
  }
  // Starts a movie as a resumed activation would.
  void Start(int handle, int play_type) {
    MovieRecord* r = MovieHandleToRecord(handle);
    r->play_type = play_type;
    r->resume = 1;
    ResumeAllMovies();
  }
  // Moves the clock to `micros` past the start and updates the movie.
  int FrameAfter(int handle, int64_t micros) {
    MovieRecord* r = MovieHandleToRecord(handle);
    const int64_t now = static_cast<int64_t>(GetMicroClock(0));
    if (r->start_time + micros > now) plat::AdvanceVirtualClock(static_cast<uint64_t>(r->start_time + micros - now));
    UpdateMovieFrame(handle);
    return GetTheoraFrameNumber(r->theora_record);
  }
  int Shown(int handle) {
    MovieRecord* r = MovieHandleToRecord(handle);
    ConvertTheoraFrame(r->theora_record, 1, 0);
    return FrameShown(r->frame_image);
  }
  std::unique_ptr<testsupport::LogCapture> capture_;
  std::vector<int> open_;
};

// ---- Open and close ---------------------------------------------------------------

TEST_F(MovieTest, OpensATheoraFileWithItsSizeFrameRateAndFirstFrameConverted) {
  int w = 0, h = 0;
  const int handle = Open("bars.ogg", MovieSpec{}, &w, &h);
  ASSERT_NE(handle, -1);
  EXPECT_EQ(HandleKind(handle), 0x18000000);
  EXPECT_EQ(HandleSlot(handle), 0);
  EXPECT_EQ(w, 64);
  EXPECT_EQ(h, 48);
  MovieRecord* r = MovieHandleToRecord(handle);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->theora, 1);
  EXPECT_EQ(r->stopped, 1);
  EXPECT_EQ(r->resume, 0);
  EXPECT_EQ(r->play_type, 1);
  EXPECT_EQ(r->sound_handle, -1);  // no Vorbis stream
  TheoraFrameRate rate{};
  GetTheoraFrameRate(r->theora_record, &rate);
  EXPECT_DOUBLE_EQ(rate.frames_per_second, 30.0);
  EXPECT_EQ(rate.frame_count, 10);
  EXPECT_EQ(GetTheoraFrameNumber(r->theora_record), 0);
  EXPECT_EQ(r->theora_record->image_converted, 1);
  // Frame 0's bars, the right way up, in the colours of the reference.
  const BaseImage* image = r->frame_image;
  ASSERT_EQ(image->width, 64);
  ASSERT_EQ(image->height, 48);
  for (int x = 8; x < 64; x += 16) {
    for (int y : {4, 20, 40}) ExpectFrame0Pixel(image, x, y, 48, 6);
  }
  EXPECT_EQ(FrameShown(image), 0);
}

TEST_F(MovieTest, HandlesTakeTheFirstFreeSlotWithTheNextCheckAndRefuseStaleOnes) {
  const int a = Open("a.ogg", MovieSpec{});
  const int b = Open("a.ogg", MovieSpec{});
  ASSERT_NE(a, -1);
  ASSERT_NE(b, -1);
  EXPECT_EQ(HandleSlot(b), 1);
  ASSERT_EQ(CloseMovieHandle(a), 0);
  open_.erase(open_.begin());
  EXPECT_EQ(CloseMovieHandle(a), -1);
  EXPECT_EQ(MovieHandleToRecord(a), nullptr);
  EXPECT_EQ(UpdateMovieFrame(a), -1);
  EXPECT_EQ(PauseMovieHandle(a, 0), -1);
  EXPECT_EQ(SetMovieFrameCallback(a, nullptr, nullptr), -1);
  const int c = OpenMovie("a.ogg", nullptr, nullptr, 0);
  ASSERT_NE(c, -1);
  open_.push_back(c);
  EXPECT_EQ(HandleSlot(c), 0);
  EXPECT_EQ(HandleCheck(c), HandleCheck(b) + 1);
  EXPECT_EQ(MovieHandleToRecord(a), nullptr);
  EXPECT_EQ(CloseMovieHandle(-1), -1);
  EXPECT_EQ(CloseMovieHandle(0x18000000 | 100), -1);
  EXPECT_EQ(CloseMovieHandle((c & ~0x78000000) | 0x10000000), -1);
}

TEST_F(MovieTest, TheHundredAndFirstOpenFails) {
  WriteFile("small.ogg", testsupport::MakeOggMovie(MovieSpec{16, 16, 2}));
  for (int i = 0; i < kMovieSlotCount; ++i) {
    const int h = OpenMovie("small.ogg", nullptr, nullptr, 0);
    ASSERT_NE(h, -1) << i;
    open_.push_back(h);
  }
  EXPECT_EQ(OpenMovie("small.ogg", nullptr, nullptr, 0), -1);
  EXPECT_EQ(GetMovieCount(), kMovieSlotCount);
}

TEST_F(MovieTest, FilesThatAreNoMovieFailWithTheOpenLinesAndLeaveNothing) {
  WriteFile("text.ogg", "not a movie at all");
  capture_->Clear();
  EXPECT_EQ(OpenMovie("text.ogg", nullptr, nullptr, 0), -1);
  EXPECT_NE(capture_->Debug().find(testsupport::Sjis("ムービーファイルオープン処理時にエラーが発生しました")),
            std::string::npos);
  MovieSpec vorbis_only;
  vorbis_only.theora = false;
  WriteFile("voice.ogg", testsupport::MakeOggMovie(vorbis_only));
  // Sound alone is no Theora movie: it plays through a media graph, without
  // a picture.
  int w = -1, h = -1;
  const int voice = OpenMovie("voice.ogg", &w, &h, 0);
  ASSERT_NE(voice, -1);
  EXPECT_EQ(MovieHandleToRecord(voice)->theora, 0);
  EXPECT_EQ(w, 0);
  EXPECT_EQ(h, 0);
  EXPECT_EQ(CloseMovieHandle(voice), 0);
  EXPECT_EQ(OpenMovie("missing.ogg", nullptr, nullptr, 0), -1);
  // A truncated file: the headers end early.
  std::string whole = testsupport::MakeOggMovie(MovieSpec{});
  WriteFile("cut.ogg", whole.substr(0, 60));
  EXPECT_EQ(OpenMovie("cut.ogg", nullptr, nullptr, 0), -1);
  EXPECT_EQ(GetMovieCount(), 0);
}

// A header claiming 1048560 x 1048560 pixels (0xFFFF macroblocks a side) is
// refused, with a log line, before the decoder asks for its frames; the
// media graph that the file is offered to next refuses it too.
TEST_F(MovieTest, AFrameSizePastThePictureLimitIsRefusedWithALogLine) {
  std::string movie = testsupport::MakeOggMovie(MovieSpec{});
  SetTheoraMacroblocks(&movie, 0xFFFF, 0xFFFF);
  WriteFile("huge.ogg", movie);
  capture_->Clear();
  EXPECT_EQ(OpenMovie("huge.ogg", nullptr, nullptr, 0), -1);
  EXPECT_NE(capture_->Debug().find(testsupport::Sjis("Theora ムービーのフレームサイズ 1048560 x 1048560 が大きすぎます")),
            std::string::npos)
      << capture_->Debug();
  EXPECT_EQ(GetMovieCount(), 0);
  // 2048 x 2048 over the same 64 x 48 of data is within the limit.
  std::string large = testsupport::MakeOggMovie(MovieSpec{});
  SetTheoraMacroblocks(&large, 128, 128);
  WriteFile("large.ogg", large);
  int w = 0, h = 0;
  const int handle = OpenMovie("large.ogg", &w, &h, 0);
  EXPECT_NE(handle, -1);
  if (handle != -1) { EXPECT_EQ(CloseMovieHandle(handle), 0); }
}

// Frame 0 of a movie as the ffmpeg command decodes it: B, G, R, A a pixel;
// "unaligned" lets it cut the picture out at any offset. Empty on failure.
std::string FfmpegFirstFrame(const std::string& movie) {
  const std::string raw = movie + ".bgra";
  const std::string command = "ffmpeg -v error -y -flags unaligned -i " + movie +
                              " -frames:v 1 -f rawvideo -pix_fmt bgra " + raw + " >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) return {};
  std::ifstream in(raw, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A picture whose size is no multiple of 16 sits inside a larger coded frame
// (160 x 120 in 160 x 128): the movie has the picture's size, and its frame
// the picture's pixels from its offset, as the ffmpeg command decodes them
// (with its own colour conversion: within 3 a channel).
TEST_F(MovieTest, APictureInsideALargerCodedFrameKeepsItsSizeAndOffset) {
  struct Case {
    int width, height, x, y;
  } cases[] = {{160, 120, 0, 0}, {100, 70, 6, 4}};
  for (const Case& c : cases) {
    MovieSpec spec;
    spec.width = c.width, spec.height = c.height, spec.pic_x = c.x, spec.pic_y = c.y;
    const std::string name = "picture" + std::to_string(c.width) + ".ogg";
    int w = 0, h = 0;
    const int handle = Open(name, spec, &w, &h);
    ASSERT_NE(handle, -1);
    EXPECT_EQ(w, c.width);
    EXPECT_EQ(h, c.height);
    const BaseImage* image = MovieHandleToRecord(handle)->frame_image;
    ASSERT_EQ(image->width, c.width);
    ASSERT_EQ(image->height, c.height);
    const std::string expect = FfmpegFirstFrame(name);
    ASSERT_EQ(expect.size(), size_t(c.width) * c.height * 4) << "the ffmpeg command could not decode " << name;
    int wrong = 0;
    for (int y = 0; y < c.height; ++y)
      for (int x = 0; x < c.width; ++x)
        for (int k = 0; k < 3; ++k) {
          const int got = image->pixels[size_t(y) * image->pitch + size_t(x) * 4 + k];
          const int want = uint8_t(expect[(size_t(y) * c.width + x) * 4 + k]);
          if (std::abs(got - want) > 3 && wrong++ == 0)
            ADD_FAILURE() << name << " at " << x << "," << y << " channel " << k << ": " << got << " vs " << want;
        }
    EXPECT_EQ(wrong, 0) << name;
  }
  // An odd offset: there ffmpeg cuts the chroma planes half a sample off, so
  // the reference is the samples the movie was made from, at pixels whose
  // chroma sample covers only their own bar, next to the bars' edges and to
  // the white rows. The coder's ringing there reaches 9; a picture taken from
  // the wrong offset is a bar off.
  MovieSpec odd;
  odd.width = 99, odd.height = 69, odd.pic_x = 3, odd.pic_y = 5;
  int w = 0, h = 0;
  const int handle = Open("odd.ogg", odd, &w, &h);
  ASSERT_NE(handle, -1);
  ASSERT_EQ(w, 99);
  ASSERT_EQ(h, 69);
  const BaseImage* image = MovieHandleToRecord(handle)->frame_image;
  for (int bar = 0; bar < 6; ++bar)
    for (int x : {bar * 16 + 1, bar * 16 + 14})
      for (int y : {1, 51, 53, 68}) ExpectFrame0Pixel(image, x, y, 69, 16);
}

// ---- Frame timing -----------------------------------------------------------------

TEST_F(MovieTest, AStoppedMovieStaysOnItsFrameButStillDeliversIt) {
  const int handle = Open("bars.ogg", MovieSpec{});
  ASSERT_NE(handle, -1);
  int calls = 0;
  SetMovieFrameCallback(
      handle, [](void*, void* count) { ++*static_cast<int*>(count); }, &calls);
  plat::AdvanceVirtualClock(500000);
  EXPECT_EQ(UpdateMovieFrame(handle), 0);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(MovieHandleToRecord(handle)->frame_delivered, 1);
  EXPECT_EQ(GetTheoraFrameNumber(MovieHandleToRecord(handle)->theora_record), 0);
}

TEST_F(MovieTest, WithoutSoundTheFrameFollowsTheClock) {
  const int handle = Open("bars.ogg", MovieSpec{});
  ASSERT_NE(handle, -1);
  Start(handle, 1);
  EXPECT_EQ(MovieHandleToRecord(handle)->stopped, 0);
  EXPECT_EQ(FrameAfter(handle, 0), 0);
  EXPECT_EQ(FrameAfter(handle, 115000), 3);  // 0.1 s at 30 fps
  EXPECT_EQ(Shown(handle), 3);
  EXPECT_EQ(FrameAfter(handle, 240000), 7);
  EXPECT_EQ(Shown(handle), 7);
  // A second conversion of the same frame has nothing to do.
  EXPECT_EQ(ConvertTheoraFrame(MovieHandleToRecord(handle)->theora_record, 1, 0), 0);
}

TEST_F(MovieTest, ANonLoopingMovieStopsOnItsLastFrame) {
  const int handle = Open("bars.ogg", MovieSpec{});
  ASSERT_NE(handle, -1);
  Start(handle, 1);
  EXPECT_EQ(FrameAfter(handle, 2000000), 9);
  EXPECT_EQ(Shown(handle), 9);
  EXPECT_EQ(MovieHandleToRecord(handle)->stopped, 0);
  FrameAfter(handle, 2100000);
  EXPECT_EQ(MovieHandleToRecord(handle)->stopped, 1);
  EXPECT_EQ(MovieHandleToRecord(handle)->resume, 0);
}

TEST_F(MovieTest, ALoopingMovieWrapsToElapsedFramesModuloTheCount) {
  const int handle = Open("bars.ogg", MovieSpec{});
  ASSERT_NE(handle, -1);
  Start(handle, 3);
  EXPECT_EQ(FrameAfter(handle, 315000), 9);
  EXPECT_EQ(Shown(handle), 9);
  // 12 frames in: frame 2 of the second pass.
  EXPECT_EQ(FrameAfter(handle, 415000), 2);
  EXPECT_EQ(Shown(handle), 2);
  EXPECT_EQ(FrameAfter(handle, 1000000 * 25 / 30 + 10000), 5);
  EXPECT_EQ(Shown(handle), 5);
}

TEST_F(MovieTest, ALongMovieDecodesAheadJumpsAndWrapsPastItsStock) {
  MovieSpec spec;
  spec.frames = 40;
  spec.keyframe_interval = 8;
  const int handle = Open("long.ogg", spec);
  ASSERT_NE(handle, -1);
  Start(handle, 3);
  const int64_t frame_us = 1000000 / 30;
  for (int f : {1, 2, 5, 23, 24, 35, 39, 41, 44, 70, 79, 80}) {
    const int expect = f % 40;
    EXPECT_EQ(FrameAfter(handle, f * frame_us + frame_us / 2), expect) << f;
    EXPECT_EQ(Shown(handle), expect % 12) << f;
  }
}

TEST_F(MovieTest, JumpsRoundTheLoopPointPastTheStockStillReachTheFrame) {
  MovieSpec spec;
  spec.frames = 15;
  const int short_movie = Open("short.ogg", spec);
  spec.frames = 40;
  const int long_movie = Open("long.ogg", spec);
  ASSERT_NE(short_movie, -1);
  ASSERT_NE(long_movie, -1);
  TheoraMovieRecord* a = MovieHandleToRecord(short_movie)->theora_record;
  TheoraMovieRecord* b = MovieHandleToRecord(long_movie)->theora_record;
  // Frames 0..9 stocked, then the shown frame goes straight to the last.
  for (int f = 1; f < 10; ++f) {
    AdvanceTheoraFrame(a, 1);
    EXPECT_EQ(Shown(short_movie), f);
  }
  AdvanceTheoraFrame(a, 5);
  EXPECT_EQ(GetTheoraFrameNumber(a), 14);
  EXPECT_EQ(Shown(short_movie), 14 % 12);
  // The stock holds 30..39 when the shown frame goes round to 2.
  SeekTheoraFrame(b, 30);
  for (int f = 31; f < 40; ++f) {
    AdvanceTheoraFrame(b, 1);
    EXPECT_EQ(Shown(long_movie), f % 12);
  }
  AdvanceTheoraFrame(b, 3);
  EXPECT_EQ(GetTheoraFrameNumber(b), 2);
  EXPECT_EQ(Shown(long_movie), 2);
  // Counts beyond the frame count land on a frame of the movie.
  AdvanceTheoraFrame(b, 40 * 3 + 5);
  EXPECT_EQ(GetTheoraFrameNumber(b), 7);
  EXPECT_EQ(Shown(long_movie), 7);
}

TEST_F(MovieTest, FullResolutionChromaMoviesConvertPixelByPixel) {
  MovieSpec spec;
  spec.chroma = 444;
  const int handle = Open("full.ogg", spec);
  ASSERT_NE(handle, -1);
  const BaseImage* image = MovieHandleToRecord(handle)->frame_image;
  for (int x = 8; x < 64; x += 16) ExpectFrame0Pixel(image, x, 20, 48, 6);
}

TEST_F(MovieTest, SeeksClampToTheFramesAndAdvanceIgnoresCountsBelowOne) {
  MovieSpec spec;
  spec.frames = 20;
  spec.keyframe_interval = 4;
  const int handle = Open("seek.ogg", spec);
  ASSERT_NE(handle, -1);
  TheoraMovieRecord* t = MovieHandleToRecord(handle)->theora_record;
  SeekTheoraFrame(t, 100);
  EXPECT_EQ(GetTheoraFrameNumber(t), 19);
  EXPECT_EQ(Shown(handle), 19 % 12);
  SeekTheoraFrame(t, 13);
  EXPECT_EQ(Shown(handle), 13 % 12 == 1 ? 1 : 13 % 12);
  SeekTheoraFrame(t, -5);
  EXPECT_EQ(GetTheoraFrameNumber(t), 0);
  EXPECT_EQ(Shown(handle), 0);
  AdvanceTheoraFrame(t, 0);
  AdvanceTheoraFrame(t, -3);
  EXPECT_EQ(t->image_converted, 1);
  EXPECT_EQ(GetTheoraFrameNumber(t), 0);
  AdvanceTheoraFrame(t, 25);
  EXPECT_EQ(GetTheoraFrameNumber(t), 5);
  EXPECT_EQ(t->image_converted, 0);
  EXPECT_EQ(Shown(handle), 5);
}

// ---- Pause and resume -------------------------------------------------------------

// A resumed movie goes on at the frame it stopped on, not a microsecond
// before it (which would count as a wrap back to the frame before), and
// frame n of a 30 frame-a-second movie shows from n / 30 s on. The clock
// here moves in whole milliseconds.
TEST_F(MovieTest, AResumedMovieGoesOnAtTheStoppedFrameAndChangesFrameOnTheBoundary) {
  const int handle = Open("bars.ogg", MovieSpec{});
  ASSERT_NE(handle, -1);
  MovieRecord* r = MovieHandleToRecord(handle);
  Start(handle, 1);
  EXPECT_EQ(FrameAfter(handle, 99000), 2);
  EXPECT_EQ(FrameAfter(handle, 100000), 3);
  EXPECT_EQ(FrameAfter(handle, 134000), 4);
  PauseAllMovies();
  plat::AdvanceVirtualClock(777000);
  ResumeAllMovies();
  UpdateMovieFrame(handle);
  EXPECT_EQ(GetTheoraFrameNumber(r->theora_record), 4);
  EXPECT_EQ(Shown(handle), 4);
  // Frame 5 is due 33.3 ms after frame 4.
  plat::AdvanceVirtualClock(33000);
  UpdateMovieFrame(handle);
  EXPECT_EQ(GetTheoraFrameNumber(r->theora_record), 4);
  plat::AdvanceVirtualClock(1000);
  UpdateMovieFrame(handle);
  EXPECT_EQ(GetTheoraFrameNumber(r->theora_record), 5);
}

TEST_F(MovieTest, PauseAndResumeContinueAtTheStoppedFrame) {
  const int handle = Open("bars.ogg", MovieSpec{});
  ASSERT_NE(handle, -1);
  Start(handle, 1);
  EXPECT_EQ(FrameAfter(handle, 115000), 3);
  PauseAllMovies();
  MovieRecord* r = MovieHandleToRecord(handle);
  EXPECT_EQ(r->stopped, 1);
  EXPECT_EQ(r->resume, 1);
  plat::AdvanceVirtualClock(5000000);
  UpdateMovieFrame(handle);
  EXPECT_EQ(GetTheoraFrameNumber(r->theora_record), 3);
  ResumeAllMovies();
  EXPECT_EQ(r->stopped, 0);
  EXPECT_EQ(FrameAfter(handle, 100000 + 66667 + 15000), 5);
  // Pausing for good clears the resume mark; an already stopped movie is
  // left as it is.
  EXPECT_EQ(PauseMovieHandle(handle, 0), 0);
  EXPECT_EQ(r->resume, 0);
  r->resume = 1;
  EXPECT_EQ(PauseMovieHandle(handle, 0), 0);
  EXPECT_EQ(r->resume, 1);
  r->resume = 0;
  PauseAllMovies();
  ResumeAllMovies();
  EXPECT_EQ(r->stopped, 1);
}

TEST_F(MovieTest, WithSoundTheFrameFollowsTheSoundAndNeverPassesTheLast) {
  MovieSpec spec;
  spec.sound = true;
  const int handle = Open("talk.ogg", spec);
  ASSERT_NE(handle, -1);
  MovieRecord* r = MovieHandleToRecord(handle);
  ASSERT_NE(r->sound_handle, -1);
  EXPECT_EQ(FrameShown(r->frame_image), 0);
  Start(handle, 1);
  EXPECT_EQ(IsSoundHandlePlaying(r->sound_handle), 1);
  // The clock alone does not move a movie with sound.
  plat::AdvanceVirtualClock(300000);
  UpdateMovieFrame(handle);
  const int at_start = GetTheoraFrameNumber(r->theora_record);
  EXPECT_LE(at_start, 1);
  for (int i = 0; i < 4; ++i) {
    Render(2205);
    RefillAllStreamSounds();
  }
  const int ms = GetSoundHandleCurrentTime(r->sound_handle);
  UpdateMovieFrame(handle);
  const int expect = ms * 30 / 1000;
  EXPECT_EQ(GetTheoraFrameNumber(r->theora_record), expect > 9 ? 9 : expect);
  EXPECT_GE(expect, 4);
  for (int i = 0; i < 10; ++i) {
    Render(2205);
    RefillAllStreamSounds();
  }
  UpdateMovieFrame(handle);
  UpdateMovieFrame(handle);
  EXPECT_EQ(GetTheoraFrameNumber(r->theora_record), 9);
}

// A movie with sound played once ends with its sound: on its last frame and
// stopped, as one without sound does, although the sound's position reads 0
// again after its end. A pause on the way is no end.
TEST_F(MovieTest, WithSoundPlayedOnceTheMovieEndsOnItsLastFrameAndStops) {
  MovieSpec spec;
  spec.sound = true;
  spec.width = 16;
  spec.height = 32;
  spec.frames = 100;
  spec.fps_numerator = 10;  // 10 s: the sound streams through its ring many times
  const int handle = Open("ten.ogg", spec);
  ASSERT_NE(handle, -1);
  MovieRecord* r = MovieHandleToRecord(handle);
  ASSERT_NE(r->sound_handle, -1);
  Start(handle, 1);
  int last = 0;
  bool paused = false;
  for (int i = 0; i < 300 && !r->stopped; ++i) {  // 15 s of sound at most
    Render(2205);
    RefillAllStreamSounds();
    UpdateMovieFrame(handle);
    const int frame = GetTheoraFrameNumber(r->theora_record);
    ASSERT_GE(frame, last) << "went back after " << i << " renders";
    last = frame;
    if (!paused && frame >= 50) {
      paused = true;
      PauseAllMovies();
      EXPECT_EQ(r->stopped, 1);
      EXPECT_EQ(r->resume, 1);
      EXPECT_EQ(GetTheoraFrameNumber(r->theora_record), frame);
      ResumeAllMovies();
      EXPECT_EQ(r->stopped, 0);
    }
  }
  EXPECT_TRUE(paused);
  EXPECT_EQ(IsSoundHandlePlaying(r->sound_handle), 0);
  EXPECT_EQ(r->stopped, 1);
  EXPECT_EQ(r->resume, 0);
  EXPECT_EQ(GetTheoraFrameNumber(r->theora_record), 99);
  Render(4410);
  RefillAllStreamSounds();
  UpdateMovieFrame(handle);
  EXPECT_EQ(GetTheoraFrameNumber(r->theora_record), 99);
  EXPECT_EQ(Shown(handle), 99 % 12);
}

TEST_F(MovieTest, UpdatingOverlaysWithoutOverlayMoviesDoesNothing) {
  const int handle = Open("bars.ogg", MovieSpec{});
  ASSERT_NE(handle, -1);
  EXPECT_EQ(UpdateAllMovieOverlays(), 0);
  EXPECT_EQ(UpdateMovieOverlay(0, 0, 1, handle, 1), 0);
  EXPECT_EQ(UpdateMovieOverlay(0, 0, 1, -1, 1), -1);
}

// ---- YUV conversion ----------------------------------------------------------------

// A record with one stocked frame of the given planes, for the conversion.
class YuvFrame {
 public:
  YuvFrame(int w, int h, int cw, int ch) {
    record_ = new TheoraMovieRecord();
    record_->stock = &slot_;
    record_->stock_size = 1;
    record_->state = kTheoraStockFull;
    record_->current_frame = 0;
    y_.assign(static_cast<size_t>(w) * h, 16);
    cb_.assign(static_cast<size_t>(cw) * ch, 128);
    cr_.assign(cb_.size(), 128);
    slot_.in_use = 1;
    slot_.frame = 0;
    slot_.y = y_.data();
    slot_.cb = cb_.data();
    slot_.cr = cr_.data();
    slot_.y_width = w, slot_.y_height = h, slot_.y_stride = w;
    slot_.c_width = cw, slot_.c_height = ch, slot_.c_stride = cw;
    CreateXrgb8BaseImage(w, h, &record_->frame_image);
  }
  ~YuvFrame() {
    FreeBaseImagePixels(&record_->frame_image);
    delete record_;
  }
  TheoraMovieRecord* record() { return record_; }
  std::vector<uint8_t> y_, cb_, cr_;
  Rgb At(int x, int y) { return PixelOf(&record_->frame_image, x, y); }

 private:
  TheoraMovieRecord* record_;
  TheoraFrameSlot slot_{};
};

TEST(YuvConvertTest, WorkedValuesOfFourTwoZeroBlocks) {
  InitializeYuvTables();
  struct Case {
    uint8_t y, cb, cr;
    Rgb expect;
  } cases[] = {
      {16, 128, 128, {0, 0, 0}},     {235, 128, 128, {254, 254, 254}}, {255, 128, 255, {255, 174, 255}},
      {0, 128, 0, {0, 85, 0}},       {0, 0, 0, {0, 135, 0}},
      // Green carries 1024 / 16384 more: (6406 x 28 + 1024) / 16384 = 11.01
      // (10.95 without it); blue (-33062 x 28) / 16384 = -56.5 clamps to 0.
      {16, 100, 128, {0, 11, 0}},
      // Y' = 19070 x 112 = 2135840: red 130.4; green (2135840 + 6406 x 68
      // + 1024) / 16384 = 157.01 (156.95 without); blue -6.9 clamps to 0.
      {128, 60, 128, {130, 157, 0}},
  };
  for (const Case& c : cases) {
    YuvFrame f(2, 2, 1, 1);
    std::fill(f.y_.begin(), f.y_.end(), c.y);
    f.cb_[0] = c.cb;
    f.cr_[0] = c.cr;
    ASSERT_EQ(ConvertTheoraFrame(f.record(), 1, 0), 1);
    for (int i = 0; i < 4; ++i) {
      Rgb got = f.At(i % 2, i / 2);
      EXPECT_EQ(got.r, c.expect.r) << int(c.y) << " " << int(c.cb) << " " << int(c.cr);
      EXPECT_EQ(got.g, c.expect.g) << int(c.y) << " " << int(c.cb) << " " << int(c.cr);
      EXPECT_EQ(got.b, c.expect.b) << int(c.y) << " " << int(c.cb) << " " << int(c.cr);
    }
    EXPECT_EQ(f.record()->frame_image.pixels[3], 255);
    // Converted once: the next call for the same frame does nothing, and
    // without a device surface the surface path has nothing to do.
    EXPECT_EQ(ConvertTheoraFrame(f.record(), 1, 0), 0);
    EXPECT_EQ(ConvertTheoraFrame(f.record(), 0, 1), 0);
  }
}

TEST(YuvConvertTest, EveryBlockAgreesWithTheFloatingPointReference) {
  InitializeYuvTables();
  // 16 x 16 blocks, each with its own Y, Cb and Cr over the whole range.
  YuvFrame f(32, 32, 16, 16);
  for (int i = 0; i < 256; ++i) {
    const int bx = i % 16, by = i / 16;
    f.cb_[static_cast<size_t>(by) * 16 + bx] = static_cast<uint8_t>(i * 37 % 256);
    f.cr_[static_cast<size_t>(by) * 16 + bx] = static_cast<uint8_t>(i * 101 % 256);
    for (int k = 0; k < 4; ++k)
      f.y_[static_cast<size_t>(by * 2 + k / 2) * 32 + bx * 2 + k % 2] = static_cast<uint8_t>((i + k * 64) % 256);
  }
  ASSERT_EQ(ConvertTheoraFrame(f.record(), 1, 0), 1);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) {
      int er, eg, eb;
      const size_t c = static_cast<size_t>(y / 2) * 16 + x / 2;
      testsupport::Bt601Reference(f.y_[static_cast<size_t>(y) * 32 + x], f.cb_[c], f.cr_[c], &er, &eg, &eb);
      Rgb got = f.At(x, y);
      // Fixed point truncates where the reference rounds.
      EXPECT_NEAR(got.r, er, 2) << x << "," << y;
      EXPECT_NEAR(got.g, eg, 2) << x << "," << y;
      EXPECT_NEAR(got.b, eb, 2) << x << "," << y;
    }
}

TEST(YuvConvertTest, FullResolutionChromaUsesEachPixelsOwnSample) {
  InitializeYuvTables();
  YuvFrame f(4, 2, 4, 2);
  const uint8_t cbs[8] = {0, 255, 128, 90, 54, 240, 16, 200};
  const uint8_t crs[8] = {255, 0, 128, 240, 34, 110, 200, 16};
  for (int i = 0; i < 8; ++i) {
    f.y_[i] = static_cast<uint8_t>(60 + i * 20);
    f.cb_[i] = cbs[i];
    f.cr_[i] = crs[i];
  }
  ASSERT_EQ(ConvertTheoraFrame(f.record(), 1, 0), 1);
  for (int i = 0; i < 8; ++i) {
    int er, eg, eb;
    testsupport::Bt601Reference(f.y_[i], cbs[i], crs[i], &er, &eg, &eb);
    Rgb got = f.At(i % 4, i / 4);
    EXPECT_NEAR(got.r, er, 1) << i;
    EXPECT_NEAR(got.g, eg, 1) << i;
    EXPECT_NEAR(got.b, eb, 1) << i;
  }
}

TEST(YuvConvertTest, AFrameTheStockCannotSupplyConvertsNothing) {
  InitializeYuvTables();
  YuvFrame f(2, 2, 1, 1);
  f.record()->current_frame = 1;
  f.record()->end_of_file = 1;
  EXPECT_EQ(ConvertTheoraFrame(f.record(), 1, 0), 0);
  EXPECT_EQ(f.record()->image_converted, 0);
  f.record()->end_of_file = 0;
  f.record()->state = kTheoraEnded;
  EXPECT_EQ(ConvertTheoraFrame(f.record(), 1, 0), 0);
}

}  // namespace
