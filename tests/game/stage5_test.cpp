// Stage 5: its one wave against the written timeline, the wave's exit, the
// boss's arrival, the phases it does not have, and its end on the first
// frame of the end phase, in play and in playback.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "game/bosses/boss.h"
#include "game/frame/frame_loop.h"
#include "game/frame/game_state.h"
#include "game/objects/dispatch.h"
#include "game/objects/enemies.h"
#include "game/stages/stage5_timeline.h"
#include "game/stages/stage_script.h"
#include "tests/game/game_fixture.h"
#include "tests/game/spawn_log.h"

namespace {

namespace fs = std::filesystem;
using gametest::GameTest;
using gametest::Spawn;
using gametest::SpawnLog;

uint32_t Phase() { return g_game.levels[kLevelPhase]; }
uint32_t Counter() { return g_game.level_counters[kLevelPhase]; }

TEST_F(GameTest, Stage5WaveFollowsTheWrittenTimelineAndWaitsForItsEnemies) {
  ChangePhase(g_game, kPhaseFirstWave);
  SpawnLog log;
  gametest::RunUntil(Stage5Script, kPhaseBoss, log);
  ASSERT_EQ(Phase(), kPhaseBoss);
  const std::vector<gametest::Run> written = {
      {10, 100, kKindZakoA, gametest::Steps(0, 200, 10),
       {{1, 2, 3, 4, 1, 2, 3, 4, 1, 2, 3, 1, 2, 3, 4, 2, 3, 4, 1, 2, 4},
        {0},
        {1},
        {279, 348, 141, 72, 210, 325, 95, 72, 348, 210, 302, 348, 210, 302, 118, 325, 95, 72, 348,
         210, 72},
        {-32},
        {0, 180, 0, 180, 0, 180, 0, 180, 0, 180, 0, 0, 180, 0, 180, 180, 0, 180, 0, 180, 180},
        {2.8},
        {80}}}};
  const std::vector<Spawn> expected = gametest::Expand(written);
  ASSERT_EQ(expected.size(), 21u);
  ASSERT_EQ(log.spawns.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(log.spawns[i], expected[i]) << "spawn " << i;
    EXPECT_EQ(static_cast<int>(expected[i].args[3] - 210) % 23, 0);
  }
  // With no enemy left the wave ends once its counter has passed 320.
  EXPECT_EQ(log.phase_frames, (std::vector<std::pair<uint32_t, uint32_t>>{{10, 322}}));

  // With its enemies alive it waits on.
  gametest::ResetGameGlobals();
  ChangePhase(g_game, kPhaseFirstWave);
  for (int f = 0; f < 1000; ++f) Stage5Script(g_game);
  EXPECT_EQ(Phase(), kPhaseFirstWave);
  for (GameObject& r : g_enemies) r.life = 0.0;
  Stage5Script(g_game);
  EXPECT_EQ(Phase(), kPhaseBoss);
  EXPECT_EQ(Counter(), 0u);
}

TEST_F(GameTest, Stage5BossComesAtCounter400AfterTheTalkStarts) {
  g_game.levels[kLevelScene] = kSceneStage5;
  ChangePhase(g_game, kPhaseBoss);
  while (Counter() < 300) Stage5Script(g_game);
  EXPECT_EQ(g_game.talk.talk_mode, 0);
  Stage5Script(g_game);
  EXPECT_EQ(g_game.talk.talk_mode, 1);
  while (Counter() < 400) Stage5Script(g_game);
  EXPECT_EQ(g_enemies[0].in_use, 0);
  Stage5Script(g_game);
  EXPECT_EQ(g_enemies[0].kind, static_cast<uint32_t>(kKindBoss5));
  EXPECT_EQ(g_game.opponent_portrait_set, 2u);
  for (int f = 0; f < 2000; ++f) Stage5Script(g_game);
  EXPECT_EQ(Phase(), kPhaseBoss);  // the boss has not left
  EXPECT_EQ(g_scene_table[kSceneStage5], &Stage5Script);
}

TEST_F(GameTest, Stage5PhasesItDoesNotHaveDoNothing) {
  for (uint32_t phase : {11u, 20u, kPhaseMidBoss, kPhaseAfterMidBoss, kPhaseSecondWave, 66u}) {
    gametest::ResetGameGlobals();
    ChangePhase(g_game, phase);
    for (int f = 0; f < 500; ++f) Stage5Script(g_game);
    EXPECT_EQ(Phase(), phase);
    EXPECT_EQ(Counter(), 0u) << phase;
    EXPECT_EQ(g_game.talk.talk_mode, 0) << phase;
    EXPECT_EQ(g_game.stage_frame_counter, 0u) << phase;
    EXPECT_EQ(g_enemies[0].in_use, 0) << phase;
  }
}

TEST_F(GameTest, Stage5EndSavesOnItsFirstFrameAndReturnsToTheTitle) {
  for (const bool playback : {false, true}) {
    gametest::ResetGameGlobals();
    gametest::ScratchFolder folder;
    g_game.levels[kLevelScene] = kSceneStage5;
    ChangePhase(g_game, kPhaseStageEnd);
    g_game.replay_playback = playback ? 1 : 0;
    g_game.score = 900;
    g_game.high_score = 300;
    g_game.replay_frame_index = 5;
    Stage5Script(g_game);
    EXPECT_EQ(g_game.levels[kLevelScene], kSceneTitle);
    EXPECT_EQ(Phase(), 0u);
    EXPECT_EQ(g_game.level_counters[kLevelScene], 0u);
    EXPECT_EQ(fs::exists("replay/st5.hsd"), !playback);
    EXPECT_EQ(fs::exists("rec.hsd"), !playback);
    EXPECT_EQ(g_game.high_score, playback ? 300u : 900u);
    if (!playback) { EXPECT_EQ(fs::file_size("replay/st5.hsd"), 8u + 4u * 5u); }
  }
}

}  // namespace
