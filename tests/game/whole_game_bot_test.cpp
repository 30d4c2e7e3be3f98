// The whole game from the title by a scripted player on the headless back
// end: stages 1 to 4 cleared one after the other and back to the title, then
// stage 5 reached through the test's scene switch; and the replays of that
// run played back from the title in a second process: every stage frame's
// state hash and each stage's final score must come back.
//
// The recorded run is also held against a stored reference, so that any
// change of gameplay fails here until the reference is renewed on purpose:
// tests/game/whole_game_golden.txt holds, at fixed checkpoints of every
// stage, the frame's state hash and a digest of the stage's frame hashes up
// to it (state_golden.h), made on the placeholder data set. The hashes are of game state, not pixels, so they
// hold for every rasteriser worker count and span level. After a deliberate
// change of gameplay, renew the file with
//   RORUD_RENEW_GAME_GOLDEN=1 ctest -R WholeGameBot
// and commit it with the change.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "game/bosses/boss.h"
#include "game/frame/frame_loop.h"
#include "game/frame/game_error.h"
#include "game/frame/game_state.h"
#include "game/objects/dispatch.h"
#include "game/objects/enemy_bullets.h"
#include "game/objects/game_object.h"
#include "game/objects/player.h"
#include "game/objects/resources.h"
#include "game/stages/stage_script.h"
#include "game/winmain.h"
#include "platform/kernel/kernel.h"
#include "platform/window/window.h"
#include "rorud/rorud.h"
#include "tests/game/game_fixture.h"
#include "tests/game/state_golden.h"
#include "tests/game/state_hash.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kFolderVariable = "RORUD_TEST_BOT_FOLDER";
constexpr const char* kRenewVariable = "RORUD_RENEW_GAME_GOLDEN";
constexpr const char* kGoldenFile = RORUD_SOURCE_DIR "/tests/game/whole_game_golden.txt";
constexpr int kFrameLimit = 60000;  // per stage

// The stages the bot plays, from stage 1, and each one's mid-boss (0: none),
// boss and whether the boss switches to the boss track.
struct StageBosses {
  uint32_t midboss;
  uint32_t boss;
  bool boss_track;
};
constexpr StageBosses kStages[] = {
    {kKindBoss1A, kKindBoss1B, true},
    {kKindBoss2A, kKindBoss2B, true},
    {kKindBoss3A, kKindBoss3B, false},  // stage 3 fights to its stage music
    {0, kKindBoss4, true},
    {0, kKindBoss5, true},  // reached through the scene switch only
};
constexpr uint32_t kLastChainedStage = 4;  // its end returns to the title
constexpr uint32_t kStageCount = sizeof kStages / sizeof kStages[0];

std::string SelfPath() { return fs::read_symlink("/proc/self/exe").string(); }

bool DataSetPresent() {
  return fs::exists(fs::path(RORUD_BINARY_DIR) / "data" / "grp" / "stm1x.png");
}

void StartGame(const fs::path& lock_folder) {
  fs::create_directories(lock_folder);
  plat::SetWindowLockFolder(lock_folder.string());
  plat::EnableVirtualClock(true);
  plat::SetVirtualClockMicros(5'000'000);
  plat::SetVirtualClockAutoAdvance(1);
}

uint32_t Scene() { return g_game.levels[kLevelScene]; }
uint32_t Phase() { return g_game.levels[kLevelPhase]; }
bool InStage() { return Scene() >= kSceneStage1 && Scene() <= kSceneStage5; }

// A stage after its seed: from here on both runs must agree frame by frame.
bool InSeededStage(uint32_t scene) { return Scene() == scene && Phase() >= kPhaseFadeIn; }

bool IsBoss(uint32_t kind) {
  for (const StageBosses& s : kStages) {
    if ((s.midboss != 0 && kind == s.midboss) || kind == s.boss) return true;
  }
  return false;
}

// The test's own shield: nothing hits or grazes the player, in the recorded
// run and in the playback alike, so both play the same game.
void Shield() {
  if (InStage()) g_player_status.bomb_invulnerable_timer = 2;
}

class Keys {
 public:
  void Set(int key, bool down) {
    bool& state = down_[key & 0xFF];
    if (state == down) return;
    state = down;
    plat::HeadlessSetKey(key, down);
  }
  void ReleaseAll() {
    for (int k = 0; k < 256; ++k) Set(k, false);
  }

 private:
  bool down_[256] = {};
};

// The point the player heads for: below the boss, where every shot of the
// spread reaches it; else under the first enemy that can be shot; else the
// bottom middle.
void Target(double& x, double& y) {
  for (const GameObject& e : g_enemies) {
    if (e.in_use != 0 && IsBoss(e.kind)) {
      x = e.x;
      y = e.y + 90.0;
      return;
    }
  }
  y = 400.0;
  for (const GameObject& e : g_enemies) {
    if (e.in_use != 0 && e.can_be_hit != 0 && e.y > 0.0) {
      x = e.x;
      return;
    }
  }
  x = 210.0;
}

// Shot and focus held throughout (the focused shot hits twice as hard, and
// held cancel runs each dialogue step for its minimum); the arrows towards
// the target.
void Steer(Keys& keys) {
  keys.Set('Z', true);
  keys.Set('X', true);
  double x = 0.0, y = 0.0;
  Target(x, y);
  const double dx = x - g_player.x;
  const double dy = y - g_player.y;
  keys.Set(plat::kVkLeft, dx < -3.0);
  keys.Set(plat::kVkRight, dx > 3.0);
  keys.Set(plat::kVkUp, dy < -3.0);
  keys.Set(plat::kVkDown, dy > 3.0);
}

void RunToTitleMenu() {
  for (int f = 0; f < 1000 && !(Scene() == kSceneTitle && Phase() == 3); ++f) RunFrame();
  ASSERT_EQ(Scene(), kSceneTitle);
  ASSERT_EQ(Phase(), 3u);
}

// From the title menu: item `item` (1 start, 3 replay) is chosen and the game
// heads for stage 1, or for `scene` through the test's scene switch.
void ChooseTitleItem(Keys& keys, uint32_t item, uint32_t scene) {
  keys.ReleaseAll();
  RunToTitleMenu();
  for (uint32_t n = 0; n < 3 + item - 1; ++n) {
    keys.Set(n < 3 ? plat::kVkUp : plat::kVkDown, true);
    for (int f = 0; f < 3; ++f) RunFrame();
    keys.Set(n < 3 ? plat::kVkUp : plat::kVkDown, false);
    for (int f = 0; f < 3; ++f) RunFrame();
  }
  ASSERT_EQ(g_game.title_cursor, item);
  keys.Set('Z', true);
  for (int f = 0; f < 5 && Phase() != 4; ++f) RunFrame();  // the title leaves
  if (scene != kSceneStage1) { ASSERT_TRUE(gametest::SwitchStartedStage(scene)); }
  for (int f = 0; f < 200 && Scene() != scene; ++f) RunFrame();
  ASSERT_EQ(Scene(), scene);
}

struct RunLog {
  std::vector<uint64_t> hashes;
  uint32_t score = 0;
  uint32_t last_scene = 0;
  uint32_t replay_frames = 0;
  bool saw_midboss = false;
  bool saw_boss = false;
  bool boss_music_in_entry = false;
  bool fight_started = false;
  bool boss_music_at_fight = false;
  bool stage_music_at_fight = false;
  // Stage 5: the wave's enemies and its last counter, the frames of the last
  // boss's fourth phase on which a ring of 192 came, and the end phase's
  // frames.
  uint32_t wave_enemies = 0;
  uint32_t wave_last_counter = 0;
  std::vector<uint32_t> ring_times;  // in order, whole cycles or the start of one
  uint32_t end_frames = 0;
};

// What stage 5 shows of its script: the state before a frame, and what the
// frame did.
struct Stage5Frame {
  uint32_t phase = 0;
  uint32_t counter = 0;
  bool in_use[kEnemyPoolSize] = {};
  bool bullet_in_use[kEnemyBulletPoolSize] = {};
};

Stage5Frame BeforeStage5Frame() {
  Stage5Frame f;
  f.phase = Phase();
  f.counter = g_game.level_counters[kLevelPhase];
  for (size_t i = 0; i < kEnemyPoolSize; ++i) f.in_use[i] = g_enemies[i].in_use != 0;
  for (size_t i = 0; i < kEnemyBulletPoolSize; ++i) {
    f.bullet_in_use[i] = g_enemy_bullets[i].in_use != 0;
  }
  return f;
}

void WatchStage5(RunLog& log, const Stage5Frame& before) {
  if (before.phase == kPhaseFirstWave) {
    log.wave_last_counter = before.counter;
    for (size_t i = 0; i < kEnemyPoolSize; ++i) {
      log.wave_enemies += !before.in_use[i] && g_enemies[i].in_use != 0;
    }
  }
  if (before.phase == kPhaseStageEnd) ++log.end_frames;
  size_t new_74 = 0;
  for (size_t i = 0; i < kEnemyBulletPoolSize; ++i) {
    const GameObject& b = g_enemy_bullets[i];
    new_74 += !before.bullet_in_use[i] && b.in_use != 0 && b.kind == kKindEnemyBullet74;
  }
  for (const GameObject& e : g_enemies) {
    if (e.in_use != 0 && e.kind == kKindBoss5 && e.state == 4 && e.sub_state == 3 &&
        new_74 == 192) {
      log.ring_times.push_back(e.sub_state_timer - 1);  // the timer has counted on
    }
  }
}

// Runs frames until stage `stage` (from 1) has been left; the steering is
// optional (the playback takes its input from the replay).
void RunStage(uint32_t stage, RunLog& log, Keys* keys) {
  const uint32_t scene = kSceneStage1 + stage - 1;
  const StageBosses& bosses = kStages[stage - 1];
  bool entered = false;
  for (int f = 0; f < kFrameLimit && g_stop_flag == 0; ++f) {
    if (keys != nullptr && Scene() == scene) Steer(*keys);
    Shield();
    const Stage5Frame before = stage == 5 ? BeforeStage5Frame() : Stage5Frame{};
    // Every frame step but the rasterising: the stage's ten thousand frames
    // would spend nearly all their time filling the play field.
    gametest::LogicFrame();
    if (stage == 5 && before.phase != 0) WatchStage5(log, before);
    for (const GameObject& e : g_enemies) {
      if (e.in_use == 0) continue;
      log.saw_midboss |= bosses.midboss != 0 && e.kind == bosses.midboss;
      if (e.kind != bosses.boss) continue;
      log.saw_boss = true;
      // The boss track takes over from the stage music when the fight starts.
      if (e.state == kBossEntry && IsSoundHandlePlaying(g_bgm_boss.handle) == 1) {
        log.boss_music_in_entry = true;
      }
      if (e.state == 1 && !log.fight_started) {
        log.fight_started = true;
        log.boss_music_at_fight = IsSoundHandlePlaying(g_bgm_boss.handle) == 1 &&
                                  IsSoundHandlePlaying(g_bgm_music.handle) != 1;
        log.stage_music_at_fight = IsSoundHandlePlaying(g_bgm_music.handle) == 1;
      }
    }
    if (InSeededStage(scene)) {
      entered = true;
      log.hashes.push_back(gametest::FrameStateHash());
    } else if (entered && Scene() != scene) {
      break;
    }
  }
  log.score = g_game.score;
  log.last_scene = Scene();
  log.replay_frames = g_game.replay_frame_index;
}

void WriteLogs(const fs::path& file, const std::vector<RunLog>& logs) {
  std::ofstream out(file, std::ios::binary);
  for (const RunLog& log : logs) {
    const uint64_t n = log.hashes.size();
    out.write(reinterpret_cast<const char*>(&n), sizeof n);
    out.write(reinterpret_cast<const char*>(log.hashes.data()),
              static_cast<std::streamsize>(n * sizeof(uint64_t)));
    out.write(reinterpret_cast<const char*>(&log.score), sizeof log.score);
    out.write(reinterpret_cast<const char*>(&log.last_scene), sizeof log.last_scene);
  }
}

bool ReadLogs(const fs::path& file, std::vector<RunLog>& logs) {
  std::ifstream in(file, std::ios::binary);
  for (RunLog& log : logs) {
    uint64_t n = 0;
    if (!in.read(reinterpret_cast<char*>(&n), sizeof n) || n > 10'000'000) return false;
    log.hashes.resize(n);
    in.read(reinterpret_cast<char*>(log.hashes.data()), static_cast<std::streamsize>(n * 8));
    in.read(reinterpret_cast<char*>(&log.score), sizeof log.score);
    in.read(reinterpret_cast<char*>(&log.last_scene), sizeof log.last_scene);
  }
  return static_cast<bool>(in);
}

// The recorded run against the stored reference, or the reference renewed
// from it when the renewal variable is set.
void CheckGolden(const std::vector<RunLog>& logs) {
  std::vector<gametest::GoldenCheckpoint> got;
  for (uint32_t stage = 1; stage <= logs.size(); ++stage) {
    const auto stage_points = gametest::Checkpoints(stage, logs[stage - 1].hashes);
    got.insert(got.end(), stage_points.begin(), stage_points.end());
  }
  const char* renew = std::getenv(kRenewVariable);
  if (renew != nullptr && std::string(renew) == "1") {
    ASSERT_TRUE(gametest::WriteGolden(kGoldenFile, got));
    std::printf("renewed %s (%zu checkpoints)\n", kGoldenFile, got.size());
    return;
  }
  std::vector<gametest::GoldenCheckpoint> golden;
  ASSERT_TRUE(gametest::ReadGolden(kGoldenFile, golden)) << kGoldenFile;
  // The first checkpoint that differs says in which stretch of which stage
  // the game went another way.
  for (size_t i = 0; i < std::min(got.size(), golden.size()); ++i) {
    ASSERT_EQ(got[i], golden[i]) << "checkpoint " << i;
  }
  EXPECT_EQ(got.size(), golden.size());
}

class WholeGameBot : public ::testing::Test {
 protected:
  void SetUp() override {
    gametest::ResetGameGlobals();
    if (!DataSetPresent()) GTEST_SKIP() << "no data set";
    const fs::path data = fs::path(RORUD_BINARY_DIR) / "data";
    for (const char* sub : {"grp", "se", "bgm"}) fs::create_directory_symlink(data / sub, sub);
    StartGame(scratch_.path() / "lock");
  }
  void TearDown() override {
    LibraryEnd();
    plat::SetVirtualClockAutoAdvance(0);
  }
  gametest::ScratchFolder scratch_;
};

TEST_F(WholeGameBot, ABotPlaysTheWholeGameAndItsReplaysPlayBackInANewProcess) {
  ASSERT_EQ(InitGame(), InitResult::kReady);
  Keys keys;
  ChooseTitleItem(keys, 1, kSceneStage1);  // the shot stays held from here on
  std::vector<RunLog> recorded(kStageCount);
  for (uint32_t stage = 1; stage <= kStageCount; ++stage) {
    if (stage == kLastChainedStage + 1) {
      // Back at the title: stage 5 is reached through the switch alone.
      ASSERT_EQ(Scene(), kSceneTitle);
      ChooseTitleItem(keys, 1, kSceneStage5);
    }
    RunLog& log = recorded[stage - 1];
    RunStage(stage, log, &keys);
    ASSERT_EQ(g_stop_flag, 0) << g_error_text;
    const StageBosses& bosses = kStages[stage - 1];
    EXPECT_EQ(log.saw_midboss, bosses.midboss != 0) << "stage " << stage;
    EXPECT_TRUE(log.saw_boss) << "stage " << stage;
    EXPECT_FALSE(log.boss_music_in_entry) << "stage " << stage;
    EXPECT_EQ(log.boss_music_at_fight, bosses.boss_track) << "stage " << stage;
    EXPECT_EQ(log.stage_music_at_fight, !bosses.boss_track) << "stage " << stage;
    // Each stage to stage 4 leads into the next, its score carried on; stage
    // 4 and stage 5 end in the title.
    const bool chained = stage < kLastChainedStage;
    ASSERT_EQ(log.last_scene, chained ? kSceneStage1 + stage : kSceneTitle) << "stage " << stage;
    const bool carried = stage > 1 && stage <= kLastChainedStage;
    EXPECT_GT(log.score, carried ? recorded[stage - 2].score : 0u) << "stage " << stage;
    const std::string replay = "replay/st" + std::to_string(stage) + ".hsd";
    ASSERT_TRUE(fs::exists(replay));
    EXPECT_EQ(fs::file_size(replay), 8u + 4u * static_cast<uint64_t>(log.replay_frames));
  }
  keys.ReleaseAll();
  CheckGolden(recorded);
  const RunLog& s5 = recorded[4];
  EXPECT_EQ(s5.wave_enemies, 21u);
  EXPECT_GE(s5.wave_last_counter, 321u);  // counter 320 passed, no enemy left
  // Phase 4's rings come at 30 and 90 of each 180-frame cycle.
  ASSERT_GE(s5.ring_times.size(), 2u);
  for (size_t i = 0; i < s5.ring_times.size(); ++i) {
    EXPECT_EQ(s5.ring_times[i], i % 2 == 0 ? 30u : 90u) << i;
  }
  EXPECT_EQ(s5.end_frames, 1u);
  EXPECT_EQ(g_game.high_score, std::max(recorded[3].score, recorded[4].score));
  ASSERT_TRUE(fs::exists("rec.hsd"));
  LibraryEnd();

  const std::string command = std::string(kFolderVariable) + "='" + scratch_.path().string() +
                              "' RORUD_PLATFORM=headless '" + SelfPath() +
                              "' --gtest_also_run_disabled_tests"
                              " --gtest_filter=WholeGameBotChild.DISABLED_PlaysTheReplaysBack"
                              " > child.log 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << "see child.log";
  std::vector<RunLog> played(kStageCount);
  ASSERT_TRUE(ReadLogs("playback.bin", played));
  for (uint32_t stage = 1; stage <= kStageCount; ++stage) {
    const RunLog& r = recorded[stage - 1];
    const RunLog& p = played[stage - 1];
    EXPECT_EQ(p.last_scene, r.last_scene) << "stage " << stage;
    EXPECT_EQ(p.score, r.score) << "stage " << stage;
    ASSERT_EQ(p.hashes.size(), r.hashes.size()) << "stage " << stage;
    for (size_t i = 0; i < r.hashes.size(); ++i) {
      ASSERT_EQ(p.hashes[i], r.hashes[i]) << "stage " << stage << " frame " << i;
    }
  }
}

// Run by the test above in a second process, in its folder: the title's
// replay item plays "replay/st1.hsd" back, and each stage's end goes on to
// the next stage's replay up to stage 4, whose end returns to the title;
// there the replay item is chosen again and switched to stage 5.
TEST(WholeGameBotChild, DISABLED_PlaysTheReplaysBack) {
  const char* folder = std::getenv(kFolderVariable);
  ASSERT_NE(folder, nullptr);
  fs::current_path(folder);
  gametest::ResetGameGlobals();
  StartGame(fs::path(folder) / "child-lock");
  ASSERT_EQ(InitGame(), InitResult::kReady);
  Keys keys;
  std::vector<RunLog> played(kStageCount);
  for (uint32_t stage = 1; stage <= kStageCount; ++stage) {
    if (stage == 1 || stage == kLastChainedStage + 1) {
      ChooseTitleItem(keys, 3, kSceneStage1 + stage - 1);
      keys.ReleaseAll();
      ASSERT_EQ(g_game.replay_playback, 1);
    }
    RunStage(stage, played[stage - 1], nullptr);
    EXPECT_EQ(g_stop_flag, 0) << g_error_text;
  }
  WriteLogs("playback.bin", played);
  LibraryEnd();
  plat::SetVirtualClockAutoAdvance(0);
}

}  // namespace
