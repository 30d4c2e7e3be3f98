// lib/graphics/font.h - font handles, their glyph caches and text layout.
// Internal to the library; the public entries are in rorud/rorud.h.
//
// A font handle is a platform font plus a private cache of square cells in
// which the glyphs it has drawn are kept, so a string is drawn by copying
// cells. The cache is either a texture (the cache screen graphic, with a
// 16-bit staging image) or a software bitmap of one column of cells.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "lib/image/base_image.h"
#include "platform/gdi/gdi_font.h"
#include "rorud/rorud.h"

constexpr int kMaxFontHandles = 40;
constexpr int kGlyphCacheEntryCount = 2025;
constexpr int kGlyphCacheMaxCapacity = 2024;
constexpr int kCharTableSize = 65536;

// Font type bits.
constexpr uint32_t kFontTypeEdge = 1;
constexpr uint32_t kFontTypeAntialias = 2;

struct CharTableEntry;

struct GlyphCacheEntry {
  uint8_t in_use;
  int16_t x_offset;  // glyph origin x
  int16_t y_offset;  // ascent - glyph origin y: top of the image below the line top
  int16_t advance;   // cell increment (+ 2 x edge size for edge fonts)
  int32_t slot;      // cell index; the entry at the capacity holds -1
  int16_t image_width;   // 0 for blank characters
  int16_t image_height;
  CharTableEntry* table_entry;
};

struct CharTableEntry {
  uint32_t cached;
  GlyphCacheEntry* entry;
};

struct FontRecord {
  uint32_t check;
  int* lost_flag;
  GlyphCacheEntry entries[kGlyphCacheEntryCount];
  CharTableEntry table[kCharTableSize];  // by first byte + second byte x 256
  int32_t next_slot;
  int32_t capacity;
  uint8_t* soft_pixels;
  int32_t soft_pitch;
  int32_t soft_bits;  // 1 or 8
  char face[256];
  int32_t thickness;
  int32_t size;
  int32_t height;
  int32_t height_adjust;
  int32_t italic;
  int32_t spacing;
  int32_t cell_size;
  plat::GdiFont* font;
  uint32_t type;
  int32_t charset;
  int32_t edge_size;
  int32_t cache_width;
  int32_t cache_height;
  int32_t cells_per_column;
  int32_t cache_screen;
  int32_t edge_screen;
  int32_t cache_lost;
  BaseImage staging;
  int32_t texture_cache;
};

// A character as strings are handed to the cache and to layout.
struct CharRecord {
  uint8_t first, second, spare;
};
static_assert(sizeof(CharRecord) == 3, "character records are 3 bytes apart");

// ---- Handles and creation --------------------------------------------------------

FontRecord* FontHandleToRecord(int handle);
int FontSystemStart();
int SetDefaultFontSize(const char* face, int size, int thickness);
int RebuildDefaultFont();
int RebuildAllFonts();
int ResetFontSystem();
int EndFontSystem();
// The default font's face, size and thickness (the screen-mode change keeps
// them across the change): 0, or -1 when there is no default font.
int GetDefaultFontSettings(char* face, int* size, int* thickness);
// The platform charset an index selects (1, 128, 129, 136, 134; 1 for an
// index out of range).
uint32_t CharsetIndexToGdiCharset(int charset_index);

// ---- Glyph cache --------------------------------------------------------------------

int FontCacheClear(int handle);
int FontCacheRebuild(int handle);
GlyphCacheEntry* FontCacheAddGlyph(int handle, int count, const CharRecord* records);
int FontCacheAddString(int max_length, const char* text, int handle, CharRecord* out_list,
                       int* out_count);
int GetByteKindInString(const char* text, int index, int charset_index);
// Cell position of a slot in the cache.
void GlyphCellPosition(const FontRecord* font, int slot, int* x, int* y);

// One glyph bitmap as the platform hands it over: rows of pitch bytes, one
// bit a pixel (bit 7 leftmost) or one byte a pixel with levels 0..16.
struct GlyphBitmap {
  const uint8_t* rows;
  int pitch;
  int width;
  int height;
  bool grey;
};
// Writes a glyph into a software-cache cell (cell_size x cell_size bytes at
// cell, pitch bytes a row) in the layout of the font type; pixels that fall
// outside the cell are dropped. The cell must be zero beforehand.
void WriteSoftwareGlyphCell(uint32_t type, int edge_size, int cell_size, const GlyphBitmap& glyph,
                            uint8_t* cell, int pitch);
// The texel of an anti-aliased level 0..16 in a 16-bit staging format with
// an alpha channel: colour bits only for 0, else ((level << (alpha shift +
// alpha width - 4)) - 1) or the colour bits (A4R4G4B4: ((level << 12) - 1) |
// 0x0FFF).
uint16_t AntialiasTexel(const PixelFormatInfo& format, int level);
// Writes a glyph into the texture cache's 16-bit staging image with the cell
// area's top-left at (x, y); edge fonts also write the edge half, half_width
// pixels to the right. Texels outside the cell are dropped. The cell must be
// cleared beforehand.
void WriteTextureGlyphCell(uint32_t type, int edge_size, int cell_size, const GlyphBitmap& glyph,
                           BaseImage* staging, int x, int y, int half_width);
// The edge mask of an edge size (2E + 1 square, row by row, 1 = set); sizes
// below 2 are the plus shape without its centre.
bool EdgeMaskAt(int edge_size, int dx, int dy);

// ---- Text layout and drawing ----------------------------------------------------------

// A destination of the software text path: pixels of 8, 16 or 32 bits.
struct TextDrawTarget {
  uint8_t* pixels;
  int pitch;
  int width;
  int height;
  int bits;
};
struct TextClipRect {
  int left, top, right, bottom;  // right and bottom exclusive
};
// Lays a string out in a font; with draw 1 writes the glyphs into target
// (software path) with the colours as given (screen colour values, already
// modulated by the bright colour). Returns the pen's final advance, or -1.
int FontTextCacheBuild(int draw, int x, int y, const char* text, uint32_t colour,
                       TextDrawTarget* target, const TextClipRect* clip, int transparent,
                       int handle, uint32_t edge_colour, int length, int vertical, int* size_out);
// Writes one cached glyph's pixels into target at (x, y) under clip, by the
// screen depth and font type rules of the software text path.
void WriteGlyphPixels(const FontRecord* font, const GlyphCacheEntry* entry, TextDrawTarget* target,
                      int x, int y, const TextClipRect& clip, uint32_t colour, uint32_t edge_colour);
int FontDrawTextTexture(int handle, const char* text, int x, int y, uint32_t colour, uint32_t edge_colour,
                        int vertical);
int FontDrawText(int handle, const char* text, int x, int y, uint32_t colour, uint32_t edge_colour,
                 int vertical);
// Formats with printf rules into buffer of size bytes, cutting the text (not
// a double-byte character) when it does not fit: the length written.
int FormatTextBounded(char* buffer, int size, const char* format, va_list args);

// ---- On-screen log ------------------------------------------------------------------------

constexpr int kScreenLogLines = 80;
constexpr int kScreenLogLineBytes = 255;
int ScreenLogStart();
// The library end: deletes the on-screen log's font and stops the log.
int ScreenLogEnd();
int ScreenLogMakeFont();
int ScreenLogDraw();
int GetScreenLogLineCount();
int DrawScreenLogOverFrame();
// Adds a line to the on-screen page (the oldest line scrolls out when the
// page is full); lines are cut to 254 bytes at a character boundary.
int ScreenLogAddLine(const char* text);
const char* GetScreenLogLine(int index);
