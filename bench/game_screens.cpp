// One frame of the title menu and one of a busy play field (2000 effects),
// object update plus frame drawing, on the headless library with the
// generated data set.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <ctime>

#include "game/frame/frame_loop.h"
#include "game/frame/game_error.h"
#include "game/frame/game_state.h"
#include "game/frame/input.h"
#include "game/objects/backgrounds.h"
#include "game/objects/dispatch.h"
#include "game/objects/effects.h"
#include "game/objects/panel.h"
#include "game/objects/player.h"
#include "game/objects/resources.h"
#include "game/winmain.h"
#include "bench/game_bench_start.h"
#include "rorud/rorud.h"

namespace {

bool StartGame() { return StartGameForBench(); }

void Frame() {
  RunScene();
  UpdateObjects();
  DrawFrame();
  ServeSoundRequests();
  FlipScreen();
  ProcessWindowMessages();
}

void BM_TitleFrame(benchmark::State& state) {
  if (!StartGame()) {
    state.SkipWithError("no data set or no library");
    return;
  }
  SetScene(g_game, kSceneBoot);
  g_input = InputState{};
  for (int i = 0; i < 200 && g_stop_flag == 0; ++i) Frame();
  for (auto _ : state) {
    RunScene();
    UpdateObjects();
    DrawFrame();
    FlipScreen();  // the drawing is done when the flip has waited for it
    state.PauseTiming();
    ProcessWindowMessages();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_TitleFrame)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Re-makes every effect record that has run out, among the first `count`:
// half explosions of every size, half the small bursts of hits and deaths,
// spread over the field.
void RefillEffects(uint32_t count = kEffectPoolSize) {
  for (uint32_t i = 0; i < count; ++i) {
    GameObject& r = g_effects[i];
    if (r.in_use != 0) continue;
    g_find_free_index = i;
    const double x = 20.0 + (i * 37) % 380;
    const double y = 20.0 + (i * 53) % 440;
    if (i % 2 == 0) {
      CreateExplosion(r, 1 + i % 4, 0, x, y);
    } else {
      CreateBurst(r, 1, 1 + (i / 2) % 2, x, y);
    }
  }
}

void BM_PlayFieldWith2000Effects(benchmark::State& state) {
  if (!StartGame()) {
    state.SkipWithError("no data set or no library");
    return;
  }
  g_game.levels[kLevelScene] = 99;  // no scene: the play field alone
  ResetSession(g_game);
  g_player_setups[1] = {1, 1};
  g_game.player_setup_row = 1;
  LoadCommonResources();
  LoadPlayerGraphics(1, 1);
  LoadStageGraphics(1);
  for (uint32_t n = 1; n <= 2; ++n) CreateBackgroundBase(g_backgrounds[n - 1], n);
  for (uint32_t n = 1; n <= 2; ++n) CreateBackgroundSub(g_backgrounds[n + 1], n);
  InitPlayer();
  g_game.hud_on = 1;
  g_game.fade_value = 255.0;
  g_game.background_brightness = 255.0;
  g_game.scroll_speed = 1.0;
  // The effects are born over several hundred frames of object updates
  // (no drawing, so it is cheap) and re-made as they run out, so their ages
  // are spread evenly and every measured frame costs about the same: born
  // together, they would grow, fade and be re-made in step.
  constexpr uint32_t kBirthFrames = 600;
  for (uint32_t f = 1; f <= kBirthFrames + 100; ++f) {
    UpdateObjects();
    RefillEffects(static_cast<uint32_t>(
        std::min<uint64_t>(kEffectPoolSize, uint64_t{kEffectPoolSize} * f / kBirthFrames)));
  }
  for (int i = 0; i < 10; ++i) {
    Frame();
    RefillEffects();
  }
  // The processor time of every thread, the band workers' included.
  std::clock_t cpu = 0;
  for (auto _ : state) {
    const std::clock_t start = std::clock();
    UpdateObjects();
    DrawFrame();
    FlipScreen();  // the drawing is done when the flip has waited for it
    cpu += std::clock() - start;
    state.PauseTiming();
    ProcessWindowMessages();
    RefillEffects();
    state.ResumeTiming();
  }
  state.counters["cpu_ms"] = benchmark::Counter(1000.0 * double(cpu) / CLOCKS_PER_SEC / double(state.iterations()));
}
BENCHMARK(BM_PlayFieldWith2000Effects)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
