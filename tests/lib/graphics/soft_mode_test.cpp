// The graphics without Direct3D: the library started with hardware
// rendering off keeps its screen, graphics and work images as MEMIMGs, draws
// through the memory-image kernels and shows the screen image in the window.
#include <algorithm>
#include <filesystem>
#include <random>
#include <set>
#include <string>

#include "lib/graphics/font.h"
#include "lib/graphics/soft_draw.h"
#include "lib/softrender/blend_tables.h"
#include "lib/softrender/soft_draw_state.h"
#include "tests/lib/graphics/graphic_support.h"

namespace {

using gtest_graphic::EncodePng;
using gtest_graphic::Pattern;
using gtest_graphic::Picture;

// The library running in software mode at the given colour depth.
class SoftMode : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    plat::SetBackend(plat::Backend::kHeadless);
    plat::HeadlessReset(plat::VirtualDesktop{});
    lock_ = (std::filesystem::temp_directory_path() /
             ("rorud-lock-soft-" + std::to_string(std::random_device{}())))
                .string();
    std::filesystem::create_directories(lock_);
    plat::SetWindowLockFolder(lock_);
    ResetWindowSettings();
    ResetGraphicsDeviceForTest();
    plat::SetVirtualClockAutoAdvance(10);
    ChangeWindowMode(1);
    SetHardwareRenderFlag(0);
    GraphicsConfig().vblank_wait_off = 1;
    ASSERT_EQ(ConfigureScreenMode(640, 480, GetParam(), 60), 0);
    ASSERT_EQ(LibraryStart(), 0);
    ASSERT_EQ(GraphicsDevice().direct3d_mode, 0);
  }
  void TearDown() override {
    LibraryEnd();
    EXPECT_EQ(IsValidMemImg(&SoftScreenImage()), 0);
    ResetGraphicsDeviceForTest();
    ResetWindowSettings();
    plat::HeadlessReset(plat::VirtualDesktop{});
    std::error_code ignored;
    std::filesystem::remove_all(lock_, ignored);
  }
  static int Load(const Picture& p, bool alpha) {
    std::vector<uint8_t> png = EncodePng(p, alpha);
    return ImageToGraphicWithOptions(png.data(), int(png.size()), nullptr, 0, 0, 0);
  }
  // The pixel of a MEMIMG as 0xRRGGBB.
  static uint32_t Rgb(const MEMIMG* m, int x, int y) {
    const uint8_t* p = m->pixels + size_t(y) * m->base->pitch + size_t(x) * m->base->format_info->bytes_per_pixel;
    if (m->base->pixel_format == kMemImgRgb565) {
      uint16_t v;
      memcpy(&v, p, 2);
      return (uint32_t((v >> 11) & 31) * 255 / 31) << 16 | (uint32_t((v >> 5) & 63) * 255 / 63) << 8 |
             uint32_t(v & 31) * 255 / 31;
    }
    uint32_t v;
    memcpy(&v, p, 4);
    return v & 0xFFFFFF;
  }
  // The colour as the screen's format keeps it, back as 0xRRGGBB.
  static uint32_t Reduced(uint32_t rgb) {
    if (GetParam() == 32) return rgb & 0xFFFFFF;
    uint32_t r = (rgb >> 19) & 31, g = (rgb >> 10) & 63, b = (rgb >> 3) & 31;
    return (r * 255 / 31) << 16 | (g * 255 / 63) << 8 | b * 255 / 31;
  }
  std::string lock_;
};

TEST_P(SoftMode, ScreenAndWorkImagesFollowTheScreenMode) {
  MEMIMG& screen = SoftScreenImage();
  ASSERT_EQ(IsValidMemImg(&screen), 1);
  EXPECT_EQ(screen.width, 640);
  EXPECT_EQ(screen.height, 480);
  const int format = GetParam() == 16 ? kMemImgRgb565 : kMemImg32;
  EXPECT_EQ(screen.base->pixel_format, format);
  EXPECT_EQ(SoftFontWorkImage(0).base->alpha, 0);
  EXPECT_EQ(SoftFontWorkImage(1).base->alpha, 1);
  EXPECT_EQ(SoftFontWorkImage(1).base->pixel_format, format);
  EXPECT_EQ(SoftDraw().target, &screen);
  EXPECT_EQ(Rgb(&screen, 320, 240), 0u);
  // The blend tables were built by the start.
  EXPECT_EQ(SoftBlendTables().mul[255][77], 77u);
  // The draw state the kernels read follows the setters.
  SetBlendModeParam(2, 300);
  SetDrawBrightRGB(10, 20, 30);
  SetDrawClipRect(600, 400, 20, 10);
  EXPECT_EQ(SoftDraw().blend_mode, 2u);
  EXPECT_EQ(SoftDraw().blend_param, 255);
  EXPECT_EQ(SoftDraw().bright, 0x0A141Eu);
  EXPECT_EQ(SoftDraw().clip.left, 20);
  EXPECT_EQ(SoftDraw().clip.bottom, 400);
}

TEST_P(SoftMode, LoadedGraphicKeepsItsPixelsInAMemImg) {
  Picture p = Pattern(37, 21, false);
  p.at(5, 3) = 0xFF000000;  // the transparent colour (black by default)
  const int h = Load(p, false);
  ASSERT_NE(h, -1);
  GraphicRecord* r = GraphicHandleToRecord(h);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->set->textured, 0);
  MEMIMG* m = GraphicMemImg(r);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->width, 37);
  EXPECT_EQ(m->height, 21);
  for (int y = 0; y < 21; ++y)
    for (int x = 0; x < 37; ++x) ASSERT_EQ(Rgb(m, x, y), Reduced(p.at(x, y))) << x << "," << y;
  // The whole-image write built the run table: the key pixel is a
  // transparent run in row 3.
  ASSERT_EQ(m->base->run_table_valid, 1);
  const uint8_t* row = m->base->run_table;
  for (int y = 0; y < 3; ++y) {
    while (*row != kRunEndByte) ++row;
    ++row;
  }
  EXPECT_EQ(row[0], 0x44);  // five opaque
  EXPECT_EQ(row[1], 0x00);  // one transparent
  // A derived graphic views the same pixels.
  const int d = DeriveGraphic(4, 2, 10, 10, h);
  MEMIMG* dm = GraphicMemImg(GraphicHandleToRecord(d));
  ASSERT_NE(dm, nullptr);
  EXPECT_EQ(dm->pixels, m->pixels + 2 * m->base->pitch + 4 * m->base->format_info->bytes_per_pixel);
  EXPECT_EQ(DeleteGraphic(h), 0);
  EXPECT_EQ(Rgb(dm, 0, 0), Reduced(p.at(4, 2)));  // still there for the derived one
  EXPECT_EQ(DeleteGraphic(d), 0);
}

TEST_P(SoftMode, AlphaGraphicCarriesItsAlpha) {
  Picture p = Pattern(8, 4, true);
  p.at(0, 0) = 0x00FFFFFF;
  p.at(1, 0) = 0xFF123456;
  p.at(2, 0) = 0x80123456;
  const int h = Load(p, true);
  ASSERT_NE(h, -1);
  MEMIMG* m = GraphicMemImg(GraphicHandleToRecord(h));
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->base->alpha, 1);
  EXPECT_EQ(m->base->format_info->bytes_per_pixel, 4);
  EXPECT_EQ(m->base->run_table[0] >> 6, kRunTransparent);
  EXPECT_EQ(m->base->run_table[1] >> 6, kRunOpaque);
  EXPECT_EQ(m->base->run_table[2] >> 6, kRunTranslucent);
  EXPECT_EQ(m->base->premultiplied_valid, 1);
  DeleteGraphic(h);
}

TEST_P(SoftMode, DrawTargetBlendImageAndClear) {
  const int t = MakeGraphic(50, 40);
  ASSERT_NE(t, -1);
  MEMIMG* tm = GraphicMemImg(GraphicHandleToRecord(t));
  ASSERT_NE(tm, nullptr);
  ASSERT_EQ(SetDrawTarget(t), 0);
  EXPECT_EQ(SoftDraw().target, tm);
  EXPECT_EQ(SoftDraw().clip.right, 50);
  EXPECT_EQ(SoftDraw().clip.bottom, 40);
  FillMemImgRawRect(tm, nullptr, 0x1234);
  const int32_t part[4] = {10, 10, 20, 20};
  ASSERT_EQ(ClearDrawTarget(part), 0);
  EXPECT_EQ(Rgb(tm, 15, 15), 0u);
  EXPECT_NE(Rgb(tm, 25, 15), 0u);
  ASSERT_EQ(ClearDrawTarget(nullptr), 0);
  EXPECT_EQ(Rgb(tm, 25, 15), 0u);
  // The blend image and its weights.
  ASSERT_EQ(SetDrawBlendImage(t, 128, 255), 0);
  EXPECT_EQ(SoftDraw().blend_image, tm);
  EXPECT_EQ(SoftBlendTables().weight[77], 77);
  // Deleting the target and blend graphic leaves the kernels nothing stale.
  ASSERT_EQ(DeleteGraphic(t), 0);
  EXPECT_EQ(SoftDraw().target, &SoftScreenImage());
  EXPECT_EQ(SoftDraw().blend_image, nullptr);
  EXPECT_EQ(FillGraphic(t, 1, 2, 3, 4), -1);
}

TEST_P(SoftMode, FlipShowsTheScreenImage) {
  MEMIMG& screen = SoftScreenImage();
  const uint32_t red = GetColorCode(255, 0, 0), blue = GetColorCode(0, 0, 255);
  const IntRect left{0, 0, 320, 480}, right{320, 0, 640, 480};
  FillMemImgRawRect(&screen, &left, red);
  FillMemImgRawRect(&screen, &right, blue);
  ASSERT_EQ(FlipScreen(), 0);
  std::vector<uint32_t> frame;
  int w = 0, h = 0;
  ASSERT_TRUE(plat::HeadlessGetLastFrame(GetMainWindow(), &frame, &w, &h));
  ASSERT_EQ(w, 640);
  ASSERT_EQ(h, 480);
  // A 16-bit screen is widened by shifting each field to the top of its byte.
  const uint32_t full = GetParam() == 16 ? 0xF8 : 0xFF;
  EXPECT_EQ(frame[size_t(100) * 640 + 10] & 0xFFFFFF, full << 16);
  EXPECT_EQ(frame[size_t(479) * 640 + 639] & 0xFFFFFF, full);
}

TEST_P(SoftMode, PlainFontTextGoesStraightIntoTheTarget) {
  const int font = CreateFontToHandle(nullptr, 16, 6, 0, -1, -1, 0, -1, -1);
  ASSERT_NE(font, -1);
  MEMIMG& screen = SoftScreenImage();
  SetDrawBrightRGB(255, 0, 0);
  ASSERT_EQ(DrawTextWithFont(100, 100, "AB", GetColorCode(255, 255, 255), font, 0, 0), 0);
  int lit = 0, outside = 0;
  for (int y = 80; y < 140; ++y)
    for (int x = 80; x < 160; ++x) {
      const uint32_t c = Rgb(&screen, x, y);
      if (c == 0) continue;
      // The bright colour modulates the text colour.
      EXPECT_EQ(c, Reduced(0xFF0000)) << x << "," << y;
      if (x >= 100 && y >= 90 && y < 120) ++lit;
      else ++outside;
    }
  EXPECT_GT(lit, 20);
  EXPECT_EQ(outside, 0);
  // Clipped away: nothing drawn.
  FillMemImgRawRect(&screen, nullptr, 0);
  SetDrawClipRect(0, 0, 50, 50);
  ASSERT_EQ(DrawTextWithFont(100, 100, "AB", GetColorCode(255, 255, 255), font, 0, 0), 0);
  for (int y = 80; y < 140; ++y)
    for (int x = 80; x < 160; ++x) ASSERT_EQ(Rgb(&screen, x, y), 0u);
  FontHandleDelete(font);
}

TEST_P(SoftMode, ScreenCopiesAndLocksReadTheScreenImage) {
  MEMIMG& screen = SoftScreenImage();
  const uint32_t green = GetColorCode(0, 255, 0);
  const IntRect spot{30, 40, 35, 45};
  FillMemImgRawRect(&screen, &spot, green);
  const int g = MakeGraphic(20, 20);
  ASSERT_NE(g, -1);
  MEMIMG* gm = GraphicMemImg(GraphicHandleToRecord(g));
  ASSERT_EQ(CopyDrawScreenToGraphic(-2, 30, 40, 40, 50, 2, 3, g), 0);
  EXPECT_EQ(Rgb(gm, 2, 3), Reduced(0x00FF00));
  EXPECT_EQ(Rgb(gm, 6, 7), Reduced(0x00FF00));
  EXPECT_EQ(Rgb(gm, 7, 8), 0u);
  // A rectangle that does not fit the graphic is refused.
  EXPECT_EQ(CopyDrawScreenToGraphic(-2, 0, 0, 30, 30, 0, 0, g), -1);
  // A lock gives a view of the screen's pixels.
  const int32_t rect[4] = {30, 40, 32, 42};
  BaseImage view{};
  ASSERT_EQ(CreateBackBufferLockSurfaces(rect, &view, -2, 1), 0);
  EXPECT_EQ(view.width, 2);
  EXPECT_EQ(view.pixels, screen.pixels + 40 * screen.base->pitch + 30 * screen.base->format_info->bytes_per_pixel);
  EXPECT_EQ(ReleaseBackBufferLockSurfaces(), 0);
  const int32_t outside[4] = {630, 0, 641, 10};
  EXPECT_EQ(CreateBackBufferLockSurfaces(outside, &view, -2, 1), -1);
  DeleteGraphic(g);
}

TEST_P(SoftMode, QuadAndRotatedDrawsGoThroughTheTransformedKernels) {
  Picture p = Pattern(16, 12, false);
  const int g = Load(p, false);
  ASSERT_NE(g, -1);
  MEMIMG& screen = SoftScreenImage();
  // A quad on the graphic's own rectangle draws it unrotated.
  ASSERT_EQ(DrawGraphicQuadF(10, 20, 26, 20, 10, 32, 26, 32, g, 0), 0);
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 16; ++x) ASSERT_EQ(Rgb(&screen, 10 + x, 20 + y), Reduced(p.at(x, y))) << x << "," << y;
  EXPECT_EQ(Rgb(&screen, 26, 25), 0u);
  EXPECT_EQ(Rgb(&screen, 15, 32), 0u);
  // Turned half round about its centre: the pattern comes back mirrored on
  // both axes, within a pixel of the graphic's rectangle about the centre.
  FillMemImgRawRect(&screen, nullptr, 0);
  ASSERT_EQ(DrawGraphicRotated(208, 206, 1.0, 3.14159265358979, g, 0, 0), 0);
  std::set<uint32_t> colours;
  for (uint32_t c : p.argb) colours.insert(Reduced(c));
  std::set<uint32_t> seen;
  int left = 640, top = 480, stray = 0;
  for (int y = 190; y < 222; ++y)
    for (int x = 190; x < 226; ++x) {
      const uint32_t c = Rgb(&screen, x, y);
      if (c == 0) continue;
      if (x < 199 || x > 217 || y < 199 || y > 213 || !colours.count(c)) ++stray;
      seen.insert(c);
      left = std::min(left, x);
      top = std::min(top, y);
    }
  EXPECT_EQ(stray, 0);
  EXPECT_GT(seen.size(), size_t(16 * 12 * 9 / 10));
  EXPECT_EQ(Rgb(&screen, left, top), Reduced(p.at(15, 11)));
  DeleteGraphic(g);
}

TEST_P(SoftMode, BoxesFillsAndStretchedDrawsGoThroughTheKernels) {
  MEMIMG& screen = SoftScreenImage();
  const uint32_t red = GetColorCode(255, 0, 0), white = GetColorCode(255, 255, 255);
  // A filled box given with its corners reversed is put in order.
  ASSERT_EQ(DrawFilledBox(130, 110, 100, 100, red), 0);
  for (int y = 95; y < 115; ++y)
    for (int x = 95; x < 135; ++x) {
      const bool inside = x >= 100 && x < 130 && y >= 100 && y < 110;
      ASSERT_EQ(Rgb(&screen, x, y), inside ? Reduced(0xFF0000) : 0u) << x << "," << y;
    }
  // An outline of (10, 10, 20, 20) lies on columns 10 and 19 and rows 10 and 19.
  ASSERT_EQ(DrawBoxOutline(10, 10, 20, 20, white), 0);
  for (int y = 8; y < 22; ++y)
    for (int x = 8; x < 22; ++x) {
      const bool edge = (x == 10 || x == 19) && y >= 10 && y <= 19 ? true : (y == 10 || y == 19) && x >= 10 && x <= 19;
      ASSERT_EQ(Rgb(&screen, x, y), edge ? Reduced(0xFFFFFF) : 0u) << x << "," << y;
    }
  // Halved blend: the box's colour added at half strength onto black.
  SetBlendModeParam(1, 128);
  ASSERT_EQ(DrawFilledBox(300, 300, 301, 301, white), 0);
  SetBlendModeParam(0, 255);
  const uint32_t half = Rgb(&screen, 300, 300);
  EXPECT_GT(half & 0xFF, 0x70u);
  EXPECT_LT(half & 0xFF, 0x90u);
  // The draw's clip rectangle bounds the fill.
  SetDrawClipRect(0, 0, 50, 50);
  ASSERT_EQ(DrawFilledBox(40, 40, 60, 60, red), 0);
  EXPECT_EQ(Rgb(&screen, 49, 49), Reduced(0xFF0000));
  EXPECT_EQ(Rgb(&screen, 50, 49), 0u);
  SetDrawClipRect(0, 0, 640, 480);

  Picture p = Pattern(16, 12, false);
  const int g = Load(p, false);
  ASSERT_NE(g, -1);
  ASSERT_EQ(DrawGraphicStretched(400, 20, 432, 44, g, 0), 0);  // doubled
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 32; ++x) ASSERT_EQ(Rgb(&screen, 400 + x, 20 + y), Reduced(p.at(x / 2, y / 2))) << x << "," << y;
  ASSERT_EQ(DrawGraphicTurned(400, 100, g, 0), 0);  // mirrored left to right
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 16; ++x) ASSERT_EQ(Rgb(&screen, 400 + x, 100 + y), Reduced(p.at(15 - x, y))) << x << "," << y;
  // FillGraphic fills the whole software graphic, whatever its alpha.
  ASSERT_EQ(FillGraphic(g, 0, 0, 255, 0), 0);
  MEMIMG* gm = GraphicMemImg(GraphicHandleToRecord(g));
  EXPECT_EQ(Rgb(gm, 0, 0), Reduced(0x0000FF));
  EXPECT_EQ(Rgb(gm, 15, 11), Reduced(0x0000FF));
  DeleteGraphic(g);
}

// One whole frame in software mode through the memory-image kernels: a PNG
// graphic, a filled box, an outline, anti-aliased text, flipped to the window.
TEST_P(SoftMode, FrameThroughTheKernelsReachesTheWindow) {
  Picture p = Pattern(16, 12, false);
  const int g = Load(p, false);
  ASSERT_NE(g, -1);
  ASSERT_EQ(DrawGraphicAt(10, 20, g, 0), 0);
  const uint32_t red = GetColorCode(255, 0, 0), white = GetColorCode(255, 255, 255);
  ASSERT_EQ(DrawFilledBox(100, 100, 130, 110, red), 0);
  ASSERT_EQ(DrawBoxOutline(200, 200, 210, 220, white), 0);
  const int font = CreateFontToHandle(nullptr, 16, 6, 2, -1, -1, 0, -1, -1);  // anti-aliased
  ASSERT_NE(font, -1);
  ASSERT_EQ(DrawTextWithFont(300, 300, "AB", white, font, 0, 0), 0);
  MEMIMG& screen = SoftScreenImage();
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 16; ++x) ASSERT_EQ(Rgb(&screen, 10 + x, 20 + y), Reduced(p.at(x, y))) << x << "," << y;
  EXPECT_EQ(Rgb(&screen, 9, 20), 0u);
  EXPECT_EQ(Rgb(&screen, 26, 20), 0u);
  for (int y = 95; y < 115; ++y)
    for (int x = 95; x < 135; ++x) {
      const bool inside = x >= 100 && x < 130 && y >= 100 && y < 110;
      ASSERT_EQ(Rgb(&screen, x, y), inside ? Reduced(0xFF0000) : 0u) << x << "," << y;
    }
  // The outline's right and bottom edges are exclusive.
  EXPECT_EQ(Rgb(&screen, 200, 200), Reduced(0xFFFFFF));
  EXPECT_EQ(Rgb(&screen, 209, 219), Reduced(0xFFFFFF));
  EXPECT_EQ(Rgb(&screen, 205, 210), 0u);
  EXPECT_EQ(Rgb(&screen, 210, 210), 0u);
  int lit = 0, outside = 0;
  for (int y = 280; y < 340; ++y)
    for (int x = 280; x < 360; ++x) {
      if (Rgb(&screen, x, y) == 0) continue;
      if (x >= 300 && y >= 290 && y < 320) ++lit;
      else ++outside;
    }
  EXPECT_GT(lit, 20);
  EXPECT_EQ(outside, 0);
  ASSERT_EQ(FlipScreen(), 0);
  std::vector<uint32_t> frame;
  int w = 0, h = 0;
  ASSERT_TRUE(plat::HeadlessGetLastFrame(GetMainWindow(), &frame, &w, &h));
  ASSERT_EQ(w, 640);
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 16; ++x) {
      const uint32_t shown = frame[size_t(20 + y) * 640 + 10 + x] & 0xFFFFFF;
      const uint32_t want = p.at(x, y) & (GetParam() == 16 ? 0xF8FCF8u : 0xFFFFFFu);
      ASSERT_EQ(shown, want) << x << "," << y;
    }
  FontHandleDelete(font);
  DeleteGraphic(g);
}

TEST_P(SoftMode, InactiveScreenImageIsShownAndTheFrameKept) {
  MEMIMG& screen = SoftScreenImage();
  FillMemImgRawRect(&screen, nullptr, GetColorCode(0, 0, 255));
  BaseImage shown{};
  ASSERT_EQ(CreateXrgb8BaseImage(640, 480, &shown), 0);
  for (int y = 0; y < 480; ++y) {
    uint32_t* row = reinterpret_cast<uint32_t*>(shown.pixels + size_t(y) * shown.pitch);
    for (int x = 0; x < 640; ++x) row[x] = 0x00FF0000;
  }
  ASSERT_EQ(SetInactiveScreenImage(&shown), 0);
  FreeBaseImagePixels(&shown);
  ASSERT_EQ(DrawInactiveScreenImage(nullptr), 0);
  std::vector<uint32_t> frame;
  int w = 0, h = 0;
  ASSERT_TRUE(plat::HeadlessGetLastFrame(GetMainWindow(), &frame, &w, &h));
  const uint32_t full = GetParam() == 16 ? 0xF8 : 0xFF;
  EXPECT_EQ(frame[size_t(240) * 640 + 320] & 0xFFFFFF, full << 16);
  // The game's own picture is back in the screen image afterwards.
  EXPECT_EQ(Rgb(&screen, 320, 240), Reduced(0x0000FF));
  EXPECT_EQ(SoftDraw().target, &screen);
  ClearInactiveScreenImage();
}

INSTANTIATE_TEST_SUITE_P(Depths, SoftMode, ::testing::Values(16, 32));

}  // namespace
