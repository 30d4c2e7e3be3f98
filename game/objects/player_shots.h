// game/objects/player_shots.h - what the player side fires at the enemies:
// shots (kind 37), partner shots (47), the bomb (41), the focused bomb (40),
// the bullet clearer (51), the blast (38) and the bomb cut-in (90).
#pragma once

#include <cstdint>

#include "game/objects/game_object.h"

// Slots of the player-side records.
inline constexpr int kHeading = 0;            // kind_values (partner shot)
inline constexpr int kTargetHeading = 1;
inline constexpr int kAge = 0;                // kind_counters
inline constexpr int kBombRiseSpeed = 0;      // kind_values (bomb)
inline constexpr int kBombRingRadius = 1;     // bombs
inline constexpr int kBombSatelliteScale = 2;
inline constexpr int kBombSecondAngle = 3;
inline constexpr int kBombRingStep = 4;       // focused bomb
inline constexpr int kBombDamageCounter = 1;  // kind_counters (bomb)
inline constexpr int kBombClearCounter = 2;
inline constexpr int kClearerReach = 0;       // kind_values (bullet clearer)
inline constexpr int kClearerReachGrowth = 1;
inline constexpr int kClearerBaseScale = 2;
inline constexpr int kClearerScaleAdd = 3;
inline constexpr int kBlastRingSteps = 0;     // kind_values 0..2 (blast)
inline constexpr int kBlastRingStep = 3;
inline constexpr int kBlastRingRadius = 4;

void CreatePlayerShot(GameObject& record, double x, double y, double angle, uint32_t sub_type);
void UpdatePlayerShot(GameObject& record);
void CreatePartnerShot(GameObject& record, double x, double y, double angle);
void UpdatePartnerShot(GameObject& record);
void CreateBomb(GameObject& record, double x, double y);
void UpdateBomb(GameObject& record);
void CreateFocusBomb(GameObject& record, double x, double y);
void UpdateFocusBomb(GameObject& record);
void CreateBulletClearer(GameObject& record, uint32_t variant, double x, double y);
void UpdateBulletClearer(GameObject& record);
void UpdatePlayerBlast(GameObject& record);
void CreateBombCutIn(GameObject& record, uint32_t variant);
void UpdateBombCutIn(GameObject& record);

void DrawBomb(GameObject& record);
void DrawFocusBomb(GameObject& record);
void DrawBulletClearer(GameObject& record);
void DrawPlayerBlast(GameObject& record);
