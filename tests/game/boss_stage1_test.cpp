// Stage 1's mid-boss and boss: their attack phases, launches and the fight
// start, each driven directly through the boss's update.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "game/bosses/boss.h"
#include "game/bosses/story.h"
#include "game/bosses/sub_units.h"
#include "game/frame/game_error.h"
#include "game/frame/game_state.h"
#include "game/frame/input.h"
#include "game/objects/dispatch.h"
#include "game/objects/enemy_bullets.h"
#include "game/objects/resources.h"
#include "lib/core/random.h"
#include "rorud/rorud.h"
#include "tests/game/game_fixture.h"

namespace {

constexpr double kPi = 3.14159265359;
constexpr uint32_t kBossIndex = 3;

std::vector<GameObject*> Live(GameObject* pool, size_t n, uint32_t kind) {
  std::vector<GameObject*> out;
  for (size_t i = 0; i < n; ++i) {
    if (pool[i].in_use != 0 && pool[i].kind == kind) out.push_back(&pool[i]);
  }
  return out;
}
std::vector<GameObject*> Bullets(uint32_t kind) {
  return Live(g_enemy_bullets, kEnemyBulletPoolSize, kind);
}
size_t AllBullets() {
  size_t n = 0;
  for (const GameObject& b : g_enemy_bullets) n += b.in_use != 0;
  return n;
}
void ClearBullets() {
  for (GameObject& b : g_enemy_bullets) b.in_use = 0, b.free = 1;
}

double Heading72(const GameObject& b) {
  const double a = std::atan2(b.parts[0].velocity_y, b.parts[0].velocity_x) * 180.0 / kPi;
  return a < 0.0 ? a + 360.0 : a;
}
double Speed72(const GameObject& b) {
  return std::hypot(b.parts[0].velocity_x, b.parts[0].velocity_y);
}
double AngleDiff(double a, double b) {
  double d = std::fmod(a - b, 360.0);
  if (d > 180.0) d -= 360.0;
  if (d < -180.0) d += 360.0;
  return d;
}
double AimFrom(const GameObject& b) {
  const double a = std::atan2(g_player.y - b.y, g_player.x - b.x) * 180.0 / kPi;
  return a < 0.0 ? a + 360.0 : a;
}

class BossStage1 : public gametest::GameTest {
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
  static uint32_t& Cycle(GameObject& b) { return b.attack.counters[kBossCycle]; }
};

// ----- Boss 1A -------------------------------------------------------------------

TEST_F(BossStage1, Boss1APhase1RingsAre128ShotsThatBrakeAndTurn) {
  GameObject& b = Boss(CreateBoss1A, 1, 3);
  Cycle(b) = 1;  // pattern 1
  b.sub_state_timer = 20;
  UpdateBoss1A(b);
  const auto ring = Bullets(kKindEnemyBullet74);
  ASSERT_EQ(ring.size(), 128u);
  EXPECT_EQ(AllBullets(), 128u);  // no straight volley at 20
  EXPECT_EQ(g_sounds[19].request, 1);
  struct Expect {
    uint32_t size, colour;
    double turn, accel, limit;
  };
  const Expect kExpect[4] = {
      {1, 3, 90, 0.05, 2.7}, {1, 6, -90, 0.05, 2.7}, {2, 3, 90, 0.04, 1.9}, {2, 6, -90, 0.04, 1.9}};
  for (size_t i = 0; i < ring.size(); ++i) {
    const GameObject& s = *ring[i];
    const Expect& e = kExpect[i % 4];
    const double a = (i / 4) * 11.25;
    EXPECT_EQ(s.level, e.size);
    EXPECT_EQ(s.variant, e.colour);
    EXPECT_EQ(s.kind_counters[kBulletFirstFrames], 30u);
    EXPECT_EQ(s.base.angle, a);
    EXPECT_EQ(s.base.speed, 4.0);
    EXPECT_EQ(s.kind_values[kBulletFirstAccel], -0.21);
    EXPECT_EQ(s.kind_values[kBulletNewAngle], a + e.turn);
    EXPECT_EQ(s.kind_values[kBulletSecondAccel], e.accel);
    EXPECT_EQ(s.kind_values[kBulletSecondLimit], e.limit);
  }
  // The same ring again at 50, with the straight volley of 40 between.
  ClearBullets();
  while (b.sub_state_timer <= 50) UpdateBoss1A(b);
  EXPECT_EQ(Bullets(kKindEnemyBullet74).size(), 128u);
  EXPECT_EQ(Bullets(kKindEnemyBullet72).size(), 4u);
}

TEST_F(BossStage1, Boss1ARingShotsFlyOutStopAndComeBackBeforeTheyTurn) {
  GameObject& b = Boss(CreateBoss1A, 1, 3);
  Cycle(b) = 1;
  b.sub_state_timer = 20;
  UpdateBoss1A(b);
  GameObject& s = *Bullets(kKindEnemyBullet74)[4];  // direction 11.25, first shot
  const double x0 = s.x;
  double farthest = 0.0;
  for (int f = 0; f < 30; ++f) {
    UpdateEnemyBullet74(s);
    farthest = std::max(farthest, s.x - x0);
  }
  EXPECT_GT(farthest, 30.0);
  EXPECT_LT(s.x - x0, farthest - 5.0);  // on its way back when it turns
}

TEST_F(BossStage1, Boss1APhase1OpensAtItsFirstTargetWithPatternZero) {
  GameObject& b = Boss(CreateBoss1A, 1, 0);
  Cycle(b) = 7;
  for (int f = 0; f < 60; ++f) UpdateBoss1A(b);
  EXPECT_EQ(b.sub_state, 1u);
  EXPECT_EQ(b.fight_stage, 1u);
  EXPECT_EQ(Cycle(b), 0u);
  UpdateBoss1A(b);
  EXPECT_EQ(b.sub_state, 2u);
  EXPECT_EQ(b.parts[kTravelPart].extra[kTravelTargetX], 210.0);
  EXPECT_EQ(b.parts[kTravelPart].extra[kTravelTargetY], 110.0);
  // The glide fires the straight volley on its first frame and every 40.
  ClearBullets();
  UpdateBoss1A(b);
  const auto volley = Bullets(kKindEnemyBullet72);
  ASSERT_EQ(volley.size(), 4u);
  const double angles[4] = {70, 82, 98, 110};
  const double speeds[4] = {3.0, 2.0, 2.0, 3.0};
  for (int i = 0; i < 4; ++i) {
    EXPECT_NEAR(Heading72(*volley[i]), angles[i], 1e-9);
    EXPECT_NEAR(Speed72(*volley[i]), speeds[i], 1e-9);
  }
}

TEST_F(BossStage1, Boss1APhase2GlidesOnceThenKeepsItsFigureAndVolleys) {
  GameObject& b = Boss(CreateBoss1A, 2, 1);
  int frames = 0;
  while (b.sub_state != 3 && frames < 1000) {
    UpdateBoss1A(b);
    ++frames;
  }
  ASSERT_EQ(b.sub_state, 3u);
  const double base_x = b.base.x, base_y = b.base.y;
  EXPECT_NEAR(base_x, 210.0, 3.5);
  EXPECT_NEAR(base_y, 136.0, 3.5);
  ClearBullets();
  size_t wings = 0, pairs = 0, straight = 0;
  for (uint32_t t = 0; t < 900; ++t) {
    UpdateBoss1A(b);
    const double a = (t + 1) * 0.67 * kPi / 180.0;
    const double c = (t + 1) * 0.55 * kPi / 180.0;
    EXPECT_NEAR(b.x, base_x + std::sin(a) * 160.0, 1e-6);
    EXPECT_NEAR(b.y, base_y + std::sin(c) * 45.0, 1e-6);
  }
  for (const GameObject& s : g_enemy_bullets) {
    if (s.in_use == 0) continue;
    wings += s.kind == kKindEnemyBullet74;
    pairs += s.kind == kKindEnemyBullet72 && s.level == 3;
    straight += s.kind == kKindEnemyBullet72 && s.level == 1;
  }
  EXPECT_EQ(b.sub_state, 3u);
  EXPECT_EQ(wings, 8u * 15);     // t mod 60 = 20
  EXPECT_EQ(pairs, 2u * 10);     // t mod 90 = 50
  EXPECT_EQ(straight, 4u * 23);  // t mod 40 = 0
}

TEST_F(BossStage1, Boss1ASpiralArmsTurnThreeDegreesAFrame) {
  GameObject& b = Boss(CreateBoss1A, 1, 3);
  b.attack.values[0] = 100.0;
  b.attack.values[1] = 50.0;
  b.sub_state_timer = 1;
  UpdateBoss1A(b);
  const auto arms = Bullets(kKindEnemyBullet73);
  ASSERT_EQ(arms.size(), 8u);
  for (size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(arms[i]->base.angle, i % 2 == 0 ? 103.0 : 47.0);
    EXPECT_EQ(arms[i]->variant, i % 2 == 0 ? 3u : 6u);
  }
  EXPECT_EQ(arms[6]->base.speed, 1.0);
  EXPECT_EQ(arms[6]->kind_values[kBulletFirstAccel], -0.06);
}

TEST_F(BossStage1, Boss1APhase3ReleasesItsOrbsInTurn) {
  GameObject& b = Boss(CreateBoss1A, 3, 0);
  UpdateBoss1A(b);
  EXPECT_EQ(b.fight_stage, 2u);
  EXPECT_EQ(b.sub_state, 1u);
  UpdateBoss1A(b);
  EXPECT_EQ(b.parts[kTravelPart].extra[kTravelTargetX], 348.0);
  const struct {
    uint32_t kind, colour;
  } kOrbs[4] = {{kKindSubUnitA, 3}, {kKindSubUnitB, 6}, {kKindSubUnitA, 6}, {kKindSubUnitB, 3}};
  for (int cycle = 0; cycle < 4; ++cycle) {
    for (GameObject& u : g_enemy_groups) u.in_use = 0, u.free = 1;
    g_sounds[15].request = 0;
    b.sub_state = 3;
    b.sub_state_timer = 0;
    Cycle(b) = cycle;
    const uint32_t state_timer = b.state_timer;
    UpdateBoss1A(b);
    EXPECT_EQ(b.state_timer, state_timer + 1);  // the last phase counts it itself
    const GameObject& u = g_enemy_groups[0];
    ASSERT_EQ(u.in_use, 1) << cycle;
    EXPECT_EQ(u.kind, kOrbs[cycle].kind);
    EXPECT_EQ(u.variant, kOrbs[cycle].colour);
    EXPECT_EQ(u.parent_index, kBossIndex);
    EXPECT_NEAR(u.parts[kSubUnitEntryPart].velocity_y, 0.2, 1e-12);
    EXPECT_EQ(u.parts[kSubUnitCruisePart].velocity_y, 0.0);
    EXPECT_EQ(g_sounds[15].request, 1);
    EXPECT_EQ(g_enemy_groups[1].in_use, 0);
  }
}

// ----- Boss 1B -------------------------------------------------------------------

TEST_F(BossStage1, Boss1BPhase1AimsFourRingsAAndThreeRingsBEachCycle) {
  GameObject& b = Boss(CreateBoss1B, 1, 3);
  std::vector<uint32_t> a_times, b_times;
  for (uint32_t t = 0; t < 180; ++t) {
    g_player.x = 40.0 + 2.0 * t;  // each ring aims anew
    ClearBullets();
    const double aim = AimFrom(b);
    const double bx = b.x, by = b.y;
    UpdateBoss1B(b);
    const auto shots = Bullets(kKindEnemyBullet72);
    if (shots.empty()) continue;
    const bool ring_a = shots.size() == 64;
    ASSERT_TRUE(ring_a || shots.size() == 48) << shots.size();
    (ring_a ? a_times : b_times).push_back(t);
    const int directions = ring_a ? 32 : 24;
    for (size_t i = 0; i < shots.size(); ++i) {
      const GameObject& s = *shots[i];
      EXPECT_EQ(s.x, bx);
      EXPECT_EQ(s.y, by);
      EXPECT_EQ(s.level, 2u);
      EXPECT_EQ(s.variant, ring_a ? 4u : 1u);
      EXPECT_NEAR(AngleDiff(Heading72(s), aim + (i / 2) * 360.0 / directions), 0.0, 1e-6);
      EXPECT_NEAR(Speed72(s), i % 2 == 0 ? 2.0 : 2.5, 1e-9);
    }
  }
  EXPECT_EQ(a_times, (std::vector<uint32_t>{10, 60, 110, 160}));
  EXPECT_EQ(b_times, (std::vector<uint32_t>{30, 80, 130}));
  EXPECT_EQ(b.sub_state, 1u);
  EXPECT_EQ(Cycle(b), 1u);
  // The next target is chosen and the glide starts in the same frame.
  UpdateBoss1B(b);
  EXPECT_EQ(b.sub_state, 2u);
  EXPECT_EQ(b.parts[kTravelPart].extra[kTravelTargetX], 325.0);
  EXPECT_EQ(b.parts[kTravelPart].move.speed, 0.3 + 0.1);
}

TEST_F(BossStage1, Boss1BPhase2SendsTwoBendingStreamsAndAnAimedFan) {
  GameObject& b = Boss(CreateBoss1B, 2, 3);
  b.sub_state_timer = 10;
  UpdateBoss1B(b);
  const auto streams = Bullets(kKindEnemyBullet75);
  ASSERT_EQ(streams.size(), 6u);
  const double expect[6][2] = {{250, -2.1}, {260, -2.3}, {270, -2.5},
                               {290, 2.1},  {280, 2.3},  {270, 2.5}};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(streams[i]->base.angle, expect[i][0]);
    EXPECT_EQ(streams[i]->kind_values[kBulletTurnRate], expect[i][1]);
    EXPECT_EQ(streams[i]->kind_values[kBulletTargetSpeed], 3.5);
  }
  ClearBullets();
  b.sub_state_timer = 30;
  const double aim = AimFrom(b);
  UpdateBoss1B(b);
  const auto fan = Bullets(kKindEnemyBullet72);
  ASSERT_EQ(fan.size(), 5u);
  for (int i = 0; i < 5; ++i) {
    EXPECT_NEAR(AngleDiff(Heading72(*fan[i]), aim + 15.0 * (i - 2)), 0.0, 1e-6);
  }
  EXPECT_NEAR(Speed72(*fan[2]), 2.8, 1e-9);
}

TEST_F(BossStage1, Boss1BPhase3LaunchesOrbsSidewaysThatFadeWhenThePhaseEnds) {
  GameObject& b = Boss(CreateBoss1B, 3, 3);
  UpdateBoss1B(b);
  ASSERT_EQ(g_enemy_groups[0].in_use, 1);
  EXPECT_EQ(g_enemy_groups[0].kind, static_cast<uint32_t>(kKindSubUnitA));
  EXPECT_NEAR(g_enemy_groups[0].parts[kSubUnitCruisePart].velocity_x, 3.0, 1e-12);
  while (b.sub_state_timer < 100) UpdateBoss1B(b);
  EXPECT_EQ(g_enemy_groups[1].in_use, 0);
  UpdateBoss1B(b);
  ASSERT_EQ(g_enemy_groups[1].in_use, 1);
  EXPECT_NEAR(g_enemy_groups[1].parts[kSubUnitCruisePart].velocity_x, -3.0, 1e-9);
  // The phase's life runs out: through the dispatch the boss marks the phase
  // end before the orbs update, and they fade from then on.
  b.killed = 1;
  UpdateObjects();
  EXPECT_EQ(g_game.boss_gauge.phase, 4u);
  EXPECT_EQ(g_enemy_groups[0].state, kSubUnitFade);
  EXPECT_EQ(g_enemy_groups[1].state, kSubUnitFade);
  UpdateObjects();
  EXPECT_EQ(b.phase_ended, 0);
  EXPECT_EQ(g_enemy_groups[1].state, kSubUnitFade);
  EXPECT_EQ(b.state, 4u);
}

TEST_F(BossStage1, Boss1BPhase4AimedRingOf54SmallShots) {
  GameObject& b = Boss(CreateBoss1B, 4, 3);
  b.sub_state_timer = 10;
  const double aim = AimFrom(b);
  UpdateBoss1B(b);
  const auto shots = Bullets(kKindEnemyBullet72);
  ASSERT_EQ(shots.size(), 54u);
  for (size_t i = 0; i < shots.size(); ++i) {
    const double offset = (i / 3) * 20.0 + (i % 3 == 1 ? 10.0 : 0.0);
    EXPECT_NEAR(AngleDiff(Heading72(*shots[i]), aim + offset), 0.0, 1e-6);
    EXPECT_EQ(shots[i]->level, 1u);
    EXPECT_EQ(shots[i]->variant, i % 3 == 1 ? 1u : 4u);
  }
}

TEST_F(BossStage1, Boss1BPhase5TakesFourGeneratorDrawsPerVolley) {
  GameObject& b = Boss(CreateBoss1B, 5, 3);
  // The independent reference: the same four draws straight from the
  // generator after the same seed.
  SeedRandom(4321);
  double expect[4];
  for (double& e : expect) e = GetRandomRange(360 * 65536) / 65536.0;
  SeedRandom(4321);
  const int32_t before = GetLibraryRandomState()->index;
  b.sub_state_timer = 6;
  UpdateBoss1B(b);
  EXPECT_EQ(GetLibraryRandomState()->index - before, 4);
  const auto shots = Bullets(kKindEnemyBullet72);
  ASSERT_EQ(shots.size(), 12u);
  const double speeds[12] = {1.5, 2.5, 4.5, 2.3, 3.3, 4.3, 1.8, 2.3, 2.8, 2.0, 2.5, 3.0};
  for (size_t i = 0; i < 12; ++i) {
    EXPECT_NEAR(AngleDiff(Heading72(*shots[i]), expect[i / 3]), 0.0, 1e-6);
    EXPECT_NEAR(Speed72(*shots[i]), speeds[i], 1e-9);
    EXPECT_EQ(shots[i]->variant, (i / 3) % 2 == 0 ? 1u : 4u);
  }
  // Nothing but every seventh frame, and the state timer counts.
  ClearBullets();
  const uint32_t state_timer = b.state_timer;
  for (int f = 0; f < 6; ++f) UpdateBoss1B(b);
  EXPECT_EQ(AllBullets(), 0u);
  EXPECT_EQ(b.state_timer, state_timer + 6);
}

TEST_F(BossStage1, Boss1BFightStartPlaysTheBossTrackWithItsCaptionAnd1ADoesNot) {
  struct Case {
    void (*create)(GameObject&);
    void (*update)(GameObject&);
    bool credit;
  };
  for (const Case& c : {Case{CreateBoss1A, UpdateBoss1A, false}, Case{CreateBoss1B, UpdateBoss1B, true}}) {
    const auto create = c.create;
    const auto update = c.update;
    const bool credit = c.credit;
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
    EXPECT_EQ(g_game.music_caption.on, credit ? 1 : 0);
    if (credit) {
      EXPECT_EQ(g_game.music_caption.text, kBossStories[kBoss1B].music_credit);
    }
  }
}

}  // namespace
