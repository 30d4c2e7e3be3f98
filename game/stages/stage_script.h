// game/stages/stage_script.h - the phase machine shared by the stage scripts.
#pragma once

#include "game/frame/game_state.h"
#include "game/stages/stage_timeline.h"

// Stage phases (the phase level of the state stack).
inline constexpr uint32_t kPhaseReset = 0;
inline constexpr uint32_t kPhaseLoad = 1;
inline constexpr uint32_t kPhaseObjects = 2;
inline constexpr uint32_t kPhaseStart = 3;
inline constexpr uint32_t kPhaseFadeIn = 4;
inline constexpr uint32_t kPhaseFirstWave = 10;
inline constexpr uint32_t kPhaseMidBoss = 50;
inline constexpr uint32_t kPhaseAfterMidBoss = 51;
inline constexpr uint32_t kPhaseSecondWave = 60;
inline constexpr uint32_t kPhaseBoss = 100;
inline constexpr uint32_t kPhaseStageEnd = 101;

// The seed of every stage start: a stage replays from its input words alone.
inline constexpr uint32_t kStageSeed = 33557799;

// One frame of a stage's script.
void RunStageScript(GameState& state, const StageTimeline& timeline);

// Takes an enemy record and creates the row's enemy; a full pool skips it.
void SpawnFromRow(const SpawnRow& row);

void Stage1Script(GameState& state);
