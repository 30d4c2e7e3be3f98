// Stage 2's wave phases: the spawn log of a run from the first wave to the
// boss phase, compared row by row with the stage's written timeline; the
// scroll-only phases leave the brightness alone.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "game/frame/game_state.h"
#include "game/objects/dispatch.h"
#include "game/objects/enemies.h"
#include "game/stages/stage2_timeline.h"
#include "game/stages/stage_script.h"
#include "tests/game/game_fixture.h"
#include "tests/game/spawn_log.h"

namespace {

using gametest::Expand;
using gametest::GameTest;
using gametest::L;
using gametest::Run;
using gametest::SpawnLog;
using gametest::Steps;

std::vector<Run> WrittenTimeline() {
  const L v4 = {1, 2, 3, 4};
  const L n1 = {30, 30, 35, 35};
  const L sway = {0, 180};
  const L o24 = {0,  30, 60, 90,  120, 150, 180, 210, 240, 270, 300, 330,
                 15, 45, 75, 105, 135, 165, 195, 225, 255, 285, 315, 345};
  const L sub24 = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
  const L x24 = {279, 348, 141, 72, 210, 325, 95, 72,  348, 210, 302, 118,
                 256, 164, 279, 141, 302, 118, 325, 95, 348, 72,  371, 49};
  const L s16 = {0, 30, 60, 90, 120, 150, 170, 190, 15, 45, 75, 105, 135, 165, 185, 205};
  const L a1 = {87, 93, 91, 89};
  const L a2 = {87, 93, 92, 88};
  const L a3 = {93, 87, 89, 91};
  const L a4 = {93, 87, 88, 92};
  const L sp4 = {2.2, 2.3, 2.3, 2.2};
  const L o12 = {0, 60, 120, 180, 0, 60, 120, 180, 0, 60, 120, 180};
  const L brake12 = {200, 200, 200, 200, 120, 120, 120, 60, 60, 60, 60, 60};
  const L x12 = {26, 141, 279, 394, 164, 233, 141, 233, 256, 49, 95, 325};
  const L ang12 = {90, 90, 90, 90, 80, 80, 80, 80, 100, 100, 100, 100};
  const L x14 = {72, 348, 164, 256, 371, 49, 210, 72, 348, 164, 256, 371, 49, 210};
  const L sw14 = {0, 180, 0, 180, 0, 180, 0, 0, 180, 0, 180, 0, 180, 0};
  const uint32_t A = kKindZakoA, B = kKindZakoB, C = kKindZakoC;
  const uint32_t MA = kKindMidZakoA, MB = kKindMidZakoB, MC = kKindMidZakoC;
  return {
      {10, 100, A, o24, {v4, sub24, {1}, x24, {-32}, sway, {2.8}, {80}}},
      {11, 60, A, o24, {v4, sub24, {1}, x24, {-32}, sway, {2.5}, {90}}},
      {12, 20, B, Steps(0, 90, 30), {v4, {0}, n1, {200}, {394, 371}, {-32}, a1, {1.5}, {0.4}}},
      {12, 20, B, Steps(120, 210, 30), {v4, {0}, n1, {200}, {394, 371}, {-32}, a2, {1.5}, {0.45}}},
      {12, 20, B, Steps(15, 105, 30), {v4, {1}, n1, {200}, {348, 325}, {-32}, a1, {1.5}, {0.4}}},
      {12, 20, B, Steps(135, 225, 30), {v4, {1}, n1, {200}, {348, 325}, {-32}, a2, {1.5}, {0.45}}},
      {12, 20, B, {0, 30, 60, 90, 150, 200, 20, 50, 80, 110, 170, 220},
       {{1, 2, 3, 4, 1, 2, 1, 2, 3, 4, 1, 2}, {0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1}, {120}, {300},
        {-43}, {136, 136, 136, 136, 136, 136, 162, 162, 162, 162, 162, 162}, {0}, {1.3}, {-0.4}}},
      {13, 20, B, Steps(0, 90, 30), {v4, {0}, n1, {200}, {26, 49}, {-32}, a3, {1.5}, {-0.4}}},
      {13, 20, B, Steps(120, 210, 30), {v4, {0}, n1, {200}, {26, 49}, {-32}, a4, {1.5}, {-0.45}}},
      {13, 20, B, Steps(15, 105, 30), {v4, {1}, n1, {200}, {72, 95}, {-32}, a3, {1.5}, {-0.4}}},
      {13, 20, B, Steps(135, 225, 30), {v4, {1}, n1, {200}, {72, 95}, {-32}, a4, {1.5}, {-0.45}}},
      {13, 20, B, Steps(0, 90, 30),
       {v4, {0}, {120, 120, 125, 125}, {200}, {463}, {136}, {177, 183, 175, 185}, {1.3, 1.5}, {0.4}}},
      {13, 20, B, {150, 200}, {{1, 2}, {0}, {120}, {200}, {463}, {136}, {177, 183}, {1.3, 1.5}, {0.45}}},
      {13, 20, B, Steps(20, 110, 30),
       {v4, {1}, {120, 120, 125, 125}, {200}, {463}, {162}, {177, 183, 175, 185}, {1.3, 1.5}, {0.4}}},
      {13, 20, B, {170, 220}, {{1, 2}, {1}, {120}, {200}, {463}, {162}, {177, 183}, {1.3, 1.5}, {0.45}}},
      {14, 60, A, s16,
       {v4, {1}, {1}, {95, 164, 49, 187, 72, 141, 95, 164, 95, 164, 49, 187, 72, 141, 95, 164},
        {-32}, sway, {2.3}, {60}}},
      {15, 30, A, s16,
       {v4, {1}, {1},
        {325, 256, 371, 233, 348, 279, 325, 256, 325, 256, 371, 233, 348, 279, 325, 256}, {-32},
        sway, {2.3}, {60}}},
      {16, 60, MB, {0, 120, 120}, {{1, 2, 3}, {1}, {520}, {210, 118, 302}, {-32}, {90}, {1.9}, {-0.03}}},
      {18, 100, B, Steps(0, 280, 40), {v4, {0}, n1, {200}, {49}, {-32}, {90}, {1.5}, {-0.4}}},
      {18, 100, C, Steps(0, 200, 40),
       {v4, {0}, {1}, {50, 55}, {200}, {256, 279, 371, 325, 279, 325}, {-32},
        {100, 80, 110, 110, 70, 90}, sp4, {-0.03}}},
      {18, 100, MA, {120}, {{2}, {1}, {520}, {210}, {-32}, {90}, {1.9}, {-0.03}}},
      {19, 10, B, Steps(0, 280, 40), {v4, {0}, n1, {200}, {371}, {-32}, {90}, {1.5}, {0.4}}},
      {19, 10, C, Steps(0, 200, 40),
       {{1, 2, 3, 4, 1, 3}, {0}, {1}, {50, 55}, {200}, {164, 141, 49, 95, 141, 95}, {-32},
        {100, 80, 90, 110, 70, 90}, sp4, {-0.03}}},
      {19, 10, MA, {120}, {{2}, {1}, {520}, {210}, {-32}, {90}, {1.9}, {-0.03}}},
      {20, 30, B, Steps(0, 90, 30), {v4, {0}, n1, {200}, {26, 49}, {-32}, a1, {1.5}, {-0.4}}},
      {20, 30, B, Steps(120, 210, 30), {v4, {0}, n1, {200}, {26, 49}, {-32}, a2, {1.5}, {-0.45}}},
      {20, 30, B, Steps(0, 210, 30),
       {v4, {0}, {10}, {150}, {26, 49}, {-32}, {87, 93, 91, 89, 87, 93, 92, 88}, {1.3}, {-0.3}}},
      {20, 30, B, Steps(0, 90, 30), {v4, {0}, n1, {200}, {394, 371}, {-32}, a1, {1.5}, {0.4}}},
      {20, 30, B, Steps(120, 210, 30), {v4, {0}, n1, {200}, {394, 371}, {-32}, a2, {1.5}, {0.45}}},
      {20, 30, B, Steps(0, 210, 30),
       {v4, {0}, {10}, {150}, {394, 371}, {-32}, {87, 93, 91, 89, 87, 93, 92, 88}, {1.3}, {0.3}}},
      {60, 30, B, Steps(0, 280, 40), {v4, {0}, n1, {200}, {49}, {-32}, {90}, {1.5}, {-0.4}}},
      {60, 30, B, Steps(0, 250, 50), {v4, {1}, {120}, {300}, {463}, {136}, {180}, {1.3}, {0.4}}},
      {60, 30, C, o12,
       {v4, {0}, {1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2}, {50, 55}, brake12, x12, {-32}, ang12, sp4,
        {-0.03}}},
      {61, 20, B, Steps(0, 240, 40), {v4, {0}, n1, {200}, {49}, {-32}, {90}, {1.5}, {-0.4}}},
      {61, 20, B, Steps(0, 250, 50), {v4, {1}, {120}, {300}, {463}, {136}, {180}, {1.3}, {0.4}}},
      {61, 20, C, o12,
       {v4, {0}, {1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2}, {50, 55}, brake12, x12, {-32}, ang12, sp4,
        {-0.03}}},
      {62, 60, MB, {0, 0}, {{3, 4}, {1}, {360}, {72, 348}, {-32}, {90}, {2.3}, {-0.04}}},
      {62, 60, MC, {90, 90}, {{3, 4}, {1}, {360}, {141, 279}, {-32}, {90}, {2.3}, {-0.04}}},
      {62, 60, MA, {150}, {{3}, {1}, {360}, {210}, {-32}, {90}, {2.3}, {-0.04}}},
      {63, 20, C,
       {0, 30, 60, 90, 120, 150, 180, 15, 45, 75, 105, 135, 165, 195, 15, 45, 75, 105, 135, 165, 195},
       {{1, 2, 3, 4, 2, 3, 4, 1, 2, 3, 4, 2, 3, 4, 1, 2, 3, 4, 2, 3, 4},
        {0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0},
        {1},
        {50, 55, 50, 55, 55, 50, 55, 50, 55, 50, 55, 55, 50, 55, 50, 55, 50, 55, 55, 50, 55},
        {200},
        {26, 141, 279, 394, 141, 279, 394, 26, 141, 279, 394, 141, 279, 394, 26, 141, 279, 394,
         141, 279, 394},
        {-32},
        {90, 80, 70, 90, 80, 110, 90, 100, 90, 80, 100, 90, 120, 100, 80, 70, 60, 80, 70, 100, 80},
        {2.2, 2.3, 2.3, 2.2, 2.3, 2.3, 2.2, 2.2, 2.3, 2.3, 2.2, 2.3, 2.3, 2.2, 2.2, 2.3, 2.3, 2.2,
         2.3, 2.3, 2.2},
        {-0.03}}},
      {64, 60, A, {0, 20, 40, 60, 80, 100, 120, 10, 30, 50, 70, 90, 110, 130},
       {{1, 2, 3, 4, 1, 2, 3, 1, 2, 3, 4, 1, 2, 3}, {1, 0, 1, 0, 1, 0, 1, 1, 0, 1, 0, 1, 0, 1}, {1},
        x14, {-32}, sw14, {3.5}, {180}}},
      {65, 10, A, {0, 30, 60, 90, 120, 150, 180, 210, 230, 260, 290, 320, 350, 380},
       {{1, 2, 3, 4, 1, 2, 1, 3, 4, 2, 3, 1, 2, 1}, {1, 0}, {1}, x14, {-32}, sw14, {3.5}, {80}}},
      {65, 10, MB, {120, 120}, {{3, 4}, {1}, {360}, {72, 348}, {-32}, {90}, {2.3}, {-0.04}}},
      {65, 10, MC, {240, 240}, {{3, 4}, {1}, {360}, {256, 164}, {-32}, {90}, {2.3}, {-0.04}}},
  };
}

TEST_F(GameTest, Stage2SpawnLogFollowsTheWrittenTimeline) {
  ChangePhase(g_game, kPhaseFirstWave);
  SpawnLog log;
  gametest::RunUntil(Stage2Script, kPhaseMidBoss, log);
  ASSERT_EQ(g_game.levels[kLevelPhase], kPhaseMidBoss);
  // The mid-boss phase is skipped here; the second row starts at phase 60.
  ChangePhase(g_game, kPhaseSecondWave);
  gametest::RunUntil(Stage2Script, kPhaseBoss, log);
  ASSERT_EQ(g_game.levels[kLevelPhase], kPhaseBoss);

  std::vector<gametest::Spawn> expected = Expand(WrittenTimeline());
  ASSERT_EQ(expected.size(), 310u);
  // The table's own level arguments are compared below.
  gametest::ZakoCLevelsBySubType(expected);
  ASSERT_EQ(log.spawns.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(log.spawns[i], expected[i]) << "spawn " << i;
  }

  // Phase order (16 hands over to 18) and lengths: B + W + 2 frames when no
  // enemy lives on.
  const std::vector<std::pair<uint32_t, uint32_t>> phases = {
      {10, 502}, {11, 462}, {12, 272}, {13, 272}, {14, 282}, {15, 282}, {16, 362}, {18, 402},
      {19, 342}, {20, 282}, {60, 312}, {61, 272}, {62, 362}, {63, 272}, {64, 212}, {65, 412}};
  EXPECT_EQ(log.phase_frames, phases);
}

TEST_F(GameTest, Stage2TableRowsAreTheWrittenRowsInTableOrder) {
  EXPECT_EQ(gametest::TableRows(kStage2Timeline), gametest::ExpandInTableOrder(WrittenTimeline()));
}

TEST_F(GameTest, Stage2ScrollOnlyPhasesKeepTheBrightness) {
  ChangePhase(g_game, 12);
  g_game.background_brightness = 200.0;
  g_game.scroll_speed = 3.0;
  while (g_game.levels[kLevelPhase] != 14) {
    Stage2Script(g_game);
    for (GameObject& r : g_enemies) r.in_use = 0, r.free = 1;
    EXPECT_EQ(g_game.background_brightness, 200.0);
  }
  EXPECT_EQ(g_game.scroll_speed, 5.0);
  // Phase 20 waits for the last enemy, without a brightness ramp either.
  ChangePhase(g_game, 20);
  for (int f = 0; f < 400; ++f) Stage2Script(g_game);
  EXPECT_EQ(g_game.levels[kLevelPhase], 20u);
  EXPECT_EQ(g_game.background_brightness, 200.0);
  for (GameObject& r : g_enemies) r.life = 0.0;
  Stage2Script(g_game);
  EXPECT_EQ(g_game.levels[kLevelPhase], kPhaseMidBoss);
}

}  // namespace
