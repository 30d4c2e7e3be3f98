// lib/image/convert_blit.h - the one rectangle copy between any two pixel
// layouts (8-bit paletted, 16, 24 and 32 bits with any masks), with
// mirroring, colour-key skipping, key or second image to alpha, one-channel
// output and dithering.
#pragma once

#include <cstdint>

#include "lib/image/pixel_format.h"

// Right and bottom are exclusive.
struct ImageRect {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};

enum : int {
  kDitherNone = 0,
  kDitherOrdered = 1,  // 4 x 4 ordered matrix
  kDitherCarry = 2,    // error carried along the row
};

// Copies src_rect of src to (dx, dy) of dst. alpha_src (may be null, and
// alpha_format with it) is an image of the source's size whose red channel
// becomes the destination's alpha. colour_key is an 0x00RRGGBB colour for
// key_to_alpha and a raw source pixel (or palette index) for skip_key.
// Returns 0; -1 for an empty rectangle or an unsupported combination; the
// plain paletted copy returns the highest palette index copied.
int ConvertPixelFormatBlit(void* dst, int dst_pitch, const PixelFormatInfo* dst_format,
                           const void* src, int src_pitch, const PixelFormatInfo* src_format,
                           const void* alpha_src, int alpha_pitch,
                           const PixelFormatInfo* alpha_format, int dx, int dy,
                           const ImageRect* src_rect, int mirror, int key_to_alpha,
                           uint32_t colour_key, int dither, int alpha_only, int alpha_from_red,
                           int skip_key, int remap_palette);
