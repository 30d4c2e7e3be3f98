// The stages cleared one after the other from the title by a scripted player
// on the headless back end, and the replays of that run played back from the
// title in a second process: every stage frame's state hash and each stage's
// final score must come back.
#include <gtest/gtest.h>

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
#include "game/objects/game_object.h"
#include "game/objects/player.h"
#include "game/objects/resources.h"
#include "game/stages/stage_script.h"
#include "game/winmain.h"
#include "platform/kernel/kernel.h"
#include "platform/window/window.h"
#include "rorud/rorud.h"
#include "tests/game/game_fixture.h"
#include "tests/game/state_hash.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kFolderVariable = "RORUD_TEST_BOT_FOLDER";
constexpr int kFrameLimit = 60000;  // per stage

// The stages the bot plays, from stage 1, and each one's mid-boss, boss and
// whether the boss switches to the boss track.
struct StageBosses {
  uint32_t midboss;
  uint32_t boss;
  bool boss_track;
};
constexpr StageBosses kStages[] = {
    {kKindBoss1A, kKindBoss1B, true},
    {kKindBoss2A, kKindBoss2B, true},
    {kKindBoss3A, kKindBoss3B, false},  // stage 3 fights to its stage music
};
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
bool InStage() { return Scene() >= kSceneStage1 && Scene() < kSceneStage1 + 4; }

// A stage after its seed: from here on both runs must agree frame by frame.
bool InSeededStage(uint32_t scene) { return Scene() == scene && Phase() >= kPhaseFadeIn; }

bool IsBoss(uint32_t kind) {
  for (const StageBosses& s : kStages) {
    if (kind == s.midboss || kind == s.boss) return true;
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
};

// Runs frames until stage `stage` (from 1) has been left; the steering is
// optional (the playback takes its input from the replay).
void RunStage(uint32_t stage, RunLog& log, Keys* keys) {
  const uint32_t scene = kSceneStage1 + stage - 1;
  const StageBosses& bosses = kStages[stage - 1];
  bool entered = false;
  for (int f = 0; f < kFrameLimit && g_stop_flag == 0; ++f) {
    if (keys != nullptr && Scene() == scene) Steer(*keys);
    Shield();
    // Every frame step but the rasterising: the stage's ten thousand frames
    // would spend nearly all their time filling the play field.
    gametest::LogicFrame();
    for (const GameObject& e : g_enemies) {
      if (e.in_use == 0) continue;
      log.saw_midboss |= e.kind == bosses.midboss;
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

TEST_F(WholeGameBot, ABotClearsTheStagesAndTheirReplaysPlayBackInANewProcess) {
  ASSERT_EQ(InitGame(), InitResult::kReady);
  RunToTitleMenu();
  Keys keys;
  keys.Set('Z', true);  // decide on the first item, and the shot from then on
  for (int f = 0; f < 200 && Scene() != kSceneStage1; ++f) RunFrame();
  ASSERT_EQ(Scene(), kSceneStage1);
  std::vector<RunLog> recorded(kStageCount);
  for (uint32_t stage = 1; stage <= kStageCount; ++stage) {
    RunLog& log = recorded[stage - 1];
    RunStage(stage, log, &keys);
    ASSERT_EQ(g_stop_flag, 0) << g_error_text;
    EXPECT_TRUE(log.saw_midboss) << "stage " << stage;
    EXPECT_TRUE(log.saw_boss) << "stage " << stage;
    EXPECT_FALSE(log.boss_music_in_entry) << "stage " << stage;
    EXPECT_EQ(log.boss_music_at_fight, kStages[stage - 1].boss_track) << "stage " << stage;
    EXPECT_EQ(log.stage_music_at_fight, !kStages[stage - 1].boss_track) << "stage " << stage;
    // Each stage leads into the next, its score carried on.
    ASSERT_EQ(log.last_scene, kSceneStage1 + stage) << "stage " << stage;
    EXPECT_GT(log.score, stage == 1 ? 0u : recorded[stage - 2].score) << "stage " << stage;
    const std::string replay = "replay/st" + std::to_string(stage) + ".hsd";
    ASSERT_TRUE(fs::exists(replay));
    EXPECT_EQ(fs::file_size(replay), 8u + 4u * static_cast<uint64_t>(log.replay_frames));
  }
  keys.ReleaseAll();
  EXPECT_EQ(g_game.high_score, recorded.back().score);
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
    EXPECT_EQ(p.last_scene, kSceneStage1 + stage) << "stage " << stage;
    EXPECT_EQ(p.score, r.score) << "stage " << stage;
    ASSERT_EQ(p.hashes.size(), r.hashes.size()) << "stage " << stage;
    for (size_t i = 0; i < r.hashes.size(); ++i) {
      ASSERT_EQ(p.hashes[i], r.hashes[i]) << "stage " << stage << " frame " << i;
    }
  }
}

// Run by the test above in a second process, in its folder: the title's
// replay item plays "replay/st1.hsd" back, and each stage's end goes on to
// the next stage's replay.
TEST(WholeGameBotChild, DISABLED_PlaysTheReplaysBack) {
  const char* folder = std::getenv(kFolderVariable);
  ASSERT_NE(folder, nullptr);
  fs::current_path(folder);
  gametest::ResetGameGlobals();
  StartGame(fs::path(folder) / "child-lock");
  ASSERT_EQ(InitGame(), InitResult::kReady);
  RunToTitleMenu();
  Keys keys;
  for (int key : {plat::kVkDown, plat::kVkDown}) {
    keys.Set(key, true);
    for (int f = 0; f < 3; ++f) RunFrame();
    keys.Set(key, false);
    for (int f = 0; f < 3; ++f) RunFrame();
  }
  keys.Set('Z', true);
  for (int f = 0; f < 5 && g_game.replay_playback == 0; ++f) RunFrame();
  keys.Set('Z', false);
  ASSERT_EQ(g_game.replay_playback, 1);
  std::vector<RunLog> played(kStageCount);
  for (uint32_t stage = 1; stage <= kStageCount; ++stage) {
    RunStage(stage, played[stage - 1], nullptr);
    EXPECT_EQ(g_stop_flag, 0) << g_error_text;
  }
  WriteLogs("playback.bin", played);
  LibraryEnd();
  plat::SetVirtualClockAutoAdvance(0);
}

}  // namespace
