// bench/game_bench_start.h - starts the game for the game benchmarks on the
// headless library in a scratch folder that sees the data set beside the
// build (build/data, one folder above the benchmark binary's).
#pragma once

#include <cstdlib>
#include <filesystem>

#include "game/winmain.h"

inline bool StartGameForBench() {
  static int started = -1;
  if (started >= 0) return started == 1;
  namespace fs = std::filesystem;
  setenv("RORUD_PLATFORM", "headless", 0);
  std::error_code ec;
  const fs::path data = fs::read_symlink("/proc/self/exe", ec).parent_path().parent_path() / "data";
  const fs::path work = fs::temp_directory_path() / "quillona_bench";
  fs::remove_all(work, ec);
  fs::create_directories(work);
  for (const char* sub : {"grp", "se", "bgm"}) fs::create_directory_symlink(data / sub, work / sub, ec);
  fs::current_path(work);
  started = (fs::exists(data / "grp") && InitGame() == InitResult::kReady) ? 1 : 0;
  return started == 1;
}
