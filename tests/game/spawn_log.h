// tests/game/spawn_log.h - a stage's spawn log (phase, counter, creator,
// arguments) and the expansion of a written timeline into the same form, for
// the timeline tests of every stage.
#pragma once

#include <cstdint>
#include <ostream>
#include <utility>
#include <vector>

#include "game/frame/game_state.h"
#include "game/objects/game_object.h"
#include "game/stages/stage_timeline.h"

namespace gametest {

struct Spawn {
  uint32_t phase;
  uint32_t counter;
  uint32_t kind;
  std::vector<double> args;
  bool operator==(const Spawn&) const = default;
};
void PrintTo(const Spawn& s, std::ostream* os);

// A timeline as written: runs of one creator in one phase, whose argument
// lists cycle over the run (a single value holds for all of it).
using L = std::vector<double>;
std::vector<double> Steps(double from, double to, double step);

struct Run {
  uint32_t phase;
  uint32_t base;
  uint32_t kind;
  std::vector<double> offsets;
  std::vector<std::vector<double>> args;  // each list cycles over the run
};

// The spawns of the runs in table order: run by run.
std::vector<Spawn> ExpandInTableOrder(const std::vector<Run>& runs);
// The spawns of the runs in the order they come: frame order within a phase
// (the phases in rising number, as they follow each other in every stage),
// table order within a frame.
std::vector<Spawn> Expand(const std::vector<Run>& runs);

// A timeline's spawn rows as written, in table order, with their arguments
// as the table gives them.
std::vector<Spawn> TableRows(const StageTimeline& timeline);

// A small enemy of kind 24 keeps the level of its sub-type (1 for 0, else 2),
// not its level argument: the written spawns as the created records show them.
void ZakoCLevelsBySubType(std::vector<Spawn>& spawns);

// The creator arguments as they stand in the created record.
std::vector<double> ArgsOf(const GameObject& r);

struct SpawnLog {
  std::vector<Spawn> spawns;
  std::vector<std::pair<uint32_t, uint32_t>> phase_frames;  // phase, frames run
};

// Runs the script until the phase is `stop_phase`, logging and clearing
// every new enemy after each frame (no enemy lives on, so the enemy exits
// pass after their wait).
void RunUntil(void (*script)(GameState&), uint32_t stop_phase, SpawnLog& log,
              int frame_limit = 20000);

}  // namespace gametest
