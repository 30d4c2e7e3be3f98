// lib/image/dxt_decode.cpp - DXT1 to DXT5 block decoding.
#include "lib/image/dxt_decode.h"

#include <cstring>

#include "lib/core/memory.h"
#include "lib/image/base_image.h"

namespace {

inline uint32_t Le16(const uint8_t* p) { return static_cast<uint32_t>(p[0] | p[1] << 8); }
inline uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

struct Rgb {
  uint32_t r, g, b;
};

Rgb Widen565(uint32_t c) {
  return Rgb{((c >> 11) & 31) * 255 / 31, ((c >> 5) & 63) * 255 / 63, (c & 31) * 255 / 31};
}

inline uint32_t Argb(uint32_t a, const Rgb& c) { return a << 24 | c.r << 16 | c.g << 8 | c.b; }

// The colour half of a block: four palette colours chosen by 2-bit indices.
void DecodeColour(const uint8_t* block, bool four_always, uint32_t out[16]) {
  uint32_t c0 = Le16(block), c1 = Le16(block + 2);
  uint32_t indices = Le32(block + 4);
  Rgb p0 = Widen565(c0), p1 = Widen565(c1);
  uint32_t palette[4];
  palette[0] = Argb(255, p0);
  palette[1] = Argb(255, p1);
  if (c0 > c1 || four_always) {
    palette[2] = Argb(255, Rgb{(2 * p0.r + p1.r) / 3, (2 * p0.g + p1.g) / 3, (2 * p0.b + p1.b) / 3});
    palette[3] = Argb(255, Rgb{(p0.r + 2 * p1.r) / 3, (p0.g + 2 * p1.g) / 3, (p0.b + 2 * p1.b) / 3});
  } else {
    Rgb mid{(p0.r + p1.r) / 2, (p0.g + p1.g) / 2, (p0.b + p1.b) / 2};
    palette[2] = Argb(255, mid);
    palette[3] = Argb(0, mid);
  }
  for (int i = 0; i < 16; ++i) out[i] = palette[(indices >> (2 * i)) & 3];
}

inline void SetAlpha(uint32_t* px, uint32_t alpha) { *px = (*px & 0xFFFFFF) | alpha << 24; }

}  // namespace

void DecodeDxtBlock(uint32_t compression, const uint8_t* block, uint32_t out[16]) {
  if (compression == kCompressionDxt1) {
    DecodeColour(block, false, out);
    return;
  }
  DecodeColour(block + 8, true, out);
  if (compression == kCompressionDxt2 || compression == kCompressionDxt3) {
    for (int i = 0; i < 16; ++i) {
      uint32_t nibble = (block[i / 2] >> ((i & 1) * 4)) & 15;
      SetAlpha(&out[i], nibble * 255 / 15);
    }
  } else {
    uint32_t a0 = block[0], a1 = block[1];
    uint32_t table[8] = {a0, a1};
    if (a0 > a1) {
      for (int k = 1; k <= 6; ++k) table[k + 1] = ((7 - k) * a0 + k * a1) / 7;
    } else {
      for (int k = 1; k <= 4; ++k) table[k + 1] = ((5 - k) * a0 + k * a1) / 5;
      table[6] = 0;
      table[7] = 255;
    }
    uint32_t lo = block[2] | block[3] << 8 | block[4] << 16;
    uint32_t hi = block[5] | block[6] << 8 | block[7] << 16;
    for (int i = 0; i < 16; ++i) {
      uint32_t bits = i < 8 ? lo >> (3 * i) : hi >> (3 * (i - 8));
      SetAlpha(&out[i], table[bits & 7]);
    }
  }
  if (compression == kCompressionDxt2 || compression == kCompressionDxt4) {
    // Premultiplied colour back to straight colour; channels above their alpha
    // saturate.
    for (int i = 0; i < 16; ++i) {
      uint32_t a = out[i] >> 24;
      if (a == 0) continue;
      uint32_t c[3] = {(out[i] >> 16) & 255, (out[i] >> 8) & 255, out[i] & 255};
      for (uint32_t& v : c) {
        v = v * 255 / a;
        if (v > 255) v = 255;
      }
      out[i] = a << 24 | c[0] << 16 | c[1] << 8 | c[2];
    }
  }
}

int DecompressDxtBaseImage(BaseImage* image) {
  uint32_t compression = image->format.compression;
  if (compression == kCompressionNone) return 0;
  if (compression > kCompressionDxt5 || image->width <= 0 || image->height <= 0 || !image->pixels) {
    return -1;
  }
  const int w = image->width, h = image->height;
  const uint64_t bytes = static_cast<uint64_t>(w) * 4 * static_cast<uint64_t>(h);
  if (static_cast<uint64_t>(w) * 4 > INT32_MAX) return -1;
  uint8_t* out = static_cast<uint8_t*>(RR_ALLOC(static_cast<size_t>(bytes)));
  if (!out) return -1;
  const int block_bytes = compression == kCompressionDxt1 ? 8 : 16;
  // Partial blocks at the right and bottom edges are decoded too: the level
  // holds whole blocks that cover them.
  const int bw = (w + 3) / 4, bh = (h + 3) / 4;
  const int64_t pitch = int64_t{w} * 4;
  uint32_t px[16];
  for (int by = 0; by < bh; ++by) {
    for (int bx = 0; bx < bw; ++bx) {
      DecodeDxtBlock(compression, image->pixels + (int64_t{by} * bw + bx) * block_bytes, px);
      for (int y = 0; y < 4 && by * 4 + y < h; ++y) {
        for (int x = 0; x < 4 && bx * 4 + x < w; ++x) {
          uint8_t* d = out + (int64_t{by} * 4 + y) * pitch + (int64_t{bx} * 4 + x) * 4;
          uint32_t v = px[y * 4 + x];
          d[0] = static_cast<uint8_t>(v);
          d[1] = static_cast<uint8_t>(v >> 8);
          d[2] = static_cast<uint8_t>(v >> 16);
          d[3] = static_cast<uint8_t>(v >> 24);
        }
      }
    }
  }
  RR_FREE(image->pixels);
  image->pixels = out;
  SetPixelFormatInfoArgb8(&image->format);
  image->pitch = static_cast<int32_t>(pitch);
  image->mip_count = 0;
  return 0;
}
