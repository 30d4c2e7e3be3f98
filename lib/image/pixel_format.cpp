// lib/image/pixel_format.cpp - pixel-format descriptions and colour packing.
#include "lib/image/pixel_format.h"

#include <cstring>

namespace {

// Lowest set bit and the length of the run of set bits from there.
void MaskShiftWidth(uint32_t mask, uint8_t* shift, uint8_t* width) {
  *shift = 0;
  *width = 0;
  if (mask == 0) return;
  int s = 0;
  while (!(mask & (1u << s))) ++s;
  int w = 0;
  while (s + w < 32 && (mask & (1u << (s + w)))) ++w;
  *shift = static_cast<uint8_t>(s);
  *width = static_cast<uint8_t>(w);
}

uint32_t DepthMask(int bit_depth) {
  if (bit_depth >= 32) return 0xFFFFFFFFu;
  if (bit_depth <= 0) return 0;
  return (1u << bit_depth) - 1;
}

// An 8-bit component narrowed (or, for channels wider than 8 bits, widened by
// a plain shift) to a channel of the given width.
uint32_t FitComponent(int value, int width) {
  uint32_t v = static_cast<uint32_t>(value) & 255u;
  if (width <= 0) return 0;
  if (width <= 8) return v >> (8 - width);
  if (width >= 32) return v << 24;
  return v << (width - 8);
}

// A channel value of the given width scaled to 0..255.
int ScaleTo255(uint32_t value, int width) {
  if (width <= 0) return 0;
  uint64_t max = (width >= 32) ? 0xFFFFFFFFull : ((1ull << width) - 1);
  return static_cast<int>(static_cast<uint64_t>(value) * 255u / max);
}

void SetRgb888Channels(PixelFormatInfo* info) {
  info->width_r = info->width_g = info->width_b = 8;
  info->shift_r = 16;
  info->shift_g = 8;
  info->shift_b = 0;
  info->mask_r = 0xFF0000;
  info->mask_g = 0xFF00;
  info->mask_b = 0xFF;
  info->width_a = 0;
  info->shift_a = 0;
  info->mask_a = 0;
  info->compression = kCompressionNone;
}

}  // namespace

int CreatePixelFormatInfoFromMasks(PixelFormatInfo* info, int bit_depth, uint32_t mask_r,
                                   uint32_t mask_g, uint32_t mask_b, uint32_t mask_a) {
  info->bit_depth = static_cast<uint16_t>(bit_depth);
  info->bytes_per_pixel = static_cast<uint16_t>(bit_depth / 8);
  info->mask_r = mask_r;
  info->mask_g = mask_g;
  info->mask_b = mask_b;
  info->mask_a = mask_a;
  MaskShiftWidth(mask_r, &info->shift_r, &info->width_r);
  MaskShiftWidth(mask_g, &info->shift_g, &info->width_g);
  MaskShiftWidth(mask_b, &info->shift_b, &info->width_b);
  MaskShiftWidth(mask_a, &info->shift_a, &info->width_a);
  info->unused_mask = DepthMask(bit_depth) & ~(mask_r | mask_g | mask_b | mask_a);
  MaskShiftWidth(info->unused_mask, &info->unused_shift, &info->unused_width);
  info->compression = kCompressionNone;
  return 0;
}

int SetPixelFormatInfoUnusedMask(PixelFormatInfo* info) {
  int total = info->width_r + info->width_g + info->width_b + info->width_a;
  if (total == info->bit_depth) {
    info->unused_mask = 0;
  } else {
    info->unused_mask =
        DepthMask(info->bit_depth) & ~(info->mask_r | info->mask_g | info->mask_b | info->mask_a);
  }
  return 0;
}

int SetPixelFormatInfoPal8(PixelFormatInfo* info) {
  info->bit_depth = 8;
  info->bytes_per_pixel = 1;
  SetRgb888Channels(info);
  info->unused_mask = 0xFF000000u;
  return 0;
}

int SetPixelFormatInfoGray8(PixelFormatInfo* info) {
  SetPixelFormatInfoPal8(info);
  for (int i = 0; i < 256; ++i) {
    uint8_t v = static_cast<uint8_t>(i);
    info->palette[i] = PaletteEntry{v, v, v, 0};
  }
  return 0;
}

int SetPixelFormatInfoRgb24(PixelFormatInfo* info) {
  info->bit_depth = 24;
  info->bytes_per_pixel = 3;
  SetRgb888Channels(info);
  info->unused_mask = 0;
  return 0;
}

int SetPixelFormatInfoXrgb8(PixelFormatInfo* info) {
  info->bit_depth = 32;
  info->bytes_per_pixel = 4;
  SetRgb888Channels(info);
  info->unused_mask = 0xFF000000u;
  info->unused_shift = 24;
  info->unused_width = 8;
  return 0;
}

int SetPixelFormatInfoArgb8(PixelFormatInfo* info) {
  info->bit_depth = 32;
  info->bytes_per_pixel = 4;
  SetRgb888Channels(info);
  info->width_a = 8;
  info->shift_a = 24;
  info->mask_a = 0xFF000000u;
  info->unused_mask = 0;
  return 0;
}

const PixelFormatInfo* GetDefaultPixelFormatInfo(int kind, int alpha, int paletted) {
  // Built once, on first use (thread-safe static initialisation).
  struct Defaults {
    PixelFormatInfo formats[2][2][2];  // [kind 0/1][alpha][paletted]
    PixelFormatInfo bytes1;
    PixelFormatInfo bytes2;
    Defaults() {
      std::memset(this, 0, sizeof(*this));
      for (int k = 0; k < 2; ++k) {
        uint32_t r = k == 0 ? 0xF800 : 0xFF0000;
        uint32_t g = k == 0 ? 0x07E0 : 0xFF00;
        uint32_t b = k == 0 ? 0x001F : 0xFF;
        for (int a = 0; a < 2; ++a) {
          uint32_t am = a ? (k == 0 ? 0x00FF0000u : 0xFF000000u) : 0;
          for (int p = 0; p < 2; ++p) {
            int depth = p ? 8 : ((k == 0 && !a) ? 16 : 32);
            CreatePixelFormatInfoFromMasks(&formats[k][a][p], depth, r, g, b, am);
          }
        }
      }
      bytes1.bit_depth = 8;
      bytes1.bytes_per_pixel = 1;
      bytes1.width_r = bytes1.width_g = bytes1.width_b = bytes1.width_a = 8;
      bytes1.mask_r = bytes1.mask_g = bytes1.mask_b = bytes1.mask_a = 0xFF;
      bytes2.bit_depth = 16;
      bytes2.bytes_per_pixel = 2;
      bytes2.width_r = bytes2.width_g = bytes2.width_b = bytes2.width_a = 16;
      bytes2.mask_r = bytes2.mask_g = bytes2.mask_b = bytes2.mask_a = 0xFFFF;
    }
  };
  static const Defaults defaults;
  switch (kind) {
    case 0:
    case 1:
      return &defaults.formats[kind][alpha ? 1 : 0][paletted ? 1 : 0];
    case 2:
      return &defaults.bytes1;
    case 3:
      return &defaults.bytes2;
    default:
      return nullptr;
  }
}

uint32_t GetPixelFormatInfoPixelCode(const PixelFormatInfo* info, int r, int g, int b, int a) {
  if (info->bytes_per_pixel == 1) {
    int rr = r & 255, gg = g & 255, bb = b & 255;
    int best = 0xFFFFFF;
    uint32_t best_index = 0;
    for (int i = 0; i < 256; ++i) {
      const PaletteEntry& e = info->palette[i];
      int dr = e.r - rr, dg = e.g - gg, db = e.b - bb;
      int d = dr * dr + dg * dg + db * db;
      if (d < best) {
        best = d;
        best_index = static_cast<uint32_t>(i);
      }
    }
    return best_index;
  }
  uint32_t value = (FitComponent(b, info->width_b) << info->shift_b) +
                   (FitComponent(g, info->width_g) << info->shift_g) +
                   (FitComponent(r, info->width_r) << info->shift_r) + info->unused_mask;
  if (info->width_a != 0) value += FitComponent(a, info->width_a) << info->shift_a;
  return value;
}

int GetPixelFormatInfoRgba(const PixelFormatInfo* info, uint32_t pixel, int* r, int* g, int* b,
                           int* a) {
  uint32_t vr = (pixel & info->mask_r) >> info->shift_r;
  uint32_t vg = (pixel & info->mask_g) >> info->shift_g;
  uint32_t vb = (pixel & info->mask_b) >> info->shift_b;
  uint32_t va = (pixel & info->mask_a) >> info->shift_a;
  if (info->width_r == 8 && info->width_g == 8 && info->width_b == 8) {
    if (r) *r = static_cast<int>(vr);
    if (g) *g = static_cast<int>(vg);
    if (b) *b = static_cast<int>(vb);
    if (a && info->width_a != 0) {
      *a = info->width_a == 8 ? static_cast<int>(va) : ScaleTo255(va, info->width_a);
    }
    return 0;
  }
  // A channel of width 0 reads as 0 (no division by zero).
  if (r) *r = ScaleTo255(vr, info->width_r);
  if (g) *g = ScaleTo255(vg, info->width_g);
  if (b) *b = ScaleTo255(vb, info->width_b);
  if (a) *a = ScaleTo255(va, info->width_a);
  return 0;
}
