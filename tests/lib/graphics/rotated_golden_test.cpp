// Rotated draws against a per-pixel reference written here: the corners
// placed about the centre, coverage by the pixel centres, bilinear samples of
// the texture, the stage and blend arithmetic of modes 1 and 2.
#include <algorithm>
#include <cmath>
#include <vector>

#include "tests/lib/graphics/graphic_support.h"

namespace {

using gtest_graphic::EncodePng;
using gtest_graphic::GraphicTest;
using gtest_graphic::Pattern;
using gtest_graphic::Picture;

uint32_t D255(uint32_t x) { return (x + 127) / 255; }
int Ch(uint32_t c, int i) { return int((c >> (8 * i)) & 255); }

class RotatedGolden : public GraphicTest {
 protected:
  int Load(const Picture& p, bool alpha) {
    std::vector<uint8_t> png = EncodePng(p, alpha);
    int h = ImageToGraphicWithOptions(png.data(), int(png.size()), nullptr, 0, 0, 0);
    EXPECT_NE(h, -1);
    return h;
  }
};

// The bilinear sample at texel coordinates (u, v) (texel centres at
// half-integers), clamped at the edges, weights in steps of 1/256.
uint32_t Bilinear(const Picture& p, double u, double v) {
  u -= 0.5;
  v -= 0.5;
  int x0 = int(std::floor(u)), y0 = int(std::floor(v));
  double fx = std::floor((u - x0) * 256) / 256, fy = std::floor((v - y0) * 256) / 256;
  auto at = [&](int x, int y) { return p.at(std::clamp(x, 0, p.width - 1), std::clamp(y, 0, p.height - 1)); };
  uint32_t out = 0;
  for (int i = 0; i < 4; i++) {
    double c = Ch(at(x0, y0), i) * (1 - fx) * (1 - fy) + Ch(at(x0 + 1, y0), i) * fx * (1 - fy) +
               Ch(at(x0, y0 + 1), i) * (1 - fx) * fy + Ch(at(x0 + 1, y0 + 1), i) * fx * fy;
    out |= uint32_t(std::floor(c + 0.5)) << (8 * i);
  }
  return out;
}

TEST_F(RotatedGolden, ThirtyDegreesBilinearInAlphaAndAdditiveModes) {
  const int S = 32;
  Picture sprite = Pattern(S, S, true, 17);
  int g = Load(sprite, true);
  const float kAngle = float(30.0 * 3.14159265358979323846 / 180.0);
  const int cx = 320, cy = 240, param = 200;
  const uint32_t background = 0xFF406080u;
  SetDrawFilterMode(1);
  for (int mode : {1, 2}) {
    SCOPED_TRACE(mode);
    SetBlendModeParam(0, 0);
    DrawFilledBox(0, 0, 640, 480, GetColorCode(0x40, 0x60, 0x80));
    SetBlendModeParam(mode, param);
    ASSERT_EQ(DrawGraphicRotated(cx, cy, 1.0, kAngle, g, 1, 0), 0);
    SetBlendModeParam(0, 0);
    Picture shot = Screenshot();
    // Corners: an even size at a whole pixel turns about (x - 0.5, y - 0.5)
    // with half size 16.
    float sn = std::sin(kAngle), cs = std::cos(kAngle);
    double vx[4], vy[4];
    const double gx[4] = {0, S, 0, S}, gy[4] = {0, 0, S, S};
    for (int k = 0; k < 4; k++) {
      float lx = float(gx[k]) - 16.0f, ly = float(gy[k]) - 16.0f;
      vx[k] = double((float(cx) - 0.5f) + cs * lx - sn * ly);
      vy[k] = double((float(cy) - 0.5f) + sn * lx + cs * ly);
    }
    // Inside the quad: on the inner side of its four edges, in order
    // top-left, top-right, bottom-right, bottom-left.
    const int ring[4] = {0, 1, 3, 2};
    int covered = 0, checked = 0, wrong = 0;
    for (int y = 200; y < 280; y++)
      for (int x = 280; x < 360; x++) {
        double least = 1e9;
        for (int e = 0; e < 4; e++) {
          int a = ring[e], b = ring[(e + 1) % 4];
          double ex = vx[b] - vx[a], ey = vy[b] - vy[a];
          double side = (ex * (y - vy[a]) - ey * (x - vx[a])) / std::hypot(ex, ey);
          least = std::min(least, side);
        }
        uint32_t got = shot.at(x, y);
        if (std::fabs(least) < 0.01) continue;  // a centre on an edge: either way is right
        checked++;
        uint32_t want = background;
        if (least > 0) {
          covered++;
          // Back to graphic coordinates.
          double dx = x - (cx - 0.5), dy = y - (cy - 0.5);
          double u = cs * dx + sn * dy + 16.0, v = -sn * dx + cs * dy + 16.0;
          uint32_t t = Bilinear(sprite, u, v);
          uint32_t a = D255(uint32_t(Ch(t, 3)) * param);
          want = 0xFF000000u;
          for (int i = 0; i < 3; i++) {
            uint32_t s = uint32_t(Ch(t, i)), d = uint32_t(Ch(background, i));
            uint32_t c = mode == 1 ? D255(s * a + d * (255 - a)) : std::min(255u, D255(s * a + d * 255));
            want |= c << (8 * i);
          }
        }
        int off = 0;
        for (int i = 0; i < 3; i++) off = std::max(off, std::abs(Ch(got, i) - Ch(want, i)));
        if (off > 2 && wrong++ < 5) ADD_FAILURE() << x << "," << y << " got " << std::hex << got << " want " << want;
      }
    EXPECT_EQ(wrong, 0);
    EXPECT_GT(covered, 900);
    EXPECT_GT(checked, 6000);
  }
  SetDrawFilterMode(0);
  DeleteGraphic(g);
}

TEST_F(RotatedGolden, EvenSizeAtAWholePixelLandsOnWholePixels) {
  Picture p = Pattern(32, 32, false, 6);
  int g = Load(p, false);
  ASSERT_EQ(DrawGraphicRotated(100, 100, 1.0, 0.0, g, 0, 0), 0);
  Picture shot = Screenshot();
  int wrong = 0;
  for (int y = 70; y < 130; y++)
    for (int x = 70; x < 130; x++) {
      int ix = x - 84, iy = y - 84;
      uint32_t want = (ix >= 0 && iy >= 0 && ix < 32 && iy < 32) ? p.at(ix, iy) : 0xFF000000u;
      wrong += shot.at(x, y) != want;
    }
  EXPECT_EQ(wrong, 0);
  DeleteGraphic(g);
}

// Without reverse-subtract blending, modes 3 and 9 invert the destination
// (INVDESTCOLOR, ZERO) and the blend operation is never sent.
TEST_F(RotatedGolden, InversionRowsWithoutReverseSubtract) {
  ShutdownGraphicsSystem();
  ResetGraphicsDeviceForTest();
  plat::D3DCAPS9 caps = plat::DefaultDeviceCaps();
  caps.PrimitiveMiscCaps = 0;
  plat::SetDeviceCapsOverride(&caps);
  ASSERT_EQ(ConfigureScreenMode(640, 480, 32, 60), 0);
  ASSERT_EQ(GraphicsSystemStart(), 0);
  SetDrawTarget(-2);
  int g = Load(Pattern(8, 8, false), false);
  using namespace plat;
  for (int mode : {9, 3}) {
    SCOPED_TRACE(mode);
    SetBlendModeParam(mode, 255);
    StartD3DRecording();
    if (mode == 9) DrawGraphicAt(4, 4, g, 0);
    else DrawFilledBox(0, 0, 4, 4, GetColorCode(255, 255, 255));
    FlushVertexBatch();
    std::vector<std::string> log = StopD3DRecording();
    uint32_t v = 0;
    GraphicsDevice().device->GetRenderState(D3DRS_SRCBLEND, &v);
    EXPECT_EQ(v, uint32_t(D3DBLEND_INVDESTCOLOR));
    GraphicsDevice().device->GetRenderState(D3DRS_DESTBLEND, &v);
    EXPECT_EQ(v, uint32_t(D3DBLEND_ZERO));
    for (const std::string& call : log)
      EXPECT_EQ(call.rfind("SetRenderState(" + std::to_string(D3DRS_BLENDOP) + ",", 0), std::string::npos) << call;
  }
  SetBlendModeParam(0, 0);
  DeleteGraphic(g);
  plat::SetDeviceCapsOverride(nullptr);
}

}  // namespace
