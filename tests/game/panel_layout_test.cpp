// Panel geometry: the fade box, the boss bar, the music caption and the
// bonus line.
#include <gtest/gtest.h>

#include "game/objects/panel.h"
#include "tests/game/game_fixture.h"

namespace {

TEST(PanelLayout, FadeBox) {
  EXPECT_EQ(FadeBoxAlpha(253.5), 1);
  EXPECT_EQ(FadeBoxAlpha(254.0), -1);
  EXPECT_EQ(FadeBoxAlpha(255.0), -1);
  EXPECT_EQ(FadeBoxAlpha(0.0), 255);
  EXPECT_EQ(FadeBoxAlpha(5.5), 249);  // truncated
}

TEST(PanelLayout, BossBar) {
  BossGauge g{};
  g.phase = 4;
  g.life_per_phase[4] = 1000.0;
  g.shown_life = 500.0;
  g.bar_fill = 100.0;
  EXPECT_EQ(BossBarRow(4), 518);
  EXPECT_EQ(BossBarLength(g), 193);  // 192.5 rounds up: x 20 to 213
  g.shown_life = 1000.0;
  EXPECT_EQ(BossBarLength(g), 385);
  g.bar_fill = 0.0;
  EXPECT_EQ(BossBarLength(g), 0);
  const int rows[10] = {-1, 515, 516, 517, 518, 519, 520, 521, 522, 515};
  for (uint32_t p = 0; p < 10; ++p) EXPECT_EQ(BossBarRow(p), rows[p]) << p;
  EXPECT_EQ(BossBarRow(10), -1);
  EXPECT_EQ(BossBarRow(11), -1);
  // A phase whose life was never set shows no bar instead of a wild length.
  g.phase = 6;
  g.bar_fill = 100.0;
  EXPECT_EQ(BossBarLength(g), 0);
  g.phase = 200;
  EXPECT_EQ(BossBarLength(g), 0);
}

TEST(PanelLayout, MusicCaptionRunsFor222Draws) {
  MusicCaption c{};
  c.on = 1;
  c.y = 460.0;
  c.text = "abcdefghijklmnopqrst";
  EXPECT_EQ(MusicCaptionX(c.text), 250);
  int draws = 0;
  while (c.on == 1 && draws < 1000) {
    ++draws;
    if (draws <= 182) { EXPECT_EQ(c.y, 460.0) << draws; }
    if (draws == 183) { EXPECT_EQ(c.y, 460.5); }
    if (draws == 222) { EXPECT_EQ(c.y, 480.0); }
    AdvanceMusicCaption(c);
  }
  EXPECT_EQ(draws, 222);
  // Double-byte characters count two bytes each.
  EXPECT_EQ(MusicCaptionX("\x89\xb9\x8a\x79"), 410 - 32);
  EXPECT_EQ(MusicCaptionX(nullptr), 410);
}

TEST(PanelLayout, BonusSeconds) {
  EXPECT_EQ(BonusSeconds(5999), 99u);
  EXPECT_EQ(BonusSeconds(59), 0u);
  EXPECT_EQ(BonusSeconds(60), 1u);
}

}  // namespace
