// tests/lib/sound/movie_graph_test.cpp - movies played through the media
// graph: files made by the ffmpeg command from frames of known colours, shown
// at the times the virtual clock gives, paused, looped and stopped; their
// sound reaching the mixer; archived movies played from a temporary copy;
// refusals that leave nothing behind; and the frame renderer's type checks
// and row handling.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "lib/core/archive_files.h"
#include "lib/core/file_functions.h"
#include "lib/core/pack_writer.h"
#include "lib/sound/movie.h"
#include "lib/sound/movie_renderer.h"
#include "platform/kernel/kernel.h"
#include "platform/kernel/wide_text.h"
#include "platform/media/base_classes.h"
#include "platform/media/graph.h"
#include "tests/lib/sound/sound_fixture.h"
#include "tests/support/log_capture.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/sjis.h"

namespace {

constexpr int kWidth = 64, kHeight = 48, kFrames = 10, kFps = 25;
// The top half of frame f has colour f; the bottom half is grey in every
// frame, so that rows turned over show.
constexpr int kColours[kFrames][3] = {{230, 40, 40},  {40, 230, 40},  {40, 40, 230},  {230, 230, 40}, {40, 230, 230},
                                      {230, 40, 230}, {150, 80, 20},  {20, 150, 80},  {80, 20, 150},  {250, 250, 250}};
constexpr int kGrey = 128;

struct MovieKind {
  const char* file;
  const char* codec;  // ffmpeg output options
};
const MovieKind kKinds[] = {
    {"h264.mp4", "-c:v libx264 -pix_fmt yuv420p -bf 0 -crf 10"},
    {"vp9.webm", "-c:v libvpx-vp9 -pix_fmt yuv420p -crf 10 -b:v 0"},
    {"mjpeg.avi", "-c:v mjpeg -pix_fmt yuvj420p -q:v 2"},
    {"mpeg1.mpg", "-c:v mpeg1video -q:v 2"},
    {"mpeg4.mp4", "-c:v mpeg4 -q:v 2"},
    {"vp8.mkv", "-c:v libvpx -crf 4 -b:v 2M"},
};

testsupport::ScratchDir& Movies() {
  static testsupport::ScratchDir dir;
  return dir;
}

bool Run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

// Makes the movies once per process; false when ffmpeg fails.
bool MakeMovies() {
  static int made = -1;
  if (made != -1) return made == 1;
  std::vector<char> raw;
  for (int f = 0; f < kFrames; ++f)
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x)
        for (int c = 0; c < 3; ++c) raw.push_back(static_cast<char>(y < kHeight / 2 ? kColours[f][c] : kGrey));
  const std::string frames = Movies() / "frames.rgb";
  std::ofstream(frames, std::ios::binary).write(raw.data(), static_cast<std::streamsize>(raw.size()));
  const std::string input = "ffmpeg -y -f rawvideo -pix_fmt rgb24 -s " + std::to_string(kWidth) + "x" +
                            std::to_string(kHeight) + " -r " + std::to_string(kFps) + " -i " + frames;
  made = 1;
  for (const MovieKind& k : kKinds)
    if (!Run(input + " " + k.codec + " " + (Movies() / k.file))) made = 0;
  // With a tone, for the mixer.
  if (!Run(input + " -f lavfi -i sine=frequency=440:sample_rate=22050:duration=0.4 -c:v libx264 -pix_fmt yuv420p "
                   "-bf 0 -c:a aac -shortest " +
           (Movies() / "tone.mp4")))
    made = 0;
  // A program stream with sound, and one at the television rate of
  // 30000 / 1001 frames a second, whose frame times are not whole units.
  if (!Run(input + " -f lavfi -i sine=frequency=440:sample_rate=44100:duration=0.4 -c:v mpeg1video -q:v 2 "
                   "-c:a mp2 -shortest " +
           (Movies() / "mpeg1_sound.mpg")))
    made = 0;
  const std::string ntsc = "ffmpeg -y -f rawvideo -pix_fmt rgb24 -s " + std::to_string(kWidth) + "x" +
                           std::to_string(kHeight) + " -r 30000/1001 -i " + frames;
  if (!Run(ntsc + " -c:v mpeg1video -q:v 2 " + (Movies() / "ntsc.mpg"))) made = 0;
  // Sound of 12 unnamed channels, which have no mix to stereo.
  if (!Run(input + " -f lavfi -i 'aevalsrc=exprs=0|0|0|0|0|0|0|0|0|0|0|0:s=44100:d=0.4' -c:v mpeg4 -q:v 2 "
                   "-c:a pcm_s16le -shortest " +
           (Movies() / "twelve.mkv")))
    made = 0;
  // Sound of a format tag FFmpeg has no decoder for: the PCM one of an AVI
  // file made over.
  // WavPack sound whose every packet is overwritten byte by byte: its
  // decoder opens and decodes nothing.
  if (!Run(input + " -f lavfi -i sine=duration=0.4 -c:v mjpeg -c:a wavpack -bsf:a noise=amount=1 -shortest " +
           (Movies() / "damaged.nut")))
    made = 0;
  // The same sound under a minute of pictures, more than the demultiplexer
  // reads ahead of their renderer.
  if (!Run("ffmpeg -y -f lavfi -i color=c=gray:s=64x48:r=25:d=60 -f lavfi -i sine=duration=60 -c:v mjpeg -c:a wavpack "
           "-bsf:a noise=amount=1 -shortest " +
           (Movies() / "long_damaged.nut")))
    made = 0;
  const std::string mute = Movies() / "mute.avi";
  if (!Run(input + " -f lavfi -i sine=duration=0.4 -c:v mjpeg -c:a pcm_s16le -shortest " + mute)) made = 0;
  std::fstream avi(mute, std::ios::in | std::ios::out | std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(avi)), {});
  const size_t format = bytes.find("strf", bytes.find("auds"));
  if (format == std::string::npos) made = 0;
  else avi.seekp(static_cast<std::streamoff>(format + 8)).write("\x77\x77", 2);
  return made == 1;
}

// Movies of 3.5 s whose sound is a 1 kHz beep of 0.1 s starting 0.2 s into
// each second: mono, or in the side channels of a layout of more channels
// than a frame's first eight planes (the others silent).
constexpr int kBeepStartMs = 200, kBeepCount = 4;
struct BeepKind {
  const char* file;
  const char* codec;
  const char* layout;  // null: mono
};
const BeepKind kBeepKinds[] = {
    {"beep_vp9.webm", "-c:v libvpx-vp9 -crf 40 -b:v 0 -c:a libopus", nullptr},
    {"beep_mpeg1.mpg", "-c:v mpeg1video -c:a mp2", nullptr},
    {"beep_aac.mp4", "-c:v libx264 -pix_fmt yuv420p -bf 0 -c:a aac", nullptr},
    {"beep_10.mkv", "-c:v libx264 -pix_fmt yuv420p -bf 0 -c:a wavpack -frame_size 1024", "FL+FR+FC+LFE+BL+BR+FLC+FRC+SL+SR"},
    {"beep_16.mkv", "-c:v libx264 -pix_fmt yuv420p -bf 0 -c:a wavpack -frame_size 1024",
     "FL+FR+FC+LFE+BL+BR+FLC+FRC+BC+SL+SR+TC+TFL+TFC+TFR+TBL"},
};

bool MakeBeepMovies() {
  static int made = -1;
  if (made != -1) return made == 1;
  made = 1;
  auto beep = [](const char* amplitude) {
    return "if(between(mod(t\\,1)\\,0.2\\,0.3)\\," + std::string(amplitude) + "*sin(2000*PI*t)\\,0)";
  };
  for (const BeepKind& k : kBeepKinds) {
    std::string exprs = beep("0.5");
    if (k.layout != nullptr) {
      // At full scale: the mix to stereo takes the side channels at a
      // fraction of that.
      exprs.clear();
      std::stringstream channels(k.layout);
      for (std::string c; std::getline(channels, c, '+');)
        exprs += (exprs.empty() ? "" : "|") + (c == "SL" || c == "SR" ? beep("1") : std::string("0"));
      exprs += std::string(":c=") + k.layout;
    }
    if (!Run("ffmpeg -y -f lavfi -i color=c=gray:s=64x48:r=25:d=3.5 -f lavfi -i 'aevalsrc=exprs=" + exprs +
             ":s=44100:d=3.5' " + k.codec + " " + (Movies() / k.file)))
      made = 0;
  }
  return made == 1;
}

// The newest frame the callback was given.
struct Shot {
  std::vector<uint8_t> pixels;
  int width = 0, height = 0, pitch = 0, calls = 0;

  // The colour (r, g, b) at a pixel.
  std::array<int, 3> At(int x, int y) const {
    const uint8_t* p = pixels.data() + static_cast<size_t>(y) * pitch + static_cast<size_t>(x) * 3;
    return {p[2], p[1], p[0]};
  }
  // The frame whose colour the top half shows, -1 for none or a picture
  // whose bottom half is not grey.
  int Frame() const {
    if (pixels.empty()) return -1;
    const auto bottom = At(kWidth / 2, kHeight - 8);
    for (int v : bottom)
      if (std::abs(v - kGrey) > 24) return -1;
    const auto top = At(kWidth / 2, 8);
    for (int f = 0; f < kFrames; ++f) {
      bool near = true;
      for (int c = 0; c < 3; ++c) near = near && std::abs(top[c] - kColours[f][c]) <= 30;
      if (near) return f;
    }
    return -1;
  }
};

void Capture(void* movie, void* argument) {
  auto* r = static_cast<MovieRecord*>(movie);
  auto* shot = static_cast<Shot*>(argument);
  const BaseImage* image = r->frame_image;
  shot->width = image->width;
  shot->height = image->height;
  shot->pitch = image->pitch;
  shot->pixels.assign(image->pixels, image->pixels + static_cast<size_t>(image->pitch) * image->height);
  ++shot->calls;
}

int64_t ClockMicros() {
  return static_cast<int64_t>(static_cast<__int128>(plat::QueryPerformanceCounter()) * 1000000 /
                              plat::QueryPerformanceFrequency());
}

class ThreadedMovieGraph : public soundtest::SoundFixture {
 protected:
  void SetUp() override {
    soundtest::SoundFixture::SetUp();
    ASSERT_TRUE(MakeMovies()) << "the ffmpeg command could not make the test movies";
    const char* old = std::getenv("TMPDIR");
    old_tmpdir_ = old != nullptr ? old : "";
    had_tmpdir_ = old != nullptr;
    setenv("TMPDIR", temp_.path().c_str(), 1);
  }
  void TearDown() override {
    for (int h : open_) CloseMovieHandle(h);
    EXPECT_EQ(GetMovieCount(), 0);
    if (had_tmpdir_) setenv("TMPDIR", old_tmpdir_.c_str(), 1);
    else unsetenv("TMPDIR");
    soundtest::SoundFixture::TearDown();
  }
  int Open(const std::string& path, int* w = nullptr, int* h = nullptr) {
    const int handle = OpenMovie(path.c_str(), w, h, 0);
    if (handle != -1) {
      open_.push_back(handle);
      SetMovieFrameCallback(handle, &Capture, &shot_);
    }
    return handle;
  }
  void Close(int handle) {
    ASSERT_EQ(CloseMovieHandle(handle), 0);
    std::erase(open_, handle);
  }
  // Starts a movie as a resumed activation would; stream time 0 is now.
  void Start(int handle, int play_type) {
    MovieRecord* r = MovieHandleToRecord(handle);
    r->play_type = play_type;
    r->resume = 1;
    start_ = ClockMicros();
    ResumeAllMovies();
  }
  // Moves the clock to `ms` past the start.
  void ClockTo(int64_t ms) { ClockToMicros(ms * 1000); }
  void ClockToMicros(int64_t micros) {
    const int64_t now = ClockMicros();
    if (start_ + micros > now) plat::AdvanceVirtualClock(static_cast<uint64_t>(start_ + micros - now));
  }
  // The clock's present time, as the renderers read it.
  static plat::ReferenceTime ClockNow() {
    return static_cast<plat::ReferenceTime>(static_cast<__int128>(plat::QueryPerformanceCounter()) *
                                            plat::kUnitsPerSecond / plat::QueryPerformanceFrequency());
  }
  // Waits until `streams` renderers wait for samples not yet due at the
  // clock's present time (or a long real time passes): all that is due by
  // now has been rendered.
  static void Settle(int streams) {
    const plat::ReferenceTime now = ClockNow();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (plat::MediaRenderersParkedAt(now) < streams && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  // Waits until every renderer either waits for a sample not yet due at the
  // clock's present time or has had its stream's end (or a long real time
  // passes): the decoders before them have run on all they were to run on.
  static void SettleToTheEnd() {
    const plat::ReferenceTime now = ClockNow();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!plat::MediaRenderersSettledAt(now) && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  // The frame shown once the streams have settled at a time past the start.
  int FrameAtMicros(int handle, int64_t micros, int streams) {
    ClockToMicros(micros);
    Settle(streams);
    UpdateMovieFrame(handle);
    return shot_.Frame();
  }
  // Updates the movie until its frame is `want` or a long real time passes;
  // the frame then shown.
  int WaitForFrame(int handle, int want) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
      UpdateMovieFrame(handle);
      if (shot_.Frame() == want) return want;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return shot_.Frame();
  }
  // The frame shown after a while of updates without the clock moving.
  int FrameAfterAWhile(int handle) {
    for (int i = 0; i < 20; ++i) {
      UpdateMovieFrame(handle);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return shot_.Frame();
  }
  int TemporaryFiles() const {
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(temp_.path())) n += e.is_regular_file() ? 1 : 0;
    return n;
  }

  Shot shot_;
  std::vector<int> open_;
  int64_t start_ = 0;
  testsupport::ScratchDir temp_;
  std::string old_tmpdir_;
  bool had_tmpdir_ = false;
};

// ---- Frames on the clock ---------------------------------------------------------

TEST_F(ThreadedMovieGraph, EachFormatShowsTheFrameOfTheClockTopDown) {
  for (const MovieKind& k : kKinds) {
    SCOPED_TRACE(k.file);
    shot_ = Shot{};
    int w = 0, h = 0;
    const int handle = Open(Movies() / k.file, &w, &h);
    ASSERT_NE(handle, -1);
    EXPECT_EQ(w, kWidth);
    EXPECT_EQ(h, kHeight);
    MovieRecord* r = MovieHandleToRecord(handle);
    EXPECT_EQ(r->theora, 0);
    EXPECT_EQ(r->stopped, 1);
    EXPECT_EQ(r->temporary_file, 0);
    // A program stream this small gives its length only roughly.
    if (std::string(k.file) != "mpeg1.mpg") {
      EXPECT_NEAR(static_cast<double>(r->stop_position), kFrames * 1e7 / kFps, 1e7 / kFps);
    }
    Start(handle, 1);
    for (int f : {0, 1, 4, 7}) {
      ClockTo(f * 1000 / kFps + 20);
      ASSERT_EQ(WaitForFrame(handle, f), f) << "at frame " << f;
    }
    // The clock stands: the next frame is not shown before its time.
    EXPECT_EQ(FrameAfterAWhile(handle), 7);
    EXPECT_EQ(shot_.width, kWidth);
    EXPECT_EQ(shot_.pitch, MovieRowBytes(kWidth));
    EXPECT_EQ(r->pixels_borrowed, 1);
    Close(handle);
  }
}

TEST_F(ThreadedMovieGraph, PauseHoldsTheFrameAndResumeGoesOnFromIt) {
  const int handle = Open(Movies() / "h264.mp4");
  ASSERT_NE(handle, -1);
  Start(handle, 1);
  ClockTo(3 * 40 + 20);
  ASSERT_EQ(WaitForFrame(handle, 3), 3);
  ASSERT_EQ(PauseMovieHandle(handle, 0), 0);
  MovieRecord* r = MovieHandleToRecord(handle);
  EXPECT_EQ(r->stopped, 1);
  EXPECT_EQ(r->resume, 0);
  ClockTo(1000);
  EXPECT_EQ(FrameAfterAWhile(handle), 3);
  // Resumed, the movie's time goes on from where it paused.
  r->resume = 1;
  ResumeAllMovies();
  EXPECT_EQ(r->stopped, 0);
  plat::AdvanceVirtualClock(40 * 1000);
  EXPECT_EQ(WaitForFrame(handle, 4), 4);
}

TEST_F(ThreadedMovieGraph, ALoopingMovieReturnsToFrameZeroAndAnotherStopsAtItsEnd) {
  const int looping = Open(Movies() / "mjpeg.avi");
  ASSERT_NE(looping, -1);
  Start(looping, 3);
  ClockTo(9 * 40 + 20);
  ASSERT_EQ(WaitForFrame(looping, 9), 9);
  ClockTo(kFrames * 40 + 5);
  // The update at the end rewinds: stream time starts again at 0.
  EXPECT_EQ(WaitForFrame(looping, 0), 0);
  EXPECT_EQ(MovieHandleToRecord(looping)->stopped, 0);
  plat::AdvanceVirtualClock(2 * 40 * 1000);
  EXPECT_EQ(WaitForFrame(looping, 2), 2);
  Close(looping);

  shot_ = Shot{};
  const int once = Open(Movies() / "mjpeg.avi");
  ASSERT_NE(once, -1);
  Start(once, 1);
  ClockTo(kFrames * 40 + 100);
  EXPECT_EQ(WaitForFrame(once, 9), 9);
  MovieRecord* r = MovieHandleToRecord(once);
  EXPECT_EQ(r->stopped, 1);
  EXPECT_EQ(r->resume, 0);
}

// ---- Seeking between key frames --------------------------------------------------------

// Movies of 300 frames at 30 a second whose frame n shows n in nine black or
// white blocks across its top half (bit 0 at the left).
constexpr int kNumberedWidth = 72, kNumberedHeight = 48, kNumberedFrames = 300, kBits = 9;

bool MakeNumberedMovies() {
  static int made = -1;
  if (made != -1) return made == 1;
  std::vector<char> raw;
  for (int f = 0; f < kNumberedFrames; ++f)
    for (int y = 0; y < kNumberedHeight; ++y)
      for (int x = 0; x < kNumberedWidth; ++x) {
        const bool top = y < kNumberedHeight / 2;
        const int value = !top ? kGrey : ((f >> (x / 8)) & 1) != 0 ? 235 : 16;
        for (int c = 0; c < 3; ++c) raw.push_back(static_cast<char>(value));
      }
  const std::string frames = Movies() / "numbered.rgb";
  std::ofstream(frames, std::ios::binary).write(raw.data(), static_cast<std::streamsize>(raw.size()));
  const std::string input = "ffmpeg -y -f rawvideo -pix_fmt rgb24 -s " + std::to_string(kNumberedWidth) + "x" +
                            std::to_string(kNumberedHeight) + " -r 30 -i " + frames;
  // One encoding thread: the files are then the same however many
  // processors the test may use (the program stream's packs, and so where
  // its seeks land, follow the encoder's slices).
  // The third has two B-frames after each P-frame and a key frame every 30
  // (and, as the encoder ends the stream, on the last frame): frame n is
  // decoded after frame n + 1 when n is not a multiple of 3.
  made = Run(input + " -threads 1 -c:v mpeg1video -q:v 2 -g 60 " + (Movies() / "numbered.mpg")) &&
                 Run(input + " -threads 1 -c:v libx264 -pix_fmt yuv420p -crf 10 -g 250 " + (Movies() / "numbered.mp4")) &&
                 Run(input + " -threads 1 -c:v mpeg4 -q:v 2 -bf 2 -g 30 " + (Movies() / "numbered_b.mp4"))
             ? 1
             : 0;
  return made == 1;
}

// The number a frame shows, -1 for none.
int NumberShown(const Shot& shot) {
  if (shot.pixels.empty() || shot.width != kNumberedWidth) return -1;
  int n = 0;
  for (int bit = 0; bit < kBits; ++bit) {
    const int v = shot.At(bit * 8 + 4, kNumberedHeight / 4)[1];
    if (v > 90 && v < 160) return -1;
    n |= (v >= 160 ? 1 : 0) << bit;
  }
  return n;
}

// A seek to a frame between key frames (a third of a frame into it) shows
// that frame at once, with the clock standing, and the next at its time.
TEST_F(ThreadedMovieGraph, ASeekBetweenKeyFramesShowsTheAskedFrame) {
  ASSERT_TRUE(MakeNumberedMovies());
  const struct {
    const char* file;
    int frame;
  } seeks[] = {{"numbered.mpg", 210}, {"numbered.mpg", 95}, {"numbered.mp4", 210}, {"numbered.mp4", 270}};
  for (const auto& seek : seeks) {
    SCOPED_TRACE(std::string(seek.file) + " frame " + std::to_string(seek.frame));
    shot_ = Shot{};
    const int handle = Open(Movies() / seek.file);
    ASSERT_NE(handle, -1);
    Start(handle, 1);
    ClockTo(20);
    Settle(1);
    UpdateMovieFrame(handle);
    ASSERT_EQ(NumberShown(shot_), 0);
    MovieRecord* r = MovieHandleToRecord(handle);
    const int64_t at = (seek.frame * int64_t{3} + 1) * plat::kUnitsPerSecond / 90;
    ASSERT_EQ(r->seeking->SetPositions(&at, nullptr), plat::kS_OK);
    start_ = ClockMicros();
    // Updated all the while the decoder makes its way from the key frame:
    // no frame between it and the target shows.
    for (int i = 0; i < 200; ++i) {
      UpdateMovieFrame(handle);
      const int shown = NumberShown(shot_);
      ASSERT_TRUE(shown == 0 || shown == seek.frame) << shown;
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    Settle(1);
    UpdateMovieFrame(handle);
    EXPECT_EQ(NumberShown(shot_), seek.frame);
    ClockToMicros(1000000 * 2 / 90 + 2000);
    Settle(1);
    UpdateMovieFrame(handle);
    EXPECT_EQ(NumberShown(shot_), seek.frame + 1);
    Close(handle);
  }
}

// Takes the demultiplexer's coded video packets, counts them and keeps
// whether the first is a key frame.
class PacketCatcher : public plat::D_CBaseRenderer {
 public:
  explicit PacketCatcher(plat::HResult* r) : D_CBaseRenderer(plat::kGUID_NULL, "packet catcher", r) {}
  plat::HResult CheckMediaType(const plat::D_CMediaType* type) override {
    return type->majortype == plat::kMEDIATYPE_Video && type->subtype == plat::kMEDIASUBTYPE_CodedPackets
               ? plat::kS_OK
               : plat::kS_FALSE;
  }
  plat::HResult DoRenderSample(plat::IMediaSample* sample) override {
    if (packets++ == 0) first_key = sample->IsSyncPoint() == plat::kS_OK;
    return plat::kS_OK;
  }
  std::atomic<int> packets{0};
  bool first_key = false;
};

// What a seek to a time gives the video decoder, played through with no
// clock: the packets sent, whether the first is a key frame, and the
// packets the demultiplexer read for the seek itself.
struct SeekSent {
  int packets = 0;
  bool first_key = false;
  int64_t reads = 0;
};

SeekSent SeekAndPlayThrough(const std::string& path, int64_t at) {
  SeekSent sent;
  plat::IGraphBuilder* graph = nullptr;
  EXPECT_EQ(plat::CoCreateInstance(plat::kCLSID_FilterGraph, nullptr, plat::kCLSCTX_INPROC, plat::kIID_IGraphBuilder,
                                   reinterpret_cast<void**>(&graph)),
            plat::kS_OK);
  if (graph == nullptr) return sent;
  plat::HResult r = plat::kS_OK;
  auto* catcher = new PacketCatcher(&r);
  catcher->AddRef();
  graph->AddFilter(catcher, u"Catcher");
  EXPECT_TRUE(plat::Succeeded(graph->RenderFile(std::u16string(path.begin(), path.end()).c_str(), nullptr)));
  plat::IMediaFilter* filter = nullptr;
  graph->QueryInterface(plat::kIID_IMediaFilter, reinterpret_cast<void**>(&filter));
  filter->SetSyncSource(nullptr);
  filter->Release();
  plat::IMediaControl* control = nullptr;
  plat::IMediaEvent* event = nullptr;
  plat::IMediaSeeking* seeking = nullptr;
  graph->QueryInterface(plat::kIID_IMediaControl, reinterpret_cast<void**>(&control));
  graph->QueryInterface(plat::kIID_IMediaEvent, reinterpret_cast<void**>(&event));
  graph->QueryInterface(plat::kIID_IMediaSeeking, reinterpret_cast<void**>(&seeking));
  const int64_t reads = plat::MediaSplitterSeekReads();
  EXPECT_EQ(seeking->SetPositions(&at, nullptr), plat::kS_OK);
  control->Run();
  int32_t code = 0;
  while (event->WaitForCompletion(100, &code) != plat::kS_OK) {
  }
  control->Stop();
  EXPECT_EQ(code, plat::kEC_COMPLETE);
  sent.packets = catcher->packets.load();
  sent.first_key = catcher->first_key;
  sent.reads = plat::MediaSplitterSeekReads() - reads;
  seeking->Release();
  event->Release();
  control->Release();
  graph->Release();
  catcher->Release();
  return sent;
}

// A seek sends the video decoder the packets from the last key frame shown
// at or before the target on, and reads ahead for it only up to the first
// packet decoded after the target: what comes after is read as playing
// goes on.
// - A program stream (a packet a frame, no B-frames) has no index: the seek
//   searches its time stamps and lands inside the group of pictures of the
//   target (frame 95 of groups of 60), whose next key frame lies past it,
//   and then a group or more further back (its packs hold many of these
//   small frames). The first packet sent is the key frame that starts the
//   target's group (frame 60), neither the next one nor one further back.
//   A seek to key frame 60 itself lands on frame 0 and reads on to it:
//   decoding starts at frame 60, not at the key frame it read first.
// - The B-frame movie is indexed: the seek lands on the key frame at or
//   before the target. Its groups are open: in decoding order, key frame
//   90 is followed by B-frames 88 and 89 (sent, and dropped downstream by
//   their times), then 93, 91, 92, 96, 94, 95, 99, 97, 98, 102, 100, 101,
//   each decoded at the time of the one before it in that order. On key
//   frame 90 itself the seek reads 90, 88, 89 and 93 and stops at 91, the
//   first decoded past the target (5 packets; 30 more to the next key
//   frame); to frame 100 it reads on to 101 (15 packets), although 102,
//   shown after the target, comes three packets before. The 212 packets
//   from key frame 90 on are sent. The last frame, 299, is a key frame
//   followed only by B-frame 298: the end of the file ends the read, and
//   those two are sent.
TEST_F(ThreadedMovieGraph, ASeekSendsFromTheKeyFrameOfTheTargetAndReadsOnlyUpToIt) {
  ASSERT_TRUE(MakeNumberedMovies());
  const struct {
    const char* file;
    int frame;
    bool key;  // the target is a key frame's time; otherwise a third of a frame past a frame's
    int packets;
    int64_t reads;  // -1: where the program stream's search lands decides
  } seeks[] = {{"numbered.mpg", 95, false, 240, -1},   {"numbered.mpg", 60, true, 240, -1},
               {"numbered_b.mp4", 90, true, 212, 5},   {"numbered_b.mp4", 100, false, 212, 15},
               {"numbered_b.mp4", 299, true, 2, 2}};
  for (const auto& seek : seeks) {
    SCOPED_TRACE(std::string(seek.file) + " frame " + std::to_string(seek.frame));
    const int64_t thirds = seek.frame * int64_t{3} + (seek.key ? 0 : 1);
    const SeekSent sent = SeekAndPlayThrough(Movies() / seek.file, thirds * plat::kUnitsPerSecond / 90);
    EXPECT_TRUE(sent.first_key);
    EXPECT_EQ(sent.packets, seek.packets);
    if (seek.reads >= 0) {
      EXPECT_EQ(sent.reads, seek.reads);
    }
  }
}

TEST_F(ThreadedMovieGraph, TheMoviesSoundReachesTheMixer) {
  const int handle = Open(Movies() / "tone.mp4");
  ASSERT_NE(handle, -1);
  Start(handle, 1);
  // The sound and the picture stream on threads of their own: both settle.
  ClockTo(100);
  Settle(2);
  ASSERT_EQ(WaitForFrame(handle, 2), 2);
  // The tone's samples from now on are in the device's buffers.
  int peak = 0;
  for (int16_t s : Render(4410)) peak = std::max(peak, std::abs(static_cast<int>(s)));
  EXPECT_GT(peak, 1000);
}

// Sound that cannot be mixed to stereo is left out, named once with the file
// and its channel count however often the movie loops; the picture plays.
// Sound with no decoder is named once at the open, sound whose decoder
// decodes nothing (every packet damaged) once at its end, or at the close
// of a movie closed before it. A movie whose
// sound plays, or that has none, writes no line about it.
TEST_F(ThreadedMovieGraph, SoundThatCannotBePlayedIsNamedOnceAndThePicturePlays) {
  // What the log holds, each line without its time.
  auto lines = [&] {
    std::string text;
    std::istringstream in(log_.Debug());
    for (std::string line; std::getline(in, line);) text += line.substr(line.find(':') + 1) + "\n";
    return text;
  };
  // Plays a looping movie twice round; the lines then written.
  auto played = [&](const std::string& file) {
    SCOPED_TRACE(file);
    log_.Clear();
    const int handle = Open(file);
    EXPECT_NE(handle, -1) << log_.Debug();
    if (handle == -1) return std::string();
    Start(handle, 3);
    for (int pass = 0; pass < 3; ++pass) {
      SCOPED_TRACE("pass " + std::to_string(pass));
      ClockTo(pass * kFrames * 40 + 5);
      EXPECT_EQ(WaitForFrame(handle, 0), 0);
      ClockTo(pass * kFrames * 40 + 100);
      EXPECT_EQ(WaitForFrame(handle, 2), 2);
      // Near the pass's end every stream has been decoded to its end, so
      // whatever the sound's decoder had to report is in before the loop.
      ClockTo(pass * kFrames * 40 + 390);
      SettleToTheEnd();
      EXPECT_EQ(WaitForFrame(handle, kFrames - 1), kFrames - 1);
    }
    Close(handle);
    return lines();
  };
  const std::string twelve = Movies() / "twelve.mkv";
  EXPECT_EQ(played(twelve), testsupport::Sjis("ムービーファイル " + twelve +
                                              ": its sound of 12 channels cannot be mixed to stereo and is not played\r\n"));
  const std::string mute = Movies() / "mute.avi";
  EXPECT_EQ(played(mute), testsupport::Sjis("ムービーファイル " + mute + ": its sound cannot be decoded and is not played\r\n"));
  const std::string damaged = Movies() / "damaged.nut";
  const std::string undecoded = testsupport::Sjis("ムービーファイル " + damaged +
                                                  ": its sound cannot be decoded and is not played\r\n");
  EXPECT_EQ(played(damaged), undecoded);
  // Closed as its sound ends, before an update has taken what the decoder
  // told, such a movie says so all the same.
  log_.Clear();
  const int handle = Open(damaged);
  ASSERT_NE(handle, -1);
  Start(handle, 1);
  ClockTo(390);
  SettleToTheEnd();
  Close(handle);
  EXPECT_EQ(lines(), undecoded);
  // Closed long before its sound's end, once its decoder has refused some
  // of it and decoded nothing, such a movie says so at the close, once.
  log_.Clear();
  const std::string long_damaged = Movies() / "long_damaged.nut";
  const int64_t refusals = plat::MediaSoundRefusals();
  const int early = Open(long_damaged);
  ASSERT_NE(early, -1);
  Start(early, 1);
  ClockTo(1000);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (plat::MediaSoundRefusals() == refusals && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_GT(plat::MediaSoundRefusals(), refusals);
  UpdateMovieFrame(early);
  EXPECT_EQ(lines(), "");
  Close(early);
  EXPECT_EQ(lines(), testsupport::Sjis("ムービーファイル " + long_damaged +
                                       ": its sound cannot be decoded and is not played\r\n"));
  EXPECT_EQ(played(Movies() / "tone.mp4"), "");
  EXPECT_EQ(played(Movies() / "mjpeg.avi"), "");
}

// A packet of the run that ends can reach the video decoder after the stop:
// it passed the input pin's check just before, and waited for the stop to
// finish. It is refused, so the next run's first frame keeps its time and
// shows at once, as a looping movie's does at the start of each pass.
TEST_F(ThreadedMovieGraph, APacketThatCameAsTheDecoderStoppedLeavesTheNextRunOnTime) {
  const std::string key = (temp_.path() / "key.m4v").string();
  ASSERT_TRUE(::Run("ffmpeg -y -i " + (Movies() / "twelve.mkv") + " -map 0:v -frames:v 1 -c copy -f m4v " + key));
  std::ifstream in(key, std::ios::binary);
  const std::vector<uint8_t> packet((std::istreambuf_iterator<char>(in)), {});
  ASSERT_FALSE(packet.empty());
  const int handle = Open(Movies() / "twelve.mkv");
  ASSERT_NE(handle, -1);
  Start(handle, 1);
  ClockTo(100);
  ASSERT_EQ(WaitForFrame(handle, 2), 2);
  MovieRecord* r = MovieHandleToRecord(handle);
  plat::D_CTransformFilter* decoder = nullptr;
  plat::IEnumFilters* filters = nullptr;
  ASSERT_EQ(r->graph->EnumFilters(&filters), plat::kS_OK);
  plat::IBaseFilter* f = nullptr;
  uint32_t got = 0;
  while (filters->Next(1, &f, &got) == plat::kS_OK && got == 1) {
    auto* t = dynamic_cast<plat::D_CTransformFilter*>(f);
    if (t != nullptr && t->OutputPin()->IsConnected() &&
        t->OutputPin()->CurrentMediaType().majortype == plat::kMEDIATYPE_Video)
      decoder = t;
    f->Release();  // the graph holds it
  }
  filters->Release();
  ASSERT_NE(decoder, nullptr);

  ASSERT_EQ(r->control->Stop(), plat::kS_OK);
  // The key frame again, stamped at the last frame's time.
  plat::HResult made = plat::kS_OK;
  auto* allocator = new plat::D_CMemAllocator("late packet", &made);
  allocator->AddRef();
  const plat::AllocatorProperties want{1, static_cast<int32_t>(packet.size()), 1, 0};
  plat::AllocatorProperties actual{};
  ASSERT_EQ(allocator->SetProperties(&want, &actual), plat::kS_OK);
  ASSERT_EQ(allocator->Commit(), plat::kS_OK);
  plat::IMediaSample* late = nullptr;
  ASSERT_EQ(allocator->GetBuffer(&late, nullptr, nullptr, 0), plat::kS_OK);
  uint8_t* bytes = nullptr;
  late->GetPointer(&bytes);
  std::copy(packet.begin(), packet.end(), bytes);
  late->SetActualDataLength(static_cast<int32_t>(packet.size()));
  const plat::ReferenceTime from = (kFrames - 1) * plat::kUnitsPerSecond / kFps;
  const plat::ReferenceTime to = from + plat::kUnitsPerSecond / kFps;
  late->SetTime(&from, &to);
  late->SetSyncPoint(1);
  EXPECT_EQ(decoder->Receive(late), plat::kVFW_E_WRONG_STATE);
  late->Release();
  allocator->Decommit();
  allocator->Release();

  // Round again, as a looping movie goes, with the clock where it was.
  const int64_t zero = 0;
  ASSERT_EQ(r->seeking->SetPositions(&zero, nullptr), plat::kS_OK);
  ASSERT_EQ(r->control->Run(), plat::kS_OK);
  EXPECT_EQ(WaitForFrame(handle, 0), 0);
  Close(handle);
}

// The mixer plays each 10 ms as the clock reaches its start, as a sound
// device does: the movie's sound must be written ahead of the clock, and
// what was played must not come round again with the looping buffer, also
// after the sound has ended.
TEST_F(ThreadedMovieGraph, EachBeepOfAMoviesSoundIsHeardOnceAtItsTime) {
  ASSERT_TRUE(MakeBeepMovies());
  for (const BeepKind& k : kBeepKinds) {
    SCOPED_TRACE(k.file);
    const int handle = Open(Movies() / k.file);
    ASSERT_NE(handle, -1);
    Start(handle, 1);
    std::vector<int16_t> heard;
    for (int ms = 0; ms < 4600; ms += 10) {
      ClockTo(ms);
      // The sound is taken a quarter second ahead, so its renderer waits no
      // more from 3.25 s on, nor the picture's after its last frame.
      Settle(ms < 3200 ? 2 : ms < 3400 ? 1 : 0);
      UpdateMovieFrame(handle);
      const std::vector<int16_t> part = Render(441);
      heard.insert(heard.end(), part.begin(), part.end());
    }
    const std::vector<int> onsets = soundtest::Onsets(heard);
    ASSERT_EQ(onsets.size(), static_cast<size_t>(kBeepCount)) << testing::PrintToString(onsets);
    for (int b = 0; b < kBeepCount; ++b) EXPECT_NEAR(onsets[b], kBeepStartMs + 1000 * b, 40) << b;
    Close(handle);
  }
}

// The sound's samples are taken ahead of their time, so the video of the
// same time behind them in the file is not held up.
TEST_F(ThreadedMovieGraph, AProgramStreamWithSoundShowsFrameZeroAtTimeZeroAndAgainWhenItLoops) {
  const int handle = Open(Movies() / "mpeg1_sound.mpg");
  ASSERT_NE(handle, -1);
  Start(handle, 3);
  EXPECT_EQ(FrameAtMicros(handle, 0, 2), 0);
  EXPECT_EQ(FrameAtMicros(handle, 40000, 2), 1);
  const int64_t end = (MovieHandleToRecord(handle)->stop_position + 9) / 10;
  ClockToMicros(end - 1);
  EXPECT_EQ(WaitForFrame(handle, 9), 9);
  // The update at the end rewinds; stream time starts again at 0 then.
  ClockToMicros(end);
  UpdateMovieFrame(handle);
  start_ = ClockMicros();
  EXPECT_EQ(FrameAtMicros(handle, 0, 2), 0);
  EXPECT_EQ(FrameAtMicros(handle, 80000, 2), 2);
}

// Frame n is due at n / rate exactly: at 30000 / 1001 frames a second,
// frame n shows from the first microsecond at or past n * 1001 / 30 ms, and
// not one microsecond before.
TEST_F(ThreadedMovieGraph, EachFrameShowsFromItsOwnTime) {
  const int handle = Open(Movies() / "ntsc.mpg");
  ASSERT_NE(handle, -1);
  Start(handle, 1);
  EXPECT_EQ(FrameAtMicros(handle, 0, 1), 0);
  for (int n = 1; n < kFrames; ++n) {
    const int64_t due = (int64_t{n} * 1001000000 + 29999) / 30000;
    EXPECT_EQ(FrameAtMicros(handle, due - 1, 1), n - 1) << n;
    if (n + 1 < kFrames) {
      EXPECT_EQ(FrameAtMicros(handle, due, 1), n) << n;
    } else {
      ClockToMicros(due);
      EXPECT_EQ(WaitForFrame(handle, n), n);  // the last frame: nothing waits after it
    }
  }
}

// ---- Archives, refusals and names ------------------------------------------------------

TEST_F(ThreadedMovieGraph, AnArchivedMoviePlaysFromATemporaryCopyThatTheCloseDeletes) {
  testsupport::ScratchDir dir;
  std::ifstream in(Movies() / "vp9.webm", std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), {});
  PackNode file;
  file.name = "clip.webm";
  file.data.assign(bytes.begin(), bytes.end());
  PackNode root;
  root.folder = true;
  root.children.push_back(file);
  std::ofstream out(dir / "movies.hsd", std::ios::binary);
  std::string error;
  ASSERT_EQ(WritePackArchive(root, PackOptions{}, out, &error), 0) << error;
  out.close();
  SetArchiveUse(1);
  InstallFileFunctions(nullptr);
  SetArchiveExtension("hsd");
  const std::string name = testsupport::Sjis(dir / "movies/clip.webm");
  const int handle = Open(name);
  ASSERT_NE(handle, -1);
  MovieRecord* r = MovieHandleToRecord(handle);
  EXPECT_EQ(r->temporary_file, 1);
  const std::string copy = plat::WideCharToCp932(r->wide_name);
  EXPECT_EQ(std::filesystem::file_size(copy), bytes.size());
  EXPECT_EQ(std::filesystem::path(copy).filename().string().rfind("tmp", 0), 0u);
  Start(handle, 1);
  ClockTo(2 * 40 + 20);
  EXPECT_EQ(WaitForFrame(handle, 2), 2);
  Close(handle);
  EXPECT_FALSE(std::filesystem::exists(copy));
  EXPECT_EQ(TemporaryFiles(), 0);
  SetArchiveExtension(nullptr);
  ArchiveCacheEnd();
}

TEST_F(ThreadedMovieGraph, NonMoviesTruncatedMoviesAndOverlongNamesFailLeavingNothing) {
  const std::string text = Movies() / "notes.avi";
  std::ofstream(text) << "these are notes, not a movie";
  std::ifstream in(Movies() / "h264.mp4", std::ios::binary);
  const std::string whole((std::istreambuf_iterator<char>(in)), {});
  const std::string cut = Movies() / "cut.mp4";
  std::ofstream(cut, std::ios::binary) << whole.substr(0, whole.size() / 2);
  for (const std::string& name : {text, cut}) {
    log_.Clear();
    EXPECT_EQ(OpenMovie(name.c_str(), nullptr, nullptr, 0), -1);
    const std::string log = log_.Debug();
    EXPECT_NE(log.find(testsupport::Sjis("ファイル:" + name + " が開けませんでした")), std::string::npos) << log;
    EXPECT_NE(log.find(testsupport::Sjis("ムービーファイルオープン処理時にエラーが発生しました")), std::string::npos);
  }
  EXPECT_EQ(GetMovieCount(), 0);
  EXPECT_EQ(TemporaryFiles(), 0);
  // A name of 260 units or more is not cut short: by name it does not open,
  // and its copy plays.
  std::string long_name = Movies().path().string() + "/";
  while (long_name.size() < 270) long_name += "d/";
  std::filesystem::create_directories(long_name);
  long_name += "clip.mpg";
  std::filesystem::copy_file(Movies() / "mpeg1.mpg", long_name, std::filesystem::copy_options::overwrite_existing);
  const int handle = Open(long_name);
  ASSERT_NE(handle, -1);
  EXPECT_EQ(MovieHandleToRecord(handle)->temporary_file, 1);
  Close(handle);
  EXPECT_EQ(TemporaryFiles(), 0);
}

// ---- The frame renderer ------------------------------------------------------------------

plat::D_CMediaType VideoType(int width, int height) {
  plat::D_CMediaType t;
  t.majortype = plat::kMEDIATYPE_Video;
  t.subtype = plat::kMEDIASUBTYPE_RGB24;
  t.formattype = plat::kFORMAT_VideoInfo;
  plat::VideoInfoHeader v{};
  v.bmiHeader.biWidth = width;
  v.bmiHeader.biHeight = height;
  v.bmiHeader.biBitCount = 24;
  t.SetFormat(&v, sizeof(v));
  return t;
}

// A sample over caller memory.
class Sample : public plat::D_CMediaSample {
 public:
  explicit Sample(std::vector<uint8_t>& bytes, int32_t held)
      : D_CMediaSample("test", nullptr, &result_, bytes.data(), static_cast<int32_t>(bytes.size())) {
    SetActualDataLength(held);
  }
  plat::HResult result_ = plat::kS_OK;
};

TEST(MovieFrameRendererTest, ChecksTypesInOrderSizesRowsAndCopiesOnlyWhatASampleHolds) {
  plat::HResult made = plat::kE_FAIL;
  MovieFrameRenderer* m = CreateMovieRendererFilter(nullptr, &made);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(made, plat::kS_OK);
  m->NonDelegatingAddRef();
  EXPECT_EQ(m->CheckMediaType(nullptr), plat::kE_POINTER);
  plat::D_CMediaType t = VideoType(4, 2);
  t.formattype = plat::kFORMAT_WaveFormatEx;
  t.majortype = plat::kMEDIATYPE_Audio;
  EXPECT_EQ(m->CheckMediaType(&t), plat::kE_INVALIDARG);
  t = VideoType(4, 2);
  t.format.resize(20);  // too short for its header
  EXPECT_EQ(m->CheckMediaType(&t), plat::kE_INVALIDARG);
  t = VideoType(4, 2);
  t.majortype = plat::kMEDIATYPE_Audio;
  t.subtype = plat::kMEDIASUBTYPE_PCM;
  EXPECT_EQ(m->CheckMediaType(&t), plat::kE_FAIL);
  t = VideoType(4, 2);
  t.subtype = plat::kMEDIASUBTYPE_PCM;
  EXPECT_EQ(m->CheckMediaType(&t), plat::kE_FAIL);
  t = VideoType(4, 2);
  EXPECT_EQ(m->CheckMediaType(&t), plat::kS_OK);
  EXPECT_EQ(MovieRowBytes(1), 4);
  EXPECT_EQ(MovieRowBytes(4), 12);
  EXPECT_EQ(MovieRowBytes(5), 16);

  // Bottom-up rows (positive height) come out top-down.
  t = VideoType(5, 3);
  ASSERT_EQ(m->SetMediaType(&t), plat::kS_OK);
  EXPECT_EQ(m->flip, 1);
  EXPECT_EQ(m->pitch, 16);
  std::vector<uint8_t> rows(48);
  for (int r = 0; r < 3; ++r) std::fill(rows.begin() + r * 16, rows.begin() + r * 16 + 16, static_cast<uint8_t>(r + 1));
  Sample whole(rows, 48);
  ASSERT_EQ(m->DoRenderSample(&whole), plat::kS_OK);
  EXPECT_EQ(m->new_frame, 1);
  EXPECT_EQ(m->frame_buffer[0], 3);
  EXPECT_EQ(m->frame_buffer[32], 1);
  // A sample holding one row and a half changes only those bytes.
  std::vector<uint8_t> part(48, 9);
  Sample short_sample(part, 24);
  ASSERT_EQ(m->DoRenderSample(&short_sample), plat::kS_OK);
  EXPECT_EQ(m->frame_buffer[32], 9);
  EXPECT_EQ(m->frame_buffer[16 + 7], 9);
  EXPECT_EQ(m->frame_buffer[16 + 8], 2);
  EXPECT_EQ(m->frame_buffer[0], 3);

  // Top-down rows (negative height) are copied as they are.
  t = VideoType(5, -3);
  ASSERT_EQ(m->SetMediaType(&t), plat::kS_OK);
  EXPECT_EQ(m->flip, 0);
  EXPECT_EQ(m->height, 3);
  EXPECT_EQ(m->new_frame, 0);
  ASSERT_EQ(m->DoRenderSample(&whole), plat::kS_OK);
  EXPECT_EQ(m->frame_buffer[0], 1);
  EXPECT_EQ(m->frame_buffer[32], 3);
  // A size that cannot be held leaves no buffer; samples are passed over.
  t = VideoType(0x7FFFFFF0, 0x7FFFFFF0);
  ASSERT_EQ(m->SetMediaType(&t), plat::kS_OK);
  EXPECT_EQ(m->frame_buffer, nullptr);
  EXPECT_EQ(m->DoRenderSample(&whole), plat::kS_OK);
  EXPECT_EQ(m->DoRenderSample(nullptr), plat::kE_POINTER);
  m->NonDelegatingRelease();
}

// Frames over 1 GiB of 32-bit pixels, or with a side over 16384, are refused
// with a log line before any buffer is sized for them.
TEST(MovieFrameRendererTest, RefusesFramesPastThePictureLimitWithALogLine) {
  testsupport::LogCapture capture;
  plat::HResult made = plat::kE_FAIL;
  MovieFrameRenderer* m = CreateMovieRendererFilter(nullptr, &made);
  ASSERT_NE(m, nullptr);
  m->NonDelegatingAddRef();
  for (auto [w, h] : {std::pair{8192, 4320}, {16384, -16384}, {1, 16384}}) {
    plat::D_CMediaType t = VideoType(w, h);
    EXPECT_EQ(m->CheckMediaType(&t), plat::kS_OK) << w << " x " << h;
  }
  EXPECT_EQ(capture.Debug(), "");
  for (auto [w, h] : {std::pair{1048560, 1048560}, {16385, 16}, {16, -16385}, {0, 16}}) {
    plat::D_CMediaType t = VideoType(w, h);
    EXPECT_EQ(m->CheckMediaType(&t), plat::kE_FAIL) << w << " x " << h;
  }
  EXPECT_NE(capture.Debug().find(testsupport::Sjis("ムービーのフレームサイズ 1048560 x 1048560 が大きすぎます")),
            std::string::npos)
      << capture.Debug();
  EXPECT_EQ(m->frame_buffer, nullptr);
  m->NonDelegatingRelease();
}

}  // namespace
