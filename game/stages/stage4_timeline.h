// game/stages/stage4_timeline.h - stage 4: its constants and timeline, made
// of stage 3's wave phases without the mid-boss.
#pragma once

#include "game/frame/game_state.h"
#include "game/stages/stage_timeline.h"

extern const StageTimeline kStage4Timeline;

// One frame of stage 4 (scene 6).
void Stage4Script(GameState& state);
