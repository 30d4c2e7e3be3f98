// game/stages/stage1_timeline.h - stage 1: its constants, wave phases and
// spawn rows.
#pragma once

#include "game/stages/stage_timeline.h"

extern const StageTimeline kStage1Timeline;
