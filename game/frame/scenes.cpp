// game/frame/scenes.cpp - the scene dispatch of the frame loop.
#include "game/frame/frame_loop.h"
#include "game/frame/menu_scenes.h"
#include "game/stages/stage2_timeline.h"
#include "game/stages/stage3_timeline.h"
#include "game/stages/stage4_timeline.h"
#include "game/stages/stage5_timeline.h"
#include "game/stages/stage_script.h"

// Boot, title, high score, stages 1 to 5. A scene number above 7 runs nothing.
SceneFn g_scene_table[8] = {
    BootScene,       // 0
    TitleScene,      // 1
    HighScoreScene,  // 2
    Stage1Script,    // 3
    Stage2Script,    // 4
    Stage3Script,    // 5
    Stage4Script,    // 6
    Stage5Script,    // 7: no scene change leads here
};

bool RunScene() {
  if (g_game.pause == 1) return false;
  const uint32_t scene = g_game.levels[kLevelScene];
  if (scene < 8 && g_scene_table[scene] != nullptr) g_scene_table[scene](g_game);
  return true;
}
