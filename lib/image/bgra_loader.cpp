// lib/image/bgra_loader.cpp - the library's own raw image format: a 16-byte
// header ("BGRA", sample sizes, width, height) and rows of B, G, R, A samples
// of 8 or 16 bits, top row first.
#include <cstring>

#include "lib/core/log.h"
#include "lib/core/memory.h"
#include "lib/image/image_load.h"

namespace {

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

int ReadBgraImage(StreamReader* reader, BaseImage* image) {
  uint8_t header[16];
  if (!StreamReadExact(reader, header, sizeof(header))) return -1;
  if (std::memcmp(header, "BGRA", 4) != 0) return -1;
  const uint32_t samples = Le32(header + 4);
  if (samples != 0x08080808u && samples != 0x10101010u) return -1;
  const uint64_t width = Le32(header + 8), height = Le32(header + 12);
  const uint64_t sample_bytes = samples == 0x08080808u ? 1 : 2;
  const uint64_t out_bytes = width * height * 4;
  const int64_t remaining = StreamRemaining(reader);
  if (width <= 0x1FFFFFFF && height <= 0x7FFFFFFF && out_bytes > kMaxImageBytes && remaining >= 0 &&
      out_bytes * sample_bytes <= static_cast<uint64_t>(remaining)) {
    return ImageTooLarge("BGRA画像が大きすぎます\n");
  }
  if (width == 0 || height == 0 || width > 0x1FFFFFFF || height > 0x7FFFFFFF ||
      out_bytes > kMaxImageBytes || remaining < 0 ||
      out_bytes * sample_bytes > static_cast<uint64_t>(remaining)) {
    return WriteImageLogLine("BGRA画像のサイズがデータと合いません\n");
  }
  uint8_t* pixels = static_cast<uint8_t*>(RR_ALLOC(out_bytes));
  if (!pixels) return WriteImageLogLine("BGRA画像のメモリ確保に失敗しました\n");
  if (sample_bytes == 1) {
    if (!StreamReadExact(reader, pixels, out_bytes)) {
      RR_FREE(pixels);
      return -1;
    }
  } else {
    uint8_t* row = static_cast<uint8_t*>(RR_ALLOC(width * 8));
    if (!row) {
      RR_FREE(pixels);
      return WriteImageLogLine("BGRA画像のメモリ確保に失敗しました\n");
    }
    for (uint64_t y = 0; y < height; ++y) {
      if (!StreamReadExact(reader, row, width * 8)) {
        RR_FREE(row);
        RR_FREE(pixels);
        return -1;
      }
      uint8_t* out = pixels + y * width * 4;
      // The high byte of each little-endian 16-bit sample.
      for (uint64_t x = 0; x < width; ++x) {
        out[x * 4 + 0] = row[x * 8 + 1];
        out[x * 4 + 1] = row[x * 8 + 3];
        out[x * 4 + 2] = row[x * 8 + 5];
        out[x * 4 + 3] = row[x * 8 + 7];
      }
    }
    RR_FREE(row);
  }
  SetPixelFormatInfoArgb8(&image->format);
  image->width = static_cast<int32_t>(width);
  image->height = static_cast<int32_t>(height);
  image->pitch = static_cast<int32_t>(width * 4);
  image->pixels = pixels;
  image->mip_count = 0;
  return 0;
}
