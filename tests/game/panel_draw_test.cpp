// Errors of the panel and overlay draws, and the music caption advancing
// only where the panel is drawn.
#include <gtest/gtest.h>

#include "game/frame/game_error.h"
#include "game/frame/game_state.h"
#include "game/objects/panel.h"
#include "tests/game/game_fixture.h"

namespace {

using gametest::GameTest;

TEST_F(GameTest, MenuObjectOfUnknownDrawKindStops) {
  GameObject r{};
  PlaceObject(r, 0.0, 0.0, 524, 0, 255.0, 3);
  DrawMenuObject(r);
  EXPECT_STREQ(g_error_text, "act_draw_mn");
  g_stop_flag = 0;
  g_error_text[0] = '\0';
  r.in_use = 0;  // not in use: nothing is looked at
  DrawMenuObject(r);
  EXPECT_EQ(g_stop_flag, 0);
}

TEST_F(GameTest, OverlayOfUnknownModeStops) {
  g_game.overlay_mode = 13;
  DrawOverlay();
  EXPECT_STREQ(g_error_text, "L2_draw_oth");
}

TEST_F(GameTest, BossBarPhaseWithoutPictureStopsAndPhase10DrawsNothing) {
  g_game.boss_gauge.active = 1;
  g_game.boss_gauge.phase = 10;
  DrawHud();
  EXPECT_EQ(g_stop_flag, 0);
  g_game.boss_gauge.phase = 11;
  DrawHud();
  EXPECT_STREQ(g_error_text, "L2_draw_skn");
}

TEST_F(GameTest, MusicCaptionMovesWithThePanelEvenWhilePaused) {
  StartMusicCaption(g_game, "caption");
  g_game.pause = 1;
  // Drawn at 460 182 times; it sinks after the 182nd draw.
  for (int i = 0; i < 181; ++i) DrawHud();
  EXPECT_EQ(g_game.music_caption.y, 460.0);
  EXPECT_EQ(g_game.music_caption.counter, 181u);
  DrawHud();
  EXPECT_EQ(g_game.music_caption.y, 460.5);
}

}  // namespace
