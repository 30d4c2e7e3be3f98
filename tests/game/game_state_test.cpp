// The state stack, stage clock and per-scene reset.
#include <gtest/gtest.h>

#include "game/frame/game_state.h"
#include "game/objects/game_object.h"
#include "tests/game/game_fixture.h"

namespace {

using gametest::GameTest;

TEST_F(GameTest, AdvanceWithWaitFiresOnTheWaitPlusSecondCall) {
  GameState& s = g_game;
  int call = 0;
  bool fired = false;
  while (!fired && call < 200) {
    ++call;
    fired = AdvanceStateLevel(s, kLevelPhase, 100, true, false, 4);
  }
  EXPECT_EQ(call, 102);
  EXPECT_EQ(s.levels[kLevelPhase], 4u);
  EXPECT_EQ(s.level_counters[kLevelPhase], 0u);
}

TEST_F(GameTest, AdvanceWithoutWaitFiresAtOnceAndClearsLowerLevels) {
  GameState& s = g_game;
  s.levels[kLevelPhase] = 6;
  s.level_counters[kLevelPhase] = 40;
  s.levels[kLevelSubPhase] = 2;
  s.level_counters[kLevelSubPhase] = 9;
  EXPECT_TRUE(AdvanceStateLevel(s, kLevelScene, 0, true, false, 4));
  EXPECT_EQ(s.levels[kLevelScene], 4u);
  EXPECT_EQ(s.levels[kLevelPhase], 0u);
  EXPECT_EQ(s.level_counters[kLevelPhase], 0u);
  EXPECT_EQ(s.levels[kLevelSubPhase], 0u);
  EXPECT_EQ(s.level_counters[kLevelSubPhase], 0u);
  // A phase change clears only the sub-phase.
  s.levels[kLevelSubPhase] = 2;
  EXPECT_TRUE(AdvanceStateLevel(s, kLevelPhase, 0, true, false, 3));
  EXPECT_EQ(s.levels[kLevelScene], 4u);
  EXPECT_EQ(s.levels[kLevelSubPhase], 0u);
}

TEST_F(GameTest, AdvanceNeedingNoEnemyWaitsForTheBossAndEnemies) {
  GameState& s = g_game;
  s.boss_gauge.active = 1;
  for (int i = 0; i < 10; ++i) EXPECT_FALSE(AdvanceStateLevel(s, kLevelPhase, 0, true, true, 1));
  EXPECT_EQ(s.level_counters[kLevelPhase], 10u);  // the counter keeps counting
  s.boss_gauge.active = 0;
  g_enemies[57].in_use = 1;
  g_enemies[57].life = 0.5;
  EXPECT_FALSE(AdvanceStateLevel(s, kLevelPhase, 0, true, true, 1));
  g_enemies[57].life = 0.0;  // a dying enemy with no life left does not count
  EXPECT_TRUE(NoLiveEnemy());
  EXPECT_FALSE(AdvanceStateLevel(s, kLevelPhase, 0, false, true, 1));
  EXPECT_TRUE(AdvanceStateLevel(s, kLevelPhase, 0, true, true, 1));
}

TEST_F(GameTest, FinishPhaseAfterThreeFrames) {
  GameState& s = g_game;
  EXPECT_FALSE(FinishPhaseAfter3Frames(s));
  EXPECT_FALSE(FinishPhaseAfter3Frames(s));
  s.levels[kLevelSubPhase] = 5;
  EXPECT_TRUE(FinishPhaseAfter3Frames(s));
  EXPECT_EQ(s.levels[kLevelPhase], 9999u);
  EXPECT_EQ(s.levels[kLevelSubPhase], 0u);
  EXPECT_EQ(s.level_counters[kLevelPhase], 0u);
}

TEST(GameStateRamp, StepSignDecidesTheClamp) {
  double v = 10.0;
  RampValue(v, 0.0, 5.0);  // step 0, target below: at the target at once
  EXPECT_EQ(v, 5.0);
  v = 10.0;
  RampValue(v, 0.0, 20.0);  // step 0, target above: stays
  EXPECT_EQ(v, 10.0);
  v = 10.0;
  RampValue(v, -1.5, 9.0);
  EXPECT_EQ(v, 9.0);
  v = 10.0;
  RampValue(v, -0.5, 9.0);
  EXPECT_EQ(v, 9.5);
  v = 0.0;
  RampValue(v, 0.02, 1.0);
  EXPECT_EQ(v, 0.02);
}

TEST_F(GameTest, StageClockStopsInTalkModeButPhaseCounterRuns) {
  GameState& s = g_game;
  StageTick(s, 100, 0.5, 2.0, 5.0, 255.0);
  EXPECT_EQ(s.spawn_base, 100u);
  EXPECT_EQ(s.scroll_speed, 0.5);
  EXPECT_EQ(s.background_brightness, 5.0);
  EXPECT_EQ(s.stage_frame_counter, 1u);
  s.talk.talk_mode = 1;
  StageTickScroll(s, 100, 0.5, 2.0);
  EXPECT_EQ(s.stage_frame_counter, 1u);
  EXPECT_EQ(s.scroll_speed, 1.0);
  EXPECT_EQ(s.background_brightness, 5.0);
  // Spawn frames come from the phase counter, which a wave advances itself.
  int hits = 0;
  for (int f = 0; f < 300; ++f) {
    if (IsSpawnFrame(s, 30)) ++hits;
    AdvanceStateLevel(s, kLevelPhase, 1000, false, false, 0);
  }
  EXPECT_EQ(hits, 1);
}

TEST_F(GameTest, ResetSessionClearsPlayKeepsProgress) {
  GameState& s = g_game;
  s.high_score = 1234;
  s.carried_score = 77;
  s.record_words[4] = 59999;
  s.replay_playback = 1;
  s.player_setup_row = 1;
  s.levels[kLevelScene] = 3;
  s.levels[kLevelPhase] = 2;
  s.score = 500;
  s.pause = 1;
  s.fade_value = 255.0;
  s.replay_frame_index = 99;
  s.talk.talk_mode = 1;
  s.talk.left_lines[2] = "x";
  s.boss_gauge.active = 1;
  s.boss_gauge.time_limit = 3000;
  s.boss_gauge.phase = 3;
  s.music_caption.on = 1;
  g_enemies[3].in_use = 1;
  g_enemies[3].free = 0;
  ResetSession(s);
  EXPECT_EQ(g_enemies[3].in_use, 0);
  EXPECT_EQ(g_enemies[3].free, 1);
  EXPECT_EQ(s.score, 0u);
  EXPECT_EQ(s.pause, 0);
  EXPECT_EQ(s.fade_value, 0.0);
  EXPECT_EQ(s.replay_frame_index, 0u);
  EXPECT_EQ(s.talk.talk_mode, 0);
  EXPECT_STREQ(s.talk.left_lines[2], "");
  EXPECT_EQ(s.boss_gauge.active, 0);
  EXPECT_EQ(s.boss_gauge.time_limit, 0u);
  EXPECT_EQ(s.boss_gauge.phase, 3u);
  EXPECT_EQ(s.music_caption.on, 0);
  EXPECT_EQ(s.high_score, 1234u);
  EXPECT_EQ(s.carried_score, 77u);
  EXPECT_EQ(s.replay_playback, 1);
  EXPECT_EQ(s.levels[kLevelScene], 3u);
  EXPECT_EQ(s.levels[kLevelPhase], 2u);
  StartMusicCaption(s, "credit");
  EXPECT_EQ(s.music_caption.on, 1);
  EXPECT_EQ(s.music_caption.y, 460.0);
  EXPECT_STREQ(s.music_caption.text, "credit");
}

}  // namespace
