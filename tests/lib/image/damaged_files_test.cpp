// Truncated and bit-flipped variants of every kind of test image go through
// the whole loader table: each is refused or decoded, and a decoded image's
// whole pixel block can be read (the sanitizer build checks the reads).
#include <gtest/gtest.h>

#include <random>

#include "lib/core/memory.h"
#include "lib/image/dxt_decode.h"
#include "tests/lib/image/image_files.h"

using namespace imgtest;

namespace {

std::vector<std::pair<std::string, Bytes>> Corpus() {
  std::vector<std::pair<std::string, Bytes>> files;
  auto rows = [](int w, int h, int bytes) {
    std::vector<Bytes> r;
    for (int y = 0; y < h; ++y) {
      Bytes row(static_cast<size_t>(w) * bytes);
      for (size_t i = 0; i < row.size(); ++i) row[i] = static_cast<uint8_t>(i * 7 + y * 13);
      r.push_back(row);
    }
    return r;
  };
  std::vector<uint32_t> pal;
  for (int i = 0; i < 256; ++i) pal.push_back(static_cast<uint32_t>(i) * 0x010101);
  for (int bits : {1, 4, 8, 16, 24, 32}) {
    BmpSpec s;
    s.width = 7;
    s.height = 5;
    s.bits = bits;
    if (bits <= 8) s.palette.assign(pal.begin(), pal.begin() + (1 << bits));
    s.rows = rows(7, 5, (bits + 7) / 8);
    files.push_back({"bmp" + std::to_string(bits), MakeBmp(s)});
    s.top_down = true;
    files.push_back({"bmp-top" + std::to_string(bits), MakeBmp(s)});
  }
  BmpSpec rle8;
  rle8.width = 6;
  rle8.height = 4;
  rle8.bits = 8;
  rle8.compression = 1;
  rle8.palette = pal;
  rle8.rle = {3, 1, 0, 3, 4, 5, 6, 0, 0, 0, 0, 2, 1, 1, 9, 2, 0, 0, 6, 8, 0, 1};
  files.push_back({"rle8", MakeBmp(rle8)});
  BmpSpec rle4 = rle8;
  rle4.bits = 4;
  rle4.compression = 2;
  rle4.palette.resize(16);
  files.push_back({"rle4", MakeBmp(rle4)});
  BmpSpec fields;
  fields.width = 5;
  fields.height = 3;
  fields.bits = 16;
  fields.compression = 3;
  fields.masks[0] = 0xF800;
  fields.masks[1] = 0x07E0;
  fields.masks[2] = 0x001F;
  fields.rows = rows(5, 3, 2);
  files.push_back({"bitfields", MakeBmp(fields)});

  Bytes px;
  for (int i = 0; i < 6 * 4 * 4; ++i) px.push_back(static_cast<uint8_t>(i * 11));
  files.push_back({"tga2", MakeTga(2, 6, 4, 32, 0x08, {}, 0, 0, px, true)});
  files.push_back({"tga10", MakeTga(10, 6, 4, 24, 0x30, {}, 0, 0,
                                    Bytes{0x85, 1, 2, 3, 0x02, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0x8F, 9, 9, 9},
                                    true)});
  Bytes map(16 * 3);
  for (size_t i = 0; i < map.size(); ++i) map[i] = static_cast<uint8_t>(i * 5);
  files.push_back({"tga9", MakeTga(9, 6, 4, 8, 0, map, 24, 16, Bytes{0x97, 3}, false)});
  files.push_back({"tga1", MakeTga(1, 6, 4, 8, 0x20, map, 24, 16, Bytes(24, 2), false)});

  const uint32_t masks[4] = {0xF800, 0x07E0, 0x001F, 0};
  for (const char* cc : {"DXT1", "DXT3", "DXT5", "DXT2", "DXT4"}) {
    files.push_back({std::string("dds-") + cc,
                     MakeDds(8, 8, 0x1007 | 0x20000, 0, 4, 0x4, cc, 0, 0, nullptr, 0x401008,
                             Bytes(cc[3] == '1' ? 56 : 112, 0x5A))});
  }
  files.push_back({"dds-rgb", MakeDds(4, 2, 0x1007, 0, 0, 0x40, nullptr, 0, 16, masks, 0, Bytes(16, 0x33))});
  files.push_back({"bgra8", MakeBgra(0x08080808, 3, 2, Bytes(24, 0x44))});
  files.push_back({"bgra16", MakeBgra(0x10101010, 3, 2, Bytes(48, 0x45))});

  for (int type : {0, 2, 3, 4, 6}) {
    PngSpec s;
    s.colour_type = type;
    s.interlace = type == 2;
    if (type == 3) s.palette.assign(12, png_color{10, 20, 30});
    files.push_back({"png" + std::to_string(type), WritePng(s)});
  }
  files.push_back({"jpeg-grey", WriteJpeg(24, 16, 1, JCS_GRAYSCALE, false)});
  files.push_back({"jpeg-rgb", WriteJpeg(24, 16, 3, JCS_RGB, false)});
  files.push_back({"jpeg-progressive", WriteJpeg(24, 16, 3, JCS_RGB, true)});
  return files;
}

// Loads, reads every byte of the result and frees it.
void Exercise(const Bytes& data) {
  BaseImage image;
  if (LoadBytes(data, &image) != 0) {
    EXPECT_EQ(image.pixels, nullptr);
    return;
  }
  ASSERT_NE(image.pixels, nullptr);
  uint64_t size = GetBaseImageDataSize(&image);
  volatile uint8_t sum = 0;
  for (uint64_t i = 0; i < size; ++i) sum = static_cast<uint8_t>(sum + image.pixels[i]);
  if (DecompressDxtBaseImage(&image) == 0) {
    for (int y = 0; y < image.height; ++y)
      for (int x = 0; x < image.width; ++x) sum = static_cast<uint8_t>(sum + GetBaseImagePixel(&image, x, y));
  }
  FreeBaseImagePixels(&image);
}

TEST(DamagedFiles, EveryCorpusFileDecodes) {
  for (const auto& [name, data] : Corpus()) {
    BaseImage image;
    EXPECT_EQ(LoadBytes(data, &image), 0) << name;
    FreeBaseImagePixels(&image);
  }
}

TEST(DamagedFiles, TruncatedVariantsAreSafe) {
  for (const auto& [name, data] : Corpus()) {
    SCOPED_TRACE(name);
    const size_t step = std::max<size_t>(1, data.size() / 64);
    for (size_t cut = 0; cut < data.size(); cut += step) Exercise(Bytes(data.begin(), data.begin() + static_cast<long>(cut)));
  }
}

TEST(DamagedFiles, BitFlippedVariantsAreSafe) {
  std::mt19937 rng(2024);
  for (const auto& [name, data] : Corpus()) {
    SCOPED_TRACE(name);
    for (int n = 0; n < 150; ++n) {
      Bytes damaged = data;
      const int flips = 1 + static_cast<int>(rng() % 4);
      for (int f = 0; f < flips; ++f) {
        // Headers are where sizes live: favour the first 64 bytes.
        size_t at = (rng() & 1) ? rng() % std::min<size_t>(64, damaged.size()) : rng() % damaged.size();
        damaged[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
      }
      Exercise(damaged);
    }
  }
}

}  // namespace
