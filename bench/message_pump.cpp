// The cost of the message pump on an empty queue: the game's frame wait calls
// it in a busy loop, so an idle call must stay cheap. Runs on the headless
// desktop (RORUD_PLATFORM=sdl with a display measures the SDL back end, whose
// event poll is limited to once a millisecond).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>

#include "bench/bench_folder.h"
#include "lib/core/log.h"
#include "lib/system/window_system.h"
#include "platform/window/backend.h"
#include "platform/window/window.h"
#include "rorud/rorud.h"

namespace {

// The folder of the window lock, the user's own.
const benchfolder::Folder& LockFolder() {
  static const benchfolder::Folder folder = benchfolder::Make("rorud-bench-message-pump");
  return folder;
}

void StartLibrary() {
  const char* chosen = std::getenv("RORUD_PLATFORM");
  if (chosen == nullptr) plat::SetBackend(plat::Backend::kHeadless);
  plat::SetWindowLockFolder(LockFolder().path);
  SetLogFileEnabled(0);
  SetWindowTitle("message pump benchmark");
  ChangeWindowMode(1);
  SetRunInactiveFlag(1);
  LibraryStart();
  for (int i = 0; i < 100; ++i) ProcessWindowMessages();
}

void BM_IdlePump(benchmark::State& state) {
  if (!benchfolder::Usable(state, LockFolder())) return;
  StartLibrary();
  for (auto _ : state) benchmark::DoNotOptimize(ProcessWindowMessages());
  state.counters["calls_per_second"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  LibraryEnd();
}
BENCHMARK(BM_IdlePump);

}  // namespace
