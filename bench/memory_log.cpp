// Cost of a tracked allocation against the plain heap, and of a log line with
// the log off and on (the file is opened and closed per line).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>

#include "bench/bench_folder.h"
#include "lib/core/log.h"
#include "lib/core/memory.h"

namespace {

void BM_TrackedAllocFree(benchmark::State& state) {
  size_t size = static_cast<size_t>(state.range(0));
  for (auto _ : state) {
    void* block = TrackedAlloc(size, "", 0);
    benchmark::DoNotOptimize(block);
    TrackedFree(block);
  }
}
BENCHMARK(BM_TrackedAllocFree)->Arg(16)->Arg(4096);

void BM_MallocFree(benchmark::State& state) {
  size_t size = static_cast<size_t>(state.range(0));
  for (auto _ : state) {
    void* block = std::malloc(size);
    benchmark::DoNotOptimize(block);
    std::free(block);
  }
}
BENCHMARK(BM_MallocFree)->Arg(16)->Arg(4096);

void BM_CheckAllocations1000Blocks(benchmark::State& state) {
  void* blocks[1000];
  for (void*& block : blocks) block = TrackedAlloc(32, "", 0);
  for (auto _ : state) benchmark::DoNotOptimize(CheckAllocations());
  for (void* block : blocks) TrackedFree(block);
}
BENCHMARK(BM_CheckAllocations1000Blocks);

void BM_WriteLogLineOff(benchmark::State& state) {
  SetLogFileEnabled(0);
  for (auto _ : state) benchmark::DoNotOptimize(WriteLogLine("a line of the log\n"));
  SetLogFileEnabled(1);
}
BENCHMARK(BM_WriteLogLineOff);

void BM_WriteLogLineToFile(benchmark::State& state) {
  // The log goes to a folder of the user's own, removed at the end.
  const benchfolder::Folder own = benchfolder::Make("rorud-bench-log");
  if (!benchfolder::Usable(state, own)) return;
  const std::filesystem::path folder = own.path;
  auto previous = std::filesystem::current_path();
  std::filesystem::current_path(folder);
  SetLogFileEnabled(1);
  SetLogFolder(".");
  LogFileStart();
  for (auto _ : state) benchmark::DoNotOptimize(WriteLogLine("a line of the log\n"));
  SetLogFolder("");
  std::filesystem::current_path(previous);
  std::filesystem::remove_all(folder);
}
BENCHMARK(BM_WriteLogLineToFile);

}  // namespace
