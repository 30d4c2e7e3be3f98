// tests/game/play_screens.cpp - scripted screens of the whole game.
#include "tests/game/play_screens.h"

#include <filesystem>
#include <utility>

#include "game/bosses/boss.h"
#include "game/frame/frame_loop.h"
#include "game/frame/game_error.h"
#include "game/frame/game_state.h"
#include "game/frame/input.h"
#include "game/objects/dispatch.h"
#include "game/objects/game_object.h"
#include "game/objects/panel.h"
#include "game/objects/player.h"
#include "game/objects/resources.h"
#include "game/stages/stage_script.h"
#include "lib/system/window_system.h"
#include "platform/kernel/kernel.h"
#include "platform/window/window.h"
#include "rorud/rorud.h"

namespace gametest {

namespace {

void SetInput(uint8_t held_actions, uint8_t pressed_actions, uint8_t held_directions,
              uint8_t pressed_directions) {
  g_input.held_actions = held_actions;
  g_input.pressed_actions = pressed_actions;
  g_input.held_directions = held_directions;
  g_input.pressed_directions = pressed_directions;
}

int Count(const GameObject* records, size_t n) {
  int c = 0;
  for (size_t i = 0; i < n; ++i) {
    const GameObject& r = records[i];
    c += r.in_use != 0 && r.visible != 0 && r.x > 16 && r.x < 404 && r.y > 16 && r.y < 464 ? 1 : 0;
  }
  return c;
}

}  // namespace

double Frame640::Mean(int x1, int y1, int x2, int y2) const {
  double sum = 0.0;
  int n = 0;
  for (int y = y1; y < y2; ++y) {
    for (int x = x1; x < x2; ++x) {
      const uint32_t p = At(x, y);
      sum += (p & 0xFF) + ((p >> 8) & 0xFF) + ((p >> 16) & 0xFF);
      ++n;
    }
  }
  return n != 0 ? sum / n : 0.0;
}

void SaveScreenshot(const char* name) {
  const std::filesystem::path dir = std::filesystem::path(RORUD_BINARY_DIR) / "screenshots";
  std::filesystem::create_directories(dir);
  plat::SaveLastFramePng(GetMainWindow(), (dir / name).string().c_str());
}

void ScreenFrame(uint8_t held_actions, uint8_t pressed_actions, uint8_t held_directions,
                 uint8_t pressed_directions) {
  SetInput(held_actions, pressed_actions, held_directions, pressed_directions);
  RunScene();
  UpdateObjects();
  DrawFrame();
  ServeSoundRequests();
  WaitFrame();
}

namespace {

// One frame without pictures: the draw pass only steps the animations.
void LogicStep() {
  UpdateObjects();
  WalkDrawOrder(StepAnimation, nullptr);
  ServeSoundRequests();
  ProcessWindowMessages();
  plat::AdvanceVirtualClock(16'667);
}

}  // namespace

bool PlayToMidWave(uint32_t scene) {
  g_game.player_setup_row = 1;
  g_player_setups[1].ship_kind = 1;
  g_player_setups[1].partner_mode = 1;
  SetScene(g_game, scene);
  for (int f = 0; f < 1500 && g_stop_flag == 0; ++f) {
    // Shots from the first play frames on, sweeping left and right.
    const uint8_t dirs = (f / 40) % 4 == 1 ? kDirLeft : ((f / 40) % 4 == 3 ? kDirRight : 0);
    SetInput(kActionShot, 0, dirs, 0);
    RunScene();
    LogicStep();
    if (g_game.levels[kLevelPhase] >= kPhaseFirstWave && Count(g_enemies, kEnemyPoolSize) >= 4 &&
        Count(g_enemy_bullets, kEnemyBulletPoolSize) >= 4 && Count(g_items, kItemPoolSize) >= 2) {
      return true;
    }
  }
  return false;
}

void PlayBossFight(void (*create)(GameObject&), uint32_t phase, int frames) {
  g_game.levels[kLevelScene] = 99;  // no scene: the play field alone
  const std::pair<GameObject*, size_t> pools[] = {
      {g_enemies, kEnemyPoolSize}, {g_enemy_bullets, kEnemyBulletPoolSize}, {g_items, kItemPoolSize}};
  for (auto [pool, n] : pools) {
    for (size_t i = 0; i < n; ++i) {
      if (pool[i].in_use != 0) RemoveObject(pool[i]);
    }
  }
  g_game.talk.talk_mode = 0;
  g_game.background_brightness = 255.0;
  const uint32_t index = FindFreeEnemy();
  if (index == kPoolFull) return;
  GameObject& boss = g_enemies[index];
  create(boss);
  boss.state = phase;
  boss.x = boss.base.x = 210.0;
  boss.y = boss.base.y = 120.0;
  g_game.boss_gauge.phase = phase;
  SetInput(0, 0, 0, 0);
  for (int f = 0; f < frames && g_stop_flag == 0; ++f) {
    g_player_status.bomb_invulnerable_timer = 2;
    LogicStep();
  }
}

void PlayBossEntry(void (*create)(GameObject&), uint32_t step, int frames_shown) {
  g_game.levels[kLevelScene] = 99;  // no scene: the play field alone
  for (GameObject& e : g_enemies) {
    if (e.in_use != 0) RemoveObject(e);
  }
  for (GameObject& b : g_enemy_bullets) {
    if (b.in_use != 0) RemoveObject(b);
  }
  for (GameObject& i : g_items) {
    if (i.in_use != 0) RemoveObject(i);
  }
  g_game.talk.talk_mode = 1;  // as the stage turns it on before the boss comes
  g_game.opponent_portrait_set = 2;
  const uint32_t index = FindFreeEnemy();
  if (index == kPoolFull) return;
  GameObject& boss = g_enemies[index];
  create(boss);
  SetInput(0, 0, 0, 0);
  int shown = 0;
  for (int f = 0; f < 5000 && g_stop_flag == 0 && shown < frames_shown; ++f) {
    g_player_status.bomb_invulnerable_timer = 2;
    LogicStep();
    if (boss.state == kBossEntry && boss.sub_state == step) ++shown;
  }
}

void RunScreenTour(const std::function<void(const std::string& name)>& shot) {
  g_game.levels[kLevelScene] = kSceneBoot;
  for (int f = 0; f < 200; ++f) ScreenFrame();
  shot("title");
  ScreenFrame(0, 0, kDirDown, kDirDown);
  ScreenFrame(kActionShot, kActionShot);
  for (int f = 0; f < 60; ++f) ScreenFrame();
  shot("high_score");
  if (!PlayToMidWave()) return;
  g_game.hud_on = 1;
  ScreenFrame(kActionShot);
  shot("mid_wave");
  g_game.pause = 1;
  ScreenFrame(kActionShot);
  shot("pause");
  g_game.pause = 0;
  if (!PlayToMidWave(kSceneStage1 + 1)) return;
  ScreenFrame(kActionShot);
  shot("stage2_wave");
  PlayBossFight(CreateBoss2A, 1, 240);
  ScreenFrame();
  shot("boss2a");
  PlayBossFight(CreateBoss2B, 5, 240);
  ScreenFrame();
  shot("boss2b");
}

}  // namespace gametest
