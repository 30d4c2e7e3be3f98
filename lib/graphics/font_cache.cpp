// lib/graphics/font_cache.cpp - the glyph cache of a font: the character
// table, round-robin cells, glyph rendering into the software cell layouts
// and the splitting of strings into characters.
#include <algorithm>
#include <cstring>
#include <vector>

#include "lib/core/charset.h"
#include "lib/core/log.h"
#include "lib/core/memory.h"
#include "lib/system/window_system.h"
#include "lib/graphics/font.h"
#include "lib/graphics/graphic.h"
#include "lib/graphics/graphics_device.h"

namespace {

// Round edge masks for edge sizes 2 to 4, 9 bytes a row, centred at (4, 4).
// Sizes 0 and 1 use the plus shape, 5 and more the whole square.
constexpr const char* kEdgeMasks[3][9] = {
    {".........", ".........", "...###...", "..#####..", "..#####..", "..#####..", "...###...",
     ".........", "........."},
    {".........", "....#....", "..#####..", "..#####..", ".#######.", "..#####..", "..#####..",
     "....#....", "........."},
    {"..#####..", ".#######.", "#########", "#########", "#########", "#########", "#########",
     ".#######.", "..#####.."},
};

bool IsBlankCharacter(const CharRecord& r) {
  return (r.first == 0x20 && r.second == 0) || (r.first == 0x81 && r.second == 0x40);
}

int GlyphLevel(const GlyphBitmap& g, int x, int y) {
  const uint8_t* row = g.rows + static_cast<ptrdiff_t>(y) * g.pitch;
  if (g.grey) return row[x];
  return (row[x >> 3] >> (7 - (x & 7))) & 1;
}

}  // namespace

bool EdgeMaskAt(int edge_size, int dx, int dy) {
  if (edge_size <= 1) return (dx == 0) != (dy == 0) && dx >= -1 && dx <= 1 && dy >= -1 && dy <= 1;
  if (dx < -edge_size || dx > edge_size || dy < -edge_size || dy > edge_size) return false;
  if (edge_size >= 5) return true;
  return kEdgeMasks[edge_size - 2][dy + 4][dx + 4] == '#';
}

void WriteSoftwareGlyphCell(uint32_t type, int edge_size, int cell_size, const GlyphBitmap& glyph,
                            uint8_t* cell, int pitch) {
  const int w = glyph.width;
  const int h = glyph.height;
  if (type == 0) {
    // One bit a pixel, rows copied as they come, cut to the cell.
    const int row_bytes = std::min((w + 7) / 8, pitch);
    for (int y = 0; y < h && y < cell_size; ++y) {
      std::memcpy(cell + static_cast<ptrdiff_t>(y) * pitch, glyph.rows + static_cast<ptrdiff_t>(y) * glyph.pitch,
                  row_bytes);
      const int keep = cell_size - (row_bytes - 1) * 8;
      if (keep < 8) cell[y * pitch + row_bytes - 1] &= static_cast<uint8_t>(0xFF00 >> keep);
    }
    return;
  }
  const bool edge = (type & kFontTypeEdge) != 0;
  const int e = edge ? edge_size : 0;
  auto at = [&](int x, int y) -> uint8_t* {
    if (x < 0 || y < 0 || x >= cell_size || y >= cell_size) return nullptr;
    return cell + static_cast<ptrdiff_t>(y) * pitch + x;
  };
  const int reach = edge_size <= 1 ? 1 : edge_size;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int level = GlyphLevel(glyph, x, y);
      if (level == 0) continue;
      const int value = glyph.grey ? level - 1 : 1;
      if (uint8_t* p = at(x + e, y + e)) {
        if (type == 2) {
          *p = static_cast<uint8_t>(value);
        } else if (type == 1) {
          *p = 1;
        } else {
          *p |= static_cast<uint8_t>(value);
        }
      }
      if (!edge) continue;
      for (int dy = -reach; dy <= reach; ++dy) {
        for (int dx = -reach; dx <= reach; ++dx) {
          if (!EdgeMaskAt(edge_size, dx, dy)) continue;
          uint8_t* p = at(x + e + dx, y + e + dy);
          if (p == nullptr) continue;
          if (type == 1) {
            if (*p == 0) *p = 2;
          } else if ((*p >> 4) < value) {
            *p = static_cast<uint8_t>((*p & 0x0F) | (value << 4));
          }
        }
      }
    }
  }
}

uint16_t AntialiasTexel(const PixelFormatInfo& format, int level) {
  const uint32_t colour = format.mask_r | format.mask_g | format.mask_b;
  if (level == 0) return static_cast<uint16_t>(colour);
  const int shift = format.shift_a + format.width_a - 4;
  const uint32_t alpha = shift >= 0 ? (static_cast<uint32_t>(level) << shift) - 1
                                    : (static_cast<uint32_t>(level) >> -shift) - 1;
  return static_cast<uint16_t>(alpha | colour);
}

void WriteTextureGlyphCell(uint32_t type, int edge_size, int cell_size, const GlyphBitmap& glyph,
                           BaseImage* staging, int x, int y, int half_width) {
  const PixelFormatInfo& format = staging->format;
  const uint16_t colour = static_cast<uint16_t>(format.mask_r | format.mask_g | format.mask_b);
  const uint16_t opaque = static_cast<uint16_t>(format.mask_a | colour);
  const bool edge = (type & kFontTypeEdge) != 0;
  const int e = edge ? edge_size : 0;
  // The written area: the glyph plus its edge, cut to the cell and the image.
  const int area_w = std::min(glyph.width + 2 * e, cell_size);
  const int area_h = std::min(glyph.height + 2 * e, cell_size);
  auto texel = [&](int half, int px, int py) -> uint16_t* {
    if (px < 0 || py < 0 || px >= area_w || py >= area_h) return nullptr;
    const int ix = x + px + half * half_width;
    const int iy = y + py;
    if (ix < 0 || iy < 0 || ix >= staging->width || iy >= staging->height) return nullptr;
    return reinterpret_cast<uint16_t*>(staging->pixels + static_cast<ptrdiff_t>(iy) * staging->pitch) + ix;
  };
  const int reach = edge_size <= 1 ? 1 : edge_size;

  if (type == 0 || type == 2) {
    for (int py = 0; py < glyph.height; ++py) {
      for (int px = 0; px < glyph.width; ++px) {
        uint16_t* t = texel(0, px, py);
        if (t == nullptr) continue;
        const int level = GlyphLevel(glyph, px, py);
        *t = type == 0 ? (level ? opaque : colour) : AntialiasTexel(format, level);
      }
    }
    return;
  }
  if (type == 1) {
    for (int py = 0; py < glyph.height; ++py) {
      for (int px = 0; px < glyph.width; ++px) {
        if (!GlyphLevel(glyph, px, py)) continue;
        if (uint16_t* t = texel(0, px + e, py + e)) *t = opaque;
        for (int dy = -reach; dy <= reach; ++dy) {
          for (int dx = -reach; dx <= reach; ++dx) {
            if (!EdgeMaskAt(edge_size, dx, dy)) continue;
            uint16_t* t = texel(1, px + e + dx, py + e + dy);
            if (t != nullptr && (*t & format.mask_a) == 0) *t = opaque;
          }
        }
      }
    }
    return;
  }
  // Anti-aliased edge: levels 0..16 in both halves first, then texels.
  std::vector<uint8_t> levels(static_cast<size_t>(area_w) * area_h * 2, 0);
  auto level_at = [&](int half, int px, int py) -> uint8_t* {
    if (px < 0 || py < 0 || px >= area_w || py >= area_h) return nullptr;
    return &levels[(static_cast<size_t>(half) * area_h + py) * area_w + px];
  };
  for (int py = 0; py < glyph.height; ++py) {
    for (int px = 0; px < glyph.width; ++px) {
      const int level = GlyphLevel(glyph, px, py);
      if (level == 0) continue;
      if (uint8_t* g = level_at(0, px + e, py + e)) *g = static_cast<uint8_t>(level);
      for (int dy = -reach; dy <= reach; ++dy) {
        for (int dx = -reach; dx <= reach; ++dx) {
          if (!EdgeMaskAt(edge_size, dx, dy)) continue;
          if (uint8_t* v = level_at(1, px + e + dx, py + e + dy)) {
            *v = static_cast<uint8_t>((256 - (16 - *v) * (16 - level)) >> 4);
          }
        }
      }
    }
  }
  for (int half = 0; half < 2; ++half) {
    for (int py = 0; py < area_h; ++py) {
      for (int px = 0; px < area_w; ++px) {
        if (uint16_t* t = texel(half, px, py)) *t = AntialiasTexel(format, *level_at(half, px, py));
      }
    }
  }
}

void GlyphCellPosition(const FontRecord* font, int slot, int* x, int* y) {
  *x = font->cell_size * (slot / font->cells_per_column);
  *y = font->cell_size * (slot % font->cells_per_column);
}

int FontCacheClear(int handle) {
  FontRecord* font = FontHandleToRecord(handle);
  if (font == nullptr) return -1;
  std::memset(font->table, 0, sizeof font->table);
  std::memset(font->entries, 0, sizeof font->entries);
  for (int i = 0; i < font->capacity; ++i) font->entries[i].slot = i;
  font->entries[font->capacity].slot = -1;
  font->next_slot = 0;
  return 0;
}

int FontCacheRebuild(int handle) {
  FontRecord* font = FontHandleToRecord(handle);
  if (font == nullptr) return -1;
  if (font->cache_lost != 1) return 0;
  font->cache_lost = 0;

  // A screen that survived (the cache is rebuilt on request) is replaced; its
  // deletion must not flag the new one as lost.
  if (font->edge_screen != -1) DeleteGraphic(font->edge_screen);
  if (font->cache_screen != -1) {
    SetGraphicLostFlag(font->cache_screen, nullptr);
    DeleteGraphic(font->cache_screen);
  }
  font->cache_screen = -1;
  font->edge_screen = -1;

  const bool edge = (font->type & kFontTypeEdge) != 0;
  const bool antialias = (font->type & kFontTypeAntialias) != 0;
  const int width = font->cache_width * (edge ? 2 : 1);
  const int height = font->cache_height;

  // 16-bit glyph texels: alpha carries the glyph, colour bits stay white so
  // the bright colour alone gives the text its colour.
  GraphicsSettings& config = GraphicsConfig();
  const GraphicsSettings saved = config;
  config.creation_depth = 16;
  config.create_alpha = antialias ? 1 : 0;
  config.alpha_test_transparency = antialias ? 0 : 1;
  font->cache_screen = MakeGraphic(width, height);
  if (font->cache_screen >= 0 && edge) {
    font->edge_screen = DeriveGraphic(font->cache_width, 0, font->cache_width, height, font->cache_screen);
  }
  config = saved;
  if (font->cache_screen < 0 || (edge && font->edge_screen < 0)) {
    if (font->cache_screen >= 0) DeleteGraphic(font->cache_screen);
    font->cache_screen = -1;
    font->edge_screen = -1;
    return -1;
  }

  FreeBaseImagePixels(&font->staging);
  PixelFormatInfo format{};
  if (antialias) {
    CreatePixelFormatInfoFromMasks(&format, 16, 0x0F00, 0x00F0, 0x000F, 0xF000);
  } else {
    CreatePixelFormatInfoFromMasks(&format, 16, 0x7C00, 0x03E0, 0x001F, 0x8000);
  }
  if (CreateBaseImageLike(width, height, &format, &font->staging) != 0) {
    DeleteGraphic(font->cache_screen);
    font->cache_screen = -1;
    font->edge_screen = -1;
    return -1;
  }
  // White with alpha 0 everywhere, on the staging image and the screen.
  const auto blank = static_cast<uint16_t>(format.mask_r | format.mask_g | format.mask_b);
  for (int y = 0; y < height; ++y) {
    auto* row = reinterpret_cast<uint16_t*>(font->staging.pixels + static_cast<ptrdiff_t>(y) * font->staging.pitch);
    for (int x = 0; x < width; ++x) row[x] = blank;
  }
  const ImageRect all = {0, 0, width, height};
  BltMemImageToGraphic(&font->staging, nullptr, &all, 0, 0, font->cache_screen);
  SetGraphicLostFlag(font->cache_screen, &font->cache_lost);
  FontCacheClear(handle);
  return 0;
}

namespace {

// Clears a cell of the staging image to white with alpha 0.
void ClearStagingCell(BaseImage* staging, int x, int y, int size) {
  const auto blank = static_cast<uint16_t>(staging->format.mask_r | staging->format.mask_g | staging->format.mask_b);
  for (int py = std::max(y, 0); py < y + size && py < staging->height; ++py) {
    auto* row = reinterpret_cast<uint16_t*>(staging->pixels + static_cast<ptrdiff_t>(py) * staging->pitch);
    for (int px = std::max(x, 0); px < x + size && px < staging->width; ++px) row[px] = blank;
  }
}

void TransferStagingRect(FontRecord* font, int x, int y, int w, int h) {
  const int right = std::min(x + w, font->staging.width);
  const int bottom = std::min(y + h, font->staging.height);
  if (right <= x || bottom <= y) return;
  const ImageRect rect = {x, y, right, bottom};
  BltMemImageToGraphic(&font->staging, nullptr, &rect, x, y, font->cache_screen);
}

}  // namespace

GlyphCacheEntry* FontCacheAddGlyph(int handle, int count, const CharRecord* records) {
  FontRecord* font = FontHandleToRecord(handle);
  if (font == nullptr || count < 1 || records == nullptr) return nullptr;
  plat::GdiDc* dc = plat::CreateMemoryDc();
  if (dc == nullptr) FatalErrorExit("テキストキャッシュサーフェスのＤＣの取得に失敗しました");
  plat::SelectFont(dc, font->font);
  plat::TextMetric tm{};
  plat::GetTextMetrics(dc, &tm);
  const uint32_t format = (font->type & kFontTypeAntialias) ? plat::kGgoGray4Bitmap : plat::kGgoBitmap;
  const int e = (font->type & kFontTypeEdge) ? font->edge_size : 0;

  GlyphCacheEntry* last = nullptr;
  for (int i = 0; i < count; ++i) {
    const CharRecord& r = records[i];
    const int slot = font->next_slot;
    GlyphCacheEntry* entry = &font->entries[slot];
    last = entry;
    if (entry->in_use) {
      entry->table_entry->cached = 0;
      entry->table_entry->entry = nullptr;
      entry->in_use = 0;
    }
    int cx, cy;
    GlyphCellPosition(font, slot, &cx, &cy);
    uint8_t* cell = nullptr;
    if (font->texture_cache) {
      // The glyph area of a texture cell starts one texel in.
      cx += 1;
      cy += 1;
      ClearStagingCell(&font->staging, cx, cy, font->cell_size);
      if (font->type & kFontTypeEdge) ClearStagingCell(&font->staging, cx + font->cache_width, cy, font->cell_size);
    } else {
      cell = font->soft_pixels + static_cast<ptrdiff_t>(cy) * font->soft_pitch;
      std::memset(cell, 0, static_cast<size_t>(font->cell_size) * font->soft_pitch);
    }

    const uint32_t code = r.second != 0 ? (static_cast<uint32_t>(r.first) << 8 | r.second) : r.first;
    plat::GlyphMetrics gm{};
    uint32_t size = 0;
    if (!IsBlankCharacter(r)) {
      size = plat::GetGlyphOutline(dc, code, format, &gm, 0, nullptr, &plat::kIdentityMat2);
      if (size == plat::kGdiError) {
        WriteLogLine("GetGlyphOutline 関数が失敗しました\n");
        continue;
      }
    } else {
      plat::GetGlyphOutline(dc, code, format, &gm, 0, nullptr, &plat::kIdentityMat2);
    }
    entry->advance = gm.cell_inc_x;
    entry->image_width = 0;
    entry->image_height = 0;
    entry->x_offset = 0;
    entry->y_offset = 0;
    // A glyph of size 0 has no pixels however large its box: it is blank.
    if (size != 0 && gm.black_box_y != 0) {
      const int pitch = static_cast<int>(size / gm.black_box_y) & ~3;
      auto* buffer = static_cast<uint8_t*>(TrackedCalloc(size + 2 * static_cast<size_t>(pitch), __FILE__, __LINE__));
      if (buffer == nullptr) FatalErrorExit("アンチエイリアス文字取得用バッファの確保に失敗しました");
      if (plat::GetGlyphOutline(dc, code, format, &gm, size, buffer + pitch, &plat::kIdentityMat2) ==
          plat::kGdiError) {
        WriteLogLine("GetGlyphOutline 関数が失敗しました\n");
        TrackedFree(buffer);
        continue;
      }
      entry->x_offset = static_cast<int16_t>(gm.origin_x);
      entry->y_offset = static_cast<int16_t>(tm.ascent - gm.origin_y);
      entry->image_width = static_cast<int16_t>(gm.black_box_x);
      entry->image_height = static_cast<int16_t>(gm.black_box_y);
      const GlyphBitmap glyph = {buffer + pitch, pitch, static_cast<int>(gm.black_box_x),
                                 static_cast<int>(gm.black_box_y), format != plat::kGgoBitmap};
      if (font->texture_cache) {
        WriteTextureGlyphCell(font->type, font->edge_size, font->cell_size, glyph, &font->staging, cx, cy,
                              font->cache_width);
        if (font->type & kFontTypeEdge) {
          const int w = std::min(entry->image_width + 2 * e, font->cell_size);
          const int h = std::min(entry->image_height + 2 * e, font->cell_size);
          TransferStagingRect(font, cx, cy, w, h);
          TransferStagingRect(font, cx + font->cache_width, cy, w, h);
        } else {
          TransferStagingRect(font, cx, cy, font->cell_size, font->cell_size);
        }
      } else {
        WriteSoftwareGlyphCell(font->type, font->edge_size, font->cell_size, glyph, cell, font->soft_pitch);
      }
      TrackedFree(buffer);
    }
    if (font->type & kFontTypeEdge) {
      entry->advance = static_cast<int16_t>(entry->advance + 2 * e);
      entry->image_width = static_cast<int16_t>(entry->image_width + 2 * e);
      entry->image_height = static_cast<int16_t>(entry->image_height + 2 * e);
    }
    CharTableEntry* table = &font->table[r.first | (r.second << 8)];
    table->cached = 1;
    table->entry = entry;
    entry->table_entry = table;
    entry->in_use = 1;
    font->next_slot = slot + 1 == font->capacity ? 0 : slot + 1;
  }
  plat::SelectFont(dc, nullptr);
  plat::DeleteDc(dc);
  return last;
}

int FontCacheAddString(int max_length, const char* text, int handle, CharRecord* out_list, int* out_count) {
  FontRecord* font = FontHandleToRecord(handle);
  if (font == nullptr || text == nullptr) return -1;
  int length = static_cast<int>(std::strlen(text));
  if (max_length >= 0 && max_length < length) length = max_length;

  // Work lists: on the stack for short strings, else one block.
  CharRecord small_list[256];
  CharRecord small_new[256];
  CharRecord* block = nullptr;
  CharRecord* list = out_list != nullptr ? out_list : small_list;
  CharRecord* fresh = small_new;
  if (length > 256) {
    block = static_cast<CharRecord*>(TrackedAlloc(static_cast<size_t>(length) * 2 * sizeof(CharRecord), __FILE__, __LINE__));
    if (block == nullptr) return -1;
    fresh = block;
    if (out_list == nullptr) list = block + length;
  }

  int count = 0;
  int fresh_count = 0;
  for (int i = 0; i < length;) {
    CharRecord r = {static_cast<uint8_t>(text[i]), 0, 0};
    if (IsLeadByte(text + i, font->charset) && i + 1 < length && text[i + 1] != '\0') {
      r.second = static_cast<uint8_t>(text[i + 1]);
      i += 2;
    } else {
      i += 1;
    }
    list[count++] = r;
    CharTableEntry& t = font->table[r.first | (r.second << 8)];
    if (!t.cached && fresh_count < font->capacity) {
      fresh[fresh_count++] = r;
      t.cached = 1;  // for the walk only: repeats are listed once
    }
  }
  for (int i = 0; i < fresh_count; ++i) font->table[fresh[i].first | (fresh[i].second << 8)].cached = 0;
  if (fresh_count > 0) FontCacheAddGlyph(handle, fresh_count, fresh);
  if (out_count != nullptr) *out_count = count;
  TrackedFree(block);
  return 0;
}

int GetByteKindInString(const char* text, int index, int charset_index) {
  if (text == nullptr || index < 0) return -1;
  int i = 0;
  while (text[i] != '\0') {
    const bool lead_byte = IsLeadByte(text + i, charset_index) != 0;
    if (i == index) return lead_byte ? 1 : 0;
    // A lead byte just before the terminator is the last character.
    const bool lead = lead_byte && text[i + 1] != '\0';
    if (lead) {
      if (i + 1 == index) return 2;
      i += 2;
    } else {
      i += 1;
    }
  }
  return -1;
}
