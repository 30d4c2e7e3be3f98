// Small and medium enemies: motion, firing, death and drops.
#include <gtest/gtest.h>

#include <cmath>

#include "game/frame/game_error.h"
#include "game/frame/game_state.h"
#include "game/objects/dispatch.h"
#include "game/objects/enemies.h"
#include "game/objects/enemy_fire.h"
#include "game/objects/resources.h"
#include "lib/core/random.h"
#include "rorud/rorud.h"
#include "tests/game/game_fixture.h"

namespace {

using gametest::GameTest;

int Live(const GameObject* pool, size_t n, uint32_t kind) {
  int count = 0;
  for (size_t i = 0; i < n; ++i) count += pool[i].in_use != 0 && pool[i].kind == kind;
  return count;
}

// Draws taken from the library generator since `Mark`.
int32_t g_mark = 0;
void Mark() {
  SeedRandom(1234);
  GetRandomRange(1);
  g_mark = GetLibraryRandomState()->index;
}
int32_t DrawsSinceMark() { return GetLibraryRandomState()->index - g_mark; }

void PlacePlayer(double x, double y) {
  g_player.x = x;
  g_player.y = y;
  g_player.body_radius = 2.0;
}

TEST_F(GameTest, ZakoASubTypeZeroFiresThreeSingleBulletsInItsWindows) {
  PlacePlayer(210.0, 2000.0);  // far below: no item or bullet reaches it
  SeedRandom(77);
  GameObject& e = g_enemies[0];
  CreateZakoA(e, 1, 0, 1, 200.0, -32.0, 0.0, 2.3, 60.0);
  EXPECT_EQ(e.fire_pattern, 1u);
  std::vector<uint32_t> fire_frames;
  for (uint32_t f = 0; f < 400; ++f) {
    const int before = Live(g_enemy_bullets, kEnemyBulletPoolSize, kKindEnemyBullet60);
    UpdateZakoA(e);
    if (e.in_use == 0) break;
    const int after = Live(g_enemy_bullets, kEnemyBulletPoolSize, kKindEnemyBullet60);
    if (after > before) {
      EXPECT_EQ(after - before, 1);
      fire_frames.push_back(f);
      EXPECT_EQ(g_sounds[19].request, 1);
      g_sounds[19].request = 0;
    }
  }
  ASSERT_EQ(fire_frames.size(), 3u);
  EXPECT_GE(fire_frames[0], 10u);
  EXPECT_LE(fire_frames[0], 40u);
  EXPECT_GE(fire_frames[1], 150u);
  EXPECT_LE(fire_frames[1], 180u);
  EXPECT_GE(fire_frames[2], 300u);
  EXPECT_LE(fire_frames[2], 330u);
}

TEST_F(GameTest, ZakoAFiresFromLastFramesPositionAndDrifts) {
  GameObject& e = g_enemies[0];
  CreateZakoA(e, 2, 0, 1, 200.0, -32.0, 0.0, 2.3, 60.0);
  e.attack.counters[kFramesSinceSpawn] = 1;  // past the draw of its fire times
  e.attack.counters[kFireTime0] = 1;
  const double x0 = e.x, y0 = e.y;
  UpdateZakoA(e);
  ASSERT_EQ(g_enemy_bullets[0].in_use, 1);
  EXPECT_EQ(g_enemy_bullets[0].x, x0);
  EXPECT_EQ(g_enemy_bullets[0].y, y0);
  // Wobble, sway and descent, from the recorded start point.
  const double k = kGamePi / 180.0;
  EXPECT_DOUBLE_EQ(e.x, 5.0 * std::cos(1.9 * k) + 200.0 + 60.0 * std::cos(2.3 * k));
  EXPECT_DOUBLE_EQ(e.y, 5.0 * std::sin(3.1 * k) - 32.0 + 0.77);
}

TEST_F(GameTest, ZakoAIsNotRemovedBelowTheFieldInItsFirst31Frames) {
  GameObject& e = g_enemies[0];
  CreateZakoA(e, 1, 0, 1, 200.0, 600.0, 0.0, 2.3, 60.0);
  for (int f = 0; f < 31; ++f) {
    UpdateZakoA(e);
    ASSERT_EQ(e.in_use, 1) << f;
  }
  UpdateZakoA(e);
  EXPECT_EQ(e.in_use, 0);
  EXPECT_EQ(g_game.score, 0u);  // leaving gives nothing
}

TEST_F(GameTest, MediumKillGivesSixItemsOneScoreAndSeventeenDraws) {
  GameObject& e = g_enemies[4];
  CreateMidZakoA(e, 1, 1, 520, 118.0, 100.0, 90.0, 1.9, -0.03);
  e.killed = 1;
  g_game.score = 10;
  Mark();
  UpdateMidZako(e);
  EXPECT_EQ(DrawsSinceMark(), 17);
  EXPECT_EQ(g_game.score, 11u);
  EXPECT_EQ(Live(g_items, kItemPoolSize, kKindItem), 6);
  const double fixed[4] = {320.0, 295.0, 220.0, 245.0};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(g_items[i].base.angle, fixed[i]);
  for (int i = 4; i < 6; ++i) {
    EXPECT_GE(g_items[i].base.angle, 250.0);
    EXPECT_LE(g_items[i].base.angle, 290.0);
    EXPECT_EQ(g_items[i].level, 2u);
  }
  EXPECT_EQ(g_sounds[23].request, 1);
  EXPECT_EQ(e.state, kDyingState);
  EXPECT_EQ(e.blend_value, 125.0);
  EXPECT_EQ(e.can_be_hit, 0);
}

TEST_F(GameTest, DyingEnemyIsRemovedOnItsFortyThirdUpdate) {
  GameObject& e = g_enemies[0];
  CreateZakoB(e, 3, 0, 30, 200, 100.0, 100.0, 90.0, 1.7, -0.5);
  e.killed = 1;
  for (int update = 1; update <= 42; ++update) {
    UpdateZakoB(e);
    ASSERT_EQ(e.in_use, 1) << update;
    EXPECT_EQ(e.x, 100.0);  // a dying enemy stays where it died
  }
  EXPECT_EQ(e.blend_value, 2.0);
  UpdateZakoB(e);
  EXPECT_EQ(e.in_use, 0);
  EXPECT_EQ(g_game.score, 1u);
  EXPECT_EQ(Live(g_items, kItemPoolSize, kKindItem), 1);
}

TEST_F(GameTest, ZakoBIsTestedAgainstTheFieldOnlyAfterItsStraightRun) {
  GameObject& e = g_enemies[0];
  CreateZakoB(e, 1, 0, 30, 200, -100.0, 100.0, 180.0, 1.0, 0.0);  // far left, moving away
  for (int f = 0; f < 30; ++f) UpdateZakoB(e);
  EXPECT_EQ(e.in_use, 1);
  EXPECT_EQ(e.state, 1u);
  UpdateZakoB(e);
  EXPECT_EQ(e.in_use, 0);
}

TEST_F(GameTest, ZakoCBrakesToAStandstillThenRisesAtUpToTwo) {
  PlacePlayer(210.0, 2000.0);
  GameObject& e = g_enemies[0];
  CreateZakoC(e, 1, 0, 2, 50, 200, 210.0, -32.0, 90.0, 2.2, -0.03);
  EXPECT_EQ(e.level, 1u);  // the sub-type decides the level
  for (int f = 0; f < 50; ++f) UpdateZakoC(e);
  EXPECT_EQ(e.state, 1u);
  for (int f = 0; f < 200; ++f) UpdateZakoC(e);
  EXPECT_EQ(e.base.speed, 0.0);
  EXPECT_EQ(e.state, 2u);
  UpdateZakoC(e);
  EXPECT_EQ(e.state, 3u);
  EXPECT_EQ(e.base.angle, 270.0);
  for (int f = 0; f < 100 && e.in_use; ++f) UpdateZakoC(e);
  EXPECT_EQ(e.base.speed, 2.0);
}

TEST_F(GameTest, BadVariantRaisesTheKindsError) {
  CreateZakoA(g_enemies[0], 5, 0, 1, 0.0, 0.0, 0.0, 0.0, 0.0);
  EXPECT_STREQ(g_error_text, "EN_ZA_n");
  EXPECT_EQ(g_stop_flag, 1);
}

TEST_F(GameTest, MediumPatternsWaitPastFrame120) {
  PlacePlayer(210.0, 400.0);
  GameObject& e = g_enemies[0];
  CreateMidZakoC(e, 2, 1, 520, 210.0, 100.0, 90.0, 0.0, 0.0);
  for (uint32_t f = 0; f <= 121; ++f) EnemyFire(e);
  EXPECT_EQ(Live(g_enemy_bullets, kEnemyBulletPoolSize, kKindEnemyBullet72), 0);
  EnemyFire(e);  // F = 122: the first spray at level 1
  EXPECT_EQ(Live(g_enemy_bullets, kEnemyBulletPoolSize, kKindEnemyBullet72), 4);

  GameObject& b = g_enemies[1];
  CreateMidZakoB(b, 1, 2, 520, 210.0, 100.0, 90.0, 0.0, 0.0);
  int fired_at = -1;
  for (uint32_t f = 0; f <= 130 && fired_at < 0; ++f) {
    const int before = Live(g_enemy_bullets, kEnemyBulletPoolSize, kKindEnemyBullet72);
    EnemyFire(b);
    if (Live(g_enemy_bullets, kEnemyBulletPoolSize, kKindEnemyBullet72) == before + 5) {
      fired_at = static_cast<int>(f);
    }
  }
  EXPECT_EQ(fired_at, 130);
}

TEST_F(GameTest, LevelTwoFanFiresSixBullets) {
  PlacePlayer(210.0, 400.0);
  GameObject& e = g_enemies[0];
  CreateZakoB(e, 1, 1, 30, 200, 210.0, 100.0, 90.0, 0.0, 0.0);
  EXPECT_EQ(e.level, 2u);
  e.attack.counters[kFramesSinceSpawn] = 5;
  e.attack.counters[kFireTime0] = 5;
  EnemyFire(e);
  EXPECT_EQ(Live(g_enemy_bullets, kEnemyBulletPoolSize, kKindEnemyBullet72), 6);
}

TEST_F(GameTest, UnknownPatternRaises) {
  GameObject& e = g_enemies[0];
  CreateZakoA(e, 1, 0, 1, 0.0, 0.0, 0.0, 0.0, 0.0);
  e.fire_pattern = 7;
  EnemyFire(e);
  EXPECT_STREQ(g_error_text, "EN_COM_ETamd");
  EXPECT_EQ(e.attack.counters[kFramesSinceSpawn], 1u);
}

TEST_F(GameTest, DropItemsFanLaunchesTwelveLargeItems) {
  GameObject boss{};
  boss.x = 100.0;
  boss.y = 50.0;
  DropItemsFan(boss);
  EXPECT_EQ(Live(g_items, kItemPoolSize, kKindItem), 12);
  EXPECT_EQ(g_items[8].base.angle, 250.0);
  EXPECT_EQ(g_items[11].level, 2u);
}

}  // namespace

namespace {

TEST_F(GameTest, DyingEnemyStopsItsFiringCounter) {
  GameObject& e = g_enemies[0];
  CreateZakoC(e, 1, 0, 1, 50, 200, 100.0, 100.0, 90.0, 1.0, -0.03);
  for (int f = 0; f < 5; ++f) UpdateZakoC(e);
  EXPECT_EQ(e.attack.counters[kFramesSinceSpawn], 5u);
  e.killed = 1;
  for (int f = 0; f < 5; ++f) UpdateZakoC(e);
  EXPECT_EQ(e.attack.counters[kFramesSinceSpawn], 5u);
}

TEST_F(GameTest, CircleVolleyFires24OrFortyEightBullets) {
  g_player.x = 210.0;
  g_player.y = 400.0;
  for (uint32_t sub : {0u, 1u}) {
    ResetAllPools();
    GameObject& e = g_enemies[0];
    CreateZakoC(e, 2, sub, 1, 50, 200, 210.0, 100.0, 90.0, 0.0, 0.0);
    e.attack.counters[kFramesSinceSpawn] = 3;
    e.attack.counters[kFireTime0] = 3;
    EnemyFire(e);
    int n = 0;
    for (const GameObject& b : g_enemy_bullets) n += b.in_use;
    EXPECT_EQ(n, sub == 0 ? 24 : 48);
    EXPECT_EQ(g_enemy_bullets[0].variant, 2u);
  }
}

}  // namespace
