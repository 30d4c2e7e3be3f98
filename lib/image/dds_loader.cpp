// lib/image/dds_loader.cpp - DDS files: DXT1 to DXT5 data is kept compressed,
// uncompressed data keeps its own colour layout; mip levels follow the first.
#include <cstring>

#include "lib/core/log.h"
#include "lib/core/memory.h"
#include "lib/image/image_load.h"

namespace {

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

constexpr uint32_t kFlagPitch = 0x8;
constexpr uint32_t kFlagMipMapCount = 0x20000;
constexpr uint32_t kPixelFourCc = 0x4;
constexpr uint32_t kPixelRgb = 0x40;
constexpr uint32_t kCapsComplex = 0x8;
constexpr uint32_t kCapsMipMap = 0x400000;

struct NumericFormat {
  uint32_t code;
  int depth;
  uint32_t r, g, b, a;
};

const NumericFormat kNumericFormats[] = {
    {20, 24, 0xFF0000, 0xFF00, 0xFF, 0},
    {21, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u},
    {22, 32, 0xFF0000, 0xFF00, 0xFF, 0},
    {23, 16, 0xF800, 0x07E0, 0x001F, 0},
    {24, 16, 0x7C00, 0x03E0, 0x001F, 0},
    {25, 16, 0x7C00, 0x03E0, 0x001F, 0x8000},
    {26, 16, 0x0F00, 0x00F0, 0x000F, 0xF000},
    {27, 8, 0xE0, 0x1C, 0x03, 0},
    {29, 16, 0xE0, 0x1C, 0x03, 0xFF00},
    {30, 16, 0x0F00, 0x00F0, 0x000F, 0},
    {31, 32, 0x3FF, 0xFFC00, 0x3FF00000, 0xC0000000u},
    {32, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000u},
    {33, 32, 0xFF, 0xFF00, 0xFF0000, 0},
    {35, 32, 0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000u},
    {0xFFFFFFFFu, 0, 0, 0, 0, 0},
};

}  // namespace

int ReadDdsImage(StreamReader* reader, BaseImage* image) {
  uint8_t magic[4];
  if (!StreamReadExact(reader, magic, 4) || std::memcmp(magic, "DDS", 3) != 0) return -1;
  uint8_t h[124];
  if (!StreamReadExact(reader, h, sizeof(h))) return -1;
  const uint32_t flags = Le32(h + 4);
  const uint32_t height = Le32(h + 8), width = Le32(h + 12);
  const uint32_t pitch_field = Le32(h + 16);
  const uint32_t mip_field = Le32(h + 24);
  const uint32_t pf_flags = Le32(h + 76), four_cc = Le32(h + 80), bits = Le32(h + 84);
  const uint32_t caps = Le32(h + 104);

  PixelFormatInfo& f = image->format;
  bool known = false;
  if (pf_flags == kPixelFourCc) {
    for (const NumericFormat* n = kNumericFormats; n->code != 0xFFFFFFFFu; ++n) {
      if (n->code == four_cc) {
        CreatePixelFormatInfoFromMasks(&f, n->depth, n->r, n->g, n->b, n->a);
        known = true;
        break;
      }
    }
  }
  uint32_t compression = kCompressionNone;
  if (pf_flags & kPixelFourCc) {
    if (std::memcmp(h + 80, "DXT", 3) == 0 && h[83] >= '1' && h[83] <= '5') {
      compression = static_cast<uint32_t>(h[83] - '0');
      std::memset(&f, 0, sizeof(f));
      SetPixelFormatInfoArgb8(&f);
    } else if (!known) {
      return -1;
    }
  } else if (pf_flags & kPixelRgb) {
    if (bits != 8 && bits != 16 && bits != 24 && bits != 32) return -1;
    CreatePixelFormatInfoFromMasks(&f, static_cast<int>(bits), Le32(h + 88), Le32(h + 92),
                                   Le32(h + 96), Le32(h + 100));
  } else {
    return -1;
  }

  int levels = 0;
  if ((flags & kFlagMipMapCount) && (caps & kCapsComplex) && (caps & kCapsMipMap)) {
    levels = static_cast<int>(mip_field > 32 ? 33 : mip_field);
  }
  if (width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF) {
    return WriteImageLogLine("DDSファイルの画像サイズが不正です\n");
  }
  // A level below 1 x 1 does not exist.
  int max_levels = 1;
  while (max_levels < 32 && ((width >> max_levels) | (height >> max_levels)) != 0) ++max_levels;
  if (levels > max_levels) return WriteImageLogLine("DDSファイルのミップマップ数が不正です\n");

  int64_t pitch = 0;
  if (compression != kCompressionNone) {
    CreatePixelFormatInfoFromMasks(&f, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u);
    f.compression = compression;
  } else {
    const uint64_t row = static_cast<uint64_t>(width) * f.bytes_per_pixel;
    pitch = (flags & kFlagPitch) ? pitch_field : static_cast<int64_t>(row);
    if (static_cast<uint64_t>(pitch) < row || pitch > 0x7FFFFFFF) {
      return WriteImageLogLine("DDSファイルのピッチが不正です\n");
    }
  }
  uint64_t size = 0;
  for (int level = 0; level < (levels < 2 ? 1 : levels); ++level) {
    size += GetBaseImageLevelSize(&f, static_cast<int>(width), static_cast<int>(height),
                                  static_cast<int>(pitch), level);
  }
  const int64_t remaining = StreamRemaining(reader);
  // Compressed pictures are drawn from their 32-bit form, which counts.
  const uint64_t picture = compression != kCompressionNone ? uint64_t{width} * height * 4 : size;
  if ((size > kMaxImageBytes || picture > kMaxImageBytes) && remaining >= 0 &&
      size <= static_cast<uint64_t>(remaining)) {
    return ImageTooLarge("DDSファイルの画像が大きすぎます\n");
  }
  if (size == 0 || size > kMaxImageBytes || remaining < 0 ||
      size > static_cast<uint64_t>(remaining)) {
    return WriteImageLogLine("DDSファイルのデータが足りません\n");
  }
  uint8_t* pixels = static_cast<uint8_t*>(RR_ALLOC(size));
  if (!pixels) return WriteImageLogLine("DDS画像のメモリ確保に失敗しました\n");
  if (!StreamReadExact(reader, pixels, size)) {
    RR_FREE(pixels);
    return -1;
  }
  if (compression != kCompressionNone) f.bit_depth = compression == kCompressionDxt1 ? 4 : 8;
  image->width = static_cast<int32_t>(width);
  image->height = static_cast<int32_t>(height);
  image->pitch = static_cast<int32_t>(pitch);
  image->pixels = pixels;
  image->mip_count = levels;
  return 0;
}
