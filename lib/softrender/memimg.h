// lib/softrender/memimg.h - software images: the MEMIMG view record and the
// shared, reference-counted MemImgBase behind it, with creation, views of a
// rectangle, release, a raw fill, a rectangle copy and the conversion of a
// decoded image (which also builds the run table and the premultiplied copy
// the kernels use).
#pragma once

#include <cstdint>

#include "lib/core/math3d.h"
#include "lib/image/base_image.h"
#include "lib/image/pixel_format.h"

constexpr uint32_t kMemImgCheck = 0x12345678;

// Pixel formats of a MemImgBase.
enum : int32_t {
  kMemImgRgb565 = 0,  // B bits 0-4, G 5-10, R 11-15; with alpha a 32-bit word, alpha in bits 16-23
  kMemImg32 = 1,      // bytes B, G, R, A (A meaningful only with the alpha flag)
  kMemImgByte = 2,    // one byte a pixel, no palette, no alpha
  kMemImgWord = 3,    // two bytes a pixel, no palette, no alpha
};

// Run-table control bytes: (kind << 6) | (length - 1), length 1 to 64.
enum : uint8_t {
  kRunTransparent = 0,  // skipped
  kRunOpaque = 1,       // drawn as it is
  kRunTranslucent = 2,  // blended by its alpha
  kRunEnd = 3,          // end of row: the byte 0xC0
};
constexpr uint8_t kRunEndByte = 0xC0;

// Shared by a MEMIMG and all views derived from it; zero-filled on allocation.
struct MemImgBase {
  int32_t reference_count;
  int32_t width;
  int32_t height;
  int32_t pitch;        // bytes per row
  int32_t pitch_shift;  // n when the pitch is 2^n, else -1
  const PixelFormatInfo* format_info;  // GetDefaultPixelFormatInfo(format, alpha, paletted)
  uint32_t colour_key;  // transparent colour in the pixel format, or a palette index
  int32_t pixel_format; // kMemImg...
  int32_t paletted;     // 1: one palette index byte a pixel
  int32_t palette_entries_used;
  int32_t alpha;        // 1: the pixels carry alpha
  int32_t premultiplied_valid;
  int32_t run_table_valid;
  int32_t caller_owned_pixels;
  uint8_t* palette;       // 2048 bytes: 256 entries (B, G, R, 0 or RGB565 words) in the first 1024
  uint8_t* palette_copy;  // palette + 1024
  uint8_t* pixel_block;   // pitch x height
  uint8_t* premultiplied_block;  // pitch x height, or null
  uint8_t* run_table;     // (width + 5) x height, or null
};

// A view of a rectangle of a MemImgBase (the whole image for a created one).
struct MEMIMG {
  uint32_t check;  // kMemImgCheck while initialised, 0 after release
  int32_t width;
  int32_t height;
  uint8_t* pixels;                // first pixel of this view
  uint8_t* premultiplied_pixels;  // the same pixel in the premultiplied copy, or null
  MemImgBase* base;
};

// Bytes one pixel takes in a MEMIMG of these settings.
int MemImgBytesPerPixel(int format, int paletted, int alpha);

// pitch -1: the row size rounded up to 16 bytes. pixels null: the pixel block
// is allocated here; otherwise it belongs to the caller. alloc_extra asks
// for the premultiplied copy (alpha images) and the run table (formats other
// than 2). 0, or -1 when the record is already initialised or an allocation
// fails.
int InitMemImg(MEMIMG* mem_img, int width, int height, int pitch, uint32_t colour_key, int format,
               int paletted, int alpha, int alloc_extra, void* pixels);
// Zero-fills the record and makes a plain image; format -1 follows the screen
// depth (0 at 16 bits, else 1).
int CreateMemImg(MEMIMG* mem_img, int width, int height, int format);
// Makes view show (x, y, width, height) of source, sharing its pixels; a
// rectangle outside the source leaves view untouched.
void DeriveMemImg(MEMIMG* view, const MEMIMG* source, int x, int y, int width, int height);
int IsValidMemImg(const MEMIMG* mem_img);
// Drops this view; the shared pixels go with the last one.
void ReleaseMemImg(MEMIMG* mem_img);
// Writes value to every pixel of rect (null: the whole image), clipped to
// the image, as 1, 2 or 4 bytes.
void FillMemImgRawRect(MEMIMG* mem_img, const IntRect* rect, uint32_t value);
// Copies rect of source (null: the whole source) to (x, y) of destination,
// converting between their formats; the conversion blit's result.
int CopyMemImgRect(MEMIMG* destination, const MEMIMG* source, const IntRect* rect, int x, int y);
// Writes (sx, sy, width, height) of image (with alpha_image's red channel as
// alpha when given) to (dx, dy) of mem_img. A whole-image write of a format 0
// or 1 image with a run table rebuilds the run table (and the premultiplied
// copy). Negative when the conversion fails, else 0.
int ConvertBaseImageToMemImg(const BaseImage* image, const BaseImage* alpha_image, MEMIMG* mem_img, int sx,
                             int sy, int width, int height, int dx, int dy, int key_to_alpha);
// Rebuilds the run table (and the premultiplied copy when present) from the
// current pixels of a format 0 or 1 image; 0, or -1 without a run table.
int BuildMemImgRunTable(MemImgBase* base);
