// game/objects/effects.h - the purely visual objects of the play field: the
// focus indicator, explosions, bursts, boss bursts and the boss aura. They
// live in the effect pool, never hit anything, and draw in the effect layers.
#pragma once

#include <cstdint>

#include "game/objects/game_object.h"

// Field use of the effect records beyond the common ones.
//   explosion: level = size variant; base.x/y = base point; parts[0..4].move.x/y
//   = the puff points, parts[3/4].flag = puff on; kind_counters below.
inline constexpr int kExplosionFrame = 0;     // animation frame 0 to 9
inline constexpr int kExplosionHold = 1;      // frame hold counter
inline constexpr int kExplosionDelay = 2;     // start delay
inline constexpr int kExplosionHoldSet = 3;   // frames per animation frame (K)
//   bursts: kind_counters[kRingCount]; value = core factor; parts[0].move.x =
//   ring radius, parts[0].move.speed = ring step; the steps in kind_values.
inline constexpr int kRingCount = 0;
enum RingValue {
  kBlendStepP, kBlendStepQ, kBlendStepR, kBlendAgeQ, kBlendAgeR,
  kRingStepFirst, kRingStepLater, kRingSwitch, kScaleStepFirst, kScaleStepLater,
  kScaleAge, kRingValueCount
};
//   aura: parent_index = the boss's enemy-pool index; kind_extra below;
//   value = core factor.
inline constexpr int kAuraTargetScale = 0;
inline constexpr int kAuraTargetBlend = 1;

// Takes the lowest free record of the effect pool, or null when the pool is
// full (the creation is then skipped and the pool's tag noted).
GameObject* TakeFreeEffect();

void CreateFocusIndicator(GameObject& record);

void CreateExplosion(GameObject& record, uint32_t size_variant, uint32_t sub_type, double x,
                     double y);
void UpdateExplosion(GameObject& record);

void CreateBurst(GameObject& record, uint32_t appearance, uint32_t size, double x, double y);
void UpdateBurst(GameObject& record);

void CreateBossBurst(GameObject& record, uint32_t appearance, uint32_t size, double x,
                     double y);
void UpdateBossBurst(GameObject& record);

void CreateBossAura(GameObject& record, uint32_t appearance, uint32_t boss_index);
void UpdateBossAura(GameObject& record);

// Draws (the library's rotated draw, centred on the rounded position).
void DrawFocusIndicator(GameObject& record);
void DrawExplosion(GameObject& record);
void DrawBurst(GameObject& record);
void DrawBossBurst(GameObject& record);
void DrawBossAura(GameObject& record);
