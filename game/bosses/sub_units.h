// game/bosses/sub_units.h - the glowing orbs that some bosses release: they
// drift out, fire on their own for a fixed time and fade away, or fade at
// once when their boss's attack phase ends.
#pragma once

#include <cstdint>

#include "game/objects/game_object.h"

// Field use of a sub-unit record beyond the common ones.
//   parts[1].velocity_x/y: entry velocity (appear state)
//   parts[2].velocity_x/y: cruise velocity (cruise state)
//   kind_counters[kSubUnitCruiseFrames]: length of the cruise state
//   attack.values[kSubUnitAimX/Y]: the sweeping aim point of kind 54
inline constexpr int kSubUnitEntryPart = 1;
inline constexpr int kSubUnitCruisePart = 2;
inline constexpr int kSubUnitCruiseFrames = 0;
inline constexpr int kSubUnitAimX = 0;
inline constexpr int kSubUnitAimY = 1;

inline constexpr uint32_t kSubUnitAppear = 0;
inline constexpr uint32_t kSubUnitCruise = 1;
inline constexpr uint32_t kSubUnitFade = 2;

// `parent_index` is the boss's index in the enemy pool; `colour` 1 to 8.
void CreateSubUnitA(GameObject& record, uint32_t parent_index, uint32_t colour, double x,
                    double y, double angle, double entry_speed, double cruise_speed);
void CreateSubUnitB(GameObject& record, uint32_t parent_index, uint32_t colour, double x,
                    double y, double angle, double entry_speed, double cruise_speed);
void CreateSubUnitC(GameObject& record, uint32_t parent_index, uint32_t colour, double x,
                    double y, double angle, double entry_speed, double cruise_speed);

// The draw part: colour, graphic, the grow-in from scale 3 and blend 15.
void InitSubUnit(GameObject& record, uint32_t colour);

void UpdateSubUnitA(GameObject& record);
void UpdateSubUnitB(GameObject& record);
void UpdateSubUnitC(GameObject& record);
