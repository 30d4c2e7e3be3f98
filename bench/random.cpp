// Outputs per second of the library's random generator.
#include <benchmark/benchmark.h>

#include "lib/core/random.h"

static void BM_NextRandomWord(benchmark::State& state) {
  MersenneTwisterState mt = MakeUnseededRandomState();
  InitRandomState(&mt, 4357);
  for (auto _ : state) benchmark::DoNotOptimize(NextRandomWord(&mt));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_NextRandomWord);

static void BM_GetRandomRange(benchmark::State& state) {
  SeedRandom(4357);
  for (auto _ : state) benchmark::DoNotOptimize(GetRandomRange(419));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GetRandomRange);
