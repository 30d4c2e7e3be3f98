// bench/game_bench_start.h - starts the game for the game benchmarks on the
// headless library in a scratch folder of this run's own (made by mkdtemp in
// a temporary folder no other user can change, bench/bench_folder.h) that
// sees the data set beside the build (build/data, one folder above the
// benchmark binary's), with its own single-instance lock: benchmarks of other
// build folders, or a game, may run at the same time. The folder goes when
// the process ends.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench/bench_folder.h"
#include "game/winmain.h"
#include "platform/window/window.h"

inline bool StartGameForBench() {
  static int started = -1;
  if (started >= 0) return started == 1;
  namespace fs = std::filesystem;
  setenv("RORUD_PLATFORM", "headless", 0);
  std::error_code ec;
  const fs::path data = fs::read_symlink("/proc/self/exe", ec).parent_path().parent_path() / "data";
  std::string problem;
  static const fs::path work = benchfolder::RunFolder("quillona_bench_", &problem);
  if (work.empty()) {
    std::fprintf(stderr, "%s\n", problem.c_str());
    started = 0;
    return false;
  }
  struct Cleanup {
    ~Cleanup() {
      std::error_code e;
      fs::remove_all(work, e);
    }
  };
  static Cleanup cleanup;
  for (const char* sub : {"grp", "se", "bgm"}) fs::create_directory_symlink(data / sub, work / sub, ec);
  fs::current_path(work);
  plat::SetWindowLockFolder(work.string());
  started = (fs::exists(data / "grp") && InitGame() == InitResult::kReady) ? 1 : 0;
  return started == 1;
}
