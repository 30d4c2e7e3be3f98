// game/stages/stage2_timeline.h - stage 2: its constants, wave phases and
// spawn rows, and the script of its scene.
#pragma once

#include "game/frame/game_state.h"
#include "game/stages/stage_timeline.h"

extern const StageTimeline kStage2Timeline;

void Stage2Script(GameState& state);
