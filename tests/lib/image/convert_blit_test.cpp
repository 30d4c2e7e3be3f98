// Pixel-format conversion blit: every format pair, and the options.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "lib/image/convert_blit.h"

namespace {

PixelFormatInfo Masks(int depth, uint32_t r, uint32_t g, uint32_t b, uint32_t a) {
  PixelFormatInfo f;
  std::memset(&f, 0, sizeof(f));
  CreatePixelFormatInfoFromMasks(&f, depth, r, g, b, a);
  return f;
}

PixelFormatInfo Pal8WithRamp() {
  PixelFormatInfo f;
  std::memset(&f, 0, sizeof(f));
  SetPixelFormatInfoPal8(&f);
  // A palette of 6 x 7 x 6 colour levels (252 entries), then black.
  int i = 0;
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 7; ++g)
      for (int b = 0; b < 6; ++b)
        f.palette[i++] = PaletteEntry{static_cast<uint8_t>(b * 51), static_cast<uint8_t>(g * 42),
                                      static_cast<uint8_t>(r * 51), 0};
  return f;
}

struct NamedFormat {
  std::string name;
  PixelFormatInfo f;
};

std::vector<NamedFormat> AllFormats() {
  return {
      {"Pal8", Pal8WithRamp()},
      {"RGB565", Masks(16, 0xF800, 0x07E0, 0x001F, 0)},
      {"X1R5G5B5", Masks(16, 0x7C00, 0x03E0, 0x001F, 0)},
      {"A1R5G5B5", Masks(16, 0x7C00, 0x03E0, 0x001F, 0x8000)},
      {"A4R4G4B4", Masks(16, 0x0F00, 0x00F0, 0x000F, 0xF000)},
      {"R8G8B8", Masks(24, 0xFF0000, 0xFF00, 0xFF, 0)},
      {"X8R8G8B8", Masks(32, 0xFF0000, 0xFF00, 0xFF, 0)},
      {"A8R8G8B8", Masks(32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u)},
      {"A8B8G8R8", Masks(32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000u)},
      {"A2R10G10B10", Masks(32, 0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000u)},
  };
}

uint32_t Read(const std::vector<uint8_t>& buf, int index, int bytes) {
  uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= static_cast<uint32_t>(buf[index * bytes + i]) << (8 * i);
  return v;
}
void Write(std::vector<uint8_t>& buf, int index, int bytes, uint32_t v) {
  for (int i = 0; i < bytes; ++i) buf[index * bytes + i] = static_cast<uint8_t>(v >> (8 * i));
}

struct Rgba {
  int r, g, b, a;
};

// Components of a pixel: palette entries for one byte a pixel, else the
// format's own unpacking; a format without alpha reads as opaque.
Rgba Unpack(const PixelFormatInfo& f, uint32_t pixel) {
  if (f.bytes_per_pixel == 1) {
    const PaletteEntry& e = f.palette[pixel & 255];
    return {e.r, e.g, e.b, 255};
  }
  Rgba c{0, 0, 0, 255};
  int a = 255;
  GetPixelFormatInfoRgba(&f, pixel, &c.r, &c.g, &c.b, &a);
  c.a = f.width_a ? a : 255;
  return c;
}

int Width(const PixelFormatInfo& f, int channel) {
  if (f.bytes_per_pixel == 1) return 8;
  const int w[4] = {f.width_r, f.width_g, f.width_b, f.width_a};
  return w[channel];
}

// A 1-row blit of the whole vector.
int Blit(const PixelFormatInfo& d, std::vector<uint8_t>& dst, const PixelFormatInfo& s,
         const std::vector<uint8_t>& src, int count, int mirror = 0, int key_to_alpha = 0,
         uint32_t key = 0, int dither = 0, int alpha_only = 0, int alpha_from_red = 0,
         int skip_key = 0, int remap = 0) {
  ImageRect r{0, 0, count, 1};
  return ConvertPixelFormatBlit(dst.data(), 4 * count, &d, src.data(), 4 * count, &s, nullptr, 0,
                                nullptr, 0, 0, &r, mirror, key_to_alpha, key, dither, alpha_only,
                                alpha_from_red, skip_key, remap);
}

TEST(ConvertBlit, EveryFormatPairKeepsColoursWithinQuantisation) {
  std::mt19937 rng(1234);
  const int n = 64;
  for (const NamedFormat& sf : AllFormats()) {
    for (const NamedFormat& df : AllFormats()) {
      // Sources with channels other than 8 bits reach a paletted destination
      // with raw channel values (checked in their own test).
      if (df.f.bytes_per_pixel == 1 && sf.f.bytes_per_pixel != 1 && sf.f.width_r != 8) continue;
      SCOPED_TRACE(sf.name + " -> " + df.name);
      const int sb = sf.f.bytes_per_pixel, db = df.f.bytes_per_pixel;
      std::vector<uint8_t> src(n * 4), dst(n * 4, 0xCD);
      std::vector<Rgba> want(n);
      for (int i = 0; i < n; ++i) {
        uint32_t p;
        if (sb == 1) {
          p = rng() % 252;
        } else {
          p = GetPixelFormatInfoPixelCode(&sf.f, rng() & 255, rng() & 255, rng() & 255,
                                          rng() & 255);
        }
        // Paletted destinations hold only the palette's colours exactly.
        if (db == 1 && sb != 1) {
          const PaletteEntry& e = df.f.palette[rng() % 252];
          p = GetPixelFormatInfoPixelCode(&sf.f, e.r, e.g, e.b, 255);
        }
        Write(src, i, sb, p);
        want[i] = Unpack(sf.f, p);
      }
      int result = Blit(df.f, dst, sf.f, src, n);
      ASSERT_GE(result, 0);
      for (int i = 0; i < n; ++i) {
        Rgba got = Unpack(df.f, Read(dst, i, db));
        const int* w = &want[i].r;
        const int* g = &got.r;
        for (int c = 0; c < 3; ++c) {
          int bits = std::min(Width(sf.f, c), Width(df.f, c));
          int tolerance = (256 >> bits) + 1;
          EXPECT_LE(std::abs(w[c] - g[c]), tolerance) << "pixel " << i << " channel " << c;
        }
        if (df.f.width_a) {
          int bits = sf.f.width_a ? std::min<int>(sf.f.width_a, df.f.width_a) : df.f.width_a;
          EXPECT_LE(std::abs(want[i].a - got.a), (256 >> bits) + 1) << "pixel " << i << " alpha";
        }
      }
      // Nothing beyond the rectangle is written.
      for (size_t k = static_cast<size_t>(n) * db; k < dst.size(); ++k) ASSERT_EQ(dst[k], 0xCD);
    }
  }
}

TEST(ConvertBlit, EmptyRectangleFails) {
  PixelFormatInfo f = Masks(32, 0xFF0000, 0xFF00, 0xFF, 0);
  std::vector<uint8_t> a(16), b(16);
  ImageRect r{2, 0, 2, 1};
  EXPECT_EQ(ConvertPixelFormatBlit(b.data(), 16, &f, a.data(), 16, &f, nullptr, 0, nullptr, 0, 0,
                                   &r, 0, 0, 0, 0, 0, 0, 0, 0),
            -1);
  ImageRect r2{0, 3, 1, 3};
  EXPECT_EQ(ConvertPixelFormatBlit(b.data(), 16, &f, a.data(), 16, &f, nullptr, 0, nullptr, 0, 0,
                                   &r2, 0, 0, 0, 0, 0, 0, 0, 0),
            -1);
}

TEST(ConvertBlit, Rgb565ToArgbGeneralAndToXrgbDedicated) {
  PixelFormatInfo s = Masks(16, 0xF800, 0x07E0, 0x001F, 0);
  std::vector<uint8_t> src{0xFF, 0xFF}, dst(4);
  Blit(Masks(32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u), dst, s, src, 1);
  EXPECT_EQ(Read(dst, 0, 4), 0xFFFFFFFFu);
  Blit(Masks(32, 0xFF0000, 0xFF00, 0xFF, 0), dst, s, src, 1);
  EXPECT_EQ(Read(dst, 0, 4), 0x00F8FCF8u);
  // 5-bit 16 widens to 131 on the general path.
  std::vector<uint8_t> half{0x00, 0x80};
  Blit(Masks(32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u), dst, s, half, 1);
  EXPECT_EQ(Read(dst, 0, 4), 0xFF830000u);
}

TEST(ConvertBlit, SixteenBitPairs) {
  PixelFormatInfo rgb565 = Masks(16, 0xF800, 0x07E0, 0x001F, 0);
  PixelFormatInfo x555 = Masks(16, 0x7C00, 0x03E0, 0x001F, 0);
  std::vector<uint8_t> src(2), dst(2);
  Write(src, 0, 2, 0xFFFF);
  Blit(x555, dst, rgb565, src, 1);
  EXPECT_EQ(Read(dst, 0, 2), 0x7FFFu);  // top bit 0
  Write(src, 0, 2, 0x7C21);             // X1R5G5B5 red 31, green 1, blue 1
  Blit(rgb565, dst, x555, src, 1);
  EXPECT_EQ(Read(dst, 0, 2), 0xF861u);  // the new low green bit repeats the old one
  // R8G8B8 to X1R5G5B5 truncates and sets the top bit.
  std::vector<uint8_t> rgb{0x0F, 0x80, 0xFF};
  Blit(x555, dst, Masks(24, 0xFF0000, 0xFF00, 0xFF, 0), rgb, 1);
  EXPECT_EQ(Read(dst, 0, 2), 0x8000u | (31u << 10) | (16u << 5) | 1u);
}

TEST(ConvertBlit, SameLayoutMirrorAndSkipKey) {
  PixelFormatInfo x8 = Masks(32, 0xFF0000, 0xFF00, 0xFF, 0);
  std::vector<uint8_t> src(16), dst(16, 0);
  const uint32_t px[4] = {0x00FF00FF, 0x11111111, 0xFFFF00FF, 0x00FF00FF};
  for (int i = 0; i < 4; ++i) Write(src, i, 4, px[i]);
  for (int i = 0; i < 4; ++i) Write(dst, i, 4, 0xABCDEF01);
  Blit(x8, dst, x8, src, 4, 0, 0, 0x00FF00FF, 0, 0, 0, /*skip_key=*/1);
  EXPECT_EQ(Read(dst, 0, 4), 0xABCDEF01u);  // key skipped
  EXPECT_EQ(Read(dst, 1, 4), 0x11111111u);
  EXPECT_EQ(Read(dst, 2, 4), 0xFFFF00FFu);  // top byte differs: written
  EXPECT_EQ(Read(dst, 3, 4), 0xABCDEF01u);

  Blit(x8, dst, x8, src, 4, /*mirror=*/1, 0, 0x00FF00FF, 0, 0, 0, /*skip_key ignored*/ 1);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(Read(dst, i, 4), px[3 - i]);

  // 24-bit rows compare three bytes of the key.
  PixelFormatInfo rgb = Masks(24, 0xFF0000, 0xFF00, 0xFF, 0);
  std::vector<uint8_t> s3{1, 2, 3, 4, 5, 6}, d3(6, 9);
  Blit(rgb, d3, rgb, s3, 2, 0, 0, 0xFF030201, 0, 0, 0, 1);
  EXPECT_EQ(d3, (std::vector<uint8_t>{9, 9, 9, 4, 5, 6}));
}

TEST(ConvertBlit, MirrorOnGeneralPath) {
  PixelFormatInfo rgb = Masks(24, 0xFF0000, 0xFF00, 0xFF, 0);
  PixelFormatInfo argb = Masks(32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u);
  std::vector<uint8_t> src{1, 2, 3, 4, 5, 6, 7, 8, 9}, dst(12);
  Blit(argb, dst, rgb, src, 3, 1);
  EXPECT_EQ(Read(dst, 0, 4), 0xFF090807u);
  EXPECT_EQ(Read(dst, 2, 4), 0xFF030201u);
}

TEST(ConvertBlit, KeyToAlphaFromRgb888) {
  PixelFormatInfo rgb = Masks(24, 0xFF0000, 0xFF00, 0xFF, 0);
  PixelFormatInfo argb = Masks(32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u);
  PixelFormatInfo a555 = Masks(16, 0x7C00, 0x03E0, 0x001F, 0x8000);
  std::vector<uint8_t> src{0, 0, 0, 1, 0, 0, 0xFF, 0xFF, 0xFF}, dst(12);
  Blit(argb, dst, rgb, src, 3, 0, /*key_to_alpha=*/1, 0x000000);
  EXPECT_EQ(Read(dst, 0, 4), 0x00000000u);
  EXPECT_EQ(Read(dst, 1, 4), 0xFF000001u);
  EXPECT_EQ(Read(dst, 2, 4), 0xFFFFFFFFu);
  Blit(a555, dst, rgb, src, 3, 0, 1, 0x000000);
  EXPECT_EQ(Read(dst, 0, 2), 0x0000u);
  EXPECT_EQ(Read(dst, 1, 2), 0x8000u);  // near-black keeps its alpha
  EXPECT_EQ(Read(dst, 2, 2), 0xFFFFu);
  // With mirror the general path does the same, right to left.
  Blit(argb, dst, rgb, src, 3, 1, 1, 0x000000);
  EXPECT_EQ(Read(dst, 2, 4), 0x00000000u);
  EXPECT_EQ(Read(dst, 0, 4), 0xFFFFFFFFu);
}

TEST(ConvertBlit, KeyToAlphaNeedsEveryChannelOfTheKey) {
  // 24-bit into 32-bit, mirrored (the general path): only the exact key
  // loses its alpha; a pixel that differs from it in one channel alone
  // keeps it.
  PixelFormatInfo rgb = Masks(24, 0xFF0000, 0xFF00, 0xFF, 0);
  PixelFormatInfo argb = Masks(32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u);
  const uint32_t pixels[4] = {0x102030, 0x112030, 0x102130, 0x102031};
  std::vector<uint8_t> src(12), dst(16);
  for (int i = 0; i < 4; ++i) Write(src, i, 3, pixels[i]);
  Blit(argb, dst, rgb, src, 4, /*mirror=*/1, /*key_to_alpha=*/1, 0x102030);
  EXPECT_EQ(Read(dst, 3, 4), 0x00102030u);
  EXPECT_EQ(Read(dst, 2, 4), 0xFF112030u);  // red differs
  EXPECT_EQ(Read(dst, 1, 4), 0xFF102130u);  // green differs
  EXPECT_EQ(Read(dst, 0, 4), 0xFF102031u);  // blue differs
}

TEST(ConvertBlit, KeyToAlphaIgnoredWhenSourceHasAlpha) {
  PixelFormatInfo argb = Masks(32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u);
  std::vector<uint8_t> src(4), dst(4);
  Write(src, 0, 4, 0x80000000u);
  Blit(argb, dst, argb, src, 1, 0, 1, 0x000000);
  EXPECT_EQ(Read(dst, 0, 4), 0x80000000u);
}

TEST(ConvertBlit, KeyToAlphaSameColourLayout) {
  // X8R8G8B8 to A8R8G8B8: the key gets alpha 0 whatever the source's top byte.
  PixelFormatInfo x8 = Masks(32, 0xFF0000, 0xFF00, 0xFF, 0);
  PixelFormatInfo argb = Masks(32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u);
  std::vector<uint8_t> src(8), dst(8);
  Write(src, 0, 4, 0x00FF00FF);
  Write(src, 1, 4, 0x12345678);
  Blit(argb, dst, x8, src, 2, 0, 1, 0xFF00FF);
  EXPECT_EQ(Read(dst, 0, 4), 0x00FF00FFu);
  EXPECT_EQ(Read(dst, 1, 4), 0xFF345678u);
  // X1R5G5B5 to A1R5G5B5 with the unused bit clear in the data.
  PixelFormatInfo x555 = Masks(16, 0x7C00, 0x03E0, 0x001F, 0);
  PixelFormatInfo a555 = Masks(16, 0x7C00, 0x03E0, 0x001F, 0x8000);
  std::vector<uint8_t> s16(4), d16(4);
  Write(s16, 0, 2, 0x7C1F);  // magenta
  Write(s16, 1, 2, 0x001F);
  Blit(a555, d16, x555, s16, 2, 0, 1, 0xFF00FF);
  EXPECT_EQ(Read(d16, 0, 2), 0x7C1Fu);
  EXPECT_EQ(Read(d16, 1, 2), 0x801Fu);
}

TEST(ConvertBlit, KeyToAlphaFromPaletteAndRgb565) {
  PixelFormatInfo pal = Pal8WithRamp();
  PixelFormatInfo argb = Masks(32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u);
  PixelFormatInfo a555 = Masks(16, 0x7C00, 0x03E0, 0x001F, 0x8000);
  std::vector<uint8_t> idx{0, 5, 251, 0}, dst(16);
  // Entry 0 is black, entry 5 is blue 255.
  Blit(argb, dst, pal, idx, 3, 0, 1, 0x0000FF);
  EXPECT_EQ(Read(dst, 0, 4), 0xFF000000u);
  EXPECT_EQ(Read(dst, 1, 4), 0x000000FFu);
  EXPECT_EQ(Read(dst, 2, 4), 0xFFFFFCFFu);
  Blit(a555, dst, pal, idx, 2, 0, 1, 0x000000);
  EXPECT_EQ(Read(dst, 0, 2), 0x0000u);
  EXPECT_EQ(Read(dst, 1, 2), 0x801Fu);

  PixelFormatInfo rgb565 = Masks(16, 0xF800, 0x07E0, 0x001F, 0);
  std::vector<uint8_t> s16(4);
  Write(s16, 0, 2, 0xF81F);
  Write(s16, 1, 2, 0xF800);
  Blit(argb, dst, rgb565, s16, 2, 0, 1, 0xFF00FF);
  EXPECT_EQ(Read(dst, 0, 4), 0x00F800F8u);
  EXPECT_EQ(Read(dst, 1, 4), 0xFFF80000u);
}

TEST(ConvertBlit, SkipKeyFromXrgbIntoArgb) {
  PixelFormatInfo x8 = Masks(32, 0xFF0000, 0xFF00, 0xFF, 0);
  PixelFormatInfo argb = Masks(32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u);
  std::vector<uint8_t> src(8), dst(8, 0x77);
  Write(src, 0, 4, 0xAA102030);
  Write(src, 1, 4, 0x00405060);
  Blit(argb, dst, x8, src, 2, 0, 0, 0xFF102030, 0, 0, 0, 1);
  EXPECT_EQ(Read(dst, 0, 4), 0x77777777u);
  EXPECT_EQ(Read(dst, 1, 4), 0xFF405060u);
}

TEST(ConvertBlit, AlphaOnlyAlphaFromRedAndAlphaImage) {
  PixelFormatInfo rgb = Masks(24, 0xFF0000, 0xFF00, 0xFF, 0);
  PixelFormatInfo argb = Masks(32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u);
  std::vector<uint8_t> src{0x10, 0x20, 0x30}, dst(4);
  Blit(argb, dst, rgb, src, 1, 0, 0, 0, 0, /*alpha_only=*/1);
  EXPECT_EQ(Read(dst, 0, 4), 0xFF000000u);
  Blit(argb, dst, rgb, src, 1, 0, 0, 0, 0, 0, /*alpha_from_red=*/1);
  EXPECT_EQ(Read(dst, 0, 4), 0x30302010u);
  Blit(argb, dst, rgb, src, 1, 0, 0, 0, 0, 1, 1);
  EXPECT_EQ(Read(dst, 0, 4), 0x30000000u);

  // A grey alpha image: its red channel becomes the alpha, rescaled.
  PixelFormatInfo a4 = Masks(16, 0x0F00, 0x00F0, 0x000F, 0xF000);
  PixelFormatInfo alpha_fmt = Masks(16, 0xF800, 0x07E0, 0x001F, 0);
  std::vector<uint8_t> alpha_img(4);
  Write(alpha_img, 0, 2, 0x8000);  // red 16 of 31
  Write(alpha_img, 1, 2, 0xF800);
  std::vector<uint8_t> s2{0x10, 0x20, 0x30, 0xF0, 0xE0, 0xD0}, d2(4);
  ImageRect r{0, 0, 2, 1};
  ASSERT_EQ(ConvertPixelFormatBlit(d2.data(), 4, &a4, s2.data(), 6, &rgb, alpha_img.data(), 4,
                                   &alpha_fmt, 0, 0, &r, 0, 0, 0, 0, 0, 0, 0, 0),
            0);
  EXPECT_EQ(Read(d2, 0, 2), 0x8321u);  // 16 of 31 narrowed to 4 bits is 8
  EXPECT_EQ(Read(d2, 1, 2), 0xFDEFu);
}

TEST(ConvertBlit, OrderedDitherRoundsUpHalfTheMatrix) {
  // 8-bit blue 0x04 to 5 bits: dropped bits 4 exceed m / 2 for m = 0..7.
  PixelFormatInfo x8 = Masks(32, 0xFF0000, 0xFF00, 0xFF, 0);
  PixelFormatInfo rgb565 = Masks(16, 0xF800, 0x07E0, 0x001F, 0);
  std::vector<uint8_t> src(16 * 4 * 4), dst(16 * 2 * 4);
  for (int i = 0; i < 16; ++i) Write(src, i, 4, 0x00000004);
  ImageRect r{0, 0, 4, 4};
  ASSERT_EQ(ConvertPixelFormatBlit(dst.data(), 8, &rgb565, src.data(), 16, &x8, nullptr, 0, nullptr,
                                   0, 0, &r, 0, 0, 0, kDitherOrdered, 0, 0, 0, 0),
            0);
  const int matrix[16] = {0, 8, 2, 10, 12, 4, 14, 6, 3, 11, 1, 9, 15, 7, 13, 5};
  int ones = 0;
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) {
      uint32_t p = dst[y * 8 + x * 2] | dst[y * 8 + x * 2 + 1] << 8;
      EXPECT_EQ(p & 0x1F, matrix[x + 4 * y] < 8 ? 1u : 0u) << x << "," << y;
      ones += p & 1;
    }
  }
  EXPECT_EQ(ones, 8);
  // Without dithering the same data goes through the dedicated pair: all 0.
  ASSERT_EQ(ConvertPixelFormatBlit(dst.data(), 8, &rgb565, src.data(), 16, &x8, nullptr, 0, nullptr,
                                   0, 0, &r, 0, 0, 0, 0, 0, 0, 0, 0),
            0);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(dst[(i / 4) * 8 + (i % 4) * 2], 0);
}

TEST(ConvertBlit, CarryDitherKeepsTheRowAverage) {
  // 8-bit 0x04 per pixel to 5 bits drops 4 of 8: every second pixel rounds up.
  PixelFormatInfo rgb = Masks(24, 0xFF0000, 0xFF00, 0xFF, 0);
  PixelFormatInfo rgb565 = Masks(16, 0xF800, 0x07E0, 0x001F, 0);
  const int n = 32;
  std::vector<uint8_t> src(n * 3), dst(n * 2);
  for (int i = 0; i < n; ++i) Write(src, i, 3, 0x040404);
  Blit(rgb565, dst, rgb, src, n, 0, 0, 0, kDitherCarry);
  int blue_units = 0;
  for (int i = 0; i < n; ++i) blue_units += Read(dst, i, 2) & 0x1F;
  EXPECT_EQ(blue_units, n * 4 / 8);
  // A full channel never overflows into its neighbour.
  for (int i = 0; i < n; ++i) Write(src, i, 3, 0xFFFFFF);
  Blit(rgb565, dst, rgb, src, n, 0, 0, 0, kDitherCarry);
  for (int i = 0; i < n; ++i) EXPECT_EQ(Read(dst, i, 2), 0xFFFFu);
}

TEST(ConvertBlit, PalettedCopyReturnsHighestIndexAndRemaps) {
  PixelFormatInfo pal = Pal8WithRamp();
  std::vector<uint8_t> src{3, 7, 2}, dst(3);
  EXPECT_EQ(Blit(pal, dst, pal, src, 3), 7);
  EXPECT_EQ(dst, src);

  // A reversed palette: remapping finds each colour's new index.
  PixelFormatInfo rev = pal;
  for (int i = 0; i < 252; ++i) rev.palette[i] = pal.palette[251 - i];
  std::vector<uint8_t> s2{0, 10, 251}, d2(3);
  EXPECT_EQ(Blit(rev, d2, pal, s2, 3, 0, 0, 0, 0, 0, 0, 0, /*remap=*/1), 0);
  EXPECT_EQ(d2, (std::vector<uint8_t>{251, 241, 0}));
  // Without remapping the indices are copied.
  EXPECT_EQ(Blit(rev, d2, pal, s2, 3), 251);
  EXPECT_EQ(d2, s2);
  // Paletted destination from a 16-bit source: raw 5- and 6-bit values go to
  // the colour search.
  PixelFormatInfo rgb565 = Masks(16, 0xF800, 0x07E0, 0x001F, 0);
  std::vector<uint8_t> s16(2), d1(1);
  Write(s16, 0, 2, 0xFFFF);  // 31, 63, 31: nearest entry to (31, 63, 31)
  Blit(pal, d1, rgb565, s16, 1);
  EXPECT_EQ(d1[0], GetPixelFormatInfoPixelCode(&pal, 31, 63, 31, 0));
  // A non-paletted source into 8 bits with an option the copy cannot do.
  PixelFormatInfo x8 = Masks(32, 0xFF0000, 0xFF00, 0xFF, 0);
  std::vector<uint8_t> s32(4, 0), d8(1);
  PixelFormatInfo gray = pal;
  EXPECT_EQ(Blit(gray, d8, x8, s32, 1, 1), 0);  // mirror: general path, nearest entry
  EXPECT_EQ(d8[0], 0);
}

TEST(ConvertBlit, RectangleAndPitchesAreHonoured) {
  // A 3 x 2 rectangle from (1, 1) of a 4 x 3 image placed at (2, 1) of a 6 x 4 one.
  PixelFormatInfo rgb = Masks(24, 0xFF0000, 0xFF00, 0xFF, 0);
  PixelFormatInfo argb = Masks(32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u);
  const int sp = 12, dp = 24;
  std::vector<uint8_t> src(sp * 3), dst(dp * 4, 0);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) {
      src[y * sp + x * 3] = static_cast<uint8_t>(x);
      src[y * sp + x * 3 + 1] = static_cast<uint8_t>(y);
    }
  ImageRect r{1, 1, 4, 3};
  for (int dither = 0; dither < 2; ++dither) {
    std::fill(dst.begin(), dst.end(), 0);
    ASSERT_EQ(ConvertPixelFormatBlit(dst.data(), dp, &argb, src.data(), sp, &rgb, nullptr, 0,
                                     nullptr, 2, 1, &r, 0, 0, 0, dither, 0, 0, 0, 0),
              0);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 6; ++x) {
        uint32_t p = dst[y * dp + x * 4] | dst[y * dp + x * 4 + 1] << 8 |
                     static_cast<uint32_t>(dst[y * dp + x * 4 + 3]) << 24;
        bool inside = x >= 2 && x < 5 && y >= 1 && y < 3;
        uint32_t want = inside ? (0xFF000000u | static_cast<uint32_t>(y) << 8 |
                                  static_cast<uint32_t>(x - 1))
                               : 0u;
        EXPECT_EQ(p, want) << x << "," << y;
      }
  }
}

}  // namespace
