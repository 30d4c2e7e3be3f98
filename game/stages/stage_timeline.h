// game/stages/stage_timeline.h - the form of a stage's wave timeline: wave
// phase heads with their ramps and exits, and the spawn rows that the stage
// script reads each frame.
#pragma once

#include <cstddef>
#include <cstdint>

#include "game/frame/game_state.h"
#include "game/objects/game_object.h"

enum SpawnCreator : uint8_t { kZakoA, kZakoB, kZakoC, kMidZakoA, kMidZakoB, kMidZakoC };

// One spawn: on the phase frame whose counter is the spawn base + offset, a
// record from the enemy pool goes to the creator with these arguments, in
// the creator's own order (integers stored as doubles; unused trailing
// arguments are 0).
struct SpawnRow {
  uint32_t offset;
  SpawnCreator creator;
  double args[10];
};

struct WavePhase {
  uint32_t phase;
  uint32_t spawn_base;
  bool ramp_brightness;  // StageTick; otherwise StageTickScroll
  double scroll_step;
  double scroll_target;
  double brightness_step;
  double brightness_target;
  uint32_t exit_wait;
  bool exit_needs_no_enemy;
  uint32_t next_phase;
  const SpawnRow* rows;
  size_t row_count;
};

// A ramp of the boss phases and the stage end: spawn base, scroll and
// (when `with_brightness`) background brightness.
struct StageRamp {
  bool with_brightness;
  double scroll_step;
  double scroll_target;
  double brightness_step;
  double brightness_target;
};

using BossCreatorFn = void (*)(GameObject& record);

struct StageConstants {
  uint32_t stage;  // 1 to 5; the scene is stage + 2
  const char* music_file;
  int32_t music_loop;
  const char* boss_music_file;  // null: the stage has no boss music
  int32_t boss_music_loop;
  const char* caption;
  StageRamp midboss_ramp;
  StageRamp boss_ramp;
  // The mid-boss (null: the stage has none, and its mid-boss phases do
  // nothing) and the boss.
  BossCreatorFn midboss;
  BossCreatorFn boss;
  uint32_t end_wait;  // scene-level wait at the stage end
  bool end_needs_no_enemy;
  uint32_t next_scene;
};

struct StageTimeline {
  const StageConstants* constants;
  const WavePhase* phases;
  size_t phase_count;
};

// The wave phase `phase` of the timeline, or null.
const WavePhase* FindWavePhase(const StageTimeline& timeline, uint32_t phase);


