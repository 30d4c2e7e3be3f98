// Stage 1's wave phases: the spawn log of a run from the first wave to the
// boss phase, compared row by row with the stage's written timeline.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "game/frame/game_state.h"
#include "game/objects/dispatch.h"
#include "game/objects/enemies.h"
#include "game/stages/stage1_timeline.h"
#include "game/stages/stage_script.h"
#include "tests/game/game_fixture.h"
#include "tests/game/spawn_log.h"

namespace {

using gametest::Expand;
using gametest::GameTest;
using gametest::L;
using gametest::Run;
using gametest::Spawn;
using gametest::SpawnLog;
using gametest::Steps;

std::vector<Run> WrittenTimeline() {
  const L s16 = {0, 30, 60, 90, 120, 150, 170, 190, 15, 45, 75, 105, 135, 165, 185, 205};
  const L sub8 = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1};
  const L xr = {325, 256, 371, 233, 348, 279, 325, 256, 325, 256, 371, 233, 348, 279, 325, 256};
  const L xl = {95, 164, 49, 187, 72, 141, 95, 164, 95, 164, 49, 187, 72, 141, 95, 164};
  const L v4 = {1, 2, 3, 4};
  const L sway = {0, 180};
  const L n1 = {30, 30, 35, 35};
  const L o8 = {0, 30, 60, 90, 120, 150, 180, 210, 0, 30, 60, 90, 120, 150, 180, 210};
  const L o40 = {0, 40, 80, 120, 160, 200, 240, 280, 0, 40, 80, 120, 160, 200, 240, 280};
  const L o40b = {0, 40, 80, 120, 160, 200, 240, 280, 15, 55, 95, 135, 175, 215, 255, 295};
  auto x2 = [](double a, double b) { return L{a, a, a, a, a, a, a, a, b, b, b, b, b, b, b, b}; };
  const L o11 = {0, 30, 60, 90, 120, 150, 15, 45, 75, 105, 135};
  const L v11 = {1, 2, 3, 4, 1, 2, 1, 2, 3, 4, 1};
  const L sub11 = {0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1};
  const L o12 = {0, 50, 100, 150, 200, 250, 20, 70, 120, 170, 220, 270};
  const L v12 = {1, 2, 3, 4, 1, 2, 1, 2, 3, 4, 1, 2};
  const L y12 = {136, 136, 136, 136, 136, 136, 162, 162, 162, 162, 162, 162};
  const L o14 = {0, 30, 60, 90, 120, 150, 180, 15, 45, 75, 105, 135, 165, 195};
  const L o28 = {0,  30,  60,  90,  120, 150, 180, 210, 230, 260, 290, 320, 350, 380,
                 15, 45,  75,  105, 135, 165, 195, 225, 245, 275, 305, 335, 365, 395};
  const uint32_t A = kKindZakoA, B = kKindZakoB, C = kKindZakoC, M = kKindMidZakoA;
  return {
      {10, 100, A, s16, {v4, sub8, {1}, xr, {-32}, sway, {2.3}, {60}}},
      {11, 60, A, s16, {v4, {0}, {1}, xl, {-32}, sway, {2.3}, {60}}},
      {14, 60, B, o8, {v4, {0}, n1, {200}, x2(49, 95), {-32}, {90}, {1.7}, {-0.5}}},
      {15, 30, B, o8, {v4, {0}, n1, {200}, x2(371, 325), {-32}, {90}, {1.7}, {0.5}}},
      {16, 100, B, o40, {v4, {0}, n1, {200}, x2(49, 95), {-32}, {90}, {1.5}, {-0.4}}},
      {16, 100, A, s16, {v4, sub8, {1}, xr, {-32}, sway, {2.3}, {60}}},
      {17, 10, B, Steps(0, 280, 40), {v4, {0}, n1, {200}, {371}, {-32}, {90}, {1.5}, {0.4}}},
      {17, 10, A, s16, {v4, sub8, {1}, xl, {-32}, sway, {2.3}, {60}}},
      {18, 60, M, {0}, {{1}, {1}, {520}, {118}, {-32}, {90}, {1.9}, {-0.03}}},
      {18, 60, A, o11,
       {v11, sub11, {1}, {325, 256, 371, 233, 348, 279, 325, 256, 371, 233, 348}, {-32}, sway,
        {2.3}, {60}}},
      {19, 30, M, {0}, {{2}, {1}, {520}, {302}, {-32}, {90}, {1.9}, {-0.03}}},
      {19, 30, A, o11,
       {v11, sub11, {1}, {95, 164, 49, 187, 72, 141, 95, 164, 49, 187, 72}, {-32}, sway, {2.3},
        {60}}},
      {20, 10, A, s16,
       {v4, sub8, {1},
        {325, 256, 371, 233, 348, 279, 325, 256, 95, 164, 49, 187, 72, 141, 95, 164}, {-32},
        sway, {2.3}, {60}}},
      {60, 30, B, o40b, {v4, {0}, n1, {200}, x2(49, 118), {-32}, {90}, {1.5}, {-0.4}}},
      {60, 30, B, o12, {v12, {0}, {120}, {300}, {463}, y12, {180}, {1.3}, {0.4}}},
      {61, 30, C, {0, 40, 80, 120, 160, 200, 240, 280, 20, 60, 100, 140, 180, 220, 260},
       {v4, {0}, {1}, {50, 55}, {200},
        {210, 279, 141, 371, 49, 279, 141, 210, 325, 95, 141, 279, 164, 256, 141}, {-32},
        {100, 80, 110, 90, 90, 90, 100, 80, 100, 80, 110, 90, 90, 90, 100},
        {2.2, 2.3, 2.3, 2.2}, {-0.03}}},
      {62, 20, B, o40b, {v4, {0}, n1, {200}, x2(371, 302), {-32}, {90}, {1.5}, {0.4}}},
      {62, 20, B, o12, {v12, {0}, {120}, {300}, {-43}, y12, {0}, {1.3}, {-0.4}}},
      {63, 60, M, {0, 0}, {{3, 4}, {1}, {360}, {95, 325}, {-32}, {90}, {2.3}, {-0.04}}},
      {64, 60, A, o14,
       {{1, 2, 3, 4, 1, 2, 3, 1, 2, 3, 4, 1, 2, 3}, {0}, {1},
        {72, 348, 164, 256, 371, 49, 210, 72, 348, 164, 256, 371, 49, 210}, {-32},
        {0, 180, 0, 180, 0, 180, 0, 0, 180, 0, 180, 0, 180, 0}, {3.5}, {80}}},
      {65, 30, B, Steps(0, 90, 15),
       {v4, {0}, n1, {200}, {26, 49}, {-32}, {87, 93, 91, 89}, {1.5}, {-0.4}}},
      {65, 30, B, Steps(0, 90, 15),
       {v4, {0}, n1, {200}, {394, 371}, {-32}, {87, 93, 91, 89}, {1.5}, {0.4}}},
      {66, 10, A, o28,
       {{1, 2, 3, 4, 1, 2, 3, 4, 1, 2, 3, 4, 2, 3, 1, 2, 3, 4, 1, 2, 3, 4, 1, 2, 3, 4, 2, 3},
        {0}, {1},
        {72,  348, 164, 256, 371, 49,  210, 72,  348, 164, 256, 371, 49, 210,
         187, 233, 164, 256, 279, 141, 302, 118, 325, 95,  348, 72,  371, 49},
        {-32},
        {0, 180, 0, 180, 0, 180, 0, 0, 180, 0, 180, 0, 180, 0,
         0, 180, 0, 180, 0, 180, 0, 0, 180, 0, 180, 0, 180, 0},
        {3.5}, {80}}},
  };
}

void RunUntil(uint32_t stop_phase, SpawnLog& log) {
  gametest::RunUntil(Stage1Script, stop_phase, log);
}

TEST_F(GameTest, Stage1SpawnLogFollowsTheWrittenTimeline) {
  ChangePhase(g_game, kPhaseFirstWave);
  SpawnLog log;
  RunUntil(kPhaseMidBoss, log);
  ASSERT_EQ(g_game.levels[kLevelPhase], kPhaseMidBoss);
  // The mid-boss phase is skipped here; the second row starts at phase 60.
  ChangePhase(g_game, kPhaseSecondWave);
  RunUntil(kPhaseBoss, log);
  ASSERT_EQ(g_game.levels[kLevelPhase], kPhaseBoss);

  const std::vector<Spawn> expected = Expand(WrittenTimeline());
  ASSERT_EQ(expected.size(), 289u);
  ASSERT_EQ(log.spawns.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(log.spawns[i], expected[i]) << "spawn " << i;
  }

  // Phase order and lengths: B + W + 2 frames when no enemy lives on.
  const std::vector<std::pair<uint32_t, uint32_t>> phases = {
      {10, 352}, {11, 312}, {14, 272}, {15, 242}, {16, 382}, {17, 292}, {18, 222},
      {19, 192}, {20, 222}, {60, 332}, {61, 312}, {62, 322}, {63, 163}, {64, 282},
      {65, 132}, {66, 432}};
  EXPECT_EQ(log.phase_frames, phases);
}

TEST_F(GameTest, Stage1FirstEnemyComesOnTheHundredAndFirstFrame) {
  ChangePhase(g_game, kPhaseFirstWave);
  for (int f = 0; f < 100; ++f) Stage1Script(g_game);
  for (const GameObject& r : g_enemies) EXPECT_EQ(r.in_use, 0);
  Stage1Script(g_game);
  EXPECT_EQ(g_enemies[0].in_use, 1);
  EXPECT_EQ(g_enemies[0].kind, kKindZakoA);
  EXPECT_EQ(g_game.spawn_base, 100u);
}

TEST_F(GameTest, Stage1EnemyExitWaitsForLiveEnemies) {
  ChangePhase(g_game, 20);
  for (int f = 0; f < 5000; ++f) Stage1Script(g_game);
  // The spawned enemies stay in use with their life (nothing moves them
  // here), so phase 20 cannot end.
  EXPECT_EQ(g_game.levels[kLevelPhase], 20u);
  for (GameObject& r : g_enemies) r.life = 0.0;  // all dead: the exit passes
  Stage1Script(g_game);
  EXPECT_EQ(g_game.levels[kLevelPhase], kPhaseMidBoss);
  EXPECT_EQ(g_game.level_counters[kLevelPhase], 0u);
}

TEST_F(GameTest, Stage1WaveOnTopOfLiveEnemies) {
  // Phase 10 ends after its wait with its enemies still in play.
  ChangePhase(g_game, kPhaseFirstWave);
  for (int f = 0; f < 352; ++f) Stage1Script(g_game);
  EXPECT_EQ(g_game.levels[kLevelPhase], 11u);
  int live = 0;
  for (const GameObject& r : g_enemies) live += r.in_use;
  EXPECT_EQ(live, 16);
}

TEST_F(GameTest, Stage1TimelineRowsFireWithinTheirPhase) {
  size_t total = 0;
  for (size_t i = 0; i < kStage1Timeline.phase_count; ++i) {
    const WavePhase& w = kStage1Timeline.phases[i];
    const uint32_t last_counter = w.spawn_base + w.exit_wait + 1;
    for (size_t k = 0; k < w.row_count; ++k) {
      EXPECT_LE(w.spawn_base + w.rows[k].offset, last_counter) << "phase " << w.phase;
    }
    total += w.row_count;
  }
  EXPECT_EQ(total, 289u);
}

}  // namespace

namespace {

TEST_F(GameTest, RisingRampAboveItsTargetTakesTheTargetAtOnce) {
  // Phase 61 runs the scroll up to 7; phase 62 rises "to 5" from above it.
  ChangePhase(g_game, 61);
  g_game.scroll_speed = 7.0;
  while (g_game.levels[kLevelPhase] == 61) Stage1Script(g_game);
  EXPECT_EQ(g_game.scroll_speed, 7.0);
  Stage1Script(g_game);
  EXPECT_EQ(g_game.levels[kLevelPhase], 62u);
  EXPECT_EQ(g_game.scroll_speed, 5.0);
}

TEST_F(GameTest, Phase11HandsOverToPhase14) {
  ChangePhase(g_game, 11);
  for (int f = 0; f < 312; ++f) Stage1Script(g_game);
  EXPECT_EQ(g_game.levels[kLevelPhase], 14u);
  EXPECT_EQ(g_game.spawn_base, 60u);
}

}  // namespace
