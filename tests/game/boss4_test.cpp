// Stage 4's boss: its volleys in table order, the four emitters, the random
// fans and sprays against the generator, the bullet count of its densest
// phase against the pool, and its ending without a fly-off.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "game/bosses/boss.h"
#include "game/frame/game_error.h"
#include "game/frame/game_state.h"
#include "game/frame/input.h"
#include "game/objects/dispatch.h"
#include "game/objects/enemy_bullets.h"
#include "lib/core/random.h"
#include "rorud/rorud.h"
#include "tests/game/game_fixture.h"

namespace {

constexpr double kPi = 3.14159265359;
constexpr uint32_t kBossIndex = 2;

std::vector<GameObject*> Bullets() {
  std::vector<GameObject*> out;
  for (GameObject& b : g_enemy_bullets) {
    if (b.in_use != 0) out.push_back(&b);
  }
  return out;
}
void ClearBullets() {
  for (GameObject& b : g_enemy_bullets) b.in_use = 0, b.free = 1;
}
double Heading(const GameObject& b) {
  const double a = std::atan2(b.parts[0].velocity_y, b.parts[0].velocity_x) * 180.0 / kPi;
  return a < 0.0 ? a + 360.0 : a;
}
double Speed(const GameObject& b) { return std::hypot(b.parts[0].velocity_x, b.parts[0].velocity_y); }
double AngleDiff(double a, double b) {
  double d = std::fmod(a - b, 360.0);
  if (d > 180.0) d -= 360.0;
  if (d < -180.0) d += 360.0;
  return d;
}

class Boss4 : public gametest::GameTest {
 protected:
  void SetUp() override {
    GameTest::SetUp();
    g_player.in_use = 1;
    g_player.x = 150.0;
    g_player.y = 420.0;
  }
  // The boss as the stage makes it, in attack phase `phase` at `sub_state`.
  static GameObject& Boss(uint32_t phase, uint32_t sub_state) {
    g_find_free_index = kBossIndex;
    GameObject& b = g_enemies[kBossIndex];
    CreateBoss4(b);
    b.state = phase;
    b.sub_state = sub_state;
    b.x = b.base.x = 210.0;
    b.y = b.base.y = 136.0;
    g_game.boss_gauge.phase = phase;
    g_game.talk.talk_mode = 0;
    return b;
  }
};

TEST_F(Boss4, EmittersFireCrossesAtTheSpinAngleFromTheFourCornersInOrder) {
  GameObject& b = Boss(4, 3);
  b.attack.values[2] = 30.0;
  b.attack.values[7] = -30.0;
  b.sub_state_timer = 12;  // both the lower (t mod 5 = 2) and upper (t mod 13 = 12) pairs
  UpdateBoss4(b);
  EXPECT_EQ(b.attack.values[2], 33.0);  // turned before firing
  EXPECT_EQ(b.attack.values[7], -33.0);
  const auto shots = Bullets();
  ASSERT_EQ(shots.size(), 12u + 12u + 8u + 8u);
  struct Emitter {
    double dx, dy;
    size_t count;
    uint32_t along, across;
  };
  const Emitter kOrder[4] = {{50, 50, 12, 2, 3}, {-50, 50, 12, 1, 2}, {50, -50, 8, 3, 4},
                             {-50, -50, 8, 3, 4}};
  size_t i = 0;
  for (const Emitter& e : kOrder) {
    const double speeds[3] = {2.6, e.count == 12 ? 2.1 : 1.6, 1.6};
    for (size_t k = 0; k < e.count; ++k, ++i) {
      const GameObject& s = *shots[i];
      EXPECT_EQ(s.x, 210.0 + e.dx) << i;
      EXPECT_EQ(s.y, 136.0 + e.dy) << i;
      EXPECT_EQ(s.level, 2u);
      EXPECT_EQ(s.variant, k % 2 == 0 ? e.along : e.across) << i;
      EXPECT_NEAR(AngleDiff(Heading(s), 33.0 + 90.0 * (k % 4)), 0.0, 1e-9) << i;
      EXPECT_NEAR(Speed(s), speeds[k / 4], 1e-9) << i;
    }
  }
}

TEST_F(Boss4, RandomFanTakesOneDrawAndTheAimedRingFollowsIt) {
  GameObject& b = Boss(1, 3);
  SeedRandom(777);
  const double centre = 100.0 + GetRandomRange(340 * 65536) / 65536.0;
  SeedRandom(777);
  // Timer 1: the aimed ring (t mod 3 = 1) only; timer 2: the fan (t mod 3 = 2).
  b.sub_state_timer = 1;
  const double aim = AngleTo(b.x, b.y, g_player.x, g_player.y);
  UpdateBoss4(b);
  auto shots = Bullets();
  ASSERT_EQ(shots.size(), 5u);
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_NEAR(AngleDiff(Heading(*shots[i]), aim + 72.0 * i), 0.0, 1e-6);
    EXPECT_NEAR(Speed(*shots[i]), 5.0, 1e-9);
  }
  ClearBullets();
  const int32_t before = GetLibraryRandomState()->index;
  UpdateBoss4(b);
  EXPECT_EQ(GetLibraryRandomState()->index - before, 1);
  shots = Bullets();
  ASSERT_EQ(shots.size(), 9u);
  const double offsets[9] = {-20, -15, -10, -5, 0, 5, 10, 15, 20};
  for (size_t i = 0; i < 9; ++i) {
    EXPECT_NEAR(AngleDiff(Heading(*shots[i]), centre + offsets[i]), 0.0, 1e-6);
    EXPECT_EQ(shots[i]->variant, i % 2 == 0 ? 1u : 2u);
  }
}

TEST_F(Boss4, Phase2StandsStillAndItsSpraysTakeThreeDrawsAShot) {
  GameObject& b = Boss(2, 3);
  const double x = b.x, y = b.y;
  SeedRandom(99);  // the count below stays inside one block of the generator
  const int32_t before = GetLibraryRandomState()->index;
  UpdateBoss4(b);  // timer 0: the sprays of 13 and of 7
  EXPECT_EQ(GetLibraryRandomState()->index - before, 3 * (13 + 7));
  const auto shots = Bullets();
  ASSERT_EQ(shots.size(), 20u);
  for (size_t i = 0; i < shots.size(); ++i) {
    const GameObject& s = *shots[i];
    EXPECT_EQ(s.kind, static_cast<uint32_t>(kKindEnemyBullet74));
    EXPECT_EQ(s.kind_counters[kBulletFirstFrames], 60u);
    const double lo = i < 13 ? 180.0 : 270.0;
    EXPECT_GE(s.base.angle, lo);
    EXPECT_LE(s.base.angle, lo + 90.0);
    EXPECT_GE(s.base.speed, 1.0);
    EXPECT_LE(s.base.speed, 3.5);
    EXPECT_NEAR(s.kind_values[kBulletNewAngle], 90.0, 5.0);
  }
  for (int f = 0; f < 200; ++f) UpdateBoss4(b);
  EXPECT_EQ(b.x, x);
  EXPECT_EQ(b.y, y);
}

// The game's densest phase: about 7.7 shots a frame, and the live count
// stays inside the enemy-bullet pool while the shots fly out of the field.
TEST_F(Boss4, Phase5FiresAboutSevenPointSevenShotsAFrameWithinThePool) {
  GameObject& b = Boss(5, 3);
  size_t fired = 0;
  const int frames = 2860;  // 13 x 20 x 11
  for (int f = 0; f < frames; ++f) {
    UpdateBoss4(b);
    fired += Bullets().size();
    ClearBullets();
  }
  // Per frame: 8 / 22 + 32 / 50 + 24 / 13 + 16 / 13 + 72 / 20.
  const double expected = 8.0 / 22 + 32.0 / 50 + 24.0 / 13 + 16.0 / 13 + 72.0 / 20;
  EXPECT_NEAR(static_cast<double>(fired) / frames, expected, 0.02);
  EXPECT_NEAR(expected, 7.7, 0.05);

  // Through the object update the shots fly until they leave the field; the
  // player takes none of them, so none is spent early.
  gametest::ResetGameGlobals();
  SetUp();
  g_player.invulnerable = 1;
  Boss(5, 3);
  size_t peak = 0;
  for (int f = 0; f < 1500; ++f) {
    UpdateObjects();
    FreeUnusedRecords(g_enemy_bullets, kEnemyBulletPoolSize);
    peak = std::max(peak, Bullets().size());
  }
  EXPECT_LT(peak, kEnemyBulletPoolSize);
  EXPECT_GT(peak, 800u);
  EXPECT_STREQ(g_error_text, "");  // no pool ever ran full
  std::printf("boss 4 phase 5: %.2f shots a frame, peak %zu live of %zu\n",
              static_cast<double>(fired) / frames, peak, kEnemyBulletPoolSize);
}

TEST_F(Boss4, DefeatEndsWithTheClosingTalkThenStandsAndVanishesWithTalkModeOn) {
  GameObject& b = Boss(5, 3);
  g_input.held_actions = kActionFocus;  // each step lasts its minimum
  b.killed = 1;
  UpdateBoss4(b);
  ASSERT_EQ(b.state, kBossDefeated);
  std::vector<uint32_t> steps;
  int frames = 0;
  while (b.sub_state != kTalkDone && frames++ < 5000) {
    if (b.sub_state >= kTalkFirstStep && (steps.empty() || steps.back() != b.sub_state)) {
      steps.push_back(b.sub_state);
    }
    UpdateBoss4(b);
  }
  EXPECT_EQ(steps, (std::vector<uint32_t>{10, 11, 13, 14, 15, 16, 17, 18, 19, 20, 21}));
  const double x = b.x, y = b.y;
  for (int f = 0; f < 179; ++f) {
    UpdateBoss4(b);
    ASSERT_EQ(b.in_use, 1) << f;
    EXPECT_EQ(b.x, x);
    EXPECT_EQ(b.y, y);
  }
  EXPECT_EQ(g_game.boss_gauge.active, 1);
  UpdateBoss4(b);  // the 180th frame standing
  UpdateBoss4(b);  // the removal
  EXPECT_EQ(b.in_use, 0);
  EXPECT_EQ(g_game.boss_gauge.active, 0);
  EXPECT_EQ(g_game.talk.talk_mode, 1);
  EXPECT_TRUE(NoLiveEnemy());
}

}  // namespace
