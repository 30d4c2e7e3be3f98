// platform/gdi/gdi_font.cpp - font objects, device contexts, text metrics and
// glyph bitmaps over fontconfig (face lookup) and FreeType (drawing).
#include "platform/gdi/gdi_font.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_SIZES_H
#include FT_TRUETYPE_TABLES_H
#include <iconv.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace plat {
namespace {

// Largest |height| accepted: bitmaps stay within a few megabytes.
constexpr int64_t kMaxHeight = 4096;
// Em height for a height argument of 0.
constexpr int kDefaultEmPixels = 12;
// Horizontal shear of a synthetic italic (about 12 degrees, 16.16).
constexpr FT_Fixed kObliqueShear = 0x0366A;

// Windows face names and the installed faces that stand in for them (UTF-8).
struct FaceSubstitute {
  const char* asked;
  const char* family;
};
constexpr FaceSubstitute kFaceSubstitutes[] = {
    {"ＭＳ ゴシック", "IPAGothic"},  {"ＭＳ Ｐゴシック", "IPAPGothic"},
    {"ＭＳ 明朝", "IPAMincho"},      {"ＭＳ Ｐ明朝", "IPAPMincho"},
    {"MS Gothic", "IPAGothic"},     {"MS PGothic", "IPAPGothic"},
    {"MS UI Gothic", "IPAPGothic"}, {"MS Mincho", "IPAMincho"},
    {"MS PMincho", "IPAPMincho"},
};
// The face of last resort and of an empty face name.
constexpr const char* kJapaneseGothic = "IPAGothic";

struct FaceFile {
  std::string path;
  int index = 0;
  std::string family;
  FT_Face face = nullptr;
  int refs = 0;
};

struct Engine {
  std::mutex lock;
  FT_Library library = nullptr;
  bool tried = false;
  iconv_t to_utf32 = reinterpret_cast<iconv_t>(-1);
  iconv_t to_utf8 = reinterpret_cast<iconv_t>(-1);
  // Resolved family name (UTF-8) -> face file, or null when none was found.
  std::map<std::string, std::shared_ptr<FaceFile>> by_family;
  std::map<std::string, std::shared_ptr<FaceFile>> by_file;
};

Engine& GetEngine() {
  static Engine* engine = new Engine;  // lives for the process
  return *engine;
}

std::atomic<int> g_font_refusals{0};
std::atomic<int> g_dc_refusals{0};
std::atomic<uint32_t> g_refused_glyph{0};

bool TakeRefusal(std::atomic<int>& counter) {
  int n = counter.load();
  while (n > 0) {
    if (counter.compare_exchange_weak(n, n - 1)) return true;
  }
  return false;
}

// Starts FreeType and the converters once; false when FreeType cannot start.
// Called with the engine lock held.
bool EnsureEngine(Engine& e) {
  if (!e.tried) {
    e.tried = true;
    if (FT_Init_FreeType(&e.library) != 0) e.library = nullptr;
    e.to_utf32 = iconv_open("UTF-32LE", "CP932");
    e.to_utf8 = iconv_open("UTF-8", "CP932");
  }
  return e.library != nullptr;
}

bool IsCp932Lead(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// Converts with iconv; false when the input does not convert completely.
bool Convert(iconv_t cd, const char* in, size_t in_size, std::string* out) {
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  out->clear();
  std::vector<char> buffer(in_size * 4 + 8);
  char* src = const_cast<char*>(in);
  size_t src_left = in_size;
  char* dst = buffer.data();
  size_t dst_left = buffer.size();
  if (iconv(cd, &src, &src_left, &dst, &dst_left) == static_cast<size_t>(-1)) return false;
  if (iconv(cd, nullptr, nullptr, &dst, &dst_left) == static_cast<size_t>(-1)) return false;
  out->assign(buffer.data(), buffer.size() - dst_left);
  return src_left == 0;
}

// The face name cut to kFaceNameSize - 1 bytes without splitting a
// double-byte character, converted to UTF-8 ("" when it does not convert).
std::string FaceNameToUtf8(Engine& e, const char* face) {
  if (face == nullptr) return {};
  size_t n = 0;
  const size_t limit = kFaceNameSize - 1;
  while (face[n] != '\0') {
    const size_t step = (IsCp932Lead(static_cast<unsigned char>(face[n])) && face[n + 1] != '\0') ? 2 : 1;
    if (n + step > limit) break;
    n += step;
  }
  std::string utf8;
  if (n == 0 || !Convert(e.to_utf8, face, n, &utf8)) return {};
  return utf8;
}

// Family names compare without regard to ASCII case and blanks.
bool SameFamily(const std::string& a, const char* b) {
  auto next = [](const char*& p) {
    while (*p == ' ') ++p;
    const char c = *p;
    if (c != '\0') ++p;
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  };
  const char* pa = a.c_str();
  const char* pb = b;
  for (;;) {
    const char ca = next(pa);
    const char cb = next(pb);
    if (ca != cb) return false;
    if (ca == '\0') return true;
  }
}

// The face file of an installed family; null when fontconfig has no face of
// that family. require_japanese takes the best face for Japanese instead.
std::shared_ptr<FaceFile> FindFace(Engine& e, const std::string& family, bool require_japanese) {
  const std::string key = require_japanese ? std::string("\x01lang=ja") : family;
  auto it = e.by_family.find(key);
  if (it != e.by_family.end()) return it->second;
  std::shared_ptr<FaceFile> found;
  // Each lookup loads fontconfig's configuration and releases it afterwards:
  // the answers are kept above, and the process-wide default configuration
  // would keep parsed rules that are never freed.
  FcConfig* config = FcInitLoadConfigAndFonts();
  if (config != nullptr) {
    FcPattern* pattern = FcPatternCreate();
    if (require_japanese) {
      FcLangSet* langs = FcLangSetCreate();
      FcLangSetAdd(langs, reinterpret_cast<const FcChar8*>("ja"));
      FcPatternAddLangSet(pattern, FC_LANG, langs);
      FcLangSetDestroy(langs);
      FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>("sans-serif"));
    } else {
      FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    }
    FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
    FcConfigSubstitute(config, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(config, pattern, &result);
    if (match != nullptr) {
      bool family_ok = require_japanese;
      FcChar8* name = nullptr;
      std::string first_family;
      for (int i = 0; FcPatternGetString(match, FC_FAMILY, i, &name) == FcResultMatch; ++i) {
        if (i == 0) first_family = reinterpret_cast<const char*>(name);
        if (!require_japanese && SameFamily(family, reinterpret_cast<const char*>(name))) {
          family_ok = true;
          first_family = reinterpret_cast<const char*>(name);
        }
      }
      if (require_japanese) {
        FcLangSet* langs = nullptr;
        family_ok = FcPatternGetLangSet(match, FC_LANG, 0, &langs) == FcResultMatch &&
                    FcLangSetHasLang(langs, reinterpret_cast<const FcChar8*>("ja")) != FcLangDifferentLang;
      }
      FcChar8* file = nullptr;
      int index = 0;
      if (family_ok && FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch) {
        FcPatternGetInteger(match, FC_INDEX, 0, &index);
        const std::string file_key = std::string(reinterpret_cast<const char*>(file)) + "#" + std::to_string(index);
        auto& slot = e.by_file[file_key];
        if (!slot) {
          slot = std::make_shared<FaceFile>();
          slot->path = reinterpret_cast<const char*>(file);
          slot->index = index;
          slot->family = first_family;
        }
        found = slot;
      }
      FcPatternDestroy(match);
    }
    FcPatternDestroy(pattern);
    FcConfigDestroy(config);
  }
  e.by_family[key] = found;
  return found;
}

// Opens the face file on first use; false when FreeType cannot read it.
bool OpenFace(Engine& e, FaceFile& file) {
  if (file.face != nullptr) return true;
  if (FT_New_Face(e.library, file.path.c_str(), file.index, &file.face) != 0) {
    file.face = nullptr;
    return false;
  }
  if (!FT_IS_SCALABLE(file.face)) {
    FT_Done_Face(file.face);
    file.face = nullptr;
    return false;
  }
  return true;
}

int64_t RoundDiv(int64_t a, int64_t b) {  // b > 0
  return a >= 0 ? (a * 2 + b) / (2 * b) : -((-a * 2 + b) / (2 * b));
}

}  // namespace

struct GdiFont {
  std::shared_ptr<FaceFile> file;
  FT_Size size = nullptr;
  int em_x = 0;
  int em_y = 0;
  bool embolden = false;
  bool oblique = false;
  TextMetric metrics{};
};

struct GdiDc {
  GdiFont* font = nullptr;
};

GdiFont* CreateFont(int32_t height, int32_t width, int32_t escapement, int32_t orientation,
                    int32_t weight, uint32_t italic, uint32_t underline, uint32_t strike_out,
                    uint32_t charset, uint32_t out_precision, uint32_t clip_precision,
                    uint32_t quality, uint32_t pitch_and_family, const char* face) {
  if (TakeRefusal(g_font_refusals)) return nullptr;
  const int64_t abs_height = height < 0 ? -static_cast<int64_t>(height) : height;
  const int64_t abs_width = width < 0 ? -static_cast<int64_t>(width) : width;
  if (abs_height > kMaxHeight || abs_width > kMaxHeight) return nullptr;
  if (weight < 0 || weight > 1000) return nullptr;

  Engine& e = GetEngine();
  std::lock_guard<std::mutex> guard(e.lock);
  if (!EnsureEngine(e)) return nullptr;

  // Face: the name asked (through the substitution table), else the Japanese
  // gothic, else the best Japanese face installed.
  std::string family = FaceNameToUtf8(e, face);
  for (const FaceSubstitute& sub : kFaceSubstitutes) {
    if (family == sub.asked) {
      family = sub.family;
      break;
    }
  }
  std::shared_ptr<FaceFile> file;
  if (!family.empty()) file = FindFace(e, family, false);
  if (!file) file = FindFace(e, kJapaneseGothic, false);
  if (!file) file = FindFace(e, {}, true);
  if (!file || !OpenFace(e, *file)) return nullptr;
  FT_Face ft = file->face;

  // Vertical metrics of the face in font units.
  const int64_t upem = ft->units_per_EM > 0 ? ft->units_per_EM : 2048;
  int64_t win_ascent = ft->ascender;
  int64_t win_descent = -static_cast<int64_t>(ft->descender);
  int64_t avg_width = upem / 2;
  const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(ft, FT_SFNT_OS2));
  if (os2 != nullptr && os2->version != 0xFFFF) {
    win_ascent = os2->usWinAscent;
    win_descent = os2->usWinDescent;
    if (os2->xAvgCharWidth > 0) avg_width = os2->xAvgCharWidth;
  }
  int64_t cell_units = win_ascent + win_descent;
  if (cell_units <= 0) {
    win_ascent = upem * 4 / 5;
    win_descent = upem - win_ascent;
    cell_units = upem;
  }
  int64_t line_gap = 0;
  int64_t max_advance = upem;
  const auto* hhea = static_cast<const TT_HoriHeader*>(FT_Get_Sfnt_Table(ft, FT_SFNT_HHEA));
  if (hhea != nullptr) {
    line_gap = hhea->Line_Gap - (cell_units - (hhea->Ascender - hhea->Descender));
    max_advance = hhea->advance_Width_Max;
  }

  // A positive height is the cell height, a negative one the em height.
  int64_t em_y = kDefaultEmPixels;
  if (height > 0) em_y = RoundDiv(abs_height * upem, cell_units);
  if (height < 0) em_y = abs_height;
  em_y = std::max<int64_t>(em_y, 1);
  int64_t em_x = em_y;
  if (abs_width > 0) em_x = std::max<int64_t>(RoundDiv(abs_width * upem, avg_width), 1);

  auto font = std::make_unique<GdiFont>();
  if (FT_New_Size(ft, &font->size) != 0) return nullptr;
  FT_Activate_Size(font->size);
  if (FT_Set_Pixel_Sizes(ft, static_cast<FT_UInt>(em_x), static_cast<FT_UInt>(em_y)) != 0) {
    FT_Done_Size(font->size);
    return nullptr;
  }
  font->file = file;
  ++file->refs;
  font->em_x = static_cast<int>(em_x);
  font->em_y = static_cast<int>(em_y);
  const int32_t effective_weight = weight == kFwDontCare ? kFwNormal : weight;
  font->embolden = effective_weight >= kFwSemiBold && (ft->style_flags & FT_STYLE_FLAG_BOLD) == 0;
  font->oblique = italic != 0 && (ft->style_flags & FT_STYLE_FLAG_ITALIC) == 0;

  TextMetric& tm = font->metrics;
  if (height > 0) {
    // The cell is exactly the height asked; the em is what fits in it.
    tm.height = height;
    tm.ascent = static_cast<int32_t>(RoundDiv(win_ascent * abs_height, cell_units));
    tm.descent = tm.height - tm.ascent;
  } else {
    tm.ascent = static_cast<int32_t>(RoundDiv(win_ascent * em_y, upem));
    tm.descent = static_cast<int32_t>(RoundDiv(win_descent * em_y, upem));
    tm.height = tm.ascent + tm.descent;
  }
  tm.internal_leading = std::max<int32_t>(tm.height - static_cast<int32_t>(em_y), 0);
  tm.external_leading = static_cast<int32_t>(std::max<int64_t>(RoundDiv(line_gap * em_y, upem), 0));
  const int32_t bold_extra = font->embolden ? 1 : 0;
  tm.ave_char_width = static_cast<int32_t>(RoundDiv(avg_width * em_x, upem)) + bold_extra;
  tm.max_char_width = static_cast<int32_t>(RoundDiv(max_advance * em_x, upem)) + bold_extra;
  tm.weight = effective_weight;
  tm.overhang = 0;
  tm.digitized_aspect_x = 96;
  tm.digitized_aspect_y = 96;
  tm.first_char = 0x20;
  tm.last_char = 0xFC;
  tm.default_char = 0x1F;
  tm.break_char = 0x20;
  tm.italic = italic != 0;
  tm.underlined = underline != 0;
  tm.struck_out = strike_out != 0;
  // Low bit set means variable pitch; 0x06 vector and TrueType; 0x30 modern.
  tm.pitch_and_family = static_cast<uint8_t>(0x36 | (FT_IS_FIXED_WIDTH(ft) ? 0 : 1));
  if (charset == kDefaultCharset) {
    tm.charset = static_cast<uint8_t>(FT_Get_Char_Index(ft, 0x3042) != 0 ? kShiftJisCharset : kAnsiCharset);
  } else {
    tm.charset = static_cast<uint8_t>(charset);
  }
  return font.release();
}

bool DeleteFont(GdiFont* font) {
  if (font == nullptr) return false;
  Engine& e = GetEngine();
  std::lock_guard<std::mutex> guard(e.lock);
  FT_Done_Size(font->size);
  // The face file stays open for the next font of the same face.
  --font->file->refs;
  delete font;
  return true;
}

GdiDc* CreateMemoryDc() {
  if (TakeRefusal(g_dc_refusals)) return nullptr;
  return new GdiDc;
}

GdiFont* SelectFont(GdiDc* dc, GdiFont* font) {
  if (dc == nullptr) return nullptr;
  GdiFont* old = dc->font;
  dc->font = font;
  return old;
}

bool DeleteDc(GdiDc* dc) {
  if (dc == nullptr) return false;
  delete dc;
  return true;
}

bool GetTextMetrics(GdiDc* dc, TextMetric* out) {
  if (dc == nullptr || dc->font == nullptr || out == nullptr) return false;
  *out = dc->font->metrics;
  return true;
}

uint32_t Cp932CodeToUnicode(uint32_t code) {
  if (code == 0) return 0;
  if (code > 0xFFFF) return 0;
  char bytes[2];
  size_t n = 0;
  if (code >= 0x100) bytes[n++] = static_cast<char>(code >> 8);
  bytes[n++] = static_cast<char>(code & 0xFF);
  if (n == 2 && !IsCp932Lead(static_cast<unsigned char>(bytes[0]))) return 0;
  Engine& e = GetEngine();
  std::lock_guard<std::mutex> guard(e.lock);
  EnsureEngine(e);
  std::string out;
  if (!Convert(e.to_utf32, bytes, n, &out) || out.size() != 4) return 0;
  return static_cast<uint32_t>(static_cast<unsigned char>(out[0])) |
         static_cast<uint32_t>(static_cast<unsigned char>(out[1])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(out[2])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(out[3])) << 24;
}

uint32_t GetGlyphOutline(GdiDc* dc, uint32_t code, uint32_t format, GlyphMetrics* metrics,
                         uint32_t buffer_size, void* buffer, const Mat2* matrix) {
  if (dc == nullptr || dc->font == nullptr || metrics == nullptr) return kGdiError;
  if (code != 0 && code == g_refused_glyph.load()) return kGdiError;
  int levels = 0;
  switch (format) {
    case kGgoMetrics:
    case kGgoBitmap: break;
    case kGgoGray2Bitmap: levels = 4; break;
    case kGgoGray4Bitmap: levels = 16; break;
    case kGgoGray8Bitmap: levels = 64; break;
    default: return kGdiError;
  }
  const uint32_t unicode = Cp932CodeToUnicode(code);

  GdiFont* font = dc->font;
  Engine& e = GetEngine();
  std::lock_guard<std::mutex> guard(e.lock);
  FT_Face ft = font->file->face;
  FT_Activate_Size(font->size);

  // A character without a glyph gets the face's default glyph (index 0).
  const FT_UInt index = unicode != 0 ? FT_Get_Char_Index(ft, unicode) : 0;
  const FT_Int32 load = FT_LOAD_NO_BITMAP | (levels == 0 ? FT_LOAD_TARGET_MONO : FT_LOAD_TARGET_NORMAL);
  if (FT_Load_Glyph(ft, index, load) != 0) return kGdiError;
  FT_GlyphSlot slot = ft->glyph;
  if (slot->format != FT_GLYPH_FORMAT_OUTLINE) return kGdiError;

  FT_Pos advance = slot->advance.x;
  if (font->embolden) {
    FT_Outline_EmboldenXY(&slot->outline, 64, 0);
    advance += 64;
  }
  if (font->oblique) {
    const FT_Matrix shear = {0x10000, kObliqueShear, 0, 0x10000};
    FT_Outline_Transform(&slot->outline, &shear);
  }
  if (matrix != nullptr) {
    auto fixed = [](Fixed f) { return static_cast<FT_Fixed>(static_cast<int32_t>(f.value) * 65536 + f.fract); };
    const FT_Matrix m = {fixed(matrix->m11), fixed(matrix->m21), fixed(matrix->m12), fixed(matrix->m22)};
    if (m.xx != 0x10000 || m.xy != 0 || m.yx != 0 || m.yy != 0x10000) {
      FT_Outline_Transform(&slot->outline, &m);
      FT_Vector v = {advance, 0};
      FT_Vector_Transform(&v, &m);
      advance = v.x;
    }
  }
  metrics->cell_inc_x = static_cast<int16_t>((advance + 32) >> 6);
  metrics->cell_inc_y = 0;

  auto blank = [&]() -> uint32_t {
    metrics->black_box_x = 1;
    metrics->black_box_y = 1;
    metrics->origin_x = 0;
    metrics->origin_y = 0;
    return 0;
  };
  if (slot->outline.n_contours == 0) return blank();
  if (FT_Render_Glyph(slot, levels == 0 ? FT_RENDER_MODE_MONO : FT_RENDER_MODE_NORMAL) != 0) return kGdiError;
  const FT_Bitmap& bitmap = slot->bitmap;
  if (bitmap.width == 0 || bitmap.rows == 0) return blank();

  metrics->black_box_x = bitmap.width;
  metrics->black_box_y = bitmap.rows;
  metrics->origin_x = slot->bitmap_left;
  metrics->origin_y = slot->bitmap_top;
  if (format == kGgoMetrics) return 0;

  const uint32_t pitch = levels == 0 ? (bitmap.width + 31) / 32 * 4 : (bitmap.width + 3) & ~3u;
  const uint32_t size = pitch * bitmap.rows;
  if (buffer == nullptr || buffer_size == 0) return size;
  if (buffer_size < size) return kGdiError;

  auto* out = static_cast<unsigned char*>(buffer);
  std::memset(out, 0, size);
  for (uint32_t y = 0; y < bitmap.rows; ++y) {
    const unsigned char* src = bitmap.buffer + static_cast<ptrdiff_t>(y) * bitmap.pitch;
    unsigned char* dst = out + static_cast<size_t>(y) * pitch;
    if (levels == 0) {
      std::memcpy(dst, src, (bitmap.width + 7) / 8);
      // Keep the bits right of the black box clear.
      if (bitmap.width % 8 != 0) dst[bitmap.width / 8] &= static_cast<unsigned char>(0xFF00 >> (bitmap.width % 8));
    } else {
      for (uint32_t x = 0; x < bitmap.width; ++x) {
        dst[x] = static_cast<unsigned char>((src[x] * levels + 127) / 255);
      }
    }
  }
  return size;
}

std::string GetFontFilePath(const GdiFont* font) { return font ? font->file->path : std::string(); }
std::string GetFontFamilyName(const GdiFont* font) { return font ? font->file->family : std::string(); }
int GetFontEmPixels(const GdiFont* font) { return font ? font->em_y : 0; }

void SetFontCreateRefusals(int count) { g_font_refusals = count < 0 ? 0 : count; }
void SetDcCreateRefusals(int count) { g_dc_refusals = count < 0 ? 0 : count; }
void SetRefusedGlyphCode(uint32_t code) { g_refused_glyph = code; }

}  // namespace plat
