// Pixel-format records, colour packing and unpacking.
#include <gtest/gtest.h>

#include <cstring>

#include "lib/image/pixel_format.h"

namespace {

PixelFormatInfo Make(int depth, uint32_t r, uint32_t g, uint32_t b, uint32_t a) {
  PixelFormatInfo f;
  std::memset(&f, 0, sizeof(f));
  CreatePixelFormatInfoFromMasks(&f, depth, r, g, b, a);
  return f;
}

TEST(PixelFormat, MasksGiveShiftsWidthsAndUnusedBits) {
  PixelFormatInfo f = Make(16, 0x7C00, 0x03E0, 0x001F, 0);
  EXPECT_EQ(f.bytes_per_pixel, 2);
  EXPECT_EQ(f.shift_r, 10);
  EXPECT_EQ(f.width_r, 5);
  EXPECT_EQ(f.shift_g, 5);
  EXPECT_EQ(f.width_b, 5);
  EXPECT_EQ(f.width_a, 0);
  EXPECT_EQ(f.unused_mask, 0x8000u);
  EXPECT_EQ(f.unused_shift, 15);
  EXPECT_EQ(f.unused_width, 1);

  PixelFormatInfo full = Make(32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u);
  EXPECT_EQ(full.unused_mask, 0u);
  EXPECT_EQ(full.unused_shift, 0);
  EXPECT_EQ(full.unused_width, 0);
  EXPECT_EQ(full.shift_a, 24);

  PixelFormatInfo x8 = Make(32, 0xFF0000, 0xFF00, 0xFF, 0);
  EXPECT_EQ(x8.unused_mask, 0xFF000000u);
  EXPECT_EQ(x8.unused_shift, 24);
  EXPECT_EQ(x8.unused_width, 8);
}

TEST(PixelFormat, UnusedMaskFollowsChannelWidths) {
  PixelFormatInfo f = Make(16, 0xF800, 0x07E0, 0x001F, 0);
  f.unused_mask = 0x1234;
  SetPixelFormatInfoUnusedMask(&f);
  EXPECT_EQ(f.unused_mask, 0u);
  PixelFormatInfo g = Make(16, 0x7C00, 0x03E0, 0x001F, 0);
  g.unused_mask = 0;
  SetPixelFormatInfoUnusedMask(&g);
  EXPECT_EQ(g.unused_mask, 0x8000u);
}

TEST(PixelFormat, StandardFormats) {
  PixelFormatInfo f;
  std::memset(&f, 0x5A, sizeof(f));
  SetPixelFormatInfoGray8(&f);
  EXPECT_EQ(f.bit_depth, 8);
  EXPECT_EQ(f.bytes_per_pixel, 1);
  EXPECT_EQ(f.unused_mask, 0xFF000000u);
  EXPECT_EQ(f.palette[77].r, 77);
  EXPECT_EQ(f.palette[77].b, 77);
  EXPECT_EQ(f.palette[77].x, 0);
  EXPECT_EQ(f.compression, 0u);

  SetPixelFormatInfoRgb24(&f);
  EXPECT_EQ(f.bytes_per_pixel, 3);
  EXPECT_EQ(f.unused_mask, 0u);
  EXPECT_EQ(f.width_a, 0);

  SetPixelFormatInfoXrgb8(&f);
  EXPECT_EQ(f.unused_mask, 0xFF000000u);
  EXPECT_EQ(f.unused_shift, 24);
  EXPECT_EQ(f.unused_width, 8);

  SetPixelFormatInfoArgb8(&f);
  EXPECT_EQ(f.mask_a, 0xFF000000u);
  EXPECT_EQ(f.width_a, 8);
  EXPECT_EQ(f.unused_mask, 0u);
}

TEST(PixelFormat, DefaultFormatsOfSoftwareImages) {
  const PixelFormatInfo* f = GetDefaultPixelFormatInfo(0, 0, 0);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->bit_depth, 16);
  EXPECT_EQ(f->mask_g, 0x07E0u);
  EXPECT_EQ(GetDefaultPixelFormatInfo(0, 0, 0), f);  // shared, built once
  EXPECT_EQ(GetDefaultPixelFormatInfo(0, 1, 0)->bit_depth, 32);
  EXPECT_EQ(GetDefaultPixelFormatInfo(0, 1, 0)->mask_a, 0x00FF0000u);
  EXPECT_EQ(GetDefaultPixelFormatInfo(0, 0, 1)->bit_depth, 8);
  EXPECT_EQ(GetDefaultPixelFormatInfo(0, 0, 1)->bytes_per_pixel, 1);
  EXPECT_EQ(GetDefaultPixelFormatInfo(1, 0, 0)->bit_depth, 32);
  EXPECT_EQ(GetDefaultPixelFormatInfo(1, 0, 0)->unused_mask, 0xFF000000u);
  EXPECT_EQ(GetDefaultPixelFormatInfo(1, 1, 1)->bit_depth, 8);
  EXPECT_EQ(GetDefaultPixelFormatInfo(1, 1, 0)->mask_a, 0xFF000000u);
  const PixelFormatInfo* k2 = GetDefaultPixelFormatInfo(2, 1, 1);
  EXPECT_EQ(k2->bytes_per_pixel, 1);
  EXPECT_EQ(k2->mask_r, 0xFFu);
  EXPECT_EQ(k2->unused_mask, 0u);
  const PixelFormatInfo* k3 = GetDefaultPixelFormatInfo(3, 0, 0);
  EXPECT_EQ(k3->bytes_per_pixel, 2);
  EXPECT_EQ(k3->width_a, 16);
  EXPECT_EQ(k3->mask_b, 0xFFFFu);
  EXPECT_EQ(GetDefaultPixelFormatInfo(4, 0, 0), nullptr);
}

TEST(PixelFormat, PackingTruncatesAndSetsUnusedBits) {
  PixelFormatInfo x8;
  SetPixelFormatInfoXrgb8(&x8);
  EXPECT_EQ(GetPixelFormatInfoPixelCode(&x8, 1, 2, 3, 0), 0xFF010203u);
  PixelFormatInfo rgb565 = Make(16, 0xF800, 0x07E0, 0x001F, 0);
  EXPECT_EQ(GetPixelFormatInfoPixelCode(&rgb565, 255, 255, 255, 0), 0xFFFFu);
  EXPECT_EQ(GetPixelFormatInfoPixelCode(&rgb565, 0x0F, 0x07, 0x0F, 0), 0x0821u);  // truncation
  EXPECT_EQ(GetPixelFormatInfoPixelCode(&rgb565, 0x100 + 8, 0, 0, 0), 0x0800u);     // low 8 bits
  PixelFormatInfo a1 = Make(16, 0x7C00, 0x03E0, 0x001F, 0x8000);
  EXPECT_EQ(GetPixelFormatInfoPixelCode(&a1, 0, 0, 0, 128), 0x8000u);
  EXPECT_EQ(GetPixelFormatInfoPixelCode(&a1, 0, 0, 0, 127), 0u);
}

TEST(PixelFormat, PalettePackingPicksNearestLowestOnTie) {
  PixelFormatInfo p;
  std::memset(&p, 0, sizeof(p));
  SetPixelFormatInfoPal8(&p);
  for (auto& e : p.palette) e = PaletteEntry{0, 0, 200, 0};  // all far away
  p.palette[9] = PaletteEntry{10, 10, 10, 0};
  p.palette[4] = PaletteEntry{30, 30, 30, 0};
  // 20 is equally near to 10 and 30: the lower index wins.
  EXPECT_EQ(GetPixelFormatInfoPixelCode(&p, 20, 20, 20, 0), 4u);
  EXPECT_EQ(GetPixelFormatInfoPixelCode(&p, 12, 12, 12, 255), 9u);
}

TEST(PixelFormat, UnpackingRescales) {
  PixelFormatInfo rgb565 = Make(16, 0xF800, 0x07E0, 0x001F, 0);
  int r = -1, g = -1, b = -1, a = -1;
  GetPixelFormatInfoRgba(&rgb565, 0xF800, &r, &g, &b, &a);
  EXPECT_EQ(r, 255);
  EXPECT_EQ(g, 0);
  EXPECT_EQ(b, 0);
  EXPECT_EQ(a, 0);
  GetPixelFormatInfoRgba(&rgb565, 16u << 11, &r, nullptr, nullptr, nullptr);
  EXPECT_EQ(r, 131);

  PixelFormatInfo x8;
  SetPixelFormatInfoXrgb8(&x8);
  a = 77;
  GetPixelFormatInfoRgba(&x8, 0x00102030, &r, &g, &b, &a);
  EXPECT_EQ(r, 0x10);
  EXPECT_EQ(g, 0x20);
  EXPECT_EQ(b, 0x30);
  EXPECT_EQ(a, 77);  // no alpha channel: left unwritten

  PixelFormatInfo a2 = Make(32, 0xFF0000, 0xFF00, 0xFF, 0xC0000000u);
  GetPixelFormatInfoRgba(&a2, 0x40000000u, nullptr, nullptr, nullptr, &a);
  EXPECT_EQ(a, 85);

  // A channel of width 0 outside the 8-8-8 case reads as 0.
  PixelFormatInfo odd = Make(16, 0xF800, 0, 0x001F, 0);
  GetPixelFormatInfoRgba(&odd, 0xFFFF, &r, &g, &b, &a);
  EXPECT_EQ(g, 0);
  EXPECT_EQ(b, 255);
}

}  // namespace
