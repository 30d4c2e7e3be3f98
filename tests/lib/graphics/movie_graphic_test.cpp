// tests/lib/graphics/movie_graphic_test.cpp - graphics made from movie files:
// the frames drawn on the headless screen in the colours of an independent
// BT.601 reference, the frame update before each draw, and the clean-up.
#include <zlib.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include "lib/core/log.h"
#include "lib/sound/movie.h"
#include "platform/media/base_classes.h"
#include "tests/lib/graphics/graphic_support.h"
#include "tests/support/log_capture.h"
#include "tests/support/sjis.h"
#include "tests/support/theora_writer.h"

namespace {

using gtest_graphic::GraphicTest;
using gtest_graphic::Picture;

void WriteBytes(const std::string& name, const std::string& bytes) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The reference colour of pixel (x, y) of a movie frame as 0xRRGGBB.
uint32_t Expected(int frame, int x, int y, int height) {
  testsupport::YuvSample s = testsupport::MovieSampleAt(frame, x, y, height);
  int r, g, b;
  testsupport::Bt601Reference(s.y, s.cb, s.cr, &r, &g, &b);
  return uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b);
}

bool Near(uint32_t got, uint32_t want, int tolerance) {
  for (int shift : {0, 8, 16}) {
    int a = int((got >> shift) & 255), b = int((want >> shift) & 255);
    if (std::abs(a - b) > tolerance) return false;
  }
  return true;
}

class MovieGraphic : public GraphicTest {
 protected:
  void SetUp() override {
    capture_ = std::make_unique<testsupport::LogCapture>();
    InitializeYuvTables();
    GraphicTest::SetUp();
  }
  void TearDown() override {
    GraphicTest::TearDown();
    EXPECT_EQ(GetMovieCount(), 0);
    capture_.reset();
  }
  // Checks that the screen shows `frame` of a 64 x 48 movie at (x0, y0).
  void ExpectFrameAt(int frame, int x0, int y0) {
    Picture shot = Screenshot();
    for (int x = 8; x < 64; x += 16)
      for (int y : {4, 20, 40})
        EXPECT_TRUE(Near(shot.at(x0 + x, y0 + y) & 0xFFFFFF, Expected(frame, x, y, 48), 8))
            << std::hex << (shot.at(x0 + x, y0 + y) & 0xFFFFFF) << " vs " << Expected(frame, x, y, 48) << std::dec
            << " at " << x << "," << y << " frame " << frame;
  }
  std::unique_ptr<testsupport::LogCapture> capture_;
};

TEST_F(MovieGraphic, AMovieFileBecomesAGraphicThatDrawsItsCurrentFrame) {
  testsupport::MovieSpec spec;
  WriteBytes("bars.ogg", testsupport::MakeOggMovie(spec));
  const int handle = LoadGraphicFromFile("bars.ogg", 0);
  ASSERT_NE(handle, -1);
  int w = 0, h = 0;
  ASSERT_EQ(GetGraphicSize(handle, &w, &h), 0);
  EXPECT_EQ(w, 64);
  EXPECT_EQ(h, 48);
  const int movie = GraphicHandleToRecord(handle)->movie_handle;
  MovieRecord* m = MovieHandleToRecord(movie);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(GetMovieCount(), 1);
  EXPECT_EQ(m->callback_argument, reinterpret_cast<void*>(intptr_t(handle)));

  // The device offers a YUV surface: frames go there and the device turns
  // them into the texture's colours.
  ASSERT_NE(GetTheoraYuvSurface(m->theora_record), nullptr);
  EXPECT_EQ(m->theora_record->yuv_fourcc, 0x32315659u);  // the planar layout comes first
  ASSERT_EQ(DrawGraphicAt(100, 50, handle, 0), 0);
  EXPECT_EQ(m->theora_record->surface_converted, 1);
  ExpectFrameAt(0, 100, 50);
  EXPECT_EQ(m->frame_delivered, 1);

  // Playing: the draw brings the frame due by the clock into the graphic.
  m->play_type = 3;
  m->resume = 1;
  ResumeAllMovies();
  plat::AdvanceVirtualClock(7 * 1000000 / 30 + 5000);
  ASSERT_EQ(ClearDrawTarget(nullptr), 0);
  ASSERT_EQ(DrawGraphicAt(10, 20, handle, 0), 0);
  ExpectFrameAt(7, 10, 20);
  EXPECT_EQ(m->theora_record->surface_converted, 1);

  ASSERT_EQ(DeleteGraphic(handle), 0);
  EXPECT_EQ(GetMovieCount(), 0);
  EXPECT_EQ(MovieHandleToRecord(movie), nullptr);
}

// A 100 x 70 picture at (6, 4) of a 112 x 80 coded frame: a graphic of the
// picture's size, drawn through the device's YUV surface from the picture's
// offset (the points lie next to the bars' edges and the white rows, so a
// picture taken from the wrong place shows another colour).
TEST_F(MovieGraphic, AMoviePictureInsideALargerCodedFrameMakesAGraphicOfItsSize) {
  testsupport::MovieSpec spec;
  spec.width = 100, spec.height = 70, spec.pic_x = 6, spec.pic_y = 4;
  WriteBytes("inset.ogg", testsupport::MakeOggMovie(spec));
  const int handle = LoadGraphicFromFile("inset.ogg", 0);
  ASSERT_NE(handle, -1);
  int w = 0, h = 0;
  ASSERT_EQ(GetGraphicSize(handle, &w, &h), 0);
  EXPECT_EQ(w, 100);
  EXPECT_EQ(h, 70);
  MovieRecord* m = MovieHandleToRecord(GraphicHandleToRecord(handle)->movie_handle);
  ASSERT_NE(GetTheoraYuvSurface(m->theora_record), nullptr);
  ASSERT_EQ(DrawGraphicAt(20, 10, handle, 0), 0);
  EXPECT_EQ(m->theora_record->surface_converted, 1);
  Picture shot = Screenshot();
  for (int bar = 0; bar < 6; ++bar)
    for (int x : {bar * 16 + 2, bar * 16 + 13})
      for (int y : {2, 51, 55, 67})
        EXPECT_TRUE(Near(shot.at(20 + x, 10 + y) & 0xFFFFFF, Expected(0, x, y, 70), 12))
            << std::hex << (shot.at(20 + x, 10 + y) & 0xFFFFFF) << " vs " << Expected(0, x, y, 70) << std::dec
            << " at " << x << "," << y;
  ASSERT_EQ(DeleteGraphic(handle), 0);
}

// Theora movies of every chroma layout, made by the ffmpeg command from RGB
// frames (whose chroma it keeps whole unless told), drawn as graphics
// through the device's YUV surface: each shows its frame as ffmpeg decodes
// it and as the movie's own frame image has it.
TEST_F(MovieGraphic, EveryChromaLayoutDrawsItsFrameThroughTheYuvSurface) {
  constexpr int kBars = 4, kBarWidth = 16, kW = kBars * kBarWidth, kH = 48;
  constexpr uint8_t kTop[kBars][3] = {{220, 40, 40}, {40, 200, 60}, {50, 60, 220}, {230, 210, 30}};
  constexpr uint8_t kBottom[kBars][3] = {{30, 200, 210}, {210, 40, 200}, {120, 70, 20}, {240, 240, 240}};
  std::string raw;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      for (int c = 0; c < 3; ++c) raw.push_back(char((y < kH / 2 ? kTop : kBottom)[x / kBarWidth][c]));
  WriteBytes("bars.rgb", raw);
  const char* const layouts[] = {"yuv444p", "yuv422p", "yuv420p"};
  // One ffmpeg run makes the three movies, one more decodes their first frames.
  std::string encode = "ffmpeg -loglevel error -y -f rawvideo -pix_fmt rgb24 -s 64x48 -r 30 -i bars.rgb",
              decode = "ffmpeg -loglevel error -y";
  for (const char* layout : layouts) {
    encode += " -frames:v 1 -c:v libtheora -q:v 10 -pix_fmt " + std::string(layout) + " " + layout + ".ogv";
    decode += " -i " + std::string(layout) + ".ogv";
  }
  for (int i = 0; i < 3; ++i)
    decode += " -map " + std::to_string(i) + ":v -frames:v 1 -f rawvideo -pix_fmt bgra " + layouts[i] + ".bgra";
  ASSERT_EQ(std::system((encode + " && " + decode).c_str()), 0);
  for (const char* layout : layouts) {
    SCOPED_TRACE(layout);
    const std::string movie = std::string(layout) + ".ogv", decoded = std::string(layout) + ".bgra";
    std::ifstream in(decoded, std::ios::binary);
    const std::string reference(std::istreambuf_iterator<char>(in), {});
    ASSERT_EQ(reference.size(), size_t(kW) * kH * 4);
    const int handle = LoadGraphicFromFile(movie.c_str(), 0);
    ASSERT_NE(handle, -1);
    MovieRecord* m = MovieHandleToRecord(GraphicHandleToRecord(handle)->movie_handle);
    TheoraMovieRecord* t = m->theora_record;
    ASSERT_NE(GetTheoraYuvSurface(t), nullptr);
    const BaseImage* frame = m->frame_image;
    // The planar surface the device offers first, then the packed ones it
    // may offer instead.
    for (uint32_t fourcc : {kFourCcYv12, kFourCcYuy2, kFourCcUyvy}) {
      SCOPED_TRACE(fourcc);
      if (fourcc != t->yuv_fourcc) {
        t->yuv_surface->Release();
        t->yuv_surface = nullptr;
        ASSERT_EQ(GraphicsDevice().device->CreateOffscreenPlainSurface(kW, kH, fourcc, plat::D3DPOOL_DEFAULT,
                                                                       &t->yuv_surface, nullptr),
                  plat::D3D_OK);
        t->yuv_fourcc = fourcc;
        t->surface_converted = 0;
      }
      ASSERT_EQ(ClearDrawTarget(nullptr), 0);
      ASSERT_EQ(DrawGraphicAt(30, 20, handle, 0), 0);
      Picture shot = Screenshot();
      for (int bar = 0; bar < kBars; ++bar)
        for (int x : {bar * kBarWidth + 3, bar * kBarWidth + 12})
          for (int y : {4, 18, 30, 44}) {
            const size_t at = (size_t(y) * kW + x) * 4;
            const uint32_t want = uint32_t(uint8_t(reference[at + 2])) << 16 |
                                  uint32_t(uint8_t(reference[at + 1])) << 8 | uint8_t(reference[at]);
            const uint8_t* own = frame->pixels + size_t(y) * frame->pitch + size_t(x) * 4;
            const uint32_t image = uint32_t(own[2]) << 16 | uint32_t(own[1]) << 8 | own[0];
            const uint32_t got = shot.at(30 + x, 20 + y) & 0xFFFFFF;
            EXPECT_TRUE(Near(got, want, 8)) << std::hex << got << " vs " << want << std::dec << " at " << x << ","
                                            << y;
            EXPECT_TRUE(Near(got, image, 8)) << std::hex << got << " vs " << image << std::dec << " at " << x << ","
                                             << y;
          }
    }
    ASSERT_EQ(DeleteGraphic(handle), 0);
  }
}

TEST_F(MovieGraphic, AFileThatIsNeitherImageNorMovieFailsAndLeavesNoMovieOpen) {
  WriteBytes("notes.txt", "plain words, no pictures");
  const int graphics = GetGraphicCount();
  capture_->Clear();
  EXPECT_EQ(LoadGraphicFromFile("notes.txt", 0), -1);
  EXPECT_EQ(GetMovieCount(), 0);
  EXPECT_NE(capture_->Debug().find(testsupport::Sjis("右記のグラフィックファイルのロードに失敗しました")),
            std::string::npos);
  EXPECT_EQ(GetGraphicCount(), graphics);
}

// A movie of the media graph (red for five frames, then blue) drawn as a
// graphic: each draw shows the frame the clock has reached.
class ThreadedMovieGraphic : public MovieGraphic {
 protected:
  // Draws until the screen shows the colour or a long real time passes.
  bool DrawsColour(int handle, uint32_t colour) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
      ClearDrawTarget(nullptr);
      DrawGraphicAt(10, 20, handle, 0);
      if (Near(Screenshot().at(10 + 32, 20 + 24) & 0xFFFFFF, colour, 24)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
  }
};

TEST_F(ThreadedMovieGraphic, AGraphMovieDrawsTheFrameOfTheClock) {
  const std::string name = std::filesystem::absolute("red_blue.mp4").string();
  ASSERT_EQ(std::system(("ffmpeg -loglevel error -y -f lavfi -i color=c=red:s=64x48:r=25:d=0.2 -f lavfi -i "
                         "color=c=blue:s=64x48:r=25:d=0.2 -filter_complex concat=n=2:v=1 -c:v libx264 "
                         "-pix_fmt yuv420p " + name + " >/dev/null 2>&1").c_str()),
            0);
  const int handle = LoadGraphicFromFile(name.c_str(), 0);
  ASSERT_NE(handle, -1);
  int w = 0, h = 0;
  ASSERT_EQ(GetGraphicSize(handle, &w, &h), 0);
  EXPECT_EQ(w, 64);
  EXPECT_EQ(h, 48);
  MovieRecord* m = MovieHandleToRecord(GraphicHandleToRecord(handle)->movie_handle);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->theora, 0);
  m->play_type = 1;
  m->resume = 1;
  ResumeAllMovies();
  plat::AdvanceVirtualClock(20000);
  EXPECT_TRUE(DrawsColour(handle, 0xFF0000));
  plat::AdvanceVirtualClock(200000);
  EXPECT_TRUE(DrawsColour(handle, 0x0000FF));
  ASSERT_EQ(DeleteGraphic(handle), 0);
  EXPECT_EQ(GetMovieCount(), 0);
}

// Frames whose width is not a multiple of the scaler's vector block (H.264
// movies, and a WebP still on the same path), played for a while and
// deleted: the graphic has the movie's size, shows its colour, and no sample
// comes back written past its end.
TEST_F(ThreadedMovieGraphic, FramesOfAnyWidthStayInsideTheirBuffers) {
  const int overruns = plat::MediaSampleOverruns();
  const int sizes[][2] = {{26, 20}, {130, 98}, {200, 150}, {264, 210}};
  for (const auto& size : sizes) {
    const std::string dims = std::to_string(size[0]) + "x" + std::to_string(size[1]);
    const std::string name = std::filesystem::absolute("wide" + dims + ".mp4").string();
    ASSERT_EQ(std::system(("ffmpeg -loglevel error -y -f lavfi -i color=c=0x2080E0:s=" + dims +
                           ":r=25:d=1 -c:v libx264 -pix_fmt yuv420p " + name + " >/dev/null 2>&1").c_str()),
              0);
    SCOPED_TRACE(name);
    const int handle = LoadGraphicFromFile(name.c_str(), 0);
    ASSERT_NE(handle, -1);
    int w = 0, h = 0;
    ASSERT_EQ(GetGraphicSize(handle, &w, &h), 0);
    EXPECT_EQ(w, size[0]);
    EXPECT_EQ(h, size[1]);
    MovieRecord* m = MovieHandleToRecord(GraphicHandleToRecord(handle)->movie_handle);
    ASSERT_NE(m, nullptr);
    m->play_type = 1;
    m->resume = 1;
    ResumeAllMovies();
    for (int step = 0; step < 25; ++step) {
      plat::AdvanceVirtualClock(40000);
      DrawGraphicAt(0, 0, handle, 0);
    }
    // The last pixel of the last row, where a row written past its end
    // would show first.
    uint32_t corner = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
      ClearDrawTarget(nullptr);
      DrawGraphicAt(0, 0, handle, 0);
      corner = Screenshot().at(size[0] - 1, size[1] - 1) & 0xFFFFFF;
      if (Near(corner, 0x2080E0, 24)) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_TRUE(Near(corner, 0x2080E0, 24)) << std::hex << corner;
    ASSERT_EQ(DeleteGraphic(handle), 0);
  }
  ASSERT_EQ(std::system("convert -size 130x98 xc:'#2080E0' -quality 90 wide.webp"), 0);
  const int still = LoadGraphicFromFile("wide.webp", 0);
  ASSERT_NE(still, -1);
  int w = 0, h = 0;
  ASSERT_EQ(GetGraphicSize(still, &w, &h), 0);
  EXPECT_EQ(w, 130);
  EXPECT_EQ(h, 98);
  ASSERT_EQ(DeleteGraphic(still), 0);
  EXPECT_EQ(GetMovieCount(), 0);
  EXPECT_EQ(plat::MediaSampleOverruns(), overruns);
}

// Image files cut short or damaged are refused with a line naming them, never
// shown as what a movie decoder makes of them, except a JPEG cut short, which
// loads as its decoder fills it, with a line saying so; a damaged alpha image
// is left out with a line naming it. The still pictures the loaders leave to
// the movie path (a CMYK JPEG, a GIF, a lossless JPEG) load as one-frame
// movies when whole. The pictures come from ImageMagick and ffmpeg.
TEST_F(ThreadedMovieGraphic, DamagedImagesAreRefusedAndWholeStillsOfTheMoviePathLoad) {
  ASSERT_EQ(std::system("convert -seed 7 -size 64x48 plasma:red-blue pic.png && convert pic.png pic.jpg && "
                        "convert pic.png pic.gif && convert -size 64x48 xc:'#3060C0' -colorspace CMYK cmyk.jpg && "
                        "convert pic.png -colorspace CMYK pic_cmyk.jpg && ffmpeg -loglevel error -y -i pic.png "
                        "-c:v ljpeg -pix_fmt bgr24 lossless.jpg"),
            0);
  auto read = [](const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const std::string png = read("pic.png");
  std::string crc = png;
  crc[crc.size() / 2] ^= 0x10;  // inside the image data: its checksum fails
  WriteBytes("cut.png", png.substr(0, png.size() / 2));
  WriteBytes("crc.png", crc);
  WriteBytes("cut.jpg", read("pic.jpg").substr(0, read("pic.jpg").size() / 2));
  WriteBytes("cut_cmyk.jpg", read("pic_cmyk.jpg").substr(0, read("pic_cmyk.jpg").size() / 2));
  WriteBytes("cut.gif", read("pic.gif").substr(0, read("pic.gif").size() / 2));
  const int graphics = GetGraphicCount();
  for (const char* name : {"cut.png", "crc.png", "cut_cmyk.jpg", "cut.gif"}) {
    capture_->Clear();
    EXPECT_EQ(LoadGraphicFromFile(name, 0), -1) << name;
    EXPECT_NE(capture_->Debug().find(name), std::string::npos) << name << ": " << capture_->Debug();
    EXPECT_EQ(GetMovieCount(), 0) << name;
    EXPECT_EQ(GetGraphicCount(), graphics) << name;
  }
  for (const char* name : {"cut.jpg", "sheet.png"}) {
    if (std::string(name) == "sheet.png") {
      WriteBytes("sheet.png", png);
      WriteBytes("sheet_a.png", png.substr(0, png.size() / 2));
    }
    capture_->Clear();
    const int handle = LoadGraphicFromFile(name, 0);
    ASSERT_NE(handle, -1) << name;
    EXPECT_EQ(GraphicHandleToRecord(handle)->movie_handle, -1) << name;
    EXPECT_NE(capture_->Debug().find(name[0] == 'c' ? "cut.jpg" : "sheet_a.png"), std::string::npos)
        << capture_->Debug();
    DeleteGraphic(handle);
  }
  EXPECT_EQ(GetGraphicCount(), graphics);

  for (const char* name : {"pic.png", "pic.jpg"}) {
    const int handle = LoadGraphicFromFile(name, 0);
    EXPECT_NE(handle, -1) << name;
    EXPECT_EQ(GraphicHandleToRecord(handle)->movie_handle, -1) << name;
    DeleteGraphic(handle);
  }
  for (const char* name : {"cmyk.jpg", "pic.gif", "lossless.jpg"}) {
    const int handle = LoadGraphicFromFile(name, 0);
    ASSERT_NE(handle, -1) << name;
    int w = 0, h = 0;
    ASSERT_EQ(GetGraphicSize(handle, &w, &h), 0);
    EXPECT_EQ(w, 64);
    EXPECT_EQ(h, 48);
    MovieRecord* m = MovieHandleToRecord(GraphicHandleToRecord(handle)->movie_handle);
    ASSERT_NE(m, nullptr) << name;
    if (std::string(name) == "cmyk.jpg") {
      m->play_type = 1;
      m->resume = 1;
      ResumeAllMovies();
      EXPECT_TRUE(DrawsColour(handle, 0x3060C0));
    }
    ASSERT_EQ(DeleteGraphic(handle), 0);
  }
  EXPECT_EQ(GetMovieCount(), 0);
}

// Stills of the movie path damaged in the middle, whose decoders mend what
// they cannot read and go on: refused with one line naming them as damaged
// and why (the media graph's reason is not a line of its own); the whole
// ones load at their size.
TEST_F(ThreadedMovieGraphic, StillsDamagedInTheMiddleAreRefused) {
  ASSERT_EQ(std::system("convert -seed 7 -size 64x48 plasma:red-blue pic.png && convert pic.png pic.gif && "
                        "convert pic.png -compress lzw pic.tif && convert pic.png -colorspace CMYK pic_cmyk.jpg"),
            0);
  for (const std::string name : {"pic.gif", "pic.tif", "pic_cmyk.jpg"}) {
    std::ifstream in(name, std::ios::binary);
    std::string bytes(std::istreambuf_iterator<char>(in), {});
    for (size_t i = bytes.size() / 2; i < bytes.size() / 2 + 64; ++i) bytes[i] = i % 2 ? '\xFF' : '\0';
    const std::string damaged = "damaged_" + name;
    WriteBytes(damaged, bytes);
    capture_->Clear();
    EXPECT_EQ(LoadGraphicFromFile(damaged.c_str(), 0), -1) << damaged;
    const std::string why = name == "pic_cmyk.jpg" ? "" : ": the still picture does not decode whole";
    EXPECT_NE(capture_->Debug().find(testsupport::Sjis("画像ファイル " + damaged + " は壊れています" + why)),
              std::string::npos)
        << capture_->Debug();
    EXPECT_EQ(capture_->Debug().find("media:"), std::string::npos) << capture_->Debug();
    EXPECT_EQ(GetMovieCount(), 0);

    capture_->Clear();
    const int handle = LoadGraphicFromFile(name.c_str(), 0);
    ASSERT_NE(handle, -1) << name << ": " << capture_->Debug();
    int w = 0, h = 0;
    ASSERT_EQ(GetGraphicSize(handle, &w, &h), 0);
    EXPECT_EQ(w, 64);
    EXPECT_EQ(h, 48);
    ASSERT_EQ(DeleteGraphic(handle), 0);
  }
}

// A picture over the 1 GiB pixel limit is too large on every path, with a
// line saying so, errno EFBIG (which the game reads) and no movie opened: a
// 33,000 x 33,000 grey PNG, which its loader refuses before reading its
// data, and a GIF whose screen is 20,000 x 20,000, which the movie path's
// decoder refuses. A deflate TIFF whose strip byte count is cut (to half, or
// to nine tenths), so that its strip ends early, is damaged (libtiff refuses
// it too), where its decoder would fill the last rows from whatever its
// buffer held.
TEST_F(ThreadedMovieGraphic, TooLargeStillsAndShortDeflateStripsAreRefused) {
  auto chunk = [](const std::string& type, const std::string& data) {
    std::string c;
    for (int i = 3; i >= 0; --i) c.push_back(static_cast<char>(data.size() >> (8 * i)));
    const std::string body = type + data;
    c += body;
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
    for (int i = 3; i >= 0; --i) c.push_back(static_cast<char>(crc >> (8 * i)));
    return c;
  };
  const std::string side("\0\0\x80\xE8", 4);  // 33,000
  WriteBytes("huge.png", std::string("\x89PNG\r\n\x1A\n", 8) + chunk("IHDR", side + side + std::string("\x08\0\0\0\0", 5)) +
                             chunk("IDAT", std::string(1056000, '\0')) + chunk("IEND", ""));
  WriteBytes("huge.gif", std::string("GIF89a\x20\x4E\x20\x4E\x80\0\0\0\0\0\xFF\xFF\xFF,\0\0\0\0\x01\0\x01\0\0\x02\x02\x44\x01\0;", 35));
  for (const char* name : {"huge.png", "huge.gif"}) {
    capture_->Clear();
    errno = 0;
    EXPECT_EQ(LoadGraphicFromFile(name, 0), -1) << name;
    EXPECT_EQ(errno, EFBIG) << name;
    const std::string why = name[5] == 'g' ? ": the still picture is past the frame size limit" : "";
    EXPECT_NE(capture_->Debug().find(testsupport::Sjis(std::string("画像ファイル ") + name + " は大きすぎます" + why)),
              std::string::npos)
        << capture_->Debug();
    EXPECT_EQ(capture_->Debug().find("media:"), std::string::npos) << capture_->Debug();
    EXPECT_EQ(GetMovieCount(), 0);
  }

  ASSERT_EQ(std::system("convert -seed 7 -size 64x48 plasma:red-blue pic.png && convert pic.png -compress zip "
                        "-define tiff:rows-per-strip=16 zip.tif"),
            0);
  std::ifstream in("zip.tif", std::ios::binary);
  std::string tiff(std::istreambuf_iterator<char>(in), {});
  auto u32 = [&](size_t at) {
    return uint32_t(uint8_t(tiff[at])) | uint32_t(uint8_t(tiff[at + 1])) << 8 | uint32_t(uint8_t(tiff[at + 2])) << 16 |
           uint32_t(uint8_t(tiff[at + 3])) << 24;
  };
  ASSERT_EQ(tiff.substr(0, 4), std::string("II*\0", 4));
  const size_t ifd = u32(4);
  size_t counts = 0, width = 0;  // where the strips' byte counts are, and their size
  for (size_t e = ifd + 2; e + 12 <= tiff.size() && counts == 0; e += 12) {
    if (uint8_t(tiff[e]) == 279 - 256 && tiff[e + 1] == 1 && u32(e + 4) == 3) {
      counts = u32(e + 8);
      width = tiff[e + 2] == 3 ? 2 : 4;
    }
  }
  ASSERT_GT(counts, 0u);
  // The second strip's, cut to half and to nine tenths: the rows it still
  // inflates to fall short either way.
  const uint32_t count = width == 2 ? u32(counts + 2) & 0xFFFF : u32(counts + 4);
  for (const uint32_t cut : {count / 2, count * 9 / 10}) {
    for (size_t i = 0; i < width; ++i) tiff[counts + width + i] = static_cast<char>(cut >> (8 * i));
    WriteBytes("short_strip.tif", tiff);
    EXPECT_NE(std::system("convert short_strip.tif short_strip.png 2>/dev/null"), 0) << cut;
    capture_->Clear();
    EXPECT_EQ(LoadGraphicFromFile("short_strip.tif", 0), -1) << cut;
    EXPECT_NE(capture_->Debug().find(testsupport::Sjis("画像ファイル short_strip.tif は壊れています")), std::string::npos)
        << capture_->Debug();
    EXPECT_EQ(GetMovieCount(), 0);
  }
  const int whole = LoadGraphicFromFile("zip.tif", 0);
  EXPECT_NE(whole, -1);
  ASSERT_EQ(DeleteGraphic(whole), 0);
}

}  // namespace
