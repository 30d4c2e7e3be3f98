// Tests of the font slice: face lookup and substitution, the meaning of the
// height argument, text metrics at the game's sizes, glyph bitmaps and their
// padding, blank and missing characters, code page 932 conversion.
#include "platform/gdi/gdi_font.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/sjis.h"

namespace {

using namespace plat;

struct FontInDc {
  explicit FontInDc(int height, int weight = 400, const std::string& face = "") {
    font = CreateFont(height, 0, 0, 0, weight, 0, 0, 0, kShiftJisCharset, kOutDefaultPrecis,
                      kClipDefaultPrecis, kNonAntialiasedQuality, kFixedPitch, face.c_str());
    dc = CreateMemoryDc();
    SelectFont(dc, font);
  }
  ~FontInDc() {
    SelectFont(dc, nullptr);
    DeleteDc(dc);
    DeleteFont(font);
  }
  TextMetric Metrics() const {
    TextMetric tm{};
    EXPECT_TRUE(GetTextMetrics(dc, &tm));
    return tm;
  }
  GdiFont* font = nullptr;
  GdiDc* dc = nullptr;
};

GdiFont* MakeFont(int height, const char* face) {
  return CreateFont(height, 0, 0, 0, 400, 0, 0, 0, kShiftJisCharset, 0, 0, 3, 1, face);
}

// Glyph rows as text: '#' for a set bit, or a level digit 0..G for grey.
std::vector<std::string> Rows(GdiDc* dc, uint32_t code, uint32_t format, GlyphMetrics* gm) {
  const uint32_t size = GetGlyphOutline(dc, code, format, gm, 0, nullptr, &kIdentityMat2);
  EXPECT_NE(size, kGdiError);
  std::vector<unsigned char> bits(size);
  EXPECT_EQ(GetGlyphOutline(dc, code, format, gm, size, bits.data(), nullptr), size);
  std::vector<std::string> rows;
  if (size == 0) return rows;
  const uint32_t pitch = size / gm->black_box_y;
  for (uint32_t y = 0; y < gm->black_box_y; ++y) {
    std::string row;
    for (uint32_t x = 0; x < gm->black_box_x; ++x) {
      if (format == kGgoBitmap) {
        row += (bits[y * pitch + x / 8] >> (7 - x % 8)) & 1 ? '#' : '.';
      } else {
        row += "0123456789ABCDEFG"[bits[y * pitch + x]];
      }
    }
    rows.push_back(row);
  }
  return rows;
}

TEST(GdiFontFaces, WindowsGothicNameMapsToIpaGothic) {
  GdiFont* font = MakeFont(16, testsupport::Sjis("ＭＳ ゴシック").c_str());
  ASSERT_NE(font, nullptr);
  EXPECT_EQ(GetFontFamilyName(font), "IPAGothic");
  DeleteFont(font);
}

TEST(GdiFontFaces, EmptyNullAndMissingFacesFallBackToJapaneseGothic) {
  for (const char* face : {static_cast<const char*>(nullptr), "", "No Such Face 12345"}) {
    GdiFont* font = MakeFont(16, face);
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(GetFontFamilyName(font), "IPAGothic");
    DeleteFont(font);
  }
}

TEST(GdiFontFaces, LongFaceNamesAreCutWithoutOverrun) {
  // One single byte, then 80 bytes of double-byte characters, so a cut at
  // 31 bytes would fall inside a character.
  std::string face = "x" + testsupport::Sjis("漢字漢字漢字漢字漢字漢字漢字漢字漢字漢字漢字漢字漢字漢字漢字漢字漢字漢字漢字漢字");
  GdiFont* font = MakeFont(16, face.c_str());
  ASSERT_NE(font, nullptr);
  EXPECT_EQ(GetFontFamilyName(font), "IPAGothic");
  DeleteFont(font);
  // A lone lead byte at the end of the name.
  GdiFont* odd = MakeFont(16, "abc\x82");
  ASSERT_NE(odd, nullptr);
  DeleteFont(odd);
}

TEST(GdiFontFaces, RefusalHookFailsTheNextCreations) {
  SetFontCreateRefusals(2);
  EXPECT_EQ(MakeFont(16, ""), nullptr);
  EXPECT_EQ(MakeFont(16, ""), nullptr);
  GdiFont* font = MakeFont(16, "");
  EXPECT_NE(font, nullptr);
  DeleteFont(font);
  SetDcCreateRefusals(1);
  EXPECT_EQ(CreateMemoryDc(), nullptr);
  GdiDc* dc = CreateMemoryDc();
  EXPECT_NE(dc, nullptr);
  DeleteDc(dc);
}

TEST(GdiFontFaces, UnreasonableArgumentsAreRefused) {
  EXPECT_EQ(MakeFont(100000, ""), nullptr);
  EXPECT_EQ(MakeFont(INT32_MIN, ""), nullptr);
  EXPECT_EQ(CreateFont(16, 0, 0, 0, -5, 0, 0, 0, 1, 0, 0, 3, 1, ""), nullptr);
  EXPECT_FALSE(DeleteFont(nullptr));
  EXPECT_FALSE(DeleteDc(nullptr));
}

// Metrics of the pinned face at the sizes the game asks for, and at the
// heights the library's leading adjustment asks for next (size + 1 or 2).
TEST(GdiFontMetrics, StableNumbersAtTheGameSizes) {
  struct Row {
    int height, em, ascent, descent, internal_leading, ave, max;
  };
  const Row rows[] = {
      {13, 12, 11, 2, 1, 6, 12},  {14, 13, 11, 3, 1, 7, 13},  {16, 15, 13, 3, 1, 8, 15},
      {17, 16, 14, 3, 1, 8, 16},  {20, 19, 16, 4, 1, 10, 19}, {21, 20, 17, 4, 1, 10, 20},
      {22, 20, 18, 4, 2, 10, 20}, {24, 22, 20, 4, 2, 11, 22}, {26, 24, 21, 5, 2, 12, 24},
      {32, 30, 26, 6, 2, 15, 30}, {34, 32, 28, 6, 2, 16, 32},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.height);
    FontInDc f(r.height);
    const TextMetric tm = f.Metrics();
    EXPECT_EQ(GetFontEmPixels(f.font), r.em);
    EXPECT_EQ(tm.height, r.height);
    EXPECT_EQ(tm.ascent, r.ascent);
    EXPECT_EQ(tm.descent, r.descent);
    EXPECT_EQ(tm.internal_leading, r.internal_leading);
    EXPECT_EQ(tm.external_leading, 0);
    EXPECT_EQ(tm.ave_char_width, r.ave);
    EXPECT_EQ(tm.max_char_width, r.max);
    EXPECT_EQ(tm.weight, 400);
    EXPECT_EQ(tm.charset, kShiftJisCharset);
  }
}

TEST(GdiFontMetrics, HeightSignChoosesCellOrEm) {
  FontInDc cell(16);
  FontInDc em(-16);
  EXPECT_EQ(cell.Metrics().height, 16);
  EXPECT_EQ(GetFontEmPixels(cell.font), 15);
  EXPECT_EQ(GetFontEmPixels(em.font), 16);
  EXPECT_EQ(em.Metrics().height, em.Metrics().ascent + em.Metrics().descent);
  EXPECT_EQ(em.Metrics().internal_leading, em.Metrics().height - 16);
  FontInDc zero(0);
  EXPECT_GT(zero.Metrics().height, 0);
}

TEST(GdiFontMetrics, SingleByteCharactersAreHalfTheEm) {
  // At em 16 every printable single-byte character advances 8 pixels and a
  // double-byte one 16: the game lays text out on that grid.
  FontInDc f(17);
  GlyphMetrics gm{};
  for (uint32_t c = 0x20; c < 0x7F; ++c) {
    ASSERT_NE(GetGlyphOutline(f.dc, c, kGgoBitmap, &gm, 0, nullptr, nullptr), kGdiError);
    EXPECT_EQ(gm.cell_inc_x, 8) << c;
    EXPECT_EQ(gm.cell_inc_y, 0);
  }
  for (uint32_t c : {0x82A0u, 0x8ABFu, 0x8140u, 0x838Bu}) {
    ASSERT_NE(GetGlyphOutline(f.dc, c, kGgoGray4Bitmap, &gm, 0, nullptr, nullptr), kGdiError);
    EXPECT_EQ(gm.cell_inc_x, 16) << c;
  }
}

TEST(GdiFontMetrics, SemiBoldAndHeavierAreEmboldenedOnePixel) {
  FontInDc normal(17, 500);
  FontInDc bold(17, 600);
  EXPECT_EQ(bold.Metrics().max_char_width, normal.Metrics().max_char_width + 1);
  EXPECT_EQ(bold.Metrics().weight, 600);
  GlyphMetrics a{}, b{};
  GetGlyphOutline(normal.dc, 'H', kGgoBitmap, &a, 0, nullptr, nullptr);
  GetGlyphOutline(bold.dc, 'H', kGgoBitmap, &b, 0, nullptr, nullptr);
  EXPECT_EQ(b.cell_inc_x, a.cell_inc_x + 1);
  EXPECT_GE(b.black_box_x, a.black_box_x + 1);
}

TEST(GdiFontMetrics, NoFontSelected) {
  GdiDc* dc = CreateMemoryDc();
  TextMetric tm{};
  GlyphMetrics gm{};
  EXPECT_FALSE(GetTextMetrics(dc, &tm));
  EXPECT_EQ(GetGlyphOutline(dc, 'A', kGgoBitmap, &gm, 0, nullptr, nullptr), kGdiError);
  EXPECT_EQ(GetGlyphOutline(nullptr, 'A', kGgoBitmap, &gm, 0, nullptr, nullptr), kGdiError);
  DeleteDc(dc);
}

struct Golden {
  uint32_t code, format, box_x, box_y;
  int origin_x, origin_y, inc;
  std::vector<std::string> rows;
};

// "A", "0", "あ", "漢" at em 16, as 1-bit and 17-level bitmaps.
const Golden kGoldens[] = {
    {0x41, 1, 8, 11, 0, 12, 8, {
        "...##...",
        "...##...",
        "...##...",
        "..#..#..",
        "..#..#..",
        "..#..#..",
        "..####..",
        ".#....#.",
        ".#....#.",
        ".#....#.",
        "##....##",
    }},
    {0x41, 5, 8, 11, 0, 12, 8, {
        "000FF000",
        "003EE300",
        "007BB700",
        "00B77B00",
        "00F33F00",
        "04F00F40",
        "08GGGG80",
        "0C8008C0",
        "1G4004G1",
        "4G1001G4",
        "8D0000D9",
    }},
    {0x30, 1, 6, 11, 1, 12, 8, {
        ".####.",
        ".#..#.",
        "#...##",
        "#..#.#",
        "#..#.#",
        "#.#..#",
        "#.#..#",
        "##...#",
        "##...#",
        ".#..#.",
        ".####.",
    }},
    {0x30, 5, 8, 11, 0, 12, 8, {
        "008FF800",
        "06F33F60",
        "0C901FC0",
        "0F6079F0",
        "1G40B4G1",
        "1G4563G2",
        "1G4B04G1",
        "0F9705F0",
        "0CF109C0",
        "06E33F60",
        "008FF800",
    }},
    {0x82A0, 1, 12, 14, 2, 13, 16, {
        "....#.......",
        "....#.......",
        "....#####...",
        "######......",
        "...##..#....",
        "...#######..",
        "...##.##.##.",
        "..##..#....#",
        ".#.#.##....#",
        "#..###.....#",
        "#..##......#",
        "#..##.....#.",
        "###.#.####..",
        "............",
    }},
    {0x82A0, 5, 14, 14, 1, 13, 16, {
        "00002900000000",
        "00005E00021000",
        "02119E9BEF5000",
        "07GEED86300000",
        "00009900B40000",
        "0000ABACGD8200",
        "0005FC5AB39F40",
        "008DD72F2007E0",
        "06E1A8C90001G3",
        "0F40AED10001G3",
        "4E00BE100007F1",
        "5F18FC00018G60",
        "1DF94805CFD500",
        "00000001730000",
    }},
    {0x8ABF, 1, 15, 15, 0, 13, 16, {
        ".#.....#...#...",
        "..#..##########",
        "...#...#...#...",
        "...............",
        ".....#########.",
        ".##..#...#...#.",
        "..#..#########.",
        ".........#.....",
        ".....#########.",
        "..#......#.....",
        "..#.###########",
        ".##.....###....",
        ".#.....##..##..",
        "##...###....###",
        "....##.........",
    }},
    {0x8ABF, 5, 16, 15, 0, 13, 16, {
        "0550000D400G1000",
        "02E97GGGGGGGGGF0",
        "002C100D400G1000",
        "0000000000000000",
        "07100AGGGGGGGE00",
        "1CE30A800E303E00",
        "00B80AGGGGGGGE00",
        "000000000F300000",
        "00050EGGGGGGGG30",
        "005E00000F300000",
        "00B99GGGGGGGGGG1",
        "03G200009CE40000",
        "0BB00019E24FA300",
        "1F306AFB2002AGC1",
        "0200483000000130",
    }},
};

TEST(GdiFontGlyphs, BitmapsMatchGoldens) {
  FontInDc f(17);
  for (const Golden& g : kGoldens) {
    SCOPED_TRACE(testing::Message() << std::hex << g.code << " format " << g.format);
    GlyphMetrics gm{};
    const std::vector<std::string> rows = Rows(f.dc, g.code, g.format, &gm);
    EXPECT_EQ(gm.black_box_x, g.box_x);
    EXPECT_EQ(gm.black_box_y, g.box_y);
    EXPECT_EQ(gm.origin_x, g.origin_x);
    EXPECT_EQ(gm.origin_y, g.origin_y);
    EXPECT_EQ(gm.cell_inc_x, g.inc);
    EXPECT_EQ(rows, g.rows);
  }
}

TEST(GdiFontGlyphs, SizeQueryRowPaddingAndShortBuffers) {
  FontInDc f(33);  // wide enough that 1-bit rows need more than one byte
  for (uint32_t format : {kGgoBitmap, kGgoGray2Bitmap, kGgoGray4Bitmap, kGgoGray8Bitmap}) {
    SCOPED_TRACE(format);
    for (uint32_t code : {0x41u, 0x57u, 0x8ABFu, 0x82A0u}) {
      GlyphMetrics gm{};
      const uint32_t size = GetGlyphOutline(f.dc, code, format, &gm, 0, nullptr, nullptr);
      ASSERT_NE(size, kGdiError);
      ASSERT_GT(gm.black_box_x, 0u);
      const uint32_t pitch = format == kGgoBitmap ? (gm.black_box_x + 31) / 32 * 4 : (gm.black_box_x + 3) / 4 * 4;
      EXPECT_EQ(size, pitch * gm.black_box_y);
      // A buffer one byte short is refused and left untouched.
      std::vector<unsigned char> small(size - 1, 0xCD);
      EXPECT_EQ(GetGlyphOutline(f.dc, code, format, &gm, size - 1, small.data(), nullptr), kGdiError);
      EXPECT_EQ(small[0], 0xCD);
      // A larger buffer gets the bitmap; padding and bytes past it untouched or clear.
      std::vector<unsigned char> big(size + 8, 0xCD);
      ASSERT_EQ(GetGlyphOutline(f.dc, code, format, &gm, size + 8, big.data(), nullptr), size);
      const unsigned max_level = format == kGgoGray2Bitmap ? 4 : format == kGgoGray4Bitmap ? 16 : 64;
      for (uint32_t y = 0; y < gm.black_box_y; ++y) {
        for (uint32_t x = 0; x < pitch * (format == kGgoBitmap ? 8 : 1); ++x) {
          const bool inside = x < gm.black_box_x;
          const unsigned v = format == kGgoBitmap ? (big[y * pitch + x / 8] >> (7 - x % 8)) & 1
                                                  : big[y * pitch + x];
          if (!inside) {
            EXPECT_EQ(v, 0u) << "padding at " << x << "," << y;
          }
          if (format != kGgoBitmap) {
            EXPECT_LE(v, max_level);
          }
        }
      }
      EXPECT_EQ(big[size], 0xCD);
    }
  }
}

TEST(GdiFontGlyphs, GreyLevelsReachTheirMaximum) {
  FontInDc f(33);
  for (auto [format, top] : {std::pair{kGgoGray2Bitmap, 4}, {kGgoGray4Bitmap, 16}, {kGgoGray8Bitmap, 64}}) {
    GlyphMetrics gm{};
    const uint32_t size = GetGlyphOutline(f.dc, 0x8ABF, format, &gm, 0, nullptr, nullptr);
    std::vector<unsigned char> bits(size);
    GetGlyphOutline(f.dc, 0x8ABF, format, &gm, size, bits.data(), nullptr);
    int highest = 0;
    for (unsigned char v : bits) highest = std::max<int>(highest, v);
    EXPECT_EQ(highest, top);
  }
}

TEST(GdiFontGlyphs, BlankCharactersHaveNoBitmap) {
  FontInDc f(17);
  for (auto [code, inc] : {std::pair{0x20u, 8}, {0x8140u, 16}}) {
    for (uint32_t format : {kGgoBitmap, kGgoGray4Bitmap}) {
      GlyphMetrics gm{};
      unsigned char buffer[16];
      EXPECT_EQ(GetGlyphOutline(f.dc, code, format, &gm, 0, nullptr, nullptr), 0u);
      EXPECT_EQ(GetGlyphOutline(f.dc, code, format, &gm, sizeof buffer, buffer, nullptr), 0u);
      EXPECT_EQ(gm.black_box_x, 1u);
      EXPECT_EQ(gm.black_box_y, 1u);
      EXPECT_EQ(gm.cell_inc_x, inc);
    }
  }
}

TEST(GdiFontGlyphs, MissingCharactersGetTheDefaultGlyph) {
  FontInDc f(17);
  GlyphMetrics def{};
  const std::vector<std::string> box = Rows(f.dc, 0xFFFF, kGgoBitmap, &def);
  ASSERT_FALSE(box.empty());
  // Unmapped single bytes, a two-byte code without a lead byte, and a code
  // whose character is in no installed face all draw that same glyph.
  for (uint32_t code : {0x80u, 0xA0u, 0x4141u, 0x8540u}) {
    GlyphMetrics gm{};
    EXPECT_EQ(Rows(f.dc, code, kGgoBitmap, &gm), box) << std::hex << code;
  }
}

TEST(GdiFontGlyphs, UnknownFormatIsAnError) {
  FontInDc f(17);
  GlyphMetrics gm{};
  EXPECT_EQ(GetGlyphOutline(f.dc, 'A', 2, &gm, 0, nullptr, nullptr), kGdiError);
  EXPECT_EQ(GetGlyphOutline(f.dc, 'A', 7, &gm, 0, nullptr, nullptr), kGdiError);
  EXPECT_EQ(GetGlyphOutline(f.dc, 'A', kGgoBitmap, nullptr, 0, nullptr, nullptr), kGdiError);
  EXPECT_EQ(GetGlyphOutline(f.dc, 'A', kGgoMetrics, &gm, 0, nullptr, nullptr), 0u);
  EXPECT_EQ(gm.cell_inc_x, 8);
}

TEST(GdiFontText, Cp932Codes) {
  EXPECT_EQ(Cp932CodeToUnicode(0x41), 0x41u);
  EXPECT_EQ(Cp932CodeToUnicode(0x5C), 0x5Cu);
  EXPECT_EQ(Cp932CodeToUnicode(0xB1), 0xFF71u);     // half-width katakana A
  EXPECT_EQ(Cp932CodeToUnicode(0x82A0), 0x3042u);   // hiragana A
  EXPECT_EQ(Cp932CodeToUnicode(0x8ABF), 0x6F22u);   // kan
  EXPECT_EQ(Cp932CodeToUnicode(0x8140), 0x3000u);   // full-width space
  EXPECT_EQ(Cp932CodeToUnicode(0x8160), 0xFF5Eu);   // wave dash, code page 932 form
  EXPECT_EQ(Cp932CodeToUnicode(0), 0u);
  EXPECT_EQ(Cp932CodeToUnicode(0x80), 0u);
  EXPECT_EQ(Cp932CodeToUnicode(0x4141), 0u);
  EXPECT_EQ(Cp932CodeToUnicode(0x10041), 0u);
}

}  // namespace
