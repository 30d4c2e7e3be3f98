// lib/graphics/font_text.cpp - laying strings out in a font, writing glyph
// pixels on the software path, and the text draw entries.
#include <cstdio>
#include <cstring>

#include "lib/core/charset.h"
#include "lib/core/log.h"
#include "lib/core/memory.h"
#include "lib/system/window_system.h"
#include "lib/graphics/font.h"
#include "lib/graphics/graphic.h"
#include "lib/graphics/mask.h"
#include "lib/graphics/graphics_device.h"
#include "lib/graphics/soft_draw.h"
#include "lib/softrender/soft_draw_state.h"
#include "lib/softrender/soft_kernels.h"

namespace {

bool IsBlank(const CharRecord& r) {
  return (r.first == 0x20 && r.second == 0) || (r.first == 0x81 && r.second == 0x40);
}

// One channel of the anti-aliased edge blend: edge + ((text - edge) x w >> 8).
uint32_t BlendField(uint32_t text, uint32_t edge, int shift, uint32_t mask, int w) {
  const int t = static_cast<int>((text >> shift) & mask);
  const int e = static_cast<int>((edge >> shift) & mask);
  return static_cast<uint32_t>(e + (((t - e) * w) >> 8)) << shift;
}

// The pixel an anti-aliased edge font writes for a cache byte (glyph level
// g in the low nibble, edge level e in the high one), or false for none.
bool EdgeAntialiasPixel(int bits, uint8_t cached, uint32_t colour, uint32_t edge_colour, uint32_t* out) {
  const int g = cached & 0x0F;
  const int e = cached >> 4;
  if (g == 0 && e == 0) return false;
  const int alpha_shift = bits == 16 ? 16 : 24;
  if (g == 0) {
    *out = static_cast<uint32_t>(e * 16) << alpha_shift | edge_colour;
    return true;
  }
  if (g == 15) {
    *out = 0xFFu << alpha_shift | colour;
    return true;
  }
  const int a = (15 - g) * e + g * 16;
  const int w = (g << 12) / a;
  uint32_t rgb;
  if (bits == 16) {
    rgb = BlendField(colour, edge_colour, 11, 0x1F, w) | BlendField(colour, edge_colour, 5, 0x3F, w) |
          BlendField(colour, edge_colour, 0, 0x1F, w);
  } else {
    rgb = BlendField(colour, edge_colour, 16, 0xFF, w) | BlendField(colour, edge_colour, 8, 0xFF, w) |
          BlendField(colour, edge_colour, 0, 0xFF, w);
  }
  *out = static_cast<uint32_t>(a) << alpha_shift | rgb;
  return true;
}

}  // namespace

void WriteGlyphPixels(const FontRecord* font, const GlyphCacheEntry* entry, TextDrawTarget* target,
                      int x, int y, const TextClipRect& clip, uint32_t colour, uint32_t edge_colour) {
  if (font->soft_pixels == nullptr || entry->slot < 0) return;
  // A glyph larger than its cell is cut to the cell.
  const int w = entry->image_width < font->cell_size ? entry->image_width : font->cell_size;
  const int h = entry->image_height < font->cell_size ? entry->image_height : font->cell_size;
  int left = x, top = y, right = x + w, bottom = y + h;
  if (left < clip.left) left = clip.left;
  if (top < clip.top) top = clip.top;
  if (right > clip.right) right = clip.right;
  if (bottom > clip.bottom) bottom = clip.bottom;
  if (left < 0) left = 0;
  if (top < 0) top = 0;
  if (right > target->width) right = target->width;
  if (bottom > target->height) bottom = target->height;
  if (left >= right || top >= bottom) return;

  int cell_x, cell_y;
  GlyphCellPosition(font, entry->slot, &cell_x, &cell_y);
  const uint32_t type = font->type;
  const int depth = Screen().colour_bits;
  for (int py = top; py < bottom; ++py) {
    const uint8_t* src = font->soft_pixels + static_cast<ptrdiff_t>(cell_y + py - y) * font->soft_pitch;
    uint8_t* dst = target->pixels + static_cast<ptrdiff_t>(py) * target->pitch;
    for (int px = left; px < right; ++px) {
      const int sx = px - x;
      uint8_t v;
      if (type == 0) {
        v = (src[sx >> 3] >> (7 - (sx & 7))) & 1;
      } else {
        v = src[sx];
      }
      if (v == 0) continue;
      uint32_t pixel;
      if (type <= 1) {
        pixel = v == 1 ? colour : edge_colour;
        if (depth == 32 && v != 1) pixel &= 0xFFFFFF;
      } else if (type == 2) {
        pixel = depth == 16 ? (static_cast<uint32_t>(v) << 20 | colour) : (static_cast<uint32_t>(v) << 28 | colour);
      } else if (!EdgeAntialiasPixel(depth == 16 ? 16 : 32, v, colour, edge_colour, &pixel)) {
        continue;
      }
      switch (target->bits) {
        case 8: dst[px] = static_cast<uint8_t>(pixel); break;
        case 16: reinterpret_cast<uint16_t*>(dst)[px] = static_cast<uint16_t>(pixel); break;
        case 32: reinterpret_cast<uint32_t*>(dst)[px] = pixel; break;
        default: return;
      }
    }
  }
}

namespace {

// One glyph of the texture cache: its cell's glyph area drawn as a graphic
// rectangle, the edge half first in the edge colour, then the glyph in the
// text colour; the blend image and bright colour are left as they were.
void DrawTextureGlyph(const FontRecord* font, const GlyphCacheEntry* entry, int x, int y, uint32_t colour,
                      uint32_t edge_colour) {
  if (font->cache_screen < 0) return;
  DrawSettings& d = Draw();
  const int blend_graphic = d.blend_graphic;
  const int border_param = d.border_param;
  const int border_range = d.border_range;
  const uint32_t bright = d.bright;
  if (blend_graphic != -1) SetDrawBlendImage(-1, 0, 0);
  int sx, sy;
  GlyphCellPosition(font, entry->slot, &sx, &sy);
  sx += 1;
  sy += 1;
  const int w = entry->image_width < font->cell_size ? entry->image_width : font->cell_size;
  const int h = entry->image_height < font->cell_size ? entry->image_height : font->cell_size;
  if ((font->type & kFontTypeEdge) && font->edge_screen >= 0) {
    SetDrawBrightPacked(edge_colour);
    DrawGraphicRect(x, y, sx, sy, w, h, font->edge_screen, 1, 0);
  }
  SetDrawBrightPacked(colour);
  DrawGraphicRect(x, y, sx, sy, w, h, font->cache_screen, 1, 0);
  if (blend_graphic != -1) SetDrawBlendImage(blend_graphic, border_param, border_range);
  SetDrawBrightPacked(bright);
}

}  // namespace

static uint32_t ModulateSoftTextColour(uint32_t value) {
  const uint32_t bright = Draw().bright;
  int r = 0, g = 0, b = 0;
  SplitColorCode(value, &r, &g, &b);
  r = r * static_cast<int>((bright >> 16) & 0xFF) / 255;
  g = g * static_cast<int>((bright >> 8) & 0xFF) / 255;
  b = b * static_cast<int>(bright & 0xFF) / 255;
  return GetColorCode(uint8_t(r), uint8_t(g), uint8_t(b)) & ~GetColorCode(0, 0, 0);
}

int FontTextCacheBuild(int draw, int x, int y, const char* text, uint32_t colour,
                       TextDrawTarget* target, const TextClipRect* clip, int transparent,
                       int handle, uint32_t edge_colour, int length, int vertical, int* size_out) {
  FontRecord* font = FontHandleToRecord(handle);
  if (font == nullptr) return -1;
  y -= font->height_adjust / 2;
  // Texture glyphs take their colour from the bright colour: the text and
  // edge colours modulated by the current one, as packed words. (The
  // software path writes the colours it is given; its caller modulates.)
  uint32_t packed_colour = 0, packed_edge = 0;
  if (draw && target == nullptr && font->texture_cache) {
    const uint32_t bright = Draw().bright;
    auto modulate = [&](uint32_t value) {
      int r = 0, g = 0, b = 0;
      SplitColorCode(value, &r, &g, &b);
      r = r * static_cast<int>((bright >> 16) & 0xFF) / 255;
      g = g * static_cast<int>((bright >> 8) & 0xFF) / 255;
      b = b * static_cast<int>(bright & 0xFF) / 255;
      return 0xFF000000u | static_cast<uint32_t>(r) << 16 | static_cast<uint32_t>(g) << 8 | static_cast<uint32_t>(b);
    };
    packed_colour = modulate(colour);
    packed_edge = modulate(edge_colour);
  }
  if (text == nullptr || text[0] == '\0') {
    if (size_out != nullptr) {
      size_out[0] = 0;
      size_out[1] = font->height;
    }
    return 0;
  }
  int bytes = static_cast<int>(std::strlen(text));
  if (length >= 0 && length < bytes) bytes = length;

  CharRecord small_list[256];
  CharRecord* list = small_list;
  CharRecord* block = nullptr;
  if (bytes > 256) {
    block = static_cast<CharRecord*>(TrackedAlloc(static_cast<size_t>(bytes) * sizeof(CharRecord), __FILE__, __LINE__));
    if (block == nullptr) return -1;
    list = block;
  }
  int count = 0;
  if (FontCacheAddString(bytes, text, handle, list, &count) != 0) {
    TrackedFree(block);
    return -1;
  }

  double pen = 0.0;
  for (int i = 0; i < count; ++i) {
    const CharRecord& r = list[i];
    CharTableEntry* t = &font->table[r.first | (r.second << 8)];
    if (!t->cached) {
      // More new characters than the cache holds: this one is cached now,
      // replacing the oldest.
      if (FontCacheAddGlyph(handle, 1, &r) == nullptr) {
        TrackedFree(block);
        return WriteLogLine("テキストキャッシュの作成に失敗しました");
      }
      // A character the font refused has no cell: nothing is drawn for it.
      if (!t->cached) continue;
    }
    const GlyphCacheEntry* entry = t->entry;
    if (draw && target == nullptr && font->texture_cache && !IsBlank(r) && entry->image_width != 0 &&
        entry->image_height != 0 && entry->slot >= 0) {
      DrawTextureGlyph(font, entry, x + static_cast<int>(pen) + entry->x_offset, y + entry->y_offset,
                       packed_colour, packed_edge);
    } else if (draw && target != nullptr && clip != nullptr && !IsBlank(r) && entry->image_width != 0 &&
        entry->image_height != 0) {
      WriteGlyphPixels(font, entry, target, x + static_cast<int>(pen) + entry->x_offset, y + entry->y_offset,
                       *clip, colour, edge_colour);
    }
    pen += entry->advance + font->spacing;
  }
  if (size_out != nullptr) {
    size_out[0] = static_cast<int>(pen);
    size_out[1] = font->height;
  }
  TrackedFree(block);
  return static_cast<int>(pen);
}

int FormatTextBounded(char* buffer, int size, const char* format, va_list args) {
  if (buffer == nullptr || size < 1) return 0;
  buffer[0] = '\0';
  if (format == nullptr) return 0;
  const int full = std::vsnprintf(buffer, static_cast<size_t>(size), format, args);
  if (full < 0) {
    buffer[0] = '\0';
    return 0;
  }
  if (full < size) return full;
  // Cut: keep whole characters only.
  int n = 0;
  const int limit = size - 1;
  while (n < limit && buffer[n] != '\0') {
    const int step = IsLibraryLeadByte(static_cast<unsigned char>(buffer[n])) ? 2 : 1;
    if (n + step > limit) break;
    n += step;
  }
  buffer[n] = '\0';
  return n;
}

namespace {

TextDrawTarget MemImgTextTarget(MEMIMG* image) {
  return TextDrawTarget{image->pixels, image->base->pitch, image->width, image->height,
                        image->base->format_info->bytes_per_pixel * 8};
}

}  // namespace

int FontDrawTextTexture(int handle, const char* text, int x, int y, uint32_t colour, uint32_t edge_colour,
                        int vertical) {
  FontRecord* font = FontHandleToRecord(handle);
  if (font == nullptr) return -1;
  if (font->cache_lost) FontCacheRebuild(handle);
  if (FontTextCacheBuild(1, x, y, text, colour, nullptr, nullptr, 1, handle, edge_colour, -1, vertical, nullptr) <
      0) {
    return -1;
  }
  return 0;
}

int FontDrawText(int handle, const char* text, int x, int y, uint32_t colour, uint32_t edge_colour,
                 int vertical) {
  int size[2] = {0, 0};
  if (FontTextCacheBuild(0, x, y, text, colour, nullptr, nullptr, 1, handle, edge_colour, -1, 0, size) < 0) {
    return -1;
  }
  const FontRecord* font = FontHandleToRecord(handle);
  SoftDrawState& soft = SoftDraw();
  MEMIMG* screen = soft.target;
  if (font == nullptr || !IsValidMemImg(screen)) return -1;
  const bool antialiased = (font->type & kFontTypeAntialias) != 0;
  const uint32_t mode = soft.blend_mode;
  // The glyphs are written in the colours under the bright colour.
  colour = ModulateSoftTextColour(colour);
  edge_colour = ModulateSoftTextColour(edge_colour);
  // Glyph pixels of anti-aliased fonts carry alpha and always go through the
  // work image, whatever the blend mode.
  if (!antialiased && (mode == 0 || (mode == 1 && soft.blend_param == 255))) {
    TextDrawTarget target = MemImgTextTarget(screen);
    const TextClipRect clip{soft.clip.left, soft.clip.top, soft.clip.right, soft.clip.bottom};
    FontTextCacheBuild(1, x, y, text, colour, &target, &clip, 1, handle, edge_colour, -1, 0, nullptr);
    return 0;
  }
  MEMIMG* work = &SoftFontWorkImage(antialiased ? 1 : 0);
  if (!IsValidMemImg(work)) return -1;
  const IntRect kept_clip = soft.clip;
  const uint32_t kept_bright = Draw().bright;
  IntRect area{0, 0, size[0], size[1]};
  const IntRect work_rect{0, 0, work->width, work->height};
  ClipRect(&area, &work_rect);
  uint32_t key = 0;
  if (!antialiased) {
    key = work->base->colour_key;
    while (key == colour || key == edge_colour) ++key;
  }
  FillMemImgRawRect(work, &area, key);
  const uint32_t kept_key = work->base->colour_key;
  work->base->colour_key = key;
  soft.clip = area;
  TextDrawTarget target = MemImgTextTarget(work);
  const TextClipRect clip{area.left, area.top, area.right, area.bottom};
  FontTextCacheBuild(1, 0, 0, text, colour, &target, &clip, 1, handle, edge_colour, -1, 0,
                     nullptr);
  SetDrawBrightPacked(0xFFFFFF);
  IntRect box{x, y, x + size[0], y + size[1]};
  ClipRect(&box, &kept_clip);
  soft.clip = box;
  if (box.right > box.left && box.bottom > box.top)
    DrawMemImgBasic(screen, work, x, y, 1, soft.blend_image);
  soft.clip = kept_clip;
  work->base->colour_key = kept_key;
  SetDrawBrightPacked(kept_bright);
  return 0;
}

int DrawTextWithFont(int x, int y, const char* text, uint32_t colour, int handle, uint32_t edge_colour,
                     int vertical) {
  if (text == nullptr || text[0] == '\0') return 0;
  const FontRecord* font = FontHandleToRecord(handle);
  if (Draw().empty_clip) return 0;
  if (font == nullptr) return WriteLogLine("フォントハンドル値が異常です\n");
  // Without a window (the library not started) there is nothing to wait for.
  if (GetMainWindow() != nullptr) WaitWhileInactive();
  // Where the text's area matters (masking, subtract blending of texture
  // glyphs, the front screen), text starting right of the clip rectangle
  // is dropped before any glyph is cached.
  const bool masked = Mask().in_use != 0;
  const int left = x;
  const int top = y - font->height_adjust / 2;
  const int right = Draw().clip[2];
  const int bottom = top + font->size + 3;
  if ((Draw().blend_mode == 3 && font->texture_cache) || masked || Draw().draw_target == -4) {
    if (left >= right) return 0;
    if (masked) PrepareMaskedDraw(left, top, right, bottom);
  }
  int result;
  if (font->texture_cache && Draw().blend_mode == 3 && !GraphicsDevice().blend_op_capable) {
    // The whole line is subtracted between the two inversions of its area,
    // not glyph by glyph.
    const IntRect area{left, top, right, bottom};
    SubtractEmulationBegin(&area);
    result = FontDrawTextTexture(handle, text, x, y, colour, edge_colour, vertical);
    SubtractEmulationEnd(&area);
  } else if (font->texture_cache) {
    result = FontDrawTextTexture(handle, text, x, y, colour, edge_colour, vertical);
  } else {
    result = FontDrawText(handle, text, x, y, colour, edge_colour, vertical);
  }
  if (masked) ApplyMaskScreenToRect(left, top, right, bottom);
  return result;
}

int DrawTextWithFontFmt(int x, int y, uint32_t colour, int handle, const char* format, ...) {
  char text[2048];
  va_list args;
  va_start(args, format);
  FormatTextBounded(text, sizeof text, format, args);
  va_end(args);
  return DrawTextWithFont(x, y, text, colour, handle, 0, 0);
}
