// game/stages/stage4_timeline.cpp - stage 4's constants and phase order. Its
// waves are stage 3's, but phase 17 leads straight to 62: no mid-boss, no
// phases 18 to 20, 60 and 61. The stage ends in the title on the first frame
// of its end phase, so the replay is written once.
#include "game/stages/stage4_timeline.h"

#include "game/bosses/boss.h"
#include "game/bosses/story.h"
#include "game/stages/stage3_waves.h"
#include "game/stages/stage_script.h"

namespace {

const WavePhase kPhases[] = {
    kStage3Wave10, kStage3Wave11, kStage3Wave14, kStage3Wave15,
    kStage3Wave16, WithNextPhase(kStage3Wave17, 62), kStage3Wave62, kStage3Wave63,
    kStage3Wave64, kStage3Wave65,
};

const StageConstants kStage4Constants = {
    4,
    "bgm/stg4.mp3",
    245196,
    "bgm/boss4.mp3",
    7610,
    kStage4MusicCredit,
    {false, -0.01, 2.0, 0.0, 0.0},  // no mid-boss
    {false, -0.01, 2.0, 0.0, 0.0},  // the brightness is left to the boss
    nullptr,
    CreateBoss4,
    0,
    false,
    kSceneTitle,
};

}  // namespace

const StageTimeline kStage4Timeline = {&kStage4Constants, kPhases,
                                       sizeof kPhases / sizeof kPhases[0]};

void Stage4Script(GameState& s) { RunStageScript(s, kStage4Timeline); }
