// tests/lib/softrender/lines_test.cpp - lines and line lists: the pixels a
// line covers (first end point drawn, second not), clipping, the blend of
// each pixel against the fill's reference, and box outlines.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>
#include <set>
#include <utility>

#include "lib/softrender/soft_kernels.h"
#include "tests/lib/softrender/fill_line_reference.h"

using softtest::Image;
using softtest::SetState;

namespace {

constexpr uint32_t kWhite = 0xFFFFFF;
using Pixels = std::vector<std::pair<int, int>>;

// Pixel i of an unclipped line lies i steps along its major axis and
// floor(i * minor / major) steps along the minor one; the second end point is
// not drawn and a diagonal counts as x-major.
Pixels ExpectedPixels(int x1, int y1, int x2, int y2) {
  Pixels out;
  int ax = std::abs(x2 - x1), ay = std::abs(y2 - y1);
  int sx = x2 < x1 ? -1 : 1, sy = y2 < y1 ? -1 : 1;
  int major = std::max(ax, ay), minor = std::min(ax, ay);
  for (int i = 0; i < major; ++i) {
    int along = i, across = static_cast<int>(int64_t{i} * minor / major);
    if (ax >= ay) {
      out.push_back({x1 + sx * along, y1 + sy * across});
    } else {
      out.push_back({x1 + sx * across, y1 + sy * along});
    }
  }
  return out;
}

// Draws a line in mode 0 with colour 1 on a zeroed 32-bit image; the set of
// pixels it changed.
std::set<std::pair<int, int>> Drawn(int w, int h, IntRect clip, int x1, int y1, int x2, int y2) {
  Image img(w, h, kMemImg32);
  std::memset(img.img.base->pixel_block, 0, static_cast<size_t>(img.img.base->pitch) * h);
  SetState(&img.img, 0, 0, kWhite, clip);
  DrawMemImgLine(&img.img, x1, y1, x2, y2, 1);
  std::set<std::pair<int, int>> out;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      if (img.Get(x, y) != 0) out.insert({x, y});
    }
  }
  return out;
}

std::set<std::pair<int, int>> AsSet(const Pixels& p) { return {p.begin(), p.end()}; }

TEST(DrawMemImgLine, WorkedPixelSequences) {
  const IntRect clip{0, 0, 20, 20};
  Pixels row;
  for (int x = 5; x <= 14; ++x) row.push_back({x, 10});
  EXPECT_EQ(Drawn(20, 20, clip, 5, 10, 15, 10), AsSet(row));
  Pixels back;
  for (int x = 15; x >= 6; --x) back.push_back({x, 10});
  EXPECT_EQ(Drawn(20, 20, clip, 15, 10, 5, 10), AsSet(back));
  EXPECT_EQ(Drawn(20, 20, clip, 0, 0, 4, 2), AsSet({{0, 0}, {1, 0}, {2, 1}, {3, 1}}));
  EXPECT_EQ(Drawn(20, 20, clip, 4, 2, 0, 0), AsSet({{4, 2}, {3, 2}, {2, 1}, {1, 1}}));
  EXPECT_EQ(Drawn(20, 20, clip, 0, 0, 2, 4), AsSet({{0, 0}, {0, 1}, {1, 2}, {1, 3}}));
  EXPECT_EQ(Drawn(20, 20, clip, 0, 0, 3, 3), AsSet({{0, 0}, {1, 1}, {2, 2}}));
  EXPECT_TRUE(Drawn(20, 20, clip, 7, 7, 7, 7).empty());
  EXPECT_EQ(Drawn(20, 20, clip, 7, 7, 8, 7), AsSet({{7, 7}}));
}

TEST(DrawMemImgLine, ClippedEndPoints) {
  const IntRect clip{0, 0, 640, 480};
  Pixels right, left;
  for (int x = 5; x <= 639; ++x) right.push_back({x, 5});
  for (int x = 639; x >= 6; --x) left.push_back({x, 5});
  EXPECT_EQ(Drawn(640, 480, clip, 5, 5, 700, 5), AsSet(right));
  EXPECT_EQ(Drawn(640, 480, clip, 700, 5, 5, 5), AsSet(left));
  EXPECT_TRUE(Drawn(640, 480, clip, -10, 5, 0, 5).empty());
  // Bounding boxes that miss the clip rectangle.
  EXPECT_TRUE(Drawn(40, 40, {10, 10, 30, 30}, 0, 0, 9, 35).empty());
  EXPECT_TRUE(Drawn(40, 40, {10, 10, 30, 30}, 30, 0, 39, 39).empty());
  EXPECT_TRUE(Drawn(40, 40, {10, 10, 30, 30}, 0, 30, 39, 39).empty());
  // A vertical line cut at the top and bottom keeps its column.
  Pixels column;
  for (int y = 10; y <= 29; ++y) column.push_back({12, y});
  EXPECT_EQ(Drawn(40, 40, {10, 10, 30, 30}, 12, -100, 12, 100), AsSet(column));
}

TEST(DrawMemImgLine, ClippedDiagonalsFollowTheUnclippedLine) {
  const IntRect clip{0, 0, 10, 10};
  // Second point past the right edge: it moves to x = 10 on the line.
  EXPECT_EQ(Drawn(12, 12, clip, 5, 0, 15, 9), AsSet({{5, 0}, {6, 0}, {7, 1}, {8, 2}, {9, 3}}));
  // First point left of the clip: it moves to x = 0, y = trunc(4.5).
  EXPECT_EQ(Drawn(12, 12, clip, -5, 2, 5, 7), AsSet({{0, 4}, {1, 4}, {2, 5}, {3, 5}, {4, 6}}));
  // First point above the clip: y = 0, x = trunc(4.33).
  EXPECT_EQ(Drawn(12, 12, clip, 3, -4, 7, 8),
            AsSet({{4, 0}, {4, 1}, {4, 2}, {5, 3}, {5, 4}, {5, 5}, {6, 6}, {6, 7}}));
  // Second point below the clip: y = 10, x = trunc(4.67).
  EXPECT_EQ(Drawn(12, 12, clip, 2, 2, 6, 14),
            AsSet({{2, 2}, {2, 3}, {2, 4}, {2, 5}, {3, 6}, {3, 7}, {3, 8}, {3, 9}}));
}

TEST(DrawMemImgLine, RandomLinesStayInsideTheClipRectangle) {
  std::mt19937 rng(42);
  const IntRect clip{7, 5, 33, 29};
  for (int i = 0; i < 3000; ++i) {
    auto coord = [&]() { return static_cast<int>(rng() % 120) - 40; };
    int x1 = coord(), y1 = coord(), x2 = coord(), y2 = coord();
    for (auto [x, y] : Drawn(40, 36, clip, x1, y1, x2, y2)) {
      ASSERT_TRUE(x >= clip.left && x < clip.right && y >= clip.top && y < clip.bottom)
          << x1 << "," << y1 << " " << x2 << "," << y2 << " drew " << x << "," << y;
    }
    // A line inside the clip rectangle covers the exact pixel sequence.
    int ix1 = clip.left + static_cast<int>(rng() % 26), iy1 = clip.top + static_cast<int>(rng() % 24);
    int ix2 = clip.left + static_cast<int>(rng() % 26), iy2 = clip.top + static_cast<int>(rng() % 24);
    ASSERT_EQ(Drawn(40, 36, clip, ix1, iy1, ix2, iy2), AsSet(ExpectedPixels(ix1, iy1, ix2, iy2)));
  }
  // End points at the ends of the int range draw nothing outside either.
  for (auto [x1, y1, x2, y2] : {std::tuple{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX},
                                {INT32_MAX, 10, INT32_MIN, 20}, {20, INT32_MIN, 21, INT32_MAX}}) {
    for (auto [x, y] : Drawn(40, 36, clip, x1, y1, x2, y2)) {
      EXPECT_TRUE(x >= clip.left && x < clip.right && y >= clip.top && y < clip.bottom);
    }
  }
}

TEST(DrawMemImgLine, EveryModeBlendsLikeTheFill) {
  std::mt19937 rng(7);
  for (int format : {kMemImg32, kMemImgRgb565}) {
    for (uint32_t mode : {0u, 1u, 2u, 3u, 4u, 6u, 10u, 11u, 12u}) {
      for (int p : {0, 1, 128, 254, 255}) {
        for (uint32_t bright : {kWhite, 0x40FF80u}) {
          Image img(30, 20, format), want(30, 20, format);
          img.Randomise(rng);
          std::memcpy(want.img.base->pixel_block, img.Bytes().data(), img.Bytes().size());
          uint32_t colour = format == kMemImg32 ? static_cast<uint32_t>(rng()) : rng() & 0xFFFF;
          int x1 = static_cast<int>(rng() % 30), y1 = static_cast<int>(rng() % 20);
          int x2 = static_cast<int>(rng() % 30), y2 = static_cast<int>(rng() % 20);
          for (auto [x, y] : ExpectedPixels(x1, y1, x2, y2)) {
            uint32_t d = want.Get(x, y);
            want.Set(x, y, format == kMemImg32 ? reference::FillPixel32(d, colour, mode, p, bright)
                                               : reference::FillPixel16(d, colour, mode, p, bright));
          }
          SetState(&img.img, mode, p, bright, {0, 0, 30, 20});
          DrawMemImgLine(&img.img, x1, y1, x2, y2, colour);
          ASSERT_EQ(img.Bytes(), want.Bytes()) << format << " mode " << mode << " p " << p;
        }
      }
    }
  }
}

TEST(DrawMemImgLine, DestinationKinds) {
  // A 32-bit destination with an alpha channel is drawn like any other.
  Image alpha(10, 4, kMemImg32, 0, 1);
  std::memset(alpha.img.base->pixel_block, 0, static_cast<size_t>(alpha.img.base->pitch) * 4);
  SetState(&alpha.img, 0, 0, kWhite, {0, 0, 10, 4});
  DrawMemImgLine(&alpha.img, 0, 1, 10, 1, 0x80112233);
  for (int x = 0; x < 10; ++x) EXPECT_EQ(alpha.Get(x, 1), 0x80112233u);
  // A paletted destination would take 4-byte stores at 1-byte steps: refused.
  Image pal(10, 4, kMemImg32, 1, 0);
  std::memset(pal.img.base->pixel_block, 0, static_cast<size_t>(pal.img.base->pitch) * 4);
  SetState(&pal.img, 0, 0, kWhite, {0, 0, 10, 4});
  DrawMemImgLine(&pal.img, 0, 1, 10, 1, 0xFFFFFFFF);
  EXPECT_EQ(pal.Bytes(), std::vector<uint8_t>(static_cast<size_t>(pal.img.base->pitch) * 4, 0));
  // A 16-bit line stores the colour's low 16 bits.
  Image wide(6, 2, kMemImgRgb565);
  std::memset(wide.img.base->pixel_block, 0, static_cast<size_t>(wide.img.base->pitch) * 2);
  SetState(&wide.img, 0, 0, kWhite, {0, 0, 6, 2});
  DrawMemImgLine(&wide.img, 0, 0, 6, 0, 0xFFFF1234);
  for (int x = 0; x < 6; ++x) EXPECT_EQ(wide.Get(x, 0), 0x1234u);
  for (int x = 0; x < 6; ++x) EXPECT_EQ(wide.Get(x, 1), 0u);
}

// The four records of a box outline, as the software box draw builds them.
std::vector<MemImgLineRecord> BoxRecords(int l, int t, int r, int b, uint32_t colour, uint32_t spare) {
  return {{l, t, r - 1, t, colour, spare},
          {r - 1, t, r - 1, b - 1, colour, spare},
          {r - 1, b - 1, l, b - 1, colour, spare},
          {l, b - 1, l, t, colour, spare}};
}

TEST(DrawMemImgLineList, BoxOutlineBlendsEachBorderPixelOnce) {
  // Mode 2 adds: a pixel blended twice would show it.
  for (auto [l, t, r, b] : {std::tuple{2, 3, 12, 9}, {4, 4, 6, 6}, {0, 0, 16, 12}}) {
    Image img(16, 12, kMemImg32);
    for (int y = 0; y < 12; ++y) {
      for (int x = 0; x < 16; ++x) img.Set(x, y, 0x00101010);
    }
    SetState(&img.img, 2, 255, kWhite, {0, 0, 16, 12});
    auto recs = BoxRecords(l, t, r, b, 0x202020, 12345);
    DrawMemImgLineList(&img.img, recs.data(), 4);
    for (int y = 0; y < 12; ++y) {
      for (int x = 0; x < 16; ++x) {
        bool inside = x >= l && x < r && y >= t && y < b;
        bool border = inside && (x == l || x == r - 1 || y == t || y == b - 1);
        EXPECT_EQ(img.Get(x, y), border ? 0x00303030u : 0x00101010u) << x << "," << y;
      }
    }
  }
}

TEST(DrawMemImgLineList, BoxOutsideTheClipDrawsNothing) {
  Image img(20, 20, kMemImgRgb565);
  std::mt19937 rng(12);
  img.Randomise(rng);
  const std::vector<uint8_t> before = img.Bytes();
  for (uint32_t mode : {0u, 4u, 10u, 11u}) {
    SetState(&img.img, mode, 200, kWhite, {5, 5, 15, 15});
    for (auto [l, t, r, b] : {std::tuple{0, 0, 5, 5}, {15, 2, 19, 19}, {6, 15, 14, 20}, {-30, -30, -2, 40}}) {
      auto recs = BoxRecords(l, t, r, b, 0xFFFF, 0);
      DrawMemImgLineList(&img.img, recs.data(), 4);
    }
  }
  EXPECT_EQ(img.Bytes(), before);
}

TEST(DrawMemImgLineList, WidthOneBoxAndCounts) {
  Image img(8, 10, kMemImg32);
  for (int y = 0; y < 10; ++y) {
    for (int x = 0; x < 8; ++x) img.Set(x, y, 0x00101010);
  }
  SetState(&img.img, 2, 255, kWhite, {0, 0, 8, 10});
  auto recs = BoxRecords(3, 2, 4, 8, 0x101010, 0);
  std::vector<uint8_t> before = img.Bytes();
  DrawMemImgLineList(&img.img, recs.data(), 0);
  DrawMemImgLineList(&img.img, recs.data(), -1);
  DrawMemImgLineList(&img.img, nullptr, 4);
  EXPECT_EQ(img.Bytes(), before);
  DrawMemImgLineList(&img.img, recs.data(), 4);
  // Top and bottom records draw nothing; the sides both cover rows 3..6, and
  // each side also draws its own first end point once.
  for (int y = 0; y < 10; ++y) {
    uint32_t want = 0x00101010;
    if (y >= 3 && y <= 6) want = 0x00303030;
    if (y == 2 || y == 7) want = 0x00202020;
    EXPECT_EQ(img.Get(3, y), want) << y;
    EXPECT_EQ(img.Get(2, y), 0x00101010u);
    EXPECT_EQ(img.Get(4, y), 0x00101010u);
  }
}

}  // namespace
