// The heaviest frames of the bosses: boss 1A's last phase (orbs firing rings
// while the boss fires), boss 1B's fourth phase (aimed rings of 54 every 40
// frames) and those of the later bosses below, on the headless library with
// the generated data set. Each fight runs from its phase opening until the bullet count peaks;
// that frame is kept, and every iteration starts again from it, timing the
// object update and the frame draw apart, and the processor time of every
// thread with them (cpu_ms). The draw is timed with its flip:
// the flip draws the last batch and waits for the band workers, so a draw
// is done only when it returns. The peak bullet count is reported.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <ctime>
#include <cstring>
#include <memory>
#include <string>

#include "bench/game_bench_start.h"
#include "game/bosses/boss.h"
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
#include "lib/core/random.h"
#include "rorud/rorud.h"

namespace {

bool StartGame() { return StartGameForBench(); }

// Everything an object update reads or writes.
struct Snapshot {
  GameState game;
  PlayerStatus status;
  GameObject player, partner;
  GameObject enemies[kEnemyPoolSize];
  GameObject groups[kEnemyGroupPoolSize];
  GameObject player_objects[kPlayerObjectPoolSize];
  GameObject bullets[kEnemyBulletPoolSize];
  GameObject items[kItemPoolSize];
  GameObject effects[kEffectPoolSize];
  GameObject backgrounds[kBackgroundPoolSize];
  MersenneTwisterState random;

  void Take() {
    game = g_game;
    status = g_player_status;
    player = g_player;
    partner = g_partner;
    std::memcpy(enemies, g_enemies, sizeof enemies);
    std::memcpy(groups, g_enemy_groups, sizeof groups);
    std::memcpy(player_objects, g_player_objects, sizeof player_objects);
    std::memcpy(bullets, g_enemy_bullets, sizeof bullets);
    std::memcpy(items, g_items, sizeof items);
    std::memcpy(effects, g_effects, sizeof effects);
    std::memcpy(backgrounds, g_backgrounds, sizeof backgrounds);
    random = *GetLibraryRandomState();
  }
  void Restore() const {
    g_game = game;
    g_player_status = status;
    g_player = player;
    g_partner = partner;
    std::memcpy(g_enemies, enemies, sizeof enemies);
    std::memcpy(g_enemy_groups, groups, sizeof groups);
    std::memcpy(g_player_objects, player_objects, sizeof player_objects);
    std::memcpy(g_enemy_bullets, bullets, sizeof bullets);
    std::memcpy(g_items, items, sizeof items);
    std::memcpy(g_effects, effects, sizeof effects);
    std::memcpy(g_backgrounds, backgrounds, sizeof backgrounds);
    *GetLibraryRandomState() = random;
  }
};

size_t LiveBullets() {
  size_t n = 0;
  for (const GameObject& b : g_enemy_bullets) n += b.in_use != 0;
  return n;
}

void Frame() {
  UpdateObjects();
  DrawFrame();
  FlipScreen();
  ProcessWindowMessages();
}

// A stage 1 play field with the boss made by `create` in attack phase
// `phase`, the fight running and the player holding still under it with
// its shot held. Runs `frames` frames and keeps the one with most bullets.
std::unique_ptr<Snapshot> PeakFrame(void (*create)(GameObject&), uint32_t phase, int frames,
                                    size_t& peak) {
  g_game.levels[kLevelScene] = 99;  // no scene: the play field alone
  ResetSession(g_game);
  g_player_setups[1] = {1, 1};
  g_game.player_setup_row = 1;
  // Loaded once: the benchmark library runs each case several times, and
  // loading the sheets again on every run ends in a failed stage load that
  // stops the game and leaves the field empty.
  static const bool loaded = [] {
    LoadCommonResources();
    LoadPlayerGraphics(1, 1);
    LoadStageGraphics(1);
    return g_stop_flag == 0;
  }();
  if (!loaded) return std::make_unique<Snapshot>();
  for (uint32_t n = 1; n <= 2; ++n) CreateBackgroundBase(g_backgrounds[n - 1], n);
  for (uint32_t n = 1; n <= 2; ++n) CreateBackgroundSub(g_backgrounds[n + 1], n);
  InitPlayer();
  ResetPlayerStatus();
  SeedRandom(33557799);
  g_game.hud_on = 1;
  g_game.fade_value = 255.0;
  g_game.background_brightness = 255.0;
  g_game.scroll_speed = 1.0;
  g_find_free_index = 0;
  GameObject& boss = g_enemies[0];
  create(boss);
  boss.state = phase;
  boss.sub_state = 0;
  boss.x = boss.base.x = 210.0;
  boss.y = boss.base.y = 120.0;
  g_game.boss_gauge.phase = phase;
  g_game.talk.talk_mode = 0;
  g_input = InputState{};
  auto best = std::make_unique<Snapshot>();
  peak = 0;
  for (int f = 0; f < frames && g_stop_flag == 0; ++f) {
    // Undamaged and untouched: the pattern runs as it would at its densest.
    g_player_status.bomb_invulnerable_timer = 2;
    boss.life = 1e9;
    Frame();
    if (LiveBullets() > peak) {
      peak = LiveBullets();
      best->Take();
    }
  }
  return best;
}

void RunBoss(benchmark::State& state, void (*create)(GameObject&), uint32_t phase, bool draw) {
  if (!StartGame()) {
    state.SkipWithError("no data set or no library");
    return;
  }
  size_t peak = 0;
  const auto snapshot = PeakFrame(create, phase, 1500, peak);
  // The processor time of every thread, the band workers' included.
  std::clock_t cpu = 0;
  for (auto _ : state) {
    state.PauseTiming();
    snapshot->Restore();
    state.ResumeTiming();
    const std::clock_t start = std::clock();
    if (draw) {
      DrawFrame();
      FlipScreen();  // draws the last batch and waits for the band workers
    } else {
      UpdateObjects();
    }
    cpu += std::clock() - start;
    state.PauseTiming();
    if (draw) ProcessWindowMessages();
    state.ResumeTiming();
  }
  state.counters["bullets"] = static_cast<double>(peak);
  state.counters["cpu_ms"] = benchmark::Counter(1000.0 * double(cpu) / CLOCKS_PER_SEC / double(state.iterations()));
}

void BM_Boss1APhase3Update(benchmark::State& s) { RunBoss(s, CreateBoss1A, 3, false); }
void BM_Boss1APhase3Draw(benchmark::State& s) { RunBoss(s, CreateBoss1A, 3, true); }
void BM_Boss1BPhase4Update(benchmark::State& s) { RunBoss(s, CreateBoss1B, 4, false); }
void BM_Boss1BPhase4Draw(benchmark::State& s) { RunBoss(s, CreateBoss1B, 4, true); }
BENCHMARK(BM_Boss1APhase3Update)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Boss1APhase3Draw)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_Boss1BPhase4Update)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Boss1BPhase4Draw)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Stage 2: the mid-boss's last phase (bursts of 112 braking shots) and the
// boss's third, its densest (crosses every fifth frame and aimed rings of 20).
void BM_Boss2APhase3Update(benchmark::State& s) { RunBoss(s, CreateBoss2A, 3, false); }
void BM_Boss2APhase3Draw(benchmark::State& s) { RunBoss(s, CreateBoss2A, 3, true); }
void BM_Boss2BPhase3Update(benchmark::State& s) { RunBoss(s, CreateBoss2B, 3, false); }
void BM_Boss2BPhase3Draw(benchmark::State& s) { RunBoss(s, CreateBoss2B, 3, true); }
BENCHMARK(BM_Boss2APhase3Update)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Boss2APhase3Draw)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_Boss2BPhase3Update)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Boss2BPhase3Draw)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Stage 3: the mid-boss's only phase (a nine-shot fan every fifth frame) and
// the boss's last phase, its densest (opposite pairs, aimed rings of 32 and
// crosses from the four points around it).
void BM_Boss3APhase1Update(benchmark::State& s) { RunBoss(s, CreateBoss3A, 1, false); }
void BM_Boss3APhase1Draw(benchmark::State& s) { RunBoss(s, CreateBoss3A, 1, true); }
void BM_Boss3BPhase5Update(benchmark::State& s) { RunBoss(s, CreateBoss3B, 5, false); }
void BM_Boss3BPhase5Draw(benchmark::State& s) { RunBoss(s, CreateBoss3B, 5, true); }
BENCHMARK(BM_Boss3APhase1Update)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Boss3APhase1Draw)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_Boss3BPhase5Update)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Boss3BPhase5Draw)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Boss 4's last phase is the game's peak: spinning arms, aimed rings and the
// four corner emitters at once. Boss 5's fourth phase adds rings of 192
// turning shots to its spiral arms.
void BM_Boss4Phase5Update(benchmark::State& s) { RunBoss(s, CreateBoss4, 5, false); }
void BM_Boss4Phase5Draw(benchmark::State& s) { RunBoss(s, CreateBoss4, 5, true); }
void BM_Boss5Phase4Update(benchmark::State& s) { RunBoss(s, CreateBoss5, 4, false); }
void BM_Boss5Phase4Draw(benchmark::State& s) { RunBoss(s, CreateBoss5, 4, true); }
BENCHMARK(BM_Boss4Phase5Update)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Boss4Phase5Draw)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_Boss5Phase4Update)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Boss5Phase4Draw)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
