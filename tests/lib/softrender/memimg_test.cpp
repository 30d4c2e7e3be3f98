// Software image records: layout, views, release, fill, copy, conversion with
// the run table and the premultiplied copy.
#include "lib/softrender/memimg.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "lib/image/base_image.h"

namespace {

MEMIMG Zeroed() {
  MEMIMG m;
  std::memset(&m, 0, sizeof(m));
  return m;
}

TEST(MemImgInit, PitchAndPitchShift) {
  MEMIMG a = Zeroed(), b = Zeroed(), c = Zeroed();
  ASSERT_EQ(InitMemImg(&a, 100, 10, -1, 0, kMemImgRgb565, 0, 0, 0, nullptr), 0);
  EXPECT_EQ(a.base->pitch, 208);
  EXPECT_EQ(a.base->pitch_shift, -1);
  ASSERT_EQ(InitMemImg(&b, 128, 10, -1, 0, kMemImgRgb565, 0, 0, 0, nullptr), 0);
  EXPECT_EQ(b.base->pitch, 256);
  EXPECT_EQ(b.base->pitch_shift, 8);
  // An 8-byte row padded to 16 is not a power-of-two pitch of its row.
  ASSERT_EQ(InitMemImg(&c, 4, 2, -1, 0, kMemImgRgb565, 0, 0, 0, nullptr), 0);
  EXPECT_EQ(c.base->pitch, 16);
  EXPECT_EQ(c.base->pitch_shift, -1);
  EXPECT_EQ(a.check, kMemImgCheck);
  EXPECT_EQ(a.pixels, a.base->pixel_block);
  EXPECT_EQ(a.base->reference_count, 1);
  ReleaseMemImg(&a);
  ReleaseMemImg(&b);
  ReleaseMemImg(&c);
  EXPECT_EQ(a.check, 0u);
  EXPECT_EQ(a.base, nullptr);
}

TEST(MemImgInit, BytesPerPixelAndFlags) {
  MEMIMG a = Zeroed(), p = Zeroed(), w = Zeroed();
  ASSERT_EQ(InitMemImg(&a, 10, 3, -1, 0, kMemImgRgb565, 0, 1, 0, nullptr), 0);
  EXPECT_EQ(a.base->format_info->bytes_per_pixel, 4);
  EXPECT_EQ(a.base->pitch, 48);
  ASSERT_EQ(InitMemImg(&p, 10, 3, -1, 0, kMemImg32, 1, 1, 1, nullptr), 0);
  EXPECT_EQ(p.base->format_info->bytes_per_pixel, 1);
  EXPECT_EQ(p.base->alpha, 0);  // paletted images carry no alpha
  ASSERT_NE(p.base->palette, nullptr);
  EXPECT_EQ(p.base->palette_copy, p.base->palette + 1024);
  EXPECT_EQ(p.premultiplied_pixels, nullptr);
  EXPECT_NE(p.base->run_table, nullptr);
  ASSERT_EQ(InitMemImg(&w, 10, 3, -1, 0, kMemImgWord, 1, 1, 1, nullptr), 0);
  EXPECT_EQ(w.base->paletted, 0);
  EXPECT_EQ(w.base->alpha, 0);
  EXPECT_EQ(w.base->format_info->bytes_per_pixel, 2);
  // A second initialisation of a live record is refused.
  EXPECT_EQ(InitMemImg(&w, 10, 3, -1, 0, kMemImgWord, 0, 0, 0, nullptr), -1);
  ReleaseMemImg(&a);
  ReleaseMemImg(&p);
  ReleaseMemImg(&w);
}

TEST(MemImgInit, BadSizesAndPitchRefused) {
  MEMIMG m = Zeroed();
  EXPECT_EQ(InitMemImg(&m, 0, 4, -1, 0, kMemImg32, 0, 0, 0, nullptr), -1);
  EXPECT_EQ(InitMemImg(&m, 4, -1, -1, 0, kMemImg32, 0, 0, 0, nullptr), -1);
  EXPECT_EQ(InitMemImg(&m, 4, 4, 8, 0, kMemImg32, 0, 0, 0, nullptr), -1);  // pitch shorter than a row
  EXPECT_EQ(InitMemImg(&m, 4, 4, -1, 0, 7, 0, 0, 0, nullptr), -1);
  EXPECT_EQ(InitMemImg(&m, 70000, 70000, -1, 0, kMemImg32, 0, 0, 0, nullptr), -1);
  EXPECT_EQ(IsValidMemImg(&m), 0);
  EXPECT_EQ(m.base, nullptr);  // nothing left attached by a failed start
}

TEST(MemImgInit, CallerPixelsAreNotFreed) {
  std::vector<uint8_t> block(64 * 4, 0xAB);
  MEMIMG m = Zeroed();
  ASSERT_EQ(InitMemImg(&m, 8, 4, 64, 0, kMemImg32, 0, 0, 0, block.data()), 0);
  EXPECT_EQ(m.pixels, block.data());
  EXPECT_EQ(m.base->caller_owned_pixels, 1);
  EXPECT_EQ(m.base->pitch_shift, 6);
  ReleaseMemImg(&m);
  EXPECT_EQ(block[0], 0xAB);
}

TEST(MemImgDerive, ViewOffsetAndSharedLifetime) {
  MEMIMG img = Zeroed(), view = Zeroed();
  ASSERT_EQ(CreateMemImg(&img, 40, 30, kMemImg32), 0);
  DeriveMemImg(&view, &img, 8, 4, 16, 16);
  ASSERT_EQ(IsValidMemImg(&view), 1);
  EXPECT_EQ(view.pixels, img.pixels + 32 + 4 * img.base->pitch);
  EXPECT_EQ(view.base, img.base);
  EXPECT_EQ(img.base->reference_count, 2);
  // Releasing the viewed image first keeps the pixels for the view.
  MemImgBase* base = img.base;
  ReleaseMemImg(&img);
  EXPECT_EQ(base->reference_count, 1);
  FillMemImgRawRect(&view, nullptr, 0x11223344);  // still writable
  uint32_t px;
  std::memcpy(&px, view.pixels + view.base->pitch * 15 + 60, 4);
  EXPECT_EQ(px, 0x11223344u);
  ReleaseMemImg(&view);
  ReleaseMemImg(&view);  // a second release does nothing
}

TEST(MemImgDerive, OutOfRangeLeavesViewUntouched) {
  MEMIMG img = Zeroed(), view = Zeroed();
  ASSERT_EQ(CreateMemImg(&img, 10, 10, kMemImgRgb565), 0);
  DeriveMemImg(&view, &img, 5, 5, 6, 2);
  EXPECT_EQ(IsValidMemImg(&view), 0);
  DeriveMemImg(&view, &img, -1, 0, 2, 2);
  EXPECT_EQ(IsValidMemImg(&view), 0);
  DeriveMemImg(&view, &img, 0, 0, 10, 10);
  EXPECT_EQ(IsValidMemImg(&view), 1);
  EXPECT_EQ(img.base->reference_count, 2);
  ReleaseMemImg(&view);
  ReleaseMemImg(&img);
}

TEST(MemImgFill, ClipsAndWritesBytesPerPixel) {
  MEMIMG img = Zeroed();
  ASSERT_EQ(CreateMemImg(&img, 8, 4, kMemImgRgb565), 0);
  FillMemImgRawRect(&img, nullptr, 0);
  IntRect r{6, 2, 20, 20};
  FillMemImgRawRect(&img, &r, 0xF81F);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x) {
      uint16_t v;
      std::memcpy(&v, img.pixels + y * img.base->pitch + 2 * x, 2);
      EXPECT_EQ(v, (x >= 6 && y >= 2) ? 0xF81F : 0) << x << "," << y;
    }
  // The padding after the row is never written.
  EXPECT_EQ(img.base->pitch, 16);
  IntRect outside{-5, -5, -1, -1};
  FillMemImgRawRect(&img, &outside, 0xFFFF);
  uint16_t v;
  std::memcpy(&v, img.pixels, 2);
  EXPECT_EQ(v, 0);
  ReleaseMemImg(&img);

  MEMIMG bytes = Zeroed();
  ASSERT_EQ(CreateMemImg(&bytes, 5, 2, kMemImgByte), 0);
  FillMemImgRawRect(&bytes, nullptr, 0x1A7);
  EXPECT_EQ(bytes.pixels[4], 0xA7);
  EXPECT_EQ(bytes.pixels[bytes.base->pitch + 4], 0xA7);
  ReleaseMemImg(&bytes);
}

TEST(MemImgCopy, ConvertsAndClipsToBothImages) {
  MEMIMG src = Zeroed(), dst = Zeroed();
  ASSERT_EQ(CreateMemImg(&src, 4, 4, kMemImg32), 0);
  ASSERT_EQ(CreateMemImg(&dst, 3, 3, kMemImgRgb565), 0);
  FillMemImgRawRect(&src, nullptr, 0x00FF0000);  // red
  FillMemImgRawRect(&dst, nullptr, 0);
  EXPECT_GE(CopyMemImgRect(&dst, &src, nullptr, 1, 1), 0);
  uint16_t v;
  std::memcpy(&v, dst.pixels + 2 * dst.base->pitch + 4, 2);
  EXPECT_EQ(v, 0xF800);
  std::memcpy(&v, dst.pixels, 2);
  EXPECT_EQ(v, 0);
  // Wholly outside: nothing copied, refused.
  EXPECT_EQ(CopyMemImgRect(&dst, &src, nullptr, 3, 0), -1);
  ReleaseMemImg(&src);
  ReleaseMemImg(&dst);
}

BaseImage Argb(int w, int h, const std::vector<uint32_t>& px) {
  BaseImage img{};
  EXPECT_EQ(CreateArgb8BaseImage(w, h, &img), 0);
  for (int y = 0; y < h; ++y) std::memcpy(img.pixels + y * img.pitch, &px[size_t(y) * w], size_t(w) * 4);
  return img;
}

TEST(MemImgConvert, RunTableOfAlphaRow) {
  BaseImage img = Argb(4, 1, {0x00102030, 0x00405060, 0x80FF8040, 0xFF010203});
  MEMIMG m = Zeroed();
  ASSERT_EQ(InitMemImg(&m, 4, 1, -1, 0, kMemImg32, 0, 1, 1, nullptr), 0);
  ASSERT_EQ(ConvertBaseImageToMemImg(&img, nullptr, &m, 0, 0, 4, 1, 0, 0, 0), 0);
  EXPECT_EQ(m.base->run_table_valid, 1);
  const uint8_t want[] = {0x01, 0x80, 0x40, 0xC0};
  EXPECT_EQ(std::memcmp(m.base->run_table, want, 4), 0);
  // Premultiplied: B, G, R times A >> 8, A kept.
  EXPECT_EQ(m.base->premultiplied_valid, 1);
  uint32_t pm;
  std::memcpy(&pm, m.premultiplied_pixels + 8, 4);
  EXPECT_EQ(pm, (0x80u << 24) | ((0xFFu * 0x80 >> 8) << 16) | ((0x80u * 0x80 >> 8) << 8) | (0x40u * 0x80 >> 8));
  std::memcpy(&pm, m.premultiplied_pixels + 12, 4);
  EXPECT_EQ(pm, 0xFF000102u);  // 1, 2, 3 times 255, >> 8: 0, 1, 2
  // A sub-rectangle write leaves both stale.
  ASSERT_EQ(ConvertBaseImageToMemImg(&img, nullptr, &m, 0, 0, 2, 1, 0, 0, 0), 0);
  EXPECT_EQ(m.base->run_table_valid, 0);
  EXPECT_EQ(m.base->premultiplied_valid, 0);
  ReleaseMemImg(&m);
  FreeBaseImagePixels(&img);
}

TEST(MemImgConvert, LongOpaqueRowSplitsAt64) {
  std::vector<uint32_t> px(70, 0xFF123456);
  BaseImage img = Argb(70, 1, px);
  MEMIMG m = Zeroed();
  ASSERT_EQ(InitMemImg(&m, 70, 1, -1, 0, kMemImg32, 0, 0, 1, nullptr), 0);
  ASSERT_EQ(ConvertBaseImageToMemImg(&img, nullptr, &m, 0, 0, 70, 1, 0, 0, 0), 0);
  const uint8_t want[] = {0x7F, 0x45, 0xC0};
  EXPECT_EQ(std::memcmp(m.base->run_table, want, 3), 0);
  ReleaseMemImg(&m);
  FreeBaseImagePixels(&img);
}

TEST(MemImgConvert, Rgb565KeyRunsAndAlphaWord) {
  // Key black in 565: the black pixels are transparent runs.
  BaseImage img = Argb(3, 2, {0xFF000000, 0xFFFF0000, 0xFF000000, 0xFF00FF00, 0xFF00FF00, 0xFF0000FF});
  MEMIMG m = Zeroed();
  ASSERT_EQ(InitMemImg(&m, 3, 2, -1, 0x0000, kMemImgRgb565, 0, 0, 1, nullptr), 0);
  ASSERT_EQ(ConvertBaseImageToMemImg(&img, nullptr, &m, 0, 0, 3, 2, 0, 0, 0), 0);
  uint16_t v;
  std::memcpy(&v, m.pixels + 2, 2);
  EXPECT_EQ(v, 0xF800);
  const uint8_t want[] = {0x00, 0x40, 0x00, 0xC0, 0x42, 0xC0};
  EXPECT_EQ(std::memcmp(m.base->run_table, want, sizeof(want)), 0);
  ReleaseMemImg(&m);

  // A 16-bit image with alpha: RGB565 in bits 0-15, alpha in 16-23.
  MEMIMG a = Zeroed();
  ASSERT_EQ(InitMemImg(&a, 3, 2, -1, 0, kMemImgRgb565, 0, 1, 1, nullptr), 0);
  BaseImage half = Argb(3, 2, {0x80FFFFFF, 0, 0, 0, 0, 0});
  ASSERT_EQ(ConvertBaseImageToMemImg(&half, nullptr, &a, 0, 0, 3, 2, 0, 0, 0), 0);
  uint32_t w;
  std::memcpy(&w, a.pixels, 4);
  EXPECT_EQ(w & 0xFFFF, 0xFFFFu);
  EXPECT_EQ((w >> 16) & 0xFF, 0x80u);
  std::memcpy(&w, a.premultiplied_pixels, 4);
  const uint32_t c = 0xFFFF, al = 0x80;
  EXPECT_EQ(w, ((((c & 0xF800) * al) & 0xF80000) | (((c & 0x07E0) * al) & 0x7E000) | (((c & 0x1F) * al) & 0x1F00)) >> 8 |
                   (al << 16));
  EXPECT_EQ(a.base->run_table[0], 0x80);  // one translucent pixel
  ReleaseMemImg(&a);
  FreeBaseImagePixels(&img);
  FreeBaseImagePixels(&half);
}

TEST(MemImgConvert, OutsideSourceIsClipped) {
  BaseImage img = Argb(2, 2, {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF});
  MEMIMG m = Zeroed();
  ASSERT_EQ(CreateMemImg(&m, 4, 4, kMemImg32), 0);
  FillMemImgRawRect(&m, nullptr, 0);
  // Asks for more than the image has and writes past the MEMIMG's edge.
  EXPECT_EQ(ConvertBaseImageToMemImg(&img, nullptr, &m, 0, 0, 8, 8, 3, 3, 0), 0);
  uint32_t px;
  std::memcpy(&px, m.pixels + 3 * m.base->pitch + 12, 4);
  EXPECT_EQ(px & 0xFFFFFF, 0xFFFFFFu);
  std::memcpy(&px, m.pixels + 2 * m.base->pitch + 8, 4);
  EXPECT_EQ(px, 0u);
  EXPECT_EQ(ConvertBaseImageToMemImg(&img, nullptr, &m, 0, 0, 2, 2, 4, 0, 0), -1);
  ReleaseMemImg(&m);
  FreeBaseImagePixels(&img);
}

BaseImage Pal8(int w, int h, const std::vector<uint8_t>& idx) {
  BaseImage img{};
  SetPixelFormatInfoPal8(&img.format);
  for (int i = 0; i < 256; ++i) img.format.palette[i] = PaletteEntry{uint8_t(i), uint8_t(255 - i), uint8_t(i * 7), 0};
  img.width = w;
  img.height = h;
  img.pitch = (w + 3) & ~3;
  img.pixels = static_cast<uint8_t*>(std::calloc(size_t(img.pitch) * h, 1));
  for (int y = 0; y < h; ++y) std::memcpy(img.pixels + y * img.pitch, &idx[size_t(y) * w], size_t(w));
  return img;
}

TEST(MemImgConvert, PalettedImageKeepsIndicesAndConvertsThePalette) {
  BaseImage img = Pal8(4, 1, {3, 9, 9, 200});
  MEMIMG m32 = Zeroed(), m16 = Zeroed();
  ASSERT_EQ(InitMemImg(&m32, 4, 1, -1, 9, kMemImg32, 1, 0, 1, nullptr), 0);
  ASSERT_EQ(ConvertBaseImageToMemImg(&img, nullptr, &m32, 0, 0, 4, 1, 0, 0, 0), 0);
  EXPECT_EQ(std::memcmp(m32.pixels, "\x03\x09\x09\xC8", 4), 0);
  EXPECT_EQ(m32.base->palette_entries_used, 201);
  uint32_t e;
  std::memcpy(&e, m32.base->palette + 4 * 200, 4);
  EXPECT_EQ(e, 200u | (55u << 8) | (uint32_t(uint8_t(200 * 7)) << 16));
  EXPECT_EQ(std::memcmp(m32.base->palette_copy, m32.base->palette, 1024), 0);
  // Index 9 is the key: a transparent run of two between opaque ones.
  const uint8_t runs[] = {0x40, 0x01, 0x40, 0xC0};
  EXPECT_EQ(std::memcmp(m32.base->run_table, runs, 4), 0);

  ASSERT_EQ(InitMemImg(&m16, 4, 1, -1, 0, kMemImgRgb565, 1, 0, 0, nullptr), 0);
  ASSERT_EQ(ConvertBaseImageToMemImg(&img, nullptr, &m16, 0, 0, 4, 1, 0, 0, 0), 0);
  uint16_t e16;
  std::memcpy(&e16, m16.base->palette + 2 * 200, 2);
  const int r = uint8_t(200 * 7), g = 55, b = 200;
  EXPECT_EQ(e16, uint16_t(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3)));
  ReleaseMemImg(&m32);
  ReleaseMemImg(&m16);
  std::free(img.pixels);
}

TEST(MemImgConvert, KeyColourBecomesAlphaZero) {
  // A 16-bit alpha image keyed on pure green (RGB565 0x07E0).
  BaseImage img{};
  ASSERT_EQ(CreateXrgb8BaseImage(2, 1, &img), 0);
  const uint32_t px[2] = {0x0000FF00, 0x00FF0000};
  std::memcpy(img.pixels, px, 8);
  MEMIMG m = Zeroed();
  ASSERT_EQ(InitMemImg(&m, 2, 1, -1, 0x07E0, kMemImgRgb565, 0, 1, 1, nullptr), 0);
  ASSERT_EQ(ConvertBaseImageToMemImg(&img, nullptr, &m, 0, 0, 2, 1, 0, 0, 1), 0);
  uint32_t a, b;
  std::memcpy(&a, m.pixels, 4);
  std::memcpy(&b, m.pixels + 4, 4);
  EXPECT_EQ((a >> 16) & 0xFF, 0u);
  EXPECT_EQ((b >> 16) & 0xFF, 255u);
  EXPECT_EQ(b & 0xFFFF, 0xF800u);
  EXPECT_EQ(m.base->run_table[0], 0x00);
  EXPECT_EQ(m.base->run_table[1], 0x40);
  ReleaseMemImg(&m);
  FreeBaseImagePixels(&img);
}

}  // namespace
