// lib/graphics/font_handles.cpp - the font handle table, font creation with
// its leading adjustment and cache sizing, deletion, queries, rebuilds and
// the default font.
#include <cstring>

#include "lib/core/charset.h"
#include "lib/core/handle_table.h"
#include "lib/core/log.h"
#include "lib/core/memory.h"
#include "lib/system/window_system.h"
#include "lib/graphics/font.h"
#include "lib/graphics/graphics_device.h"

namespace {

struct FontSystemState {
  int32_t settings[2];  // nothing sets them
  int32_t default_font;
  char default_face[128];
  int32_t default_size;
  int32_t default_thickness;
  uint32_t default_type;
  int32_t default_charset;
  int32_t default_edge_size;
  int32_t default_italic;
  int32_t default_spacing;
};

FontSystemState g_state = {{0, 0}, -1, {}, 16, 6, 0, 0, 1, 0, 0};
constinit HandleTable<FontRecord, kMaxFontHandles> g_fonts(kHandleKindFont,
                                                            HandleSlotRule::kLowestFree);

constexpr const char* kGothicFace = "ＭＳ ゴシック";
// Font sizes beyond this make cache cells of megabytes; they are refused.
constexpr int kMaxFontSize = 1024;
constexpr int kMaxEdgeSize = 64;

// Copies at most size - 1 bytes and terminates, never splitting a double-byte
// character.
void CopyBounded(char* dst, size_t size, const char* src) {
  size_t n = 0;
  if (src != nullptr) {
    while (src[n] != '\0') {
      const size_t step = (IsLibraryLeadByte(static_cast<unsigned char>(src[n])) && src[n + 1] != '\0') ? 2 : 1;
      if (n + step > size - 1) break;
      n += step;
    }
    std::memcpy(dst, src, n);
  }
  dst[n] = '\0';
}

plat::GdiFont* NewGdiFont(int height, int thickness, int italic, uint32_t charset, const char* face) {
  return plat::CreateFont(height, 0, 0, 0, thickness * 100, italic ? 1 : 0, 0, 0, charset,
                          plat::kOutDefaultPrecis, plat::kClipDefaultPrecis,
                          plat::kNonAntialiasedQuality, plat::kFixedPitch, face);
}

// The platform font for a height, trying the charsets (and, for the built-in
// face, the faces) in turn; null after logging when all fail.
plat::GdiFont* MakeGdiFont(const FontRecord* record, int height) {
  const uint32_t charset = CharsetIndexToGdiCharset(record->charset);
  plat::GdiFont* font = nullptr;
  if (record->face[0] != '\0') {
    font = NewGdiFont(height, record->thickness, record->italic, charset, record->face);
    if (!font) font = NewGdiFont(height, record->thickness, record->italic, plat::kDefaultCharset, record->face);
    if (!font) font = NewGdiFont(height, record->thickness, record->italic, plat::kShiftJisCharset, record->face);
    if (!font) WriteLogLine("指定のフォントの作成に失敗しました\n");
  } else {
    font = NewGdiFont(height, record->thickness, record->italic, charset, kGothicFace);
    if (!font) font = NewGdiFont(height, record->thickness, 0, plat::kDefaultCharset, kGothicFace);
    if (!font) font = NewGdiFont(height, record->thickness, 0, plat::kDefaultCharset, nullptr);
    if (!font) WriteLogLine("フォントの作成に失敗しました\n");
  }
  return font;
}

// Reads the metrics of a font through a memory DC; false after logging when
// no DC can be had.
bool ReadMetrics(plat::GdiFont* font, plat::TextMetric* tm) {
  plat::GdiDc* dc = plat::CreateMemoryDc();
  if (dc == nullptr) {
    WriteLogLine("ＤＣの取得に失敗しました\n");
    return false;
  }
  plat::SelectFont(dc, font);
  const bool ok = plat::GetTextMetrics(dc, tm);
  plat::SelectFont(dc, nullptr);
  plat::DeleteDc(dc);
  return ok;
}

// Creates the record's platform font at its size, raised by the leading so
// that the characters themselves are about size pixels high. Fills the
// height adjustment and returns the final metrics through tm.
bool CreateRecordFont(FontRecord* record, plat::TextMetric* tm) {
  plat::GdiFont* font = MakeGdiFont(record, record->size);
  if (font == nullptr) return false;
  if (!ReadMetrics(font, tm)) {
    plat::DeleteFont(font);
    return false;
  }
  record->height_adjust = 0;
  const int leading = tm->internal_leading + tm->external_leading;
  // A leading as large as the cell itself leaves no character height to scale.
  if (leading >= 1 && leading < tm->height) {
    const double scale = 1.0 - static_cast<double>(leading) / tm->height;
    const float target = static_cast<float>(record->size / scale);
    const int adjust = static_cast<int>(target) - record->size;
    const int first_height = tm->height;
    plat::DeleteFont(font);
    font = MakeGdiFont(record, record->size + adjust);
    if (font == nullptr) return false;
    if (!ReadMetrics(font, tm)) {
      plat::DeleteFont(font);
      return false;
    }
    record->height_adjust = tm->height - first_height;
  }
  record->font = font;
  return true;
}

int AllocateSoftwareCache(FontRecord* record) {
  record->texture_cache = 0;
  record->soft_bits = record->type == 0 ? 1 : 8;
  int capacity = 0x50000 / (record->cell_size * record->cell_size);
  if (capacity < 20) capacity = 20;
  if (capacity > kGlyphCacheMaxCapacity) capacity = kGlyphCacheMaxCapacity;
  record->capacity = capacity;
  record->cache_width = record->cell_size;
  record->cache_height = capacity * record->cell_size;
  record->cells_per_column = capacity;
  record->soft_pitch = (record->cell_size * record->soft_bits + 7) / 8;
  record->soft_pixels = static_cast<uint8_t*>(
      TrackedCalloc(static_cast<size_t>(record->cache_height) * record->soft_pitch, __FILE__, __LINE__));
  if (record->soft_pixels == nullptr) {
    WriteLogLine("フォントのキャッシュ用メモリの確保に失敗しました in CreateFontToHandle");
    return -1;
  }
  return 0;
}

}  // namespace

uint32_t CharsetIndexToGdiCharset(int charset_index) {
  switch (charset_index) {
    case kCharSetShiftJis: return plat::kShiftJisCharset;
    case kCharSetHangeul: return plat::kHangeulCharset;
    case kCharSetBig5: return plat::kChineseBig5Charset;
    case kCharSetGb2312: return plat::kGb2312Charset;
    default: return plat::kDefaultCharset;
  }
}

int CreateFontToHandle(const char* face, int size, int thickness, int type, int charset,
                       int edge_size, int italic, int slot, int check) {
  if (GetWindowDestroyedFlag()) return -1;
  if (type == -1) type = 0;
  if (edge_size > 1) type |= kFontTypeEdge;
  if (size == -1) size = 16;
  if (thickness == -1) thickness = 6;
  if (edge_size == -1) edge_size = 1;
  if (charset == -1) charset = GetCharSetIndex();
  if (size < 1 || size > kMaxFontSize || thickness < 0 || thickness > 10 || type < 0 || type > 3 ||
      edge_size < 0 || edge_size > kMaxEdgeSize) {
    WriteLogLineFmt("フォントの設定値が異常です (size %d thickness %d type %d edge %d)", size, thickness,
                    type, edge_size);
    return -1;
  }

  if (slot != -1) {
    if (slot < 0 || slot >= kMaxFontHandles || g_fonts.At(slot) != nullptr) return -1;
  } else if (g_fonts.IsFull()) {
    WriteLogLineFmt("作成できるフォントハンドル数 %d の限界を超えました", kMaxFontHandles);
    return -1;
  }

  auto* record = static_cast<FontRecord*>(TrackedCalloc(sizeof(FontRecord), __FILE__, __LINE__));
  if (record == nullptr) return WriteLogLine("フォント管理用メモリ領域の確保に失敗しました\n");
  record->cache_screen = -1;
  record->edge_screen = -1;
  if (Screen().colour_bits == 8) type &= ~static_cast<int>(kFontTypeAntialias);
  record->type = static_cast<uint32_t>(type);
  record->size = size;
  record->thickness = thickness;
  record->edge_size = edge_size;
  record->italic = italic;
  record->spacing = 0;
  record->charset = charset;
  CopyBounded(record->face, sizeof record->face, face);

  int handle;
  if (slot != -1) {
    handle = g_fonts.AddAt(slot, check != -1 ? check : g_fonts.CheckCounter(), record);
  } else {
    handle = g_fonts.Add(record);
  }
  if (handle == -1) {
    TrackedFree(record);
    return -1;
  }
  record->check = static_cast<uint32_t>(HandleCheck(handle));
  record->texture_cache = GraphicsDevice().started && GraphicsDevice().direct3d_mode ? 1 : 0;

  plat::TextMetric tm{};
  if (!CreateRecordFont(record, &tm)) {
    FontHandleDelete(handle);
    return -1;
  }

  const int edge_extra = (record->type & kFontTypeEdge) ? 2 * edge_size : 0;
  int cell = tm.max_char_width + 2 + edge_extra;
  cell = (cell + 7) & ~7;
  int height = tm.height + edge_extra;
  if (height & 1) ++height;
  if (cell < height) cell = height;
  record->cell_size = cell;
  record->height = height;

  if (record->texture_cache) {
    int width = 512;
    int screen_height = 512;
    int capacity = (512 / cell) * (512 / cell);
    while (capacity < 10) {
      if (width <= screen_height) {
        width *= 2;
      } else {
        screen_height *= 2;
      }
      capacity = (width / cell) * (screen_height / cell);
    }
    if (capacity > kGlyphCacheMaxCapacity) capacity = kGlyphCacheMaxCapacity;
    record->cache_width = width;
    record->cache_height = screen_height;
    record->capacity = capacity;
    record->cells_per_column = screen_height / cell;
    record->cache_lost = 1;
    if (FontCacheRebuild(handle) != 0) {
      WriteLogLine("テクスチャ文字キャッシュの作成に失敗しました\n");
      record->texture_cache = 0;
    }
  }
  if (!record->texture_cache && AllocateSoftwareCache(record) != 0) {
    FontHandleDelete(handle);
    return -1;
  }

  FontCacheClear(handle);
  record->lost_flag = nullptr;
  return handle;
}

FontRecord* FontHandleToRecord(int handle) { return g_fonts.Find(handle); }

int IsFontHandleValid(int handle) { return g_fonts.Find(handle) != nullptr ? 1 : 0; }

int FontHandleDelete(int handle) {
  FontRecord* record = g_fonts.Find(handle);
  if (record == nullptr) return -1;
  if (record->font != nullptr) {
    plat::DeleteFont(record->font);
    record->font = nullptr;
  }
  TrackedFree(record->soft_pixels);
  record->soft_pixels = nullptr;
  // The cache screens go with the font; their deletion must not write into
  // the record being freed.
  if (record->edge_screen != -1) DeleteGraphic(record->edge_screen);
  if (record->cache_screen != -1) {
    SetGraphicLostFlag(record->cache_screen, nullptr);
    DeleteGraphic(record->cache_screen);
  }
  record->cache_screen = -1;
  record->edge_screen = -1;
  FreeBaseImagePixels(&record->staging);
  if (record->lost_flag != nullptr) *record->lost_flag = 1;
  g_fonts.Remove(handle);
  TrackedFree(record);
  return 0;
}

int FontHandleGetSize(int handle) {
  const FontRecord* record = g_fonts.Find(handle);
  return record ? record->size : -1;
}

int FontHandleGetState(char* face, int* size, int* thickness, int handle) {
  const FontRecord* record = g_fonts.Find(handle);
  if (record == nullptr) return -1;
  // The face buffer is taken to be as large as the record's face field.
  if (face != nullptr) CopyBounded(face, sizeof record->face, record->face);
  if (size != nullptr) *size = record->size;
  if (thickness != nullptr) *thickness = record->thickness;
  return 0;
}

int SetFontSpacing(int spacing, int handle) {
  FontRecord* record = g_fonts.Find(handle);
  if (record == nullptr) return -1;
  record->spacing = spacing;
  return 0;
}

int SetFontLostFlag(int handle, int* flag) {
  FontRecord* record = g_fonts.Find(handle);
  if (record == nullptr) return -1;
  record->lost_flag = flag;
  if (flag != nullptr) *flag = 0;
  return 0;
}

int GetDefaultFont() { return g_state.default_font; }

int GetDefaultFontSettings(char* face, int* size, int* thickness) {
  if (!IsFontHandleValid(g_state.default_font)) return -1;
  return FontHandleGetState(face, size, thickness, g_state.default_font);
}

int RebuildAllFonts() {
  for (int slot = 0; slot < kMaxFontHandles; ++slot) {
    const FontRecord* record = g_fonts.At(slot);
    if (record == nullptr) continue;
    char face[256];
    std::memcpy(face, record->face, sizeof face);
    const int size = record->size, thickness = record->thickness, type = static_cast<int>(record->type);
    const int charset = record->charset, edge = record->edge_size, italic = record->italic;
    const int spacing = record->spacing;
    const int check = static_cast<int>(record->check);
    const int handle = MakeHandle(kHandleKindFont, check, slot);
    FontHandleDelete(handle);
    const int again = CreateFontToHandle(face, size, thickness, type, charset, edge, italic, slot, check);
    if (again == handle && IsFontHandleValid(handle)) SetFontSpacing(spacing, handle);
  }
  return 0;
}

int RebuildDefaultFont() {
  const FontSystemState& s = g_state;
  const FontRecord* record = g_fonts.Find(s.default_font);
  if (record != nullptr && std::strcmp(record->face, s.default_face) == 0 &&
      record->type == s.default_type && record->size == s.default_size &&
      record->thickness == s.default_thickness && record->charset == s.default_charset &&
      record->edge_size == s.default_edge_size && record->italic == s.default_italic) {
    return 0;
  }
  FontHandleDelete(s.default_font);
  g_state.default_font = CreateFontToHandle(
      s.default_face, s.default_size, s.default_thickness, static_cast<int>(s.default_type),
      s.default_charset, (s.default_type & kFontTypeEdge) ? s.default_edge_size : -1,
      s.default_italic, -1, -1);
  SetFontSpacing(s.default_spacing, g_state.default_font);
  return 0;
}

int FontSystemStart() {
  WriteLogLine("フォントの初期化を行います\n");
  LogIndentIn();
  struct {
    char face[256];
    int size, thickness, type, charset, edge, italic;
  } kept{};
  const FontRecord* old = g_fonts.Find(g_state.default_font);
  const bool have_old = old != nullptr;
  if (have_old) {
    std::memcpy(kept.face, old->face, sizeof kept.face);
    kept.size = old->size;
    kept.thickness = old->thickness;
    kept.type = static_cast<int>(old->type);
    kept.charset = old->charset;
    kept.edge = old->edge_size;
    kept.italic = old->italic;
  }
  for (int slot = 0; slot < kMaxFontHandles; ++slot) {
    const int handle = g_fonts.HandleAt(slot);
    if (handle != -1) FontHandleDelete(handle);
  }
  if (have_old) {
    g_state.default_font = CreateFontToHandle(kept.face, kept.size, kept.thickness, kept.type,
                                              kept.charset, kept.edge, kept.italic, -1, -1);
  } else {
    const FontSystemState& s = g_state;
    g_state.default_font = CreateFontToHandle(
        "", s.default_size, s.default_thickness, static_cast<int>(s.default_type), s.default_charset,
        s.default_edge_size, s.default_italic, -1, -1);
  }
  LogIndentOut();
  WriteLogLine("フォントの初期化は正常に終了しました\n");
  return 0;
}

int ResetFontSystem() {
  g_state = FontSystemState{};
  g_state.default_font = -1;
  g_state.default_type = 0;
  g_state.default_size = 16;
  g_state.default_thickness = 6;
  g_state.default_charset = GetCharSetIndex();
  g_state.default_edge_size = 1;
  g_state.default_italic = 0;
  g_state.default_spacing = 0;
  return FontSystemStart();
}

int EndFontSystem() {
  FontSystemStart();
  FontHandleDelete(g_state.default_font);
  g_state.default_font = -1;
  return 0;
}

int SetDefaultFontSize(const char* face, int size, int thickness) {
  g_state.default_size = size == -1 ? 16 : size;
  g_state.default_thickness = thickness == -1 ? 6 : thickness;
  return RebuildDefaultFont();
}
