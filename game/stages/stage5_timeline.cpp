// game/stages/stage5_timeline.cpp - stage 5's constants and its one wave.
// Its replay file is read and written by the same replay load and save as
// every stage's, so it carries their checks.
#include "game/stages/stage5_timeline.h"

#include "game/bosses/boss.h"
#include "game/bosses/story.h"
#include "game/stages/stage_script.h"

namespace {

// ZakoA: variant, sub-type, level, x, y, sway phase, sway step, sway
// amplitude. The columns lie 23 pixels apart around the middle, 210.
const SpawnRow kPhase10Rows[] = {
    {0, kZakoA, {1, 0, 1, 279, -32, 0, 2.8, 80}},
    {10, kZakoA, {2, 0, 1, 348, -32, 180, 2.8, 80}},
    {20, kZakoA, {3, 0, 1, 141, -32, 0, 2.8, 80}},
    {30, kZakoA, {4, 0, 1, 72, -32, 180, 2.8, 80}},
    {40, kZakoA, {1, 0, 1, 210, -32, 0, 2.8, 80}},
    {50, kZakoA, {2, 0, 1, 325, -32, 180, 2.8, 80}},
    {60, kZakoA, {3, 0, 1, 95, -32, 0, 2.8, 80}},
    {70, kZakoA, {4, 0, 1, 72, -32, 180, 2.8, 80}},
    {80, kZakoA, {1, 0, 1, 348, -32, 0, 2.8, 80}},
    {90, kZakoA, {2, 0, 1, 210, -32, 180, 2.8, 80}},
    {100, kZakoA, {3, 0, 1, 302, -32, 0, 2.8, 80}},
    {110, kZakoA, {1, 0, 1, 348, -32, 0, 2.8, 80}},
    {120, kZakoA, {2, 0, 1, 210, -32, 180, 2.8, 80}},
    {130, kZakoA, {3, 0, 1, 302, -32, 0, 2.8, 80}},
    {140, kZakoA, {4, 0, 1, 118, -32, 180, 2.8, 80}},
    {150, kZakoA, {2, 0, 1, 325, -32, 180, 2.8, 80}},
    {160, kZakoA, {3, 0, 1, 95, -32, 0, 2.8, 80}},
    {170, kZakoA, {4, 0, 1, 72, -32, 180, 2.8, 80}},
    {180, kZakoA, {1, 0, 1, 348, -32, 0, 2.8, 80}},
    {190, kZakoA, {2, 0, 1, 210, -32, 180, 2.8, 80}},
    {200, kZakoA, {4, 0, 1, 72, -32, 180, 2.8, 80}},
};

// The wave waits for every enemy before the boss comes.
const WavePhase kPhases[] = {
    {10, 100, true, 0.01, 5.0, -0.1, 160.0, 220, true, kPhaseBoss, kPhase10Rows,
     sizeof kPhase10Rows / sizeof kPhase10Rows[0]},
};

const StageConstants kStage5Constants = {
    5,
    "bgm/stg5.mp3",
    245196,
    "bgm/boss5.mp3",
    13584,
    kStage5MusicCredit,
    {false, -0.01, 2.0, 0.0, 0.0},  // no mid-boss
    {false, -0.01, 2.0, 0.0, 0.0},
    nullptr,
    CreateBoss5,
    0,
    false,
    kSceneTitle,
};

}  // namespace

const StageTimeline kStage5Timeline = {&kStage5Constants, kPhases,
                                       sizeof kPhases / sizeof kPhases[0]};

void Stage5Script(GameState& s) { RunStageScript(s, kStage5Timeline); }
