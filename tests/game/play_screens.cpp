// tests/game/play_screens.cpp - scripted screens of the whole game.
#include "tests/game/play_screens.h"

#include <filesystem>

#include "game/frame/frame_loop.h"
#include "game/frame/game_error.h"
#include "game/frame/game_state.h"
#include "game/frame/input.h"
#include "game/objects/dispatch.h"
#include "game/objects/game_object.h"
#include "game/objects/panel.h"
#include "game/objects/resources.h"
#include "game/stages/stage_script.h"
#include "lib/core/window_system.h"
#include "platform/kernel.h"
#include "platform/window.h"
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

bool PlayToMidWave() {
  g_game.player_setup_row = 1;
  g_player_setups[1].ship_kind = 1;
  g_player_setups[1].partner_mode = 1;
  SetScene(g_game, kSceneStage1);
  for (int f = 0; f < 1500 && g_stop_flag == 0; ++f) {
    // Shots from the first play frames on, sweeping left and right.
    const uint8_t dirs = (f / 40) % 4 == 1 ? kDirLeft : ((f / 40) % 4 == 3 ? kDirRight : 0);
    SetInput(kActionShot, 0, dirs, 0);
    RunScene();
    UpdateObjects();
    WalkDrawOrder(StepAnimation, nullptr);
    ServeSoundRequests();
    ProcessWindowMessages();
    plat::AdvanceVirtualClock(16'667);
    if (g_game.levels[kLevelPhase] >= kPhaseFirstWave && Count(g_enemies, kEnemyPoolSize) >= 4 &&
        Count(g_enemy_bullets, kEnemyBulletPoolSize) >= 4 && Count(g_items, kItemPoolSize) >= 2) {
      return true;
    }
  }
  return false;
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
}

}  // namespace gametest
