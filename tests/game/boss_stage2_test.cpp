// Stage 2's mid-boss and boss: their volleys, with every random value
// checked against the generator's own draws in the written order, their
// glides and the first dialogue step that fills on its third frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <vector>

#include "game/bosses/boss.h"
#include "game/bosses/story.h"
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
constexpr uint32_t kSeed = 4321;

std::vector<GameObject*> Bullets(uint32_t kind) {
  std::vector<GameObject*> out;
  for (GameObject& b : g_enemy_bullets) {
    if (b.in_use != 0 && b.kind == kind) out.push_back(&b);
  }
  return out;
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
  return std::atan2(b.parts[0].velocity_y, b.parts[0].velocity_x) * 180.0 / kPi;
}
double AngleDiff(double a, double b) {
  double d = std::fmod(a - b, 360.0);
  if (d > 180.0) d -= 360.0;
  if (d < -180.0) d += 360.0;
  return d;
}

// The generator's own draws for values in [low, high], in steps of 1/65536.
class Draws {
 public:
  explicit Draws(uint32_t seed) { SeedRandom(seed); }
  double Next(double low, double high) {
    return low + GetRandomRange(static_cast<int32_t>((high - low) * 65536)) / 65536.0;
  }
};
int32_t DrawIndex() { return GetLibraryRandomState()->index; }

class BossStage2 : public gametest::GameTest {
 protected:
  void SetUp() override {
    GameTest::SetUp();
    g_player.in_use = 1;
    g_player.x = 150.0;
    g_player.y = 420.0;
  }
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

// One kind-74 shot as the volleys name it.
struct Turn {
  uint32_t colour, size;
  double angle, speed, first_accel, new_angle;
};
void ExpectTurn(const GameObject& s, const Turn& e, const char* where, size_t i) {
  EXPECT_EQ(s.variant, e.colour) << where << i;
  EXPECT_EQ(s.level, e.size) << where << i;
  EXPECT_EQ(s.kind_counters[kBulletFirstFrames], 60u) << where << i;
  EXPECT_EQ(s.base.angle, e.angle) << where << i;
  EXPECT_EQ(s.base.speed, e.speed) << where << i;
  EXPECT_EQ(s.kind_values[kBulletFirstAccel], e.first_accel) << where << i;
  EXPECT_EQ(s.kind_values[kBulletNewAngle], e.new_angle) << where << i;
  EXPECT_EQ(s.kind_values[kBulletSecondAccel], 0.05) << where << i;
  EXPECT_EQ(s.kind_values[kBulletSecondLimit], 2.0) << where << i;
}

// ----- Boss 2A -------------------------------------------------------------------

TEST_F(BossStage2, Boss2APhase1RingOfTwelvePairsEachShotWithItsOwnWobble) {
  for (uint32_t cycle : {0u, 1u}) {
    ClearBullets();
    GameObject& b = Boss(CreateBoss2A, 1, 3);
    Cycle(b) = cycle;
    b.sub_state_timer = 30;
    Draws d(kSeed);
    std::vector<Turn> expect;
    const bool even = cycle == 0;
    for (int i = 0; i < 12; ++i) {
      const double a = i * 30.0;
      const double r1 = d.Next(-5.0, 5.0);
      expect.push_back({even ? 2u : 3u, 1, a, 2.0, -0.03, r1 + 90.0});
      const double r2 = d.Next(-5.0, 5.0);
      expect.push_back({even ? 3u : 2u, 2, a, even ? 3.0 : 3.5, -0.03, r2 + 90.0});
    }
    SeedRandom(kSeed);
    const int32_t before = DrawIndex();
    g_sounds[19].request = 0;
    UpdateBoss2A(b);
    EXPECT_EQ(DrawIndex() - before, 24);
    const auto ring = Bullets(kKindEnemyBullet74);
    ASSERT_EQ(ring.size(), 24u);
    EXPECT_EQ(AllBullets(), 24u);
    for (size_t i = 0; i < ring.size(); ++i) {
      ExpectTurn(*ring[i], expect[i], "ring shot ", i);
      EXPECT_EQ(ring[i]->x, 210.0);
    }
    EXPECT_EQ(g_sounds[19].request, 1);
    EXPECT_TRUE(std::any_of(std::begin(g_effects), std::end(g_effects),
                            [](const GameObject& e) { return e.in_use && e.kind == kKindBossBurst; }));
  }
}

TEST_F(BossStage2, Boss2APhase1CycleFansTwiceRingsOnceAndMovesOn) {
  GameObject& b = Boss(CreateBoss2A, 1, 0);
  Cycle(b) = 3;
  for (int f = 0; f < 60; ++f) UpdateBoss2A(b);
  EXPECT_EQ(b.sub_state, 1u);
  EXPECT_EQ(Cycle(b), 0u);  // the phase opens at its first target
  UpdateBoss2A(b);
  EXPECT_EQ(b.parts[kTravelPart].extra[kTravelTargetX], 256.0);
  EXPECT_EQ(b.parts[kTravelPart].extra[kTravelTargetY], 110.0);
  int frames = 0;
  while (b.sub_state != 3 && frames++ < 1000) UpdateBoss2A(b);
  ASSERT_EQ(b.sub_state, 3u);
  std::vector<uint32_t> fans, rings;
  for (uint32_t t = 0; t < 180; ++t) {
    ClearBullets();
    UpdateBoss2A(b);
    if (!Bullets(kKindEnemyBullet74).empty()) rings.push_back(t);
    const auto fan = Bullets(kKindEnemyBullet72);
    if (fan.empty()) continue;
    fans.push_back(t);
    ASSERT_EQ(fan.size(), 5u);
    EXPECT_EQ(fan[2]->variant, 2u);
    EXPECT_EQ(fan[1]->variant, 3u);
  }
  EXPECT_EQ(fans, (std::vector<uint32_t>{50, 150}));
  EXPECT_EQ(rings, (std::vector<uint32_t>{30}));
  EXPECT_EQ(b.sub_state, 1u);
  EXPECT_EQ(Cycle(b), 1u);
  UpdateBoss2A(b);
  EXPECT_EQ(b.parts[kTravelPart].extra[kTravelTargetX], 164.0);
}

TEST_F(BossStage2, Boss2APhase2SidewaysPairsFromTheLoopsFirstFrame) {
  GameObject& b = Boss(CreateBoss2A, 2, 1);
  int frames = 0;
  while (b.sub_state != 3 && frames++ < 1000) UpdateBoss2A(b);
  ASSERT_EQ(b.sub_state, 3u);
  ClearBullets();
  Draws d(kSeed);
  std::vector<Turn> expect;
  for (int i = 0; i < 14; ++i) {
    const double a = d.Next(-18.0, 18.0);
    const double r = d.Next(-5.0, 5.0);
    const double s = d.Next(1.0, 3.5);
    expect.push_back({3, 1, a, s, -0.02, r + 90.0});
    expect.push_back({2, 2, a + 180.0, s, -0.02, r + 90.0});
  }
  SeedRandom(kSeed);
  const int32_t before = DrawIndex();
  UpdateBoss2A(b);  // timer 0
  EXPECT_EQ(DrawIndex() - before, 42);
  const auto pairs = Bullets(kKindEnemyBullet74);
  ASSERT_EQ(pairs.size(), 28u);
  for (size_t i = 0; i < pairs.size(); ++i) ExpectTurn(*pairs[i], expect[i], "pair shot ", i);
  // The seven pairs of timer 70 lead with the large shot.
  ClearBullets();
  while (b.sub_state_timer < 70) UpdateBoss2A(b);
  UpdateBoss2A(b);
  const auto seven = Bullets(kKindEnemyBullet74);
  ASSERT_EQ(seven.size(), 14u);
  EXPECT_EQ(seven[0]->variant, 2u);
  EXPECT_EQ(seven[0]->level, 2u);
  EXPECT_EQ(seven[1]->variant, 3u);
  EXPECT_EQ(seven[1]->base.angle, seven[0]->base.angle + 180.0);
  EXPECT_EQ(Bullets(kKindEnemyBullet72).size(), 5u);  // and the fan of timer 50
}

TEST_F(BossStage2, Boss2APhase3GroupsThenTheSixteenPairRing) {
  GameObject& b = Boss(CreateBoss2A, 3, 0);
  UpdateBoss2A(b);
  EXPECT_EQ(b.fight_stage, 2u);
  UpdateBoss2A(b);
  EXPECT_EQ(b.parts[kTravelPart].extra[kTravelTargetX], 348.0);
  b.sub_state = 3;
  b.sub_state_timer = 50;
  Draws d(kSeed);
  std::vector<Turn> expect;
  for (int i = 0; i < 20; ++i) {
    const double a = d.Next(-18.0, 18.0);
    const double r = d.Next(-5.0, 5.0);
    const double s1 = d.Next(1.0, 5.5);
    const double s2 = d.Next(1.0, 5.5);
    expect.push_back({3, 1, a, s1, -0.02, r + 90.0});
    expect.push_back({2, 1, a + 180.0, s1, -0.02, r + 90.0});
    expect.push_back({3, 1, a, s2, -0.02, r + 90.0});
    expect.push_back({2, 1, a + 180.0, s2, -0.02, r + 90.0});
  }
  for (int i = 0; i < 16; ++i) {
    const double r1 = d.Next(-5.0, 5.0);
    expect.push_back({2, 2, i * 22.5, 2.0, -0.03, r1 + 90.0});
    const double r2 = d.Next(-5.0, 5.0);
    expect.push_back({3, 2, i * 22.5, 3.0, -0.03, r2 + 90.0});
  }
  SeedRandom(kSeed);
  const int32_t before = DrawIndex();
  UpdateBoss2A(b);
  EXPECT_EQ(DrawIndex() - before, 112);
  const auto shots = Bullets(kKindEnemyBullet74);
  ASSERT_EQ(shots.size(), 112u);
  for (size_t i = 0; i < shots.size(); ++i) ExpectTurn(*shots[i], expect[i], "shot ", i);
  // Nothing else in the cycle, which ends after 180 frames.
  ClearBullets();
  while (b.sub_state == 3) UpdateBoss2A(b);
  EXPECT_EQ(AllBullets(), 0u);
  EXPECT_EQ(Cycle(b), 1u);
}

// The entry: the first step of each dialogue fills on its third frame, the
// steps run in their written order, and the fight starts with or without the
// boss track.
void RunEntry(void (*create)(GameObject&), void (*update)(GameObject&), bool boss_track,
              const std::vector<uint32_t>& steps) {
  gametest::ResetGameGlobals();
  g_find_free_index = kBossIndex;
  GameObject& b = g_enemies[kBossIndex];
  create(b);
  g_game.talk.talk_mode = 1;
  g_input.held_actions = kActionFocus;  // every step lasts its minimum
  while (b.sub_state != kTalkFirstStep) update(b);
  update(b);
  update(b);
  EXPECT_EQ(g_game.talk.left_speaks + g_game.talk.right_speaks, 0);
  update(b);  // sub-state timer 2
  EXPECT_EQ(g_game.talk.left_speaks + g_game.talk.right_speaks, 1);
  std::vector<uint32_t> seen = {kTalkFirstStep};
  int frames = 0;
  while (b.state == 0 && frames++ < 2000) {
    update(b);
    if (b.state == 0 && b.sub_state != seen.back()) seen.push_back(b.sub_state);
  }
  EXPECT_EQ(seen, steps);
  EXPECT_EQ(b.state, 1u);
  EXPECT_EQ(g_game.talk.talk_mode, 0);
  EXPECT_EQ(g_game.music_caption.on, boss_track ? 1 : 0);
}

TEST_F(BossStage2, Boss2AEntryDialogue) {
  RunEntry(CreateBoss2A, UpdateBoss2A, false, {10, 11, 12, 13, 14, 15, 50});
}

TEST_F(BossStage2, Boss2BEntryDialogueThenTheBossTrack) {
  RunEntry(CreateBoss2B, UpdateBoss2B, true, {10, 11, 12, 14, 50});
  EXPECT_EQ(g_game.music_caption.text, kBossStories[kBoss2B].music_credit);
}

// ----- Boss 2B -------------------------------------------------------------------

double Rotation(const GameObject& b) { return b.attack.values[2]; }

// Checks a cross of four shots: colours 4, 2, 4, 2 at rot + 90 i.
void ExpectCross(const std::vector<GameObject*>& shots, size_t first, double rot, double x,
                 double y, double speed, const uint32_t (&sizes)[4]) {
  for (size_t i = 0; i < 4; ++i) {
    const GameObject& s = *shots[first + i];
    EXPECT_EQ(s.variant, i % 2 == 0 ? 4u : 2u) << first + i;
    EXPECT_EQ(s.level, sizes[i]) << first + i;
    EXPECT_EQ(s.x, x) << first + i;
    EXPECT_EQ(s.y, y) << first + i;
    EXPECT_NEAR(AngleDiff(Heading72(s), rot + 90.0 * i), 0.0, 1e-9) << first + i;
    EXPECT_NEAR(std::hypot(s.parts[0].velocity_x, s.parts[0].velocity_y), speed, 1e-12);
  }
}

TEST_F(BossStage2, Boss2BPhase1CrossesTurnThreeDegreesAFrame) {
  GameObject& b = Boss(CreateBoss2B, 1, 1);
  UpdateBoss2B(b);
  EXPECT_EQ(b.parts[kTravelPart].extra[kTravelTargetX], 302.0);
  int frames = 0;
  double aim = 0.0;
  while (b.sub_state != 3 && frames++ < 1000) {
    aim = std::atan2(g_player.y - b.y, g_player.x - b.x) * 180.0 / kPi;
    UpdateBoss2B(b);
  }
  ASSERT_EQ(b.sub_state, 3u);
  EXPECT_NEAR(AngleDiff(Rotation(b), aim + 90.0), 0.0, 1e-9);
  const uint32_t mixed[4] = {1, 2, 1, 2};
  for (uint32_t pattern = 0; pattern < 3; ++pattern) {
    b.sub_state = 3;
    b.sub_state_timer = 0;
    Cycle(b) = pattern;
    int volleys = 0;
    const int32_t draws = DrawIndex();
    for (uint32_t t = 0; t < 180; ++t) {
      ClearBullets();
      const double rot = Rotation(b);
      const double x = b.x, y = b.y;
      UpdateBoss2B(b);
      EXPECT_EQ(Rotation(b), rot + 3.0);
      const auto shots = Bullets(kKindEnemyBullet72);
      if (shots.empty()) continue;
      ++volleys;
      ASSERT_EQ(shots.size(), 8u) << t;
      ExpectCross(shots, 0, rot + 3.0, x, y, pattern == 1 ? 2.7 : 2.6, mixed);
      ExpectCross(shots, 4, rot + 3.0, x, y, 2.1, mixed);
    }
    EXPECT_EQ(volleys, pattern == 2 ? 43 : 34);  // timer < 170, every 4th or 5th frame
    EXPECT_EQ(DrawIndex(), draws);
    EXPECT_EQ(Cycle(b), pattern + 1);
  }
}

TEST_F(BossStage2, Boss2BPhases2And3DoubleCrossesCrossesAndAimedRings) {
  GameObject& b = Boss(CreateBoss2B, 2, 3);
  BossStartTravelSine(b, 1.11, 160.0, 0.55, 45.0);
  b.sub_state_timer = 1;
  const double rot = Rotation(b);
  UpdateBoss2B(b);
  auto shots = Bullets(kKindEnemyBullet72);
  ASSERT_EQ(shots.size(), 16u);
  for (size_t i = 0; i < 16; ++i) {
    const double d = 3.0 * ((i % 8) / 2);
    const bool small = i % 2 == 0;
    EXPECT_NEAR(AngleDiff(Heading72(*shots[i]), rot + 3.0 + d + (small ? 0.0 : 180.0)), 0.0, 1e-9);
    EXPECT_EQ(shots[i]->level, small ? 1u : 2u);
    EXPECT_EQ(shots[i]->variant, small ? 4u : 2u);
  }
  EXPECT_NEAR(std::hypot(shots[15]->parts[0].velocity_x, shots[15]->parts[0].velocity_y), 2.1,
              1e-12);

  ClearBullets();
  GameObject& c = Boss(CreateBoss2B, 3, 3);
  ClearValueList(c.attack);  // as the phase's opening does: the rotation from 0
  c.sub_state_timer = 10;
  const double aim = std::atan2(g_player.y - c.y, g_player.x - c.x) * 180.0 / kPi;
  UpdateBoss2B(c);
  shots = Bullets(kKindEnemyBullet72);
  ASSERT_EQ(shots.size(), 28u);  // a cross (timer mod 5 = 0) and the ring of 20
  const uint32_t large[4] = {2, 2, 2, 2};
  ExpectCross(shots, 0, 3.0, 210.0, 120.0, 2.6, large);
  ExpectCross(shots, 4, 3.0, 210.0, 120.0, 2.1, large);
  for (size_t i = 0; i < 20; ++i) {
    EXPECT_NEAR(AngleDiff(Heading72(*shots[8 + i]), aim + 18.0 * i), 0.0, 1e-9);
  }
}

TEST_F(BossStage2, Boss2BPhase4KeepsAboutTenOrbsAlive) {
  GameObject& b = Boss(CreateBoss2B, 4, 3);
  BossStartTravelSine(b, 1.17, 30.0, 0.55, 15.0);
  size_t most = 0;
  int launches = 0;
  for (int f = 0; f < 1600; ++f) {
    g_sounds[13].request = 0;
    const uint32_t t = b.sub_state_timer;
    UpdateObjects();
    const size_t live = std::count_if(std::begin(g_enemy_groups), std::end(g_enemy_groups),
                                      [](const GameObject& u) {
                                        return u.in_use && u.kind == kKindSubUnitC;
                                      });
    most = std::max(most, live);
    const bool launch = t % 70 == 0 || t % 80 == 50;
    launches += launch;
    EXPECT_EQ(g_sounds[13].request, launch ? 1 : 0) << t;
    for (GameObject& e : g_effects) e.in_use = 0, e.free = 1;
    ClearBullets();
  }
  EXPECT_EQ(b.state, 4u);
  EXPECT_GE(most, 9u);
  EXPECT_LE(most, 12u);
  EXPECT_EQ(launches, 40);  // 23 and 20 launch frames, three of them shared
}

TEST_F(BossStage2, Boss2BPhase5CrossesStartAtFourPointsAroundTheBoss) {
  GameObject& b = Boss(CreateBoss2B, 5, 3);
  BossStartTravelSine(b, 1.17, 160.0, 0.55, 45.0);
  b.sub_state_timer = 2;
  const uint32_t large[4] = {2, 2, 2, 2};
  UpdateBoss2B(b);
  auto shots = Bullets(kKindEnemyBullet72);
  ASSERT_EQ(shots.size(), 16u);
  ExpectCross(shots, 0, 3.0, 260.0, 170.0, 2.6, large);
  ExpectCross(shots, 4, 3.0, 260.0, 170.0, 2.1, large);
  ExpectCross(shots, 8, 3.0, 160.0, 170.0, 2.6, large);
  ExpectCross(shots, 12, 3.0, 160.0, 170.0, 2.1, large);
  ClearBullets();
  while (b.sub_state_timer < 12) UpdateBoss2B(b);
  EXPECT_EQ(AllBullets(), 0u);
  const double rot = Rotation(b) + 3.0, x = b.x, y = b.y;
  UpdateBoss2B(b);
  shots = Bullets(kKindEnemyBullet72);
  ASSERT_EQ(shots.size(), 8u);
  ExpectCross(shots, 0, rot, x + 50.0, y - 50.0, 2.6, large);
  ExpectCross(shots, 4, rot, x - 50.0, y - 50.0, 2.6, large);
}

}  // namespace
