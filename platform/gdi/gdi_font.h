// platform/gdi/gdi_font.h - fonts in the manner the library's font code was written
// for: a font object made from a face name, a height, a weight and a
// character set; a memory device context the font is selected into; the
// text metrics of the selected font; and glyph outlines fetched one character
// at a time as 1-bit or grey bitmaps.
//
// Faces come from the system's font files through fontconfig and are drawn
// with FreeType. Face names are code page 932 bytes; the Windows face names
// that the library and the game ask for are mapped to installed faces
// ("ＭＳ ゴシック" to IPAGothic), and a face that is not installed falls back to a
// Japanese gothic, as a missing face does on a Japanese system.
//
// The height argument keeps its Windows meaning: a positive height is the
// character cell height (ascent + descent, internal leading included), a
// negative height the em height, 0 a default size. Character codes are code
// page 932: a two-byte character is first byte x 256 + second byte.
//
// Bitmaps are top-down rows padded to 4 bytes: one bit a pixel (bit 7 is the
// leftmost pixel) for kGgoBitmap, one byte a pixel with levels 0..4, 0..16 or
// 0..64 for the grey formats. A character the face has no glyph for is drawn
// with the face's default glyph. A blank glyph (space) has a 1 x 1 black box
// and a bitmap size of 0.
//
// Thread-safe: one lock guards the font engine. Nothing here knows the game.
#pragma once

#include <cstdint>
#include <string>

namespace plat {

struct GdiFont;  // opaque font object; null is "no font"
struct GdiDc;    // opaque memory device context

// Character sets.
constexpr uint32_t kAnsiCharset = 0;
constexpr uint32_t kDefaultCharset = 1;
constexpr uint32_t kShiftJisCharset = 128;
constexpr uint32_t kHangeulCharset = 129;
constexpr uint32_t kGb2312Charset = 134;
constexpr uint32_t kChineseBig5Charset = 136;

// Precision, quality and pitch words (accepted; they change nothing here).
constexpr uint32_t kOutDefaultPrecis = 0;
constexpr uint32_t kClipDefaultPrecis = 0;
constexpr uint32_t kNonAntialiasedQuality = 3;
constexpr uint32_t kFixedPitch = 1;

// Weights. 0 means normal; 600 and above draw a face that has no bold
// style of its own emboldened by one pixel.
constexpr int32_t kFwDontCare = 0;
constexpr int32_t kFwNormal = 400;
constexpr int32_t kFwSemiBold = 600;

// Glyph formats.
constexpr uint32_t kGgoMetrics = 0;
constexpr uint32_t kGgoBitmap = 1;
constexpr uint32_t kGgoGray2Bitmap = 4;  // levels 0..4
constexpr uint32_t kGgoGray4Bitmap = 5;  // levels 0..16
constexpr uint32_t kGgoGray8Bitmap = 6;  // levels 0..64
constexpr uint32_t kGdiError = 0xFFFFFFFFu;

// Longest face name kept, in bytes, terminator included; longer names are
// cut at a character boundary.
constexpr int kFaceNameSize = 32;

struct TextMetric {
  int32_t height;            // ascent + descent
  int32_t ascent;
  int32_t descent;
  int32_t internal_leading;  // height - em height
  int32_t external_leading;
  int32_t ave_char_width;
  int32_t max_char_width;
  int32_t weight;
  int32_t overhang;
  int32_t digitized_aspect_x;
  int32_t digitized_aspect_y;
  uint8_t first_char;
  uint8_t last_char;
  uint8_t default_char;
  uint8_t break_char;
  uint8_t italic;
  uint8_t underlined;
  uint8_t struck_out;
  uint8_t pitch_and_family;
  uint8_t charset;
};

struct GlyphMetrics {
  uint32_t black_box_x;  // bitmap width
  uint32_t black_box_y;  // bitmap height
  int32_t origin_x;      // left edge of the bitmap right of the pen
  int32_t origin_y;      // top edge of the bitmap above the baseline
  int16_t cell_inc_x;    // pen advance
  int16_t cell_inc_y;
};

// 16.16 fixed point in two halves, and the 2 x 2 glyph transformation.
struct Fixed {
  uint16_t fract;
  int16_t value;
};
struct Mat2 {
  Fixed m11, m12, m21, m22;
};
constexpr Mat2 kIdentityMat2 = {{0, 1}, {0, 0}, {0, 0}, {0, 1}};

// Makes a font; null when no face can be had (or a test refused it). face may
// be null or empty for the default face. width 0 keeps the face's aspect;
// escapement and orientation are not supported and ignored.
GdiFont* CreateFont(int32_t height, int32_t width, int32_t escapement, int32_t orientation,
                    int32_t weight, uint32_t italic, uint32_t underline, uint32_t strike_out,
                    uint32_t charset, uint32_t out_precision, uint32_t clip_precision,
                    uint32_t quality, uint32_t pitch_and_family, const char* face);
// Frees a font; false for null. A font must not be selected into a live DC.
bool DeleteFont(GdiFont* font);

// A memory device context with no font selected (null when a test refused it).
GdiDc* CreateMemoryDc();
// Selects font into dc and returns the font selected before (null at first).
GdiFont* SelectFont(GdiDc* dc, GdiFont* font);
bool DeleteDc(GdiDc* dc);

// The metrics of the font selected into dc; false when none is selected.
bool GetTextMetrics(GdiDc* dc, TextMetric* out);

// Glyph of a code page 932 character code in the selected font. With a null
// buffer or a buffer size of 0 it returns the size the bitmap needs; with a
// buffer it writes the bitmap and returns its size. kGdiError for no font, an
// unknown format, a null metrics pointer, or a buffer smaller than the
// bitmap. matrix may be null for the identity. kGgoMetrics fills the
// metrics only and returns 0.
uint32_t GetGlyphOutline(GdiDc* dc, uint32_t code, uint32_t format, GlyphMetrics* metrics,
                         uint32_t buffer_size, void* buffer, const Mat2* matrix);

// Unicode of a code page 932 character code (one byte below 0x100, else
// first x 256 + second); 0 when the code has no character.
uint32_t Cp932CodeToUnicode(uint32_t code);

// What a font was made from: the face file and family actually used, and the
// em height in pixels (for diagnostics and tests).
std::string GetFontFilePath(const GdiFont* font);
std::string GetFontFamilyName(const GdiFont* font);
int GetFontEmPixels(const GdiFont* font);

// Test hooks: the next count font creations (or DC creations) fail.
void SetFontCreateRefusals(int count);
void SetDcCreateRefusals(int count);
// GetGlyphOutline fails for this character code (0: for none).
void SetRefusedGlyphCode(uint32_t code);

}  // namespace plat
