// lib/image/convert_blit.cpp - pixel-format conversion blit.
//
// The common format pairs of texture transfer and the window copy have their
// own loops; their rules (plain truncation and plain shifts) differ from the
// general path's exact rescaling on purpose, and callers see those results.
#include "lib/image/convert_blit.h"

#include <cstring>

namespace {

inline uint32_t ReadPx(const uint8_t* p, int bytes) {
  switch (bytes) {
    case 1:
      return p[0];
    case 2:
      return static_cast<uint32_t>(p[0] | p[1] << 8);
    case 3:
      return static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16);
    default:
      return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
             static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
  }
}

inline void WritePx(uint8_t* p, int bytes, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  if (bytes > 1) p[1] = static_cast<uint8_t>(v >> 8);
  if (bytes > 2) p[2] = static_cast<uint8_t>(v >> 16);
  if (bytes > 3) p[3] = static_cast<uint8_t>(v >> 24);
}

bool Is(const PixelFormatInfo& f, int depth, uint32_t r, uint32_t g, uint32_t b, uint32_t a) {
  return f.bit_depth == depth && f.mask_r == r && f.mask_g == g && f.mask_b == b && f.mask_a == a;
}
bool IsPal8(const PixelFormatInfo& f) { return f.bytes_per_pixel == 1 && f.bit_depth == 8; }
bool IsRgb565(const PixelFormatInfo& f) { return Is(f, 16, 0xF800, 0x07E0, 0x001F, 0); }
bool IsX1rgb555(const PixelFormatInfo& f) { return Is(f, 16, 0x7C00, 0x03E0, 0x001F, 0); }
bool IsA1rgb555(const PixelFormatInfo& f) { return Is(f, 16, 0x7C00, 0x03E0, 0x001F, 0x8000); }
bool IsRgb888(const PixelFormatInfo& f) { return Is(f, 24, 0xFF0000, 0xFF00, 0xFF, 0); }
bool IsXrgb8888(const PixelFormatInfo& f) { return Is(f, 32, 0xFF0000, 0xFF00, 0xFF, 0); }
bool IsArgb8888(const PixelFormatInfo& f) { return Is(f, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u); }
bool Is32Rgb888Layout(const PixelFormatInfo& f) {
  return f.bit_depth == 32 && f.mask_r == 0xFF0000 && f.mask_g == 0xFF00 && f.mask_b == 0xFF;
}

inline uint32_t EntryRgb(const PaletteEntry& e) {
  return static_cast<uint32_t>(e.b) | static_cast<uint32_t>(e.g) << 8 |
         static_cast<uint32_t>(e.r) << 16;
}
inline uint32_t Trunc565(uint32_t rgb) {
  return ((rgb >> 8) & 0xF800) | ((rgb >> 5) & 0x07E0) | ((rgb >> 3) & 0x001F);
}
inline uint32_t Trunc555(uint32_t rgb) {
  return ((rgb >> 9) & 0x7C00) | ((rgb >> 6) & 0x03E0) | ((rgb >> 3) & 0x001F);
}
inline uint32_t Shift565To888(uint32_t p) {
  return ((p & 0xF800) << 8) | ((p & 0x07E0) << 5) | ((p & 0x001F) << 3);
}
inline uint32_t Rgb565To555(uint32_t p) { return ((p & 0xFFC0) >> 1) | (p & 0x1F); }
inline uint32_t Rgb555To565(uint32_t p) { return ((p & 0x7FE0) << 1) | (p & 0x3F); }

// Rows of the rectangle, for the loops below.
struct Rows {
  const uint8_t* src;
  int64_t src_pitch;
  int src_bytes;
  uint8_t* dst;
  int64_t dst_pitch;
  int dst_bytes;
  int w;
  int h;
  const uint8_t* SrcRow(int y) const { return src + y * src_pitch; }
  uint8_t* DstRow(int y) const { return dst + y * dst_pitch; }
};

// Applies f(source pixel) -> destination pixel to every pixel of the rectangle.
template <typename F>
void MapPixels(const Rows& rows, F f) {
  for (int y = 0; y < rows.h; ++y) {
    const uint8_t* s = rows.SrcRow(y);
    uint8_t* d = rows.DstRow(y);
    for (int x = 0; x < rows.w; ++x) {
      WritePx(d + x * rows.dst_bytes, rows.dst_bytes, f(ReadPx(s + x * rows.src_bytes, rows.src_bytes)));
    }
  }
}

inline uint32_t MaxOf(int width) { return width >= 32 ? 0xFFFFFFFFu : ((1u << width) - 1); }

// A value of s bits rescaled to t bits: narrowing drops low bits, widening
// fills them so that the full value stays full.
inline uint32_t Rescale(uint32_t v, int s, int t) {
  if (t <= 0 || s <= 0) return 0;
  if (s == t) return v;
  if (s > t) return v >> (s - t);
  uint64_t widened = (static_cast<uint64_t>(v) << (t - s)) +
                     static_cast<uint64_t>(v) * MaxOf(t - s) / MaxOf(s);
  return static_cast<uint32_t>(widened);
}

constexpr int kOrderedMatrix[16] = {0, 8, 2, 10, 12, 4, 14, 6, 3, 11, 1, 9, 15, 7, 13, 5};

// The general per-pixel conversion.
struct GeneralBlit {
  const PixelFormatInfo* s;
  const PixelFormatInfo* d;
  const PixelFormatInfo* a;  // alpha image format (all zero when none)
  bool key_to_alpha, alpha_from_image, alpha_only, alpha_from_red, skip_key, mirror;
  int dither;
  uint32_t key;

  int Run(uint8_t* dst, int64_t dst_pitch, const uint8_t* src, int64_t src_pitch,
          const uint8_t* alpha_src, int64_t alpha_pitch, int dx, int dy, const ImageRect& r) const {
    const int sb = s->bytes_per_pixel, db = d->bytes_per_pixel, ab = a->bytes_per_pixel;
    if (sb < 1 || sb > 4 || db < 1 || db > 4) return -1;
    if (alpha_from_image && (ab < 1 || ab > 4)) return -1;
    const bool src_pal = sb == 1;
    // Source channel widths; a paletted source reads 8-bit palette entries.
    const int sw[4] = {src_pal ? 8 : s->width_r, src_pal ? 8 : s->width_g, src_pal ? 8 : s->width_b,
                       src_pal ? (s->width_a ? 8 : 0) : s->width_a};
    const int dw[4] = {d->width_r, d->width_g, d->width_b, d->width_a};
    const int ds[4] = {d->shift_r, d->shift_g, d->shift_b, d->shift_a};
    const int a_red_width = ab == 1 ? 8 : a->width_r;
    const bool dst_pal = db == 1;
    const bool dither_on = dither != kDitherNone &&
                           (sw[0] != dw[0] || sw[1] != dw[1] ||
                            (alpha_from_image && a_red_width != dw[3]));
    const uint32_t channel_bits = s->mask_r | s->mask_g | s->mask_b | s->mask_a;
    // The key's channels in the source format.
    uint32_t key_ch[3] = {0, 0, 0};
    if (key_to_alpha) {
      int kr = (key >> 16) & 255, kg = (key >> 8) & 255, kb = key & 255;
      if (src_pal) {
        const PaletteEntry& e = s->palette[GetPixelFormatInfoPixelCode(s, kr, kg, kb, 0)];
        key_ch[0] = e.r;
        key_ch[1] = e.g;
        key_ch[2] = e.b;
      } else {
        key_ch[0] = Rescale(static_cast<uint32_t>(kr), 8, sw[0]);
        key_ch[1] = Rescale(static_cast<uint32_t>(kg), 8, sw[1]);
        key_ch[2] = Rescale(static_cast<uint32_t>(kb), 8, sw[2]);
      }
    }
    const int w = r.right - r.left, h = r.bottom - r.top;
    for (int y = 0; y < h; ++y) {
      const uint8_t* srow = src + (r.top + y) * src_pitch + int64_t{r.left} * sb;
      const uint8_t* arow =
          alpha_from_image ? alpha_src + (r.top + y) * alpha_pitch + int64_t{r.left} * ab : nullptr;
      uint8_t* drow = dst + (int64_t{dy} + y) * dst_pitch + int64_t{dx} * db;
      uint32_t carry[4] = {0, 0, 0, 0};
      for (int x = 0; x < w; ++x) {
        uint32_t raw = ReadPx(srow + int64_t{x} * sb, sb);
        if (skip_key) {
          bool equal = src_pal ? raw == (key & 0xFF) : (raw & channel_bits) == (key & channel_bits);
          if (equal) continue;
        }
        uint32_t v[4];
        int vw[4];
        if (src_pal) {
          const PaletteEntry& e = s->palette[raw];
          v[0] = e.r;
          v[1] = e.g;
          v[2] = e.b;
          v[3] = e.x;
        } else {
          v[0] = (raw & s->mask_r) >> s->shift_r;
          v[1] = (raw & s->mask_g) >> s->shift_g;
          v[2] = (raw & s->mask_b) >> s->shift_b;
          v[3] = (raw & s->mask_a) >> s->shift_a;
        }
        vw[0] = sw[0];
        vw[1] = sw[1];
        vw[2] = sw[2];
        if (key_to_alpha) {
          bool is_key = v[0] == key_ch[0] && v[1] == key_ch[1] && v[2] == key_ch[2];
          v[3] = is_key ? 0 : MaxOf(dw[3]);
          vw[3] = dw[3];
        } else if (alpha_from_image) {
          uint32_t araw = ReadPx(arow + int64_t{x} * ab, ab);
          v[3] = ab == 1 ? a->palette[araw].r : (araw & a->mask_r) >> a->shift_r;
          vw[3] = a_red_width;
        } else if (sw[3] > 0) {
          vw[3] = sw[3];
        } else {
          v[3] = MaxOf(dw[3]);
          vw[3] = dw[3];
        }
        if (alpha_from_red) {
          v[3] = v[0];
          vw[3] = vw[0];
        }
        uint32_t out[4];
        for (int c = 0; c < 4; ++c) {
          out[c] = Rescale(v[c], vw[c], dw[c]);
          if (dither_on && vw[c] > dw[c] && dw[c] > 0) {
            int dropped_bits = vw[c] - dw[c];
            uint32_t dropped_mask = MaxOf(dropped_bits);
            uint32_t dropped = v[c] & dropped_mask;
            bool up = false;
            if (dither == kDitherOrdered) {
              int m = kOrderedMatrix[(x & 3) + 4 * (y & 3)];
              uint64_t threshold = ((uint64_t{1} << dropped_bits) * m) >> 4;
              up = dropped > threshold;
            } else if (dither == kDitherCarry) {
              carry[c] += dropped;
              if (carry[c] > dropped_mask) {
                up = true;
                carry[c] &= dropped_mask;
              }
            }
            if (up && out[c] < MaxOf(dw[c])) ++out[c];
          }
        }
        if (alpha_only) out[0] = out[1] = out[2] = 0;
        int col = mirror ? (w - 1 - x) : x;
        uint8_t* dp = drow + int64_t{col} * db;
        if (dst_pal) {
          *dp = static_cast<uint8_t>(GetPixelFormatInfoPixelCode(
              d, static_cast<int>(Rescale(out[0], dw[0], 8)),
              static_cast<int>(Rescale(out[1], dw[1], 8)),
              static_cast<int>(Rescale(out[2], dw[2], 8)), 0));
          continue;
        }
        uint32_t packed = 0;
        for (int c = 0; c < 4; ++c) {
          if (dw[c] > 0) packed |= (out[c] & MaxOf(dw[c])) << ds[c];
        }
        if (db == 2 || db == 4) packed |= d->unused_mask;
        WritePx(dp, db, packed);
      }
    }
    return 0;
  }
};

}  // namespace

int ConvertPixelFormatBlit(void* dst_void, int dst_pitch, const PixelFormatInfo* dst_format,
                           const void* src_void, int src_pitch, const PixelFormatInfo* src_format,
                           const void* alpha_src_void, int alpha_pitch,
                           const PixelFormatInfo* alpha_format, int dx, int dy,
                           const ImageRect* src_rect, int mirror, int key_to_alpha,
                           uint32_t colour_key, int dither, int alpha_only, int alpha_from_red,
                           int skip_key, int remap_palette) {
  if (!dst_void || !src_void || !dst_format || !src_format || !src_rect) return -1;
  // Work on copies of the three format records.
  const PixelFormatInfo d = *dst_format;
  const PixelFormatInfo s = *src_format;
  PixelFormatInfo a;
  std::memset(&a, 0, sizeof(a));
  if (alpha_src_void && alpha_format) a = *alpha_format;
  const uint8_t* alpha_src = alpha_format ? static_cast<const uint8_t*>(alpha_src_void) : nullptr;
  uint8_t* dst = static_cast<uint8_t*>(dst_void);
  const uint8_t* src = static_cast<const uint8_t*>(src_void);

  const bool dst_alpha = d.width_a > 0;
  const bool src_alpha = s.width_a > 0;
  const bool alpha_wanted = dst_alpha && (alpha_src || src_alpha);
  const bool alpha_from_image = dst_alpha && alpha_src && !src_alpha;
  if (alpha_wanted || !dst_alpha || alpha_from_red) key_to_alpha = 0;
  if (mirror) skip_key = 0;

  const ImageRect r = *src_rect;
  const int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return -1;
  const int sb = s.bytes_per_pixel, db = d.bytes_per_pixel;
  if (sb < 1 || sb > 4 || db < 1 || db > 4) return -1;

  Rows rows{src + int64_t{r.top} * src_pitch + int64_t{r.left} * sb, src_pitch, sb,
            dst + int64_t{dy} * dst_pitch + int64_t{dx} * db, dst_pitch, db, w, h};

  // 1. Palette to palette through colour matching.
  if (remap_palette && sb == 1 && db == 1 && !mirror &&
      std::memcmp(s.palette, d.palette, sizeof(s.palette)) != 0) {
    uint8_t map[256];
    for (int i = 0; i < 256; ++i) {
      const PaletteEntry& e = s.palette[i];
      map[i] = static_cast<uint8_t>(GetPixelFormatInfoPixelCode(&d, e.r, e.g, e.b, 0));
    }
    MapPixels(rows, [&](uint32_t p) { return map[p & 0xFF]; });
    return 0;
  }

  // 2. Paletted destination.
  if (d.bit_depth == 8) {
    if ((s.bit_depth == 16 || s.bit_depth == 24 || s.bit_depth == 32) && !alpha_from_red &&
        !mirror) {
      uint32_t last_raw = 0, last_index = 0;
      bool have_last = false;
      MapPixels(rows, [&](uint32_t p) {
        if (!have_last || p != last_raw) {
          // The raw channel values, not rescaled, go to the colour search.
          last_index = GetPixelFormatInfoPixelCode(
              &d, static_cast<int>((p & s.mask_r) >> s.shift_r),
              static_cast<int>((p & s.mask_g) >> s.shift_g),
              static_cast<int>((p & s.mask_b) >> s.shift_b),
              static_cast<int>((p & s.mask_a) >> s.shift_a));
          last_raw = p;
          have_last = true;
        }
        return last_index;
      });
      return 0;
    }
    if (!alpha_only && !skip_key && !alpha_from_red && !mirror) {
      if (s.bit_depth != 8) return -1;
      int highest = 0;
      for (int y = 0; y < h; ++y) {
        const uint8_t* sr = rows.SrcRow(y);
        for (int x = 0; x < w; ++x) highest = sr[x] > highest ? sr[x] : highest;
        std::memcpy(rows.DstRow(y), sr, static_cast<size_t>(w));
      }
      return highest;
    }
  }

  // 3. Same layout: rows copied as they are.
  if (!key_to_alpha && !alpha_from_image && !alpha_only && !alpha_from_red &&
      s.bit_depth == d.bit_depth && s.mask_r == d.mask_r && s.mask_g == d.mask_g &&
      s.mask_b == d.mask_b && s.mask_a == d.mask_a && sb == db) {
    const uint32_t key = sb == 3 ? (colour_key & 0xFFFFFF) : colour_key;
    for (int y = 0; y < h; ++y) {
      const uint8_t* sr = rows.SrcRow(y);
      uint8_t* dr = rows.DstRow(y);
      if (mirror) {
        for (int x = 0; x < w; ++x) std::memcpy(dr + (w - 1 - x) * db, sr + x * sb, sb);
      } else if (skip_key) {
        for (int x = 0; x < w; ++x) {
          if (ReadPx(sr + x * sb, sb) != key) std::memcpy(dr + x * db, sr + x * sb, sb);
        }
      } else {
        std::memcpy(dr, sr, static_cast<size_t>(w) * sb);
      }
    }
    return 0;
  }

  // 4. Skip the key from X8R8G8B8 into A8R8G8B8.
  if (skip_key && IsXrgb8888(s) && IsArgb8888(d) && !key_to_alpha && !alpha_only &&
      !alpha_from_red && !alpha_src && dither == kDitherNone) {
    const uint32_t key = colour_key & 0xFFFFFF;
    for (int y = 0; y < h; ++y) {
      const uint8_t* sr = rows.SrcRow(y);
      uint8_t* dr = rows.DstRow(y);
      for (int x = 0; x < w; ++x) {
        uint32_t p = ReadPx(sr + x * 4, 4);
        if ((p & 0xFFFFFF) != key) WritePx(dr + x * 4, 4, (p & 0xFFFFFF) | 0xFF000000u);
      }
    }
    return 0;
  }

  // 5. Key to alpha within one colour layout.
  if (key_to_alpha && !skip_key && !alpha_only && !alpha_from_red && s.bit_depth == d.bit_depth &&
      s.mask_r == d.mask_r && s.mask_g == d.mask_g && s.mask_b == d.mask_b && sb == db && sb > 1) {
    const uint32_t rgb = d.mask_r | d.mask_g | d.mask_b;
    const uint32_t key_code = GetPixelFormatInfoPixelCode(&d, (colour_key >> 16) & 255,
                                                          (colour_key >> 8) & 255, colour_key & 255,
                                                          255);
    // Only the colour bits are compared: whatever the source holds in its
    // other bits does not hide the key.
    for (int y = 0; y < h; ++y) {
      const uint8_t* sr = rows.SrcRow(y);
      uint8_t* dr = rows.DstRow(y);
      for (int x = 0; x < w; ++x) {
        uint32_t p = ReadPx(sr + x * sb, sb);
        uint32_t out = (p & rgb) == (key_code & rgb) ? (p & ~d.mask_a) : (p | d.mask_a);
        WritePx(dr + (mirror ? (w - 1 - x) : x) * db, db, out);
      }
    }
    return 0;
  }

  // 6. Dedicated pairs.
  if (!skip_key && dither == kDitherNone && !alpha_only && !alpha_from_red && !mirror &&
      !alpha_src) {
    const PaletteEntry* pal = s.palette;
    const uint32_t key = colour_key & 0xFFFFFF;
    if (!key_to_alpha) {
      if (IsPal8(s) && IsRgb565(d)) {
        MapPixels(rows, [&](uint32_t p) { return Trunc565(EntryRgb(pal[p])); });
        return 0;
      }
      if (IsPal8(s) && IsX1rgb555(d)) {
        MapPixels(rows, [&](uint32_t p) { return Trunc555(EntryRgb(pal[p])) | 0x8000u; });
        return 0;
      }
      if (IsPal8(s) && IsXrgb8888(d)) {
        MapPixels(rows, [&](uint32_t p) { return EntryRgb(pal[p]) | 0xFF000000u; });
        return 0;
      }
      if (IsRgb888(s) && IsRgb565(d)) {
        MapPixels(rows, [](uint32_t p) { return Trunc565(p); });
        return 0;
      }
      if (IsRgb888(s) && IsX1rgb555(d)) {
        MapPixels(rows, [](uint32_t p) { return Trunc555(p) | 0x8000u; });
        return 0;
      }
      if (IsRgb888(s) && Is32Rgb888Layout(d)) {
        MapPixels(rows, [](uint32_t p) { return p | 0xFF000000u; });
        return 0;
      }
      if (IsXrgb8888(s) && IsRgb565(d)) {
        MapPixels(rows, [](uint32_t p) { return Trunc565(p & 0xFFFFFF); });
        return 0;
      }
      if (IsRgb565(s) && (IsRgb888(d) || IsXrgb8888(d))) {
        MapPixels(rows, [](uint32_t p) { return Shift565To888(p); });
        return 0;
      }
      if (IsRgb565(s) && IsX1rgb555(d)) {
        MapPixels(rows, [](uint32_t p) { return Rgb565To555(p); });
        return 0;
      }
      if (IsX1rgb555(s) && IsRgb565(d)) {
        MapPixels(rows, [](uint32_t p) { return Rgb555To565(p); });
        return 0;
      }
    } else {
      if (IsPal8(s) && IsA1rgb555(d)) {
        MapPixels(rows, [&](uint32_t p) {
          uint32_t rgb = EntryRgb(pal[p]);
          return Trunc555(rgb) | (rgb == key ? 0u : 0x8000u);
        });
        return 0;
      }
      if (IsPal8(s) && IsArgb8888(d)) {
        MapPixels(rows, [&](uint32_t p) {
          uint32_t rgb = EntryRgb(pal[p]);
          return rgb | (rgb == key ? 0u : 0xFF000000u);
        });
        return 0;
      }
      if (IsRgb888(s) && IsA1rgb555(d)) {
        MapPixels(rows, [&](uint32_t p) { return Trunc555(p) | (p == key ? 0u : 0x8000u); });
        return 0;
      }
      if (IsRgb888(s) && IsArgb8888(d)) {
        MapPixels(rows, [&](uint32_t p) { return p | (p == key ? 0u : 0xFF000000u); });
        return 0;
      }
      const uint32_t key565 = Trunc565(key);
      if (IsRgb565(s) && IsA1rgb555(d)) {
        MapPixels(rows, [&](uint32_t p) { return Rgb565To555(p) | (p == key565 ? 0u : 0x8000u); });
        return 0;
      }
      if (IsRgb565(s) && IsArgb8888(d)) {
        MapPixels(rows,
                  [&](uint32_t p) { return Shift565To888(p) | (p == key565 ? 0u : 0xFF000000u); });
        return 0;
      }
    }
  }

  // 7. General per-pixel conversion.
  GeneralBlit general{&s,
                      &d,
                      &a,
                      key_to_alpha != 0,
                      alpha_from_image,
                      alpha_only != 0,
                      alpha_from_red != 0,
                      skip_key != 0,
                      mirror != 0,
                      dither,
                      colour_key};
  return general.Run(dst, dst_pitch, src, src_pitch, alpha_src, alpha_pitch, dx, dy, r);
}
