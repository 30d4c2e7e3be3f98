// game/bosses/boss_fire.cpp - boss shots from their origin, bursts and
// sub-unit launches.
#include "game/bosses/boss_fire.h"

#include "game/bosses/sub_units.h"
#include "game/objects/effects.h"
#include "game/objects/enemy_bullets.h"
#include "game/objects/resources.h"

namespace {

GameObject* TakeBullet() {
  const uint32_t index = FindFreeEnemyBullet();
  return index == kPoolFull ? nullptr : &g_enemy_bullets[index];
}

}  // namespace

void BossBullet72(const ShotOrigin& from, uint32_t size_class, uint32_t colour, double angle,
                  double speed) {
  if (GameObject* b = TakeBullet()) {
    CreateEnemyBullet72(*b, size_class, colour, from.x, from.y, angle, speed);
  }
}

void BossBullet73(const ShotOrigin& from, uint32_t size_class, uint32_t colour, double angle,
                  double speed, double first_accel, double first_limit, double second_accel,
                  double second_limit) {
  if (GameObject* b = TakeBullet()) {
    CreateEnemyBullet73(*b, size_class, colour, from.x, from.y, angle, speed, first_accel,
                        first_limit, second_accel, second_limit);
  }
}

void BossBullet74(const ShotOrigin& from, uint32_t size_class, uint32_t first_frames,
                  uint32_t colour, double angle, double speed, double first_accel,
                  double new_angle, double second_accel, double second_limit) {
  if (GameObject* b = TakeBullet()) {
    CreateEnemyBullet74(*b, size_class, first_frames, colour, from.x, from.y, angle, speed,
                        first_accel, new_angle, second_accel, second_limit);
  }
}

void BossBullet75(const ShotOrigin& from, double angle, double speed, double speed_step,
                  double turn_rate, double target_speed) {
  if (GameObject* b = TakeBullet()) {
    CreateEnemyBullet75(*b, from.x, from.y, angle, speed, speed_step, turn_rate, target_speed);
  }
}

void BossBurstAt(const GameObject& boss, uint32_t appearance, uint32_t size) {
  if (GameObject* e = TakeFreeEffect()) CreateBossBurst(*e, appearance, size, boss.x, boss.y);
}

void VolleySound() { g_sounds[19].request = 1; }
void LaunchSound() { g_sounds[15].request = 1; }

void LaunchSubUnit(const GameObject& boss, SubUnitKind kind, uint32_t colour, double angle,
                   double entry_speed, double cruise_speed) {
  const uint32_t index = FindFreeEnemyGroup();
  if (index == kPoolFull) return;
  GameObject& r = g_enemy_groups[index];
  switch (kind) {
    case SubUnitKind::kA:
      CreateSubUnitA(r, boss.own_index, colour, boss.x, boss.y, angle, entry_speed, cruise_speed);
      break;
    case SubUnitKind::kB:
      CreateSubUnitB(r, boss.own_index, colour, boss.x, boss.y, angle, entry_speed, cruise_speed);
      break;
    case SubUnitKind::kC:
      CreateSubUnitC(r, boss.own_index, colour, boss.x, boss.y, angle, entry_speed, cruise_speed);
      break;
  }
}
