// The stage phase machine: start-up phases, the boss phases without a boss,
// and the stage end with and without playback.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "game/frame/data_report.h"
#include "game/frame/game_error.h"
#include "game/frame/game_state.h"
#include "game/frame/input.h"
#include "game/frame/save_writer.h"
#include "game/objects/dispatch.h"
#include "game/objects/enemy_bullets.h"
#include "game/stages/stage_script.h"
#include "rorud/rorud.h"
#include "tests/game/game_fixture.h"

namespace {

using gametest::GameTest;
using gametest::ScratchFolder;

uint32_t Phase() { return g_game.levels[kLevelPhase]; }

TEST_F(GameTest, StageStartsAndFadesIn) {
  g_game.levels[kLevelScene] = kSceneStage1;
  g_game.carried_score = 42;
  g_game.score = 7;
  Stage1Script(g_game);  // reset
  EXPECT_EQ(Phase(), kPhaseLoad);
  EXPECT_EQ(g_game.score, 0u);
  Stage1Script(g_game);  // load
  EXPECT_EQ(Phase(), kPhaseObjects);
  Stage1Script(g_game);  // objects
  EXPECT_EQ(Phase(), kPhaseStart);
  EXPECT_EQ(g_backgrounds[0].kind, kKindBackgroundBase);
  EXPECT_EQ(g_backgrounds[1].kind, kKindBackgroundBase);
  EXPECT_EQ(g_backgrounds[2].kind, kKindBackgroundSub);
  EXPECT_EQ(g_backgrounds[3].kind, kKindBackgroundSub);
  // Portraits, then speech windows, left before right; then the indicator.
  EXPECT_EQ(g_effects[0].kind, kKindPortrait);
  EXPECT_EQ(g_effects[0].sub_type, 1u);
  EXPECT_EQ(g_effects[1].kind, kKindPortrait);
  EXPECT_EQ(g_effects[1].sub_type, 2u);
  EXPECT_EQ(g_effects[2].kind, kKindTalkWindow);
  EXPECT_EQ(g_effects[2].sub_type, 1u);
  EXPECT_EQ(g_effects[3].kind, kKindTalkWindow);
  EXPECT_EQ(g_effects[3].sub_type, 2u);
  EXPECT_EQ(g_effects[4].kind, kKindFocusIndicator);
  Stage1Script(g_game);  // start
  EXPECT_EQ(Phase(), kPhaseFadeIn);
  EXPECT_EQ(g_game.score, 42u);
  EXPECT_EQ(g_game.hud_on, 1);
  EXPECT_EQ(g_game.scroll_speed, 2.3);
  EXPECT_EQ(g_game.music_caption.on, 1);
  // The generator stands at the stage seed: the next draw equals a fresh
  // generator's first draw.
  const int first = GetRandomRange(1000);
  SeedRandom(kStageSeed);
  EXPECT_EQ(first, GetRandomRange(1000));

  // 1.5 a frame from 0: 255 on the 170th frame.
  for (int f = 0; f < 169; ++f) Stage1Script(g_game);
  EXPECT_EQ(Phase(), kPhaseFadeIn);
  Stage1Script(g_game);
  EXPECT_EQ(Phase(), kPhaseFirstWave);
  EXPECT_EQ(g_game.fade_value, 255.0);
  EXPECT_EQ(g_game.level_counters[kLevelPhase], 0u);
}

TEST_F(GameTest, ReplayLoadFailureReturnsToTitle) {
  ScratchFolder folder;
  g_game.levels[kLevelScene] = kSceneStage1;
  g_game.replay_playback = 1;
  ChangePhase(g_game, kPhaseLoad);
  Stage1Script(g_game);
  EXPECT_EQ(g_game.levels[kLevelScene], kSceneTitle);
  EXPECT_EQ(Phase(), 0u);
}

TEST_F(GameTest, MidBossPhaseBringsItsBossOnAndHoldsWhileItLives) {
  ChangePhase(g_game, kPhaseMidBoss);
  GameObject& bullet = g_enemy_bullets[5];
  bullet.in_use = 1;
  bullet.can_be_hit = 1;
  for (int f = 0; f < 210; ++f) Stage1Script(g_game);
  EXPECT_EQ(bullet.killed, 0);
  Stage1Script(g_game);  // counter 210: the cancel
  EXPECT_EQ(bullet.killed, 1);
  EXPECT_EQ(g_game.opponent_portrait_set, 1u);
  for (int f = 0; f < 89; ++f) Stage1Script(g_game);
  EXPECT_EQ(g_game.talk.talk_mode, 0);
  Stage1Script(g_game);  // counter 300: talk starts
  EXPECT_EQ(g_game.talk.talk_mode, 1);
  for (int f = 0; f < 99; ++f) Stage1Script(g_game);
  EXPECT_EQ(g_enemies[0].in_use, 0);
  Stage1Script(g_game);  // counter 400: the mid-boss
  EXPECT_EQ(g_enemies[0].in_use, 1);
  EXPECT_EQ(g_enemies[0].kind, static_cast<uint32_t>(kKindBoss1A));
  EXPECT_EQ(g_game.boss_gauge.active, 1);
  // Without object updates the boss never leaves, and the phase waits.
  const uint32_t clock = g_game.stage_frame_counter;
  for (int f = 0; f < 3000; ++f) Stage1Script(g_game);
  EXPECT_EQ(Phase(), kPhaseMidBoss);
  EXPECT_EQ(g_game.stage_frame_counter, clock);
  for (size_t i = 1; i < kEnemyPoolSize; ++i) EXPECT_EQ(g_enemies[i].in_use, 0);
}

TEST_F(GameTest, AfterMidBossAndBossPhases) {
  ChangePhase(g_game, kPhaseAfterMidBoss);
  for (int f = 0; f < 151; ++f) Stage1Script(g_game);
  EXPECT_EQ(Phase(), kPhaseAfterMidBoss);
  Stage1Script(g_game);
  EXPECT_EQ(Phase(), kPhaseSecondWave);
  ChangePhase(g_game, kPhaseBoss);
  for (int f = 0; f < 1000; ++f) Stage1Script(g_game);
  EXPECT_EQ(Phase(), kPhaseBoss);
  EXPECT_EQ(g_game.opponent_portrait_set, 2u);
  // A falling ramp that starts below its target takes the target at once.
  EXPECT_EQ(g_game.background_brightness, 160.0);
}

TEST_F(GameTest, StageEndSavesAndMovesOn) {
  ScratchFolder folder;
  g_game.levels[kLevelScene] = kSceneStage1;
  ChangePhase(g_game, kPhaseStageEnd);
  g_game.score = 500;
  g_game.high_score = 400;
  g_game.replay_frame_index = 3;
  Stage1Script(g_game);
  EXPECT_EQ(g_game.high_score, 500u);
  EXPECT_EQ(g_game.carried_score, 500u);
  FinishBackgroundSaves();
  EXPECT_TRUE(std::filesystem::exists(folder.path() / "rec.hsd"));
  // The scene counter must pass 100 before stage 2 starts.
  for (int f = 0; f < 100; ++f) Stage1Script(g_game);
  EXPECT_EQ(g_game.levels[kLevelScene], kSceneStage1);
  Stage1Script(g_game);
  EXPECT_EQ(g_game.levels[kLevelScene], kSceneStage1 + 1);
  EXPECT_EQ(Phase(), 0u);
}

// A record or replay that cannot be written is named once with the system's
// reason, however many frames the stage end saves; the old record keeps its
// bytes and the stage still moves on.
TEST_F(GameTest, StageEndNamesTheFilesItCannotWrite) {
  ScratchFolder folder;
  ForgetReportedFiles();
  const std::string old_record = "an old record of 28 bytes..";
  { std::ofstream("rec.hsd", std::ios::binary) << old_record; }
  std::filesystem::permissions("rec.hsd", std::filesystem::perms::owner_read);
  { std::ofstream blocker("replay"); }  // a file where the replay folder should be
  g_game.levels[kLevelScene] = kSceneStage1;
  ChangePhase(g_game, kPhaseStageEnd);
  g_game.score = 500;
  g_game.high_score = 400;
  g_game.replay_frame_index = 3;
  ::testing::internal::CaptureStderr();
  for (int f = 0; f < 5; ++f) Stage1Script(g_game);
  FinishBackgroundSaves();
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.rfind("quillona: cannot write replay/st1.hsd (", 0), 0u) << err;
  EXPECT_NE(err.find("); no replay of this stage is kept\n"), std::string::npos) << err;
  EXPECT_NE(err.find("\nquillona: cannot write rec.hsd (Permission denied); the older record is kept\n"),
            std::string::npos)
      << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 2) << err;
  std::ifstream in("rec.hsd", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), old_record);
  EXPECT_EQ(g_game.high_score, 500u);
  for (int f = 0; f < 101; ++f) Stage1Script(g_game);
  EXPECT_EQ(g_game.levels[kLevelScene], kSceneStage1 + 1);
}

TEST_F(GameTest, StageEndInPlaybackSavesNothingButCarriesTheScore) {
  ScratchFolder folder;
  ChangePhase(g_game, kPhaseStageEnd);
  g_game.replay_playback = 1;
  g_game.score = 500;
  g_game.high_score = 400;
  Stage1Script(g_game);
  EXPECT_EQ(g_game.high_score, 400u);
  EXPECT_FALSE(std::filesystem::exists(folder.path() / "rec.hsd"));
  EXPECT_TRUE(std::filesystem::is_empty(folder.path()));
  EXPECT_EQ(g_game.carried_score, 500u);
}

TEST_F(GameTest, StageEndEqualScoreKeepsTheRecordFile) {
  ScratchFolder folder;
  ChangePhase(g_game, kPhaseStageEnd);
  g_game.score = 400;
  g_game.high_score = 400;
  Stage1Script(g_game);
  EXPECT_FALSE(std::filesystem::exists(folder.path() / "rec.hsd"));
}

TEST_F(GameTest, StageEndWaitsForLiveEnemies) {
  ScratchFolder folder;
  g_game.levels[kLevelScene] = kSceneStage1;
  ChangePhase(g_game, kPhaseStageEnd);
  g_enemies[3].in_use = 1;
  g_enemies[3].life = 1.0;
  for (int f = 0; f < 120; ++f) Stage1Script(g_game);
  EXPECT_EQ(g_game.levels[kLevelScene], kSceneStage1);
  g_enemies[3].life = 0.0;
  Stage1Script(g_game);
  EXPECT_EQ(g_game.levels[kLevelScene], kSceneStage1 + 1);
}

}  // namespace

namespace {

TEST_F(GameTest, SpawnIntoAFullEnemyPoolIsSkipped) {
  for (GameObject& e : g_enemies) {
    e.free = 0;
    e.in_use = 1;
    e.kind = 0;
    e.life = 1.0;
  }
  ChangePhase(g_game, kPhaseFirstWave);
  for (int f = 0; f < 101; ++f) Stage1Script(g_game);
  EXPECT_EQ(g_stop_flag, 0);
  for (const GameObject& e : g_enemies) EXPECT_EQ(e.kind, 0u);
  EXPECT_EQ(g_game.levels[kLevelPhase], kPhaseFirstWave);
}

}  // namespace
