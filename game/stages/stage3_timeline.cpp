// game/stages/stage3_timeline.cpp - stage 3's constants and phase order. The
// stage has no boss track: both bosses fight to the stage music.
#include "game/stages/stage3_timeline.h"

#include "game/bosses/boss.h"
#include "game/bosses/story.h"
#include "game/stages/stage3_waves.h"
#include "game/stages/stage_script.h"

namespace {

// Phase 11 hands over to 14; there are no phases 12, 13 and 66.
const WavePhase kPhases[] = {
    kStage3Wave10, kStage3Wave11, kStage3Wave14, kStage3Wave15, kStage3Wave16,
    kStage3Wave17, kStage3Wave18, kStage3Wave19, kStage3Wave20, kStage3Wave60,
    kStage3Wave61, kStage3Wave62, kStage3Wave63, kStage3Wave64, kStage3Wave65,
};

const StageConstants kStage3Constants = {
    3,
    "bgm/stg3.mp3",
    8140,
    nullptr,  // no boss track
    0,
    kStage3MusicCredit,
    {false, -0.01, 2.0, 0.0, 0.0},  // the brightness is left to the bosses
    {false, -0.01, 2.0, 0.0, 0.0},
    CreateBoss3A,
    CreateBoss3B,
    100,
    true,
    6,
};

}  // namespace

const StageTimeline kStage3Timeline = {&kStage3Constants, kPhases,
                                       sizeof kPhases / sizeof kPhases[0]};

void Stage3Script(GameState& s) { RunStageScript(s, kStage3Timeline); }
