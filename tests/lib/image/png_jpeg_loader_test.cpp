// PNG and JPEG loaders on files written here with libpng and libjpeg, checked
// against the written values and against the libraries' own decoding.
#include <gtest/gtest.h>

#include <random>

#include <cstdio>
#include <string>

#include <zlib.h>


#include "lib/core/memory.h"
#include "tests/support/log_capture.h"
#include "tests/lib/image/image_files.h"

using namespace imgtest;

namespace {

struct Loaded {
  BaseImage im;
  Loaded() { std::memset(&im, 0, sizeof(im)); }
  ~Loaded() { FreeBaseImagePixels(&im); }
  BaseImage* get() { return &im; }
};

uint32_t To8(uint32_t v, int depth) {
  if (depth == 16) return v >> 8;
  return v * 255 / ((1u << depth) - 1);
}

std::vector<png_color> MakePalette(int n) {
  std::vector<png_color> p;
  for (int i = 0; i < n; ++i) {
    p.push_back(png_color{static_cast<png_byte>(i * 3 + 1), static_cast<png_byte>(i * 5 + 2),
                          static_cast<png_byte>(255 - i)});
  }
  return p;
}

TEST(PngLoader, GreyAtEveryDepth) {
  for (int depth : {1, 2, 4, 8, 16}) {
    for (bool interlace : {false, true}) {
      PngSpec s;
      s.colour_type = PNG_COLOR_TYPE_GRAY;
      s.bit_depth = depth;
      s.interlace = interlace;
      Loaded l;
      ASSERT_EQ(LoadBytes(WritePng(s), l.get()), 0) << depth;
      EXPECT_EQ(l.im.format.bytes_per_pixel, 1);
      EXPECT_EQ(l.im.format.palette[200].g, 200);  // the grey palette
      for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x) {
          EXPECT_EQ(l.im.pixels[y * l.im.pitch + x], To8(Sample(x, y, 0, depth), depth))
              << depth << " " << x << "," << y;
        }
    }
  }
}

TEST(PngLoader, TrueColourWithAndWithoutAlpha) {
  for (int type : {PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_RGB_ALPHA}) {
    for (int depth : {8, 16}) {
      for (bool interlace : {false, true}) {
        PngSpec s;
        s.colour_type = type;
        s.bit_depth = depth;
        s.interlace = interlace;
        Loaded l;
        ASSERT_EQ(LoadBytes(WritePng(s), l.get()), 0);
        const bool alpha = type == PNG_COLOR_TYPE_RGB_ALPHA;
        EXPECT_EQ(l.im.format.bit_depth, alpha ? 32 : 24);
        EXPECT_EQ(l.im.pitch, 5 * (alpha ? 4 : 3));  // not rounded
        for (int y = 0; y < s.height; ++y)
          for (int x = 0; x < s.width; ++x) {
            Rgba c = PixelAt(l.get(), x, y);
            Rgba want{static_cast<int>(To8(Sample(x, y, 0, depth), depth)),
                      static_cast<int>(To8(Sample(x, y, 1, depth), depth)),
                      static_cast<int>(To8(Sample(x, y, 2, depth), depth)),
                      alpha ? static_cast<int>(To8(Sample(x, y, 3, depth), depth)) : 255};
            EXPECT_EQ(c, want) << x << "," << y;
          }
      }
    }
  }
}

TEST(PngLoader, PalettesWithAndWithoutTransparency) {
  for (int depth : {1, 2, 4, 8}) {
    PngSpec s;
    s.colour_type = PNG_COLOR_TYPE_PALETTE;
    s.bit_depth = depth;
    s.palette = MakePalette(std::min(16, 1 << depth));
    Loaded l;
    ASSERT_EQ(LoadBytes(WritePng(s), l.get()), 0);
    EXPECT_EQ(l.im.format.bytes_per_pixel, 1);
    EXPECT_EQ(l.im.format.palette[16].r, 0);  // beyond the file's entries: black
    EXPECT_EQ(l.im.format.palette[1].r, 4);
    EXPECT_EQ(l.im.format.palette[1].b, 255 - 1);
    EXPECT_EQ(l.im.format.palette[1].x, 0);
    for (int y = 0; y < s.height; ++y)
      for (int x = 0; x < s.width; ++x) {
        EXPECT_EQ(l.im.pixels[y * l.im.pitch + x], Sample(x, y, 0, depth) % s.palette.size());
      }
  }
  // With tRNS the palette is expanded to A8R8G8B8.
  PngSpec t;
  t.colour_type = PNG_COLOR_TYPE_PALETTE;
  t.bit_depth = 4;
  t.interlace = true;
  t.palette = MakePalette(16);
  t.trns = {0, 128, 255, 7};
  Bytes file = WritePng(t);
  Loaded l;
  ASSERT_EQ(LoadBytes(file, l.get()), 0);
  EXPECT_EQ(l.im.format.bit_depth, 32);
  EXPECT_EQ(l.im.format.mask_a, 0xFF000000u);
  // libpng's own simplified reading gives the same RGBA pixels.
  png_image ref;
  std::memset(&ref, 0, sizeof(ref));
  ref.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_memory(&ref, file.data(), file.size()));
  ref.format = PNG_FORMAT_RGBA;
  Bytes rgba(PNG_IMAGE_SIZE(ref));
  ASSERT_TRUE(png_image_finish_read(&ref, nullptr, rgba.data(), 0, nullptr));
  for (int i = 0; i < t.width * t.height; ++i) {
    Rgba c = PixelAt(l.get(), i % t.width, i / t.width);
    EXPECT_EQ(c, (Rgba{rgba[i * 4], rgba[i * 4 + 1], rgba[i * 4 + 2], rgba[i * 4 + 3]})) << i;
  }
}

TEST(PngLoader, GreyAlphaAndColourKeys) {
  // Grey and alpha: 16-bit grey format, the alpha byte unused.
  PngSpec ga;
  ga.colour_type = PNG_COLOR_TYPE_GRAY_ALPHA;
  Loaded l;
  ASSERT_EQ(LoadBytes(WritePng(ga), l.get()), 0);
  EXPECT_EQ(l.im.format.bit_depth, 16);
  EXPECT_EQ(l.im.format.unused_mask, 0xFF00u);
  EXPECT_EQ(l.im.format.width_a, 0);
  Rgba c = PixelAt(l.get(), 2, 1);
  int grey = static_cast<int>(Sample(2, 1, 0, 8));
  EXPECT_EQ(c, (Rgba{grey, grey, grey, 255}));  // no alpha channel: opaque

  // RGB with a tRNS colour: that colour becomes transparent.
  PngSpec key;
  key.colour_type = PNG_COLOR_TYPE_RGB;
  key.has_trns_colour = true;
  key.trns_colour.red = static_cast<png_uint_16>(Sample(1, 1, 0, 8));
  key.trns_colour.green = static_cast<png_uint_16>(Sample(1, 1, 1, 8));
  key.trns_colour.blue = static_cast<png_uint_16>(Sample(1, 1, 2, 8));
  Loaded k;
  ASSERT_EQ(LoadBytes(WritePng(key), k.get()), 0);
  EXPECT_EQ(k.im.format.bit_depth, 32);
  EXPECT_EQ(PixelAt(k.get(), 1, 1).a, 0);
  EXPECT_EQ(PixelAt(k.get(), 2, 1).a, 255);
}

TEST(PngLoader, BrokenDataIsRefusedAndFreed) {
  PngSpec s;
  s.width = 40;
  s.height = 30;
  Bytes good = WritePng(s);
  Loaded l;
  // Without its whole signature the data is not a PNG file; with it, a cut
  // file is damaged and no other loader may take it.
  for (size_t cut : {size_t{0}, size_t{7}}) {
    Bytes part(good.begin(), good.begin() + static_cast<long>(cut));
    EXPECT_EQ(LoadWith(ReadPngImage, part, l.get()), -1) << cut;
  }
  for (size_t cut : {size_t{8}, size_t{40}, good.size() / 2, good.size() - 13}) {
    Bytes part(good.begin(), good.begin() + static_cast<long>(cut));
    EXPECT_EQ(LoadWith(ReadPngImage, part, l.get()), kImageDamaged) << cut;
  }
  // A text chunk whose length field claims 1.8 GiB in a 77-byte file.
  const Bytes claim{0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 0x0D, 'I', 'H', 'D', 'R', 0, 0,
                    0, 0x0D, 0, 0, 0, 0x07, 0x04, 0x03, 0, 0, 0, 0x21, 0x5E, 0xDA, 0x29, 0x6F, 0xC7, 0,
                    0, 't', 'E', 'X', 't', 'd', 'a', 't', 'e', ':', 'E', 0x82};
  EXPECT_EQ(LoadWith(ReadPngImage, claim, l.get()), kImageDamaged);
  Bytes crc = good;
  crc[good.size() / 2] ^= 0x40;  // inside the image data
  EXPECT_EQ(LoadWith(ReadPngImage, crc, l.get()), kImageDamaged);
  EXPECT_EQ(l.im.pixels, nullptr);
}

// A 40 x 30 file whose header is changed to claim 16000 x 16000 pixels: its few
// hundred bytes of image data could never fill that, so it is refused from the
// header alone instead of after allocating a gigabyte.
TEST(PngLoader, HeaderClaimingMorePixelsThanTheDataCanHoldIsRefused) {
  PngSpec s;
  s.width = 40;
  s.height = 30;
  Bytes file = WritePng(s);
  for (int i = 0; i < 2; ++i) {
    const uint32_t side = 16000;
    for (int b = 0; b < 4; ++b) file[16 + 4 * i + b] = static_cast<uint8_t>(side >> (24 - 8 * b));
  }
  const uLong crc = crc32(0, file.data() + 12, 17);  // "IHDR" and its 13 bytes
  for (int b = 0; b < 4; ++b) file[29 + b] = static_cast<uint8_t>(crc >> (24 - 8 * b));
  testsupport::LogCapture log;
  Loaded l;
  EXPECT_EQ(LoadWith(ReadPngImage, file, l.get()), kImageDamaged);
  EXPECT_NE(log.Debug().find("image data too short"), std::string::npos);
  EXPECT_EQ(l.im.pixels, nullptr);
}

// ---- JPEG ---------------------------------------------------------------------

TEST(JpegLoader, GreyColourAndProgressiveMatchLibjpeg) {
  struct Case {
    int components;
    J_COLOR_SPACE space;
    bool progressive;
  };
  // A small picture, and larger ones of random sizes that take several
  // buffer refills and many batches of rows.
  std::mt19937 rng(12);
  for (int size = 0; size < 3; ++size)
  for (const Case& k : {Case{1, JCS_GRAYSCALE, false}, Case{3, JCS_RGB, false}, Case{3, JCS_RGB, true},
                        Case{1, JCS_GRAYSCALE, true}}) {
    const int w = size == 0 ? 37 : 1 + static_cast<int>(rng() % 900);
    const int h = size == 0 ? 21 : 1 + static_cast<int>(rng() % 300);
    Bytes file = WriteJpeg(w, h, k.components, k.space, k.progressive);
    Loaded l;
    ASSERT_EQ(LoadBytes(file, l.get()), 0);
    int comps = 0;
    Bytes ref = ReferenceJpeg(file, &comps);
    ASSERT_EQ(comps, k.components);
    EXPECT_EQ(l.im.pitch, w * comps);  // not rounded
    EXPECT_EQ(l.im.format.bit_depth, comps == 1 ? 8 : 24);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const uint8_t* r = &ref[(static_cast<size_t>(y) * w + x) * comps];
        Rgba c = PixelAt(l.get(), x, y);
        if (comps == 1) {
          EXPECT_EQ(c, (Rgba{r[0], r[0], r[0], 0})) << x << "," << y;
        } else {
          EXPECT_EQ(c, (Rgba{r[0], r[1], r[2], 255})) << x << "," << y;
        }
      }
  }
}

// A file cut short loads as libjpeg makes it with an end marker in place of
// the missing data (grey rows, or a coarser picture for a progressive one),
// and says so. A CMYK file, which only the movie path draws, is refused when
// cut: that path would draw what it could decode of it.
TEST(JpegLoader, TruncatedFilesLoadAsLibjpegFillsThem) {
  for (bool progressive : {false, true}) {
    Bytes file = WriteJpeg(64, 64, 3, JCS_RGB, progressive);
    Bytes part(file.begin(), file.begin() + static_cast<long>(file.size() / 2));
    Loaded l;
    ASSERT_EQ(LoadWith(ReadJpegImage, part, l.get()), 0) << progressive;
    EXPECT_NE(ImageIncompleteNote(), nullptr);
    int comps = 0;
    Bytes ref = ReferenceJpeg(part, &comps);
    for (int y = 0; y < 64; ++y)
      for (int x = 0; x < 64; ++x) {
        const uint8_t* r = &ref[(static_cast<size_t>(y) * 64 + x) * 3];
        ASSERT_EQ(PixelAt(l.get(), x, y), (Rgba{r[0], r[1], r[2], 255})) << progressive << " " << x << "," << y;
      }
    Bytes cmyk = WriteJpeg(64, 64, 4, JCS_CMYK, progressive);
    Bytes cmyk_part(cmyk.begin(), cmyk.begin() + static_cast<long>(cmyk.size() / 2));
    EXPECT_EQ(LoadWith(ReadJpegImage, cmyk_part, l.get()), kImageDamaged) << progressive;
    EXPECT_EQ(l.im.pixels, nullptr);
  }
}

TEST(JpegLoader, EmptyCmykAndBrokenDataAreRefused) {
  Loaded l;
  EXPECT_EQ(LoadWith(ReadJpegImage, Bytes{}, l.get()), -1);
  EXPECT_EQ(LoadWith(ReadJpegImage, Bytes{0xFF}, l.get()), -1);
  EXPECT_EQ(LoadWith(ReadJpegImage, Bytes{0xFF, 0xD8}, l.get()), kImageDamaged);
  EXPECT_EQ(LoadWith(ReadPngImage, Bytes{}, l.get()), -1);
  // A whole CMYK file is left to the movie path.
  Bytes cmyk = WriteJpeg(8, 8, 4, JCS_CMYK, false);
  EXPECT_EQ(LoadWith(ReadJpegImage, cmyk, l.get()), -1);
  Bytes file = WriteJpeg(16, 16, 3, JCS_RGB, false);
  // A frame header claiming 65000 x 65000 pixels is refused as too large before decoding.
  Bytes huge = file;
  for (size_t i = 0; i + 8 < huge.size(); ++i) {
    if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {
      huge[i + 5] = huge[i + 7] = 0xFD;
      huge[i + 6] = huge[i + 8] = 0xE8;
      break;
    }
  }
  EXPECT_EQ(LoadWith(ReadJpegImage, huge, l.get()), kImageTooLarge);
  Bytes header_only(file.begin(), file.begin() + 30);
  EXPECT_EQ(LoadWith(ReadJpegImage, header_only, l.get()), kImageDamaged);
  EXPECT_EQ(l.im.pixels, nullptr);
}

}  // namespace
