// BMP and TGA loaders on files written here with known pixels.
#include <gtest/gtest.h>

#include "lib/core/memory.h"
#include "tests/lib/image/image_files.h"

using namespace imgtest;

namespace {

struct Loaded {
  BaseImage im;
  Loaded() { std::memset(&im, 0, sizeof(im)); }
  ~Loaded() { FreeBaseImagePixels(&im); }
  BaseImage* get() { return &im; }
};

// Colour of pixel (x, y) of the generated true-colour images.
uint32_t ColourAt(int x, int y) {
  return static_cast<uint32_t>((x * 37 + y * 11) & 255) << 16 |
         static_cast<uint32_t>((x * 5 + y * 71) & 255) << 8 | static_cast<uint32_t>((x ^ y) * 9 & 255);
}
int IndexAt(int x, int y, int bits) { return (x * 3 + y * 7) & ((1 << bits) - 1); }
std::vector<uint32_t> Palette(int n) {
  std::vector<uint32_t> p;
  for (int i = 0; i < n; ++i) p.push_back(static_cast<uint32_t>(i * 0x010305 + 0x102030) & 0xFFFFFF);
  return p;
}

Bytes PackIndices(int width, int y, int bits) {
  Bytes row((width * bits + 7) / 8, 0);
  for (int x = 0; x < width; ++x) {
    int bitpos = x * bits;
    row[bitpos / 8] |= static_cast<uint8_t>(IndexAt(x, y, bits) << (8 - bits - bitpos % 8));
  }
  return row;
}

void ExpectRgb(BaseImage* im, int x, int y, uint32_t rgb) {
  Rgba c = PixelAt(im, x, y);
  EXPECT_EQ(c.r, static_cast<int>(rgb >> 16 & 255)) << x << "," << y;
  EXPECT_EQ(c.g, static_cast<int>(rgb >> 8 & 255)) << x << "," << y;
  EXPECT_EQ(c.b, static_cast<int>(rgb & 255)) << x << "," << y;
}

TEST(BmpLoader, TrueColourBottomUpAndTopDown) {
  for (int bits : {24, 32}) {
    for (bool top_down : {false, true}) {
      BmpSpec s;
      s.width = 3;
      s.height = 4;
      s.bits = bits;
      s.top_down = top_down;
      for (int y = 0; y < 4; ++y) {
        Bytes row;
        for (int x = 0; x < 3; ++x) {
          uint32_t c = ColourAt(x, y);
          row.push_back(c & 255);
          row.push_back(c >> 8 & 255);
          row.push_back(c >> 16 & 255);
          if (bits == 32) row.push_back(static_cast<uint8_t>(x * 80));
        }
        s.rows.push_back(row);
      }
      Loaded l;
      ASSERT_EQ(LoadWith(ReadBmpImage, MakeBmp(s), l.get()), 0);
      EXPECT_EQ(l.im.width, 3);
      EXPECT_EQ(l.im.height, 4);
      EXPECT_EQ(l.im.pitch, bits == 24 ? 12 : 12);
      EXPECT_EQ(l.im.format.bit_depth, bits);
      for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 3; ++x) {
          ExpectRgb(l.get(), x, y, ColourAt(x, y));
          if (bits == 32) {
            EXPECT_EQ(PixelAt(l.get(), x, y).a, x * 80);
          }
        }
    }
  }
}

// Most writers leave the fourth byte of a 32-bit bitmap 0: such a file is
// opaque; one non-zero fourth byte makes the bytes an alpha channel.
TEST(BmpLoader, ThirtyTwoBitAlphaOnlyWhenAnyFourthByteIsSet) {
  for (int alpha_pixel : {-1, 5}) {
    BmpSpec s;
    s.width = 3;
    s.height = 2;
    s.bits = 32;
    for (int y = 0; y < 2; ++y) {
      Bytes row;
      for (int x = 0; x < 3; ++x) {
        const uint32_t c = ColourAt(x, y);
        row.insert(row.end(), {uint8_t(c & 255), uint8_t(c >> 8 & 255), uint8_t(c >> 16 & 255),
                               uint8_t(y * 3 + x == alpha_pixel ? 1 : 0)});
      }
      s.rows.push_back(row);
    }
    Loaded l;
    ASSERT_EQ(LoadWith(ReadBmpImage, MakeBmp(s), l.get()), 0);
    EXPECT_EQ(l.im.format.bit_depth, 32);
    EXPECT_EQ(l.im.format.width_a, alpha_pixel < 0 ? 0 : 8);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 3; ++x) {
        ExpectRgb(l.get(), x, y, ColourAt(x, y));
        const int a = alpha_pixel < 0 ? 255 : y * 3 + x == alpha_pixel ? 1 : 0;
        EXPECT_EQ(PixelAt(l.get(), x, y).a, a) << x << "," << y;
      }
  }
}

TEST(BmpLoader, PalettedUncompressed) {
  for (int bits : {1, 4, 8}) {
    for (int width : {5, 9, 17}) {
      BmpSpec s;
      s.width = width;
      s.height = 3;
      s.bits = bits;
      s.palette = Palette(1 << bits);
      for (int y = 0; y < 3; ++y) s.rows.push_back(PackIndices(width, y, bits));
      Loaded l;
      ASSERT_EQ(LoadWith(ReadBmpImage, MakeBmp(s), l.get()), 0) << bits;
      for (int y = 0; y < 3; ++y)
        for (int x = 0; x < width; ++x) ExpectRgb(l.get(), x, y, s.palette[IndexAt(x, y, bits)]);
      if (bits == 4) {
        EXPECT_EQ(l.im.format.bytes_per_pixel, 1);
        EXPECT_EQ(l.im.pitch, (width + 3) / 4 * 4);
        EXPECT_EQ(l.im.pixels[0], IndexAt(0, 0, 4));
      }
      if (bits == 1) {
        EXPECT_EQ(l.im.format.bit_depth, 24);  // through the DIB section
      }
    }
  }
}

TEST(BmpLoader, ShortPaletteAndLongHeader) {
  // 8 bits with only 4 palette entries, in a 124-byte header.
  BmpSpec s;
  s.width = 4;
  s.height = 2;
  s.bits = 8;
  s.header_size = 124;
  s.palette = {0xFF0000, 0x00FF00, 0x0000FF, 0x123456};
  s.rows = {{0, 1, 2, 3}, {3, 2, 1, 0}};
  Loaded l;
  ASSERT_EQ(LoadWith(ReadBmpImage, MakeBmp(s), l.get()), 0);
  ExpectRgb(l.get(), 3, 0, 0x123456);
  ExpectRgb(l.get(), 0, 1, 0x123456);
  ExpectRgb(l.get(), 2, 1, 0x00FF00);
  EXPECT_EQ(l.im.format.palette[200].r, 0);
}

TEST(BmpLoader, SixteenBitAndBitFields) {
  struct Case {
    int bits;
    uint32_t compression;
    uint32_t masks[3];
    uint32_t header;
  };
  const Case cases[] = {
      {16, 0, {0, 0, 0}, 40},
      {16, 3, {0xF800, 0x07E0, 0x001F}, 40},
      {16, 3, {0x0F00, 0x00F0, 0x000F}, 108},
      {32, 3, {0xFF0000, 0xFF00, 0xFF}, 40},
      {32, 3, {0x3FF00000, 0xFFC00, 0x3FF}, 124},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bits * 1000 + c.compression * 100 + c.header);
    uint32_t masks[3] = {c.masks[0], c.masks[1], c.masks[2]};
    if (c.compression == 0) {
      masks[0] = 0x7C00;
      masks[1] = 0x03E0;
      masks[2] = 0x001F;
    }
    BmpSpec s;
    s.width = 5;
    s.height = 3;
    s.bits = c.bits;
    s.compression = c.compression;
    s.header_size = c.header;
    std::memcpy(s.masks, c.masks, sizeof(masks));
    std::vector<uint32_t> want;
    for (int y = 0; y < 3; ++y) {
      Bytes row;
      for (int x = 0; x < 5; ++x) {
        uint32_t colour = ColourAt(x, y);
        uint32_t px = 0;
        uint32_t expect = 0;
        for (int ch = 0; ch < 3; ++ch) {
          uint32_t m = masks[ch];
          int shift = __builtin_ctz(m);
          uint32_t max = m >> shift;
          uint32_t v8 = colour >> (16 - 8 * ch) & 255;
          uint32_t v = v8 * max / 255;
          px |= v << shift;
          expect |= static_cast<uint32_t>((v * 255 + max / 2) / max) << (16 - 8 * ch);
        }
        want.push_back(expect);
        for (int k = 0; k < c.bits / 8; ++k) row.push_back(static_cast<uint8_t>(px >> (8 * k)));
      }
      s.rows.push_back(row);
    }
    Loaded l;
    ASSERT_EQ(LoadWith(ReadBmpImage, MakeBmp(s), l.get()), 0);
    EXPECT_EQ(l.im.format.bit_depth, 24);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 5; ++x) ExpectRgb(l.get(), x, y, want[y * 5 + x]);
  }
}

TEST(BmpLoader, Rle8WorkedExample) {
  // 03 41 00 00 02 42 00 01 on a 4 x 2 bottom-up image.
  BmpSpec s;
  s.width = 4;
  s.height = 2;
  s.bits = 8;
  s.compression = 1;
  s.palette = Palette(256);
  s.rle = {0x03, 0x41, 0x00, 0x00, 0x02, 0x42, 0x00, 0x01};
  Loaded l;
  ASSERT_EQ(LoadWith(ReadBmpImage, MakeBmp(s), l.get()), 0);
  const uint8_t top[4] = {0x42, 0x42, 0, 0}, bottom[4] = {0x41, 0x41, 0x41, 0};
  EXPECT_EQ(std::memcmp(l.im.pixels, top, 4), 0);
  EXPECT_EQ(std::memcmp(l.im.pixels + l.im.pitch, bottom, 4), 0);
}

TEST(BmpLoader, RleDeltaLiteralsAndOverruns) {
  // RLE8: literal run of 3 (padded), delta (2, 1), a run to the row end;
  // a run past the row end is damage.
  BmpSpec s;
  s.width = 4;
  s.height = 3;
  s.bits = 8;
  s.compression = 1;
  s.palette = Palette(256);
  s.rle = {0x00, 0x03, 7, 8, 9, 0x00, 0x00, 0x00, 0x00, 0x02, 0x02, 0x01, 0x03, 5, 0x00, 0x01};
  Loaded l;
  EXPECT_EQ(LoadWith(ReadBmpImage, MakeBmp(s), l.get()), kImageDamaged);
  s.rle[12] = 0x02;
  ASSERT_EQ(LoadWith(ReadBmpImage, MakeBmp(s), l.get()), 0);
  // Walk: bottom row (image row 2): 7 8 9 0; then row 1 from (0): delta
  // (2, 1) moves to column 2 of row 0 (top), where two fives end the row.
  const uint8_t r2[4] = {7, 8, 9, 0}, r1[4] = {0, 0, 0, 0}, r0[4] = {0, 0, 5, 5};
  EXPECT_EQ(std::memcmp(l.im.pixels + 2 * l.im.pitch, r2, 4), 0);
  EXPECT_EQ(std::memcmp(l.im.pixels + 1 * l.im.pitch, r1, 4), 0);
  EXPECT_EQ(std::memcmp(l.im.pixels, r0, 4), 0);

  // RLE4: a run alternating nibbles, then a literal of 5 nibbles.
  BmpSpec f;
  f.width = 7;
  f.height = 2;
  f.bits = 4;
  f.compression = 2;
  f.palette = Palette(16);
  f.rle = {0x03, 0x12, 0x00, 0x00, 0x00, 0x05, 0xAB, 0xCD, 0xE0, 0x00, 0x00, 0x01};
  Loaded m;
  ASSERT_EQ(LoadWith(ReadBmpImage, MakeBmp(f), m.get()), 0);
  EXPECT_EQ(m.im.pitch, 8);
  const uint8_t bottom[7] = {1, 2, 1, 0, 0, 0, 0}, top[7] = {0xA, 0xB, 0xC, 0xD, 0xE, 0, 0};
  EXPECT_EQ(std::memcmp(m.im.pixels + m.im.pitch, bottom, 7), 0);
  EXPECT_EQ(std::memcmp(m.im.pixels, top, 7), 0);
}

TEST(BmpLoader, BadFilesAreRefused) {
  BmpSpec s;
  s.width = 3;
  s.height = 2;
  s.rows = {Bytes(9, 1), Bytes(9, 2)};
  Bytes good = MakeBmp(s);
  Loaded l;
  Bytes not_bmp = good;
  not_bmp[0] = 'X';
  EXPECT_EQ(LoadWith(ReadBmpImage, not_bmp, l.get()), -1);
  Bytes short_data(good.begin(), good.end() - 5);
  EXPECT_EQ(LoadWith(ReadBmpImage, short_data, l.get()), kImageDamaged);
  Bytes huge = good;
  huge[18] = 0xFF;  // width far beyond the data
  huge[19] = 0xFF;
  huge[20] = 0x7F;
  EXPECT_EQ(LoadWith(ReadBmpImage, huge, l.get()), kImageDamaged);
  Bytes core = good;
  core[14] = 12;  // an OS/2 core header: a layout left to others
  EXPECT_EQ(LoadWith(ReadBmpImage, core, l.get()), -1);
  Bytes offset = good;
  offset[10] = 0xF0;  // pixel data past the end
  offset[11] = 0xFF;
  EXPECT_EQ(LoadWith(ReadBmpImage, offset, l.get()), kImageDamaged);
  Bytes jpeg_in_bmp = good;
  jpeg_in_bmp[30] = 4;  // compression 4: not understood
  EXPECT_EQ(LoadWith(ReadBmpImage, jpeg_in_bmp, l.get()), -1);
  // Run-length data that stops on its first row, with no end marker.
  BmpSpec rle;
  rle.width = 4;
  rle.height = 3;
  rle.bits = 8;
  rle.compression = 1;
  rle.palette = Palette(256);
  rle.rle = {0x00, 0x03, 7, 8, 9, 0x00, 0x00, 0x00};
  EXPECT_EQ(LoadWith(ReadBmpImage, MakeBmp(rle), l.get()), kImageDamaged);
  EXPECT_EQ(l.im.pixels, nullptr);
}

// ---- TGA ----------------------------------------------------------------------

Bytes TrueColourPixels(int width, int height, int bpp) {
  Bytes d;
  for (int i = 0; i < width * height; ++i) {
    uint32_t c = ColourAt(i % width, i / width);
    d.push_back(c & 255);
    d.push_back(c >> 8 & 255);
    d.push_back(c >> 16 & 255);
    if (bpp == 4) d.push_back(static_cast<uint8_t>(i * 13));
  }
  return d;
}

TEST(TgaLoader, TrueColourOrientations) {
  const int w = 5, h = 3;
  Bytes stored = TrueColourPixels(w, h, 3);
  for (int descriptor : {0x00, 0x20, 0x30, 0x10}) {
    Loaded l;
    ASSERT_EQ(LoadWith(ReadTgaImage, MakeTga(2, w, h, 24, descriptor, {}, 0, 0, stored, descriptor == 0),
                       l.get()),
              0);
    EXPECT_EQ(l.im.pitch, 15);
    for (int r = 0; r < h; ++r)
      for (int c = 0; c < w; ++c) {
        int y = (descriptor & 0x20) ? r : h - 1 - r;
        int x = (descriptor & 0x10) ? w - 1 - c : c;
        ExpectRgb(l.get(), x, y, ColourAt(c, r));
      }
  }
}

TEST(TgaLoader, RunLengthTrueColourAndSixteenBit) {
  // A run packet 0x83 with one 32-bit pixel writes it four times.
  Bytes data{0x83, 0x10, 0x20, 0x30, 0x40, 0x01, 1, 2, 3, 4, 5, 6, 7, 8};
  Loaded l;
  ASSERT_EQ(LoadWith(ReadTgaImage, MakeTga(10, 3, 2, 32, 0x28, {}, 0, 0, data, true), l.get()), 0);
  for (int i = 0; i < 4; ++i) {
    Rgba c = PixelAt(l.get(), i % 3, i / 3);
    EXPECT_EQ(c, (Rgba{0x30, 0x20, 0x10, 0x40}));
  }
  EXPECT_EQ(PixelAt(l.get(), 2, 1), (Rgba{7, 6, 5, 8}));

  // Without a footer the data's last bytes are pixels too.
  Bytes d16{0x81, 0x1F, 0x7C, 0x00, 0xE0, 0x03};
  Loaded m;
  ASSERT_EQ(LoadWith(ReadTgaImage, MakeTga(10, 3, 1, 16, 0x20, {}, 0, 0, d16, false), m.get()), 0);
  EXPECT_EQ(m.im.format.unused_mask, 0x8000u);
  EXPECT_EQ(PixelAt(m.get(), 0, 0), (Rgba{255, 0, 255, 0}));
  EXPECT_EQ(PixelAt(m.get(), 2, 0), (Rgba{0, 255, 0, 0}));
}

TEST(TgaLoader, ColourMapped) {
  Bytes map;
  for (int i = 0; i < 4; ++i) {
    map.push_back(static_cast<uint8_t>(i * 10));
    map.push_back(static_cast<uint8_t>(i * 20));
    map.push_back(static_cast<uint8_t>(i * 30));
  }
  Bytes raw{0, 1, 2, 3, 3, 2};
  Loaded l;
  ASSERT_EQ(LoadWith(ReadTgaImage, MakeTga(1, 3, 2, 8, 0x20, map, 24, 4, raw, false), l.get()), 0);
  EXPECT_EQ(l.im.format.bit_depth, 24);
  EXPECT_EQ(PixelAt(l.get(), 2, 0), (Rgba{60, 40, 20, 255}));
  Bytes rle{0x82, 1, 0x02, 3, 0, 2};  // run of three 1s, then 3, 0, 2
  Loaded m;
  ASSERT_EQ(LoadWith(ReadTgaImage, MakeTga(9, 3, 2, 8, 0x20, map, 24, 4, rle, false), m.get()), 0);
  EXPECT_EQ(PixelAt(m.get(), 1, 0), (Rgba{30, 20, 10, 255}));
  EXPECT_EQ(PixelAt(m.get(), 0, 1), (Rgba{90, 60, 30, 255}));
  EXPECT_EQ(PixelAt(m.get(), 2, 1), (Rgba{60, 40, 20, 255}));
  // Entries starting at index 2 of the map.
  Loaded n;
  ASSERT_EQ(LoadWith(ReadTgaImage, MakeTga(1, 3, 2, 8, 0x20, map, 24, 4, raw, false, 2), n.get()), 0);
  EXPECT_EQ(PixelAt(n.get(), 2, 0), (Rgba{0, 0, 0, 255}));
  EXPECT_EQ(PixelAt(n.get(), 0, 1), (Rgba{30, 20, 10, 255}));
}

TEST(TgaLoader, EmbeddedDefaultTextures) {
  // 8 x 8 opaque white in one run packet, with the footer.
  Bytes white{0xBF, 0xFF, 0xFF, 0xFF, 0xFF};
  Bytes file = MakeTga(10, 8, 8, 32, 0x08, {}, 0, 0, white, true);
  file.erase(file.begin() + 18, file.begin() + 20);  // no image ID
  file[0] = 0;
  Loaded l;
  ASSERT_EQ(LoadBytes(file, l.get()), 0);
  EXPECT_EQ(l.im.format.mask_a, 0xFF000000u);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(GetBaseImagePixel(l.get(), i % 8, i / 8), 0xFFFFFFFFu);
}

TEST(TgaLoader, BadFilesAreRefused) {
  Bytes stored = TrueColourPixels(4, 2, 3);
  Loaded l;
  EXPECT_EQ(LoadWith(ReadTgaImage, MakeTga(3, 4, 2, 8, 0, {}, 0, 0, Bytes(8, 1), false), l.get()), -1);
  Bytes origin = MakeTga(2, 4, 2, 24, 0, {}, 0, 0, stored, false);
  origin[8] = 5;
  EXPECT_EQ(LoadWith(ReadTgaImage, origin, l.get()), -1);
  EXPECT_EQ(LoadWith(ReadTgaImage, MakeTga(2, 8193, 1, 24, 0, {}, 0, 0, Bytes(8193 * 3), false), l.get()),
            -1);
  Bytes truncated = MakeTga(2, 4, 2, 24, 0, {}, 0, 0, stored, false);
  truncated.resize(truncated.size() - 1);
  EXPECT_EQ(LoadWith(ReadTgaImage, truncated, l.get()), kImageDamaged);
  // A run-length image whose packets end early.
  EXPECT_EQ(LoadWith(ReadTgaImage, MakeTga(10, 4, 2, 24, 0, {}, 0, 0, Bytes{0x81, 1, 2, 3}, false), l.get()),
            kImageDamaged);
  // A colour map that overruns 256 entries.
  EXPECT_EQ(LoadWith(ReadTgaImage, MakeTga(1, 1, 1, 8, 0, Bytes(3 * 10, 0), 24, 10, Bytes{0}, false, 250),
                     l.get()),
            -1);
  EXPECT_EQ(l.im.pixels, nullptr);
}

}  // namespace
