// Effects: random draws of the explosion, lifetimes of explosions and ring
// effects, the boss aura's approach and its boss going away.
#include <gtest/gtest.h>

#include <cstring>

#include "game/frame/game_error.h"
#include "game/objects/dispatch.h"
#include "game/objects/effects.h"
#include "rorud/rorud.h"
#include "tests/game/game_fixture.h"

namespace {

using gametest::GameTest;

// The generator's next word after `draws` draws from `seed`.
int WordAfter(uint32_t seed, int draws) {
  SeedRandom(seed);
  for (int i = 0; i < draws; ++i) GetRandomRange(0);
  return GetRandomRange(0x3FFFFFFF);
}

TEST_F(GameTest, ExplosionDrawsElevenOrFifteenValues) {
  const int expected[5] = {0, 11, 11, 15, 15};
  for (uint32_t v = 1; v <= 4; ++v) {
    SeedRandom(777);
    GameObject r{};
    CreateExplosion(r, v, 0, 100.0, 100.0);
    const int next = GetRandomRange(0x3FFFFFFF);
    EXPECT_EQ(next, WordAfter(777, expected[v])) << "variant " << v;
    EXPECT_NE(next, WordAfter(777, expected[v] - 1)) << "variant " << v;
  }
}

TEST_F(GameTest, ExplosionTakesItsValuesInOrder) {
  SeedRandom(4242);
  const int bx = GetRandomRange(96 * 65536), by = GetRandomRange(96 * 65536);
  int puff[10];
  for (int& p : puff) p = GetRandomRange(96 * 65536);
  const int scale = GetRandomRange(static_cast<int>(0.8 * 65536));
  const int blend = GetRandomRange(32 * 65536);
  const int delay = GetRandomRange(8);

  SeedRandom(4242);
  GameObject r{};
  CreateExplosion(r, 4, 2, 200.0, 150.0);
  EXPECT_EQ(r.base.x, 200.0 + (bx / 65536.0 - 48.0));
  EXPECT_EQ(r.base.y, 150.0 + (by / 65536.0 - 48.0));
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(r.parts[i].move.x, 200.0 + (puff[2 * i] / 65536.0 - 48.0)) << i;
    EXPECT_EQ(r.parts[i].move.y, 150.0 + (puff[2 * i + 1] / 65536.0 - 48.0)) << i;
  }
  EXPECT_EQ(r.parts[3].flag, 1);
  EXPECT_EQ(r.parts[4].flag, 1);
  EXPECT_EQ(r.scale, scale / 65536.0 + 1.5);
  EXPECT_EQ(r.blend_value, blend / 65536.0 + 224.0);
  EXPECT_EQ(r.kind_counters[kExplosionDelay], static_cast<uint32_t>(delay));
  EXPECT_EQ(r.draw_layer, 2);  // sub-type 2
  EXPECT_EQ(r.visible, 0);
  EXPECT_EQ(r.kind, kKindExplosion);

  GameObject small{};
  CreateExplosion(small, 1, 0, 0.0, 0.0);
  EXPECT_EQ(small.parts[3].flag, 0);
  EXPECT_EQ(small.parts[4].flag, 0);
  EXPECT_EQ(small.draw_layer, 3);
}

TEST_F(GameTest, ExplosionBadVariantStopsWithoutMakingAnything) {
  GameObject r{};
  r.free = 1;
  CreateExplosion(r, 5, 0, 0.0, 0.0);
  EXPECT_EQ(g_stop_flag, 1);
  EXPECT_STREQ(g_error_text, "FC_EXP_n");
  EXPECT_EQ(r.in_use, 0);
}

// Updates until the record leaves use; returns the number of updates.
template <typename F>
int UpdatesUntilRemoved(GameObject& r, F update, int limit = 10000) {
  for (int n = 1; n <= limit; ++n) {
    update(r);
    if (r.in_use == 0) return n;
  }
  return -1;
}

TEST_F(GameTest, ExplosionDelayAndAnimationLength) {
  GameObject r{};
  CreateExplosion(r, 4, 0, 0.0, 0.0);
  r.kind_counters[kExplosionDelay] = 8;
  for (int i = 1; i <= 7; ++i) {
    UpdateExplosion(r);
    EXPECT_EQ(r.visible, 0) << i;
  }
  UpdateExplosion(r);
  EXPECT_EQ(r.visible, 1);
  EXPECT_EQ(r.state, 1u);
  EXPECT_EQ(UpdatesUntilRemoved(r, UpdateExplosion), 60);
  EXPECT_EQ(r.kind_counters[kExplosionFrame], 9u);
  EXPECT_EQ(r.x, 300.0);

  for (uint32_t delay : {0u, 1u}) {
    GameObject e{};
    CreateExplosion(e, 1, 0, 0.0, 0.0);
    e.kind_counters[kExplosionDelay] = delay;
    UpdateExplosion(e);
    EXPECT_EQ(e.visible, 1) << delay;
    // Frame k is shown for 3 updates; removed on the 30th.
    for (int i = 1; i < 30; ++i) {
      UpdateExplosion(e);
      ASSERT_EQ(e.in_use, 1) << i;
      EXPECT_EQ(e.kind_counters[kExplosionFrame], static_cast<uint32_t>(i / 3)) << i;
    }
    UpdateExplosion(e);
    EXPECT_EQ(e.in_use, 0);
  }
}

TEST_F(GameTest, RingEffectLifetimes) {
  const int burst[4] = {47, 60, 150, 187};
  for (uint32_t size = 1; size <= 4; ++size) {
    GameObject r{};
    CreateBurst(r, 1, size, 10.0, 10.0);
    EXPECT_EQ(UpdatesUntilRemoved(r, UpdateBurst), burst[size - 1]) << size;
    EXPECT_EQ(r.blend_value, 0.0);
  }
  const int boss[2] = {63, 89};
  for (uint32_t size = 1; size <= 2; ++size) {
    GameObject r{};
    CreateBossBurst(r, 3, size, 10.0, 10.0);
    EXPECT_EQ(r.graphic_id, 442u);
    double max_scale = 0.0;
    const int n = UpdatesUntilRemoved(r, [&](GameObject& o) {
      UpdateBossBurst(o);
      if (o.scale > max_scale) max_scale = o.scale;
    });
    EXPECT_EQ(n, boss[size - 1]) << size;
    EXPECT_LE(max_scale, 3.5);
  }
}

TEST_F(GameTest, BurstRingStepSwitchesAfterEleventhUpdate) {
  GameObject r{};
  CreateBurst(r, 4, 1, 0.0, 0.0);
  EXPECT_EQ(r.graphic_id, 451u);
  EXPECT_EQ(r.kind_counters[kRingCount], 7u);
  for (int i = 0; i < 11; ++i) UpdateBurst(r);
  EXPECT_EQ(r.parts[0].move.speed, 1.5);
  UpdateBurst(r);
  EXPECT_EQ(r.parts[0].move.speed, -0.1);
}

TEST_F(GameTest, BossBurstScaleIsCapped) {
  GameObject r{};
  CreateBossBurst(r, 1, 2, 0.0, 0.0);
  r.scale = 3.49;
  UpdateBossBurst(r);
  EXPECT_EQ(r.scale, 3.5);
}

TEST_F(GameTest, RingCreatorsRefuseBadAppearanceAndSize) {
  struct Case {
    void (*create)(GameObject&, uint32_t, uint32_t, double, double);
    uint32_t appearance, size;
    const char* tag;
  };
  const Case cases[] = {
      {CreateBurst, 2, 1, "FC_HAJ_n1"},     {CreateBurst, 1, 5, "FC_HAJ_n2"},
      {CreateBurst, 1, 0, "FC_HAJ_n2"},     {CreateBossBurst, 8, 1, "FC_HAJ_n1"},
      {CreateBossBurst, 0, 1, "FC_HAJ_n1"}, {CreateBossBurst, 1, 3, "FC_HAT_n2"},
  };
  for (const Case& c : cases) {
    g_stop_flag = 0;
    GameObject r{};
    c.create(r, c.appearance, c.size, 0.0, 0.0);
    EXPECT_EQ(g_stop_flag, 1);
    EXPECT_STREQ(g_error_text, c.tag);
    EXPECT_EQ(r.in_use, 0);
  }
}

TEST_F(GameTest, FocusIndicatorSettles) {
  g_player.x = 123.0;
  g_player.y = 321.0;
  g_player.in_use = 1;
  const uint32_t index = FindFreeEffect();
  CreateFocusIndicator(g_effects[index]);
  GameObject& r = g_effects[index];
  EXPECT_EQ(r.x, 123.0);
  EXPECT_EQ(r.blend_value, 16.0);
  EXPECT_EQ(r.draw_layer, 2);
  UpdateObjects();
  EXPECT_EQ(r.blend_value, 32.0);  // the first unfocused update lifts 16 to 32
  g_player.focus = 1;
  int n = 0;
  while (r.blend_value < 96.0 && n < 100) {
    UpdateObjects();
    ++n;
  }
  EXPECT_LE(n, 22);
  EXPECT_EQ(r.blend_value, 96.0);
}

class AuraTest : public GameTest {
 protected:
  void SetUp() override {
    GameTest::SetUp();
    GameObject& boss = g_enemies[7];
    boss.in_use = 1;
    boss.free = 0;
    boss.x = 200.0;
    boss.y = 100.0;
    boss.fight_stage = 0;
    CreateBossAura(aura, 6, 7);
  }
  GameObject aura{};
};

TEST_F(AuraTest, FollowsItsBossAndApproachesTheTargets) {
  EXPECT_EQ(aura.graphic_id, 461u);
  EXPECT_EQ(aura.blend_mode, 2u);
  EXPECT_EQ(aura.parent_index, 7u);
  EXPECT_EQ(aura.blend_value, 128.0);
  for (int i = 0; i < 200; ++i) UpdateBossAura(aura);
  EXPECT_EQ(aura.scale, 1.2);
  EXPECT_EQ(aura.blend_value, 64.0);
  g_enemies[7].fight_stage = 2;
  g_enemies[7].x = 50.0;
  int n = 0;
  while (aura.scale < 2.5 && n < 200) {
    UpdateBossAura(aura);
    ++n;
  }
  EXPECT_GE(n, 65);
  EXPECT_LE(n, 66);
  EXPECT_EQ(aura.x, 50.0);
  for (int i = 0; i < 100; ++i) UpdateBossAura(aura);
  EXPECT_EQ(aura.blend_value, 128.0);
  EXPECT_EQ(aura.scale, 2.5);
  EXPECT_EQ(g_stop_flag, 0);
}

TEST_F(AuraTest, GoesWhenItsBossIsDefeatedOrGone) {
  UpdateBossAura(aura);
  EXPECT_EQ(aura.in_use, 1);
  g_enemies[7].defeated = 1;
  UpdateBossAura(aura);
  EXPECT_EQ(aura.in_use, 0);

  g_enemies[7].defeated = 0;
  GameObject other{};
  CreateBossAura(other, 2, 7);
  EXPECT_EQ(other.graphic_id, 457u);
  g_enemies[7].in_use = 0;
  UpdateBossAura(other);
  EXPECT_EQ(other.in_use, 0);
  EXPECT_EQ(g_stop_flag, 0);  // no fatal error for a boss record gone
}

TEST_F(AuraTest, BadFightStageAndAppearanceStop) {
  g_enemies[7].fight_stage = 3;
  UpdateBossAura(aura);
  EXPECT_STREQ(g_error_text, "FC_ENW_m");
  g_stop_flag = 0;
  GameObject r{};
  CreateBossAura(r, 3, 7);
  EXPECT_STREQ(g_error_text, "FC_ENW_n");
  EXPECT_EQ(r.in_use, 0);
}

TEST_F(GameTest, TakeFreeEffectSkipsWhenThePoolIsFull) {
  for (GameObject& r : g_effects) {
    r.free = 0;
    r.in_use = 1;
  }
  EXPECT_EQ(TakeFreeEffect(), nullptr);
  EXPECT_EQ(g_stop_flag, 0);
  g_effects[1999].free = 1;
  EXPECT_EQ(TakeFreeEffect(), &g_effects[1999]);
}

}  // namespace
