// Items and small items: launch, fall, homing and the gauge.
#include <gtest/gtest.h>

#include <vector>

#include "game/frame/game_error.h"
#include "game/frame/game_state.h"
#include "game/objects/dispatch.h"
#include "game/objects/items.h"
#include "game/objects/player.h"
#include "game/objects/resources.h"
#include "tests/game/game_fixture.h"

namespace {

using gametest::GameTest;

void PlacePlayer(double x, double y) {
  g_player.x = x;
  g_player.y = y;
  g_player.body_radius = 2.0;
}

TEST_F(GameTest, LargeItemCapsTheGaugeThenScores) {
  PlacePlayer(100.0, 100.0);
  g_player_status.power_gauge = 999.5;
  CreateItem(g_items[0], 2, 100.0, 100.0, 270.0);
  UpdateItem(g_items[0]);
  EXPECT_EQ(g_items[0].in_use, 0);
  EXPECT_EQ(g_player_status.power_gauge, 1000.0);
  EXPECT_EQ(g_game.score, 0u);
  EXPECT_EQ(g_sounds[0].request, 1);
  CreateItem(g_items[1], 1, 100.0, 100.0, 270.0);
  UpdateItem(g_items[1]);
  EXPECT_EQ(g_player_status.power_gauge, 1000.0);
  EXPECT_EQ(g_game.score, 1u);
}

TEST_F(GameTest, SmallItemAtFullGaugeScores) {
  PlacePlayer(100.0, 100.0);
  g_player_status.power_gauge = 1000.0;
  CreateSmallItem(g_items[0], 100.0, 100.0);
  UpdateSmallItem(g_items[0]);
  EXPECT_EQ(g_game.score, 1u);
  EXPECT_EQ(g_player_status.power_gauge, 1000.0);
  g_player_status.power_gauge = 10.0;
  CreateSmallItem(g_items[1], 100.0, 100.0);
  UpdateSmallItem(g_items[1]);
  EXPECT_EQ(g_player_status.power_gauge, 10.5);
}

TEST_F(GameTest, SmallItemAlwaysReachesThePlayer) {
  PlacePlayer(5.0, 470.0);
  g_game.talk.talk_mode = 1;  // pick-ups ignore the talk
  g_player_status.power_gauge = 0.0;
  CreateSmallItem(g_items[0], 415.0, 10.0);
  int frames = 0;
  while (g_items[0].in_use != 0 && frames < 200) {
    UpdateSmallItem(g_items[0]);
    ++frames;
  }
  EXPECT_EQ(g_items[0].in_use, 0);
  EXPECT_EQ(g_player_status.power_gauge, 0.5);
  EXPECT_GT(frames, 30);  // rose first
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

namespace {

TEST_F(GameTest, ItemPulsesBetweenThirtyAndTwoHundredFifty) {
  GameObject& it = g_items[0];
  CreateItem(it, 2, 100.0, 100.0, 270.0);
  EXPECT_EQ(it.blend_value, 128.0);
  std::vector<double> seen;
  for (int f = 0; f < 27; ++f) {
    DrawItem(it);
    seen.push_back(it.blend_value);
  }
  EXPECT_EQ(seen[0], 10.0);
  EXPECT_EQ(seen[24], 250.0);
  EXPECT_EQ(seen[25], 30.0);  // then a loop of 23 frames
  EXPECT_EQ(seen[26], 40.0);
  EXPECT_NEAR(it.kind_extra[0], 27 * 5.0 * kGamePi / 180.0, 1e-9);
}

}  // namespace
