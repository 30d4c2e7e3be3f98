// Items and small items: launch, fall, homing and the gauge.
#include <gtest/gtest.h>

#include "game/frame/game_error.h"
#include "game/frame/game_state.h"
#include "game/objects/dispatch.h"
#include "game/objects/items.h"
#include "game/objects/resources.h"
#include "tests/game/game_fixture.h"

namespace {

using gametest::GameTest;

void PlacePlayer(double x, double y) {
  g_player.x = x;
  g_player.y = y;
  g_player.body_radius = 2.0;
}

TEST_F(GameTest, ItemLaunchesSeventyFiveFramesThenFallsOut) {
  PlacePlayer(-500.0, -500.0);
  CreateItem(g_items[0], 1, 100.0, 400.0, 90.0);
  EXPECT_EQ(g_items[0].scale, 0.7);
  for (int f = 0; f < 74; ++f) UpdateItem(g_items[0]);
  EXPECT_EQ(g_items[0].state, 0u);
  UpdateItem(g_items[0]);
  EXPECT_EQ(g_items[0].state, 1u);
  int frames = 0;
  while (g_items[0].in_use != 0 && frames < 500) {
    UpdateItem(g_items[0]);
    ++frames;
  }
  EXPECT_EQ(g_items[0].in_use, 0);
  EXPECT_GT(frames, 0);
}

TEST_F(GameTest, ItemBadLevelRaises) {
  CreateItem(g_items[0], 3, 0.0, 0.0, 0.0);
  EXPECT_STREQ(g_error_text, "AT_EX_n lv");
}

}  // namespace
