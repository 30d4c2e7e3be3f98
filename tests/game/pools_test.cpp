// Pools, find-free, removal and the record and maths helpers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "game/frame/game_error.h"
#include "game/objects/dispatch.h"
#include "game/objects/game_object.h"
#include "tests/game/game_fixture.h"

namespace {

using gametest::GameTest;

void Take(GameObject& r) {
  r.free = 0;
  r.in_use = 1;
}

TEST_F(GameTest, FindFreeReturnsLowestFreeIndexAndLeavesRecord) {
  EXPECT_EQ(FindFreeEnemyBullet(), 0u);
  EXPECT_EQ(FindFreeEnemyBullet(), 0u);  // nothing was taken in between
  Take(g_enemy_bullets[0]);
  Take(g_enemy_bullets[1]);
  Take(g_enemy_bullets[3]);
  EXPECT_EQ(FindFreeEnemyBullet(), 2u);
  EXPECT_EQ(g_find_free_index, 2u);
  Take(g_enemy_bullets[2]);
  EXPECT_EQ(FindFreeEnemyBullet(), 4u);
}

TEST_F(GameTest, RemovedRecordIsFreedOnlyByTheDrawPass) {
  Take(g_enemies[0]);
  Take(g_enemies[1]);
  RemoveObject(g_enemies[0]);
  EXPECT_EQ(g_enemies[0].x, 300.0);
  EXPECT_EQ(g_enemies[0].visible, 0);
  EXPECT_EQ(FindFreeEnemy(), 2u);  // not yet free within this frame
  WalkDrawOrder([](GameObject&) {}, nullptr);
  EXPECT_EQ(FindFreeEnemy(), 0u);
}

TEST_F(GameTest, DrawPassNeverFreesMenuCursorPlayerOrPartner) {
  g_player.free = 0;
  g_partner.free = 0;
  g_cursor_pool[0].free = 0;
  g_menu_objects[0].free = 0;
  WalkDrawOrder([](GameObject&) {}, nullptr);
  EXPECT_EQ(g_player.free, 0);
  EXPECT_EQ(g_partner.free, 0);
  EXPECT_EQ(g_cursor_pool[0].free, 0);
  EXPECT_EQ(g_menu_objects[0].free, 0);
}

TEST_F(GameTest, FullPoolSkipsTheCreationAndKeepsPlaying) {
  for (GameObject& r : g_items) Take(r);
  g_items[0].x = 12.5;
  EXPECT_EQ(FindFreeItem(), kPoolFull);
  EXPECT_EQ(g_find_free_index, kPoolFull);
  EXPECT_STREQ(g_error_text, "_AT_F1");
  EXPECT_EQ(g_stop_flag, 0);
  EXPECT_EQ(g_items[0].x, 12.5);
  const struct {
    uint32_t (*find)();
    GameObject* records;
    size_t count;
    const char* tag;
  } pools[] = {
      {FindFreeEnemy, g_enemies, kEnemyPoolSize, "_EN_F1"},
      {FindFreeEnemyGroup, g_enemy_groups, kEnemyGroupPoolSize, "_EG_F1"},
      {FindFreePlayerObject, g_player_objects, kPlayerObjectPoolSize, "_MT_F1"},
      {FindFreeEnemyBullet, g_enemy_bullets, kEnemyBulletPoolSize, "_ET_F1"},
      {FindFreeEffect, g_effects, kEffectPoolSize, "_FC_F1"},
  };
  for (const auto& p : pools) {
    for (size_t i = 0; i < p.count; ++i) Take(p.records[i]);
    EXPECT_EQ(p.find(), kPoolFull) << p.tag;
    EXPECT_STREQ(g_error_text, p.tag);
    p.records[p.count - 1].free = 1;
    EXPECT_EQ(p.find(), p.count - 1) << p.tag;
  }
}

TEST_F(GameTest, ResetAllPoolsFreesEverythingAndKeepsOtherFields) {
  Take(g_effects[1999]);
  g_effects[1999].x = 7.0;
  g_effects[1999].anim_counter = 3;
  Take(g_player);
  g_player.anim_counter = 5;
  ResetAllPools();
  EXPECT_EQ(g_effects[1999].in_use, 0);
  EXPECT_EQ(g_effects[1999].free, 1);
  EXPECT_EQ(g_effects[1999].x, 7.0);
  EXPECT_EQ(g_player.in_use, 0);
  EXPECT_EQ(g_player.free, 1);
  // A stage starts every sprite cycle afresh, whatever ran before it.
  EXPECT_EQ(g_effects[1999].anim_counter, 0u);
  EXPECT_EQ(g_player.anim_counter, 0u);
}

TEST_F(GameTest, PlaceAndSetGraphicFillTheDrawFields) {
  GameObject r{};
  r.scale = 3.0;
  r.state = 5;
  PlaceObject(r, 320.0, 240.0, 14, 1, 0.0, 2);
  EXPECT_EQ(r.in_use, 1);
  EXPECT_EQ(r.free, 0);
  EXPECT_EQ(r.state, 0u);
  EXPECT_EQ(r.scale, 1.0);
  EXPECT_EQ(r.graphic_id, 14u);
  EXPECT_EQ(r.menu_draw_kind, 2u);
  EXPECT_EQ(r.visible, 1);
  EXPECT_EQ(r.transparency, 1);
  r.spin_step = 4.0;
  SetObjectGraphic(r, 1, 69, 0, 255.0);
  EXPECT_EQ(r.generic_draw, 1);
  EXPECT_EQ(r.spin_step, 0.0);
  EXPECT_EQ(r.blend_value, 255.0);
}

TEST(GameObjectHelpers, OutsidePlayfieldIsStrictOnEveryEdge) {
  GameObject r{};
  r.y = 240.0;
  r.x = -32.0;
  EXPECT_FALSE(IsOutsidePlayfield(r, -32.0));
  r.x = -32.5;
  EXPECT_TRUE(IsOutsidePlayfield(r, -32.0));
  r.x = 452.0;
  EXPECT_FALSE(IsOutsidePlayfield(r, -32.0));
  r.x = 452.5;
  EXPECT_TRUE(IsOutsidePlayfield(r, -32.0));
  r.x = 200.0;
  r.y = 512.0;
  EXPECT_FALSE(IsOutsidePlayfield(r, -32.0));
  r.y = 512.5;
  EXPECT_TRUE(IsOutsidePlayfield(r, -32.0));
  r.y = -64.0;
  EXPECT_FALSE(IsOutsidePlayfield(r, -64.0));
  EXPECT_TRUE(IsOutsidePlayfield(r, -32.0));
}

TEST(GameObjectHelpers, AngleToCardinalDirectionsAndDeadZone) {
  EXPECT_EQ(AngleTo(0, 0, 0.005, -0.005), 0.0);
  EXPECT_NEAR(AngleTo(0, 0, 0, 1), 90.0, 1e-9);
  EXPECT_NEAR(AngleTo(0, 0, -1, 0), 180.0, 1e-9);
  EXPECT_NEAR(AngleTo(0, 0, 0, -1), 270.0, 1e-9);
  EXPECT_EQ(AngleTo(5, 5, 6, 5), 0.0);
  // Just outside the dead zone on one axis only.
  EXPECT_NEAR(AngleTo(0, 0, 0.0, 0.01), 90.0, 1e-9);
  // The game's own pi: not exactly M_PI, so the result is its bits.
  const double t = std::atan2(-1.0, -1.0);
  EXPECT_EQ(AngleTo(0, 0, -1, -1), t * 180.0 / 3.14159265359 + 360.0);
}

TEST(GameObjectHelpers, HitCircleNeedsTheTrueDistance) {
  EXPECT_FALSE(HitCircle(0, 0, 2, 3, 3, 2));   // boxes pass, 4.24 > 4
  EXPECT_TRUE(HitCircle(0, 0, 2.5, 3, 3, 2.5));
  EXPECT_TRUE(HitCircle(0, 0, 2, 4, 0, 2));    // exactly touching
  EXPECT_FALSE(HitCircle(0, 0, 2, 4.0001, 0, 2));
}

TEST(GameObjectHelpers, CountersAndApproach) {
  int32_t c = 9;
  EXPECT_TRUE(StepCapped(c));
  EXPECT_EQ(c, 9);
  c = 8;
  EXPECT_FALSE(StepCapped(c));
  EXPECT_EQ(c, 9);
  c = 0;
  EXPECT_TRUE(StepFloored(c));
  EXPECT_EQ(c, 0);
  uint32_t u = 0;
  EXPECT_TRUE(StepFloored(u));
  EXPECT_EQ(u, 0u);
  u = 1;
  EXPECT_FALSE(StepFloored(u));
  EXPECT_EQ(u, 0u);
  double v = 90.0;
  EXPECT_FALSE(ApproachUp(v, 3.0, 96.0));
  EXPECT_TRUE(ApproachUp(v, 3.0, 96.0));
  EXPECT_EQ(v, 96.0);
  v = 36.0;
  EXPECT_TRUE(ApproachDown(v, -4.0, 32.0));
  EXPECT_EQ(v, 32.0);
}

TEST(GameObjectHelpers, PhaseStepsCountFirst) {
  uint32_t state = 0, timer = 0;
  EXPECT_TRUE(PhaseAfter(state, timer, 1));
  EXPECT_EQ(state, 1u);
  int calls = 0;
  while (!PhaseAfter(state, timer, 60)) ++calls;
  EXPECT_EQ(calls + 1, 60);
  EXPECT_EQ(state, 2u);
  EXPECT_FALSE(PhaseJumpOnFlag(state, timer, false, 7));
  EXPECT_EQ(timer, 1u);
  EXPECT_TRUE(PhaseJumpOnFlag(state, timer, true, 7));
  EXPECT_EQ(state, 7u);
  EXPECT_FALSE(PhaseJumpAfterFlag(state, timer, true, 2, 9));
  EXPECT_FALSE(PhaseJumpAfterFlag(state, timer, false, 2, 9));
  EXPECT_TRUE(PhaseJumpAfterFlag(state, timer, true, 2, 9));
  EXPECT_EQ(state, 9u);
  EXPECT_EQ(timer, 0u);
  EXPECT_TRUE(PhaseOnFlag(state, timer, true));
  EXPECT_EQ(state, 10u);
  EXPECT_FALSE(PhaseJumpAfter(state, timer, 2, 3));
  EXPECT_TRUE(PhaseJumpAfter(state, timer, 2, 3));
  EXPECT_EQ(state, 3u);
}

TEST(GameObjectHelpers, MoveWobbleAndSave) {
  MoveBlock b{10.0, 20.0, 0.0, 90.0, 2.0};
  MoveByAngle(b);
  EXPECT_EQ(b.x, 10.0 + std::cos(90.0 * 3.14159265359 / 180.0) * 2.0);
  EXPECT_EQ(b.y, 22.0);
  GameObject r{};
  r.parts[0].phase_step_a = 90.0;
  r.parts[0].amplitude_a = 5.0;
  r.parts[0].phase_step_b = 30.0;
  r.parts[0].amplitude_b = 2.0;
  WobbleStep(r);
  EXPECT_NEAR(r.parts[0].move.x, 5.0, 1e-9);
  EXPECT_NEAR(r.parts[0].move.y, 1.0, 1e-9);
  r.x = 3.0;
  r.y = 4.0;
  r.parts[1].move.x = 9.0;
  SavePosition(r);
  EXPECT_EQ(r.base.x, 3.0);
  EXPECT_EQ(r.base.y, 4.0);
  EXPECT_EQ(r.parts[0].move.x, 0.0);
  EXPECT_EQ(r.parts[1].move.x, 0.0);
  EXPECT_EQ(r.parts[0].phase_a, 0.0);
  r.attack.counters[3] = 5;
  r.attack.flags[2] = 1;
  r.attack.values[14] = 2.0;
  ClearValueList(r.attack);
  EXPECT_EQ(r.attack.counters[3], 0u);
  EXPECT_EQ(r.attack.flags[2], 0);
  EXPECT_EQ(r.attack.values[14], 0.0);
}

TEST(GameObjectHelpers, DrawPositionsRoundHalfAwayFromZero) {
  EXPECT_EQ(RoundHalfAway(-0.5), -1);
  EXPECT_EQ(RoundHalfAway(0.5), 1);
  EXPECT_EQ(RoundHalfAway(0.49), 0);
  EXPECT_EQ(RoundHalfAway(-0.49), 0);
  EXPECT_EQ(RoundHalfAway(-1439.5), -1440);
  EXPECT_EQ(RoundHalfAway(209.5), 210);
}

}  // namespace
