// Background layers: start positions, scroll and wrap; the menu cursor kind.
#include <gtest/gtest.h>

#include "game/frame/game_error.h"
#include "game/frame/game_state.h"
#include "game/frame/input.h"
#include "game/objects/backgrounds.h"
#include "game/objects/dispatch.h"
#include "tests/game/game_fixture.h"

namespace {

using gametest::GameTest;

TEST_F(GameTest, LayersStartStackedEdgeToEdge) {
  CreateBackgroundBase(g_backgrounds[0], 1);
  CreateBackgroundBase(g_backgrounds[1], 2);
  CreateBackgroundSub(g_backgrounds[2], 1);
  CreateBackgroundSub(g_backgrounds[3], 2);
  EXPECT_EQ(g_backgrounds[0].y, -480.0);
  EXPECT_EQ(g_backgrounds[1].y, -1440.0);
  EXPECT_EQ(g_backgrounds[2].y, 0.0);
  EXPECT_EQ(g_backgrounds[3].y, -480.0);
  EXPECT_EQ(g_backgrounds[0].graphic_id, 480u);
  EXPECT_EQ(g_backgrounds[2].graphic_id, 495u);
  EXPECT_EQ(g_backgrounds[2].blend_mode, 1u);
  EXPECT_EQ(g_backgrounds[2].blend_value, 128.0);
  EXPECT_EQ(g_backgrounds[0].blend_value, 255.0);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(g_backgrounds[i].visible, 1) << i;
    EXPECT_EQ(g_backgrounds[i].generic_draw, 0) << i;
  }
  EXPECT_EQ(g_stop_flag, 0);
}

TEST_F(GameTest, BaseLayerWrapsOnlyAbove480) {
  CreateBackgroundBase(g_backgrounds[0], 1);
  g_game.scroll_speed = 1.0;
  g_backgrounds[0].y = 479.0;
  UpdateObjects();
  EXPECT_EQ(g_backgrounds[0].y, 480.0);  // 480 stays
  UpdateObjects();
  EXPECT_EQ(g_backgrounds[0].y, -1439.0);
  g_backgrounds[0].y = 479.5;
  UpdateObjects();
  EXPECT_EQ(g_backgrounds[0].y, -1439.5);  // 480.5 wraps
}

TEST_F(GameTest, ParallaxLayerMovesAtItsFactorAndWraps) {
  GameObject r{};
  CreateBackgroundSub(r, 1);
  g_game.scroll_speed = 1.0;
  UpdateBackgroundSub(r);
  EXPECT_EQ(r.y, 0.77);
  r.y = 480.5 - 0.77;
  UpdateBackgroundSub(r);
  EXPECT_DOUBLE_EQ(r.y, -479.5);
  // Layer numbers beyond the two that stages make keep their own factors.
  r.sub_type = 3;
  r.y = 0.0;
  UpdateBackgroundSub(r);
  EXPECT_EQ(r.y, 0.55);
  r.sub_type = 7;
  r.y = 480.0;
  UpdateBackgroundSub(r);
  EXPECT_DOUBLE_EQ(r.y, 481.22 - 1920.0);
  g_game.scroll_speed = 0.0;
  r.y = 10.0;
  UpdateBackgroundSub(r);
  EXPECT_EQ(r.y, 10.0);
}

TEST_F(GameTest, BadLayerNumbersStop) {
  GameObject base{};
  base.y = 77.0;
  CreateBackgroundBase(base, 3);
  EXPECT_STREQ(g_error_text, "BG_BASE_n");
  EXPECT_EQ(base.y, 77.0);
  g_stop_flag = 0;
  GameObject sub{};
  CreateBackgroundSub(sub, 0);
  EXPECT_STREQ(g_error_text, "BG_SUB_n2");
  EXPECT_EQ(sub.in_use, 1);
  EXPECT_EQ(sub.visible, 0);
}

TEST_F(GameTest, MenuCursorWrapsAndRestarts) {
  GameObject r{};
  r.sub_type = 1;
  r.kind_counters[kCursorEntry] = 1;
  g_input.pressed_directions = kDirUp;
  UpdateSelectObject(r);
  EXPECT_EQ(r.kind_counters[kCursorEntry], 3u);
  g_input.pressed_directions = kDirDown;
  UpdateSelectObject(r);
  EXPECT_EQ(r.kind_counters[kCursorEntry], 1u);
  g_input.pressed_directions = 0;
  g_game.levels[kLevelScene] = 4;
  g_game.levels[kLevelPhase] = 5;
  g_game.level_counters[kLevelPhase] = 9;
  g_input.pressed_actions = kActionShot;
  UpdateSelectObject(r);
  EXPECT_EQ(g_game.levels[kLevelScene], 4u);
  EXPECT_EQ(g_game.levels[kLevelPhase], 0u);
  EXPECT_EQ(g_game.level_counters[kLevelPhase], 0u);
  r.kind_counters[kCursorEntry] = 3;
  UpdateSelectObject(r);
  EXPECT_EQ(g_game.levels[kLevelScene], 0u);
  r.sub_type = 4;
  UpdateSelectObject(r);
  EXPECT_STREQ(g_error_text, "SP_SEL_m");
}

}  // namespace
