// Replays across processes: a child process plays stage 1 from the title's
// start item with scripted keys and writes its replay file; another child,
// started afresh, chooses the title's replay item and must go through the
// same states frame by frame. Each child writes the state hash of every
// frame that handled a replay word, keyed by that word's index.
//
// The bosses are fought in their own tests: both runs pass over the boss
// phases in the same way (the mid-boss phase hands over to the second wave
// row, the boss phase to the stage end), so the stage end still runs its
// saving and score carrying.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>

#include "game/frame/frame_loop.h"
#include "game/frame/game_error.h"
#include "game/frame/game_state.h"
#include "game/frame/input.h"
#include "game/objects/dispatch.h"
#include "game/objects/player.h"
#include "game/stages/stage_script.h"
#include "game/winmain.h"
#include "platform/kernel/kernel.h"
#include "platform/window/window.h"
#include "rorud/rorud.h"
#include "tests/game/game_fixture.h"
#include "tests/game/state_hash.h"

namespace {

namespace fs = std::filesystem;

constexpr int kFrameLimit = 9000;

// ---- The child ----------------------------------------------------------------

class Keys {
 public:
  void Set(int code, bool down) {
    bool& now = state_[code];
    if (now != down) plat::HeadlessSetKey(code, down);
    now = down;
  }
  void ReleaseAll() {
    for (auto& [code, down] : state_) Set(code, false);
  }

 private:
  std::map<int, bool> state_;
};

// The keys held on the frame whose replay word has index i: shots with
// pauses between volleys, sweeps left and right, the focus now and then and
// a bomb every 700 frames.
void ScriptKeys(Keys& keys, uint32_t i) {
  keys.Set('Z', i >= 180 && (i / 97) % 5 != 4);
  const uint32_t sweep = (i / 110) % 4;
  keys.Set(plat::kVkLeft, sweep == 1);
  keys.Set(plat::kVkRight, sweep == 3);
  keys.Set(plat::kVkUp, (i / 300) % 4 == 1 && (i / 37) % 2 == 0);
  keys.Set(plat::kVkDown, (i / 300) % 4 == 3 && (i / 37) % 2 == 0);
  keys.Set('X', (i / 250) % 3 == 1);
  keys.Set('C', i % 700 >= 350 && i % 700 < 353);
}

// Frames of the title and of the stage until `done` is true or the frame
// limit is reached; the harness's passes over the boss phases happen here.
template <typename Step, typename Done>
int RunFrames(Step step, Done done, int limit) {
  int n = 0;
  while (n < limit && g_stop_flag == 0 && !done()) {
    step();
    gametest::LogicFrame();
    ++n;
    if (g_game.levels[kLevelScene] == kSceneStage1) {
      if (g_game.levels[kLevelPhase] == kPhaseMidBoss) ChangePhase(g_game, kPhaseSecondWave);
      if (g_game.levels[kLevelPhase] == kPhaseBoss) ChangePhase(g_game, kPhaseStageEnd);
    }
  }
  return n;
}

bool AtTitleMenu() {
  return g_game.levels[kLevelScene] == kSceneTitle && g_game.levels[kLevelPhase] == 3;
}

// Holds a key until the game sees its action, then lets it go until the game
// sees that (keys reach the pad at a frame's pump).
void Tap(Keys& keys, int code, bool (*seen)()) {
  keys.Set(code, true);
  for (int f = 0; f < 4 && !seen(); ++f) gametest::LogicFrame();
  keys.Set(code, false);
  for (int f = 0; f < 4 && seen(); ++f) gametest::LogicFrame();
}

bool DownHeld() { return (g_input.held_directions & kDirDown) != 0; }

void ToTitleMenu() {
  RunFrames([] {}, AtTitleMenu, 1000);
}

void ChooseTitleItem(Keys& keys, int downs) {
  ToTitleMenu();
  for (int d = 0; d < downs; ++d) Tap(keys, plat::kVkDown, DownHeld);
  keys.Set('Z', true);
  for (int f = 0; f < 4 && AtTitleMenu(); ++f) gametest::LogicFrame();
  keys.Set('Z', false);
  RunFrames([] {}, [] { return g_game.levels[kLevelScene] != kSceneTitle; }, 300);
}

bool InStage() { return g_game.levels[kLevelScene] == kSceneStage1; }
bool StageSeeded() { return InStage() && g_game.levels[kLevelPhase] >= kPhaseFadeIn; }

// Plays from the start item until the player dies and the game is back at
// the title's menu: a history in the pools, the generator and the buffer.
void PlayAndDie(Keys& keys) {
  ChooseTitleItem(keys, 0);
  int f = 0;
  RunFrames([&] { ScriptKeys(keys, static_cast<uint32_t>(f++) + 40); },
            [] { return StageSeeded() && g_game.levels[kLevelPhase] >= 14; }, 3000);
  keys.ReleaseAll();
  // One hit more is the end.
  g_player_status.life = 1.0;
  RunFrames([] {}, [] { return !InStage(); }, 4000);
}

void RunChild() {
  const char* mode_env = std::getenv("QUILLONA_REPLAY_MODE");
  const char* out_env = std::getenv("QUILLONA_REPLAY_OUT");
  ASSERT_NE(mode_env, nullptr);
  ASSERT_NE(out_env, nullptr);
  const std::string mode = mode_env;
  const uint32_t pause_seed = std::getenv("QUILLONA_REPLAY_PAUSES") != nullptr
                                  ? static_cast<uint32_t>(std::atoi(std::getenv("QUILLONA_REPLAY_PAUSES")))
                                  : 0;

  gametest::ResetGameGlobals();
  plat::SetWindowLockFolder(fs::current_path().string());
  plat::EnableVirtualClock(true);
  plat::SetVirtualClockMicros(5'000'000);
  plat::SetVirtualClockAutoAdvance(1);
  ASSERT_EQ(InitGame(), InitResult::kReady);
  g_game.levels[kLevelScene] = kSceneBoot;
  Keys keys;

  const bool record = mode == "record";
  if (mode == "history") {
    PlayAndDie(keys);
    ASSERT_EQ(g_stop_flag, 0) << g_error_text;
    ASSERT_EQ(g_game.levels[kLevelScene], kSceneTitle);
  }
  ChooseTitleItem(keys, record ? 0 : 2);
  ASSERT_TRUE(InStage());
  ASSERT_EQ(g_game.replay_playback, record ? 0 : 1);

  std::ofstream out(out_env);
  // Pauses at random frames: pause pressed until the game stands, let go,
  // a random wait, pressed again until it plays on.
  std::mt19937 pauses(pause_seed);
  enum { kPlaying, kPausing, kWaiting, kResuming } pause_step = kPlaying;
  uint32_t next_pause = pause_seed != 0 ? 200 + pauses() % 400 : UINT32_MAX;
  uint32_t wait = 0;
  const auto step = [&] {
    const uint32_t i = g_game.replay_frame_index;
    if (!record) return;
    ScriptKeys(keys, i);
    switch (pause_step) {
      case kPlaying:
        if (i >= next_pause) {
          keys.Set('V', true);
          pause_step = kPausing;
        }
        break;
      case kPausing:
        if (g_game.pause != 0) {
          keys.Set('V', false);
          wait = 4 + pauses() % 40;
          pause_step = kWaiting;
        }
        break;
      case kWaiting:
        if (--wait == 0) {
          keys.Set('V', true);
          pause_step = kResuming;
        }
        break;
      case kResuming:
        if (g_game.pause == 0) {
          keys.Set('V', false);
          next_pause = i + 150 + pauses() % 600;
          pause_step = kPlaying;
        }
        break;
    }
  };
  uint32_t pauses_seen = 0;
  int frames = 0;
  while (frames < kFrameLimit && g_stop_flag == 0 && InStage()) {
    const uint32_t before = g_game.replay_frame_index;
    const uint8_t was_paused = g_game.pause;
    // From the first fade-in frame: the stage start has seeded the generator
    // and set every stage word (the spawn base keeps the last stage's value
    // until the first ramp sets it, and nothing reads it before).
    const bool seeded = StageSeeded();
    frames += RunFrames(step, [] { return false; }, 1);
    if (g_game.pause != 0 && was_paused == 0) ++pauses_seen;
    if (seeded && g_game.replay_frame_index != before) {
      out << g_game.replay_frame_index << ' ' << gametest::FrameStateHash() << ' '
          << gametest::FrameStateHash(false) << '\n';
    }
  }
  keys.ReleaseAll();
  out << "end " << g_game.levels[kLevelScene] << ' ' << g_game.score << ' ' << g_game.carried_score
      << ' ' << g_game.high_score << ' ' << pauses_seen << ' ' << static_cast<int>(g_stop_flag)
      << '\n';
  ASSERT_EQ(g_stop_flag, 0) << g_error_text;
  LibraryEnd();
}

TEST(ReplayChild, DISABLED_Run) { RunChild(); }

// ---- The parent ---------------------------------------------------------------

struct ChildRun {
  std::map<uint32_t, std::pair<uint64_t, uint64_t>> hashes;  // index: full, without animation
  uint32_t end_scene = 0;
  uint32_t score = 0;
  uint32_t carried_score = 0;
  uint32_t high_score = 0;
  uint32_t pauses = 0;
  bool ended = false;
};

class ReplayProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    const fs::path data = fs::path(RORUD_BINARY_DIR) / "data";
    if (!fs::exists(data / "grp" / "stm1x.png")) GTEST_SKIP() << "no data set";
    for (const char* sub : {"grp", "se", "bgm"}) fs::create_directory_symlink(data / sub, sub);
  }

  // Runs the child in this test's folder; its output file holds the frames.
  ChildRun Child(const std::string& mode, uint32_t pause_seed = 0) {
    const std::string out = "frames-" + mode + "-" + std::to_string(pause_seed) + ".txt";
    const std::string log = "child-" + mode + ".log";
    const std::string command = "RORUD_PLATFORM=headless QUILLONA_REPLAY_MODE=" + mode +
                                " QUILLONA_REPLAY_OUT=" + out +
                                " QUILLONA_REPLAY_PAUSES=" + std::to_string(pause_seed) + " '" +
                                fs::read_symlink("/proc/self/exe").string() +
                                "' --gtest_also_run_disabled_tests --gtest_filter=ReplayChild.DISABLED_Run > " +
                                log + " 2>&1";
    const int status = std::system(command.c_str());
    ChildRun run;
    if (status != 0) {
      std::ifstream in(log);
      std::stringstream text;
      text << in.rdbuf();
      ADD_FAILURE() << "child " << mode << " failed:\n" << text.str();
      return run;
    }
    std::ifstream in(out);
    std::string first;
    while (in >> first) {
      if (first == "end") {
        uint32_t stop = 0;
        in >> run.end_scene >> run.score >> run.carried_score >> run.high_score >> run.pauses >> stop;
        run.ended = true;
        break;
      }
      uint64_t full = 0, logic = 0;
      in >> full >> logic;
      run.hashes[static_cast<uint32_t>(std::stoul(first))] = {full, logic};
    }
    return run;
  }

  // Every frame of the playback matches the recording; with pauses in the
  // recording the draw pass stepped the animations while the game stood, so
  // only what the updates decide is compared.
  static void ExpectSameFrames(const ChildRun& recorded, const ChildRun& played, bool animation) {
    ASSERT_TRUE(recorded.ended);
    ASSERT_TRUE(played.ended);
    ASSERT_GT(recorded.hashes.size(), 4000u);
    ASSERT_EQ(played.hashes.size(), recorded.hashes.size());
    for (const auto& [index, hash] : recorded.hashes) {
      auto it = played.hashes.find(index);
      ASSERT_NE(it, played.hashes.end()) << "word " << index;
      if (animation) {
        ASSERT_EQ(it->second.first, hash.first) << "word " << index;
      } else {
        ASSERT_EQ(it->second.second, hash.second) << "word " << index;
      }
    }
    EXPECT_EQ(played.end_scene, recorded.end_scene);
    EXPECT_EQ(played.score, recorded.score);
    // The carried score follows the playback too, so a later stage would
    // start from the recorded run's score.
    EXPECT_EQ(played.carried_score, recorded.score);
    // Nothing is saved in playback: no record file, the high score untouched.
    EXPECT_EQ(played.high_score, 0u);
    EXPECT_FALSE(fs::exists("rec.hsd"));
  }
  // A playback child starts without the record file that the recording wrote.
  ChildRun Playback(const std::string& mode) {
    fs::remove("rec.hsd");
    return Child(mode);
  }

  gametest::ScratchFolder scratch_;
};

TEST_F(ReplayProcess, PlaybackInANewProcessRepeatsEveryFrame) {
  const ChildRun recorded = Child("record");
  ASSERT_TRUE(recorded.ended);
  // The stage ran to its end and went on to stage 2 with the score carried.
  EXPECT_EQ(recorded.end_scene, kSceneStage1 + 1);
  EXPECT_GT(recorded.score, 0u);
  EXPECT_EQ(recorded.carried_score, recorded.score);
  ASSERT_TRUE(fs::exists("replay/st1.hsd"));
  ExpectSameFrames(recorded, Playback("play"), true);
  // A playback after a run that ended in death, back at the title.
  ExpectSameFrames(recorded, Playback("history"), true);
}

TEST_F(ReplayProcess, PausesInTheRecordingLeaveNoTraceInThePlayback) {
  const ChildRun recorded = Child("record", 20261207);
  ASSERT_TRUE(recorded.ended);
  EXPECT_GE(recorded.pauses, 5u);
  ExpectSameFrames(recorded, Playback("play"), false);
}

}  // namespace
