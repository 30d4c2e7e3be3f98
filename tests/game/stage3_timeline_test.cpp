// Stage 3's wave phases: the spawn log of a run from the first wave to the
// boss phase and the table's rows, each against the stage's written
// timeline, and the stage's place in the scene table.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "game/frame/frame_loop.h"
#include "game/frame/game_state.h"
#include "game/objects/dispatch.h"
#include "game/objects/enemies.h"
#include "game/stages/stage3_timeline.h"
#include "game/stages/stage_script.h"
#include "tests/game/game_fixture.h"
#include "tests/game/spawn_log.h"

namespace {

using gametest::Expand;
using gametest::GameTest;
using gametest::L;
using gametest::Run;
using gametest::RunUntil;
using gametest::Spawn;
using gametest::SpawnLog;
using gametest::Steps;

std::vector<Run> WrittenTimeline() {
  const L o24 = {0,  30, 60, 90,  120, 150, 170, 190, 15,  45,  75,  105,
                 135, 165, 185, 205, 25, 55, 85,  115, 145, 175, 195, 215};
  const L sub24 = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
  const L xr8 = {325, 256, 371, 233, 348, 279, 325, 256};
  const L xl8 = {95, 164, 49, 187, 72, 141, 95, 164};
  const L sway24 = {0, 180, 0, 180, 0, 180, 0, 180, 0, 180, 0, 180,
                    0, 180, 0, 180, 90, 90, 90, 90, 90, 90, 90, 90};
  const L o16 = {15, 45, 75, 105, 135, 165, 185, 205, 25, 55, 85, 115, 145, 175, 195, 215};
  const L sway16 = {0, 180, 0, 180, 0, 180, 0, 180, 90, 90, 90, 90, 90, 90, 90, 90};
  const L v4 = {1, 2, 3, 4};
  const L n1 = {30, 30, 35, 35};
  const L n2 = {20, 20, 25, 25};
  const L v12 = {1, 2, 3, 4, 1, 2, 1, 2, 3, 4, 1, 2};
  const L v21 = {1, 2, 3, 4, 1, 2, 3, 4, 2, 3, 4, 2, 4, 1, 2, 3, 1, 4, 2, 3, 1};
  const L x21 = {72,  348, 164, 256, 371, 49,  210, 72,  348, 164, 256,
                 371, 49,  210, 371, 49,  210, 72,  348, 164, 210};
  const L sway21 = {0, 180, 0, 180, 0, 180, 0, 0, 180, 0, 180, 0, 180, 0, 0, 180, 0, 0, 180, 0, 0};
  // The timeline gives every stage-3 ZakoC level 1 with sub-type 1; the
  // sub-type decides the record's level, 2.
  const L zc_level = {1};
  const uint32_t A = kKindZakoA, B = kKindZakoB, C = kKindZakoC;
  const uint32_t MA = kKindMidZakoA, MB = kKindMidZakoB, MC = kKindMidZakoC;
  auto cat = [](L a, const L& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  const L xr24 = cat(cat(xr8, xr8), xr8);
  const L xl24 = cat(cat(xl8, xl8), xl8);
  const L xr16 = cat(xr8, xr8);
  const L xl16 = cat(xl8, xl8);
  // A mid-size enemy: variant, level, brake frames, x, y, angle, speed, acceleration.
  auto mid = [](uint32_t phase, uint32_t base, uint32_t kind, L offsets, L variant, L level, L x,
                L angle, L speed) {
    return Run{phase, base, kind, offsets, {variant, level, {520}, x, {-32}, angle, speed, {-0.03}}};
  };
  return {
      {10, 100, A, o24, {v4, sub24, {1}, xr24, {-32}, sway24, {2.3}, {120}}},
      {11, 60, A, o24, {v4, {0}, {1}, xl24, {-32}, sway24, {2.3}, {120}}},
      {14, 60, B, Steps(0, 210, 30), {v4, {1}, n1, {200}, {49}, {-32}, {90}, {1.7}, {-0.5}}},
      {14, 60, B, Steps(50, 200, 50), {v4, {1}, n2, {200}, {95}, {-32}, {90}, {1.7}, {-0.6}}},
      {14, 60, B, Steps(0, 210, 30), {v4, {1}, n1, {200}, {164, 141}, {-32}, {90}, {1.7}, {-0.5}}},
      {15, 30, B, Steps(0, 210, 30), {v4, {1}, n1, {200}, {371}, {-32}, {90}, {1.7}, {0.5}}},
      {15, 30, B, Steps(50, 200, 50), {v4, {1}, n2, {200}, {325}, {-32}, {90}, {1.7}, {0.6}}},
      {15, 30, B, Steps(0, 210, 30), {v4, {1}, n1, {200}, {256, 279}, {-32}, {90}, {1.7}, {0.5}}},
      mid(16, 60, MB, {0}, {1}, {1}, {49}, {90}, {1.9}),
      mid(16, 60, MC, {60}, {1}, {1}, {164}, {90}, {1.9}),
      {16, 60, A, o16, {v4, {1}, {1}, xr16, {-32}, sway16, {2.3}, {120}}},
      mid(17, 30, MB, {0}, {1}, {1}, {371}, {90}, {1.9}),
      mid(17, 30, MC, {60}, {1}, {1}, {256}, {90}, {1.9}),
      {17, 30, A, o16, {v4, {1}, {1}, xl16, {-32}, sway16, {2.3}, {120}}},
      mid(18, 60, MB, {0}, {1}, {2}, {49}, {90}, {1.9}),
      mid(18, 60, MC, {60}, {1}, {2}, {164}, {90}, {1.9}),
      {18, 60, A, o16, {v4, {1}, {1}, xr16, {-32}, sway16, {2.3}, {120}}},
      mid(19, 30, MB, {0}, {1}, {2}, {371}, {90}, {1.9}),
      mid(19, 30, MC, {60}, {1}, {2}, {256}, {90}, {1.9}),
      {19, 30, A, o16, {v4, {1}, {1}, xl16, {-32}, sway16, {2.3}, {120}}},
      {20, 30, B, Steps(0, 90, 30),
       {v4, {0}, n1, {200}, {26, 49}, {-32}, {87, 93, 91, 89}, {1.5}, {-0.4}}},
      {20, 30, B, Steps(120, 210, 30),
       {v4, {0}, n1, {200}, {26, 49}, {-32}, {87, 93, 92, 88}, {1.5}, {-0.45}}},
      {20, 30, B, Steps(0, 90, 30),
       {v4, {0}, n1, {200}, {394, 371}, {-32}, {87, 93, 91, 89}, {1.5}, {0.4}}},
      {20, 30, B, Steps(120, 210, 30),
       {v4, {0}, n1, {200}, {394, 371}, {-32}, {87, 93, 92, 88}, {1.5}, {0.45}}},
      {20, 30, C, {0, 40, 80, 120, 160, 200, 0, 40, 80, 120, 160, 200},
       {v12, {1}, zc_level, {50, 55}, {200}, {256, 279, 371, 325, 279, 325, 164, 141, 49, 95, 141, 95},
        {-32}, {100, 80, 110, 110, 70, 90, 100, 80, 90, 110, 70, 90},
        {2.2, 2.3, 2.3, 2.2, 2.2, 2.3, 2.2, 2.3, 2.3, 2.2, 2.2, 2.3}, {-0.03}}},
      {60, 100, B, Steps(0, 280, 40), {v4, {1}, n1, {200}, {49}, {-32}, {90}, {1.5}, {-0.4}}},
      {60, 100, C, Steps(0, 200, 40),
       {v4, {1}, zc_level, {50, 55}, {200}, {256, 279, 371, 325, 279, 325}, {-32},
        {100, 80, 110, 110, 70, 90}, {2.2, 2.3, 2.3, 2.2}, {-0.03}}},
      {60, 100, B, Steps(0, 280, 40), {v4, {1}, n1, {200}, {141}, {-32}, {90}, {1.5}, {-0.4}}},
      {61, 10, B, Steps(0, 280, 40), {v4, {1}, n1, {200}, {371}, {-32}, {90}, {1.5}, {0.4}}},
      {61, 10, C, Steps(0, 200, 40),
       {v4, {1}, zc_level, {50, 55}, {200}, {164, 141, 49, 95, 141, 95}, {-32},
        {100, 80, 90, 110, 70, 90}, {2.2, 2.3, 2.3, 2.2}, {-0.03}}},
      {61, 10, B, Steps(0, 280, 40), {v4, {1}, n1, {200}, {279}, {-32}, {90}, {1.5}, {0.4}}},
      mid(62, 30, MB, {0, 0}, {2}, {1}, {164, 256}, {90}, {1.8}),
      mid(62, 30, MC, {100, 100}, {3}, {1}, {95, 325}, {80, 100}, {2.4}),
      mid(62, 30, MA, {200, 200}, {4}, {1}, {72, 348}, {90}, {1.7}),
      {63, 10, A, Steps(0, 200, 10), {v21, {0}, {1}, x21, {-32}, sway21, {3.5}, {80}}},
      {63, 10, A, Steps(5, 205, 10), {v21, {0}, {1, 2}, x21, {-32}, {90}, {3}, {120}}},
      {63, 10, A, Steps(200, 250, 10),
       {v4, {0}, {1}, {72, 348, 164, 256, 371, 49}, {-32}, {0, 180}, {3.5}, {80}}},
      {63, 10, A, Steps(205, 245, 10),
       {v4, {0}, {1, 2}, {72, 348, 164, 256, 371}, {-32}, {90}, {3}, {120}}},
      mid(64, 60, MB, {0, 0}, {2}, {1}, {164, 256}, {90}, {1.8}),
      mid(64, 60, MC, {100, 100}, {3}, {2}, {49, 371}, {80, 100}, {2.3}),
      mid(64, 60, MA, {200, 200}, {4}, {1}, {118, 302}, {90}, {1.5}),
      mid(65, 60, MC, {0, 0}, {2}, {2}, {95, 325}, {90}, {2.3}),
      mid(65, 60, MA, {100, 100}, {3}, {2}, {164, 256}, {90}, {2}),
      mid(65, 60, MB, {200, 200}, {4}, {2}, {49, 371}, {90}, {1.5}),
  };
}

TEST_F(GameTest, Stage3SpawnLogFollowsTheWrittenTimeline) {
  ChangePhase(g_game, kPhaseFirstWave);
  SpawnLog log;
  RunUntil(Stage3Script, kPhaseMidBoss, log);
  ASSERT_EQ(g_game.levels[kLevelPhase], kPhaseMidBoss);
  // The mid-boss phase is skipped here; the second row starts at phase 60.
  ChangePhase(g_game, kPhaseSecondWave);
  RunUntil(Stage3Script, kPhaseBoss, log);
  ASSERT_EQ(g_game.levels[kLevelPhase], kPhaseBoss);

  std::vector<Spawn> expected = Expand(WrittenTimeline());
  ASSERT_EQ(expected.size(), 303u);
  gametest::ZakoCLevelsBySubType(expected);  // the rows' own levels are compared below
  ASSERT_EQ(log.spawns.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(log.spawns[i], expected[i]) << "spawn " << i;
  }

  // Phase order and lengths: B + W + 2 frames when no enemy lives on.
  const std::vector<std::pair<uint32_t, uint32_t>> phases = {
      {10, 352}, {11, 312}, {14, 292}, {15, 262}, {16, 362}, {17, 332}, {18, 362}, {19, 332},
      {20, 262}, {60, 402}, {61, 322}, {62, 282}, {63, 262}, {64, 312}, {65, 312}};
  EXPECT_EQ(log.phase_frames, phases);
}

TEST_F(GameTest, Stage3TableRowsAreTheWrittenRowsInTableOrder) {
  EXPECT_EQ(gametest::TableRows(kStage3Timeline), gametest::ExpandInTableOrder(WrittenTimeline()));
}

TEST_F(GameTest, Stage3IsSceneFiveAndLoadsNoBossTrack) {
  EXPECT_EQ(g_scene_table[kSceneStage1 + 2], &Stage3Script);
  const StageConstants& c = *kStage3Timeline.constants;
  EXPECT_EQ(c.boss_music_file, nullptr);
  EXPECT_EQ(c.next_scene, kSceneStage1 + 3);
}

TEST_F(GameTest, Stage3PhasesWithTheEnemyExitWaitForLiveEnemies) {
  for (uint32_t phase : {20u, 62u, 64u, 65u}) {
    gametest::ResetGameGlobals();
    ChangePhase(g_game, phase);
    const WavePhase& w = *FindWavePhase(kStage3Timeline, phase);
    for (uint32_t f = 0; f < w.spawn_base + w.exit_wait + 100; ++f) Stage3Script(g_game);
    EXPECT_EQ(g_game.levels[kLevelPhase], phase);
    for (GameObject& r : g_enemies) r.life = 0.0;
    Stage3Script(g_game);
    EXPECT_EQ(g_game.levels[kLevelPhase], w.next_phase) << phase;
  }
}

}  // namespace
