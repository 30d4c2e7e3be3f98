// game/objects/player_shots.cpp - player shots, bombs, the bullet clearer
// and the bomb cut-in. Every hit works on the enemy pool directly: it lowers
// the enemy's life and sets its killed byte; the enemy's own update turns
// that into its death.
#include "game/objects/player_shots.h"

#include <cmath>

#include "game/frame/game_error.h"
#include "game/objects/dispatch.h"
#include "game/objects/effects.h"
#include "game/objects/resources.h"

namespace {

double Rad(double degrees) { return degrees * kGamePi / 180.0; }

void Common(GameObject& r, uint32_t kind, double x, double y) {
  r.in_use = 1;
  r.free = 0;
  r.kind = kind;
  r.killed = 0;
  r.parent_index = 0;
  r.own_index = g_find_free_index;
  r.state = r.state_timer = r.sub_state = r.sub_state_timer = 0;
  r.draw_layer = -1;
  r.can_hit = 1;
  r.can_be_hit = 0;
  r.life = 0.0;
  r.body_radius = 0.0;
  r.x = x;
  r.y = y;
  r.anim_counter = 0;
}

void Look(GameObject& r, uint8_t generic_draw, uint32_t graphic, uint32_t blend_mode,
          double blend_value, double scale) {
  r.visible = 1;
  r.generic_draw = generic_draw;
  r.graphic_id = graphic;
  r.blend_mode = blend_mode;
  r.blend_value = blend_value;
  r.transparency = 1;
  r.scale = scale;
  r.angle = 0.0;
  r.extra_angle = 0.0;
  r.spin_step = 0.0;
}

void Explosion(uint32_t size_variant, double x, double y) {
  if (GameObject* fx = TakeFreeEffect()) CreateExplosion(*fx, size_variant, 0, x, y);
}

// Damage to one enemy; the explosion stands at (x, y).
void Damage(GameObject& enemy, double amount, uint32_t size_variant, double x, double y) {
  enemy.life -= amount;
  if (enemy.life <= 0.0) enemy.killed = 1;
  Explosion(size_variant, x, y);
  g_sounds[26].request = 1;
}

bool Hittable(const GameObject& e) { return e.in_use != 0 && e.can_be_hit != 0; }
bool Touches(const GameObject& r, const GameObject& other) {
  return HitCircle(r.x, r.y, r.own_radius, other.x, other.y, other.body_radius);
}

bool OutsideShotBounds(const GameObject& r) {
  return r.x > 452.0 || r.x < -32.0 || r.y > 512.0 || r.y < -32.0;
}

// Cancels the bullets touching `r` (or every bullet when `everywhere`).
void ClearBullets(const GameObject& r, bool everywhere) {
  for (GameObject& b : g_enemy_bullets) {
    if (b.in_use == 1 && b.can_be_hit == 1 && (everywhere || Touches(r, b))) b.killed = 1;
  }
}

}  // namespace

void CreatePlayerShot(GameObject& r, double x, double y, double angle, uint32_t sub_type) {
  Common(r, kKindPlayerShot, x, y);
  r.sub_type = sub_type;
  r.own_radius = 12.0;
  r.parts[0].velocity_x = 15.0 * std::cos(Rad(angle));
  r.parts[0].velocity_y = 15.0 * std::sin(Rad(angle));
  Look(r, 1, 129, 2, 128.0, sub_type == 1 ? 2.5 : 1.2);
  r.angle = angle;
}

void UpdatePlayerShot(GameObject& r) {
  for (GameObject& e : g_enemies) {
    if (!Hittable(e) || !(e.life > 0.0) || !Touches(r, e)) continue;
    Damage(e, r.sub_type == 1 ? 10.0 : 5.0, 1, r.x, r.y);
    RemoveObject(r);
    return;
  }
  r.x += r.parts[0].velocity_x;
  r.y += r.parts[0].velocity_y;
  if (OutsideShotBounds(r)) RemoveObject(r);
}

void CreatePartnerShot(GameObject& r, double x, double y, double angle) {
  Common(r, kKindPartnerShot, x, y);
  r.own_radius = 12.0;
  r.parts[0].velocity_x = 10.0 * std::cos(Rad(angle));
  r.parts[0].velocity_y = 10.0 * std::sin(Rad(angle));
  r.kind_counters[kAge] = 0;
  Look(r, 1, 145, 2, 128.0, 1.0);
  r.angle = angle;
  r.kind_values[kHeading] = 270.0;
  r.kind_values[kTargetHeading] = 270.0;
}

void UpdatePartnerShot(GameObject& r) {
  for (GameObject& e : g_enemies) {
    if (!Hittable(e) || !(e.life > 0.0)) continue;
    if (Touches(r, e)) {
      Damage(e, 3.5, 1, r.x, r.y);
      RemoveObject(r);
      return;
    }
    r.kind_values[kTargetHeading] = AngleTo(r.x, r.y, e.x, e.y);
  }
  double& heading = r.kind_values[kHeading];
  if (r.kind_counters[kAge] < 10) {
    r.x += r.parts[0].velocity_x;
    r.y += r.parts[0].velocity_y;
  } else {
    heading += r.kind_values[kTargetHeading] >= heading ? 2.5 : -2.5;
    r.x += 10.0 * std::cos(Rad(heading));
    r.y += 10.0 * std::sin(Rad(heading));
  }
  ++r.kind_counters[kAge];
  if (OutsideShotBounds(r)) RemoveObject(r);
}

void CreateBomb(GameObject& r, double x, double y) {
  Common(r, kKindBomb, x, y);
  r.kind_values[kBombRiseSpeed] = 1.5;
  r.own_radius = 12.0;
  Look(r, 0, 132, 1, 130.0, 1.0);
  r.kind_values[kBombSatelliteScale] = 0.5;
  r.kind_values[kBombSecondAngle] = 0.0;
  r.kind_values[kBombRingRadius] = 30.0;
  r.kind_counters[kAge] = r.kind_counters[kBombDamageCounter] = 0;
  r.kind_counters[kBombClearCounter] = 0;
}

void UpdateBomb(GameObject& r) {
  const uint32_t n = r.kind_counters[kAge];
  r.kind_values[kBombRiseSpeed] -= 1.0 / 120.0;
  r.y -= r.kind_values[kBombRiseSpeed];
  r.own_radius += 3.0;
  if (n < 40) {
    r.blend_value += 0.5;
  } else {
    r.blend_value -= 1.0;
    if (n >= 120 && r.blend_value < 0.0) r.blend_value = 0.0;
  }
  r.scale += n < 60 ? 0.03 : 0.01;
  r.kind_values[kBombSecondAngle] += 3.0;
  r.kind_values[kBombRingRadius] += n < 60 ? 2.0 : 0.5;
  r.kind_values[kBombSatelliteScale] += n < 50 ? 0.02 : 0.01;
  r.extra_angle += 5.0;
  // Every hittable enemy, wherever it is and whatever its life.
  if (r.kind_counters[kBombDamageCounter] % 20 == 10) {
    for (GameObject& e : g_enemies) {
      if (Hittable(e)) Damage(e, 5.0, 1, e.x, e.y);
    }
  }
  ++r.kind_counters[kBombDamageCounter];
  uint32_t& clear = r.kind_counters[kBombClearCounter];
  if (clear < 130 && clear % 10 == 1) ClearBullets(r, false);
  ++clear;
  if (++r.kind_counters[kAge] >= 180) RemoveObject(r);
}

void CreateFocusBomb(GameObject& r, double x, double y) {
  Common(r, kKindFocusBomb, x, y);
  r.own_radius = 12.0;
  r.parts[0].velocity_x = 1.2 * std::cos(Rad(270.0));
  r.parts[0].velocity_y = 1.2 * std::sin(Rad(270.0));
  Look(r, 0, 132, 1, 128.0, 1.0);
  r.blend_step = 0.0;
  r.value = 2.0;  // core factor
  r.spin_step = 2.0;
  r.kind_values[kBombRingRadius] = 5.0;
  r.kind_values[kBombRingStep] = 0.0;
  r.scale_step = 0.0;
}

void UpdateFocusBomb(GameObject& r) {
  if (r.sub_state_timer % 20 == 10) {
    for (GameObject& e : g_enemies) {
      if (Hittable(e) && e.life > 0.0) Damage(e, 5.0, 1, e.x, e.y);
    }
    ClearBullets(r, true);
  }
  ++r.sub_state_timer;
  const uint32_t t = r.state_timer;
  r.blend_step = t > 330 ? -2.0 : (t > 300 ? -0.3 : -0.1);
  r.kind_values[kBombRingStep] = t > 30 ? 1.0 : 3.0;
  r.scale_step = t > 60 ? 0.01 : 0.03;
  r.kind_values[kBombRingRadius] += r.kind_values[kBombRingStep];
  r.extra_angle += r.spin_step;
  r.scale += r.scale_step;
  r.blend_value += r.blend_step;
  if (r.blend_value < 0.0) r.blend_value = 0.0;
  ++r.state_timer;
  r.x += r.parts[0].velocity_x;
  r.y += r.parts[0].velocity_y;
  if (r.state_timer < 320) {
    if (r.state_timer % 5 == 0) {
      const double x = RandRange(420.0, 0.0);
      const double y = RandRange(480.0, 0.0);
      if (GameObject* fx = TakeFreeEffect()) CreateExplosion(*fx, 4, 0, x, y);
    }
    if (r.state_timer % 10 == 0) {
      const double x = RandRange(420.0, 0.0);
      const double y = RandRange(480.0, 0.0);
      if (GameObject* fx = TakeFreeEffect()) CreateBurst(*fx, 1, 2, x, y);
    }
  }
  if (r.state_timer >= 360) RemoveObject(r);
}

void CreateBulletClearer(GameObject& r, uint32_t variant, double x, double y) {
  Common(r, kKindBulletClearer, x, y);
  r.variant = variant;
  r.kind_values[kClearerReach] = 50.0;
  r.kind_values[kClearerReachGrowth] = 20.0;
  if (variant == 2) {
    Look(r, 0, 465, 1, 96.0, 1.0);
  } else if (variant == 3 || variant == 4) {
    SetObjectGraphic(r, 0, variant == 3 ? 466 : 467, 1, 96.0);
  } else {
    RaiseGameError("MT_DEL_ET_n");
  }
  r.kind_values[kClearerBaseScale] = 1.0;
  r.kind_values[kClearerScaleAdd] = 0.0;
  r.scale_step = 0.17;
  r.spin_step = 2.0;
  r.extra_angle = 0.0;
  r.angle = 0.0;
  r.blend_step = -2.0;
}

void UpdateBulletClearer(GameObject& r) {
  double& add = r.kind_values[kClearerScaleAdd];
  switch (r.state) {
    case 0:
      add += r.scale_step;
      r.scale = r.kind_values[kClearerBaseScale] + add;
      r.extra_angle += r.spin_step;
      PhaseAfter(r.state, r.state_timer, 20);
      break;
    case 1:
      add += r.scale_step / 3.0;
      r.scale = r.kind_values[kClearerBaseScale] + add;
      r.extra_angle += r.spin_step;
      r.blend_value += r.blend_step;
      ++r.state_timer;
      if (r.blend_value <= 0.0) {
        r.blend_value = 0.0;
        r.state = 99;
        r.state_timer = 0;
      }
      break;
    case 99:
      RemoveObject(r);
      break;
    default: break;
  }
  r.kind_values[kClearerReach] += r.kind_values[kClearerReachGrowth];
  r.own_radius = r.kind_values[kClearerReach];
  if (r.state_timer % 10 == 1) ClearBullets(r, false);
}

void UpdatePlayerBlast(GameObject& r) {
  static constexpr uint32_t kStateFrames[3] = {10, 30, 20};
  const uint32_t s = r.state < 3 ? r.state : 2;
  MotionPart& offset = r.parts[0];
  offset.move.y += r.parts[s].velocity_y;  // this state's offset step
  r.extra_angle += r.spin_step;
  if (s >= 1) r.blend_value += r.blend_step;
  r.kind_values[kBlastRingStep] = r.kind_values[kBlastRingSteps + s];
  const uint32_t t = r.sub_state_timer;
  if (t == 1 || t == 5 || t == 10 || t == 20) {
    for (GameObject& e : g_enemies) {
      if (Hittable(e) && Touches(r, e)) Damage(e, 5.0, 2, e.x, e.y);
    }
  }
  if (t % 7 == 1 && t < 25) {
    r.can_hit = 1;
    r.own_radius += 16.0;
  } else {
    r.can_hit = 0;
  }
  r.x = g_player.x + offset.move.x;
  r.y = g_player.y + offset.move.y;
  ++r.sub_state_timer;
  r.kind_values[kBlastRingRadius] += r.kind_values[kBlastRingStep];
  if (++r.state_timer >= kStateFrames[s]) {
    r.state_timer = 0;
    ++r.state;
    if (r.state >= 3) RemoveObject(r);
  }
}

void CreateBombCutIn(GameObject& r, uint32_t variant) {
  Common(r, kKindBombCutIn, 50.0, 280.0);
  r.sub_type = 1;
  r.level = variant;
  Look(r, 1, 136, 1, 128.0, 1.0);
  r.draw_layer = 1;
}

void UpdateBombCutIn(GameObject& r) {
  const bool strong = r.level == 2;
  switch (r.state) {
    case 0:
      r.x += strong ? 2.0 : 1.5;
      r.scale += strong ? 0.02 : 0.01;
      PhaseAfter(r.state, r.state_timer, 30);
      break;
    case 1:
      r.x += 0.3;
      PhaseAfter(r.state, r.state_timer, strong ? 60 : 30);
      break;
    case 2:
      if (strong) {
        r.x += 3.0;
        r.scale += 0.02;
        r.blend_value -= 2.0;
      } else {
        r.scale += 0.005;
        r.blend_value -= 5.0;
      }
      if (r.blend_value < 0.0) r.blend_value = 0.0;
      PhaseAfter(r.state, r.state_timer, 60);
      break;
    default:
      RemoveObject(r);
      break;
  }
}
