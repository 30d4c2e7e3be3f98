// Boss sub-units: grow-in, cruise fire, fade on the boss's phase end.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "game/bosses/sub_units.h"
#include "game/frame/game_error.h"
#include "game/objects/dispatch.h"
#include "game/objects/enemy_bullets.h"
#include "game/objects/resources.h"
#include "lib/core/random.h"
#include "rorud/rorud.h"
#include "tests/game/game_fixture.h"

namespace {

using gametest::GameTest;

constexpr double kPi = 3.14159265359;

// Enemy bullets in use, in pool order.
std::vector<const GameObject*> Bullets() {
  std::vector<const GameObject*> out;
  for (const GameObject& b : g_enemy_bullets) {
    if (b.in_use != 0) out.push_back(&b);
  }
  return out;
}

void ClearBullets() {
  for (GameObject& b : g_enemy_bullets) b.in_use = 0, b.free = 1;
}

// The flying direction of a kind-72 bullet, in degrees 0-360.
double Heading(const GameObject& b) {
  double a = std::atan2(b.parts[0].velocity_y, b.parts[0].velocity_x) * 180.0 / kPi;
  return a < 0.0 ? a + 360.0 : a;
}

double AngleDiff(double a, double b) {
  double d = std::fmod(a - b, 360.0);
  if (d > 180.0) d -= 360.0;
  if (d < -180.0) d += 360.0;
  return d;
}

class SubUnitTest : public GameTest {
 protected:
  void SetUp() override {
    GameTest::SetUp();
    boss().in_use = 1;
    boss().kind = kKindBoss1A;
    g_player.x = 210.0;
    g_player.y = 420.0;
  }
  static GameObject& boss() { return g_enemies[7]; }
  static GameObject& unit() { return g_enemy_groups[0]; }
};

TEST_F(SubUnitTest, CreatorFillsTheRecordAndTheGrowIn) {
  g_find_free_index = 0;
  CreateSubUnitA(unit(), 7, 3, 100.0, 50.0, 90.0, 0.2, 1.5);
  const GameObject& u = unit();
  EXPECT_EQ(u.in_use, 1);
  EXPECT_EQ(u.free, 0);
  EXPECT_EQ(u.kind, static_cast<uint32_t>(kKindSubUnitA));
  EXPECT_EQ(u.parent_index, 7u);
  EXPECT_EQ(u.level, 1u);
  EXPECT_EQ(u.variant, 3u);
  EXPECT_EQ(u.graphic_id, 442u);
  EXPECT_EQ(u.generic_draw, 1);
  EXPECT_EQ(u.visible, 1);
  EXPECT_EQ(u.blend_mode, 2u);
  EXPECT_EQ(u.draw_layer, -1);
  EXPECT_EQ(u.scale, 3.0);
  EXPECT_EQ(u.blend_value, 15.0);
  EXPECT_EQ(u.kind_counters[kSubUnitCruiseFrames], 300u);
  EXPECT_NEAR(u.parts[kSubUnitEntryPart].velocity_y, 0.2, 1e-12);
  EXPECT_NEAR(u.parts[kSubUnitCruisePart].velocity_y, 1.5, 1e-12);
  EXPECT_NEAR(u.parts[kSubUnitCruisePart].velocity_x, 0.0, 1e-9);
}

TEST_F(SubUnitTest, AppearStateLastsSixtyOneFramesAndMovesWithTheEntryVelocity) {
  CreateSubUnitA(unit(), 7, 1, 100.0, 50.0, 0.0, 1.3, 0.0);
  int appear = 0;
  while (unit().state == kSubUnitAppear && appear < 1000) {
    UpdateSubUnitA(unit());
    ++appear;
    if (appear == 60) {
      EXPECT_EQ(unit().blend_value, 255.0);
      EXPECT_GT(unit().scale, 1.0);  // sixty steps of -1/30 leave it just above
    }
  }
  EXPECT_EQ(appear, 61);
  EXPECT_EQ(unit().scale, 1.0);
  EXPECT_EQ(unit().state_timer, 0u);
  EXPECT_NEAR(unit().x, 100.0 + 61 * 1.3, 1e-9);
  EXPECT_TRUE(Bullets().empty());
}

TEST_F(SubUnitTest, KindAFiresFifteenAimedRingsOfThirtyFiveOverItsCruise) {
  CreateSubUnitA(unit(), 7, 4, 210.0, 100.0, 90.0, 0.0, 0.0);
  for (int f = 0; f < 61; ++f) UpdateSubUnitA(unit());
  ASSERT_EQ(unit().state, kSubUnitCruise);
  std::vector<uint32_t> ring_times;
  size_t total = 0;
  for (uint32_t t = 0; t < 300; ++t) {
    // The player moves, and each ring follows it.
    g_player.x = 60.0 + t;
    ClearBullets();
    g_sounds[19].request = 0;
    UpdateSubUnitA(unit());
    const auto bullets = Bullets();
    if (bullets.empty()) continue;
    ring_times.push_back(t);
    total += bullets.size();
    ASSERT_EQ(bullets.size(), 35u);
    EXPECT_EQ(g_sounds[19].request, 1);
    const double aim = std::atan2(g_player.y - 100.0, g_player.x - 210.0) * 180.0 / kPi;
    for (size_t i = 0; i < 35; ++i) {
      // Bit for bit: the angle is aim + i x 360 / 35 in that order, in degrees.
      const double angle = (aim + i * 360.0 / 35.0) * kPi / 180.0;
      EXPECT_EQ(bullets[i]->parts[0].velocity_x, std::cos(angle) * 3.0) << i;
      EXPECT_EQ(bullets[i]->parts[0].velocity_y, std::sin(angle) * 3.0) << i;
      EXPECT_EQ(bullets[i]->level, 1u);
      EXPECT_EQ(bullets[i]->variant, 4u);
      EXPECT_EQ(bullets[i]->x, 210.0);
    }
  }
  EXPECT_EQ(total, 525u);
  ASSERT_EQ(ring_times.size(), 15u);
  for (size_t i = 0; i < 15; ++i) EXPECT_EQ(ring_times[i], 10 + 20 * i);
  EXPECT_EQ(unit().state, kSubUnitFade);
  // 255 down by 10 a frame: gone on the 26th fade frame.
  int fade = 0;
  while (unit().in_use != 0 && fade < 100) {
    UpdateSubUnitA(unit());
    ++fade;
  }
  EXPECT_EQ(fade, 26);
  EXPECT_EQ(unit().x, 300.0);
  EXPECT_EQ(unit().free, 0);  // the draw pass frees it
}

TEST_F(SubUnitTest, PhaseEndDuringTheAppearFadesFromTheBlendReachedAndNeverFires) {
  CreateSubUnitA(unit(), 7, 1, 210.0, 100.0, 90.0, 0.2, 0.0);
  for (int n = 0; n < 10; ++n) UpdateSubUnitA(unit());
  EXPECT_EQ(unit().blend_value, 15.0 + 4 * 10);
  boss().phase_ended = 1;
  UpdateSubUnitA(unit());
  EXPECT_EQ(unit().state, kSubUnitFade);
  EXPECT_EQ(unit().blend_value, 45.0);
  boss().phase_ended = 0;  // one frame only: the unit stays in the fade
  int frames = 1;
  while (unit().in_use != 0 && frames < 100) {
    EXPECT_EQ(unit().state, kSubUnitFade);
    UpdateSubUnitA(unit());
    ++frames;
  }
  EXPECT_EQ(frames, 6);  // 55, 45, 35, ..., 5, then 0
  EXPECT_TRUE(Bullets().empty());
}

TEST_F(SubUnitTest, PhaseEndDuringTheCruiseStopsTheFire) {
  CreateSubUnitA(unit(), 7, 1, 210.0, 100.0, 90.0, 0.0, 0.0);
  for (int f = 0; f < 61 + 5; ++f) UpdateSubUnitA(unit());
  boss().phase_ended = 1;
  UpdateSubUnitA(unit());
  boss().phase_ended = 0;
  for (int f = 0; f < 40 && unit().in_use != 0; ++f) UpdateSubUnitA(unit());
  EXPECT_EQ(unit().in_use, 0);
  EXPECT_TRUE(Bullets().empty());
}

TEST_F(SubUnitTest, LeavingTheFieldDuringTheCruiseRemovesAtOnce) {
  CreateSubUnitA(unit(), 7, 1, 400.0, 100.0, 0.0, 0.0, 3.0);
  for (int f = 0; f < 61; ++f) UpdateSubUnitA(unit());
  int cruise = 0;
  while (unit().in_use != 0 && cruise < 300) {
    UpdateSubUnitA(unit());
    ++cruise;
  }
  // x > 484 first at 400 + 3 x 29 = 487.
  EXPECT_EQ(cruise, 29);
  EXPECT_EQ(unit().in_use, 0);
}

TEST_F(SubUnitTest, KindBFiresThirtyShotsWithinTwentyDegreesOfTheAim) {
  SeedRandom(99);
  CreateSubUnitB(unit(), 7, 6, 210.0, 100.0, 90.0, 0.0, 0.0);
  for (int f = 0; f < 61; ++f) UpdateSubUnitB(unit());
  const int32_t before = GetLibraryRandomState()->index;
  std::vector<uint32_t> times;
  for (uint32_t t = 0; t < 300; ++t) {
    ClearBullets();
    UpdateSubUnitB(unit());
    const auto bullets = Bullets();
    if (bullets.empty()) continue;
    ASSERT_EQ(bullets.size(), 1u);
    times.push_back(t);
    EXPECT_LE(std::fabs(AngleDiff(Heading(*bullets[0]), 90.0)), 20.0 + 1e-9);
    EXPECT_NEAR(std::hypot(bullets[0]->parts[0].velocity_x, bullets[0]->parts[0].velocity_y),
                2.0, 1e-9);
  }
  ASSERT_EQ(times.size(), 30u);
  EXPECT_EQ(times.front(), 0u);
  EXPECT_EQ(times.back(), 290u);
  EXPECT_EQ(GetLibraryRandomState()->index - before, 30);  // one draw per shot
}

TEST_F(SubUnitTest, KindCAimsAtAPointSweepingAlongTheBottom) {
  CreateSubUnitC(unit(), 7, 2, 210.0, 100.0, 90.0, 0.0, 0.0);
  for (int f = 0; f < 61; ++f) UpdateSubUnitC(unit());
  EXPECT_EQ(unit().attack.values[kSubUnitAimX], 30.0);
  EXPECT_EQ(unit().attack.values[kSubUnitAimY], 470.0);
  std::vector<double> aims;
  for (uint32_t t = 0; t < 300; ++t) {
    ClearBullets();
    UpdateSubUnitC(unit());
    const auto bullets = Bullets();
    if (bullets.empty()) continue;
    ASSERT_EQ(bullets.size(), 1u);
    EXPECT_EQ(t % 20, 5u);
    // Recover the aimed x on y 470 from the heading.
    const double a = Heading(*bullets[0]) * kPi / 180.0;
    aims.push_back(210.0 + std::cos(a) / std::sin(a) * 370.0);
  }
  ASSERT_EQ(aims.size(), 15u);
  for (size_t i = 0; i < aims.size(); ++i) EXPECT_NEAR(aims[i], 45.0 + 60.0 * i, 1e-6);
}

TEST_F(SubUnitTest, UnknownColourStopsTheGameAndLeavesNoOrb) {
  CreateSubUnitA(unit(), 7, 9, 210.0, 100.0, 90.0, 0.2, 0.0);
  EXPECT_STREQ(g_error_text, "EG_NX_common_n1");
  EXPECT_EQ(g_stop_flag, 1);
  EXPECT_EQ(unit().in_use, 0);
  g_stop_flag = 0;
  CreateSubUnitC(unit(), 7, 0, 210.0, 100.0, 90.0, 0.2, 0.0);
  EXPECT_EQ(g_stop_flag, 1);
}

TEST_F(SubUnitTest, ParentOutsideTheEnemyPoolIsNeverRead) {
  CreateSubUnitA(unit(), 0xFFFFFFFFu, 1, 210.0, 100.0, 90.0, 0.2, 0.0);
  for (int f = 0; f < 10; ++f) UpdateSubUnitA(unit());
  EXPECT_EQ(unit().state, kSubUnitAppear);
}

TEST_F(SubUnitTest, DispatchRunsTheUnitsInTheEnemyGroupPool) {
  CreateSubUnitB(unit(), 7, 1, 210.0, 100.0, 90.0, 0.2, 0.0);
  EXPECT_EQ(PoolKindUpdate(kPoolEnemyGroups, kKindSubUnitA), &UpdateSubUnitA);
  EXPECT_EQ(PoolKindUpdate(kPoolEnemyGroups, kKindSubUnitB), &UpdateSubUnitB);
  EXPECT_EQ(PoolKindUpdate(kPoolEnemyGroups, kKindSubUnitC), &UpdateSubUnitC);
  EXPECT_EQ(PoolKindUpdate(kPoolEnemies, kKindSubUnitA), nullptr);
  UpdateObjects();
  EXPECT_EQ(unit().state_timer, 1u);
}

}  // namespace
