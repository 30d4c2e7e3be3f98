// One busy play frame: 1500 live enemy bullets (with graze and hit tests
// against the player) and 100 enemies, plus the player's shots. Its logic
// (the update walk) and its drawing (the frame's draw and flip on the
// headless software device, with the stage's backgrounds and the panel) are
// timed apart. The field is rebuilt outside the timing whenever bullets have
// left it, so every timed frame has the full load.
#include <benchmark/benchmark.h>

#include <ctime>

#include "game/frame/game_state.h"
#include "game/objects/dispatch.h"
#include "game/objects/enemies.h"
#include "game/objects/enemy_bullets.h"
#include "game/objects/game_object.h"
#include "game/objects/player_shots.h"
#include "bench/game_bench_start.h"
#include "game/frame/input.h"
#include "game/objects/backgrounds.h"
#include "game/objects/effects.h"
#include "game/objects/panel.h"
#include "game/objects/player.h"
#include "game/objects/resources.h"
#include "rorud/rorud.h"

namespace {

void NoDraw(GameObject&) {}

void BuildField() {
  ResetAllPools();
  g_game = GameState{};
  SeedRandom(1);
  g_player = GameObject{};
  g_player.x = 210.0;
  g_player.y = 440.0;
  g_player.body_radius = 2.0;
  g_player.invulnerable = 1;  // hits and grazes tested, none taken
  for (uint32_t i = 0; i < 100; ++i) {
    g_find_free_index = i;
    CreateZakoB(g_enemies[i], 1 + i % 4, 0, 100000, 200, 20.0 + (i % 10) * 40.0,
                40.0 + (i / 10) * 20.0, 90.0, 0.0, 0.0);
    g_enemies[i].life = 1e9;
  }
  for (uint32_t i = 0; i < 1500; ++i) {
    g_find_free_index = i;
    CreateEnemyBullet72(g_enemy_bullets[i], 1 + i % 3, 1 + i % 8, 210.0, 200.0, i * 0.24, 0.5);
  }
  for (uint32_t i = 0; i < 20; ++i) {
    g_find_free_index = i;
    CreatePlayerShot(g_player_objects[i], 20.0 * i, 470.0, 270.0, 0);
  }
}

int LiveBullets() {
  int n = 0;
  for (const GameObject& b : g_enemy_bullets) n += b.in_use;
  return n;
}

void BM_BusyFrameLogic(benchmark::State& state) {
  BuildField();
  for (auto _ : state) {
    UpdateObjects();
    state.PauseTiming();
    WalkDrawOrder(NoDraw, nullptr);
    if (LiveBullets() < 1500 || g_player_objects[0].in_use == 0) BuildField();
    state.ResumeTiming();
  }
  state.counters["bullets"] = 1500;
  state.counters["enemies"] = 100;
}
BENCHMARK(BM_BusyFrameLogic)->Unit(benchmark::kMicrosecond);

// The same field with its pictures: the stage's background layers, the
// player and the panel around the bullets, enemies and shots.
void BuildDrawnField() {
  BuildField();
  for (uint32_t n = 1; n <= 2; ++n) CreateBackgroundBase(g_backgrounds[n - 1], n);
  for (uint32_t n = 1; n <= 2; ++n) CreateBackgroundSub(g_backgrounds[n + 1], n);
  InitPlayer();
  g_player.state = 1;
  g_player.scale = 1.3;
  g_player.y = 440.0;
  g_game.hud_on = 1;
  g_game.fade_value = 255.0;
  g_game.background_brightness = 255.0;
  g_game.scroll_speed = 1.0;
  g_game.player_setup_row = 1;
}

void BM_BusyFrameDraw(benchmark::State& state) {
  if (!StartGameForBench()) {
    state.SkipWithError("no data set or no library");
    return;
  }
  g_game.levels[kLevelScene] = 99;  // no scene: the play field alone
  g_player_setups[1] = {1, 1};
  LoadCommonResources();
  LoadPlayerGraphics(1, 1);
  LoadStageGraphics(1);
  BuildDrawnField();
  g_game.levels[kLevelScene] = 99;
  // The processor time of every thread, the band workers' included.
  std::clock_t cpu = 0;
  for (auto _ : state) {
    const std::clock_t start = std::clock();
    DrawFrame();
    FlipScreen();  // the batch's last run is drawn here
    cpu += std::clock() - start;
    state.PauseTiming();
    ProcessWindowMessages();
    UpdateObjects();
    if (LiveBullets() < 1500 || g_player_objects[0].in_use == 0) {
      BuildDrawnField();
      g_game.levels[kLevelScene] = 99;
    }
    state.ResumeTiming();
  }
  state.counters["bullets"] = 1500;
  state.counters["enemies"] = 100;
  state.counters["cpu_ms"] = benchmark::Counter(1000.0 * double(cpu) / CLOCKS_PER_SEC / double(state.iterations()));
}
BENCHMARK(BM_BusyFrameDraw)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
