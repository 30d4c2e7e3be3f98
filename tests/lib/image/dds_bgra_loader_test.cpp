// DDS and raw BGRA loaders, the loader walk, the common load and the DIB form.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "lib/core/memory.h"
#include "lib/image/dxt_decode.h"
#include "platform/gdi/dib.h"
#include "tests/lib/image/image_files.h"

using namespace imgtest;

namespace {

struct Loaded {
  BaseImage im;
  Loaded() { std::memset(&im, 0, sizeof(im)); }
  ~Loaded() { FreeBaseImagePixels(&im); }
  BaseImage* get() { return &im; }
};

constexpr uint32_t kMipFlags = 0x1007 | 0x20000;
constexpr uint32_t kMipCaps = 0x1000 | 0x8 | 0x400000;

TEST(DdsLoader, DxtLevelsAreSizedByTheirBlocks) {
  // DXT3 8 x 8 with 4 levels: 64 + 16 + 16 + 16 bytes.
  Bytes data(112);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  Loaded l;
  ASSERT_EQ(LoadWith(ReadDdsImage, MakeDds(8, 8, kMipFlags, 0, 4, 0x4, "DXT3", 0, 0, nullptr, kMipCaps, data),
                     l.get()),
            0);
  EXPECT_EQ(l.im.format.compression, 3u);
  EXPECT_EQ(l.im.format.bit_depth, 8);
  EXPECT_EQ(l.im.pitch, 0);
  EXPECT_EQ(l.im.mip_count, 4);
  EXPECT_EQ(GetBaseImageDataSize(l.get()), 112u);
  EXPECT_EQ(std::memcmp(l.im.pixels, data.data(), 112), 0);
  // One byte short of the last level is refused.
  Bytes short_data(111);
  EXPECT_EQ(LoadWith(ReadDdsImage,
                     MakeDds(8, 8, kMipFlags, 0, 4, 0x4, "DXT3", 0, 0, nullptr, kMipCaps, short_data),
                     l.get()),
            -1);
  // Without both caps bits the count does not count.
  Loaded m;
  ASSERT_EQ(LoadWith(ReadDdsImage, MakeDds(8, 8, kMipFlags, 0, 4, 0x4, "DXT1", 0, 0, nullptr, 0x8, Bytes(32)),
                     m.get()),
            0);
  EXPECT_EQ(m.im.mip_count, 0);
  EXPECT_EQ(m.im.format.bit_depth, 4);
}

TEST(DdsLoader, DecodedBlocksMatchTheBlockDecoder) {
  // A 6 x 6 DXT5 image holds 2 x 2 blocks; every pixel decodes.
  Bytes data(64);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 31 + 5);
  Loaded l;
  ASSERT_EQ(LoadWith(ReadDdsImage, MakeDds(6, 6, 0x1007, 0, 0, 0x4, "DXT5", 0, 0, nullptr, 0, data, 'X'),
                     l.get()),
            0);  // only three magic bytes are compared
  ASSERT_EQ(DecompressDxtBaseImage(l.get()), 0);
  for (int b = 0; b < 4; ++b) {
    uint32_t px[16];
    DecodeDxtBlock(5, data.data() + b * 16, px);
    for (int i = 0; i < 16; ++i) {
      int x = (b % 2) * 4 + i % 4, y = (b / 2) * 4 + i / 4;
      if (x < 6 && y < 6) {
        EXPECT_EQ(GetBaseImagePixel(l.get(), x, y), px[i]);
      }
    }
  }
}

TEST(DdsLoader, UncompressedLayouts) {
  const uint32_t argb[4] = {0xFF0000, 0xFF00, 0xFF, 0xFF000000u};
  Bytes data;
  for (int i = 0; i < 6; ++i) Put32(data, 0x80000000u | static_cast<uint32_t>(i * 0x010203));
  Loaded l;
  ASSERT_EQ(LoadWith(ReadDdsImage, MakeDds(3, 2, 0x1007, 0, 0, 0x40, nullptr, 0, 32, argb, 0, data), l.get()),
            0);
  EXPECT_EQ(l.im.pitch, 12);
  EXPECT_EQ(l.im.format.mask_a, 0xFF000000u);
  EXPECT_EQ(GetBaseImagePixel(l.get(), 2, 1), 0x80000000u | 5 * 0x010203);

  // A pitch from the header wider than the row.
  Bytes padded(2 * 16, 0xEE);
  Loaded p;
  ASSERT_EQ(LoadWith(ReadDdsImage, MakeDds(3, 2, 0x1007 | 0x8, 16, 0, 0x40, nullptr, 0, 32, argb, 0, padded),
                     p.get()),
            0);
  EXPECT_EQ(p.im.pitch, 16);
  // A header pitch narrower than the row is refused.
  EXPECT_EQ(LoadWith(ReadDdsImage, MakeDds(3, 2, 0x1007 | 0x8, 8, 0, 0x40, nullptr, 0, 32, argb, 0, padded),
                     p.get()),
            -1);

  // Numeric format code 23 (RGB565).
  Bytes d16;
  Put16(d16, 0xF800);
  Put16(d16, 0x001F);
  Loaded n;
  ASSERT_EQ(LoadWith(ReadDdsImage, MakeDds(2, 1, 0x1007, 0, 0, 0x4, nullptr, 23, 0, nullptr, 0, d16), n.get()),
            0);
  EXPECT_EQ(n.im.format.mask_g, 0x07E0u);
  EXPECT_EQ(GetBaseImagePixel(n.get(), 0, 0), 0x00F80000u);
  // An unknown code is refused.
  EXPECT_EQ(LoadWith(ReadDdsImage, MakeDds(2, 1, 0x1007, 0, 0, 0x4, nullptr, 99, 0, nullptr, 0, d16), n.get()),
            -1);
  // Neither four-character code nor RGB masks.
  EXPECT_EQ(LoadWith(ReadDdsImage, MakeDds(2, 1, 0x1007, 0, 0, 0x2, nullptr, 0, 16, nullptr, 0, d16), n.get()),
            -1);
}

TEST(DdsLoader, HeaderSizesAreCheckedAgainstTheData) {
  Loaded l;
  EXPECT_EQ(LoadWith(ReadDdsImage, MakeDds(0x7FFFFFFF, 0x7FFFFFFF, 0x1007, 0, 0, 0x4, "DXT1", 0, 0, nullptr, 0,
                                           Bytes(64)),
                     l.get()),
            -1);
  EXPECT_EQ(LoadWith(ReadDdsImage, MakeDds(4, 4, kMipFlags, 0, 40, 0x4, "DXT1", 0, 0, nullptr, kMipCaps,
                                           Bytes(4096)),
                     l.get()),
            -1);  // more levels than a 4 x 4 image has
  EXPECT_EQ(LoadWith(ReadDdsImage, MakeDds(0, 4, 0x1007, 0, 0, 0x4, "DXT1", 0, 0, nullptr, 0, Bytes(64)),
                     l.get()),
            -1);
  EXPECT_EQ(l.im.pixels, nullptr);
}

TEST(BgraLoader, EightAndSixteenBitSamples) {
  Loaded l;
  Bytes eight{1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_EQ(LoadWith(ReadBgraImage, MakeBgra(0x08080808, 2, 1, eight), l.get()), 0);
  EXPECT_EQ(l.im.pitch, 8);
  EXPECT_EQ(std::memcmp(l.im.pixels, eight.data(), 8), 0);
  EXPECT_EQ(l.im.format.mask_a, 0xFF000000u);

  Bytes sixteen;
  for (uint32_t v : {0x1234u, 0xABCDu, 0x00FFu, 0xFFFFu}) Put16(sixteen, v);
  Loaded m;
  ASSERT_EQ(LoadWith(ReadBgraImage, MakeBgra(0x10101010, 1, 1, sixteen), m.get()), 0);
  EXPECT_EQ(GetBaseImagePixel(m.get(), 0, 0), 0xFF00AB12u);

  EXPECT_EQ(LoadWith(ReadBgraImage, MakeBgra(0x08080810, 1, 1, eight), m.get()), -1);
  EXPECT_EQ(LoadWith(ReadBgraImage, MakeBgra(0x08080808, 3, 1, eight), m.get()), -1);  // short data
  EXPECT_EQ(LoadWith(ReadBgraImage, MakeBgra(0x08080808, 0x40000000, 0x40000000, eight), m.get()), -1);
  EXPECT_EQ(LoadWith(ReadBgraImage, MakeBgra(0x08080808, 0, 1, eight), m.get()), -1);
}

TEST(ImageLoad, WalkOffersFailedBmpToTheOthersFromTheStart) {
  // "BM" at the start of a raw BGRA-looking file cannot be BMP: a TGA whose
  // ID field begins "BM" is decoded by the TGA loader.
  Bytes tga = MakeTga(2, 1, 1, 24, 0x20, {}, 0, 0, Bytes{1, 2, 3}, true);
  tga[0] = 'B';  // ID length 66
  tga[1] = 'M';  // colour-map type 77: ignored for true colour without a length
  tga.insert(tga.begin() + 18, 64, 0);
  tga[5] = tga[6] = 0;
  Loaded l;
  ASSERT_EQ(LoadBytes(tga, l.get()), 0);
  EXPECT_EQ(PixelAt(l.get(), 0, 0), (Rgba{3, 2, 1, 255}));
  Loaded none;
  EXPECT_EQ(LoadBytes(Bytes{'B', 'M', 0, 0}, none.get()), -1);
  EXPECT_EQ(LoadBytes(Bytes{}, none.get()), -1);
  EXPECT_EQ(none.im.pixels, nullptr);
}

TEST(ImageLoad, CoreLoadMirrorsAndMakesDibs) {
  // A DXT1 image loaded with mirror comes back 32-bit, mirrored.
  Bytes block{0x00, 0xF8, 0x1F, 0x00, 0x00, 0x00, 0x00, 0x00};  // red; column 0 index 0
  for (int i = 4; i < 8; ++i) block[i] = 0x54;                    // columns 1..3 index 1 (blue)
  Bytes dds = MakeDds(4, 4, 0x1007, 0, 0, 0x4, "DXT1", 0, 0, nullptr, 0, block);
  Loaded l;
  ASSERT_EQ(LoadBaseImageNoAlpha(nullptr, dds.data(), dds.size(), 1, l.get(), 1), 0);
  EXPECT_EQ(l.im.format.compression, 0u);
  EXPECT_EQ(GetBaseImagePixel(l.get(), 3, 0), 0xFFFF0000u);
  EXPECT_EQ(GetBaseImagePixel(l.get(), 0, 0), 0xFF0000FFu);

  // DIB form of a 3 x 2 24-bit BMP: pitch 12 equals the DIB pitch, so the
  // image's own block is handed out.
  BmpSpec s;
  s.width = 3;
  s.height = 2;
  s.rows = {Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9}, Bytes{9, 8, 7, 6, 5, 4, 3, 2, 1}};
  Bytes bmp = MakeBmp(s);
  void* info = nullptr;
  void* pixels = nullptr;
  ASSERT_EQ(LoadBaseImageCore(nullptr, bmp.data(), bmp.size(), 1, 1, 0, nullptr, &info, &pixels), 0);
  plat::BitmapInfoHeader h;
  std::memcpy(&h, info, sizeof(h));
  EXPECT_EQ(h.size, 40u);
  EXPECT_EQ(h.height, -2);
  EXPECT_EQ(h.bit_count, 24);
  EXPECT_EQ(static_cast<uint8_t*>(pixels)[12], 9);
  TrackedFree(info);
  TrackedFree(pixels);

  // A 32-bit image is converted to a 24-bit copy.
  Loaded argb;
  ASSERT_EQ(CreateArgb8BaseImage(2, 1, argb.get()), 0);
  SetBaseImagePixel(argb.get(), 1, 0, 10, 20, 30, 40);
  uint8_t block_info[1068];
  void* rows = nullptr;
  ASSERT_EQ(ConvertBaseImageToDib(argb.get(), block_info, &rows, 0, 0), 1);
  EXPECT_EQ(static_cast<uint8_t*>(rows)[3], 30);
  EXPECT_EQ(static_cast<uint8_t*>(rows)[5], 10);
  TrackedFree(rows);
  // A paletted image keeps its palette and, with an equal pitch, its block.
  Loaded pal;
  PixelFormatInfo gray;
  SetPixelFormatInfoGray8(&gray);
  ASSERT_EQ(CreateBaseImageLike(4, 2, &gray, pal.get()), 0);
  ASSERT_EQ(ConvertBaseImageToDib(pal.get(), block_info, &rows, 0, 0), 0);
  EXPECT_EQ(rows, pal.im.pixels);
  EXPECT_EQ(block_info[40 + 4 * 9 + 2], 9);
  ASSERT_EQ(ConvertBaseImageToDib(pal.get(), block_info, &rows, 1, 0), 1);
  TrackedFree(rows);
}

TEST(ImageLoad, AlphaImageNamesAndFiles) {
  char out[64];
  MakeAlphaImageFileName("grp/tx_en1.png", out);
  EXPECT_STREQ(out, "grp/tx_en1_a.png");
  MakeAlphaImageFileName("a.b.png", out);
  EXPECT_STREQ(out, "a.b_a.png");
  MakeAlphaImageFileName("noext", out);
  EXPECT_STREQ(out, "noext_a");
  MakeAlphaImageFileName("", out);
  EXPECT_STREQ(out, "_a");
  // A double-byte character whose second byte is 0x5C stays whole.
  MakeAlphaImageFileName("\x95\x5C.png", out);
  EXPECT_STREQ(out, "\x95\x5C_a.png");

  Bytes bgra = MakeBgra(0x08080808, 1, 1, Bytes{1, 2, 3, 4});
  {
    std::ofstream f("alpha_main.bgra", std::ios::binary);
    f.write(reinterpret_cast<const char*>(bgra.data()), static_cast<std::streamsize>(bgra.size()));
  }
  Loaded main_image, alpha;
  EXPECT_EQ(LoadBaseImageFile("alpha_main.bgra", nullptr, 0, 0, nullptr, 0, 0, main_image.get(),
                              alpha.get(), 0),
            1);  // no "_a" file
  EXPECT_NE(main_image.im.pixels, nullptr);
  {
    std::ofstream f("alpha_main_a.bgra", std::ios::binary);
    f.write(reinterpret_cast<const char*>(bgra.data()), static_cast<std::streamsize>(bgra.size()));
  }
  Loaded m2, a2;
  EXPECT_EQ(LoadBaseImageFile("alpha_main.bgra", nullptr, 0, 0, nullptr, 0, 0, m2.get(), a2.get(), 0), 0);
  EXPECT_NE(a2.im.pixels, nullptr);
  Loaded m3, a3;
  EXPECT_EQ(LoadBaseImageFile(nullptr, bgra.data(), bgra.size(), 1, bgra.data(), bgra.size(), 1,
                              m3.get(), a3.get(), 0),
            0);
  Loaded m4, a4;
  EXPECT_EQ(LoadBaseImageFile(nullptr, bgra.data(), bgra.size(), 1, nullptr, 0, 7, m4.get(), a4.get(), 0),
            1);
  Loaded m5, a5;
  EXPECT_EQ(LoadBaseImageFile("missing.png", nullptr, 0, 0, nullptr, 0, 0, m5.get(), a5.get(), 0), -1);
  std::remove("alpha_main.bgra");
  std::remove("alpha_main_a.bgra");
}

}  // namespace
