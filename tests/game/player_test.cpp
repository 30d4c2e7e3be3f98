// The player in a sandbox with no enemies: entry, volleys, bombs, timers,
// movement and bounds, death; and the partner's two behaviours.
#include <gtest/gtest.h>

#include <vector>

#include "game/frame/game_error.h"
#include "game/frame/game_state.h"
#include "game/frame/input.h"
#include "game/objects/dispatch.h"
#include "game/objects/effects.h"
#include "game/objects/player.h"
#include "game/objects/resources.h"
#include "rorud/rorud.h"
#include "tests/game/game_fixture.h"

namespace {

struct Shot {
  double x, y, angle;
  uint32_t sub_type;
};
std::vector<Shot> g_shots;
std::vector<int> g_bombs;    // 1 bomb, 2 focused bomb
std::vector<uint32_t> g_cut_ins;

class PlayerTest : public gametest::GameTest {
 protected:
  void SetUp() override {
    GameTest::SetUp();
    saved_shot_ = g_create_player_shot;
    saved_bomb_ = g_create_bomb;
    saved_focus_bomb_ = g_create_focus_bomb;
    saved_cut_in_ = g_create_bomb_cut_in;
    g_shots.clear();
    g_bombs.clear();
    g_cut_ins.clear();
    g_create_player_shot = [](GameObject& r, double x, double y, double angle, uint32_t sub) {
      r.free = 0;
      r.in_use = 1;
      g_shots.push_back({x, y, angle, sub});
    };
    g_create_bomb = [](GameObject& r, double, double) {
      r.free = 0;
      r.in_use = 1;
      g_bombs.push_back(1);
    };
    g_create_focus_bomb = [](GameObject& r, double, double) {
      r.free = 0;
      r.in_use = 1;
      g_bombs.push_back(2);
    };
    g_create_bomb_cut_in = [](GameObject& r, uint32_t variant) {
      r.free = 0;
      r.in_use = 1;
      g_cut_ins.push_back(variant);
    };
    g_player_setups[1] = {1, 1};
    g_game.player_setup_row = 1;
    InitPlayer();
    ResetPlayerStatus();
  }
  void TearDown() override {
    g_create_player_shot = saved_shot_;
    g_create_bomb = saved_bomb_;
    g_create_focus_bomb = saved_focus_bomb_;
    g_create_bomb_cut_in = saved_cut_in_;
  }
  ShotCreatorFn saved_shot_ = nullptr;
  BombCreatorFn saved_bomb_ = nullptr;
  BombCreatorFn saved_focus_bomb_ = nullptr;
  CutInCreatorFn saved_cut_in_ = nullptr;
  // One frame with the given held input (pressed = held now, not before).
  void Frame(uint8_t actions = 0, uint8_t directions = 0) {
    g_input.previous_actions = g_input.held_actions;
    g_input.previous_directions = g_input.held_directions;
    g_input.held_actions = actions;
    g_input.held_directions = directions;
    g_input.pressed_actions = actions & ~g_input.previous_actions;
    g_input.pressed_directions = directions & ~g_input.previous_directions;
    UpdatePlayer(g_player);
    // The draw pass frees the player-side records again.
    FreeUnusedRecords(g_player_objects, kPlayerObjectPoolSize);
    for (GameObject& r : g_player_objects) {
      r.in_use = 0;
      r.free = 1;
    }
  }
  void SkipEntry() {
    for (int i = 0; i < 60; ++i) Frame();
  }
};

TEST_F(PlayerTest, EntryShrinksBlinksAndEndsAtFrame60) {
  EXPECT_EQ(g_player.scale, 4.0);
  EXPECT_EQ(g_player.x, 210.0);
  EXPECT_EQ(g_player.y, 420.0);
  for (int i = 1; i <= 50; ++i) {
    Frame();
    EXPECT_EQ(g_player.visible, (i - 1) % 3 == 0 ? 1 : 0) << i;
  }
  EXPECT_NEAR(g_player.scale, 1.5, 1e-9);
  Frame();
  EXPECT_EQ(g_player.scale, 1.5);
  for (int i = 52; i < 60; ++i) Frame(kActionShot, kDirUp);  // no control
  EXPECT_EQ(g_player.state, 0u);
  EXPECT_EQ(g_player.y, 420.0);
  EXPECT_TRUE(g_shots.empty());
  Frame();
  EXPECT_EQ(g_player.state, 1u);
  EXPECT_EQ(g_player.scale, 1.3);
  EXPECT_EQ(g_player.visible, 1);
}

TEST_F(PlayerTest, MovementClampsAndDiagonals) {
  SkipEntry();
  Frame(0, kDirUp | kDirRight | kDirDown);
  EXPECT_EQ(g_player.x, 210.0 + 5.0 / 1.41421356);
  EXPECT_EQ(g_player.y, 420.0 - 5.0 / 1.41421356);
  g_player.x = 210.0;
  Frame(0, kDirLeft | kDirRight);
  EXPECT_EQ(g_player.x, 215.0);  // right wins
  for (int i = 0; i < 100; ++i) Frame(0, kDirRight);
  EXPECT_EQ(g_player.x, 404.0);
  for (int i = 0; i < 100; ++i) Frame(0, kDirLeft);
  EXPECT_EQ(g_player.x, 16.0);
  for (int i = 0; i < 100; ++i) Frame(0, kDirDown);
  EXPECT_EQ(g_player.y, 464.0);
  for (int i = 0; i < 100; ++i) Frame(0, kDirUp);
  EXPECT_EQ(g_player.y, 16.0);
  g_player.y = 100.0;
  Frame(kActionFocus, kDirDown);
  EXPECT_EQ(g_player.y, 102.9);  // focused speed
}

TEST_F(PlayerTest, HeldShotFiresEveryEightFramesAndATapThreeVolleys) {
  SkipEntry();
  Frame(kActionShot);
  ASSERT_EQ(g_shots.size(), 6u);  // the normal volley on counter 1
  EXPECT_EQ(g_shots[0].x, 217.0);
  EXPECT_EQ(g_shots[1].x, 203.0);
  EXPECT_EQ(g_shots[5].angle, 258.0);
  EXPECT_EQ(g_sounds[30].request, 1);
  g_shots.clear();
  for (int i = 0; i < 7; ++i) Frame(kActionShot);
  EXPECT_TRUE(g_shots.empty());
  Frame(kActionShot);  // counter 9
  ASSERT_EQ(g_shots.size(), 6u);
  EXPECT_EQ(g_shots[0].angle, 273.0);

  // A single tap: counters 1, 9, 17; back to 0 on the 20th frame after it.
  for (int i = 0; i < 40; ++i) Frame();
  g_shots.clear();
  Frame(kActionShot);
  int volleys = g_shots.empty() ? 0 : 1;
  size_t seen = g_shots.size();
  for (int i = 1; i <= 19; ++i) {
    Frame();
    if (g_shots.size() != seen) ++volleys;
    seen = g_shots.size();
  }
  EXPECT_EQ(volleys, 3);
  EXPECT_EQ(g_player_status.shot_counter, 20u);
  Frame();
  EXPECT_EQ(g_player_status.shot_counter, 0u);
}

TEST_F(PlayerTest, StrongFocusedShotCostsGauge) {
  SkipEntry();
  g_player_status.power_gauge = 1.0;
  Frame(kActionShot | kActionFocus);
  ASSERT_EQ(g_shots.size(), 8u);
  EXPECT_EQ(g_shots[0].sub_type, 1u);
  EXPECT_EQ(g_player_status.power_gauge, 0.0);
  EXPECT_EQ(g_player_status.shot_power, 500.0);
  for (int i = 0; i < 8; ++i) Frame(kActionShot | kActionFocus);
  EXPECT_EQ(g_shots.size(), 8u + 6u);
  EXPECT_EQ(g_shots.back().sub_type, 0u);

  for (int i = 0; i < 40; ++i) Frame();
  g_shots.clear();
  g_player_status.power_gauge = 0.5;
  Frame(kActionShot | kActionFocus);
  ASSERT_EQ(g_shots.size(), 6u);
  EXPECT_EQ(g_player_status.power_gauge, 0.5);
}

TEST_F(PlayerTest, WeakShotAfterAHit) {
  SkipEntry();
  g_player_status.weak_shot_timer = 40;
  Frame(kActionShot);
  ASSERT_EQ(g_shots.size(), 2u);
  EXPECT_EQ(g_shots[0].angle, 270.0);
}

TEST_F(PlayerTest, BombsNeedGaugeAndCooldown) {
  SkipEntry();
  g_player_status.power_gauge = 100.0;
  Frame(kActionBomb);
  EXPECT_EQ(g_bombs, std::vector<int>{1});
  EXPECT_EQ(g_cut_ins, std::vector<uint32_t>{1});
  EXPECT_EQ(g_player_status.power_gauge, 0.0);
  EXPECT_EQ(g_player_status.bomb_cooldown, 99u);  // counted down this frame
  EXPECT_EQ(g_player.invulnerable, 1);
  EXPECT_EQ(g_sounds[27].request, 1);

  g_player_status.power_gauge = 500.0;
  for (int i = 0; i < 98; ++i) Frame(i % 2 ? kActionBomb : 0);
  EXPECT_EQ(g_bombs.size(), 1u);  // within the cooldown
  Frame();
  Frame(kActionBomb);
  EXPECT_EQ(g_bombs.size(), 2u);

  for (int i = 0; i < 200; ++i) Frame();
  g_bombs.clear();
  g_player_status.power_gauge = 150.0;
  Frame(kActionBomb | kActionFocus);
  EXPECT_TRUE(g_bombs.empty());  // no ordinary bomb in its place
  g_player_status.power_gauge = 200.0;
  Frame(kActionFocus);
  Frame(kActionBomb | kActionFocus);
  EXPECT_EQ(g_bombs, std::vector<int>{2});
  EXPECT_EQ(g_player_status.bomb_cooldown, 299u);
  EXPECT_EQ(g_player_status.bomb_invulnerable_timer, 399u);
}

TEST_F(PlayerTest, TalkModeStopsShotsAndBombsNotMovement) {
  SkipEntry();
  g_game.talk.talk_mode = 1;
  g_player_status.hit_invulnerable_timer = 5;
  Frame(kActionShot | kActionBomb, kDirLeft);
  EXPECT_TRUE(g_shots.empty());
  EXPECT_TRUE(g_bombs.empty());
  EXPECT_EQ(g_player.x, 205.0);
  EXPECT_EQ(g_player_status.hit_invulnerable_timer, 4u);
}

TEST_F(PlayerTest, BlinkWhileInvulnerable) {
  SkipEntry();
  g_player_status.hit_invulnerable_timer = 40;
  for (int i = 0; i < 30; ++i) {
    const uint32_t t = g_player.state_timer;
    Frame();
    EXPECT_EQ(g_player.visible, t % 3 == 2 ? 1 : 0) << i;
    EXPECT_EQ(g_player.invulnerable, 1);
  }
}

TEST_F(PlayerTest, DeathMakesFifteenPairsAndReturnsToTheTitle) {
  SkipEntry();
  g_game.levels[kLevelScene] = kSceneStage1;
  g_game.levels[kLevelPhase] = 7;
  g_player_status.life = 0.0;
  Frame();
  EXPECT_EQ(g_player.state, 2u);
  int explosions = 0, bursts = 0;
  for (int t = 0; t <= 320; ++t) {
    EXPECT_EQ(g_game.levels[kLevelScene], kSceneStage1) << t;
    Frame();
  }
  for (const GameObject& e : g_effects) {
    if (e.in_use == 0 && e.free == 1) continue;
    if (e.kind == kKindExplosion) ++explosions;
    if (e.kind == kKindBurst) ++bursts;
  }
  EXPECT_EQ(explosions, 15);
  EXPECT_EQ(bursts, 15);
  EXPECT_EQ(g_effects[0].kind, kKindExplosion);
  EXPECT_EQ(g_effects[1].kind, kKindBurst);
  EXPECT_EQ(g_effects[0].level, 4u);
  EXPECT_EQ(g_game.levels[kLevelScene], kSceneTitle);
  EXPECT_EQ(g_game.levels[kLevelPhase], 0u);
}

TEST_F(PlayerTest, DeathDrawsFourPositionsAndFifteenExplosionValuesPerPair) {
  SkipEntry();
  g_player_status.life = 0.0;
  Frame();
  SeedRandom(99);
  Frame();  // state timer 0: one pair
  const int after = GetRandomRange(0x3FFFFFFF);
  SeedRandom(99);
  for (int i = 0; i < 4 + 15; ++i) GetRandomRange(0);
  EXPECT_EQ(after, GetRandomRange(0x3FFFFFFF));
}

TEST_F(PlayerTest, PartnerADashesTowardsThePlayer) {
  GameObject& p = g_partner;
  p.in_use = 1;
  p.state = 1;
  p.x = 210.0;
  p.y = 200.0;
  g_player.x = 210.0;
  g_player.y = 400.0;
  for (int i = 0; i < 60; ++i) UpdatePartnerA(p);
  EXPECT_EQ(p.sub_state, 1u);
  EXPECT_NEAR(p.base.angle, 90.0, 1e-9);
  for (int i = 0; i < 20; ++i) UpdatePartnerA(p);
  EXPECT_NEAR(p.base.speed, 2.4, 1e-9);  // 20 x 0.12, under the 3.0 cap
  EXPECT_GT(p.y, 200.0);
}

TEST_F(PlayerTest, PartnerBEntryShrinksToOne) {
  GameObject& p = g_partner;
  p.in_use = 1;
  p.state = 0;
  p.scale = 2.0;
  for (int i = 0; i < 50; ++i) UpdatePartnerB(p);
  EXPECT_EQ(p.state, 1u);
  EXPECT_EQ(p.scale, 1.0);
}

}  // namespace
