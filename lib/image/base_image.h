// lib/image/base_image.h - the decoded image record: pixel rows in system
// memory described by a PixelFormatInfo, and the small operations on it
// (creation and release, data size, pixel access, mirror, turn, clear,
// mip-map halving, rectangle copies).
#pragma once

#include <cstddef>
#include <cstdint>

#include "lib/image/pixel_format.h"

struct BaseImage {
  PixelFormatInfo format;
  int32_t width;
  int32_t height;
  int32_t pitch;      // bytes from one row to the next (0 for DXT data)
  uint8_t* pixels;    // the first row; owned, from TrackedAlloc
  int32_t mip_count;  // 0 or 1: one level; n > 1: n levels one after another
};

// Copies the whole format of source_info, sets pitch (bytes per pixel x width
// rounded up to 4) and mip-map count 0 and allocates pitch x height bytes.
int CreateBaseImageLike(int width, int height, const PixelFormatInfo* source_info,
                        BaseImage* image);
int CreateArgb8BaseImage(int width, int height, BaseImage* image);
int CreateXrgb8BaseImage(int width, int height, BaseImage* image);
// Frees the pixel block and zero-fills the record; returns 0.
int FreeBaseImagePixels(BaseImage* image);

// Bytes of one level: pitch x height for plain data, whole 4 x 4 blocks (partial
// blocks counted whole) for DXT data. Level n is the image halved n times
// (never below 1 x 1); plain levels after the first are rows of
// max(1, width >> n) pixels without padding.
uint64_t GetBaseImageLevelSize(const PixelFormatInfo* format, int width, int height, int pitch,
                               int level);
// Bytes of pixel data over all mip levels.
uint64_t GetBaseImageDataSize(const BaseImage* image);

// The pixel at (x, y) as an A8R8G8B8-ordered colour, without bound checks.
uint32_t GetBaseImagePixel(const BaseImage* image, int x, int y);
int SetBaseImagePixel(BaseImage* image, int x, int y, int r, int g, int b, int a);
int GetBaseImagePixelColor(BaseImage* image, int x, int y, int* r, int* g, int* b, int* a);
// Zero-fills a rectangle (clipped to the image); returns 0.
int ClearBaseImageRect(BaseImage* image, int x, int y, int w, int h);
int FlipBaseImageHorizontal(BaseImage* image);
int RotateBaseImage180(BaseImage* image);
// Writes the next mip level of a 16- or 32-bit image (width and height each 1
// or even); both areas start at their pointers.
int HalveImageForMipMap(const PixelFormatInfo* info, void* dst, int dst_pitch, const void* src,
                        int src_pitch, int width, int height);
// Copies [sx1, sx2) x [sy1, sy2) of source onto [dx1, dx2) x [dy1, dy2) of
// destination, scaling (nearest, or bilinear when bilinear == 1) when the sizes
// differ.
int CopyBaseImageRect(int sx1, int sy1, int sx2, int sy2, BaseImage* source, int dx1, int dy1,
                      int dx2, int dy2, BaseImage* destination, int bilinear);
// Same-size copy with clipping and format conversion (palettes remapped).
int CopyBaseImageArea(int sx, int sy, int w, int h, int dx, int dy, BaseImage* source,
                      BaseImage* destination);
