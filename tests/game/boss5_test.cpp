// The last boss: its own aura, its quiet glides and entry, the seven-draw
// random six, and phase 4's cycle of spiral arms and 192-shot rings.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "game/bosses/boss.h"
#include "game/frame/game_state.h"
#include "game/frame/input.h"
#include "game/objects/dispatch.h"
#include "game/objects/enemy_bullets.h"
#include "lib/core/random.h"
#include "rorud/rorud.h"
#include "tests/game/game_fixture.h"

namespace {

constexpr double kPi = 3.14159265359;
constexpr uint32_t kBossIndex = 4;

size_t CountBullets(uint32_t kind = 0) {
  size_t n = 0;
  for (const GameObject& b : g_enemy_bullets) n += b.in_use != 0 && (kind == 0 || b.kind == kind);
  return n;
}
void ClearBullets() {
  for (GameObject& b : g_enemy_bullets) b.in_use = 0, b.free = 1;
}
int32_t Draws(int32_t since) { return GetLibraryRandomState()->index - since; }

class Boss5 : public gametest::GameTest {
 protected:
  void SetUp() override {
    GameTest::SetUp();
    g_player.in_use = 1;
    g_player.x = 150.0;
    g_player.y = 420.0;
  }
  static GameObject& Make() {
    g_find_free_index = kBossIndex;
    GameObject& b = g_enemies[kBossIndex];
    CreateBoss5(b);
    return b;
  }
  static GameObject& Boss(uint32_t phase, uint32_t sub_state) {
    GameObject& b = Make();
    b.state = phase;
    b.sub_state = sub_state;
    b.x = b.base.x = 210.0;
    b.y = b.base.y = 136.0;
    g_game.boss_gauge.phase = phase;
    g_game.talk.talk_mode = 0;
    return b;
  }
};

TEST_F(Boss5, MakesItsOwnAuraAndItsEntryLeavesTheStageDim) {
  g_game.talk.talk_mode = 1;
  g_game.background_brightness = 160.0;
  GameObject& b = Make();
  int auras = 0;
  for (const GameObject& e : g_effects) {
    if (e.in_use == 0 || e.kind != kKindBossAura) continue;
    ++auras;
    EXPECT_EQ(e.graphic_id, 463u);
    EXPECT_EQ(e.parent_index, kBossIndex);
    EXPECT_EQ(e.blend_mode, 2u);
    EXPECT_EQ(e.blend_value, 128.0);
    EXPECT_EQ(e.generic_draw, 0);
    EXPECT_EQ(e.draw_layer, 3);
  }
  EXPECT_EQ(auras, 1);
  for (int f = 0; f < 200; ++f) UpdateBoss5(b);
  EXPECT_EQ(b.state, kBossEntry);
  EXPECT_EQ(g_game.background_brightness, 160.0);
}

TEST_F(Boss5, RandomSixTakesSevenDrawsAndUsesTheFirstSix) {
  GameObject& b = Boss(1, 3);
  SeedRandom(2468);
  double angles[6];
  for (double& a : angles) a = GetRandomRange(360 * 65536) / 65536.0;
  SeedRandom(2468);
  const int32_t before = GetLibraryRandomState()->index;
  b.sub_state_timer = 4;  // t mod 5 = 4, and nothing else
  UpdateBoss5(b);
  EXPECT_EQ(Draws(before), 7);
  std::vector<const GameObject*> shots;
  for (const GameObject& s : g_enemy_bullets) {
    if (s.in_use != 0) shots.push_back(&s);
  }
  ASSERT_EQ(shots.size(), 6u);
  const double speeds[6] = {2.5, 3.3, 2.8, 3.0, 2.5, 3.3};
  for (size_t i = 0; i < 6; ++i) {
    const double heading =
        std::atan2(shots[i]->parts[0].velocity_y, shots[i]->parts[0].velocity_x) * 180.0 / kPi;
    EXPECT_NEAR(std::remainder(heading - angles[i], 360.0), 0.0, 1e-6);
    EXPECT_NEAR(std::hypot(shots[i]->parts[0].velocity_x, shots[i]->parts[0].velocity_y),
                speeds[i], 1e-9);
    EXPECT_EQ(shots[i]->variant, i % 2 == 0 ? 1u : 4u);
  }
}

TEST_F(Boss5, GlidesFireNothing) {
  for (uint32_t phase : {1u, 4u}) {
    gametest::ResetGameGlobals();
    SetUp();
    GameObject& b = Boss(phase, 1);
    b.x = b.base.x = 60.0;  // far from every target
    b.y = b.base.y = 300.0;
    const int32_t before = GetLibraryRandomState()->index;
    int frames = 0;
    while (b.sub_state != 3 && frames++ < 1000) UpdateBoss5(b);
    ASSERT_EQ(b.sub_state, 3u) << phase;
    EXPECT_GT(frames, 10);
    EXPECT_EQ(CountBullets(), 0u) << phase;
    EXPECT_EQ(Draws(before), 0) << phase;
  }
}

TEST_F(Boss5, Phase4CycleFiresSpiralArmsAndTwoRingsOf192) {
  GameObject& b = Boss(4, 0);
  UpdateBoss5(b);  // opens at once with fight stage 2
  EXPECT_EQ(b.fight_stage, 2u);
  EXPECT_EQ(b.sub_state, 1u);
  UpdateBoss5(b);
  EXPECT_EQ(b.parts[kTravelPart].extra[kTravelTargetX], 348.0);
  EXPECT_EQ(b.parts[kTravelPart].extra[kTravelTargetY], 110.0);
  b.sub_state = 3;
  b.sub_state_timer = 0;
  std::vector<uint32_t> arm_times, ring_times;
  for (uint32_t t = 0; t < 180; ++t) {
    UpdateBoss5(b);
    const size_t arms = CountBullets(kKindEnemyBullet73);
    const size_t ring = CountBullets(kKindEnemyBullet74);
    if (arms != 0) {
      EXPECT_EQ(arms, 8u) << t;
      arm_times.push_back(t);
    }
    if (ring != 0) {
      EXPECT_EQ(ring, 192u) << t;
      ring_times.push_back(t);
    }
    ClearBullets();
  }
  EXPECT_EQ(ring_times, (std::vector<uint32_t>{30, 90}));
  ASSERT_EQ(arm_times.size(), 24u);
  EXPECT_EQ(arm_times.front(), 1u);
  EXPECT_EQ(arm_times.back(), 116u);
  EXPECT_EQ(b.sub_state, 1u);
  EXPECT_EQ(b.attack.counters[kBossCycle], 1u);
  EXPECT_EQ(b.attack.values[2], 3.0 * 180);
  EXPECT_EQ(b.attack.values[7], -3.0 * 180);
  UpdateBoss5(b);
  EXPECT_EQ(b.parts[kTravelPart].extra[kTravelTargetX], 279.0);
}

TEST_F(Boss5, Phase4RingShotsBrakeThenTurnBothWays) {
  GameObject& b = Boss(4, 3);
  b.sub_state_timer = 90;
  UpdateBoss5(b);
  std::vector<const GameObject*> ring;
  for (const GameObject& s : g_enemy_bullets) {
    if (s.in_use != 0) ring.push_back(&s);
  }
  ASSERT_EQ(ring.size(), 192u);
  const double limits[3] = {3.0, 1.7, 3.1};
  for (size_t i = 0; i < ring.size(); ++i) {
    const GameObject& s = *ring[i];
    const double t = 11.25 * (i / 6);
    const bool plus = i % 2 == 0;
    EXPECT_EQ(s.base.angle, t);
    EXPECT_EQ(s.base.speed, 2.0);
    EXPECT_EQ(s.kind_values[kBulletFirstAccel], -0.07);
    EXPECT_EQ(s.kind_values[kBulletNewAngle], plus ? t + 30.0 : t - 30.0);
    EXPECT_EQ(s.kind_values[kBulletSecondLimit], limits[(i % 6) / 2]);
    EXPECT_EQ(s.variant, plus ? 2u : 8u);
    EXPECT_EQ(s.level, i % 6 < 2 ? 1u : 2u);
  }
}

}  // namespace
