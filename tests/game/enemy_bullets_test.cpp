// Enemy bullets: motion, cancel and fade, graze and hits.
#include <gtest/gtest.h>

#include <cmath>

#include "game/frame/game_error.h"
#include "game/frame/game_state.h"
#include "game/objects/dispatch.h"
#include "game/objects/enemy_bullets.h"
#include "game/objects/player.h"
#include "game/objects/resources.h"
#include "tests/game/game_fixture.h"

namespace {

using gametest::GameTest;

void PlacePlayer(double x, double y) {
  g_player.x = x;
  g_player.y = y;
  g_player.body_radius = 2.0;
  g_player.invulnerable = 0;
}

TEST_F(GameTest, Bullet72FirstFifteenFramesRunFaster) {
  PlacePlayer(400.0, 470.0);
  GameObject& b = g_enemy_bullets[0];
  CreateEnemyBullet72(b, 2, 1, 100.0, 100.0, 90.0, 2.0);
  const double vy = std::sin(90.0 * kGamePi / 180.0) * 2.0;
  double y = 100.0;
  double factor = 2.0;
  for (int f = 0; f < 15; ++f) {
    UpdateEnemyBullet72(b);
    y += vy * factor;  // 2.0, 1.95, ..., 1.30
    factor -= 0.05;
    EXPECT_DOUBLE_EQ(b.y, y) << f;
  }
  EXPECT_EQ(b.state, 1u);
  EXPECT_EQ(b.scale, 1.0);
  EXPECT_EQ(b.blend_value, 255.0);
  UpdateEnemyBullet72(b);
  EXPECT_DOUBLE_EQ(b.y, y + vy);
}

TEST_F(GameTest, CancelledBulletFadesOverFortyFrames) {
  PlacePlayer(400.0, 470.0);
  GameObject& b = g_enemy_bullets[3];
  CreateEnemyBullet72(b, 2, 1, 100.0, 100.0, 90.0, 2.0);
  CancelEnemyBullets();
  UpdateEnemyBullet72(b);
  EXPECT_EQ(b.blend_value, 120.0);
  EXPECT_EQ(b.blend_mode, 3u);
  EXPECT_EQ(b.can_hit, 0);
  const double y = b.y;
  int frames = 0;
  while (b.in_use != 0 && frames < 100) {
    UpdateEnemyBullet72(b);
    ++frames;
  }
  EXPECT_EQ(frames, 40);  // 117, ..., 3, then below 2
  EXPECT_EQ(y, 100.0);    // a cancelled bullet stands still
  // Cancelled once: the cancel does not reach it again.
  EXPECT_EQ(b.killed, 0);
}

TEST_F(GameTest, OneGrazeGivesOneSmallItem) {
  PlacePlayer(200.0, 300.0);
  GameObject& b = g_enemy_bullets[0];
  // Passes 20 pixels to the side: outside the hit, inside the graze ring.
  CreateEnemyBullet60(b, 2, 220.0, 250.0, 90.0, 3.0);
  for (int f = 0; f < 40; ++f) UpdateEnemyBullet60(b);
  int small = 0;
  for (const GameObject& it : g_items) small += it.in_use && it.kind == kKindSmallItem;
  EXPECT_EQ(small, 1);
  EXPECT_EQ(g_sounds[3].request, 1);
}

TEST_F(GameTest, NoGrazeInTalkModeOrWhileInvulnerable) {
  PlacePlayer(200.0, 300.0);
  g_game.talk.talk_mode = 1;
  GameObject& b = g_enemy_bullets[0];
  CreateEnemyBullet72(b, 2, 1, 200.0, 300.0, 90.0, 0.5);
  UpdateEnemyBullet72(b);
  EXPECT_EQ(b.grazeable, 1);
  EXPECT_GT(b.y, 300.0);  // still moving
  g_game.talk.talk_mode = 0;
  g_player.invulnerable = 1;
  UpdateEnemyBullet72(b);
  EXPECT_EQ(b.grazeable, 1);
}

TEST_F(GameTest, ClassFourBulletGrazesInsteadOfStopping) {
  PlacePlayer(200.0, 300.0);
  GameObject& b = g_enemy_bullets[0];
  CreateEnemyBullet72(b, 4, 1, 200.0, 320.0, 90.0, 0.0);
  EXPECT_EQ(b.graphic_id, 248u);
  UpdateEnemyBullet72(b);
  EXPECT_EQ(g_stop_flag, 0);
  EXPECT_EQ(b.grazeable, 0);
}

TEST_F(GameTest, ClassTwoHitCostsLifeAndPower) {
  PlacePlayer(200.0, 300.0);
  g_player_status.life = 100.0;
  g_player_status.shot_power = 450.0;
  GameObject& b = g_enemy_bullets[0];
  CreateEnemyBullet72(b, 2, 1, 200.0, 296.0, 90.0, 0.5);
  UpdateEnemyBullet72(b);
  EXPECT_EQ(g_player_status.life, 75.0);
  EXPECT_EQ(g_player_status.shot_power, 390.0);
  EXPECT_EQ(g_player_status.hit_invulnerable_timer, 40u);
  EXPECT_EQ(g_player_status.weak_shot_timer, 60u);
  EXPECT_EQ(b.killed, 1);
  EXPECT_EQ(g_sounds[9].request, 1);
  EXPECT_EQ(g_sounds[3].request, 1);  // grazed first, in the same frame
}

TEST_F(GameTest, ClassFourBulletHitsLikeALargeBullet) {
  PlacePlayer(200.0, 300.0);
  g_player_status.life = 100.0;
  GameObject& b = g_enemy_bullets[0];
  CreateEnemyBullet72(b, 4, 1, 200.0, 300.0, 90.0, 0.0);
  EXPECT_EQ(b.graphic_id, 248u);
  UpdateEnemyBullet72(b);
  EXPECT_EQ(g_stop_flag, 0);
  EXPECT_EQ(g_player_status.life, 50.0);
  EXPECT_EQ(b.grazeable, 0);
}

TEST_F(GameTest, NoHitInTalkModeOrWhileInvulnerable) {
  PlacePlayer(200.0, 300.0);
  g_player_status.life = 100.0;
  g_game.talk.talk_mode = 1;
  GameObject& b = g_enemy_bullets[0];
  CreateEnemyBullet72(b, 2, 1, 200.0, 300.0, 90.0, 0.0);
  UpdateEnemyBullet72(b);
  EXPECT_EQ(g_player_status.life, 100.0);
  g_game.talk.talk_mode = 0;
  g_player.invulnerable = 1;
  UpdateEnemyBullet72(b);
  EXPECT_EQ(g_player_status.life, 100.0);
  EXPECT_EQ(b.killed, 0);
  g_player.invulnerable = 0;
  UpdateEnemyBullet72(b);
  EXPECT_EQ(g_player_status.life, 75.0);
}

TEST_F(GameTest, HitFloorsLifeAndPowerAtZero) {
  PlacePlayer(200.0, 300.0);
  g_player_status.life = 10.0;
  g_player_status.shot_power = 30.0;
  CreateEnemyBullet72(g_enemy_bullets[0], 3, 1, 200.0, 300.0, 90.0, 0.0);
  UpdateEnemyBullet72(g_enemy_bullets[0]);
  EXPECT_EQ(g_player_status.life, 0.0);
  EXPECT_EQ(g_player_status.shot_power, 0.0);
  EXPECT_EQ(g_player_status.weak_shot_timer, 80u);
}

TEST_F(GameTest, Bullet75WithWrongSignStepTakesItsTarget) {
  PlacePlayer(400.0, 470.0);
  GameObject& b = g_enemy_bullets[0];
  CreateEnemyBullet75(b, 100.0, 100.0, 90.0, 3.0, 0.1, 0.0, 1.0);
  UpdateEnemyBullet75(b);
  EXPECT_EQ(b.base.speed, 1.0);
  GameObject& c = g_enemy_bullets[1];
  CreateEnemyBullet75(c, 100.0, 100.0, 90.0, 3.0, 0.0, 1.0, 5.0);
  UpdateEnemyBullet75(c);
  EXPECT_EQ(c.base.speed, 3.0);
  EXPECT_EQ(c.base.angle, 91.0);
}

TEST_F(GameTest, Bullet74TurnsOnceWithItsSound) {
  PlacePlayer(400.0, 470.0);
  GameObject& b = g_enemy_bullets[0];
  CreateEnemyBullet74(b, 1, 10, 3, 200.0, 200.0, 90.0, 1.0, -0.3, 0.0, 0.1, 2.0);
  for (int f = 0; f < 9; ++f) UpdateEnemyBullet74(b);
  EXPECT_EQ(g_sounds[17].request, 0);
  EXPECT_LT(b.y, 200.0);  // moved backwards
  UpdateEnemyBullet74(b);
  EXPECT_EQ(g_sounds[17].request, 1);
  EXPECT_EQ(b.base.angle, 0.0);
  EXPECT_EQ(b.base.speed, 0.0);
}

TEST_F(GameTest, BulletBadSizeClassAndColourRaise) {
  CreateEnemyBullet72(g_enemy_bullets[0], 5, 1, 0.0, 0.0, 0.0, 0.0);
  EXPECT_STREQ(g_error_text, "ET_NX_common_n");
  CreateEnemyBullet72(g_enemy_bullets[1], 3, 9, 0.0, 0.0, 0.0, 0.0);
  EXPECT_STREQ(g_error_text, "ET_NX_common_n3");
  CreateEnemyBullet60(g_enemy_bullets[2], 0, 0.0, 0.0, 0.0, 0.0);
  EXPECT_STREQ(g_error_text, "ET_COM_GEN2");
}

}  // namespace
