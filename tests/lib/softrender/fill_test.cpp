// tests/lib/softrender/fill_test.cpp - the rectangle fill against a per-pixel
// reference in every blend mode, both formats, with and without the bright
// colour; rectangle order, clipping, refusals and the worked values.
#include <gtest/gtest.h>

#include <random>

#include "lib/softrender/soft_kernels.h"
#include "tests/lib/softrender/fill_line_reference.h"

using softtest::Image;
using softtest::SetState;

namespace {

constexpr uint32_t kWhite = 0xFFFFFF;
const uint32_t kModes[] = {0, 1, 2, 3, 4, 5, 9, 10, 11, 12, 0xFFFFFFFFu};
const int kParams[] = {0, 1, 64, 127, 128, 200, 254, 255};
const uint32_t kBrights[] = {kWhite, 0xFFFFFE, 0x80C040, 0x000000};

// Fills rect on a random image and compares every byte with the reference
// applied over the expected pixels.
void CheckFill(int format, uint32_t mode, int p, uint32_t bright, uint32_t colour, const IntRect* rect,
               IntRect clip, IntRect expect, uint32_t seed) {
  std::mt19937 rng(seed);
  Image img(23, 17, format);
  img.Randomise(rng);
  std::vector<uint8_t> before = img.Bytes();
  Image want(23, 17, format);
  std::memcpy(want.img.base->pixel_block, before.data(), before.size());
  for (int y = expect.top; y < expect.bottom; ++y) {
    for (int x = expect.left; x < expect.right; ++x) {
      uint32_t d = want.Get(x, y);
      want.Set(x, y, format == kMemImg32 ? reference::FillPixel32(d, colour, mode, p, bright)
                                         : reference::FillPixel16(d, colour, mode, p, bright));
    }
  }
  SetState(&img.img, mode, p, bright, clip);
  FillMemImgRect(&img.img, rect, colour);
  ASSERT_EQ(img.Bytes(), want.Bytes()) << "format " << format << " mode " << mode << " p " << p << " bright "
                                        << std::hex << bright << " colour " << colour;
}

TEST(FillMemImgRect, EveryModeParameterAndBrightMatchesReference) {
  uint32_t seed = 1;
  for (int format : {kMemImg32, kMemImgRgb565}) {
    for (uint32_t mode : kModes) {
      for (int p : kParams) {
        for (uint32_t bright : kBrights) {
          std::mt19937 rng(seed);
          uint32_t colour = format == kMemImg32 ? static_cast<uint32_t>(rng()) : rng() & 0xFFFF;
          IntRect rect{3, 2, 19, 13};
          CheckFill(format, mode, p, bright, colour, &rect, {0, 0, 23, 17}, rect, seed++);
        }
      }
    }
  }
}

TEST(FillMemImgRect, RectangleCornersInAnyOrderAndNullMeansWhole) {
  IntRect reversed{30, 40, 10, 20};
  CheckFill(kMemImg32, 0, 0, kWhite, 0x123456, &reversed, {0, 0, 23, 17}, {10, 17, 23, 17}, 5);
  IntRect mixed{15, 2, 4, 12};
  CheckFill(kMemImg32, 1, 100, kWhite, 0x00FF00, &mixed, {0, 0, 23, 17}, {4, 2, 15, 12}, 6);
  CheckFill(kMemImgRgb565, 2, 180, kWhite, 0x8410, nullptr, {2, 3, 20, 15}, {2, 3, 20, 15}, 7);
  // The reversed rectangle of the description lands on the same pixels as the ordered one.
  std::mt19937 rng(9);
  Image a(40, 45, kMemImg32), b(40, 45, kMemImg32);
  a.Randomise(rng);
  std::memcpy(b.img.base->pixel_block, a.Bytes().data(), a.Bytes().size());
  IntRect r1{30, 40, 10, 20}, r2{10, 20, 30, 40};
  SetState(&a.img, 2, 77, kWhite, {0, 0, 40, 45});
  FillMemImgRect(&a.img, &r1, 0x406080);
  SetState(&b.img, 2, 77, kWhite, {0, 0, 40, 45});
  FillMemImgRect(&b.img, &r2, 0x406080);
  EXPECT_EQ(a.Bytes(), b.Bytes());
}

TEST(FillMemImgRect, ClippedEmptyAndOutsideRectanglesDrawNothingBeyondTheClip) {
  IntRect reaching{-5, -5, 100, 8};
  CheckFill(kMemImg32, 0, 0, kWhite, 0xABCDEF, &reaching, {2, 1, 20, 16}, {2, 1, 20, 8}, 11);
  IntRect outside{30, 0, 40, 10};
  CheckFill(kMemImg32, 0, 0, kWhite, 0xABCDEF, &outside, {0, 0, 23, 17}, {0, 0, 0, 0}, 12);
  IntRect above{0, -20, 23, -1};
  CheckFill(kMemImgRgb565, 4, 0, kWhite, 0xFFFF, &above, {0, 0, 23, 17}, {0, 0, 0, 0}, 13);
  IntRect flat{5, 5, 5, 12}, thin{5, 5, 12, 5};
  CheckFill(kMemImg32, 0, 0, kWhite, 0xABCDEF, &flat, {0, 0, 23, 17}, {0, 0, 0, 0}, 14);
  CheckFill(kMemImg32, 0, 0, kWhite, 0xABCDEF, &thin, {0, 0, 23, 17}, {0, 0, 0, 0}, 15);
  // A clip rectangle left larger than the image is held to the image.
  CheckFill(kMemImgRgb565, 0, 0, kWhite, 0x1234, nullptr, {-10, -10, 500, 500}, {0, 0, 23, 17}, 16);
}

TEST(FillMemImgRect, PalettedAlphaAndOtherFormatsAreRefused) {
  std::mt19937 rng(3);
  for (auto [format, paletted, alpha] : {std::tuple{1, 1, 0}, {1, 0, 1}, {0, 0, 1}, {0, 1, 0}, {2, 0, 0}, {3, 0, 0}}) {
    Image img(10, 10, format, paletted, alpha);
    img.Randomise(rng);
    std::vector<uint8_t> before = img.Bytes();
    SetState(&img.img, 0, 255, kWhite, {0, 0, 10, 10});
    FillMemImgRect(&img.img, nullptr, 0x12345678);
    EXPECT_EQ(img.Bytes(), before) << format << paletted << alpha;
  }
}

uint32_t FillOne(int format, uint32_t dest, uint32_t colour, uint32_t mode, int p, uint32_t bright) {
  Image img(4, 1, format);
  img.Set(1, 0, dest);
  SetState(&img.img, mode, p, bright, {0, 0, 4, 1});
  IntRect r{1, 0, 2, 1};
  FillMemImgRect(&img.img, &r, colour);
  return img.Get(1, 0);
}

TEST(FillMemImgRect, WorkedValues32) {
  // Packed add and subtract, byte 3 as the carry and as 0.
  EXPECT_EQ(FillOne(1, 0x808080, 0x808080, 2, 255, kWhite), 0x1FFFFFFu);
  EXPECT_EQ(FillOne(1, 0x102030, 0x010101, 2, 255, kWhite), 0x112131u);
  EXPECT_EQ(FillOne(1, 0x808080, 0x808080, 3, 255, kWhite), 0x010100u);
  EXPECT_EQ(FillOne(1, 0x102030, 0x010101, 3, 255, kWhite), 0x11212Fu);
  EXPECT_EQ(FillOne(1, 0x101010, 0x202020, 3, 255, kWhite), 0u);
  // Mode 1 at 255 stores the whole word, at 0 changes nothing.
  EXPECT_EQ(FillOne(1, 0x11223344, 0xAABBCCDD, 1, 255, kWhite), 0xAABBCCDDu);
  EXPECT_EQ(FillOne(1, 0x11223344, 0xAABBCCDD, 1, 0, kWhite), 0x11223344u);
  // Mode 10 at 255: (255 * (255 - v) + d) >> 8.
  EXPECT_EQ(FillOne(1, 0x7F000010, 0x000000F0, 10, 255, kWhite), 0x7FFEFE0Fu);
  // Mode 4 with white: one step darker; byte 3 kept.
  EXPECT_EQ(FillOne(1, 0x5A80FF01, 0xFFFFFFFF, 4, 0, kWhite), 0x5A7FFE00u);
  // The bright colour scales by a shift: (255, 255, 254) turns white into 0xFEFEFD.
  EXPECT_EQ(FillOne(1, 0, 0xFFFFFF, 0, 0, 0xFFFFFE), 0xFEFEFDu);
}

TEST(FillMemImgRect, WorkedValues16) {
  EXPECT_EQ(FillOne(0, 0x8410, 0x8410, 2, 255, kWhite), 0xFFFFu);
  EXPECT_EQ(FillOne(0, 0x0841, 0x0841, 2, 255, kWhite), 0x0882u);
  EXPECT_EQ(FillOne(0, 0x0020, 0x0020, 2, 255, kWhite), 0x0020u);
  EXPECT_EQ(FillOne(0, 0x8410, 0x8410, 3, 255, kWhite), 0x0800u);
  EXPECT_EQ(FillOne(0, 0x07E0, 0x0020, 3, 255, kWhite), 0x0FC0u);
  EXPECT_EQ(FillOne(0, 0xFFFF, 0x0000, 3, 255, kWhite), 0xFFDFu);
  // Mode 10 at 255 stores exactly the inverted fields.
  EXPECT_EQ(FillOne(0, 0x1234, 0xF81F, 10, 255, kWhite), 0x07E0u);
  // A bright factor of 255 still lowers a full field when another factor is below 255.
  EXPECT_EQ(FillOne(0, 0, 0xFFFF, 0, 0, 0xFFFFFE), 0xF7DEu);
}

TEST(FillMemImgRect, SixteenBitRowsOfOddWidthAndColourHighBits) {
  // Width 5: five pixels and not one more; only the colour's low 16 bits are a pixel.
  Image img(8, 2, kMemImgRgb565);
  for (int x = 0; x < 8; ++x) img.Set(x, 0, 0x1111), img.Set(x, 1, 0x2222);
  SetState(&img.img, 0, 0, kWhite, {0, 0, 8, 2});
  IntRect r{1, 0, 6, 1};
  FillMemImgRect(&img.img, &r, 0xBEEF1234);
  for (int x = 0; x < 8; ++x) {
    EXPECT_EQ(img.Get(x, 0), (x >= 1 && x < 6) ? 0x1234u : 0x1111u) << x;
    EXPECT_EQ(img.Get(x, 1), 0x2222u) << x;
  }
}

}  // namespace
