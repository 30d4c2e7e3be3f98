// Font handles, font creation, the glyph cache (software layouts, edge
// masks, round-robin eviction), text layout and the software pixel rules,
// the bounded formatter and the on-screen log page.
#include <gtest/gtest.h>

#include <cstdarg>
#include <filesystem>
#include <random>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "lib/core/charset.h"
#include "lib/core/handle_table.h"
#include "lib/graphics/font.h"
#include "lib/graphics/graphics_device.h"
#include "lib/system/window_system.h"
#include "platform/window/backend.h"
#include "platform/gdi/gdi_font.h"
#include "platform/kernel/kernel.h"
#include "platform/window/window.h"
#include "tests/support/log_capture.h"
#include "tests/support/sjis.h"

namespace {

using testsupport::LogCapture;
using testsupport::Sjis;

class Fonts : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_bits_ = Screen().colour_bits;
    Screen().colour_bits = 32;
    ResetFontSystem();
  }
  void TearDown() override {
    EndFontSystem();
    plat::SetFontCreateRefusals(0);
    plat::SetDcCreateRefusals(0);
    Screen().colour_bits = saved_bits_;
  }
  static int Make(int size, int thickness, int type, int edge = -1, const char* face = nullptr) {
    return CreateFontToHandle(face, size, thickness, type, -1, edge, 0, -1, -1);
  }
  static int LiveFonts() {
    int n = 0;
    for (int slot = 0; slot < kMaxFontHandles; ++slot) {
      for (int check = 0; check < 2048; ++check) {
        if (IsFontHandleValid(MakeHandle(kHandleKindFont, check, slot))) {
          ++n;
          break;
        }
      }
    }
    return n;
  }
  int saved_bits_ = 0;
};

// ---- Handles and creation ------------------------------------------------------

TEST_F(Fonts, ResetMakesTheDefaultFontWithTheDefaults) {
  const int font = GetDefaultFont();
  ASSERT_TRUE(IsFontHandleValid(font));
  EXPECT_EQ(HandleKind(font), kHandleKindFont);
  const FontRecord* r = FontHandleToRecord(font);
  EXPECT_EQ(r->size, 16);
  EXPECT_EQ(r->thickness, 6);
  EXPECT_EQ(r->type, 0u);
  EXPECT_EQ(r->edge_size, 1);
  EXPECT_STREQ(r->face, "");
  EXPECT_EQ(r->texture_cache, 0);
}

TEST_F(Fonts, FortyFirstFontFailsWithTheLimitLineAndFreedSlotsAreReused) {
  LogCapture log;
  std::vector<int> handles;
  for (int i = 1; i < kMaxFontHandles; ++i) {  // the default font holds one slot
    const int h = Make(13, 3, 0);
    ASSERT_NE(h, -1) << i;
    handles.push_back(h);
  }
  EXPECT_EQ(Make(13, 3, 0), -1);
  EXPECT_NE(log.Debug().find(Sjis("作成できるフォントハンドル数 40 の限界を超えました\r\n")), std::string::npos);
  // Deleting any font frees its slot for the next creation.
  const int freed = handles[10];
  ASSERT_EQ(FontHandleDelete(freed), 0);
  const int again = Make(13, 3, 0);
  EXPECT_EQ(HandleSlot(again), HandleSlot(freed));
  EXPECT_NE(again, freed);  // a new check value: the old handle stays refused
  EXPECT_FALSE(IsFontHandleValid(freed));
  for (int h : handles) FontHandleDelete(h);
  FontHandleDelete(again);
}

TEST_F(Fonts, DefaultsEdgeSizeAndEightBitScreens) {
  const int d = CreateFontToHandle(nullptr, -1, -1, -1, -1, -1, 0, -1, -1);
  const FontRecord* r = FontHandleToRecord(d);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->size, 16);
  EXPECT_EQ(r->thickness, 6);
  EXPECT_EQ(r->type, 0u);
  EXPECT_EQ(r->edge_size, 1);
  EXPECT_EQ(r->charset, GetCharSetIndex());
  // An edge size of 2 or more makes an edge font whatever type was asked.
  const int e = Make(16, 4, 0, 2);
  EXPECT_EQ(FontHandleToRecord(e)->type, kFontTypeEdge);
  // An 8-bit screen drops anti-aliasing.
  Screen().colour_bits = 8;
  const int a = Make(16, 4, 3);
  EXPECT_EQ(FontHandleToRecord(a)->type, kFontTypeEdge);
  Screen().colour_bits = 32;
  FontHandleDelete(d);
  FontHandleDelete(e);
  FontHandleDelete(a);
}

TEST_F(Fonts, BadSettingsAreRefusedWithALine) {
  LogCapture log;
  EXPECT_EQ(Make(0, 4, 0), -1);
  EXPECT_EQ(Make(16, 11, 0), -1);
  EXPECT_EQ(Make(16, 4, 7), -1);
  EXPECT_EQ(Make(16, 4, 1, 1000), -1);
  EXPECT_EQ(LiveFonts(), 1);
}

TEST_F(Fonts, NamedFaceIsRetriedWithOtherCharsetsBeforeFailing) {
  LogCapture log;
  const std::string face = Sjis("ＭＳ ゴシック");
  plat::SetFontCreateRefusals(2);  // the index's charset and DEFAULT_CHARSET fail
  const int h = Make(16, 4, 0, -1, face.c_str());
  ASSERT_NE(h, -1);
  FontHandleDelete(h);
  plat::SetFontCreateRefusals(3);
  EXPECT_EQ(Make(16, 4, 0, -1, face.c_str()), -1);
  EXPECT_NE(log.Debug().find(Sjis("指定のフォントの作成に失敗しました")), std::string::npos);
  plat::SetFontCreateRefusals(3);
  EXPECT_EQ(Make(16, 4, 0), -1);
  EXPECT_NE(log.Debug().find(Sjis("フォントの作成に失敗しました")), std::string::npos);
  // No half-made record is left behind.
  EXPECT_EQ(LiveFonts(), 1);
}

TEST_F(Fonts, DcFailureLeavesNoRecord) {
  LogCapture log;
  plat::SetDcCreateRefusals(1);
  EXPECT_EQ(Make(16, 4, 0), -1);
  EXPECT_NE(log.Debug().find(Sjis("ＤＣの取得に失敗しました")), std::string::npos);
  EXPECT_EQ(LiveFonts(), 1);
}

TEST_F(Fonts, FaceNamesAreCopiedBounded) {
  std::string face(600, 'x');
  const int h = Make(16, 4, 0, -1, face.c_str());
  ASSERT_NE(h, -1);
  char out[256];
  int size = 0, thickness = 0;
  ASSERT_EQ(FontHandleGetState(out, &size, &thickness, h), 0);
  EXPECT_EQ(std::strlen(out), 255u);
  EXPECT_EQ(size, 16);
  EXPECT_EQ(thickness, 4);
  EXPECT_EQ(FontHandleGetState(nullptr, nullptr, nullptr, h), 0);
  FontHandleDelete(h);
  EXPECT_EQ(FontHandleGetState(out, &size, &thickness, h), -1);
}

// The game's fonts: the leading adjustment, the line height and the cell.
TEST_F(Fonts, GameFontsHaveStableCellsAndHeights) {
  struct Row {
    int size, thickness, type, adjust, height, cell, capacity;
  };
  const Row rows[] = {
      // 13: cell 13 + 2 + 2 x 1 = 17, rounded up to 24; 0x50000 / 24^2 = 568 cells.
      {13, 3, 3, 1, 16, 24, 568}, {16, 4, 2, 1, 18, 24, 568}, {20, 5, 3, 1, 24, 24, 568},
      // 24 and 32 are emboldened: one pixel wider.
      {21, 5, 3, 1, 24, 24, 568}, {24, 6, 3, 2, 28, 32, 320}, {32, 9, 3, 2, 36, 40, 204},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.size);
    const int h = CreateFontToHandle(Sjis("ＭＳ ゴシック").c_str(), row.size, row.thickness, row.type, -1,
                                     -1, 0, -1, -1);
    const FontRecord* r = FontHandleToRecord(h);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->height_adjust, row.adjust);
    EXPECT_EQ(r->height, row.height);
    EXPECT_EQ(r->cell_size, row.cell);
    EXPECT_EQ(r->capacity, row.capacity);
    EXPECT_EQ(r->capacity, std::max(20, std::min(2024, 0x50000 / (row.cell * row.cell))));
    EXPECT_EQ(r->soft_bits, 8);
    EXPECT_EQ(r->cells_per_column, r->capacity);
    EXPECT_EQ(r->height % 2, 0);
    FontHandleDelete(h);
  }
}

TEST_F(Fonts, LostFlagSpacingAndRebuildUnderTheSameHandles) {
  const int a = Make(16, 4, 0);
  const int b = Make(21, 5, 3);
  SetFontSpacing(3, a);
  int lost = 7;
  ASSERT_EQ(SetFontLostFlag(b, &lost), 0);
  EXPECT_EQ(lost, 0);
  RebuildAllFonts();
  EXPECT_TRUE(IsFontHandleValid(a));
  EXPECT_TRUE(IsFontHandleValid(b));
  EXPECT_EQ(FontHandleToRecord(a)->spacing, 3);
  EXPECT_EQ(FontHandleToRecord(b)->type, 3u);
  EXPECT_EQ(lost, 1);
  // The flag is not carried over to the re-created font.
  lost = 5;
  FontHandleDelete(b);
  EXPECT_EQ(lost, 5);
  EXPECT_EQ(FontHandleDelete(b), -1);
  EXPECT_EQ(SetFontSpacing(1, b), -1);
  EXPECT_EQ(SetFontLostFlag(b, &lost), -1);
  EXPECT_EQ(FontHandleGetSize(b), -1);
  EXPECT_EQ(FontHandleGetSize(a), 16);
  FontHandleDelete(a);
}

TEST_F(Fonts, RecreatingIntoAnOccupiedSlotChangesNothing) {
  const int a = Make(16, 4, 0);
  EXPECT_EQ(CreateFontToHandle(nullptr, 20, 4, 0, -1, -1, 0, HandleSlot(a), 5), -1);
  EXPECT_EQ(FontHandleGetSize(a), 16);
  EXPECT_EQ(CreateFontToHandle(nullptr, 20, 4, 0, -1, -1, 0, 40, 5), -1);
  EXPECT_EQ(CreateFontToHandle(nullptr, 20, 4, 0, -1, -1, 0, -2, 5), -1);
  // A free slot with a given check value gives exactly that handle.
  const int slot = HandleSlot(a);
  FontHandleDelete(a);
  EXPECT_EQ(CreateFontToHandle(nullptr, 20, 4, 0, -1, -1, 0, slot, 77), MakeHandle(kHandleKindFont, 77, slot));
}

TEST_F(Fonts, DefaultFontRebuildsOnlyWhenItsSettingsChange) {
  const int before = GetDefaultFont();
  RebuildDefaultFont();
  EXPECT_EQ(GetDefaultFont(), before);
  SetDefaultFontSize(nullptr, 20, -1);
  EXPECT_NE(GetDefaultFont(), before);
  EXPECT_EQ(FontHandleGetSize(GetDefaultFont()), 20);
  char face[256];
  int size = 0, thickness = 0;
  EXPECT_EQ(GetDefaultFontSettings(face, &size, &thickness), 0);
  EXPECT_EQ(size, 20);
  EXPECT_EQ(thickness, 6);
  EndFontSystem();
  EXPECT_FALSE(IsFontHandleValid(GetDefaultFont()));
  EXPECT_EQ(GetDefaultFontSettings(face, &size, &thickness), -1);
}

// ---- Glyph cache --------------------------------------------------------------------

std::vector<CharRecord> Records(const std::string& sjis) {
  std::vector<CharRecord> out;
  for (size_t i = 0; i < sjis.size();) {
    const unsigned char b = static_cast<unsigned char>(sjis[i]);
    if ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC)) {
      out.push_back({b, static_cast<uint8_t>(sjis[i + 1]), 0});
      i += 2;
    } else {
      out.push_back({b, 0, 0});
      i += 1;
    }
  }
  return out;
}

// Twenty-odd distinct kanji.
const char* kManyKanji = "一二三四五六七八九十百千万円年月日時分秒上下左右前後東西南北";

TEST_F(Fonts, RoundRobinEvictsTheOldestAfterCapacity) {
  const int h = Make(300, 4, 0);  // so large that the cache holds 20 cells
  FontRecord* r = FontHandleToRecord(h);
  ASSERT_EQ(r->capacity, 20);
  const std::vector<CharRecord> chars = Records(Sjis(kManyKanji));
  ASSERT_GT(chars.size(), 21u);
  for (int i = 0; i < 20; ++i) ASSERT_NE(FontCacheAddGlyph(h, 1, &chars[i]), nullptr);
  EXPECT_EQ(r->next_slot, 0);
  auto cached = [&](const CharRecord& c) { return r->table[c.first | (c.second << 8)].cached; };
  EXPECT_EQ(cached(chars[0]), 1u);
  GlyphCacheEntry* e = FontCacheAddGlyph(h, 1, &chars[20]);
  EXPECT_EQ(e->slot, 0);
  EXPECT_EQ(cached(chars[0]), 0u);
  EXPECT_EQ(cached(chars[1]), 1u);
  EXPECT_EQ(cached(chars[20]), 1u);
  EXPECT_EQ(r->next_slot, 1);
  EXPECT_EQ(FontCacheAddGlyph(h, 0, chars.data()), nullptr);
  EXPECT_EQ(FontCacheAddGlyph(-1, 1, chars.data()), nullptr);
  FontHandleDelete(h);
}

TEST_F(Fonts, SpacesTakeASlotWithoutImage) {
  const int h = Make(16, 4, 0);
  const std::vector<CharRecord> chars = Records(Sjis(" 　"));
  GlyphCacheEntry* space = FontCacheAddGlyph(h, 1, &chars[0]);
  EXPECT_EQ(space->image_width, 0);
  EXPECT_EQ(space->image_height, 0);
  EXPECT_EQ(space->advance, 8);
  GlyphCacheEntry* wide = FontCacheAddGlyph(h, 1, &chars[1]);
  EXPECT_EQ(wide->advance, 16);
  EXPECT_EQ(wide->slot, 1);
  // An edge font adds the edge to blank characters too.
  const int e = Make(16, 4, 1, 2);
  GlyphCacheEntry* edged = FontCacheAddGlyph(e, 1, &chars[0]);
  EXPECT_EQ(edged->advance, 12);
  FontHandleDelete(h);
  FontHandleDelete(e);
}

TEST_F(Fonts, AStringListsARepeatedNewCharacterOnce) {
  const int h = Make(16, 4, 0);
  FontRecord* r = FontHandleToRecord(h);
  const std::string text = Sjis("AABAあAあ");
  CharRecord list[16];
  int count = 0;
  ASSERT_EQ(FontCacheAddString(-1, text.c_str(), h, list, &count), 0);
  EXPECT_EQ(count, 7);
  EXPECT_EQ(r->next_slot, 3);  // A, B, あ
  EXPECT_EQ(list[4].first, 0x82);
  EXPECT_EQ(list[4].second, 0xA0);
  // A maximum length cuts the walk.
  ASSERT_EQ(FontCacheAddString(2, "XYZ", h, list, &count), 0);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(r->next_slot, 5);
  EXPECT_EQ(FontCacheAddString(-1, "A", -1, nullptr, nullptr), -1);
  FontHandleDelete(h);
}

TEST(FontStrings, ByteKinds) {
  const std::string s = Sjis("あA");
  EXPECT_EQ(GetByteKindInString(s.c_str(), 0, kCharSetShiftJis), 1);
  EXPECT_EQ(GetByteKindInString(s.c_str(), 1, kCharSetShiftJis), 2);
  EXPECT_EQ(GetByteKindInString(s.c_str(), 2, kCharSetShiftJis), 0);
  EXPECT_EQ(GetByteKindInString(s.c_str(), 3, kCharSetShiftJis), -1);
  EXPECT_EQ(GetByteKindInString("", 0, kCharSetShiftJis), -1);
  EXPECT_EQ(GetByteKindInString("\x82", 0, kCharSetShiftJis), 1);
  // Hangeul rule: every byte from 0x80 leads.
  EXPECT_EQ(GetByteKindInString("\xA0\x41\x41", 2, kCharSetHangeul), 0);
  EXPECT_EQ(GetByteKindInString("\xA0\x41\x41", 1, kCharSetHangeul), 2);
  EXPECT_EQ(GetByteKindInString("\xA0\x41\x41", 1, kCharSetShiftJis), 0);
}

// The expected edge of a one-pixel glyph, written from the masks as drawn.
const std::vector<std::string> kMask2 = {".###.", "#####", "#####", "#####", ".###."};
const std::vector<std::string> kMask3 = {"...#...", ".#####.", ".#####.", "#######",
                                         ".#####.", ".#####.", "...#..."};
const std::vector<std::string> kMask4 = {"..#####..", ".#######.", "#########", "#########", "#########",
                                         "#########", "#########", ".#######.", "..#####.."};

std::vector<std::string> CellText(const std::vector<uint8_t>& cell, int size) {
  std::vector<std::string> rows;
  for (int y = 0; y < size; ++y) {
    std::string row;
    for (int x = 0; x < size; ++x) row += "0123456789ABCDEF"[cell[y * size + x] & 0x0F];
    rows.push_back(row);
  }
  return rows;
}

TEST(FontEdges, OnePixelGlyphInEveryEdgeSize) {
  const uint8_t one_bit[4] = {0x80, 0, 0, 0};
  const GlyphBitmap dot = {one_bit, 4, 1, 1, false};
  for (int e = 1; e <= 6; ++e) {
    SCOPED_TRACE(e);
    const int cell = 2 * e + 1;
    std::vector<uint8_t> px(cell * cell, 0);
    WriteSoftwareGlyphCell(kFontTypeEdge, e, cell, dot, px.data(), cell);
    std::vector<std::string> want(cell, std::string(cell, '0'));
    if (e == 1) want = {"020", "212", "020"};
    if (e == 2 || e == 3 || e == 4) {
      const auto& m = e == 2 ? kMask2 : e == 3 ? kMask3 : kMask4;
      for (int y = 0; y < cell; ++y)
        for (int x = 0; x < cell; ++x) want[y][x] = m[y][x] == '#' ? '2' : '0';
    }
    if (e >= 5) want.assign(cell, std::string(cell, '2'));
    want[e][e] = '1';  // the glyph pixel is never overwritten by its edge
    EXPECT_EQ(CellText(px, cell), want);
  }
}

TEST(FontEdges, AntialiasedEdgeKeepsTheHighestLevel) {
  // Two grey pixels side by side, levels 16 and 5, edge size 1.
  const uint8_t grey[4] = {16, 5, 0, 0};
  const GlyphBitmap g = {grey, 4, 2, 1, true};
  std::vector<uint8_t> px(4 * 3, 0);
  WriteSoftwareGlyphCell(3, 1, 3, g, px.data(), 4);
  // Row 1: (0,1) left of the first pixel: edge 15; (1,1) glyph 15 and edge
  // 4 from its right neighbour; (2,1) glyph 4 and edge 15.
  EXPECT_EQ(px[4 + 0], 0xF0);
  EXPECT_EQ(px[4 + 1], 0x4F);
  EXPECT_EQ(px[4 + 2], 0xF4);
  EXPECT_EQ(px[0 + 1], 0xF0);  // above the first pixel
  EXPECT_EQ(px[0 + 2], 0x40);  // above the second: its own level only
  // Type 2 stores level - 1, and level 1 leaves 0.
  const uint8_t levels[4] = {1, 9, 16, 0};
  const GlyphBitmap l = {levels, 4, 3, 1, true};
  std::vector<uint8_t> cell(8, 0);
  WriteSoftwareGlyphCell(2, 0, 8, l, cell.data(), 8);
  EXPECT_EQ(cell[0], 0);
  EXPECT_EQ(cell[1], 8);
  EXPECT_EQ(cell[2], 15);
}

TEST(FontEdges, GlyphsLargerThanTheCellAreCut) {
  std::vector<uint8_t> big(20 * 20, 16);
  const GlyphBitmap g = {big.data(), 20, 20, 20, true};
  std::vector<uint8_t> buffer(16 * 17, 0xEE);  // pitch 16, cell 8, guard bytes around
  for (int y = 0; y < 8; ++y) std::memset(&buffer[y * 16], 0, 8);
  WriteSoftwareGlyphCell(3, 2, 8, g, buffer.data(), 16);
  for (int y = 0; y < 17; ++y)
    for (int x = 0; x < 16; ++x)
      if (x >= 8 || y >= 8) {
        EXPECT_EQ(buffer[y * 16 + x], 0xEE) << x << "," << y;
      }
  // One bit a pixel: wider rows are cut to the cell row.
  std::vector<uint8_t> wide(8 * 3, 0xFF);
  const GlyphBitmap w = {wide.data(), 8, 40, 3, false};
  std::vector<uint8_t> bits(4 * 2, 0);
  WriteSoftwareGlyphCell(0, 0, 2, w, bits.data(), 1);
  EXPECT_EQ(bits[0], 0xC0);
  EXPECT_EQ(bits[1], 0xC0);
  EXPECT_EQ(bits[2], 0);
}

// ---- Texture-cache staging layouts ----------------------------------------------------

struct Staging {
  Staging(int w, int h, uint32_t r, uint32_t g, uint32_t b, uint32_t a) {
    PixelFormatInfo info{};
    CreatePixelFormatInfoFromMasks(&info, 16, r, g, b, a);
    EXPECT_EQ(CreateBaseImageLike(w, h, &info, &image), 0);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) Set(x, y, 0xEEEE);
  }
  ~Staging() { FreeBaseImagePixels(&image); }
  uint16_t At(int x, int y) const { return reinterpret_cast<const uint16_t*>(image.pixels + y * image.pitch)[x]; }
  void Set(int x, int y, uint16_t v) { reinterpret_cast<uint16_t*>(image.pixels + y * image.pitch)[x] = v; }
  void Clear(int x, int y, int size) {
    for (int j = 0; j < size; ++j)
      for (int i = 0; i < size; ++i) Set(x + i, y + j, 0);
  }
  BaseImage image{};
};

TEST(FontTexture, AntialiasTexels) {
  PixelFormatInfo argb4{};
  CreatePixelFormatInfoFromMasks(&argb4, 16, 0x0F00, 0x00F0, 0x000F, 0xF000);
  EXPECT_EQ(AntialiasTexel(argb4, 0), 0x0FFF);
  EXPECT_EQ(AntialiasTexel(argb4, 1), 0x0FFF);
  EXPECT_EQ(AntialiasTexel(argb4, 2), 0x1FFF);
  EXPECT_EQ(AntialiasTexel(argb4, 9), 0x8FFF);
  EXPECT_EQ(AntialiasTexel(argb4, 16), 0xFFFF);
  // Another alpha layout takes the general rule: one alpha bit at the top.
  PixelFormatInfo argb1555{};
  CreatePixelFormatInfoFromMasks(&argb1555, 16, 0x7C00, 0x03E0, 0x001F, 0x8000);
  EXPECT_EQ(AntialiasTexel(argb1555, 0), 0x7FFF);
  EXPECT_EQ(AntialiasTexel(argb1555, 8), 0x7FFF);
  EXPECT_EQ(AntialiasTexel(argb1555, 9), 0xFFFF);
}

TEST(FontTexture, PlainAndEdgeLayoutsOfAOnePixelGlyph) {
  const uint8_t one_bit[4] = {0x80, 0, 0, 0};
  const GlyphBitmap dot = {one_bit, 4, 1, 1, false};
  Staging plain(16, 10, 0x7C00, 0x03E0, 0x001F, 0x8000);
  plain.Clear(1, 1, 8);
  WriteTextureGlyphCell(0, 1, 8, dot, &plain.image, 1, 1, 8);
  EXPECT_EQ(plain.At(1, 1), 0xFFFF);
  EXPECT_EQ(plain.At(2, 1), 0);  // outside the glyph box: as cleared
  // Edge font, size 1: glyph half holds the dot at (E, E); edge half the plus.
  Staging edge(16, 4, 0x7C00, 0x03E0, 0x001F, 0x8000);
  edge.Clear(0, 0, 4);
  edge.Clear(8, 0, 4);
  WriteTextureGlyphCell(1, 1, 4, dot, &edge.image, 0, 0, 8);
  const char* glyph_half[3] = {"...", ".#.", "..."};
  const char* edge_half[3] = {".#.", "#.#", ".#."};
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) {
      EXPECT_EQ(edge.At(x, y), glyph_half[y][x] == '#' ? 0xFFFF : 0) << x << "," << y;
      EXPECT_EQ(edge.At(8 + x, y), edge_half[y][x] == '#' ? 0xFFFF : 0) << x << "," << y;
    }
  EXPECT_EQ(edge.At(4, 0), 0xEEEE);  // beyond the cell: untouched
}

TEST(FontTexture, AntialiasedEdgeCombinesLevels) {
  // One pixel of level 16 and one of level 8 side by side, edge size 2.
  const uint8_t grey[4] = {16, 8, 0, 0};
  const GlyphBitmap g = {grey, 4, 2, 1, true};
  Staging s(32, 8, 0x0F00, 0x00F0, 0x000F, 0xF000);
  s.Clear(0, 0, 8);
  s.Clear(16, 0, 8);
  WriteTextureGlyphCell(3, 2, 8, g, &s.image, 0, 0, 16);
  // Glyph half: the levels at (2, 2) and (3, 2), level 0 elsewhere in the
  // (image + 4) area, which is 6 x 5.
  EXPECT_EQ(s.At(2, 2), 0xFFFF);
  EXPECT_EQ(s.At(3, 2), 0x7FFF);
  EXPECT_EQ(s.At(0, 0), 0x0FFF);
  EXPECT_EQ(s.At(5, 4), 0x0FFF);
  EXPECT_EQ(s.At(6, 0), 0);  // right of the area: as cleared
  // Edge half: (4, 2) is reached by both pixels: 16 from the first; (5, 2)
  // only by the second, whose mask row reaches x + 2: level 8.
  EXPECT_EQ(s.At(16 + 4, 2), 0xFFFF);
  EXPECT_EQ(s.At(16 + 5, 2), 0x7FFF);
  // (0, 0) is a corner of the first pixel's round mask: clear.
  EXPECT_EQ(s.At(16 + 0, 0), 0x0FFF);
  EXPECT_EQ(s.At(16 + 1, 0), 0xFFFF);
}

TEST(FontTexture, GlyphsLargerThanTheCellStayInside) {
  std::vector<uint8_t> big(12 * 12, 16);
  const GlyphBitmap g = {big.data(), 12, 12, 12, true};
  Staging s(32, 16, 0x0F00, 0x00F0, 0x000F, 0xF000);
  s.Clear(1, 1, 8);
  s.Clear(17, 1, 8);
  WriteTextureGlyphCell(3, 3, 8, g, &s.image, 1, 1, 16);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 32; ++x) {
      const bool in_cell = y >= 1 && y < 9 && ((x >= 1 && x < 9) || (x >= 17 && x < 25));
      if (!in_cell) {
        EXPECT_EQ(s.At(x, y), 0xEEEE) << x << "," << y;
      }
    }
}

// ---- Layout and the software pixel rules ---------------------------------------------

TEST_F(Fonts, MeasuredWidthsFollowTheGrid) {
  const int h = Make(16, 4, 2);
  int size[2] = {0, 0};
  EXPECT_EQ(FontTextCacheBuild(0, 0, 0, "SCORE 0123456789", 0, nullptr, nullptr, 1, h, 0, -1, 0, size), 128);
  EXPECT_EQ(size[0], 128);
  EXPECT_EQ(size[1], FontHandleToRecord(h)->height);
  const std::string jp = Sjis("ハイスコアは、 0012345 点 です！！！");
  const int width = FontTextCacheBuild(0, 0, 0, jp.c_str(), 0, nullptr, nullptr, 1, h, 0, -1, 0, nullptr);
  EXPECT_EQ(width, 13 * 16 + 10 * 8);
  // With spacing s, n characters are n x s wider.
  SetFontSpacing(3, h);
  EXPECT_EQ(FontTextCacheBuild(0, 0, 0, "SCORE", 0, nullptr, nullptr, 1, h, 0, -1, 0, nullptr), 40 + 15);
  // A length cuts the string.
  EXPECT_EQ(FontTextCacheBuild(0, 0, 0, "SCORE", 0, nullptr, nullptr, 1, h, 0, 2, 0, nullptr), 22);
  EXPECT_EQ(FontTextCacheBuild(0, 0, 0, "", 0, nullptr, nullptr, 1, h, 0, -1, 0, nullptr), 0);
  EXPECT_EQ(FontTextCacheBuild(0, 0, 0, "A", 0, nullptr, nullptr, 1, -1, 0, -1, 0, nullptr), -1);
  // An edge font advances 2E more per character.
  const int e = Make(16, 4, 3, 2);
  EXPECT_EQ(FontTextCacheBuild(0, 0, 0, "SCORE", 0, nullptr, nullptr, 1, e, 0, -1, 0, nullptr), 5 * 12);
  FontHandleDelete(h);
  FontHandleDelete(e);
}

struct Canvas {
  Canvas(int w, int h, int bits) : width(w), height(h), pixels(static_cast<size_t>(w) * h * bits / 8, 0) {
    target = {pixels.data(), w * bits / 8, w, h, bits};
  }
  uint32_t At(int x, int y) const {
    if (target.bits == 32) return reinterpret_cast<const uint32_t*>(pixels.data())[y * width + x];
    if (target.bits == 16) return reinterpret_cast<const uint16_t*>(pixels.data())[y * width + x];
    return pixels[y * width + x];
  }
  int Count() const {
    int n = 0;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) n += At(x, y) != 0;
    return n;
  }
  // FNV-1a of the pixels.
  uint64_t Hash() const {
    uint64_t h = 1469598103934665603ull;
    for (uint8_t b : pixels) h = (h ^ b) * 1099511628211ull;
    return h;
  }
  int width, height;
  std::vector<uint8_t> pixels;
  TextDrawTarget target;
};

TEST_F(Fonts, AStringLongerThanTheCacheDrawsEveryCharacter) {
  const int h = Make(300, 4, 0);
  const FontRecord* r = FontHandleToRecord(h);
  ASSERT_EQ(r->capacity, 20);
  const std::string text = Sjis(kManyKanji);
  const int n = static_cast<int>(text.size() / 2);
  Canvas c(n * 300, 320, 32);
  const TextClipRect clip = {0, 0, c.width, c.height};
  const int advance = FontTextCacheBuild(0, 0, 0, text.c_str(), 0, nullptr, nullptr, 1, h, 0, 2, 0, nullptr);
  ASSERT_GT(advance, 250);
  const int pen = FontTextCacheBuild(1, 0, 0, text.c_str(), 0xFFFFFF, &c.target, &clip, 1, h, 0, -1, 0, nullptr);
  EXPECT_EQ(pen, n * advance);
  for (int i = 0; i < n; ++i) {
    int ink = 0;
    for (int y = 0; y < c.height; ++y)
      for (int x = i * advance; x < (i + 1) * advance; ++x) ink += c.At(x, y) != 0;
    EXPECT_GT(ink, 500) << "character " << i;
  }
  FontHandleDelete(h);
}

TEST_F(Fonts, ARefusedGlyphDrawsNothingAndTakesNoRoom) {
  const int h = Make(16, 4, 0);
  auto draw = [&](const char* text, int* pen) {
    Canvas c(200, 24, 32);
    const TextClipRect clip = {0, 0, c.width, c.height};
    *pen = FontTextCacheBuild(1, 0, 0, text, 0xFFFFFF, &c.target, &clip, 1, h, 0, -1, 0, nullptr);
    return c;
  };
  int plain_pen = 0, refused_pen = 0, alone_pen = 0;
  ASSERT_NE(h, -1);
  plat::SetRefusedGlyphCode('Q');
  Canvas plain = draw("AB", &plain_pen);
  Canvas refused = draw("AQB", &refused_pen);
  Canvas alone = draw("Q", &alone_pen);
  plat::SetRefusedGlyphCode(0);
  EXPECT_EQ(refused_pen, plain_pen);
  EXPECT_EQ(alone_pen, 0);
  int differ = 0, ink = 0, alone_ink = 0;
  for (int y = 0; y < plain.height; ++y)
    for (int x = 0; x < plain.width; ++x) {
      differ += plain.At(x, y) != refused.At(x, y);
      ink += plain.At(x, y) != 0;
      alone_ink += alone.At(x, y) != 0;
    }
  EXPECT_GT(ink, 20);
  EXPECT_EQ(differ, 0);
  EXPECT_EQ(alone_ink, 0);
  FontHandleDelete(h);
}

TEST_F(Fonts, HeightAdjustmentRaisesTheText) {
  const int h = Make(16, 4, 0);
  FontRecord* r = FontHandleToRecord(h);
  auto top_row = [&](int adjust) {
    r->height_adjust = adjust;
    Canvas c(32, 40, 32);
    const TextClipRect clip = {0, 0, 32, 40};
    FontTextCacheBuild(1, 0, 10, "A", 0xFFFFFF, &c.target, &clip, 1, h, 0, -1, 0, nullptr);
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 32; ++x)
        if (c.At(x, y)) return y;
    return -1;
  };
  const int base = top_row(0);
  EXPECT_EQ(top_row(5), base - 2);
  EXPECT_EQ(top_row(-3), base + 1);
  FontHandleDelete(h);
}

TEST_F(Fonts, ClipRectangleBoundsEveryWrite) {
  const int h = Make(32, 9, 3);
  Canvas full(200, 50, 32);
  Canvas clipped(200, 50, 32);
  const TextClipRect all = {0, 0, 200, 50};
  const TextClipRect part = {10, 5, 60, 20};
  FontTextCacheBuild(1, -4, -3, "W0W", 0xFFFFFF, &full.target, &all, 1, h, 0x102030, -1, 0, nullptr);
  FontTextCacheBuild(1, -4, -3, "W0W", 0xFFFFFF, &clipped.target, &part, 1, h, 0x102030, -1, 0, nullptr);
  for (int y = 0; y < 50; ++y)
    for (int x = 0; x < 200; ++x) {
      const bool inside = x >= 10 && x < 60 && y >= 5 && y < 20;
      EXPECT_EQ(clipped.At(x, y), inside ? full.At(x, y) : 0u) << x << "," << y;
    }
  FontHandleDelete(h);
}

// A one-cell font record with hand-made cache bytes for the pixel rules.
struct RuleFont {
  explicit RuleFont(uint32_t type) : record(std::make_unique<FontRecord>()) {
    std::memset(record.get(), 0, sizeof(FontRecord));
    record->type = type;
    record->cell_size = 8;
    record->cells_per_column = 1;
    record->capacity = 1;
    record->soft_bits = type == 0 ? 1 : 8;
    record->soft_pitch = type == 0 ? 1 : 8;
    cell.assign(64, 0);
    record->soft_pixels = cell.data();
    entry.slot = 0;
    entry.image_width = 8;
    entry.image_height = 8;
  }
  uint32_t Draw(uint8_t cached, int depth, int bits, uint32_t colour, uint32_t edge) {
    cell[0] = cached;
    Screen().colour_bits = depth;
    Canvas c(8, 8, bits);
    WriteGlyphPixels(record.get(), &entry, &c.target, 0, 0, {0, 0, 8, 8}, colour, edge);
    return c.At(0, 0);
  }
  std::unique_ptr<FontRecord> record;
  std::vector<uint8_t> cell;
  GlyphCacheEntry entry{};
};

TEST_F(Fonts, SoftwarePixelRulesPerDepthAndType) {
  RuleFont plain(0), edge(1), aa(2), aa_edge(3);
  EXPECT_EQ(plain.Draw(0x80, 8, 8, 0x1234, 0), 0x34u);
  EXPECT_EQ(plain.Draw(0x80, 16, 16, 0xF800, 0), 0xF800u);
  EXPECT_EQ(plain.Draw(0x00, 16, 16, 0xF800, 0), 0u);
  EXPECT_EQ(edge.Draw(2, 8, 8, 0x11, 0x22), 0x22u);
  EXPECT_EQ(edge.Draw(1, 32, 32, 0x00FFFFFF, 0xAB102030), 0x00FFFFFFu);
  EXPECT_EQ(edge.Draw(2, 32, 32, 0x00FFFFFF, 0xAB102030), 0x00102030u);
  EXPECT_EQ(aa.Draw(7, 16, 32, 0x07E0, 0), (7u << 20) | 0x07E0u);
  EXPECT_EQ(aa.Draw(15, 32, 32, 0x00123456, 0), 0xF0123456u);
  EXPECT_EQ(aa.Draw(0, 32, 32, 0x00123456, 0), 0u);
  // Anti-aliased edge, 32 bits: edge only, glyph only, and a mix worked by hand:
  // g 8, e 15: A = 7 x 15 + 8 x 16 = 233, w = 32768 / 233 = 140,
  // red 0xFF over 0x00 gives 255 x 140 >> 8 = 139.
  EXPECT_EQ(aa_edge.Draw(0xF0, 32, 32, 0xFF0000, 0x000000), 0xF0000000u);
  EXPECT_EQ(aa_edge.Draw(0x0F, 32, 32, 0xFF0000, 0x000000), 0xFFFF0000u);
  EXPECT_EQ(aa_edge.Draw(0xF8, 32, 32, 0xFF0000, 0x000000), (233u << 24) | (139u << 16));
  // Blue over red: the falling channel rounds toward minus infinity.
  EXPECT_EQ(aa_edge.Draw(0xF8, 32, 32, 0x0000FF, 0xFF0000), (233u << 24) | (115u << 16) | 139u);
  // 16 bits: alpha in the third byte, RGB565 fields; red 31 x 140 >> 8 = 16.
  EXPECT_EQ(aa_edge.Draw(0xF8, 16, 32, 0xF800, 0x0000), (233u << 16) | (16u << 11));
  EXPECT_EQ(aa_edge.Draw(0x30, 16, 32, 0xF800, 0x001F), (48u << 16) | 0x1Fu);
  EXPECT_EQ(aa_edge.Draw(0x00, 16, 32, 0xF800, 0x001F), 0u);
}

// Frozen pictures of the panel text in the game's six fonts: any change in
// glyph rendering, the cache layouts or the pixel rules shows here.
TEST_F(Fonts, PanelTextGoldens) {
  struct Font {
    int size, thickness, type;
  };
  const Font fonts[] = {{13, 3, 3}, {16, 4, 2}, {20, 5, 3}, {21, 5, 3}, {24, 6, 3}, {32, 9, 3}};
  const std::string texts[] = {"SCORE 0123456789", Sjis("ハイスコアは、 0012345 点 です！！！")};
  std::vector<uint64_t> hashes;
  for (const Font& f : fonts) {
    const int h = CreateFontToHandle(Sjis("ＭＳ ゴシック").c_str(), f.size, f.thickness, f.type, -1, -1, 0,
                                     -1, -1);
    for (const std::string& text : texts) {
      Canvas c(640, 48, 32);
      const TextClipRect clip = {0, 0, 640, 48};
      FontTextCacheBuild(1, 2, 4, text.c_str(), 0xFFE0C0, &c.target, &clip, 1, h, 0x0A2020, -1, 0, nullptr);
      EXPECT_GT(c.Count(), 100);
      hashes.push_back(c.Hash());
    }
    FontHandleDelete(h);
  }
  // Reviewed as pictures when they were taken.
  const std::vector<uint64_t> expected = {
      0xc12ffd6032d41e10ull, 0x55139ff522e5a935ull, 0x04cec33303236584ull, 0x37f4fbb925f45c94ull,
      0x41862d23965c50b2ull, 0x49e8d57b3a852de5ull, 0xfc7abef3ac36f8b2ull, 0x0676e8d48c91dde5ull,
      0xf537615a87e09cc2ull, 0x5db3aba479f3895dull, 0x8b116db9245a6947ull, 0x50b54c7fed6e6775ull,
  };
  EXPECT_EQ(hashes, expected);
}

// ---- Entries, formatter, on-screen log ----------------------------------------------------

TEST_F(Fonts, DrawEntriesRefuseBadInput) {
  LogCapture log;
  EXPECT_EQ(DrawTextWithFont(0, 0, nullptr, 0, GetDefaultFont(), 0, 0), 0);
  EXPECT_EQ(DrawTextWithFont(0, 0, "", 0, GetDefaultFont(), 0, 0), 0);
  EXPECT_EQ(DrawTextWithFont(0, 0, "A", 0, 12345, 0, 0), -1);
  EXPECT_NE(log.Debug().find(Sjis("フォントハンドル値が異常です\r\n")), std::string::npos);
  EXPECT_EQ(DrawTextWithFontFmt(0, 0, 0, 12345, "%d", 5), -1);
  // A 5000-character expansion is formatted into its 2048 bytes safely.
  const int r = DrawTextWithFontFmt(0, 0, 0, GetDefaultFont(), "%5000d", 7);
  EXPECT_TRUE(r == 0 || r == -1);
}

std::string Format(int size, const char* format, ...) {
  std::vector<char> buffer(size + 16, '#');
  va_list args;
  va_start(args, format);
  const int n = FormatTextBounded(buffer.data(), size, format, args);
  va_end(args);
  EXPECT_EQ(buffer[size], '#') << "wrote past the buffer";
  EXPECT_EQ(n, static_cast<int>(std::strlen(buffer.data())));
  return std::string(buffer.data());
}

TEST(FontFormat, GameFormatsAndTruncation) {
  EXPECT_EQ(Format(2048, "%d %04d %07d", -12, 7, 12345), "-12 0007 0012345");
  EXPECT_EQ(Format(2048, "FPS = %.2lf", 59.996), "FPS = 60.00");
  EXPECT_EQ(Format(2048, "%.0lf", 59.5), "60");
  EXPECT_EQ(Format(2048, "%.0lf", 58.5), "58");
  // A 5000-character expansion is cut to 2047 bytes.
  const std::string long_text = Format(2048, "%5000d", 1);
  EXPECT_EQ(long_text.size(), 2047u);
  // A cut never splits a double-byte character.
  const std::string jp = Sjis("あいう");
  EXPECT_EQ(Format(4, "%s", jp.c_str()), Sjis("あ"));
  EXPECT_EQ(Format(5, "%s", jp.c_str()), Sjis("あい"));
  EXPECT_EQ(Format(1, "%s", "abc"), "");
}

TEST(ScreenLog, PageLinesAreCutAndScroll) {
  const int before = GetScreenLogLineCount();
  ASSERT_EQ(ScreenLogAddLine("first"), 0);
  EXPECT_EQ(GetScreenLogLineCount(), before + 1);
  EXPECT_STREQ(GetScreenLogLine(before), "first");
  ASSERT_EQ(ScreenLogAddLine(std::string(400, 'x').c_str()), 0);
  EXPECT_EQ(std::strlen(GetScreenLogLine(before + 1)), 254u);
  const std::string jp = "x" + Sjis("漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢漢");
  ASSERT_EQ(ScreenLogAddLine(jp.c_str()), 0);
  EXPECT_EQ(std::strlen(GetScreenLogLine(before + 2)), 253u);  // 1 + 126 characters
  for (int i = 0; i < 100; ++i) ScreenLogAddLine("more");
  EXPECT_EQ(GetScreenLogLineCount(), kScreenLogLines);
  EXPECT_STREQ(GetScreenLogLine(kScreenLogLines - 1), "more");
  EXPECT_EQ(GetScreenLogLine(kScreenLogLines), nullptr);
  EXPECT_EQ(ScreenLogAddLine(nullptr), -1);
}

TEST(ScreenLog, StartNeedsTheGraphics) {
  if (GetDirectDrawObject() == nullptr) {
    EXPECT_EQ(ScreenLogStart(), -1);
  }
}

// The library start makes the default font and the on-screen log's font;
// the end deletes the log's font; a rebuild makes the log ask for its font
// again.
TEST(FontLibrary, StartEndAndRebuildKeepTheOnScreenLogFont) {
  plat::SetBackend(plat::Backend::kHeadless);
  plat::HeadlessReset(plat::VirtualDesktop{});
  // A lock folder of this run's own: runs side by side must not see each
  // other's window as a second copy.
  const std::string lock = (std::filesystem::temp_directory_path() /
                            ("rorud-lock-fonts-" + std::to_string(std::random_device{}()))).string();
  std::filesystem::create_directories(lock);
  plat::SetWindowLockFolder(lock);
  ResetWindowSettings();
  ResetGraphicsDeviceForTest();
  GraphicsConfig().vblank_wait_off = 1;
  {
    LogCapture log;
    plat::SetVirtualClockAutoAdvance(10);
    ChangeWindowMode(1);
    ASSERT_EQ(ConfigureScreenMode(640, 480, 32, 0), 0);
    ASSERT_EQ(LibraryStart(), 0);
    auto live = [] {
      int n = 0;
      for (int slot = 0; slot < kMaxFontHandles; ++slot)
        for (int check = 0; check < 2048; ++check)
          if (IsFontHandleValid(MakeHandle(kHandleKindFont, check, slot))) ++n;
      return n;
    };
    EXPECT_TRUE(IsFontHandleValid(GetDefaultFont()));
    EXPECT_EQ(live(), 2);
    EXPECT_NE(log.Debug().find(Sjis("フォントの初期化は正常に終了しました")), std::string::npos);
    // A rebuild deletes and re-creates every font under its handle; the log
    // then takes its re-created font instead of making one more each time.
    for (int i = 0; i < 50; ++i) {
      RebuildAllFonts();
      ScreenLogMakeFont();
    }
    EXPECT_EQ(live(), 2);
    const int before_end = live();
    ASSERT_EQ(LibraryEnd(), 0);
    // The graphics end restarts the font system, which deletes every font.
    (void)before_end;
    EXPECT_EQ(live(), 0);
  }
  EndFontSystem();
  ResetGraphicsDeviceForTest();
  ResetWindowSettings();
  plat::HeadlessReset(plat::VirtualDesktop{});
  std::error_code ignored;
  std::filesystem::remove_all(lock, ignored);
}

}  // namespace
