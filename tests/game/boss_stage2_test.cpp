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

}  // namespace
