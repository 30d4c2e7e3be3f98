// The rotated and scaled blit: where the image lands, which texel each pixel
// takes, the mirrored form, clipping and refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "lib/core/math3d.h"
#include "lib/core/number_helpers.h"
#include "tests/lib/softrender/xform_support.h"

namespace {

using namespace xformtest;

constexpr uint32_t kSentinel = 0x11111111;

struct CoordSource {
  Image img;
  CoordSource(int w, int h) : img(w, h, kMemImg32) {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) img.Set(x, y, Texel(x, y));
  }
  static uint32_t Texel(int c, int r) { return 0xFF000000u | uint32_t(r) << 8 | uint32_t(c); }
};

struct Target {
  Image img;
  Target(int w, int h) : img(w, h, kMemImg32) { img.Fill(kSentinel); }
  // Expect pixel (x, y) to hold texel (c, r), or the sentinel when c or r is
  // outside the source.
  void Expect(int x, int y, int c, int r, int w, int h) {
    const uint32_t e = (c >= 0 && r >= 0 && c < w && r < h) ? CoordSource::Texel(c, r) : kSentinel;
    ASSERT_EQ(img.Get(x, y), e) << "pixel " << x << "," << y << " texel " << c << "," << r;
  }
};

void Plain(uint32_t mode = 0, IntRect clip = {0, 0, 64, 64}) { SetState(mode, 255, 0xFFFFFF, clip); }

TEST(Rotation, AngleZeroPlacesTheCentreTexel) {
  for (int w : {5, 6}) {
    CoordSource s(w, 3);
    Target t(32, 32);
    Plain();
    DrawMemImgRotation(&t.img.m, &s.img.m, 10, 12, 0.0f, 1.0f, 0, 0, nullptr);
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 32; ++x) t.Expect(x, y, (w >> 1) + x - 10, 1 + y - 12, w, 3);
    // The top-left texel lands at (x - W/2, y - H/2).
    EXPECT_EQ(t.img.Get(10 - (w >> 1), 11), CoordSource::Texel(0, 0));
  }
}

TEST(Rotation, NegativeScaleTurnsHalfWay) {
  CoordSource s(7, 4);
  Target t(32, 32);
  Plain();
  DrawMemImgRotation(&t.img.m, &s.img.m, 12, 12, 0.0f, -1.0f, 0, 0, nullptr);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) t.Expect(x, y, 3 - (x - 12), 2 - (y - 12), 7, 4);
}

TEST(Rotation, QuarterTurnIsExact) {
  // At a quarter turn the factors are exact: offset (dx, dy) from the centre
  // takes texel centre + (dy, -dx); the image turns clockwise on screen.
  CoordSource s(6, 4);
  Target t(32, 32);
  Plain();
  DrawMemImgRotation(&t.img.m, &s.img.m, 15, 15, 1.5707964f, 1.0f, 0, 0, nullptr);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) t.Expect(x, y, 3 + (y - 15), 2 - (x - 15), 6, 4);
}

TEST(Rotation, BlendImageTurnsWithTheSource) {
  // A striped blend image (weight 0 or 255 by column) under a quarter turn:
  // the stripes follow the source's columns.
  Image src(6, 4, kMemImg32);
  src.Fill(0x00FFFFFF);
  Image blend(6, 4, kMemImgByte);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) blend.Set(x, y, (x % 2) ? 255 : 0);
  BuildSoftBlendTables();
  BuildBlendImageWeightTable(128, 255);
  Image d(32, 32, kMemImg32);
  d.Fill(0);
  Plain();
  DrawMemImgRotation(&d.m, &src.m, 15, 15, 1.5707964f, 1.0f, 0, 0, &blend.m);
  for (int y = 13; y < 19; ++y) {
    const int column = 3 + (y - 15);
    const uint32_t expect = (column % 2) ? 0x00FEFEFEu : 0u;
    EXPECT_EQ(d.Get(15, y), expect) << y;
  }
}

TEST(Rotation, AnyAngleMapsBackNearTheTurnedPosition) {
  // Against the turn in floating point: every drawn pixel's texel lies
  // within a texel of the exact inverse mapping, and the drawn area is the
  // scaled image's area.
  const int w = 20, h = 12;
  CoordSource s(w, h);
  for (float angle : {0.3f, 1.0f, 2.5f, -0.7f}) {
    for (float scale : {1.0f, 1.5f, 0.75f}) {
      Target t(64, 64);
      Plain();
      DrawMemImgRotation(&t.img.m, &s.img.m, 32, 30, angle, scale, 0, 0, nullptr);
      int drawn = 0;
      const double c = std::cos(double(angle)), sn = std::sin(double(angle));
      for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
          const uint32_t v = t.img.Get(x, y);
          if (v == kSentinel) continue;
          ++drawn;
          const double dx = x - 32, dy = y - 30;
          const double u = (w >> 1) + (dx * c + dy * sn) / scale;
          const double vv = (h >> 1) + (-dx * sn + dy * c) / scale;
          const int col = int(v & 0xFF), row = int((v >> 8) & 0xFF);
          ASSERT_LE(std::fabs(col + 0.5 - u), 1.5) << angle << " " << scale << " at " << x << "," << y;
          ASSERT_LE(std::fabs(row + 0.5 - vv), 1.5) << angle << " " << scale << " at " << x << "," << y;
        }
      const double area = w * h * double(scale) * double(scale);
      EXPECT_NEAR(drawn, area, area * 0.12) << angle << " " << scale;
    }
  }
}

TEST(Rotation, RowStartsRoundTheScaledQuotientOnce) {
  // Far from the centre the 14.18 product has more bits than a float holds;
  // its quotient by the scale is rounded once to single precision. In these
  // cases that decides the texel of the box's first pixel, which a float
  // product divided would move to the next column. A one-pixel clip
  // rectangle inside the turned image makes that pixel the box.
  struct Case {
    float angle, scale;
    int dx, dy;
  };
  const int w = 200, h = 200, x = 100, y = 70;
  CoordSource s(w, h);
  for (const Case& k : {Case{-0.69f, 1.5f, -65, 32}, Case{0.129000068f, 1.9f, -75, 76}}) {
    float sn, cs;
    SinCosF(-k.angle, &sn, &cs);
    const int64_t sb = FloatToInt(sn * 262144.0f), cb = FloatToInt(cs * 262144.0f);
    auto column = [&](bool once) {
      const int64_t num = k.dx * cb - k.dy * sb;
      const float q = once ? float((long double)num / (long double)k.scale) : float(num) / k.scale;
      return int((FloatToInt(q) + ((w >> 1) << 18)) >> 18);
    };
    const float qv = float((long double)(k.dy * cb + k.dx * sb) / (long double)k.scale);
    const int row = int((FloatToInt(qv) + ((h >> 1) << 18)) >> 18);
    ASSERT_NE(column(true), column(false)) << k.angle;
    Target t(160, 160);
    const IntRect clip{x + k.dx, y + k.dy, x + k.dx + 1, y + k.dy + 1};
    Plain(0, clip);
    DrawMemImgRotation(&t.img.m, &s.img.m, x, y, k.angle, k.scale, 0, 0, nullptr);
    EXPECT_EQ(t.img.Get(clip.left, clip.top), CoordSource::Texel(column(true), row)) << k.angle;
  }
}

TEST(Rotation, TurnFlagMirrorsLeftToRight) {
  CoordSource s(8, 6);
  Target t(32, 32);
  Plain();
  DrawMemImgRotation(&t.img.m, &s.img.m, 10, 10, 0.0f, 1.0f, 0, 1, nullptr);
  // Columns 7..14 take texel columns 7..0; rows 7..12 rows 0..5.
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) t.Expect(x, y, 14 - x, y - 7, 8, 6);
  // At a half turn the mirror runs the other way round: texel column 0 on the
  // left, texel rows rising upwards. Pixels sample at their top-left corner,
  // so the row that meets the source's top edge falls on the excluded bottom
  // row of the triangles.
  Target u(32, 32);
  DrawMemImgRotation(&u.img.m, &s.img.m, 10, 10, 3.14159265f, 1.0f, 0, 1, nullptr);
  EXPECT_EQ(u.img.Get(6, 12), CoordSource::Texel(0, 1));
  EXPECT_EQ(u.img.Get(13, 8), CoordSource::Texel(7, 5));
  EXPECT_EQ(u.img.Get(6, 13), kSentinel);
}

TEST(Rotation, ScaleZeroDrawsNothing) {
  CoordSource s(8, 8);
  for (int turn : {0, 1}) {
    Target t(32, 32);
    Plain();
    DrawMemImgRotation(&t.img.m, &s.img.m, 10, 10, 0.4f, 0.0f, 0, turn, nullptr);
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 32; ++x) ASSERT_EQ(t.img.Get(x, y), kSentinel) << turn;
  }
}

TEST(Rotation, ClippedToTheClipRectangle) {
  CoordSource s(10, 10);
  for (int turn : {0, 1}) {
    Target whole(32, 32), part(32, 32), none(32, 32);
    Plain();
    DrawMemImgRotation(&whole.img.m, &s.img.m, 12, 12, 0.5f, 1.2f, 0, turn, nullptr);
    const IntRect clip{9, 3, 15, 14};
    Plain(0, clip);
    DrawMemImgRotation(&part.img.m, &s.img.m, 12, 12, 0.5f, 1.2f, 0, turn, nullptr);
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 32; ++x) {
        const bool in = x >= clip.left && x < clip.right && y >= clip.top && y < clip.bottom;
        ASSERT_EQ(part.img.Get(x, y), in ? whole.img.Get(x, y) : kSentinel) << x << "," << y;
      }
    Plain(0, {0, 0, 32, 32});
    DrawMemImgRotation(&none.img.m, &s.img.m, 60, 12, 0.5f, 1.0f, 0, turn, nullptr);
    DrawMemImgRotation(&none.img.m, &s.img.m, -20, -20, 0.5f, 1.0f, 0, turn, nullptr);
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 32; ++x) ASSERT_EQ(none.img.Get(x, y), kSentinel);
  }
}

TEST(Rotation, RefusalsDrawNothing) {
  CoordSource s(8, 8);
  Image d16(32, 32, kMemImgRgb565), dpal(32, 32, kMemImg32, 1), dalpha(32, 32, kMemImg32, 0, 1);
  d16.Fill(0x1111);
  dpal.Fill(0x11);
  dalpha.Fill(kSentinel);
  Plain();
  for (int turn : {0, 1}) {
    DrawMemImgRotation(&d16.m, &s.img.m, 10, 10, 0.0f, 1.0f, 0, turn, nullptr);
    DrawMemImgRotation(&dpal.m, &s.img.m, 10, 10, 0.0f, 1.0f, 0, turn, nullptr);
    DrawMemImgRotation(&dalpha.m, &s.img.m, 10, 10, 0.0f, 1.0f, 0, turn, nullptr);
  }
  Target t(32, 32);
  for (uint32_t mode : {5u, 6u, 7u, 8u, 9u, 12u}) {
    Plain(mode);
    DrawMemImgRotation(&t.img.m, &s.img.m, 10, 10, 0.0f, 1.0f, 0, 0, nullptr);
    DrawMemImgRotation(&t.img.m, &s.img.m, 10, 10, 0.0f, 1.0f, 0, 1, nullptr);
  }
  // Beyond the fixed point's range, or not a number: refused rather than
  // wrapped onto the screen.
  Plain();
  DrawMemImgRotation(&t.img.m, &s.img.m, 16384 + 10, 10, 0.0f, 1.0f, 0, 0, nullptr);
  DrawMemImgRotation(&t.img.m, &s.img.m, 10, 10, NAN, 1.0f, 0, 0, nullptr);
  DrawMemImgRotation(&t.img.m, &s.img.m, 10, 10, 0.0f, INFINITY, 0, 0, nullptr);
  Image small_blend(4, 4, kMemImgByte);
  DrawMemImgRotation(&t.img.m, &s.img.m, 10, 10, 0.0f, 1.0f, 0, 0, &small_blend.m);
  DrawMemImgRotation(&t.img.m, &s.img.m, 10, 10, 0.0f, 1.0f, 0, 1, &small_blend.m);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) {
      ASSERT_EQ(d16.Get(x, y), 0x1111u);
      ASSERT_EQ(dpal.Get(x, y), 0x11u);
      ASSERT_EQ(dalpha.Get(x, y), kSentinel);
      ASSERT_EQ(t.img.Get(x, y), kSentinel);
    }
  // A large scale fills the clip rectangle and stays inside it; one whose
  // corners leave the fixed point's range draws nothing.
  Plain(0, {2, 2, 30, 30});
  DrawMemImgRotation(&t.img.m, &s.img.m, 10, 10, 0.2f, 1.0e6f, 0, 0, nullptr);
  EXPECT_EQ(t.img.Get(10, 10), kSentinel);
  DrawMemImgRotation(&t.img.m, &s.img.m, 10, 10, 0.2f, 100.0f, 0, 0, nullptr);
  EXPECT_EQ(t.img.Get(1, 1), kSentinel);
  EXPECT_NE(t.img.Get(10, 10), kSentinel);
}

TEST(Rotation, RotaSetupDrawsTheCornersAsTwoTriangles) {
  CoordSource s(8, 6);
  Target t(32, 32);
  Plain();
  // An upright quad: corners top-left, top-right, bottom-left, bottom-right.
  const int32_t corners[8] = {4, 5, 12, 5, 4, 11, 12, 11};
  DrawMemImgRotaSetup(&t.img.m, &s.img.m, corners, 0, nullptr);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) t.Expect(x, y, x - 4, y - 5, 8, 6);
  // Corners wholly outside the clip rectangle: nothing.
  Target u(32, 32);
  const int32_t outside[8] = {40, 40, 48, 40, 40, 46, 48, 46};
  DrawMemImgRotaSetup(&u.img.m, &s.img.m, outside, 0, nullptr);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) ASSERT_EQ(u.img.Get(x, y), kSentinel);
}

}  // namespace
