// game/stages/stage5_timeline.h - stage 5: one wave of small enemies, the
// last boss and the return to the title. No scene change of the game leads
// to it; it runs whenever the scene is 7.
#pragma once

#include "game/frame/game_state.h"
#include "game/stages/stage_timeline.h"

extern const StageTimeline kStage5Timeline;

// One frame of stage 5 (scene 7).
void Stage5Script(GameState& state);
