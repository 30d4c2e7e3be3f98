// game/bosses/sub_units.cpp - boss sub-units (kinds 52, 53 and 54).
#include "game/bosses/sub_units.h"

#include <cmath>

#include "game/frame/game_error.h"
#include "game/objects/dispatch.h"
#include "game/objects/enemy_bullets.h"
#include "game/objects/resources.h"

namespace {

constexpr uint32_t kCruiseFrames = 300;

double Rad(double degrees) { return degrees * kGamePi / 180.0; }

void CreateSubUnit(GameObject& r, uint32_t kind, uint32_t parent_index, uint32_t colour,
                   double x, double y, double angle, double entry_speed, double cruise_speed) {
  r.free = 0;
  r.in_use = 1;
  r.kind = kind;
  r.own_index = g_find_free_index;
  r.parent_index = parent_index;
  r.sub_type = 0;
  r.killed = 0;
  r.state = r.state_timer = r.sub_state = r.sub_state_timer = 0;
  r.visible = 0;
  r.draw_layer = -1;
  r.anim_counter = 0;
  r.x = x;
  r.y = y;
  const double c = std::cos(Rad(angle));
  const double s = std::sin(Rad(angle));
  r.parts[kSubUnitEntryPart].velocity_x = c * entry_speed;
  r.parts[kSubUnitEntryPart].velocity_y = s * entry_speed;
  r.parts[kSubUnitCruisePart].velocity_x = c * cruise_speed;
  r.parts[kSubUnitCruisePart].velocity_y = s * cruise_speed;
  r.kind_counters[kSubUnitCruiseFrames] = kCruiseFrames;
  InitSubUnit(r, colour);
}

// The parent's phase-end byte; an index outside the enemy pool has no boss
// to follow (such a unit simply runs its course).
bool ParentPhaseEnded(const GameObject& r) {
  return r.parent_index < kEnemyPoolSize && g_enemies[r.parent_index].phase_ended == 1;
}

void Bullet(const GameObject& r, double angle, double speed) {
  const uint32_t index = FindFreeEnemyBullet();
  if (index == kPoolFull) return;
  CreateEnemyBullet72(g_enemy_bullets[index], 1, r.variant, r.x, r.y, angle, speed);
  g_sounds[19].request = 1;
}

// The kind's shots in the cruise state; `t` is the state timer before this
// frame's count.
void Fire(GameObject& r, uint32_t t) {
  switch (r.kind) {
    case kKindSubUnitA:
      if (t % 20 == 10) {
        const double aim = AngleTo(r.x, r.y, g_player.x, g_player.y);
        for (int i = 0; i < 35; ++i) Bullet(r, aim + i * 360.0 / 35.0, 3.0);
      }
      break;
    case kKindSubUnitB:
      if (t % 10 == 0) {
        const double aim = AngleTo(r.x, r.y, g_player.x, g_player.y);
        Bullet(r, aim + RandSigned(20.0), 2.0);
      }
      break;
    case kKindSubUnitC: {
      double& aim_x = r.attack.values[kSubUnitAimX];
      const double aim_y = r.attack.values[kSubUnitAimY];
      if (t % 20 == 5) Bullet(r, AngleTo(r.x, r.y, aim_x, aim_y), 2.0);
      aim_x += 3.0;
      break;
    }
    default:
      break;
  }
}

void UpdateSubUnit(GameObject& r) {
  if (ParentPhaseEnded(r)) r.state = kSubUnitFade;
  switch (r.state) {
    case kSubUnitAppear: {
      r.scale += r.scale_step;
      if (r.scale < 1.0) r.scale = 1.0;
      r.blend_value += 4.0;
      if (r.blend_value > 255.0) r.blend_value = 255.0;
      r.x += r.parts[kSubUnitEntryPart].velocity_x;
      r.y += r.parts[kSubUnitEntryPart].velocity_y;
      ++r.state_timer;
      if (r.scale == 1.0 && r.blend_value == 255.0) {
        r.state = kSubUnitCruise;
        r.state_timer = 0;
        if (r.kind == kKindSubUnitC) {
          r.attack.values[kSubUnitAimX] = 30.0;
          r.attack.values[kSubUnitAimY] = 470.0;
        }
      }
      break;
    }
    case kSubUnitCruise: {
      r.x += r.parts[kSubUnitCruisePart].velocity_x;
      r.y += r.parts[kSubUnitCruisePart].velocity_y;
      Fire(r, r.state_timer);
      const bool outside = IsOutsidePlayfield(r, -64.0);
      ++r.state_timer;
      if (r.state_timer >= r.kind_counters[kSubUnitCruiseFrames]) {
        r.state = kSubUnitFade;
        r.state_timer = 0;
      }
      if (outside) RemoveObject(r);
      break;
    }
    case kSubUnitFade:
      r.blend_value -= 10.0;
      if (r.blend_value <= 0.0) {
        r.blend_value = 0.0;
        RemoveObject(r);
      }
      break;
    default:
      break;
  }
}

}  // namespace

void InitSubUnit(GameObject& r, uint32_t colour) {
  if (colour < 1 || colour > 8) {
    // No orb of an unknown colour: nothing is left half-made to fire with it.
    RaiseGameError("EG_NX_common_n1");
    RemoveObject(r);
    return;
  }
  r.level = 1;
  r.variant = colour;
  SetObjectGraphic(r, 1, 440 + (colour - 1), 2, 15.0);
  r.scale = 3.0;
  r.scale_step = -1.0 / 30.0;
  r.blend_step = 4.0;
}

void CreateSubUnitA(GameObject& r, uint32_t parent_index, uint32_t colour, double x, double y,
                    double angle, double entry_speed, double cruise_speed) {
  CreateSubUnit(r, kKindSubUnitA, parent_index, colour, x, y, angle, entry_speed, cruise_speed);
}

void CreateSubUnitB(GameObject& r, uint32_t parent_index, uint32_t colour, double x, double y,
                    double angle, double entry_speed, double cruise_speed) {
  CreateSubUnit(r, kKindSubUnitB, parent_index, colour, x, y, angle, entry_speed, cruise_speed);
}

void CreateSubUnitC(GameObject& r, uint32_t parent_index, uint32_t colour, double x, double y,
                    double angle, double entry_speed, double cruise_speed) {
  CreateSubUnit(r, kKindSubUnitC, parent_index, colour, x, y, angle, entry_speed, cruise_speed);
  if (r.in_use != 0) ClearValueList(r.attack);
}

void UpdateSubUnitA(GameObject& r) { UpdateSubUnit(r); }
void UpdateSubUnitB(GameObject& r) { UpdateSubUnit(r); }
void UpdateSubUnitC(GameObject& r) { UpdateSubUnit(r); }
