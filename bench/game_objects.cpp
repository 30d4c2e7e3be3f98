// The game's per-frame object work at its worst: find-free scans over a
// nearly full pool, the update walk and the draw walk over full pools.
#include <benchmark/benchmark.h>

#include "game/frame/game_state.h"
#include "game/objects/dispatch.h"
#include "game/objects/game_object.h"

namespace {

void FillAll() {
  ResetAllPools();
  const PoolId pools[] = {kPoolEnemies, kPoolEnemyGroups, kPoolPlayerObjects, kPoolEnemyBullets,
                          kPoolItems,   kPoolEffects,     kPoolBackgrounds};
  for (PoolId p : pools) {
    PoolView v = PoolOf(p);
    for (size_t i = 0; i < v.count; ++i) {
      v.records[i].free = 0;
      v.records[i].in_use = 1;
      v.records[i].visible = 1;
      v.records[i].draw_layer = static_cast<int32_t>(i % 5) + 1;
      v.records[i].kind = p == kPoolEffects ? kKindFocusIndicator : kKindBackgroundBase;
    }
  }
}

void BM_FindFreeBulletLastSlot(benchmark::State& state) {
  FillAll();
  g_enemy_bullets[1999].in_use = 0;
  g_enemy_bullets[1999].free = 1;
  for (auto _ : state) benchmark::DoNotOptimize(FindFreeEnemyBullet());
}
BENCHMARK(BM_FindFreeBulletLastSlot);

void BM_UpdateObjectsFullPools(benchmark::State& state) {
  FillAll();
  for (auto _ : state) UpdateObjects();
}
BENCHMARK(BM_UpdateObjectsFullPools);

int g_count = 0;
void CountDraw(GameObject&) { ++g_count; }

void BM_DrawWalkFullPools(benchmark::State& state) {
  FillAll();
  for (auto _ : state) {
    WalkDrawOrder(CountDraw, nullptr);
    benchmark::DoNotOptimize(g_count);
  }
}
BENCHMARK(BM_DrawWalkFullPools);

}  // namespace
