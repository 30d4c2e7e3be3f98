// lib/softrender/memimg.cpp - software image records: creation, views,
// release, raw fill, rectangle copy and the conversion of decoded images with
// the run table and premultiplied copy built from a whole-image write.
#include "lib/softrender/memimg.h"

#include <cstring>

#include "lib/core/log.h"
#include "lib/core/memory.h"
#include "lib/graphics/graphics_device.h"
#include "lib/image/convert_blit.h"

namespace {

// The rectangle of an image given by its size.
IntRect WholeRect(int width, int height) { return IntRect{0, 0, width, height}; }

bool Empty(const IntRect& r) { return r.right <= r.left || r.bottom <= r.top; }

// Clips a copy of the source rectangle r (placed at dx, dy of the
// destination) to both images. False when nothing is left.
bool ClipCopy(IntRect* r, int* dx, int* dy, int src_w, int src_h, int dst_w, int dst_h) {
  int64_t left = r->left, top = r->top, right = r->right, bottom = r->bottom;
  int64_t x = *dx, y = *dy;
  if (left < 0) { x -= left; left = 0; }
  if (top < 0) { y -= top; top = 0; }
  if (right > src_w) right = src_w;
  if (bottom > src_h) bottom = src_h;
  if (x < 0) { left -= x; x = 0; }
  if (y < 0) { top -= y; y = 0; }
  if (x + (right - left) > dst_w) right = left + (dst_w - x);
  if (y + (bottom - top) > dst_h) bottom = top + (dst_h - y);
  if (right <= left || bottom <= top) return false;
  *r = IntRect{int32_t(left), int32_t(top), int32_t(right), int32_t(bottom)};
  *dx = int(x);
  *dy = int(y);
  return true;
}

// Appends the runs of one row of kinds to out; returns the bytes written.
int WriteRuns(const uint8_t* kinds, int width, uint8_t* out) {
  int n = 0;
  int x = 0;
  while (x < width) {
    uint8_t kind = kinds[x];
    int length = 1;
    while (x + length < width && length < 64 && kinds[x + length] == kind) ++length;
    out[n++] = uint8_t((kind << 6) | (length - 1));
    x += length;
  }
  out[n++] = kRunEndByte;
  return n;
}

}  // namespace

int MemImgBytesPerPixel(int format, int paletted, int alpha) {
  if (format == kMemImgByte) return 1;
  if (format == kMemImgWord) return 2;
  if (paletted == 1) return 1;
  if (format == kMemImgRgb565) return alpha ? 4 : 2;
  return 4;
}

int InitMemImg(MEMIMG* mem_img, int width, int height, int pitch, uint32_t colour_key, int format,
               int paletted, int alpha, int alloc_extra, void* pixels) {
  if (!mem_img || mem_img->check == kMemImgCheck) return -1;
  if (width < 1 || height < 1 || format < 0 || format > 3) {
    return WriteLogLine("メモリイメージの作成に失敗しました\n");
  }
  if (paletted == 1) alpha = 0;
  if (format == kMemImgByte || format == kMemImgWord) {
    paletted = 0;
    alpha = 0;
  }
  paletted = paletted == 1 ? 1 : 0;
  alpha = alpha ? 1 : 0;
  const int bpp = MemImgBytesPerPixel(format, paletted, alpha);
  const int64_t row = int64_t(bpp) * width;
  int64_t full_pitch = pitch == -1 ? (row + 15) / 16 * 16 : pitch;
  // A pitch shorter than a row, or a size past what a 32-bit offset can
  // address, would make every writer run over the block.
  if (full_pitch < row || full_pitch * height > INT32_MAX || (width + 5) * int64_t(height) > INT32_MAX) {
    return WriteLogLine("メモリイメージの作成に失敗しました\n");
  }

  bool base_made_here = false;
  MemImgBase* base = mem_img->base;
  if (!base) {
    base = static_cast<MemImgBase*>(RR_CALLOC(sizeof(MemImgBase)));
    if (!base) return -1;
    base_made_here = true;
  }
  // Blocks made by this call, freed again when a later step fails so that a
  // failed initialisation leaves nothing behind.
  uint8_t* made_palette = nullptr;
  uint8_t* made_pixels = nullptr;
  uint8_t* made_premultiplied = nullptr;
  uint8_t* made_runs = nullptr;
  auto fail = [&]() {
    RR_FREE(made_palette);
    RR_FREE(made_pixels);
    RR_FREE(made_premultiplied);
    RR_FREE(made_runs);
    if (made_palette) base->palette = base->palette_copy = nullptr;
    if (made_pixels) base->pixel_block = nullptr;
    if (made_premultiplied) base->premultiplied_block = nullptr;
    if (made_runs) base->run_table = nullptr;
    if (base_made_here) {
      RR_FREE(base);
      mem_img->base = nullptr;
    }
    return WriteLogLine("メモリイメージの作成に失敗しました\n");
  };
  mem_img->base = base;

  base->reference_count = 1;
  base->width = width;
  base->height = height;
  base->colour_key = colour_key;
  base->pixel_format = format;
  base->paletted = paletted;
  base->alpha = alpha;
  base->premultiplied_valid = 0;
  base->run_table_valid = 0;

  if (paletted) {
    if (!base->palette) {
      made_palette = static_cast<uint8_t*>(RR_CALLOC(2048));
      if (!made_palette) return fail();
      base->palette = made_palette;
    }
    base->palette_copy = base->palette + 1024;
  } else {
    RR_FREE(base->palette);
    base->palette = nullptr;
    base->palette_copy = nullptr;
  }

  base->pitch = int32_t(full_pitch);
  const int64_t s = pitch == -1 ? row : pitch;
  int n = 0;
  while ((int64_t(1) << n) < s) ++n;
  base->pitch_shift = (int64_t(1) << n) == full_pitch ? n : -1;
  base->format_info = GetDefaultPixelFormatInfo(format, alpha, paletted);

  const size_t block_size = size_t(full_pitch) * size_t(height);
  if (pixels) {
    base->pixel_block = static_cast<uint8_t*>(pixels);
    base->caller_owned_pixels = 1;
  } else {
    made_pixels = static_cast<uint8_t*>(RR_ALLOC(block_size));
    if (!made_pixels) return fail();
    base->pixel_block = made_pixels;
    base->caller_owned_pixels = 0;
  }
  if (alloc_extra) {
    if (alpha && !base->premultiplied_block) {
      made_premultiplied = static_cast<uint8_t*>(RR_ALLOC(block_size));
      if (!made_premultiplied) return fail();
      base->premultiplied_block = made_premultiplied;
    }
    if (format != kMemImgByte && !base->run_table) {
      made_runs = static_cast<uint8_t*>(RR_ALLOC(size_t(width + 5) * size_t(height)));
      if (!made_runs) return fail();
      base->run_table = made_runs;
    }
  }

  mem_img->check = kMemImgCheck;
  mem_img->width = width;
  mem_img->height = height;
  mem_img->pixels = base->pixel_block;
  mem_img->premultiplied_pixels = base->premultiplied_block;
  return 0;
}

int CreateMemImg(MEMIMG* mem_img, int width, int height, int format) {
  if (!mem_img) return -1;
  std::memset(mem_img, 0, sizeof(*mem_img));
  if (format == -1) format = Screen().colour_bits == 16 ? kMemImgRgb565 : kMemImg32;
  return InitMemImg(mem_img, width, height, -1, 0, format, 0, 0, 0, nullptr);
}

void DeriveMemImg(MEMIMG* view, const MEMIMG* source, int x, int y, int width, int height) {
  if (!view || !IsValidMemImg(source)) return;
  if (x < 0 || y < 0 || width < 0 || height < 0) return;
  if (int64_t(x) + width > source->width || int64_t(y) + height > source->height) return;
  MemImgBase* base = source->base;
  const size_t offset = size_t(base->pitch) * size_t(y) + size_t(base->format_info->bytes_per_pixel) * size_t(x);
  view->check = kMemImgCheck;
  view->width = width;
  view->height = height;
  view->pixels = source->pixels + offset;
  view->premultiplied_pixels =
      base->premultiplied_block && source->premultiplied_pixels ? source->premultiplied_pixels + offset : nullptr;
  view->base = base;
  base->reference_count += 1;
}

int IsValidMemImg(const MEMIMG* mem_img) {
  return mem_img && mem_img->check == kMemImgCheck && mem_img->base ? 1 : 0;
}

void ReleaseMemImg(MEMIMG* mem_img) {
  if (!mem_img || mem_img->check != kMemImgCheck) return;
  MemImgBase* base = mem_img->base;
  if (base) {
    base->reference_count -= 1;
    if (base->reference_count <= 0) {
      if (!base->caller_owned_pixels) RR_FREE(base->pixel_block);
      RR_FREE(base->premultiplied_block);
      RR_FREE(base->run_table);
      RR_FREE(base->palette);
      base->pixel_block = base->premultiplied_block = base->run_table = nullptr;
      base->palette = base->palette_copy = nullptr;
      RR_FREE(base);
    }
  }
  mem_img->base = nullptr;
  mem_img->check = 0;
}

void FillMemImgRawRect(MEMIMG* mem_img, const IntRect* rect, uint32_t value) {
  if (!IsValidMemImg(mem_img)) return;
  const IntRect whole = WholeRect(mem_img->width, mem_img->height);
  IntRect r = rect ? *rect : whole;
  ClipRect(&r, &whole);
  if (Empty(r)) return;
  // The run table and premultiplied copy no longer describe the pixels.
  mem_img->base->run_table_valid = 0;
  mem_img->base->premultiplied_valid = 0;
  const int bpp = mem_img->base->format_info->bytes_per_pixel;
  const int pitch = mem_img->base->pitch;
  for (int y = r.top; y < r.bottom; ++y) {
    uint8_t* p = mem_img->pixels + size_t(pitch) * size_t(y) + size_t(bpp) * size_t(r.left);
    const int n = r.right - r.left;
    switch (bpp) {
      case 1:
        std::memset(p, int(value & 0xFF), size_t(n));
        break;
      case 2: {
        const uint16_t v = uint16_t(value);
        for (int i = 0; i < n; ++i) std::memcpy(p + 2 * i, &v, 2);
        break;
      }
      default:
        for (int i = 0; i < n; ++i) std::memcpy(p + 4 * i, &value, 4);
        break;
    }
  }
}

int CopyMemImgRect(MEMIMG* destination, const MEMIMG* source, const IntRect* rect, int x, int y) {
  if (!IsValidMemImg(destination) || !IsValidMemImg(source)) return -1;
  IntRect r = rect ? *rect : WholeRect(source->width, source->height);
  // Parts of the rectangle outside either image are not copied.
  if (!ClipCopy(&r, &x, &y, source->width, source->height, destination->width, destination->height)) return -1;
  const ImageRect ir{r.left, r.top, r.right, r.bottom};
  destination->base->run_table_valid = 0;
  destination->base->premultiplied_valid = 0;
  return ConvertPixelFormatBlit(destination->pixels, destination->base->pitch, destination->base->format_info,
                                source->pixels, source->base->pitch, source->base->format_info, nullptr, 0,
                                nullptr, x, y, &ir, 0, 0, 0, kDitherNone, 0, 0, 0, 0);
}

int BuildMemImgRunTable(MemImgBase* base) {
  if (!base || !base->run_table || (base->pixel_format != kMemImgRgb565 && base->pixel_format != kMemImg32))
    return -1;
  const int w = base->width, h = base->height, pitch = base->pitch;
  const bool fmt32 = base->pixel_format == kMemImg32;
  if (base->alpha && base->premultiplied_block) {
    for (int y = 0; y < h; ++y) {
      const uint8_t* s = base->pixel_block + size_t(pitch) * size_t(y);
      uint8_t* d = base->premultiplied_block + size_t(pitch) * size_t(y);
      for (int x = 0; x < w; ++x) {
        uint32_t px;
        std::memcpy(&px, s + 4 * x, 4);
        uint32_t out;
        if (fmt32) {
          const uint32_t a = px >> 24;
          out = (((px & 0xFF) * a) >> 8) | (((((px >> 8) & 0xFF) * a) >> 8) << 8) |
                (((((px >> 16) & 0xFF) * a) >> 8) << 16) | (a << 24);
        } else {
          const uint32_t c = px & 0xFFFF, a = (px >> 16) & 0xFF;
          out = ((((c & 0xF800) * a) & 0xF80000) | (((c & 0x07E0) * a) & 0x7E000) | (((c & 0x001F) * a) & 0x1F00)) >>
                8;
          out |= a << 16;
        }
        std::memcpy(d + 4 * x, &out, 4);
      }
    }
    base->premultiplied_valid = 1;
  }
  // A row of kinds, then its runs.
  uint8_t* kinds = static_cast<uint8_t*>(RR_ALLOC(size_t(w)));
  if (!kinds) return -1;
  uint8_t* out = base->run_table;
  for (int y = 0; y < h; ++y) {
    const uint8_t* row = base->pixel_block + size_t(pitch) * size_t(y);
    for (int x = 0; x < w; ++x) {
      uint8_t kind;
      if (base->paletted) {
        kind = row[x] == uint8_t(base->colour_key) ? kRunTransparent : kRunOpaque;
      } else if (base->alpha) {
        const uint8_t a = fmt32 ? row[4 * x + 3] : row[4 * x + 2];
        kind = a == 0 ? kRunTransparent : (a == 255 ? kRunOpaque : kRunTranslucent);
      } else if (fmt32) {
        uint32_t px;
        std::memcpy(&px, row + 4 * x, 4);
        kind = px == base->colour_key ? kRunTransparent : kRunOpaque;
      } else {
        uint16_t px;
        std::memcpy(&px, row + 2 * x, 2);
        kind = uint32_t(px) == base->colour_key ? kRunTransparent : kRunOpaque;
      }
      kinds[x] = kind;
    }
    out += WriteRuns(kinds, w, out);
  }
  RR_FREE(kinds);
  base->run_table_valid = 1;
  return 0;
}

int ConvertBaseImageToMemImg(const BaseImage* image, const BaseImage* alpha_image, MEMIMG* mem_img, int sx,
                             int sy, int width, int height, int dx, int dy, int key_to_alpha) {
  if (!image || !IsValidMemImg(mem_img)) return -1;
  MemImgBase* base = mem_img->base;
  IntRect r{sx, sy, int32_t(int64_t(sx) + width), int32_t(int64_t(sy) + height)};
  if (width < 0 || height < 0) return -1;
  // Only what lies inside the image and the MEMIMG is written.
  if (!ClipCopy(&r, &dx, &dy, image->width, image->height, mem_img->width, mem_img->height)) return -1;
  if (alpha_image && (alpha_image->width < r.right || alpha_image->height < r.bottom)) return -1;
  const ImageRect ir{r.left, r.top, r.right, r.bottom};
  base->premultiplied_valid = 0;
  base->run_table_valid = 0;

  if (base->pixel_format == kMemImgByte || base->pixel_format == kMemImgWord) {
    const int result = ConvertPixelFormatBlit(mem_img->pixels, base->pitch, base->format_info, image->pixels,
                                              image->pitch, &image->format, nullptr, 0, nullptr, dx, dy, &ir, 0, 0,
                                              0, kDitherNone, 1, 1, 0, 0);
    return result < 0 ? result : 0;
  }

  // The blit takes the key as an 0x00RRGGBB colour; the base keeps it in its
  // own pixel format.
  uint32_t key_rgb = base->colour_key & 0xFFFFFF;
  if (key_to_alpha && !base->paletted && base->pixel_format == kMemImgRgb565) {
    int kr = 0, kg = 0, kb = 0;
    GetPixelFormatInfoRgba(GetDefaultPixelFormatInfo(kMemImgRgb565, 0, 0), base->colour_key & 0xFFFF, &kr, &kg, &kb,
                           nullptr);
    key_rgb = (uint32_t(kr) << 16) | (uint32_t(kg) << 8) | uint32_t(kb);
  }
  const int result = ConvertPixelFormatBlit(
      mem_img->pixels, base->pitch, base->format_info, image->pixels, image->pitch, &image->format,
      alpha_image ? alpha_image->pixels : nullptr, alpha_image ? alpha_image->pitch : 0,
      alpha_image ? &alpha_image->format : nullptr, dx, dy, &ir, 0, key_to_alpha, key_rgb, kDitherNone, 0, 0, 0, 0);
  if (result < 0) return result;
  if (!alpha_image && base->paletted) base->palette_entries_used = result + 1;

  if (base->paletted && base->palette) {
    for (int i = 0; i < 256; ++i) {
      const PaletteEntry& e = image->format.palette[i];
      if (base->pixel_format == kMemImg32) {
        const uint32_t v = uint32_t(e.b) | (uint32_t(e.g) << 8) | (uint32_t(e.r) << 16);
        std::memcpy(base->palette + 4 * i, &v, 4);
      } else {
        const uint16_t v = uint16_t(((e.r >> 3) << 11) | ((e.g >> 2) << 5) | (e.b >> 3));
        std::memcpy(base->palette + 2 * i, &v, 2);
      }
    }
    std::memcpy(base->palette_copy, base->palette, base->pixel_format == kMemImg32 ? 1024 : 512);
  }

  const bool whole = mem_img->pixels == base->pixel_block && dx == 0 && dy == 0 &&
                     r.right - r.left == base->width && r.bottom - r.top == base->height;
  if (!whole || !base->run_table) return 0;
  BuildMemImgRunTable(base);
  return 0;
}
