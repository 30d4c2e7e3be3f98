// game/stages/stage3_timeline.h - stage 3: its constants and timeline; the
// wave phases themselves are in stage3_waves.h.
#pragma once

#include "game/frame/game_state.h"
#include "game/stages/stage_timeline.h"

extern const StageTimeline kStage3Timeline;

// One frame of stage 3 (scene 5).
void Stage3Script(GameState& state);
