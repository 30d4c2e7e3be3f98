// Stage 3's mid-boss and boss: the random-centred fans and their draws, the
// one-phase mid-boss's defeat, the turning sprays, the crosses from the four
// points around the boss and the openings of the boss's phases, each driven
// directly through the boss's update.
#include <gtest/gtest.h>

#include <cmath>
#include <utility>
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

std::vector<GameObject*> Bullets(uint32_t kind) {
  std::vector<GameObject*> out;
  for (GameObject& b : g_enemy_bullets) {
    if (b.in_use != 0 && b.kind == kind) out.push_back(&b);
  }
  return out;
}
void ClearBullets() {
  for (GameObject& b : g_enemy_bullets) b.in_use = 0, b.free = 1;
}
double Heading72(const GameObject& b) {
  return std::atan2(b.parts[0].velocity_y, b.parts[0].velocity_x) * 180.0 / kPi;
}
double Speed72(const GameObject& b) { return std::hypot(b.parts[0].velocity_x, b.parts[0].velocity_y); }
double AngleDiff(double a, double b) {
  double d = std::fmod(a - b, 360.0);
  if (d > 180.0) d -= 360.0;
  if (d < -180.0) d += 360.0;
  return d;
}
// A value in [low, low + width] as the generator gives it, for the references.
double Draw(double low, double width) {
  return low + GetRandomRange(static_cast<int32_t>(width * 65536)) / 65536.0;
}
int32_t DrawIndex() { return GetLibraryRandomState()->index; }

class BossStage3 : public gametest::GameTest {
 protected:
  void SetUp() override {
    GameTest::SetUp();
    g_player.in_use = 1;
    g_player.x = 150.0;
    g_player.y = 420.0;
  }
  // A boss made as the stage makes it, then put into attack phase `phase`
  // at sub-state `sub_state` with the fight running.
  static GameObject& Boss(void (*create)(GameObject&), uint32_t phase, uint32_t sub_state) {
    g_find_free_index = kBossIndex;
    GameObject& b = g_enemies[kBossIndex];
    create(b);
    b.state = phase;
    b.sub_state = sub_state;
    b.sub_state_timer = 0;
    b.x = b.base.x = 210.0;
    b.y = b.base.y = 120.0;
    g_game.boss_gauge.phase = phase;
    g_game.talk.talk_mode = 0;
    return b;
  }
};

// ----- Boss 3A -------------------------------------------------------------------

TEST_F(BossStage3, Boss3AFiresANineShotFanEveryFifthFrameOnOneDrawEach) {
  GameObject& b = Boss(CreateBoss3A, 1, 3);
  SeedRandom(2468);
  double centre[8];
  for (double& c : centre) c = Draw(100.0, 340.0);
  SeedRandom(2468);
  const int32_t before = DrawIndex();
  int fans = 0;
  for (uint32_t t = 0; t < 40; ++t) {
    ClearBullets();
    ASSERT_EQ(b.sub_state_timer, t);
    UpdateBoss3A(b);
    const auto shots = Bullets(kKindEnemyBullet72);
    if (t % 5 != 3) {
      EXPECT_TRUE(shots.empty()) << t;
      continue;
    }
    ASSERT_EQ(shots.size(), 9u) << t;
    const double a = centre[fans++];
    EXPECT_GE(a, 100.0);
    EXPECT_LE(a, 440.0);
    for (size_t i = 0; i < 9; ++i) {
      EXPECT_NEAR(AngleDiff(Heading72(*shots[i]), a - 20.0 + 5.0 * i), 0.0, 1e-6) << t;
      EXPECT_NEAR(Speed72(*shots[i]), 2.1, 1e-9);
      EXPECT_EQ(shots[i]->variant, i % 2 == 0 ? 1u : 2u);
      EXPECT_EQ(shots[i]->level, 2u);
    }
  }
  EXPECT_EQ(fans, 8);
  EXPECT_EQ(DrawIndex() - before, 8);
}

TEST_F(BossStage3, Boss3AFirstLifeOutIsItsDefeat) {
  GameObject& b = Boss(CreateBoss3A, 1, 3);
  const BossGauge& g = g_game.boss_gauge;
  EXPECT_EQ(g.last_phase, 1u);
  // The set-up writes all three lives; only the first is ever fought.
  EXPECT_EQ(g.life_per_phase[1], 2000.0);
  EXPECT_EQ(g.life_per_phase[2], 1400.0);
  EXPECT_EQ(g.life_per_phase[3], 1600.0);
  g_game.boss_gauge.phase_start_countdown = 0;
  g_game.boss_gauge.bar_fill = 100.0;
  b.killed = 1;
  UpdateBoss3A(b);
  EXPECT_EQ(b.state, kBossDefeated);
  EXPECT_EQ(g.phase, kGaugePhaseDefeated);
  EXPECT_EQ(b.defeated, 1);
  EXPECT_EQ(b.can_be_hit, 0);
  EXPECT_EQ(g_game.talk.talk_mode, 1);
  EXPECT_EQ(g.phase_start_countdown, 100000u);
  EXPECT_EQ(g.bar_fill, 100.0);  // the defeat leaves the bar
}

// ----- Boss 3B -------------------------------------------------------------------

TEST_F(BossStage3, Boss3BSprayIsThirteenTurningShotsOfThreeDrawsEach) {
  GameObject& b = Boss(CreateBoss3B, 2, 3);
  struct Shot {
    double a, r, s;
  };
  SeedRandom(1357);
  Shot expect[26];
  for (int i = 0; i < 26; ++i) {
    // Timer 0 sprays from 180 degrees, timer 30 from 270.
    expect[i].a = Draw(i < 13 ? 180.0 : 270.0, 90.0);
    expect[i].r = Draw(-5.0, 10.0);
    expect[i].s = Draw(1.0, 2.5);
  }
  SeedRandom(1357);
  const double x = b.x, y = b.y;
  for (int spray = 0; spray < 2; ++spray) {
    ClearBullets();
    b.sub_state_timer = spray == 0 ? 0 : 30;
    const int32_t before = DrawIndex();
    UpdateBoss3B(b);
    EXPECT_EQ(DrawIndex() - before, 39);
    const auto shots = Bullets(kKindEnemyBullet74);
    ASSERT_EQ(shots.size(), 13u);
    for (size_t i = 0; i < 13; ++i) {
      const GameObject& s = *shots[i];
      const Shot& e = expect[spray * 13 + i];
      EXPECT_EQ(s.base.angle, e.a);
      EXPECT_EQ(s.base.speed, e.s);
      EXPECT_EQ(s.kind_values[kBulletNewAngle], e.r + 90.0);
      EXPECT_EQ(s.kind_counters[kBulletFirstFrames], 60u);
      EXPECT_EQ(s.variant, 2u);
      EXPECT_EQ(s.level, 2u);
      EXPECT_EQ(s.kind_values[kBulletFirstAccel], -0.02);
      EXPECT_EQ(s.kind_values[kBulletSecondAccel], 0.05);
      EXPECT_EQ(s.kind_values[kBulletSecondLimit], 2.3);
    }
    // Phase 2 holds the boss still: no sway of either kind.
    EXPECT_EQ(b.x, x);
    EXPECT_EQ(b.y, y);
  }
  for (int f = 0; f < 200; ++f) UpdateBoss3B(b);
  EXPECT_EQ(b.x, x);
  EXPECT_EQ(b.y, y);
}

TEST_F(BossStage3, Boss3BCrossesComeFromTheFourPointsAroundIt) {
  GameObject& b = Boss(CreateBoss3B, 4, 3);
  const double x = b.x, y = b.y;
  b.sub_state_timer = 2;
  UpdateBoss3B(b);
  // The rotation is the block's third value, raised before the shots.
  EXPECT_EQ(b.attack.values[2], 3.0);
  auto shots = Bullets(kKindEnemyBullet72);
  ASSERT_EQ(shots.size(), 24u);
  const double lower_speeds[3] = {2.6, 2.1, 1.6};
  const uint32_t right[4] = {2, 3, 2, 3}, left[4] = {1, 2, 1, 2};
  for (size_t i = 0; i < 24; ++i) {
    const GameObject& s = *shots[i];
    const bool first = i < 12;
    EXPECT_EQ(s.x, x + (first ? 50.0 : -50.0)) << i;
    EXPECT_EQ(s.y, y + 50.0) << i;
    EXPECT_EQ(s.variant, first ? right[i % 4] : left[i % 4]) << i;
    EXPECT_NEAR(Speed72(s), lower_speeds[(i % 12) / 4], 1e-9) << i;
    EXPECT_NEAR(AngleDiff(Heading72(s), 3.0 + 90.0 * (i % 4)), 0.0, 1e-6) << i;
  }
  ClearBullets();
  const double x2 = b.x, y2 = b.y;
  b.sub_state_timer = 12;
  UpdateBoss3B(b);
  shots = Bullets(kKindEnemyBullet72);
  ASSERT_EQ(shots.size(), 16u);
  for (size_t i = 0; i < 16; ++i) {
    const GameObject& s = *shots[i];
    EXPECT_EQ(s.x, x2 + (i < 8 ? 50.0 : -50.0)) << i;
    EXPECT_EQ(s.y, y2 - 50.0) << i;
    EXPECT_EQ(s.variant, i % 2 == 0 ? 3u : 4u) << i;
    EXPECT_NEAR(Speed72(s), (i % 8) < 4 ? 2.6 : 1.6, 1e-9) << i;
    EXPECT_NEAR(AngleDiff(Heading72(s), 6.0 + 90.0 * (i % 4)), 0.0, 1e-6) << i;
  }
}

TEST_F(BossStage3, Boss3BPhase5TurnsBothWaysAndFiresItsPairs) {
  GameObject& b = Boss(CreateBoss3B, 5, 3);
  b.sub_state_timer = 1;
  UpdateBoss3B(b);
  EXPECT_EQ(b.attack.values[2], 3.0);
  EXPECT_EQ(b.attack.values[7], -3.0);
  // Three pairs along the rotation, one along the counter-rotation.
  const auto shots = Bullets(kKindEnemyBullet72);
  ASSERT_EQ(shots.size(), 8u);
  const double angles[8] = {3, 183, 3, 183, 3, 183, -3, 177};
  const double speeds[8] = {2.3, 2.3, 2.0, 2.0, 1.7, 1.7, 2.3, 2.3};
  for (size_t i = 0; i < 8; ++i) {
    EXPECT_NEAR(AngleDiff(Heading72(*shots[i]), angles[i]), 0.0, 1e-6) << i;
    EXPECT_NEAR(Speed72(*shots[i]), speeds[i], 1e-9) << i;
    EXPECT_EQ(shots[i]->variant, i % 2 == 0 ? 6u : 3u);
    EXPECT_EQ(shots[i]->level, i % 2 == 0 ? 2u : 1u);
  }
}

TEST_F(BossStage3, Boss3BPhasesThreeAndFourOpenAtOnceWithFightStageTwo) {
  for (uint32_t phase = 1; phase <= 5; ++phase) {
    gametest::ResetGameGlobals();
    GameObject& b = Boss(CreateBoss3B, phase, 0);
    b.attack.counters[kBossCycle] = 3;
    const bool at_once = phase == 3 || phase == 4;
    int frames = 0;
    while (b.sub_state == 0 && frames < 100) {
      UpdateBoss3B(b);
      ++frames;
    }
    EXPECT_EQ(frames, at_once ? 1 : 60) << phase;
    EXPECT_EQ(b.fight_stage, at_once ? 2u : 1u) << phase;
    EXPECT_EQ(b.attack.counters[kBossCycle], 0u) << phase;
  }
}

TEST_F(BossStage3, StageThreeBossesKeepTheStageMusic) {
  using Fn = void (*)(GameObject&);
  for (auto [create, update] : {std::pair<Fn, Fn>{CreateBoss3A, UpdateBoss3A},
                                std::pair<Fn, Fn>{CreateBoss3B, UpdateBoss3B}}) {
    gametest::ResetGameGlobals();
    g_find_free_index = kBossIndex;
    GameObject& b = g_enemies[kBossIndex];
    create(b);
    g_game.talk.talk_mode = 1;
    g_input.held_actions = kActionFocus;  // cancel held: every step lasts its minimum
    int frames = 0;
    while (b.state == 0 && frames < 2000) {
      update(b);
      ++frames;
    }
    EXPECT_EQ(b.state, 1u);
    EXPECT_EQ(g_game.talk.talk_mode, 0);
    EXPECT_EQ(g_game.music_caption.on, 0);
  }
}

}  // namespace
