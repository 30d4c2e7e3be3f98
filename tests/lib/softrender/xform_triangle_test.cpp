// The textured triangle's frame (which pixels are visited, which texel each
// takes, clipping, refusals) and the triangle without a source.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "tests/lib/softrender/xform_support.h"

namespace {

using namespace xformtest;

constexpr uint32_t kSentinel = 0x11111111;

// A 32-bit source whose texel (c, r) holds 0xFF000000 | r << 8 | c.
struct CoordSource {
  Image img;
  CoordSource(int w, int h) : img(w, h, kMemImg32) {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) img.Set(x, y, 0xFF000000u | uint32_t(y) << 8 | uint32_t(x));
  }
};

TriangleVertex V(int x, int y, int u = 0, int v = 0) { return {x, y, u, v}; }

// Which pixels a triangle visits, by a filled draw of mode 0 (every visited
// pixel in the clip rectangle is written).
std::vector<std::vector<int>> Visited(int w, int h, const TriangleVertex* t, IntRect clip) {
  Image d(w, h, kMemImg32);
  d.Fill(0);
  SetState(2, 255, 0xFFFFFF, clip);  // add 1 in blue: counts visits
  DrawMemImgTexturedTriangle(&d.m, nullptr, t, 0, nullptr, 0x000001);
  std::vector<std::vector<int>> rows(h, std::vector<int>(w));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) rows[y][x] = static_cast<int>(d.Get(x, y) & 0xFF);
  return rows;
}

// First and last visited column of a row, or {-1, -1}.
std::pair<int, int> Span(const std::vector<int>& row) {
  int first = -1, last = -1;
  for (int x = 0; x < static_cast<int>(row.size()); ++x)
    if (row[x] != 0) {
      if (first < 0) first = x;
      last = x;
    }
  return {first, last};
}

TEST(TriangleFrame, QuadOfTwoTrianglesCoversTheSourceOnce) {
  const TriangleVertex first[3] = {V(0, 0, 0, 0), V(10, 0, 10, 0), V(0, 10, 0, 10)};
  const TriangleVertex second[3] = {V(10, 0, 10, 0), V(0, 10, 0, 10), V(10, 10, 10, 10)};
  const IntRect all{0, 0, 16, 16};
  const auto a = Visited(16, 16, first, all);
  const auto b = Visited(16, 16, second, all);
  for (int k = 0; k < 10; ++k) {
    EXPECT_EQ(Span(a[k]), std::make_pair(0, 10 - k)) << "row " << k;
    EXPECT_EQ(Span(b[k]), std::make_pair(10 - k, 10)) << "row " << k;
  }
  EXPECT_EQ(Span(a[10]).first, -1);
  EXPECT_EQ(Span(b[10]).first, -1);

  // Textured: column 10 is visited but lies outside the source, so exactly
  // the 10 x 10 pixels change; the diagonal is blended twice.
  Image src(10, 10, kMemImg32);
  src.Fill(0x00000001);
  Image d(16, 16, kMemImg32);
  d.Fill(0);
  SetState(2, 255, 0xFFFFFF, all);
  DrawMemImgTexturedTriangle(&d.m, &src.m, first, 0, nullptr, 0);
  DrawMemImgTexturedTriangle(&d.m, &src.m, second, 0, nullptr, 0);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      const uint32_t expect = (x < 10 && y < 10) ? ((x + y == 10) ? 2u : 1u) : 0u;
      EXPECT_EQ(d.Get(x, y), expect) << x << "," << y;
    }
}

TEST(TriangleFrame, GeneralShapeRowsAndTexels) {
  CoordSource src(64, 64);
  const TriangleVertex t[3] = {V(0, 0, 0, 0), V(20, 2, 20, 2), V(21, 6, 21, 6)};
  const auto rows = Visited(32, 16, t, {0, 0, 32, 16});
  EXPECT_EQ(Span(rows[0]), std::make_pair(0, 0));  // the top vertex alone
  EXPECT_EQ(Span(rows[1]), std::make_pair(4, 10));
  EXPECT_EQ(Span(rows[2]), std::make_pair(7, 20));
  EXPECT_EQ(Span(rows[3]), std::make_pair(11, 20));
  EXPECT_EQ(Span(rows[4]), std::make_pair(14, 20));
  EXPECT_EQ(Span(rows[5]), std::make_pair(18, 21));
  EXPECT_EQ(Span(rows[6]).first, -1);
  // With u, v equal to x, y every visited pixel takes its own texel.
  Image d(32, 16, kMemImg32);
  d.Fill(kSentinel);
  SetState(0, 0, 0xFFFFFF, {0, 0, 32, 16});
  DrawMemImgTexturedTriangle(&d.m, &src.img.m, t, 0, nullptr, 0);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 32; ++x) {
      const uint32_t expect = rows[y][x] ? (0xFF000000u | uint32_t(y) << 8 | uint32_t(x)) : kSentinel;
      ASSERT_EQ(d.Get(x, y), expect) << x << "," << y;
    }
}

TEST(TriangleFrame, NegativeCoordinatesTruncateTowardZero) {
  // x = -1 lands on column 0, like x = 0.
  const TriangleVertex a[3] = {V(-1, 0), V(5, 0), V(-1, 6)};
  const auto ra = Visited(16, 16, a, {0, 0, 16, 16});
  EXPECT_EQ(Span(ra[0]), std::make_pair(0, 5));
  // A top vertex on row -2 starts on row -1 and keeps the shift: the bottom
  // vertex's row 6 is drawn.
  const TriangleVertex b[3] = {V(0, -2), V(8, -2), V(0, 6)};
  const auto rb = Visited(16, 16, b, {0, 0, 16, 16});
  for (int y = 0; y <= 6; ++y) EXPECT_EQ(Span(rb[y]), std::make_pair(0, 7 - y)) << y;
  EXPECT_EQ(Span(rb[7]).first, -1);
  // Middle vertex on the left on row 2 with the top above row 0: row 2 is
  // walked twice, the bottom's row 6 not at all.
  const TriangleVertex c[3] = {V(5, -3), V(0, 2), V(8, 6)};
  const auto rc = Visited(16, 16, c, {0, 0, 16, 16});
  int twice = 0;
  for (int x = 0; x < 16; ++x) twice += rc[2][x] == 2;
  EXPECT_GT(twice, 0);
  for (int y : {0, 1, 3, 4, 5})
    for (int x = 0; x < 16; ++x) EXPECT_LE(rc[y][x], 1) << x << "," << y;
  EXPECT_EQ(Span(rc[6]).first, -1);
}

TEST(TriangleFrame, ClippingKeepsTexelsOfTheClipColumn) {
  CoordSource src(32, 32);
  const TriangleVertex t[3] = {V(-4, 1, 0, 0), V(20, 3, 24, 2), V(2, 18, 6, 17)};
  Image whole(24, 24, kMemImg32), clipped(24, 24, kMemImg32);
  whole.Fill(kSentinel);
  clipped.Fill(kSentinel);
  SetState(0, 0, 0xFFFFFF, {0, 0, 24, 24});
  DrawMemImgTexturedTriangle(&whole.m, &src.img.m, t, 0, nullptr, 0);
  const IntRect clip{5, 4, 13, 9};
  SetState(0, 0, 0xFFFFFF, clip);
  DrawMemImgTexturedTriangle(&clipped.m, &src.img.m, t, 0, nullptr, 0);
  int drawn = 0;
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 24; ++x) {
      const bool in = x >= clip.left && x < clip.right && y >= clip.top && y < clip.bottom;
      EXPECT_EQ(clipped.Get(x, y), in ? whole.Get(x, y) : kSentinel) << x << "," << y;
      drawn += in && clipped.Get(x, y) != kSentinel;
    }
  EXPECT_GT(drawn, 20);
}

TEST(TriangleFrame, RefusalsDrawNothing) {
  CoordSource src(8, 8);
  const TriangleVertex t[3] = {V(0, 0, 0, 0), V(8, 0, 8, 0), V(0, 8, 0, 8)};
  const TriangleVertex line[3] = {V(0, 0, 0, 0), V(4, 4, 8, 0), V(8, 8, 0, 8)};
  for (uint32_t mode : {0u, 1u, 2u, 3u, 4u, 10u, 11u, 5u, 9u, 12u}) {
    Image d(16, 16, kMemImg32);
    d.Fill(kSentinel);
    SetState(mode, 128, 0xFFFFFF, {0, 0, 16, 16});
    DrawMemImgTexturedTriangle(&d.m, &src.img.m, line, 0, nullptr, 0);
    DrawMemImgTexturedTriangle(&d.m, nullptr, line, 0, nullptr, 0x123456);
    if (mode >= 5 && mode <= 12 && mode != 10 && mode != 11) {
      DrawMemImgTexturedTriangle(&d.m, &src.img.m, t, 0, nullptr, 0);
      DrawMemImgTexturedTriangle(&d.m, nullptr, t, 0, nullptr, 0x123456);
    }
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) ASSERT_EQ(d.Get(x, y), kSentinel) << mode;
  }
  SetState(0, 0, 0xFFFFFF, {0, 0, 16, 16});
  Image d16(16, 16, kMemImgRgb565), dpal(16, 16, kMemImg32, 1), dalpha(16, 16, kMemImg32, 0, 1);
  d16.Fill(0x1111);
  dpal.Fill(0x11);
  dalpha.Fill(kSentinel);
  DrawMemImgTexturedTriangle(&d16.m, &src.img.m, t, 0, nullptr, 0);
  DrawMemImgTexturedTriangle(&dpal.m, &src.img.m, t, 0, nullptr, 0);
  DrawMemImgTexturedTriangle(&dalpha.m, &src.img.m, t, 0, nullptr, 0);
  DrawMemImgTexturedTriangle(&dpal.m, nullptr, t, 0, nullptr, 5);
  DrawMemImgTexturedTriangle(&dalpha.m, nullptr, t, 0, nullptr, 5);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      EXPECT_EQ(d16.Get(x, y), 0x1111u);
      EXPECT_EQ(dpal.Get(x, y), 0x11u);
      EXPECT_EQ(dalpha.Get(x, y), kSentinel);
    }
}

// Inputs outside what the fixed point holds are refused instead of wrapping
// into garbage geometry or walking billions of rows; a blend image smaller
// than the source is refused instead of read past its rows; a clip rectangle
// reaching past the destination is cut to it.
TEST(TriangleFrame, UnsafeInputsAreRefusedOrContained) {
  CoordSource src(8, 8);
  Image d(16, 16, kMemImg32);
  d.Fill(kSentinel);
  SetState(0, 0, 0xFFFFFF, {0, 0, 16, 16});
  const TriangleVertex far[3] = {V(0, -9000, 0, 0), V(8, 0, 8, 0), V(0, 9000, 0, 8)};
  const TriangleVertex wrap[3] = {V(0, 0, 0, 0), V(16384 + 8, 0, 8, 0), V(0, 8, 0, 8)};
  DrawMemImgTexturedTriangle(&d.m, &src.img.m, far, 0, nullptr, 0);
  DrawMemImgTexturedTriangle(&d.m, &src.img.m, wrap, 0, nullptr, 0);
  DrawMemImgTexturedTriangle(&d.m, nullptr, far, 0, nullptr, 1);
  const TriangleVertex extreme[3] = {V(0, 0, 0, 0), V(INT32_MIN, INT32_MAX, 8, 0), V(INT32_MAX, 8, INT32_MIN, 8)};
  DrawMemImgTexturedTriangle(&d.m, &src.img.m, extreme, 0, nullptr, 0);
  DrawMemImgTexturedTriangle(&d.m, nullptr, extreme, 0, nullptr, 1);
  Image small_blend(4, 8, kMemImgByte);
  const TriangleVertex t[3] = {V(0, 0, 0, 0), V(8, 0, 8, 0), V(0, 8, 0, 8)};
  DrawMemImgTexturedTriangle(&d.m, &src.img.m, t, 0, &small_blend.m, 0);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) ASSERT_EQ(d.Get(x, y), kSentinel);
  Image wide(8200, 1, kMemImg32);
  DrawMemImgTexturedTriangle(&d.m, &wide.m, t, 0, nullptr, 0);
  EXPECT_EQ(d.Get(0, 0), kSentinel);

  // Clip rectangle larger than the destination: drawn up to the edge only.
  Image small(6, 6, kMemImg32);
  small.Fill(kSentinel);
  SetState(0, 0, 0xFFFFFF, {-10, -10, 100, 100});
  const TriangleVertex big[3] = {V(-20, -20, 0, 0), V(60, -20, 8, 0), V(-20, 60, 0, 8)};
  DrawMemImgTexturedTriangle(&small.m, nullptr, big, 0, nullptr, 0x00ABCDEF);
  EXPECT_EQ(small.Get(5, 5), 0x00ABCDEFu);
  EXPECT_EQ(small.Get(0, 0), 0x00ABCDEFu);
}

// ---- Triangle without a source ---------------------------------------------------

// The filled triangle's result per pixel, straight from the mode table.
uint32_t FillReference(bool is16, uint32_t mode, int64_t p, uint32_t bright, uint32_t colour, uint32_t d) {
  if (mode == 1 && p == 255) mode = 0;
  if (!is16) {
    int64_t k[4], dc[4], out[4];
    for (int c = 0; c < 4; ++c) {
      k[c] = (colour >> (8 * c)) & 0xFF;
      dc[c] = (d >> (8 * c)) & 0xFF;
    }
    for (int c = 0; c < 3; ++c) k[c] = k[c] * ((bright >> (8 * c)) & 0xFF) / 255;
    const uint32_t kw = uint32_t(k[0] | k[1] << 8 | k[2] << 16 | k[3] << 24);
    if (mode == 0) return kw;
    if (mode == 2 || mode == 3) {
      const uint32_t s = uint32_t(k[0] * p / 255 | (k[1] * p / 255) << 8 | (k[2] * p / 255) << 16);
      return mode == 2 ? RefAdd32(d, s) : RefSub32(d, s);
    }
    for (int c = 0; c < 3; ++c) {
      if (mode == 1) out[c] = (dc[c] * 256 + (k[c] - dc[c]) * p) >> 8;
      if (mode == 4) out[c] = (dc[c] * k[c]) >> 8;
      if (mode == 10) out[c] = (dc[c] * 256 + ((255 - k[c]) - dc[c]) * p) >> 8;
      if (mode == 11) {
        const int64_t t = (k[c] * dc[c]) >> 8;
        out[c] = (dc[c] * 256 + (t - dc[c]) * p) >> 8;
      }
    }
    return uint32_t(out[0] | out[1] << 8 | out[2] << 16) | (d & 0xFF000000u);
  }
  const int shift[3] = {0, 5, 11}, bits[3] = {5, 6, 5};
  const int64_t max[3] = {31, 63, 31};
  int64_t k[3], dc[3], out[3];
  for (int f = 0; f < 3; ++f) {
    k[f] = ((colour >> shift[f]) & max[f]) * ((bright >> (8 * f)) & 0xFF) / 255;
    dc[f] = (d >> shift[f]) & max[f];
  }
  const uint32_t kw = uint32_t(k[2] << 11 | k[1] << 5 | k[0]);
  if (mode == 0) return kw;
  if (mode == 2 || mode == 3) {
    const uint32_t s = uint32_t((k[2] * p / 255) << 11 | (k[1] * p / 255) << 5 | (k[0] * p / 255));
    return mode == 2 ? RefAdd16(d, s) : RefSub16(d, s);
  }
  for (int f = 0; f < 3; ++f) {
    int64_t target = k[f];
    if (mode == 4) {
      out[f] = (dc[f] * k[f]) >> bits[f];
      continue;
    }
    if (mode == 10) target = max[f] - k[f];
    if (mode == 11) target = (k[f] * dc[f]) >> bits[f];
    out[f] = dc[f] + (target - dc[f]) * p / 255;
  }
  return uint32_t(out[2] << 11 | out[1] << 5 | out[0]);
}

TEST(TriangleFill, EveryModeMatchesTheReference) {
  std::mt19937 rng(99);
  const TriangleVertex t[3] = {V(0, 0, 50, -7), V(12, 0, 3, 3), V(0, 12, 1000, 2)};
  for (int is16 = 0; is16 < 2; ++is16) {
    for (uint32_t mode : {0u, 1u, 2u, 3u, 4u, 10u, 11u}) {
      for (int p : {0, 1, 100, 255}) {
        for (uint32_t bright : {0xFFFFFFu, 0x000000u, 0x40A0FFu}) {
          const uint32_t colour = is16 ? (rng() & 0xFFFF) : rng();
          const auto visited = Visited(16, 16, t, {0, 0, 16, 16});
          Image d(16, 16, is16 ? kMemImgRgb565 : kMemImg32);
          std::vector<uint32_t> before(256);
          for (int i = 0; i < 256; ++i) {
            before[i] = is16 ? (rng() & 0xFFFF) : rng();
            d.Set(i % 16, i / 16, before[i]);
          }
          SetState(mode, p, bright, {0, 0, 16, 16});
          // The transparency flag and the blend image play no part.
          Image blend(16, 16, kMemImgByte);
          DrawMemImgTexturedTriangle(&d.m, nullptr, t, 1, &blend.m, colour);
          const bool draws = !((mode == 1 || mode == 2 || mode == 3) && p == 0);
          for (int i = 0; i < 256; ++i) {
            const int x = i % 16, y = i / 16;
            const uint32_t expect =
                draws && visited[y][x] ? FillReference(is16, mode, p, bright, colour, before[i]) : before[i];
            ASSERT_EQ(d.Get(x, y), expect) << "16-bit " << is16 << " mode " << mode << " p " << p << " bright "
                                           << std::hex << bright << " at " << std::dec << x << "," << y;
          }
        }
      }
    }
  }
}

TEST(TriangleFill, WorkedValues) {
  const TriangleVertex t[3] = {V(0, 0), V(4, 0), V(0, 4)};
  Image d(8, 8, kMemImg32);
  d.Fill(0x44332211);
  SetState(0, 0, 0xFFFFFF, {0, 0, 8, 8});
  DrawMemImgTexturedTriangle(&d.m, nullptr, t, 0, nullptr, 0xA1B2C3D4);
  EXPECT_EQ(d.Get(0, 0), 0xA1B2C3D4u);
  SetState(0, 0, 0x000000, {0, 0, 8, 8});
  DrawMemImgTexturedTriangle(&d.m, nullptr, t, 0, nullptr, 0xA1B2C3D4);
  EXPECT_EQ(d.Get(0, 0), 0xA1000000u);
  // Modes 10 and 11 at p = 0 leave the pixels; mode 4 ignores p.
  d.Fill(0x44332211);
  SetState(10, 0, 0xFFFFFF, {0, 0, 8, 8});
  DrawMemImgTexturedTriangle(&d.m, nullptr, t, 0, nullptr, 0x00FFFFFF);
  SetState(11, 0, 0xFFFFFF, {0, 0, 8, 8});
  DrawMemImgTexturedTriangle(&d.m, nullptr, t, 0, nullptr, 0x00FFFFFF);
  EXPECT_EQ(d.Get(1, 1), 0x44332211u);
  SetState(4, 0, 0xFFFFFF, {0, 0, 8, 8});
  DrawMemImgTexturedTriangle(&d.m, nullptr, t, 0, nullptr, 0x00808080);
  EXPECT_EQ(d.Get(1, 1), 0x44191108u);
  // 16-bit: only the low 16 bits of the colour count.
  Image d16(8, 8, kMemImgRgb565);
  d16.Fill(0);
  SetState(0, 0, 0xFFFFFF, {0, 0, 8, 8});
  DrawMemImgTexturedTriangle(&d16.m, nullptr, t, 0, nullptr, 0xFFFF1234);
  EXPECT_EQ(d16.Get(0, 0), 0x1234u);
}

}  // namespace
