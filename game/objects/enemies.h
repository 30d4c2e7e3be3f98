// game/objects/enemies.h - the small (kinds 22-24) and medium (kinds 30-32)
// enemies that the stage scripts spawn.
#pragma once

#include <cstdint>

#include "game/objects/game_object.h"

// Slots of the enemy record used by these kinds.
inline constexpr int kEnemyRunFrames = 0;    // kind_counters: N1 (straight / run)
inline constexpr int kEnemyTurnFrames = 1;   // kind_counters: N2 (turn / brake)
inline constexpr int kEnemyTurnRate = 0;     // kind_values: degrees per frame (kind 23)
inline constexpr int kEnemyAcceleration = 1; // kind_values: per frame (kinds 24, 30-32)
inline constexpr int kZakoWobble = 0;        // motion part: the 5-pixel circling
inline constexpr int kZakoSway = 1;          // motion part: the sideways sway and descent

inline constexpr double kZakoDescent = 0.77;
inline constexpr uint32_t kDyingState = 99;

void CreateZakoA(GameObject& record, uint32_t variant, uint32_t sub_type, uint32_t level,
                 double x, double y, double sway_phase, double sway_step, double sway_amplitude);
void CreateZakoB(GameObject& record, uint32_t variant, uint32_t sub_type, uint32_t straight_frames,
                 uint32_t turn_frames, double x, double y, double angle, double speed,
                 double turn_rate);
void CreateZakoC(GameObject& record, uint32_t variant, uint32_t sub_type, uint32_t level,
                 uint32_t run_frames, uint32_t brake_frames, double x, double y, double angle,
                 double speed, double acceleration);
void CreateMidZakoA(GameObject& record, uint32_t variant, uint32_t level, uint32_t brake_frames,
                    double x, double y, double angle, double speed, double acceleration);
void CreateMidZakoB(GameObject& record, uint32_t variant, uint32_t level, uint32_t brake_frames,
                    double x, double y, double angle, double speed, double acceleration);
void CreateMidZakoC(GameObject& record, uint32_t variant, uint32_t level, uint32_t brake_frames,
                    double x, double y, double angle, double speed, double acceleration);

void UpdateZakoA(GameObject& record);
void UpdateZakoB(GameObject& record);
void UpdateZakoC(GameObject& record);
void UpdateMidZako(GameObject& record);
