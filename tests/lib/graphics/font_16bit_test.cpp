// Text through the texture glyph caches on a 16-bit screen: the same strings
// drawn on a 32-bit screen, cut to the 16-bit colour layout, are the
// reference (exact for the one-level types, close for the anti-aliased ones,
// whose cache holds four bits of alpha on a 16-bit screen).
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "lib/graphics/font.h"
#include "tests/lib/graphics/graphic_support.h"
#include "tests/support/sjis.h"

namespace {

using gtest_graphic::GraphicTest;
using gtest_graphic::Picture;

// 0xRRGGBB through the 5-6-5 layout and back, as the device widens it.
uint32_t Through565(uint32_t c) {
  uint32_t r = (c >> 19) & 31, g = (c >> 10) & 63, b = (c >> 3) & 31;
  return 0xFF000000u | (((r << 3) | (r >> 2)) << 16) | (((g << 2) | (g >> 4)) << 8) | ((b << 3) | (b >> 2));
}

int Channel(uint32_t c, int i) { return int((c >> (8 * i)) & 255); }

class Font16 : public GraphicTest {
 protected:
  struct Shot {
    Picture picture;
    int type, mode;
  };
  // Every font type under blend modes 0 and 1, one picture each.
  std::vector<Shot> DrawAll() {
    std::vector<Shot> out;
    const std::string texts[] = {"SCORE 0123456789", testsupport::Sjis("ハイスコアは、 0012345 点 です！！！")};
    for (int type = 0; type < 4; type++) {
      const int font = CreateFontToHandle(testsupport::Sjis("ＭＳ ゴシック").c_str(), 20, 5, type, -1, -1, 0, -1, -1);
      EXPECT_NE(font, -1);
      EXPECT_EQ(FontHandleToRecord(font)->texture_cache, 1);
      for (int mode = 0; mode < 2; mode++) {
        ClearDrawTarget(nullptr);
        SetBlendModeParam(mode, 255);
        int y = 8;
        for (const std::string& text : texts) {
          EXPECT_EQ(DrawTextWithFont(6, y, text.c_str(), GetColorCode(255, 224, 96), font, GetColorCode(16, 64, 200), 0),
                    0);
          y += 30;
        }
        SetBlendModeParam(0, 0);
        out.push_back({Screenshot(), type, mode});
      }
      FontHandleDelete(font);
    }
    return out;
  }
};

TEST_F(Font16, TextOnA16BitScreenMatchesThe32BitTextCut) {
  std::vector<Shot> wide = DrawAll();
  // The same on a 16-bit desktop and screen.
  ShutdownGraphicsSystem();
  ResetGraphicsDeviceForTest();
  plat::VirtualDesktop desktop;
  desktop.bits = 16;
  plat::HeadlessReset(desktop);
  ChangeWindowMode(1);
  ASSERT_EQ(ConfigureScreenMode(640, 480, 16, 60), 0);
  ASSERT_EQ(GraphicsSystemStart(), 0);
  ASSERT_EQ(GetScreenColorBits(), 16);
  ASSERT_EQ(GraphicsDevice().back_buffer_format, plat::D3DFMT_R5G6B5);
  ASSERT_EQ(SetDrawTarget(-2), 0);
  std::vector<Shot> narrow = DrawAll();
  ASSERT_EQ(wide.size(), narrow.size());
  for (size_t i = 0; i < wide.size(); i++) {
    SCOPED_TRACE(testing::Message() << "type " << wide[i].type << " mode " << wide[i].mode);
    const Picture& a = wide[i].picture;
    const Picture& b = narrow[i].picture;
    bool antialiased = (wide[i].type & 2) != 0;
    int drawn = 0, worst = 0, coverage_differs = 0;
    for (int y = 0; y < 80; y++)
      for (int x = 0; x < 640; x++) {
        uint32_t want = Through565(a.at(x, y)), got = b.at(x, y) | 0xFF000000u;
        bool want_ink = (want & 0xFFFFFF) != 0, got_ink = (got & 0xFFFFFF) != 0;
        drawn += want_ink;
        if (!antialiased) {
          if (got != want && worst++ < 3) ADD_FAILURE() << x << "," << y << std::hex << " " << got << " " << want;
          continue;
        }
        coverage_differs += want_ink != got_ink;
        for (int c = 0; c < 3; c++) worst = std::max(worst, std::abs(Channel(got, c) - Channel(want, c)));
      }
    EXPECT_GT(drawn, 500);
    if (antialiased) {
      // Four bits of alpha: a level is at most 1/15 of the way off, and only
      // the faintest fringe may vanish.
      EXPECT_LE(worst, 24);
      EXPECT_LE(coverage_differs, drawn / 20);
    } else {
      EXPECT_EQ(worst, 0);
    }
  }
}

}  // namespace
