// tests/game/game_fixture.cpp - resetting the game's globals between tests.
#include "tests/game/game_fixture.h"

#include <cstring>
#include <random>

#include "game/frame/config.h"
#include "game/frame/frame_loop.h"
#include "game/frame/game_error.h"
#include "game/frame/game_state.h"
#include "game/frame/input.h"
#include "game/frame/save_writer.h"
#include "game/objects/game_object.h"
#include "game/objects/dispatch.h"
#include "game/objects/resources.h"
#include "platform/kernel/kernel.h"
#include "rorud/rorud.h"

namespace gametest {

namespace {
template <typename T>
void Zero(T& value) {
  std::memset(static_cast<void*>(&value), 0, sizeof value);
}
}  // namespace

void ResetGameGlobals() {
  Zero(g_game);
  Zero(g_input);
  Zero(g_pacing);
  Zero(g_config);
  std::memset(g_replay_words, 0, sizeof g_replay_words);
  Zero(g_player);
  Zero(g_partner);
  Zero(g_enemies);
  Zero(g_enemy_groups);
  Zero(g_player_objects);
  Zero(g_enemy_bullets);
  Zero(g_items);
  Zero(g_effects);
  Zero(g_backgrounds);
  Zero(g_cursor_pool);
  Zero(g_menu_objects);
  Zero(g_graphics);
  Zero(g_sounds);
  Zero(g_player_setups);
  g_find_free_index = 0;
  g_stop_flag = 0;
  g_error_text[0] = '\0';
  g_replayed_frame_rate = 0.0;
  ResetAllPools();
}

void LogicFrame() {
  UpdateInputFrame();
  RunScene();
  UpdateObjects();
  WalkDrawOrder(StepAnimation, nullptr);
  ServeSoundRequests();
  ProcessWindowMessages();
  plat::AdvanceVirtualClock(16'667);
}

bool SwitchStartedStage(uint32_t scene) {
  // The title's phase 4 fades out and then enters the chosen scene.
  if (g_game.levels[kLevelScene] != kSceneTitle || g_game.levels[kLevelPhase] != 4 ||
      g_game.next_scene != kSceneStage1) {
    return false;
  }
  g_game.next_scene = scene;
  return true;
}

ScratchFolder::ScratchFolder(const std::filesystem::path& base) {
  previous_ = std::filesystem::current_path();
  std::random_device rd;
  const std::string name = "quillona_test_" + std::to_string(rd()) + std::to_string(rd());
  path_ = base / name;
  std::filesystem::create_directories(path_);
  std::filesystem::current_path(path_);
}

ScratchFolder::~ScratchFolder() {
  // No save of this test's may land in the next test's folder or stream.
  FinishBackgroundSaves();
  std::error_code ec;
  std::filesystem::current_path(previous_, ec);
  std::filesystem::remove_all(path_, ec);
}

}  // namespace gametest
