// A stage end on a slow disk: stage 1's end phase from its first frame to
// the frame that moves on to stage 2, as its script runs it, saving a
// replay of 8000 frames (a played stage's length) and a new high score, a
// frame every 1/60 s as the game paces them. The argument is the time
// every sync of a written file or its folder takes on top of the real one
// (ms), as on a slow card. Counters: the longest and the mean time of the
// script's step (ms), the longest last frame (the one that moves on, and
// waits for the last replay to be in place), the phase's frames and the
// syncs of written files per stage end.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "bench/bench_folder.h"
#include "game/frame/file_replace.h"
#include "game/frame/game_state.h"
#include "game/frame/input.h"
#include "game/stages/stage_script.h"

namespace {

namespace fs = std::filesystem;

// A working folder of the run's own, gone when the process ends.
class Folder {
 public:
  Folder() {
    path_ = benchfolder::RunFolder("quillona_stage_end_", &problem_);
    if (!path_.empty()) fs::current_path(path_);
  }
  ~Folder() {
    if (path_.empty()) return;
    std::error_code ec;
    fs::current_path(fs::temp_directory_path(), ec);
    fs::remove_all(path_, ec);
  }

  // Why there is no folder, or empty.
  const std::string& problem() const { return problem_; }

 private:
  fs::path path_;
  std::string problem_;
};

void BM_StageEndFrames(benchmark::State& state) {
  static Folder folder;
  if (!folder.problem().empty()) {
    state.SkipWithError(folder.problem().c_str());
    return;
  }
  constexpr uint32_t kRecorded = 8000;
  for (uint32_t i = 0; i < kRecorded + 200; ++i) g_replay_words[i] = i * 2654435761u;
  SetSyncDelayForTesting(static_cast<int>(state.range(0)));
  double longest = 0, last = 0, total = 0;
  long frames = 0;
  const long syncs0 = SyncCountsForTesting().files;
  for (auto _ : state) {
    g_game.levels[kLevelScene] = kSceneStage1;
    ChangePhase(g_game, kPhaseStageEnd);
    g_game.replay_frame_index = kRecorded;
    g_game.score = 1000;
    g_game.high_score = 0;
    while (g_game.levels[kLevelScene] == kSceneStage1) {
      const auto start = std::chrono::steady_clock::now();
      ++g_game.replay_frame_index;  // the input step's word
      Stage1Script(g_game);
      const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
      longest = std::max(longest, ms);
      total += ms;
      ++frames;
      if (g_game.levels[kLevelScene] != kSceneStage1) last = std::max(last, ms);
      std::this_thread::sleep_until(start + std::chrono::microseconds(16'667));
    }
  }
  SetSyncDelayForTesting(0);
  const double stage_ends = static_cast<double>(state.iterations());
  state.counters["longest_ms"] = longest;
  state.counters["last_ms"] = last;
  state.counters["mean_ms"] = frames > 0 ? total / static_cast<double>(frames) : 0.0;
  state.counters["frames"] = static_cast<double>(frames) / stage_ends;
  state.counters["file_syncs"] = static_cast<double>(SyncCountsForTesting().files - syncs0) / stage_ends;
}
BENCHMARK(BM_StageEndFrames)->Arg(0)->Arg(25)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
