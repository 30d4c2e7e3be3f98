// Drawing through a blend image on the device path: the blend image's alpha,
// moved by the border value, decides where (border range below 2) or how
// strongly (wider ranges) the graphic lands. Checked against a per-pixel
// reference that runs the texture-stage arithmetic on its own, and against
// the software renderer's weight rule for the soft edge.
#include <algorithm>
#include <string>
#include <vector>

#include "tests/lib/graphics/graphic_support.h"

namespace {

using gtest_graphic::EncodePng;
using gtest_graphic::GraphicTest;
using gtest_graphic::Pattern;
using gtest_graphic::Picture;

uint32_t D255(uint32_t x) { return (x + 127) / 255; }
uint32_t Ch(uint32_t c, int i) { return (c >> (8 * i)) & 255; }

// A blend image whose alpha runs through every level: a = (3x + 5y) mod 256.
Picture BlendPicture(int w, int h) {
  Picture p{w, h, std::vector<uint32_t>(size_t(w) * h)};
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) p.at(x, y) = (uint32_t((3 * x + 5 * y) & 255) << 24) | 0x00404040u;
  return p;
}

// The texture factor's alpha and the stage operations for a border value p
// and a range of 2 or more, from the scale rule: the blend alpha is moved by
// a signed offset and scaled by 4, 2 or 1.
struct SoftEdge {
  int scale;
  bool add;
  uint32_t factor;
};
SoftEdge EdgeFor(int p, int range) {
  int k = range <= 64 ? 0x500 : (range <= 128 ? 0x300 : 0x200);
  int threshold = range <= 64 ? 0x400 : (range <= 128 ? 0x200 : 0x100);
  int weight = range <= 64 ? 0x40 : (range <= 128 ? 0x80 : 0xFF);
  int shift = range <= 64 ? 10 : (range <= 128 ? 9 : 8);
  int t = k - p * k / 255;
  SoftEdge e;
  e.scale = range <= 64 ? 4 : (range <= 128 ? 2 : 1);
  e.add = t >= threshold;
  e.factor = e.add ? uint32_t(((0x100 - p * k / 255) * weight) >> 8) : uint32_t(255 - ((t * 255) >> shift));
  return e;
}
// Alpha of a pixel whose blend-image alpha is b (graphic alpha and diffuse
// alpha both full).
uint32_t EdgeAlpha(const SoftEdge& e, uint32_t b) {
  uint32_t moved = e.add ? std::min(255u, b + e.factor) : (b > e.factor ? b - e.factor : 0);
  return std::min(255u, D255(moved * 255 * uint32_t(e.scale)));
}
// The software renderer's weight for the same border settings.
int SoftwareWeight(int pos, int range, int k) {
  int step = 65536 / (range + 1);
  int base = 256 - ((step + 256) * pos) / 256;
  int w = (k * 256) / (range + 1) + base;
  return w < 0 ? 0 : (w > 255 ? 255 : w);
}

class BlendImage : public GraphicTest {
 protected:
  int Load(const Picture& p, bool alpha) {
    std::vector<uint8_t> png = EncodePng(p, alpha);
    int h = ImageToGraphicWithOptions(png.data(), int(png.size()), nullptr, 0, 0, 0);
    EXPECT_NE(h, -1);
    return h;
  }
  template <typename F>
  static int Wrong(const Picture& shot, F expected) {
    int wrong = 0;
    for (int y = 0; y < shot.height; y++)
      for (int x = 0; x < shot.width; x++) {
        uint32_t want = expected(x, y) | 0xFF000000u;
        if (shot.at(x, y) != want && wrong++ < 5)
          ADD_FAILURE() << "pixel " << x << "," << y << " is " << std::hex << shot.at(x, y) << " not " << want;
      }
    return wrong;
  }
  static uint32_t StageState(uint32_t stage, uint32_t type) {
    uint32_t v = 0;
    GraphicsDevice().device->GetTextureStageState(stage, type, &v);
    return v;
  }
  static uint32_t State(uint32_t rs) {
    uint32_t v = 0;
    GraphicsDevice().device->GetRenderState(rs, &v);
    return v;
  }
};

TEST_F(BlendImage, NarrowRangeDrawsWhereTheBlendAlphaReachesTheBorder) {
  Picture g = Pattern(48, 40, false, 3);
  Picture b = BlendPicture(48, 40);
  int graphic = Load(g, false), blend = Load(b, true);
  for (int border : {0, 100, 254}) {
    SCOPED_TRACE(border);
    ClearDrawTarget(nullptr);
    ASSERT_EQ(SetDrawBlendImage(blend, border, 0), 0);
    ASSERT_EQ(DrawGraphicAt(30, 20, graphic, 0), 0);
    SetDrawBlendImage(-1, 0, 0);
    EXPECT_EQ(Wrong(Screenshot(),
                    [&](int x, int y) -> uint32_t {
                      int ix = x - 30, iy = y - 20;
                      if (ix < 0 || iy < 0 || ix >= 48 || iy >= 40) return 0;
                      return (b.at(ix, iy) >> 24) >= uint32_t(border) ? g.at(ix, iy) : 0;
                    }),
              0);
  }
  // The same through a stretch to twice the size: the blend image stretches
  // with the graphic.
  ClearDrawTarget(nullptr);
  SetDrawBlendImage(blend, 128, 1);
  ASSERT_EQ(DrawGraphicStretched(100, 100, 196, 180, graphic, 0), 0);
  SetDrawBlendImage(-1, 0, 0);
  EXPECT_EQ(Wrong(Screenshot(),
                  [&](int x, int y) -> uint32_t {
                    int ix = (x - 100) / 2, iy = (y - 100) / 2;
                    if (x < 100 || y < 100 || x >= 196 || y >= 180) return 0;
                    return (b.at(ix, iy) >> 24) >= 128u ? g.at(ix, iy) : 0;
                  }),
            0);
  DeleteGraphic(graphic);
  DeleteGraphic(blend);
}

TEST_F(BlendImage, TransparentPartsStayOutEvenAtBorderZero) {
  Picture g = Pattern(32, 32, false, 5);
  for (int y = 0; y < 32; y++)
    for (int x = 0; x < 32; x++)
      if ((x / 4 + y / 4) % 2) g.at(x, y) = 0xFF000000u;  // the transparent colour
  Picture b = BlendPicture(32, 32);
  int graphic = Load(g, false), blend = Load(b, true);
  // A white background shows which pixels the draw left alone.
  SetDrawBlendImage(-1, 0, 0);
  DrawFilledBox(0, 0, 640, 480, GetColorCode(255, 255, 255));
  for (int border : {0, 90}) {
    SCOPED_TRACE(border);
    DrawFilledBox(0, 0, 100, 100, GetColorCode(255, 255, 255));
    SetDrawBlendImage(blend, border, 0);
    ASSERT_EQ(DrawGraphicAt(10, 10, graphic, 1), 0);
    SetDrawBlendImage(-1, 0, 0);
    EXPECT_EQ(Wrong(Screenshot(),
                    [&](int x, int y) -> uint32_t {
                      int ix = x - 10, iy = y - 10;
                      if (ix < 0 || iy < 0 || ix >= 32 || iy >= 32) return 0xFFFFFF;
                      uint32_t t = g.at(ix, iy);
                      bool keyed = (t & 0xFFFFFF) == 0;
                      uint32_t a = b.at(ix, iy) >> 24;
                      return (!keyed && a >= uint32_t(std::max(border, 1))) ? t : 0xFFFFFF;
                    }),
              0);
  }
  DeleteGraphic(graphic);
  DeleteGraphic(blend);
}

TEST_F(BlendImage, WiderRangesGiveASoftEdge) {
  Picture g = Pattern(64, 64, false, 9);
  Picture b = BlendPicture(64, 64);
  int graphic = Load(g, false), blend = Load(b, true);
  struct Case {
    int border, range;
  };
  // Each scale, each with the factor added and subtracted.
  for (Case c : {Case{40, 64}, Case{128, 64}, Case{60, 100}, Case{200, 100}, Case{100, 200}, Case{180, 255}}) {
    SCOPED_TRACE(testing::Message() << c.border << " / " << c.range);
    SoftEdge e = EdgeFor(c.border, c.range);
    ClearDrawTarget(nullptr);
    ASSERT_EQ(SetDrawBlendImage(blend, c.border, c.range), 0);
    ASSERT_EQ(DrawGraphicAt(200, 100, graphic, 0), 0);
    SetDrawBlendImage(-1, 0, 0);
    EXPECT_EQ(Wrong(Screenshot(),
                    [&](int x, int y) -> uint32_t {
                      int ix = x - 200, iy = y - 100;
                      if (ix < 0 || iy < 0 || ix >= 64 || iy >= 64) return 0;
                      uint32_t a = EdgeAlpha(e, b.at(ix, iy) >> 24), t = g.at(ix, iy);
                      // Alpha blending onto black.
                      return (D255(Ch(t, 2) * a) << 16) | (D255(Ch(t, 1) * a) << 8) | D255(Ch(t, 0) * a);
                    }),
              0);
  }
  // A white graphic on black shows the weight itself. Where the range gives
  // the device scale exactly (64, 128 or 256 levels), it follows the software
  // renderer's weight rule.
  Picture white{64, 64, std::vector<uint32_t>(64 * 64, 0xFFFFFFFFu)};
  int w = Load(white, false);
  for (Case c : {Case{40, 63}, Case{128, 63}, Case{60, 127}, Case{200, 127}, Case{100, 255}, Case{230, 255}}) {
    SCOPED_TRACE(testing::Message() << c.border << " / " << c.range);
    ClearDrawTarget(nullptr);
    SetDrawBlendImage(blend, c.border, c.range);
    DrawGraphicAt(0, 0, w, 0);
    SetDrawBlendImage(-1, 0, 0);
    Picture shot = Screenshot();
    int worst = 0;
    for (int y = 0; y < 64; y++)
      for (int x = 0; x < 64; x++) {
        int weight = SoftwareWeight(c.border, c.range, int(b.at(x, y) >> 24));
        worst = std::max(worst, std::abs(int(Ch(shot.at(x, y), 0)) - weight));
      }
    EXPECT_LE(worst, 6);
  }
  DeleteGraphic(w);
  DeleteGraphic(graphic);
  DeleteGraphic(blend);
}

TEST_F(BlendImage, StagesAndBorderAt255) {
  int graphic = Load(Pattern(16, 16, false, 2), false);
  int blend = Load(BlendPicture(16, 16), true);
  SetDrawBlendImage(blend, 40, 64);
  DrawGraphicAt(0, 0, graphic, 0);
  FlushVertexBatch();
  using namespace plat;
  GraphicRecord* br = GraphicHandleToRecord(blend);
  GraphicRecord* gr = GraphicHandleToRecord(graphic);
  Direct3DTexture9* t0 = nullptr;
  Direct3DTexture9* t1 = nullptr;
  GraphicsDevice().device->GetTexture(0, &t0);
  GraphicsDevice().device->GetTexture(1, &t1);
  EXPECT_EQ(t0, br->entries[0].tile->texture);
  EXPECT_EQ(t1, gr->entries[0].tile->texture);
  if (t0) t0->Release();
  if (t1) t1->Release();
  EXPECT_EQ(StageState(0, D3DTSS_TEXCOORDINDEX), 0u);
  EXPECT_EQ(StageState(1, D3DTSS_TEXCOORDINDEX), 1u);
  EXPECT_EQ(StageState(0, D3DTSS_ALPHAOP), uint32_t(D3DTOP_ADD));
  EXPECT_EQ(StageState(1, D3DTSS_ALPHAOP), uint32_t(D3DTOP_MODULATE4X));
  EXPECT_EQ(StageState(2, D3DTSS_COLOROP), uint32_t(D3DTOP_DISABLE));
  EXPECT_EQ(State(D3DRS_TEXTUREFACTOR), (uint32_t(EdgeFor(40, 64).factor) << 24) | 0xFFFFFFu);
  EXPECT_EQ(State(D3DRS_ALPHATESTENABLE), 0u);
  EXPECT_EQ(State(D3DRS_ALPHABLENDENABLE), 1u);
  // Border 255 with a narrow range: the pending quads are dropped, also
  // when more than one array's worth is queued.
  ClearDrawTarget(nullptr);
  SetDrawBlendImage(blend, 255, 0);
  for (int i = 0; i < 400; i++) DrawGraphicAt(i % 600, (i / 600) * 20, graphic, 0);
  SetDrawBlendImage(-1, 0, 0);
  Picture shot = Screenshot();
  EXPECT_EQ(std::count(shot.argb.begin(), shot.argb.end(), 0xFF000000u), 640 * 480);
  // A draw after the blend image is gone is plain again.
  DrawGraphicAt(0, 0, graphic, 0);
  EXPECT_NE(Screenshot().at(3, 3), 0xFF000000u);
  DeleteGraphic(graphic);
  DeleteGraphic(blend);
}

TEST_F(BlendImage, ABlendImageSurvivesADeviceRebuild) {
  Picture g = Pattern(40, 40, false, 12);
  Picture b = BlendPicture(40, 40);
  int graphic = Load(g, false), blend = Load(b, true);
  auto draw = [&] {
    ClearDrawTarget(nullptr);
    EXPECT_EQ(DrawGraphicAt(20, 30, graphic, 0), 0);
    return Screenshot();
  };
  ASSERT_EQ(SetDrawBlendImage(blend, 90, 100), 0);
  Picture before = draw();
  GraphicsDevice().device->SimulateDeviceLoss();
  ASSERT_EQ(RestoreGraphicsDeviceDefault(), 0);
  ASSERT_FALSE(GraphicsDevice().device->IsLost());
  EXPECT_EQ(Draw().blend_graphic, blend);
  Picture after = draw();
  int differ = 0;
  for (size_t i = 0; i < before.argb.size(); i++) differ += before.argb[i] != after.argb[i];
  EXPECT_EQ(differ, 0);
  SetDrawBlendImage(-1, 0, 0);
  DeleteGraphic(graphic);
  DeleteGraphic(blend);
}

TEST_F(BlendImage, RotatedAndQuadDrawsCarryTheBlendImage) {
  Picture g = Pattern(31, 31, false, 4);
  Picture b = BlendPicture(31, 31);
  int graphic = Load(g, false), blend = Load(b, true);
  auto expected = [&](int left, int top) {
    return [&, left, top](int x, int y) -> uint32_t {
      int ix = x - left, iy = y - top;
      if (ix < 0 || iy < 0 || ix >= 31 || iy >= 31) return 0;
      return (b.at(ix, iy) >> 24) >= 120u ? g.at(ix, iy) : 0;
    };
  };
  SetDrawBlendImage(blend, 120, 0);
  ASSERT_EQ(DrawGraphicRotated(100, 100, 1.0, 0.0, graphic, 0, 0), 0);
  EXPECT_EQ(Wrong(Screenshot(), expected(85, 85)), 0);
  ClearDrawTarget(nullptr);
  // An axis-aligned quad is the stretched draw on whole pixels.
  ASSERT_EQ(DrawGraphicQuadF(200.2f, 50.0f, 231.0f, 50.4f, 200.0f, 81.0f, 231.3f, 81.0f, graphic, 0), 0);
  EXPECT_EQ(Wrong(Screenshot(), expected(200, 50)), 0);
  ClearDrawTarget(nullptr);
  // A sheared quad keeps the blend image with the graphic: every pixel it
  // draws is a pixel of the graphic whose blend alpha passes.
  ASSERT_EQ(DrawGraphicQuadF(300, 300, 331, 300, 310, 331, 341, 331, graphic, 0), 0);
  SetDrawBlendImage(-1, 0, 0);
  Picture shot = Screenshot();
  int drawn = 0, foreign = 0;
  for (int y = 290; y < 340; y++)
    for (int x = 290; x < 350; x++) {
      uint32_t v = shot.at(x, y) & 0xFFFFFF;
      if (!v) continue;
      drawn++;
      int iy = y - 300, ix = x - 300 - (iy * 10) / 31;
      bool match = false;
      for (int dx = -1; dx <= 1 && !match; dx++) {
        int jx = ix + dx;
        if (jx >= 0 && jx < 31 && iy >= 0 && iy < 31)
          match = (g.at(jx, iy) & 0xFFFFFF) == v && (b.at(jx, iy) >> 24) >= 120u;
      }
      foreign += !match;
    }
  EXPECT_GT(drawn, 200);
  EXPECT_EQ(foreign, 0);
  DeleteGraphic(graphic);
  DeleteGraphic(blend);
}

}  // namespace
