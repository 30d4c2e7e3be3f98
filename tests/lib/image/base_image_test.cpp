// Base images: creation, sizes, pixel access, mirror, turn, mip halving and
// rectangle copies.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "lib/core/memory.h"
#include "lib/image/base_image.h"

namespace {

struct Image {
  BaseImage im;
  Image() { std::memset(&im, 0, sizeof(im)); }
  ~Image() { FreeBaseImagePixels(&im); }
  BaseImage* operator->() { return &im; }
  BaseImage* get() { return &im; }
};

TEST(BaseImage, CreatorsRoundPitchAndCopyTheFormat) {
  PixelFormatInfo rgb;
  std::memset(&rgb, 0, sizeof(rgb));
  SetPixelFormatInfoRgb24(&rgb);
  rgb.palette[3].r = 99;
  Image a;
  ASSERT_EQ(CreateBaseImageLike(3, 2, &rgb, a.get()), 0);
  EXPECT_EQ(a->pitch, 12);
  EXPECT_EQ(a->format.palette[3].r, 99);
  EXPECT_EQ(GetBaseImageDataSize(a.get()), 24u);

  Image b;
  ASSERT_EQ(CreateArgb8BaseImage(5, 3, b.get()), 0);
  EXPECT_EQ(b->pitch, 20);
  EXPECT_EQ(b->format.mask_a, 0xFF000000u);
  Image c;
  ASSERT_EQ(CreateXrgb8BaseImage(5, 3, c.get()), 0);
  EXPECT_EQ(c->format.unused_mask, 0xFF000000u);

  Image bad;
  EXPECT_EQ(CreateArgb8BaseImage(-1, 3, bad.get()), -1);
  EXPECT_EQ(bad->pixels, nullptr);
  EXPECT_EQ(CreateArgb8BaseImage(0x7FFFFFFF, 0x7FFFFFFF, bad.get()), -1);

  FreeBaseImagePixels(b.get());
  EXPECT_EQ(b->width, 0);
  EXPECT_EQ(b->pixels, nullptr);
}

TEST(BaseImage, DataSizeCountsMipLevelsByRealBlockSize) {
  BaseImage im;
  std::memset(&im, 0, sizeof(im));
  SetPixelFormatInfoArgb8(&im.format);
  im.format.compression = kCompressionDxt1;
  im.width = 8;
  im.height = 8;
  im.mip_count = 3;
  EXPECT_EQ(GetBaseImageDataSize(&im), 32u + 8 + 8);
  im.format.compression = kCompressionDxt3;
  im.mip_count = 4;
  EXPECT_EQ(GetBaseImageDataSize(&im), 64u + 16 + 16 + 16);
  im.mip_count = 0;
  im.width = 6;  // partial blocks count whole
  im.height = 5;
  EXPECT_EQ(GetBaseImageDataSize(&im), 4u * 16);
  im.format.compression = 0;
  im.width = 4;
  im.height = 4;
  im.pitch = 16;
  im.mip_count = 3;
  EXPECT_EQ(GetBaseImageDataSize(&im), 64u + 16 + 4);
}

TEST(BaseImage, PixelReadAndWrite) {
  PixelFormatInfo rgb565;
  std::memset(&rgb565, 0, sizeof(rgb565));
  CreatePixelFormatInfoFromMasks(&rgb565, 16, 0xF800, 0x07E0, 0x001F, 0);
  Image a;
  ASSERT_EQ(CreateBaseImageLike(3, 3, &rgb565, a.get()), 0);
  ASSERT_EQ(SetBaseImagePixel(a.get(), 2, 1, 255, 0, 0, 0), 0);
  EXPECT_EQ(GetBaseImagePixel(a.get(), 2, 1), 0x00F80000u);  // low bits stay 0
  int r = 0, g = 0, b = 0, al = 0;
  ASSERT_EQ(GetBaseImagePixelColor(a.get(), 2, 1, &r, &g, &b, &al), 0);
  EXPECT_EQ(r, 255);
  EXPECT_EQ(g, 0);
  EXPECT_EQ(SetBaseImagePixel(a.get(), 3, 0, 1, 1, 1, 1), -1);
  EXPECT_EQ(SetBaseImagePixel(a.get(), -1, 0, 1, 1, 1, 1), -1);
  EXPECT_EQ(GetBaseImagePixelColor(a.get(), 0, 3, &r, &g, &b, &al), -1);

  Image c;  // 24-bit pixels: low 16 bits, then bits 16-23
  PixelFormatInfo rgb;
  SetPixelFormatInfoRgb24(&rgb);
  ASSERT_EQ(CreateBaseImageLike(2, 1, &rgb, c.get()), 0);
  SetBaseImagePixel(c.get(), 1, 0, 0x11, 0x22, 0x33, 0);
  EXPECT_EQ(c->pixels[3], 0x33);
  EXPECT_EQ(c->pixels[5], 0x11);
  al = -5;
  GetBaseImagePixelColor(c.get(), 1, 0, &r, &g, &b, &al);
  EXPECT_EQ(al, 255);

  Image p;  // paletted: colours come from the palette
  PixelFormatInfo gray;
  SetPixelFormatInfoGray8(&gray);
  ASSERT_EQ(CreateBaseImageLike(2, 2, &gray, p.get()), 0);
  SetBaseImagePixel(p.get(), 1, 1, 40, 40, 40, 0);
  EXPECT_EQ(p->pixels[p->pitch + 1], 40);
  GetBaseImagePixelColor(p.get(), 1, 1, &r, &g, &b, &al);
  EXPECT_EQ(g, 40);
  EXPECT_EQ(al, 0);
}

TEST(BaseImage, MirrorTurnAndClear) {
  Image a;
  ASSERT_EQ(CreateArgb8BaseImage(3, 3, a.get()), 0);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) SetBaseImagePixel(a.get(), x, y, x, y, 0, 255);
  ASSERT_EQ(RotateBaseImage180(a.get()), 0);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) {
      uint32_t p = GetBaseImagePixel(a.get(), x, y);
      EXPECT_EQ((p >> 16) & 255, static_cast<uint32_t>(2 - x));  // middle row reversed too
      EXPECT_EQ((p >> 8) & 255, static_cast<uint32_t>(2 - y));
    }
  ASSERT_EQ(FlipBaseImageHorizontal(a.get()), 0);
  EXPECT_EQ((GetBaseImagePixel(a.get(), 0, 0) >> 16) & 255, 0u);
  ASSERT_EQ(ClearBaseImageRect(a.get(), 1, 1, 5, 5), 0);  // clipped to the image
  EXPECT_EQ(GetBaseImagePixel(a.get(), 2, 2), 0u);
  EXPECT_NE(GetBaseImagePixel(a.get(), 0, 2), 0u);

  Image empty;
  EXPECT_EQ(FlipBaseImageHorizontal(empty.get()), -1);
  Image dxt;
  SetPixelFormatInfoArgb8(&dxt->format);
  dxt->format.compression = kCompressionDxt5;
  EXPECT_EQ(RotateBaseImage180(dxt.get()), -1);
}

TEST(BaseImage, MipHalving) {
  PixelFormatInfo argb;
  SetPixelFormatInfoArgb8(&argb);
  const uint32_t src[4] = {0x10203040, 0x30405060, 0x50607080, 0x70809000};
  uint32_t dst[2] = {0, 0};
  EXPECT_EQ(HalveImageForMipMap(&argb, dst, 4, src, 8, 3, 2), -1);
  ASSERT_EQ(HalveImageForMipMap(&argb, dst, 4, src, 8, 2, 2), 0);
  EXPECT_EQ(dst[0], 0x40506048u);
  ASSERT_EQ(HalveImageForMipMap(&argb, dst, 4, src, 16, 4, 1), 0);
  EXPECT_EQ(dst[0], 0x20304050u);
  EXPECT_EQ(dst[1], 0x60708040u);
  ASSERT_EQ(HalveImageForMipMap(&argb, dst, 4, src, 4, 1, 2), 0);
  EXPECT_EQ(dst[0], 0x20304050u);
  ASSERT_EQ(HalveImageForMipMap(&argb, dst, 4, src + 3, 4, 1, 1), 0);
  EXPECT_EQ(dst[0], 0x70809000u);
}

TEST(BaseImage, RectCopyChecksScalesAndConverts) {
  Image s, d;
  ASSERT_EQ(CreateArgb8BaseImage(2, 2, s.get()), 0);
  ASSERT_EQ(CreateArgb8BaseImage(4, 4, d.get()), 0);
  SetBaseImagePixel(s.get(), 0, 0, 0, 0, 0, 255);
  SetBaseImagePixel(s.get(), 1, 0, 200, 0, 0, 255);
  SetBaseImagePixel(s.get(), 0, 1, 0, 200, 0, 255);
  SetBaseImagePixel(s.get(), 1, 1, 0, 0, 200, 255);
  EXPECT_EQ(CopyBaseImageRect(0, 0, 0, 2, s.get(), 0, 0, 4, 4, d.get(), 0), -1);
  EXPECT_EQ(CopyBaseImageRect(0, 0, 2, 2, s.get(), 0, 0, 5, 4, d.get(), 0), -1);
  ASSERT_EQ(CopyBaseImageRect(0, 0, 2, 2, s.get(), 0, 0, 4, 4, d.get(), 0), 0);
  EXPECT_EQ(GetBaseImagePixel(d.get(), 1, 1), 0xFF000000u);
  EXPECT_EQ(GetBaseImagePixel(d.get(), 3, 0), 0xFFC80000u);
  EXPECT_EQ(GetBaseImagePixel(d.get(), 3, 3), 0xFF0000C8u);
  ASSERT_EQ(CopyBaseImageRect(0, 0, 2, 2, s.get(), 0, 0, 4, 4, d.get(), 1), 0);
  // (1, 0) samples halfway between red 200 and black: 65535 weights give 99.
  EXPECT_EQ((GetBaseImagePixel(d.get(), 1, 0) >> 16) & 255, 99u);
  // Beyond the right edge the edge pixel repeats.
  EXPECT_EQ((GetBaseImagePixel(d.get(), 3, 0) >> 16) & 255, 199u);

  // Same size: converted through the blit into another format, clipped.
  Image g;
  PixelFormatInfo rgb565;
  std::memset(&rgb565, 0, sizeof(rgb565));
  CreatePixelFormatInfoFromMasks(&rgb565, 16, 0xF800, 0x07E0, 0x001F, 0);
  ASSERT_EQ(CreateBaseImageLike(10, 2, &rgb565, g.get()), 0);
  std::memset(g->pixels, 0, g->pitch * 2);
  Image big;
  ASSERT_EQ(CreateArgb8BaseImage(10, 1, big.get()), 0);
  for (int x = 0; x < 10; ++x) SetBaseImagePixel(big.get(), x, 0, 255, 255, 255, 255);
  ASSERT_EQ(CopyBaseImageArea(-3, 0, 10, 1, 0, 1, big.get(), g.get()), 0);
  for (int x = 0; x < 10; ++x) {
    uint16_t p = static_cast<uint16_t>(g->pixels[g->pitch + 2 * x] | g->pixels[g->pitch + 2 * x + 1] << 8);
    EXPECT_EQ(p, x >= 3 ? 0xFFFF : 0) << x;
  }
  EXPECT_EQ(CopyBaseImageArea(0, 0, 5, 5, 20, 0, big.get(), g.get()), 0);  // nothing to copy
}

}  // namespace
