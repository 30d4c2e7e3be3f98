// The cost of the pad and key queries: the game asks for the pad state once a
// frame and the key state a few times; within one millisecond the queries
// answer from the state already read, and a new millisecond costs one read of
// the keyboard (and of each pad). Runs on the headless desktop with two pads.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>

#include "bench/bench_folder.h"
#include "lib/system/input.h"
#include "lib/system/window_system.h"
#include "platform/window/backend.h"
#include "platform/input/dinput.h"
#include "platform/kernel/kernel.h"
#include "platform/window/window.h"
#include "rorud/rorud.h"

namespace {

// The folder of the window lock, the user's own.
const benchfolder::Folder& LockFolder() {
  static const benchfolder::Folder folder = benchfolder::Make("rorud-bench-input");
  return folder;
}

void StartLibrary() {
  if (std::getenv("RORUD_PLATFORM") == nullptr) plat::SetBackend(plat::Backend::kHeadless);
  plat::HeadlessAddJoypad("bench pad 1", 6, 12, true);
  plat::HeadlessAddJoypad("bench pad 2", 2, 4, false);
  plat::SetWindowLockFolder(LockFolder().path);
  SetLogFileEnabled(0);
  SetWindowTitle("input benchmark");
  ChangeWindowMode(1);
  SetRunInactiveFlag(1);
  LibraryStart();
  for (int i = 0; i < 100; ++i) ProcessWindowMessages();
}

// Many queries inside one millisecond of the virtual clock.
void BM_PadStateSameMillisecond(benchmark::State& state) {
  if (!benchfolder::Usable(state, LockFolder())) return;
  plat::EnableVirtualClock(true);
  // The start's timer test reads the clock until it moves.
  plat::SetVirtualClockAutoAdvance(10);
  StartLibrary();
  plat::SetVirtualClockAutoAdvance(0);
  for (auto _ : state) benchmark::DoNotOptimize(GetPadState(0x1001));
  state.counters["queries_per_second"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  LibraryEnd();
}
BENCHMARK(BM_PadStateSameMillisecond);

// Every query in a new millisecond: a keyboard read and a pad read each time.
void BM_PadStateNewMillisecond(benchmark::State& state) {
  if (!benchfolder::Usable(state, LockFolder())) return;
  plat::EnableVirtualClock(true);
  // The start's timer test reads the clock until it moves.
  plat::SetVirtualClockAutoAdvance(10);
  StartLibrary();
  plat::SetVirtualClockAutoAdvance(0);
  for (auto _ : state) {
    plat::AdvanceVirtualClock(1000);
    benchmark::DoNotOptimize(GetPadState(0x1001));
  }
  state.counters["queries_per_second"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["keyboard_reads"] = GetKeyboardRefreshCount();
  LibraryEnd();
}
BENCHMARK(BM_PadStateNewMillisecond);

}  // namespace
