// game/bosses/boss_fire.h - the shots, bursts and sub-unit launches of the
// boss attack phases. Shots start at a shot origin: the boss's position, or a
// point offset from it. A full pool skips the object (its find-free function
// notes the pool's tag).
#pragma once

#include <cstdint>

#include "game/objects/game_object.h"

// Where a shot starts. A boss record stands for its own position, so
// `BossBullet72(boss, ...)` fires from the boss; `ShotOrigin::Offset` names
// a point beside it.
struct ShotOrigin {
  double x;
  double y;
  ShotOrigin(const GameObject& boss) : x(boss.x), y(boss.y) {}  // NOLINT: implicit on purpose
  ShotOrigin(double at_x, double at_y) : x(at_x), y(at_y) {}
  static ShotOrigin Offset(const GameObject& boss, double dx, double dy) {
    return ShotOrigin(boss.x + dx, boss.y + dy);
  }
};

void BossBullet72(const ShotOrigin& from, uint32_t size_class, uint32_t colour, double angle,
                  double speed);
void BossBullet73(const ShotOrigin& from, uint32_t size_class, uint32_t colour, double angle,
                  double speed, double first_accel, double first_limit, double second_accel,
                  double second_limit);
void BossBullet74(const ShotOrigin& from, uint32_t size_class, uint32_t first_frames,
                  uint32_t colour, double angle, double speed, double first_accel,
                  double new_angle, double second_accel, double second_limit);
void BossBullet75(const ShotOrigin& from, double angle, double speed, double speed_step,
                  double turn_rate, double target_speed);

// A boss burst (appearance 1-7, size 1-2) at the boss.
void BossBurstAt(const GameObject& boss, uint32_t appearance, uint32_t size);

// The sound of a volley (slot 19) and of a sub-unit launch (slot 15).
void VolleySound();
void LaunchSound();

enum class SubUnitKind { kA, kB, kC };
// A sub-unit of the boss, from the enemy-group pool, at the boss.
void LaunchSubUnit(const GameObject& boss, SubUnitKind kind, uint32_t colour, double angle,
                   double entry_speed, double cruise_speed);
