// platform/gdi/dib.cpp - DIB to 24-bit conversion.
#include "platform/gdi/dib.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace plat {

struct DibSection {
  int width;
  int height;
  int row_bytes;
  uint8_t* bits;
};

DibSection* CreateDibSection24(int width, int height) {
  if (width <= 0 || height <= 0) return nullptr;
  const int64_t row = (int64_t{width} * 3 + 3) / 4 * 4;
  if (row > INT32_MAX || row * height > (int64_t{1} << 32)) return nullptr;
  auto* s = new (std::nothrow) DibSection{width, height, static_cast<int>(row), nullptr};
  if (!s) return nullptr;
  s->bits = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(row * height), 1));
  if (!s->bits) {
    delete s;
    return nullptr;
  }
  return s;
}

void GetDibSectionInfo(const DibSection* section, int* row_bytes, int* height, uint8_t** bits) {
  if (row_bytes) *row_bytes = section->row_bytes;
  if (height) *height = section->height;
  if (bits) *bits = section->bits;
}

void DeleteDibSection(DibSection* section) {
  if (!section) return;
  std::free(section->bits);
  delete section;
}

namespace {

struct Channel {
  uint32_t mask;
  int shift;
  uint32_t max;
};

Channel MakeChannel(uint32_t mask) {
  Channel c{mask, 0, 0};
  if (!mask) return c;
  while (!(mask & (1u << c.shift))) ++c.shift;
  c.max = mask >> c.shift;
  return c;
}

// A channel value scaled to 0..255, rounded to nearest (5-bit values come out
// as their bits repeated: 31 -> 255, 16 -> 132).
inline uint8_t Scale(uint32_t pixel, const Channel& c) {
  if (!c.max) return 0;
  uint64_t v = (pixel & c.mask) >> c.shift;
  return static_cast<uint8_t>((v * 255 + c.max / 2) / c.max);
}

}  // namespace

int SetDibBitsToSection(DibSection* section, const void* info_void, size_t info_size,
                        const void* bits_void, size_t bits_size) {
  if (!section || !info_void || !bits_void || info_size < sizeof(BitmapInfoHeader)) return 0;
  BitmapInfoHeader h;
  std::memcpy(&h, info_void, sizeof(h));
  const uint8_t* extra = static_cast<const uint8_t*>(info_void) + sizeof(h);
  const size_t extra_size = info_size - sizeof(h);
  const uint8_t* bits = static_cast<const uint8_t*>(bits_void);
  if (h.width <= 0 || h.height == 0 || h.height == INT32_MIN) return 0;
  const int bpp = h.bit_count;
  const int64_t width = h.width;
  const int64_t height = h.height < 0 ? -int64_t{h.height} : h.height;
  const int64_t pitch = ((bpp * width + 7) / 8 + 3) / 4 * 4;
  if (pitch * height > static_cast<int64_t>(bits_size)) return 0;

  Channel r{}, g{}, b{};
  RgbQuad table[256] = {};
  if (bpp == 1 || bpp == 4 || bpp == 8) {
    if (h.compression != kBiRgb) return 0;
    size_t entries = std::min<size_t>(size_t{1} << bpp, extra_size / 4);
    std::memcpy(table, extra, entries * 4);
  } else if (bpp == 16 || bpp == 32) {
    if (h.compression == kBiBitfields) {
      if (extra_size < 12) return 0;
      uint32_t m[3];
      std::memcpy(m, extra, 12);
      r = MakeChannel(m[0]);
      g = MakeChannel(m[1]);
      b = MakeChannel(m[2]);
    } else if (h.compression == kBiRgb) {
      r = MakeChannel(bpp == 16 ? 0x7C00 : 0xFF0000);
      g = MakeChannel(bpp == 16 ? 0x03E0 : 0xFF00);
      b = MakeChannel(bpp == 16 ? 0x001F : 0xFF);
    } else {
      return 0;
    }
  } else if (bpp == 24) {
    if (h.compression != kBiRgb) return 0;
  } else {
    return 0;
  }

  const int rows = static_cast<int>(std::min<int64_t>(height, section->height));
  const int cols = static_cast<int>(std::min<int64_t>(width, section->width));
  for (int y = 0; y < rows; ++y) {
    // Output row y shows the image's row y counted from the top.
    const int64_t file_row = h.height > 0 ? height - 1 - y : y;
    const uint8_t* src = bits + file_row * pitch;
    uint8_t* out = section->bits + static_cast<int64_t>(y) * section->row_bytes;
    for (int x = 0; x < cols; ++x) {
      uint8_t* o = out + x * 3;
      switch (bpp) {
        case 1:
        case 4:
        case 8: {
          const int per_byte = 8 / bpp;
          const int shift = 8 - bpp * (x % per_byte + 1);
          const int index = (src[x / per_byte] >> shift) & ((1 << bpp) - 1);
          o[0] = table[index].blue;
          o[1] = table[index].green;
          o[2] = table[index].red;
          break;
        }
        case 24:
          o[0] = src[x * 3];
          o[1] = src[x * 3 + 1];
          o[2] = src[x * 3 + 2];
          break;
        default: {
          const uint8_t* p = src + x * (bpp / 8);
          uint32_t v = bpp == 16 ? static_cast<uint32_t>(p[0] | p[1] << 8)
                                 : static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                                       static_cast<uint32_t>(p[2]) << 16 |
                                       static_cast<uint32_t>(p[3]) << 24;
          o[0] = Scale(v, b);
          o[1] = Scale(v, g);
          o[2] = Scale(v, r);
          break;
        }
      }
    }
  }
  return rows;
}

}  // namespace plat
