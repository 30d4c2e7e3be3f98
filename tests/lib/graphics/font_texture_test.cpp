// Text drawn through the texture cache on the software device: the glyph
// cells reach the back buffer as graphic draws in the bright-modulated text
// colour, edge fonts with their edge in the edge colour.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>
#include <set>

#include "lib/graphics/font.h"
#include "tests/lib/graphics/graphic_support.h"
#include "tests/support/sjis.h"

namespace {

using gtest_graphic::GraphicTest;
using gtest_graphic::Picture;

class FontTextureDraw : public GraphicTest {
 protected:
  int MakeFont(int size, int type, int edge) {
    const int h = CreateFontToHandle(nullptr, size, 4, type, -1, edge, 0, -1, -1);
    EXPECT_NE(h, -1);
    const FontRecord* r = FontHandleToRecord(h);
    EXPECT_NE(r, nullptr);
    if (r) { EXPECT_EQ(r->texture_cache, 1); }
    return h;
  }
  // The smallest box holding every non-black pixel: left, top, right, bottom
  // (exclusive); all -1 when the picture is black.
  static void Bounds(const Picture& p, int box[4]) {
    box[0] = box[1] = box[2] = box[3] = -1;
    for (int y = 0; y < p.height; ++y) {
      for (int x = 0; x < p.width; ++x) {
        if ((p.at(x, y) & 0xFFFFFF) == 0) continue;
        if (box[0] == -1 || x < box[0]) box[0] = x;
        if (box[1] == -1 || y < box[1]) box[1] = y;
        if (x + 1 > box[2]) box[2] = x + 1;
        if (y + 1 > box[3]) box[3] = y + 1;
      }
    }
  }
  static uint64_t Hash(const Picture& p) {
    uint64_t h = 1469598103934665603ull;
    for (uint32_t v : p.argb) h = (h ^ (v & 0xFFFFFF)) * 1099511628211ull;
    return h;
  }
};

TEST_F(FontTextureDraw, PlainTextLandsInsideItsBoxInTheTextColour) {
  const int font = MakeFont(16, 0, -1);
  const char* text = "SCORE 0123456789";
  int size[2] = {0, 0};
  const int width = FontTextCacheBuild(0, 10, 10, text, 0, nullptr, nullptr, 1, font, 0, -1, 0, size);
  EXPECT_EQ(width, 16 * 8);
  ASSERT_EQ(DrawTextWithFont(10, 10, text, GetColorCode(255, 255, 255), font, 0, 0), 0);
  const Picture p = Screenshot();
  int box[4];
  Bounds(p, box);
  ASSERT_NE(box[0], -1) << "nothing was drawn";
  EXPECT_GE(box[0], 10);
  EXPECT_GE(box[1], 10);
  EXPECT_LE(box[2], 10 + width);
  EXPECT_LE(box[3], 10 + size[1]);
  // The text spans its line: the first glyph near the left, the last near the right.
  EXPECT_LT(box[0], 10 + 8);
  EXPECT_GT(box[2], 10 + width - 8);
  for (uint32_t v : p.argb) {
    const uint32_t rgb = v & 0xFFFFFF;
    EXPECT_TRUE(rgb == 0 || rgb == 0xFFFFFF) << std::hex << rgb;
    if (rgb != 0 && rgb != 0xFFFFFF) break;
  }
  // Glyphs are distinct: each character cell holds some pixels, the space none.
  for (int i = 0; i < 16; ++i) {
    int count = 0;
    for (int y = 10; y < 10 + size[1]; ++y)
      for (int x = 10 + i * 8; x < 18 + i * 8; ++x) count += (p.at(x, y) & 0xFFFFFF) != 0;
    if (i == 5) {
      EXPECT_EQ(count, 0) << "space";
    } else {
      EXPECT_GT(count, 4) << "character " << i;
    }
  }
  FontHandleDelete(font);
}

TEST_F(FontTextureDraw, BrightColourModulatesAndIsRestored) {
  const int font = MakeFont(16, 0, -1);
  SetDrawBrightRGB(255, 0, 128);
  ASSERT_EQ(DrawTextWithFont(0, 0, "HHHH", GetColorCode(255, 255, 255), font, 0, 0), 0);
  EXPECT_EQ(Draw().bright, 0xFF0080u);
  const Picture p = Screenshot();
  std::set<uint32_t> colours;
  for (uint32_t v : p.argb) colours.insert(v & 0xFFFFFF);
  EXPECT_EQ(colours, (std::set<uint32_t>{0, 0xFF0080}));
  SetDrawBrightRGB(255, 255, 255);
  FontHandleDelete(font);
}

TEST_F(FontTextureDraw, EdgeFontDrawsTheEdgeInTheEdgeColour) {
  const int font = MakeFont(16, 1, 2);
  ASSERT_EQ(DrawTextWithFont(20, 20, "SCORE 01", GetColorCode(255, 255, 255), font, GetColorCode(255, 0, 0), 0), 0);
  const Picture p = Screenshot();
  int white = 0, red = 0, other = 0;
  for (uint32_t v : p.argb) {
    const uint32_t rgb = v & 0xFFFFFF;
    if (rgb == 0xFFFFFF) ++white;
    else if (rgb == 0xFF0000) ++red;
    else if (rgb != 0) ++other;
  }
  EXPECT_GT(white, 20);
  EXPECT_GT(red, white);  // the edge surrounds every glyph pixel
  EXPECT_EQ(other, 0);
  // Every glyph pixel has an edge or glyph pixel beside it: no white pixel
  // touches black.
  for (int y = 1; y + 1 < p.height; ++y)
    for (int x = 1; x + 1 < p.width; ++x)
      if ((p.at(x, y) & 0xFFFFFF) == 0xFFFFFF) {
        for (auto [dx, dy] : {std::pair{1, 0}, {-1, 0}, {0, 1}, {0, -1}})
          ASSERT_NE(p.at(x + dx, y + dy) & 0xFFFFFF, 0u) << x << "," << y;
      }
  FontHandleDelete(font);
}

TEST_F(FontTextureDraw, AntialiasedTextBlendsUnderAlphaBlending) {
  const int font = MakeFont(16, 2, -1);
  SetBlendModeParam(1, 255);
  ASSERT_EQ(DrawTextWithFont(0, 0, "SCORE", GetColorCode(255, 255, 255), font, 0, 0), 0);
  const Picture p = Screenshot();
  int full = 0, partial = 0;
  for (uint32_t v : p.argb) {
    const uint32_t rgb = v & 0xFFFFFF;
    if (rgb == 0xFFFFFF) ++full;
    else if (rgb != 0) ++partial;
  }
  EXPECT_GT(full, 10);
  EXPECT_GT(partial, 0);
  SetBlendModeParam(0, 255);
  FontHandleDelete(font);
}

TEST_F(FontTextureDraw, LostCacheScreenIsRebuiltAndLongStringsDrawEveryCharacter) {
  const int font = MakeFont(16, 0, -1);
  FontRecord* r = FontHandleToRecord(font);
  ASSERT_NE(r, nullptr);
  const int screen = r->cache_screen;
  ASSERT_GE(screen, 0);
  // Losing the cache screen (every graphic deleted) flags a rebuild.
  DeleteGraphic(screen);
  EXPECT_EQ(r->cache_lost, 1);
  ASSERT_EQ(DrawTextWithFont(0, 0, "A", GetColorCode(255, 255, 255), font, 0, 0), 0);
  EXPECT_GE(r->cache_screen, 0);
  EXPECT_EQ(r->cache_lost, 0);
  // More different characters than the cache holds: the last ones still draw.
  std::string text;
  for (int i = 0; i < r->capacity + 40; ++i) {
    const int code = 0x889F + i;  // a run of double-byte kanji
    const int lead = code >> 8, trail = code & 0xFF;
    if (trail < 0x40 || trail == 0x7F || trail > 0xFC) continue;
    text += char(lead);
    text += char(trail);
  }
  ClearDrawTarget(nullptr);
  EXPECT_EQ(DrawTextWithFont(0, 100, text.c_str(), GetColorCode(255, 255, 255), font, 0, 0), 0);
  FontHandleDelete(font);
  EXPECT_FALSE(IsGraphicHandleValid(screen));
}

TEST_F(FontTextureDraw, SubtractTextRightOfTheClipIsDroppedBeforeCaching) {
  const int font = MakeFont(16, 0, -1);
  const FontRecord* r = FontHandleToRecord(font);
  SetDrawClipRect(0, 0, 100, 100);
  SetBlendModeParam(3, 255);
  EXPECT_EQ(DrawTextWithFont(100, 0, "Q", GetColorCode(255, 255, 255), font, 0, 0), 0);
  EXPECT_EQ(r->table['Q'].cached, 0u);
  // Left of the clip's right edge it is drawn (and cached) as usual.
  EXPECT_EQ(DrawTextWithFont(99, 0, "Q", GetColorCode(255, 255, 255), font, 0, 0), 0);
  EXPECT_EQ(r->table['Q'].cached, 1u);
  SetBlendModeParam(0, 255);
  SetDrawClipRect(0, 0, 640, 480);
  FontHandleDelete(font);
}

TEST_F(FontTextureDraw, SubtractTextWithoutReverseSubtractMatchesTheNativeResult) {
  // Draws a grey box and subtracts a line of text from it; returns the
  // picture and the device draws the text took.
  auto draw = [&](bool native, int* draws) {
    ShutdownGraphicsSystem();
    ResetGraphicsDeviceForTest();
    plat::D3DCAPS9 caps = plat::DefaultDeviceCaps();
    if (!native) caps.PrimitiveMiscCaps &= ~uint32_t(plat::D3DPMISCCAPS_BLENDOP);
    plat::SetDeviceCapsOverride(&caps);
    EXPECT_EQ(GraphicsSystemStart(), 0);
    EXPECT_EQ(GraphicsDevice().blend_op_capable, native ? 1 : 0);
    SetDrawTarget(-2);
    const int font = MakeFont(16, 2, -1);
    DrawFilledBox(0, 0, 200, 40, GetColorCode(0xC0, 0x90, 0x60));
    // The glyphs go to the cache first, so that only the text's own draws
    // are counted.
    DrawTextWithFont(0, 100, "SUBTRACT", GetColorCode(255, 255, 255), font, 0, 0);
    FlushVertexBatch();
    const int before = GraphicsDevice().device->draw_call_count();
    SetBlendModeParam(3, 255);
    EXPECT_EQ(DrawTextWithFont(4, 4, "SUBTRACT", GetColorCode(0x40, 0x80, 0xFF), font, 0, 0), 0);
    FlushVertexBatch();
    *draws = GraphicsDevice().device->draw_call_count() - before;
    SetBlendModeParam(0, 0);
    const Picture shot = Screenshot();
    FontHandleDelete(font);
    plat::SetDeviceCapsOverride(nullptr);
    return shot;
  };
  int native_draws = 0, emulated_draws = 0;
  const Picture native = draw(true, &native_draws);
  const Picture emulated = draw(false, &emulated_draws);
  int wrong = 0;
  for (size_t i = 0; i < native.argb.size(); ++i) wrong += native.argb[i] != emulated.argb[i];
  EXPECT_EQ(wrong, 0);
  // One inversion of the text's area before the glyphs and one after.
  EXPECT_EQ(emulated_draws, native_draws + 2);
}

TEST_F(FontTextureDraw, EmptyClipAndBadHandles) {
  const int font = MakeFont(16, 0, -1);
  SetDrawClipRect(10, 10, 10, 10);
  EXPECT_EQ(DrawTextWithFont(0, 0, "A", GetColorCode(255, 255, 255), font, 0, 0), 0);
  SetDrawClipRect(0, 0, 640, 480);
  EXPECT_EQ(DrawTextWithFont(0, 0, "A", 0, 0x7FFFFFFF, 0, 0), -1);
  int box[4];
  Bounds(Screenshot(), box);
  EXPECT_EQ(box[0], -1);
  FontHandleDelete(font);
}


TEST_F(FontTextureDraw, GameFontGoldensUnderBlendModesZeroAndOne) {
  struct Spec {
    int size, thickness, type;
  };
  const Spec specs[] = {{13, 3, 3}, {16, 4, 2}, {20, 5, 3}, {21, 5, 3}, {24, 6, 3}, {32, 9, 3}};
  const std::string texts[] = {"SCORE 0123456789", testsupport::Sjis("ハイスコアは、 0012345 点 です！！！")};
  std::vector<uint64_t> hashes;
  for (int mode = 0; mode < 2; ++mode) {
    ClearDrawTarget(nullptr);
    SetBlendModeParam(mode, 255);
    int y = 0;
    for (const Spec& s : specs) {
      const int font = CreateFontToHandle(testsupport::Sjis("ＭＳ ゴシック").c_str(), s.size, s.thickness, s.type,
                                          -1, -1, 0, -1, -1);
      ASSERT_NE(font, -1);
      for (const std::string& text : texts) {
        EXPECT_EQ(DrawTextWithFont(4, y, text.c_str(), GetColorCode(255, 224, 192), font, GetColorCode(10, 32, 32),
                                   0),
                  0);
        y += s.size + 6;
      }
      FontHandleDelete(font);
    }
    const Picture p = Screenshot();
    int box[4];
    Bounds(p, box);
    EXPECT_GE(box[0], 4);
    EXPECT_LE(box[3], y + 4);
    hashes.push_back(Hash(p));
    if (const char* dump = std::getenv("RORUD_FONT_GOLDEN_DUMP")) {
      gtest_graphic::WriteFile(std::string(dump) + std::to_string(mode) + ".png", gtest_graphic::EncodePng(p, false));
    }
  }
  SetBlendModeParam(0, 255);
  // Reviewed as pictures when they were taken.
  const std::vector<uint64_t> expected = {0xfa4226bf9d650fe3ull, 0xd0612b55fcd361f2ull};
  EXPECT_EQ(hashes, expected);
}

}  // namespace
