// game/objects/player.h - the player ship, its game values and the partner.
#pragma once

#include <cstdint>

#include "game/objects/game_object.h"

// The player's game values; the record's own life field is not used.
struct PlayerStatus {
  double shot_power;   // 450, or 500 while the strong focused shot is on
  double power_gauge;  // 0 to 1000
  double life;
  uint32_t shot_hold_timer;
  uint32_t shot_counter;
  uint32_t bomb_invulnerable_timer;
  uint32_t bomb_cooldown;
  uint32_t hit_invulnerable_timer;
  uint32_t weak_shot_timer;
};
extern PlayerStatus g_player_status;

// Partner fields: base point in base.x/y, heading/speed in base.angle and
// base.speed, the rest here.
inline constexpr int kPartnerAccel = 0;     // kind_values
inline constexpr int kPartnerDecel = 1;
inline constexpr int kPartnerPhaseA = 2;
inline constexpr int kPartnerPhaseB = 3;
inline constexpr int kPartnerPhaseStepA = 4;
inline constexpr int kPartnerPhaseStepB = 5;
inline constexpr int kPartnerShotHold = 0;  // kind_counters
inline constexpr int kPartnerShotCounter = 1;
inline constexpr int kPartnerShotBlock = 2;

// The creators of the player's shots, bombs and cut-ins. They belong to the
// player-side objects; until those are part of the game they stay null and
// the player fires nothing (the sound requests and the gauge costs still
// happen, so the player's own values do not depend on them).
using ShotCreatorFn = void (*)(GameObject& record, double x, double y, double angle,
                               uint32_t sub_type);
using PartnerShotCreatorFn = void (*)(GameObject& record, double x, double y, double angle);
using BombCreatorFn = void (*)(GameObject& record, double x, double y);
using CutInCreatorFn = void (*)(GameObject& record, uint32_t variant);
extern ShotCreatorFn g_create_player_shot;
extern PartnerShotCreatorFn g_create_partner_shot;
extern BombCreatorFn g_create_bomb;
extern BombCreatorFn g_create_focus_bomb;
extern CutInCreatorFn g_create_bomb_cut_in;

void ResetPlayerStatus();
void InitPlayer();
void UpdatePlayer(GameObject& record);
void UpdatePartnerA(GameObject& record);
void UpdatePartnerB(GameObject& record);
