// Stage 4: its spawn log and table rows against its written timeline, the
// proof that its waves are stage 3's but for phase 17's hand-over, and its
// end: the boss's defeat, the boss standing and vanishing, and the return to
// the title with the replay written once.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "game/bosses/boss.h"
#include "game/frame/frame_loop.h"
#include "game/frame/game_state.h"
#include "game/frame/input.h"
#include "game/objects/dispatch.h"
#include "game/objects/enemies.h"
#include "game/stages/stage3_timeline.h"
#include "game/stages/stage4_timeline.h"
#include "game/stages/stage_script.h"
#include "tests/game/game_fixture.h"
#include "tests/game/spawn_log.h"

namespace {

namespace fs = std::filesystem;
using gametest::Expand;
using gametest::GameTest;
using gametest::L;
using gametest::Run;
using gametest::Spawn;
using gametest::SpawnLog;
using gametest::Steps;

// Stage 4's timeline as written for it.
std::vector<Run> WrittenTimeline() {
  const L o24 = {0,  30, 60, 90,  120, 150, 170, 190, 15,  45,  75,  105,
                 135, 165, 185, 205, 25, 55, 85,  115, 145, 175, 195, 215};
  const L sub24 = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
  const L xr = {325, 256, 371, 233, 348, 279, 325, 256};
  const L xl = {95, 164, 49, 187, 72, 141, 95, 164};
  const L sway24 = {0, 180, 0, 180, 0, 180, 0, 180, 0, 180, 0, 180,
                    0, 180, 0, 180, 90, 90, 90, 90, 90, 90, 90, 90};
  const L o16 = {15, 45, 75, 105, 135, 165, 185, 205, 25, 55, 85, 115, 145, 175, 195, 215};
  const L sway16 = {0, 180, 0, 180, 0, 180, 0, 180, 90, 90, 90, 90, 90, 90, 90, 90};
  const L v4 = {1, 2, 3, 4};
  const L n1 = {30, 30, 35, 35};
  const L n2 = {20, 20, 25, 25};
  const L v21 = {1, 2, 3, 4, 1, 2, 3, 4, 2, 3, 4, 2, 4, 1, 2, 3, 1, 4, 2, 3, 1};
  const L x21 = {72,  348, 164, 256, 371, 49,  210, 72,  348, 164, 256,
                 371, 49,  210, 371, 49,  210, 72,  348, 164, 210};
  const L sway21 = {0, 180, 0, 180, 0, 180, 0, 0, 180, 0, 180, 0, 180, 0, 0, 180, 0, 0, 180, 0, 0};
  const uint32_t A = kKindZakoA, B = kKindZakoB;
  const uint32_t MA = kKindMidZakoA, MB = kKindMidZakoB, MC = kKindMidZakoC;
  // The x lists repeat their eight columns over the run.
  auto mid = [](uint32_t phase, uint32_t base, uint32_t kind, L offsets, L variant, L level, L x,
                L angle, L speed) {
    return Run{phase, base, kind, offsets, {variant, level, {520}, x, {-32}, angle, speed, {-0.03}}};
  };
  return {
      {10, 100, A, o24, {v4, sub24, {1}, xr, {-32}, sway24, {2.3}, {120}}},
      {11, 60, A, o24, {v4, {0}, {1}, xl, {-32}, sway24, {2.3}, {120}}},
      {14, 60, B, Steps(0, 210, 30), {v4, {1}, n1, {200}, {49}, {-32}, {90}, {1.7}, {-0.5}}},
      {14, 60, B, Steps(50, 200, 50), {v4, {1}, n2, {200}, {95}, {-32}, {90}, {1.7}, {-0.6}}},
      {14, 60, B, Steps(0, 210, 30), {v4, {1}, n1, {200}, {164, 141}, {-32}, {90}, {1.7}, {-0.5}}},
      {15, 30, B, Steps(0, 210, 30), {v4, {1}, n1, {200}, {371}, {-32}, {90}, {1.7}, {0.5}}},
      {15, 30, B, Steps(50, 200, 50), {v4, {1}, n2, {200}, {325}, {-32}, {90}, {1.7}, {0.6}}},
      {15, 30, B, Steps(0, 210, 30), {v4, {1}, n1, {200}, {256, 279}, {-32}, {90}, {1.7}, {0.5}}},
      mid(16, 60, MB, {0}, {1}, {1}, {49}, {90}, {1.9}),
      mid(16, 60, MC, {60}, {1}, {1}, {164}, {90}, {1.9}),
      {16, 60, A, o16, {v4, {1}, {1}, xr, {-32}, sway16, {2.3}, {120}}},
      mid(17, 30, MB, {0}, {1}, {1}, {371}, {90}, {1.9}),
      mid(17, 30, MC, {60}, {1}, {1}, {256}, {90}, {1.9}),
      {17, 30, A, o16, {v4, {1}, {1}, xl, {-32}, sway16, {2.3}, {120}}},
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

TEST_F(GameTest, Stage4SpawnLogFollowsTheWrittenTimeline) {
  ChangePhase(g_game, kPhaseFirstWave);
  SpawnLog log;
  gametest::RunUntil(Stage4Script, kPhaseBoss, log);
  ASSERT_EQ(g_game.levels[kLevelPhase], kPhaseBoss);
  const std::vector<Spawn> expected = Expand(WrittenTimeline());
  ASSERT_EQ(expected.size(), 195u);
  ASSERT_EQ(log.spawns.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(log.spawns[i], expected[i]) << "spawn " << i;
  }
  // No mid-boss: phase 17 leads to 62. B + W + 2 frames when no enemy lives on.
  const std::vector<std::pair<uint32_t, uint32_t>> phases = {
      {10, 352}, {11, 312}, {14, 292}, {15, 262}, {16, 362},
      {17, 332}, {62, 282}, {63, 262}, {64, 312}, {65, 312}};
  EXPECT_EQ(log.phase_frames, phases);
}

TEST_F(GameTest, Stage4TableRowsAreTheWrittenRowsInTableOrder) {
  EXPECT_EQ(gametest::TableRows(kStage4Timeline), gametest::ExpandInTableOrder(WrittenTimeline()));
}

// Stage 4 runs stage 3's wave phases themselves: the same heads and the same
// spawn rows, but for the phase after 17.
TEST_F(GameTest, Stage4WavesAreStage3sButPhase17LeadsTo62) {
  ASSERT_EQ(kStage4Timeline.phase_count, 10u);
  for (size_t i = 0; i < kStage4Timeline.phase_count; ++i) {
    const WavePhase& w = kStage4Timeline.phases[i];
    const WavePhase* s3 = FindWavePhase(kStage3Timeline, w.phase);
    ASSERT_NE(s3, nullptr) << w.phase;
    EXPECT_EQ(w.rows, s3->rows) << w.phase;
    EXPECT_EQ(w.row_count, s3->row_count) << w.phase;
    EXPECT_EQ(w.spawn_base, s3->spawn_base);
    EXPECT_EQ(w.ramp_brightness, s3->ramp_brightness);
    EXPECT_EQ(w.scroll_step, s3->scroll_step);
    EXPECT_EQ(w.scroll_target, s3->scroll_target);
    EXPECT_EQ(w.brightness_step, s3->brightness_step);
    EXPECT_EQ(w.brightness_target, s3->brightness_target);
    EXPECT_EQ(w.exit_wait, s3->exit_wait);
    EXPECT_EQ(w.exit_needs_no_enemy, s3->exit_needs_no_enemy);
    EXPECT_EQ(w.next_phase, w.phase == 17 ? 62u : s3->next_phase) << w.phase;
  }
  EXPECT_EQ(g_scene_table[kSceneStage1 + 3], &Stage4Script);
  const StageConstants& c = *kStage4Timeline.constants;
  EXPECT_EQ(c.midboss, nullptr);
  EXPECT_EQ(c.boss, &CreateBoss4);
  EXPECT_STREQ(c.boss_music_file, "bgm/boss4.mp3");
}

// The boss phase to the end: the defeat leaves talk mode on, the boss stands
// 180 frames after its closing talk and goes, and the stage end writes the
// replay and the record on its one frame and returns to the title.
TEST_F(GameTest, Stage4BossDefeatEndsTheStageInTheTitle) {
  gametest::ScratchFolder folder;
  g_game.levels[kLevelScene] = kSceneStage1 + 3;
  ChangePhase(g_game, kPhaseBoss);
  g_player.in_use = 1;
  g_player.x = 210.0;
  g_player.y = 400.0;
  g_player.invulnerable = 1;
  g_input.held_actions = kActionFocus;  // every talk step lasts its minimum
  g_game.score = 500;
  g_game.high_score = 100;
  g_game.replay_frame_index = 77;
  GameObject* boss = nullptr;
  int frames = 0, standing = -1, after_removal = -1;
  for (; frames < 60000 && g_game.levels[kLevelScene] != kSceneTitle; ++frames) {
    RunScene();
    UpdateObjects();
    WalkDrawOrder([](GameObject&) {}, nullptr);
    if (boss == nullptr && g_enemies[0].in_use != 0) boss = &g_enemies[0];
    if (boss == nullptr) continue;
    // Each attack phase ends as soon as its life may be taken.
    if (boss->in_use != 0 && boss->state >= 1 && boss->state <= 5 &&
        g_game.boss_gauge.phase_start_countdown == 0) {
      boss->killed = 1;
    }
    if (boss->in_use != 0 && boss->state == kBossDefeated && boss->sub_state == kTalkDone) {
      if (standing < 0) standing = 0;
      ++standing;
    }
    if (boss->in_use == 0 && after_removal < 0) {
      after_removal = 0;
      EXPECT_EQ(g_game.talk.talk_mode, 1);
      EXPECT_EQ(g_game.levels[kLevelPhase], kPhaseBoss);
    }
    if (after_removal >= 0) ++after_removal;
  }
  ASSERT_EQ(g_game.levels[kLevelScene], kSceneTitle);
  EXPECT_EQ(standing, 180);
  // The removal's frame, the boss phase's exit on the next, and the stage
  // end's only frame.
  EXPECT_EQ(after_removal, 3);
  EXPECT_EQ(g_game.levels[kLevelPhase], 0u);
  EXPECT_EQ(fs::file_size("replay/st4.hsd"), 8u + 4u * g_game.replay_frame_index);
  EXPECT_EQ(g_game.high_score, g_game.score);
  EXPECT_TRUE(fs::exists("rec.hsd"));
}

}  // namespace
