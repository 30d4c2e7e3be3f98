// lib/image/pixel_format.h - pixel-format descriptions: channel widths,
// shifts and masks, a 256-entry palette and the compression kind, with the
// standard formats and the colour packing and unpacking between a format and
// 0..255 components.
#pragma once

#include <cstdint>

// Palette entries are stored B, G, R, fourth byte (0 in the grey palette).
struct PaletteEntry {
  uint8_t b;
  uint8_t g;
  uint8_t r;
  uint8_t x;
};

// Compression kinds of a PixelFormatInfo.
enum : uint32_t {
  kCompressionNone = 0,
  kCompressionDxt1 = 1,  // 8 bytes per 4 x 4 block
  kCompressionDxt2 = 2,  // 16 bytes per block from here on
  kCompressionDxt3 = 3,
  kCompressionDxt4 = 4,
  kCompressionDxt5 = 5,
};

// A plain record, copied by value as a whole.
struct PixelFormatInfo {
  uint16_t bit_depth;        // 8, 16, 24 or 32
  uint16_t bytes_per_pixel;  // 1 to 4
  uint8_t width_r, width_g, width_b, width_a;  // bits of each channel, 0 = absent
  uint8_t shift_r, shift_g, shift_b, shift_a;  // lowest bit of each channel
  uint32_t mask_r, mask_g, mask_b, mask_a;
  uint32_t unused_mask;      // packing a colour sets these bits to 1
  PaletteEntry palette[256]; // used when bytes_per_pixel is 1
  uint8_t unused_shift;
  uint8_t unused_width;
  uint32_t compression;      // kCompression...
};

// Fills bit depth, bytes per pixel, masks, shifts, widths, the unused mask with
// its shift and width, and compression 0. The palette is not touched.
int CreatePixelFormatInfoFromMasks(PixelFormatInfo* info, int bit_depth, uint32_t mask_r,
                                   uint32_t mask_g, uint32_t mask_b, uint32_t mask_a);
// Unused mask 0 when the channel widths fill the depth, else the depth's bits
// outside the channel masks.
int SetPixelFormatInfoUnusedMask(PixelFormatInfo* info);

int SetPixelFormatInfoPal8(PixelFormatInfo* info);
int SetPixelFormatInfoGray8(PixelFormatInfo* info);
int SetPixelFormatInfoRgb24(PixelFormatInfo* info);
int SetPixelFormatInfoXrgb8(PixelFormatInfo* info);
int SetPixelFormatInfoArgb8(PixelFormatInfo* info);

// The shared formats of software images: kind 0 (RGB565), 1 (X8R8G8B8), 2 (one
// byte a pixel), 3 (two bytes a pixel); null for a kind above 3.
const PixelFormatInfo* GetDefaultPixelFormatInfo(int kind, int alpha, int paletted);

// Packs a colour (low 8 bits of each component) into a pixel of the format; for
// one byte a pixel, the index of the nearest palette entry (lowest on a tie).
uint32_t GetPixelFormatInfoPixelCode(const PixelFormatInfo* info, int r, int g, int b, int a);
// Splits a pixel into 0..255 components; null outputs are skipped.
int GetPixelFormatInfoRgba(const PixelFormatInfo* info, uint32_t pixel, int* r, int* g, int* b,
                           int* a);
