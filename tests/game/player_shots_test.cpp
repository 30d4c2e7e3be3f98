// Player shots, partner shots, bombs, the bullet clearer and the cut-in.
#include <gtest/gtest.h>

#include "game/frame/game_error.h"
#include "game/objects/dispatch.h"
#include "game/objects/enemies.h"
#include "game/objects/enemy_bullets.h"
#include "game/objects/player_shots.h"
#include "game/objects/resources.h"
#include "tests/game/game_fixture.h"

namespace {

using gametest::GameTest;

GameObject& Enemy(size_t i, double x, double y, double life) {
  GameObject& e = g_enemies[i];
  CreateZakoB(e, 1, 0, 30, 200, x, y, 90.0, 0.0, 0.0);
  e.life = life;
  return e;
}

TEST_F(GameTest, ShotHitsOnlyTheFirstEnemyInPoolOrder) {
  GameObject& a = Enemy(3, 100.0, 100.0, 15.0);
  GameObject& b = Enemy(7, 100.0, 100.0, 15.0);
  GameObject& shot = g_player_objects[0];
  CreatePlayerShot(shot, 100.0, 110.0, 270.0, 0);
  UpdatePlayerShot(shot);
  EXPECT_EQ(a.life, 10.0);
  EXPECT_EQ(b.life, 15.0);
  EXPECT_EQ(shot.in_use, 0);
  EXPECT_EQ(g_sounds[26].request, 1);
  CreatePlayerShot(shot, 100.0, 110.0, 270.0, 1);
  a.life = 5.0;
  UpdatePlayerShot(shot);
  EXPECT_EQ(a.life, -5.0);
  EXPECT_EQ(a.killed, 1);
}

TEST_F(GameTest, ShotFliesThroughADeadEnemyAndLeaves) {
  GameObject& a = Enemy(0, 100.0, 100.0, 0.0);
  GameObject& shot = g_player_objects[0];
  CreatePlayerShot(shot, 100.0, 110.0, 270.0, 0);
  UpdatePlayerShot(shot);
  EXPECT_EQ(shot.in_use, 1);
  EXPECT_EQ(shot.y, 95.0);
  EXPECT_EQ(a.killed, 0);
  for (int f = 0; f < 9; ++f) UpdatePlayerShot(shot);
  EXPECT_EQ(shot.in_use, 0);  // above y -32
}

TEST_F(GameTest, PartnerShotWithoutEnemiesSwingsAroundUp) {
  GameObject& s = g_player_objects[0];
  CreatePartnerShot(s, 200.0, 470.0, 270.0);
  for (int f = 0; f < 10; ++f) UpdatePartnerShot(s);
  EXPECT_EQ(s.kind_values[kHeading], 270.0);
  for (int f = 0; f < 3 && s.in_use; ++f) {
    UpdatePartnerShot(s);
    EXPECT_GE(s.kind_values[kHeading], 270.0);
    EXPECT_LE(s.kind_values[kHeading], 272.5);
  }
}

TEST_F(GameTest, BombDamagesEveryHittableEnemyNineTimes) {
  GameObject& far = Enemy(0, 10.0, 10.0, 1000.0);
  GameObject& dead = Enemy(1, 400.0, 400.0, 0.0);
  GameObject& off = Enemy(2, 200.0, 200.0, 1000.0);
  off.can_be_hit = 0;
  GameObject& bomb = g_player_objects[0];
  CreateBomb(bomb, 210.0, 400.0);
  int frames = 0;
  while (bomb.in_use != 0 && frames < 500) {
    UpdateBomb(bomb);
    ++frames;
  }
  EXPECT_EQ(frames, 180);
  EXPECT_EQ(far.life, 1000.0 - 45.0);
  EXPECT_EQ(dead.life, -45.0);  // even an enemy already at 0
  EXPECT_EQ(off.life, 1000.0);
}

TEST_F(GameTest, BombClearsBulletsInsideItsRadiusFromItsSecondFrame) {
  GameObject& bomb = g_player_objects[0];
  CreateBomb(bomb, 200.0, 300.0);
  GameObject& near = g_enemy_bullets[0];
  CreateEnemyBullet72(near, 1, 1, 200.0, 270.0, 90.0, 0.0);  // 30 away (+10 body)
  GameObject& outside = g_enemy_bullets[1];
  CreateEnemyBullet72(outside, 1, 1, 200.0, 0.0, 90.0, 0.0);
  UpdateBomb(bomb);
  EXPECT_EQ(near.killed, 0);
  UpdateBomb(bomb);  // radius 18 + body 10 reaches 28; the bomb rose a little
  EXPECT_EQ(bomb.own_radius, 18.0);
  EXPECT_EQ(near.killed, 1);
  EXPECT_EQ(outside.killed, 0);
}

TEST_F(GameTest, FocusBombCancelsEveryBulletEighteenTimes) {
  GameObject& bomb = g_player_objects[0];
  CreateFocusBomb(bomb, 210.0, 400.0);
  int cancels = 0;
  int frames = 0;
  while (bomb.in_use != 0 && frames < 500) {
    GameObject& b = g_enemy_bullets[0];
    CreateEnemyBullet72(b, 1, 1, 5.0, 5.0, 90.0, 0.0);
    UpdateFocusBomb(bomb);
    cancels += b.killed;
    ++frames;
  }
  EXPECT_EQ(frames, 360);
  EXPECT_EQ(cancels, 18);
}

TEST_F(GameTest, BulletClearerReachAndLifetime) {
  GameObject& c = g_player_objects[0];
  CreateBulletClearer(c, 2, 210.0, 100.0);
  GameObject& b = g_enemy_bullets[0];
  CreateEnemyBullet72(b, 1, 1, 210.0, 159.0, 90.0, 0.0);  // 59 + 10 < 70
  UpdateBulletClearer(c);
  EXPECT_EQ(c.own_radius, 70.0);
  EXPECT_EQ(b.killed, 1);
  int frames = 1;
  while (c.in_use != 0 && frames < 200) {
    UpdateBulletClearer(c);
    ++frames;
  }
  EXPECT_EQ(frames, 69);
  CreateBulletClearer(g_player_objects[1], 5, 0.0, 0.0);
  EXPECT_STREQ(g_error_text, "MT_DEL_ET_n");
}

TEST_F(GameTest, CutInLastsItsVariantsFrames) {
  for (uint32_t variant : {1u, 2u}) {
    GameObject& c = g_effects[0];
    CreateBombCutIn(c, variant);
    int updates = 0;
    while (c.in_use != 0 && updates < 500) {
      UpdateBombCutIn(c);
      ++updates;
    }
    EXPECT_EQ(updates, variant == 1 ? 121 : 151);
  }
}

}  // namespace
