// Files written by ImageMagick (tests/lib/image/data, made by make-data.sh)
// decode to the pixels of ImageMagick's own decoding.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "lib/core/memory.h"
#include "tests/lib/image/image_files.h"

using namespace imgtest;

namespace {

Bytes ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

struct Case {
  const char* name;
  int tolerance;  // 16-bit samples narrowed by truncation here, by rounding there
};

TEST(ReferenceFiles, DecodeLikeImageMagick) {
  const Case cases[] = {
      {"bmp3_1.bmp", 0},       {"bmp3_4.bmp", 0},      {"bmp3_8.bmp", 0},
      {"bmp3_rle8.bmp", 0},    {"bmp3_24.bmp", 0},     {"bmp4_24.bmp", 0},
      {"bmp4_32.bmp", 0},      {"tga_24.tga", 0},      {"tga_rle24.tga", 0},
      {"tga_rle32.tga", 0},    {"tga_pal.tga", 0},     {"dds_rgb.dds", 0},
      {"png_pal.png", 0},      {"png_rgba.png", 0},    {"png_grey16.png", 1},
      {"png_interlaced.png", 1}, {"jpeg_colour.jpg", 0}, {"jpeg_grey.jpg", 0},
      {"jpeg_progressive.jpg", 0},
  };
  const std::string dir = RORUD_SOURCE_DIR "/tests/lib/image/data/";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes file = ReadFile(dir + c.name);
    std::string base = c.name;
    Bytes ref = ReadFile(dir + base.substr(0, base.rfind('.')) + ".rgba");
    ASSERT_FALSE(file.empty());
    BaseImage image;
    ASSERT_EQ(LoadBytes(file, &image), 0);
    ASSERT_EQ(static_cast<size_t>(image.width) * image.height * 4, ref.size());
    const bool alpha = image.format.width_a > 0;
    int bad = 0;
    for (int i = 0; i < image.width * image.height && bad < 5; ++i) {
      Rgba got = PixelAt(&image, i % image.width, i / image.width);
      const uint8_t* want = &ref[static_cast<size_t>(i) * 4];
      const int* g = &got.r;
      for (int ch = 0; ch < (alpha ? 4 : 3); ++ch) {
        if (std::abs(g[ch] - want[ch]) > c.tolerance) {
          ADD_FAILURE() << "pixel " << i << " channel " << ch << ": " << g[ch] << " vs "
                        << static_cast<int>(want[ch]);
          ++bad;
        }
      }
    }
    FreeBaseImagePixels(&image);
  }
}

}  // namespace
