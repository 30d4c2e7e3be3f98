// The shared volley pieces of the later bosses: the ranged random value
// against the generator itself, the aimed fan, the 60-frame turning shot,
// the cross, and shots from a point offset from the boss.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "game/bosses/boss_volleys.h"
#include "game/objects/dispatch.h"
#include "game/objects/enemy_bullets.h"
#include "game/objects/resources.h"
#include "lib/core/random.h"
#include "rorud/rorud.h"
#include "tests/game/game_fixture.h"

namespace {

constexpr double kPi = 3.14159265359;

std::vector<const GameObject*> LiveBullets() {
  std::vector<const GameObject*> out;
  for (const GameObject& b : g_enemy_bullets) {
    if (b.in_use != 0) out.push_back(&b);
  }
  return out;
}
double Heading(const GameObject& b) {
  return std::atan2(b.parts[0].velocity_y, b.parts[0].velocity_x) * 180.0 / kPi;
}
double Speed(const GameObject& b) { return std::hypot(b.parts[0].velocity_x, b.parts[0].velocity_y); }
double AngleDiff(double a, double b) {
  double d = std::fmod(a - b, 360.0);
  if (d > 180.0) d -= 360.0;
  if (d < -180.0) d += 360.0;
  return d;
}

class BossVolleys : public gametest::GameTest {
 protected:
  void SetUp() override {
    GameTest::SetUp();
    boss_.x = 200.0;
    boss_.y = 100.0;
    g_player.x = 260.0;
    g_player.y = 400.0;
  }
  GameObject boss_{};
};

TEST_F(BossVolleys, RandBetweenIsOneDrawScaledIntoTheRange) {
  SeedRandom(777);
  std::vector<double> expect;
  for (int i = 0; i < 200; ++i) {
    // [-5, 5]: width 10, in steps of 1/65536 from the low end.
    expect.push_back(-5.0 + GetRandomRange(10 * 65536) / 65536.0);
  }
  SeedRandom(777);
  const int32_t before = GetLibraryRandomState()->index;
  for (double e : expect) {
    const double v = RandBetween(-5.0, 5.0);
    EXPECT_EQ(v, e);
    EXPECT_GE(v, -5.0);
    EXPECT_LE(v, 5.0);
  }
  EXPECT_EQ(GetLibraryRandomState()->index - before, 200);
}

TEST_F(BossVolleys, AimedFanFromTheBossAndFromAnOffsetPoint) {
  const double speeds[5] = {2.3, 2.2, 2.1, 2.2, 2.3};
  for (const ShotOrigin& from : {ShotOrigin(boss_), ShotOrigin::Offset(boss_, -50.0, 50.0)}) {
    for (GameObject& b : g_enemy_bullets) b.in_use = 0, b.free = 1;
    g_sounds[19].request = 0;
    BossAimedFan(from, speeds);
    const auto fan = LiveBullets();
    ASSERT_EQ(fan.size(), 5u);
    const double aim = std::atan2(g_player.y - from.y, g_player.x - from.x) * 180.0 / kPi;
    for (int i = 0; i < 5; ++i) {
      const GameObject& s = *fan[i];
      EXPECT_EQ(s.kind, static_cast<uint32_t>(kKindEnemyBullet72));
      EXPECT_EQ(s.x, from.x);
      EXPECT_EQ(s.y, from.y);
      EXPECT_EQ(s.level, 2u);
      EXPECT_EQ(s.variant, i % 2 == 0 ? 2u : 3u);
      EXPECT_NEAR(AngleDiff(Heading(s), aim + 15.0 * (i - 2)), 0.0, 1e-9);
      EXPECT_NEAR(Speed(s), speeds[i], 1e-12);
    }
    EXPECT_EQ(g_sounds[19].request, 1);
  }
  EXPECT_EQ(ShotOrigin::Offset(boss_, -50.0, 50.0).x, 150.0);
  EXPECT_EQ(ShotOrigin::Offset(boss_, -50.0, 50.0).y, 150.0);
}

TEST_F(BossVolleys, TurnShotAndCross) {
  BossTurnShot(ShotOrigin::Offset(boss_, 50.0, -50.0), 3, 1, 40.0, 2.5, -0.02, 95.0, 0.05, 2.0);
  const GameObject& t = g_enemy_bullets[0];
  EXPECT_EQ(t.kind, static_cast<uint32_t>(kKindEnemyBullet74));
  EXPECT_EQ(t.x, 250.0);
  EXPECT_EQ(t.y, 50.0);
  EXPECT_EQ(t.variant, 3u);
  EXPECT_EQ(t.level, 1u);
  EXPECT_EQ(t.kind_counters[kBulletFirstFrames], 60u);
  EXPECT_EQ(t.base.angle, 40.0);
  EXPECT_EQ(t.base.speed, 2.5);
  EXPECT_EQ(t.kind_values[kBulletFirstAccel], -0.02);
  EXPECT_EQ(t.kind_values[kBulletNewAngle], 95.0);
  EXPECT_EQ(t.kind_values[kBulletSecondAccel], 0.05);
  EXPECT_EQ(t.kind_values[kBulletSecondLimit], 2.0);

  BossCross(boss_, 33.0, {4, 2, 4, 2}, {1, 2, 1, 2}, 2.6);
  for (int i = 0; i < 4; ++i) {
    const GameObject& s = g_enemy_bullets[1 + i];
    EXPECT_EQ(s.variant, i % 2 == 0 ? 4u : 2u);
    EXPECT_EQ(s.level, i % 2 == 0 ? 1u : 2u);
    EXPECT_NEAR(AngleDiff(Heading(s), 33.0 + 90.0 * i), 0.0, 1e-9);
    EXPECT_NEAR(Speed(s), 2.6, 1e-12);
  }
}

}  // namespace
