// platform/gdi/dib.h - device-independent bitmaps: the header layout of Windows
// bitmaps and a small converter that renders a DIB of any common layout into
// a 24-bit top-down memory bitmap, the work the library otherwise hands to
// GDI's DIB sections.
//
// Owns: the memory of the 24-bit sections it creates.
// Does not own: the caller's DIB header or bits.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plat {

// Compression values of a bitmap header.
constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiRle8 = 1;
constexpr uint32_t kBiRle4 = 2;
constexpr uint32_t kBiBitfields = 3;

// The 40-byte bitmap information header, little-endian in files.
struct BitmapInfoHeader {
  uint32_t size;
  int32_t width;
  int32_t height;  // positive: rows bottom up; negative: top down
  uint16_t planes;
  uint16_t bit_count;
  uint32_t compression;
  uint32_t size_image;
  int32_t x_pels_per_meter;
  int32_t y_pels_per_meter;
  uint32_t clr_used;
  uint32_t clr_important;
};
static_assert(sizeof(BitmapInfoHeader) == 40, "bitmap header is 40 bytes");

// A colour-table entry: B, G, R, reserved.
struct RgbQuad {
  uint8_t blue;
  uint8_t green;
  uint8_t red;
  uint8_t reserved;
};

// A 24-bit top-down bitmap in memory (B, G, R per pixel, rows padded to 4).
struct DibSection;

// Null when the size is not positive or the memory cannot be had.
DibSection* CreateDibSection24(int width, int height);
// Row size in bytes (a multiple of 4), height and the first row.
void GetDibSectionInfo(const DibSection* section, int* row_bytes, int* height, uint8_t** bits);
void DeleteDibSection(DibSection* section);

// Renders a DIB onto the section at (0, 0): info is the header followed by its
// colour table (bit counts 1, 4, 8: up to 2^bits entries within info_size) or
// its three channel masks (kBiBitfields); bits holds bits_size bytes of rows.
// Uncompressed 1, 4, 8, 16, 24 and 32 bits and bit-field 16 and 32 bits are
// understood. Returns the number of rows drawn, 0 when the layout is not
// understood or bits_size is shorter than the rows.
int SetDibBitsToSection(DibSection* section, const void* info, size_t info_size, const void* bits,
                        size_t bits_size);

}  // namespace plat
