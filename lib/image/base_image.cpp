// lib/image/base_image.cpp - base-image records and their small operations.
#include "lib/image/base_image.h"

#include <algorithm>
#include <cstring>

#include "lib/core/memory.h"
#include "lib/image/convert_blit.h"
#include "lib/image/dxt_decode.h"

namespace {

// Refuses sizes whose pixel block would not fit the record's 32-bit fields.
bool PlainSizeOk(int width, int height, int bytes_per_pixel, int64_t* pitch, int64_t* total) {
  if (width < 0 || height < 0) return false;
  int64_t p = (static_cast<int64_t>(bytes_per_pixel) * width + 3) / 4 * 4;
  if (p > INT32_MAX) return false;
  int64_t t = p * height;
  if (t > (int64_t{1} << 40)) return false;
  *pitch = p;
  *total = t;
  return true;
}

uint32_t ReadRaw(const uint8_t* p, int bytes) {
  switch (bytes) {
    case 1:
      return p[0];
    case 2:
      return static_cast<uint32_t>(p[0] | p[1] << 8);
    case 3:
      return static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16);
    case 4:
      return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
             static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
    default:
      return 0;
  }
}

void WriteRaw(uint8_t* p, int bytes, uint32_t v) {
  for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// A channel moved so that its top bit lands on the top bit of its byte.
uint32_t PlaceChannel(uint32_t pixel, uint32_t mask, int shift, int width, int byte_shift) {
  if (width == 0) return 0;
  uint32_t v = (pixel & mask) >> shift;
  v = width <= 8 ? v << (8 - width) : v >> (width - 8);
  return (v & 0xFF) << byte_shift;
}

int BytesPerPixelOf(const BaseImage* image) { return image->format.bytes_per_pixel; }

}  // namespace

int CreateBaseImageLike(int width, int height, const PixelFormatInfo* source_info,
                        BaseImage* image) {
  int64_t pitch = 0, total = 0;
  image->pixels = nullptr;
  if (!PlainSizeOk(width, height, source_info->bytes_per_pixel, &pitch, &total)) return -1;
  image->format = *source_info;
  image->width = width;
  image->height = height;
  image->pitch = static_cast<int32_t>(pitch);
  image->mip_count = 0;
  image->pixels = static_cast<uint8_t*>(RR_ALLOC(static_cast<size_t>(total)));
  return image->pixels ? 0 : -1;
}

int CreateArgb8BaseImage(int width, int height, BaseImage* image) {
  PixelFormatInfo format{};
  SetPixelFormatInfoArgb8(&format);
  return CreateBaseImageLike(width, height, &format, image);
}

int CreateXrgb8BaseImage(int width, int height, BaseImage* image) {
  PixelFormatInfo format{};
  SetPixelFormatInfoXrgb8(&format);
  return CreateBaseImageLike(width, height, &format, image);
}

int FreeBaseImagePixels(BaseImage* image) {
  if (image->pixels) RR_FREE(image->pixels);
  std::memset(image, 0, sizeof(*image));
  return 0;
}

uint64_t GetBaseImageLevelSize(const PixelFormatInfo* format, int width, int height, int pitch,
                               int level) {
  if (width <= 0 || height <= 0 || level < 0 || level > 31) return 0;
  uint64_t w = std::max(1, width >> level);
  uint64_t h = std::max(1, height >> level);
  if (format->compression != kCompressionNone) {
    uint64_t block = format->compression == kCompressionDxt1 ? 8 : 16;
    return ((w + 3) / 4) * ((h + 3) / 4) * block;
  }
  if (level == 0) return static_cast<uint64_t>(pitch > 0 ? pitch : 0) * h;
  return w * format->bytes_per_pixel * h;
}

uint64_t GetBaseImageDataSize(const BaseImage* image) {
  int levels = image->mip_count < 2 ? 1 : image->mip_count;
  uint64_t total = 0;
  for (int level = 0; level < levels && level < 32; ++level) {
    total += GetBaseImageLevelSize(&image->format, image->width, image->height, image->pitch,
                                   level);
  }
  return total;
}

uint32_t GetBaseImagePixel(const BaseImage* image, int x, int y) {
  if (!image->pixels || image->format.compression != kCompressionNone) return 0;
  const PixelFormatInfo& f = image->format;
  int bpp = BytesPerPixelOf(image);
  const uint8_t* p = image->pixels + static_cast<int64_t>(y) * image->pitch +
                     static_cast<int64_t>(x) * bpp;
  if (bpp == 1) {
    const PaletteEntry& e = f.palette[p[0]];
    return static_cast<uint32_t>(e.b) | static_cast<uint32_t>(e.g) << 8 |
           static_cast<uint32_t>(e.r) << 16;
  }
  uint32_t pixel = ReadRaw(p, bpp);
  return PlaceChannel(pixel, f.mask_b, f.shift_b, f.width_b, 0) |
         PlaceChannel(pixel, f.mask_g, f.shift_g, f.width_g, 8) |
         PlaceChannel(pixel, f.mask_r, f.shift_r, f.width_r, 16) |
         PlaceChannel(pixel, f.mask_a, f.shift_a, f.width_a, 24);
}

int SetBaseImagePixel(BaseImage* image, int x, int y, int r, int g, int b, int a) {
  if (image->format.compression != kCompressionNone && DecompressDxtBaseImage(image) != 0) {
    return -1;
  }
  if (!image->pixels) return -1;
  if (static_cast<uint32_t>(x) >= static_cast<uint32_t>(image->width) ||
      static_cast<uint32_t>(y) >= static_cast<uint32_t>(image->height)) {
    return -1;
  }
  int bpp = BytesPerPixelOf(image);
  if (bpp < 1 || bpp > 4) return 0;
  uint32_t code = GetPixelFormatInfoPixelCode(&image->format, r, g, b, a);
  WriteRaw(image->pixels + static_cast<int64_t>(y) * image->pitch + static_cast<int64_t>(x) * bpp,
           bpp, code);
  return 0;
}

int GetBaseImagePixelColor(BaseImage* image, int x, int y, int* r, int* g, int* b, int* a) {
  if (image->format.compression != kCompressionNone && DecompressDxtBaseImage(image) != 0) {
    return -1;
  }
  if (!image->pixels) return -1;
  if (static_cast<uint32_t>(x) >= static_cast<uint32_t>(image->width) ||
      static_cast<uint32_t>(y) >= static_cast<uint32_t>(image->height)) {
    return -1;
  }
  const PixelFormatInfo& f = image->format;
  int bpp = BytesPerPixelOf(image);
  if (bpp < 1 || bpp > 4) return -1;
  const uint8_t* p =
      image->pixels + static_cast<int64_t>(y) * image->pitch + static_cast<int64_t>(x) * bpp;
  if (bpp == 1) {
    const PaletteEntry& e = f.palette[p[0]];
    if (r) *r = e.r;
    if (g) *g = e.g;
    if (b) *b = e.b;
    if (a) *a = e.x;
    return 0;
  }
  // An 8-8-8 format without alpha leaves the alpha output alone in the
  // unpacking; such pixels are opaque.
  if (a && f.width_a == 0) *a = 255;
  return GetPixelFormatInfoRgba(&f, ReadRaw(p, bpp), r, g, b, a);
}

int ClearBaseImageRect(BaseImage* image, int x, int y, int w, int h) {
  if (h < 1 || w < 1 || !image->pixels || image->format.compression != kCompressionNone) return 0;
  int x0 = std::max(x, 0), y0 = std::max(y, 0);
  int x1 = static_cast<int>(std::min<int64_t>(int64_t{x} + w, image->width));
  int y1 = static_cast<int>(std::min<int64_t>(int64_t{y} + h, image->height));
  if (x1 <= x0 || y1 <= y0) return 0;
  int bpp = BytesPerPixelOf(image);
  for (int row = y0; row < y1; ++row) {
    std::memset(image->pixels + static_cast<int64_t>(row) * image->pitch +
                    static_cast<int64_t>(x0) * bpp,
                0, static_cast<size_t>(x1 - x0) * bpp);
  }
  return 0;
}

int FlipBaseImageHorizontal(BaseImage* image) {
  if (image->width == 0 || image->height == 0) return -1;
  if (image->format.compression != kCompressionNone || !image->pixels) return -1;
  int bpp = BytesPerPixelOf(image);
  if (bpp < 1 || bpp > 4) return 0;
  uint8_t tmp[4];
  for (int y = 0; y < image->height; ++y) {
    uint8_t* row = image->pixels + static_cast<int64_t>(y) * image->pitch;
    for (int i = 0; i < image->width / 2; ++i) {
      uint8_t* a = row + static_cast<int64_t>(i) * bpp;
      uint8_t* b = row + static_cast<int64_t>(image->width - 1 - i) * bpp;
      std::memcpy(tmp, a, bpp);
      std::memcpy(a, b, bpp);
      std::memcpy(b, tmp, bpp);
    }
  }
  return 0;
}

int RotateBaseImage180(BaseImage* image) {
  if (image->format.compression != kCompressionNone) return -1;
  int bpp = BytesPerPixelOf(image);
  if (bpp < 1 || bpp > 4 || !image->pixels) return 0;
  int w = image->width, h = image->height;
  uint8_t tmp[4];
  for (int i = 0; i < h / 2; ++i) {
    uint8_t* top = image->pixels + static_cast<int64_t>(i) * image->pitch;
    uint8_t* bottom = image->pixels + static_cast<int64_t>(h - 1 - i) * image->pitch;
    for (int x = 0; x < w; ++x) {
      uint8_t* a = top + static_cast<int64_t>(x) * bpp;
      uint8_t* b = bottom + static_cast<int64_t>(w - 1 - x) * bpp;
      std::memcpy(tmp, a, bpp);
      std::memcpy(a, b, bpp);
      std::memcpy(b, tmp, bpp);
    }
  }
  if (h % 2 == 1) {
    uint8_t* mid = image->pixels + static_cast<int64_t>(h / 2) * image->pitch;
    for (int x = 0; x < w / 2; ++x) {
      uint8_t* a = mid + static_cast<int64_t>(x) * bpp;
      uint8_t* b = mid + static_cast<int64_t>(w - 1 - x) * bpp;
      std::memcpy(tmp, a, bpp);
      std::memcpy(a, b, bpp);
      std::memcpy(b, tmp, bpp);
    }
  }
  return 0;
}

int HalveImageForMipMap(const PixelFormatInfo* info, void* dst, int dst_pitch, const void* src,
                        int src_pitch, int width, int height) {
  if ((width != 1 && width % 2 != 0) || (height != 1 && height % 2 != 0)) return -1;
  if (width < 1 || height < 1) return -1;
  int bytes;
  if (info->bit_depth == 16) {
    bytes = 2;
  } else if (info->bit_depth == 32) {
    bytes = 4;
  } else {
    return 0;
  }
  const uint32_t masks[4] = {info->mask_r, info->mask_g, info->mask_b, info->mask_a};
  const int shifts[4] = {info->shift_r, info->shift_g, info->shift_b, info->shift_a};
  const uint8_t* s = static_cast<const uint8_t*>(src);
  uint8_t* d = static_cast<uint8_t*>(dst);
  auto average = [&](const uint32_t* pixels, int count, int log2) {
    uint32_t out = 0;
    for (int c = 0; c < 4; ++c) {
      if (masks[c] == 0) continue;
      uint64_t sum = 0;
      for (int i = 0; i < count; ++i) sum += (pixels[i] & masks[c]) >> shifts[c];
      out |= (static_cast<uint32_t>(sum >> log2) << shifts[c]) & masks[c];
    }
    return out;
  };
  if (width == 1 && height == 1) {
    std::memcpy(d, s, bytes);
  } else if (width == 1) {
    for (int j = 0; j < height / 2; ++j) {
      uint32_t px[2] = {ReadRaw(s + int64_t{2 * j} * src_pitch, bytes),
                        ReadRaw(s + int64_t{2 * j + 1} * src_pitch, bytes)};
      WriteRaw(d + int64_t{j} * dst_pitch, bytes, average(px, 2, 1));
    }
  } else if (height == 1) {
    for (int i = 0; i < width / 2; ++i) {
      uint32_t px[2] = {ReadRaw(s + 2 * i * bytes, bytes), ReadRaw(s + (2 * i + 1) * bytes, bytes)};
      WriteRaw(d + i * bytes, bytes, average(px, 2, 1));
    }
  } else {
    for (int j = 0; j < height / 2; ++j) {
      const uint8_t* r0 = s + int64_t{2 * j} * src_pitch;
      const uint8_t* r1 = r0 + src_pitch;
      uint8_t* out = d + int64_t{j} * dst_pitch;
      for (int i = 0; i < width / 2; ++i) {
        uint32_t px[4] = {ReadRaw(r0 + 2 * i * bytes, bytes), ReadRaw(r0 + (2 * i + 1) * bytes, bytes),
                          ReadRaw(r1 + 2 * i * bytes, bytes), ReadRaw(r1 + (2 * i + 1) * bytes, bytes)};
        WriteRaw(out + i * bytes, bytes, average(px, 4, 2));
      }
    }
  }
  return 0;
}

namespace {

bool RectInside(int x1, int y1, int x2, int y2, const BaseImage* image) {
  return x1 < x2 && y1 < y2 && x1 >= 0 && x1 < image->width && y1 >= 0 && y1 < image->height &&
         x2 >= 1 && x2 <= image->width && y2 >= 1 && y2 <= image->height;
}

}  // namespace

int CopyBaseImageRect(int sx1, int sy1, int sx2, int sy2, BaseImage* source, int dx1, int dy1,
                      int dx2, int dy2, BaseImage* destination, int bilinear) {
  if (!RectInside(sx1, sy1, sx2, sy2, source) || !RectInside(dx1, dy1, dx2, dy2, destination)) {
    return -1;
  }
  int64_t w = sx2 - sx1, h = sy2 - sy1, W = dx2 - dx1, H = dy2 - dy1;
  if (w == W && h == H) {
    return CopyBaseImageArea(sx1, sy1, static_cast<int>(w), static_cast<int>(h), dx1, dy1, source,
                             destination);
  }
  int64_t step_x = (w << 16) / W;
  int64_t step_y = (h << 16) / H;
  for (int64_t j = 0; j < H; ++j) {
    int64_t py = (int64_t{sy1} << 16) + j * step_y;
    int y = static_cast<int>(py >> 16);
    int64_t fy = py & 0xFFFF;
    for (int64_t i = 0; i < W; ++i) {
      int64_t px = (int64_t{sx1} << 16) + i * step_x;
      int x = static_cast<int>(px >> 16);
      int dxp = static_cast<int>(dx1 + i), dyp = static_cast<int>(dy1 + j);
      int r = 0, g = 0, b = 0, a = 0;
      if (bilinear != 1) {
        if (GetBaseImagePixelColor(source, x, y, &r, &g, &b, &a) != 0) return -1;
        SetBaseImagePixel(destination, dxp, dyp, r, g, b, a);
        continue;
      }
      int64_t fx = px & 0xFFFF;
      // Neighbours beyond the right or bottom edge repeat the edge pixel.
      int x1 = std::min(x + 1, source->width - 1);
      int y1 = std::min(y + 1, source->height - 1);
      int c[4][4] = {};
      const int xs[4] = {x, x1, x, x1};
      const int ys[4] = {y, y, y1, y1};
      for (int k = 0; k < 4; ++k) {
        if (GetBaseImagePixelColor(source, xs[k], ys[k], &c[k][0], &c[k][1], &c[k][2], &c[k][3]) !=
            0) {
          return -1;
        }
      }
      int64_t w11 = fy * fx >> 16;
      int64_t w01 = (65535 - fx) * fy >> 16;
      int64_t w10 = (65535 - fy) * fx >> 16;
      int64_t w00 = (65535 - fy) * (65535 - fx) >> 16;
      int out[4];
      for (int ch = 0; ch < 4; ++ch) {
        out[ch] = static_cast<int>((w11 * c[3][ch] + w01 * c[2][ch] + w10 * c[1][ch] +
                                    w00 * c[0][ch]) >> 16);
      }
      SetBaseImagePixel(destination, dxp, dyp, out[0], out[1], out[2], out[3]);
    }
  }
  return 0;
}

int CopyBaseImageArea(int sx, int sy, int w, int h, int dx, int dy, BaseImage* source,
                      BaseImage* destination) {
  if (source->format.compression != kCompressionNone && DecompressDxtBaseImage(source) != 0) {
    return -1;
  }
  if (destination->format.compression != kCompressionNone &&
      DecompressDxtBaseImage(destination) != 0) {
    return -1;
  }
  int64_t x = sx, y = sy, ww = w, hh = h, tx = dx, ty = dy;
  if (x < 0) { tx -= x; ww += x; x = 0; }
  if (y < 0) { ty -= y; hh += y; y = 0; }
  if (tx < 0) { x -= tx; ww += tx; tx = 0; }
  if (ty < 0) { y -= ty; hh += ty; ty = 0; }
  ww = std::min({ww, destination->width - tx, source->width - x});
  hh = std::min({hh, destination->height - ty, source->height - y});
  if (ww < 1 || hh < 1) return 0;
  if (!source->pixels || !destination->pixels) return -1;
  ImageRect rect{static_cast<int32_t>(x), static_cast<int32_t>(y), static_cast<int32_t>(x + ww),
                 static_cast<int32_t>(y + hh)};
  int result = ConvertPixelFormatBlit(destination->pixels, destination->pitch, &destination->format,
                                      source->pixels, source->pitch, &source->format, nullptr, 0,
                                      nullptr, static_cast<int>(tx), static_cast<int>(ty), &rect, 0,
                                      0, 0, 0, 0, 0, 0, 1);
  return result < 0 ? -1 : 0;
}
