// game/objects/enemies.cpp - creation of the small and medium enemies.
#include "game/objects/enemies.h"

#include <cmath>

#include "game/frame/game_error.h"
#include "game/frame/game_state.h"
#include "game/objects/dispatch.h"
#include "game/objects/effects.h"
#include "game/objects/enemy_fire.h"
#include "game/objects/items.h"
#include "game/objects/resources.h"

namespace {

// Fields every enemy kind starts from; `graphics` holds the graphic row of
// variants 1 to 4.
bool CommonEnemy(GameObject& r, uint32_t kind, double life, uint32_t variant,
                 const uint32_t (&graphics)[4], const char* bad_variant, double x, double y) {
  r.in_use = 1;
  r.free = 0;
  r.kind = kind;
  r.own_index = g_find_free_index;
  r.killed = 0;
  r.parent_index = 0;
  r.state = r.state_timer = r.sub_state = r.sub_state_timer = 0;
  r.own_radius = 0.0;
  r.body_radius = 24.0;
  r.draw_layer = -1;
  r.can_hit = 0;
  r.can_be_hit = 1;
  r.life = life;
  r.x = x;
  r.y = y;
  r.variant = variant;
  r.anim_counter = 0;
  r.attack.counters[kFramesSinceSpawn] = 0;
  if (variant < 1 || variant > 4) {
    RaiseGameError(bad_variant);
    return false;
  }
  SetObjectGraphic(r, 1, graphics[variant - 1], 0, 255.0);
  return true;
}

constexpr uint32_t kSmallGraphics[4] = {69, 73, 77, 81};

void CommonMidZako(GameObject& r, uint32_t kind, uint32_t graphic, uint32_t pattern,
                   uint32_t variant, uint32_t level, uint32_t brake_frames, double x, double y,
                   double angle, double speed, double acceleration) {
  const uint32_t graphics[4] = {graphic, graphic, graphic, graphic};
  CommonEnemy(r, kind, 200.0, variant, graphics, "EN_TA_n1", x, y);
  r.sub_type = 0;
  r.level = level;
  r.kind_counters[kEnemyRunFrames] = 50;
  r.kind_counters[kEnemyTurnFrames] = brake_frames;
  r.base.angle = angle;
  r.base.speed = speed;
  r.kind_values[kEnemyAcceleration] = acceleration;
  r.fire_pattern = pattern;
}

}  // namespace

void CreateZakoA(GameObject& r, uint32_t variant, uint32_t sub_type, uint32_t level, double x,
                 double y, double sway_phase, double sway_step, double sway_amplitude) {
  CommonEnemy(r, kKindZakoA, 10.0, variant, kSmallGraphics, "EN_ZA_n", x, y);
  r.sub_type = sub_type;
  r.level = level;
  r.base.x = x;
  r.base.y = y;
  MotionPart& wobble = r.parts[kZakoWobble];
  wobble.move.x = wobble.move.y = 0.0;
  wobble.phase_a = 0.0;
  wobble.phase_step_a = 1.9;
  wobble.phase_b = 0.0;
  wobble.phase_step_b = 3.1;
  wobble.amplitude_a = 5.0;
  wobble.amplitude_b = 5.0;
  MotionPart& sway = r.parts[kZakoSway];
  sway.move.x = sway.move.y = 0.0;
  sway.phase_a = sway_phase;
  sway.phase_step_a = sway_step;
  sway.amplitude_a = sway_amplitude;
  sway.velocity_y = kZakoDescent;
  r.fire_pattern = sub_type == 1 ? 2 : 1;
}

void CreateZakoB(GameObject& r, uint32_t variant, uint32_t sub_type, uint32_t straight_frames,
                 uint32_t turn_frames, double x, double y, double angle, double speed,
                 double turn_rate) {
  CommonEnemy(r, kKindZakoB, 15.0, variant, kSmallGraphics, "EN_ZB_n", x, y);
  r.sub_type = sub_type;
  r.kind_counters[kEnemyRunFrames] = straight_frames;
  r.kind_counters[kEnemyTurnFrames] = turn_frames;
  r.base.angle = angle;
  r.base.speed = speed;
  r.kind_values[kEnemyTurnRate] = turn_rate;
  r.fire_pattern = 2;
  r.level = sub_type == 1 ? 2 : 1;
}

void CreateZakoC(GameObject& r, uint32_t variant, uint32_t sub_type, uint32_t level,
                 uint32_t run_frames, uint32_t brake_frames, double x, double y, double angle,
                 double speed, double acceleration) {
  CommonEnemy(r, kKindZakoC, 30.0, variant, kSmallGraphics, "EN_ZC_n", x, y);
  r.sub_type = sub_type;
  r.kind_counters[kEnemyRunFrames] = run_frames;
  r.kind_counters[kEnemyTurnFrames] = brake_frames;
  r.base.angle = angle;
  r.base.speed = speed;
  r.kind_values[kEnemyAcceleration] = acceleration;
  r.fire_pattern = 3;
  // The sub-type overrides the level argument.
  r.level = level;
  if (sub_type == 0) r.level = 1;
  if (sub_type == 1) r.level = 2;
}

void CreateMidZakoA(GameObject& r, uint32_t variant, uint32_t level, uint32_t brake_frames,
                    double x, double y, double angle, double speed, double acceleration) {
  CommonMidZako(r, kKindMidZakoA, 107, 11, variant, level, brake_frames, x, y, angle, speed,
                acceleration);
}

void CreateMidZakoB(GameObject& r, uint32_t variant, uint32_t level, uint32_t brake_frames,
                    double x, double y, double angle, double speed, double acceleration) {
  CommonMidZako(r, kKindMidZakoB, 101, 12, variant, level, brake_frames, x, y, angle, speed,
                acceleration);
}

void CreateMidZakoC(GameObject& r, uint32_t variant, uint32_t level, uint32_t brake_frames,
                    double x, double y, double angle, double speed, double acceleration) {
  CommonMidZako(r, kKindMidZakoC, 103, 13, variant, level, brake_frames, x, y, angle, speed,
                acceleration);
}

namespace {

double Rad(double degrees) { return degrees * kGamePi / 180.0; }

bool IsMedium(const GameObject& r) { return r.kind >= kKindMidZakoA && r.kind <= kKindMidZakoD; }

// The death of a destroyed enemy and its fade; true while dying (the
// enemy then neither moves nor fires).
bool DeathStep(GameObject& r) {
  if (r.killed == 1) {
    r.blend_value = 128.0;
    r.killed = 0;
    r.can_be_hit = 0;
    r.state = kDyingState;
    r.blend_mode = 3;
    if (GameObject* fx = TakeFreeEffect()) CreateExplosion(*fx, 3, 0, r.x, r.y);
    if (GameObject* fx = TakeFreeEffect()) CreateBurst(*fx, 1, IsMedium(r) ? 2 : 1, r.x, r.y);
    if (IsMedium(r)) {
      static constexpr double kFixed[4] = {320.0, 295.0, 220.0, 245.0};
      for (double angle : kFixed) {
        const uint32_t index = FindFreeItem();
        if (index != kPoolFull) CreateItem(g_items[index], 2, r.x, r.y, angle);
      }
      for (int i = 0; i < 2; ++i) {
        const double spread = RandSigned(20.0);
        const uint32_t index = FindFreeItem();
        if (index != kPoolFull) CreateItem(g_items[index], 2, r.x, r.y, 270.0 + spread);
      }
    } else {
      DropItemsRandom(r);
    }
    ++g_game.score;
    g_sounds[23].request = 1;
  }
  if (r.state != kDyingState) return false;
  r.blend_value -= 3.0;
  if (r.blend_value < 0.0) RemoveObject(r);
  return true;
}

void MoveAlong(GameObject& r) {
  r.x += std::cos(Rad(r.base.angle)) * r.base.speed;
  r.y += std::sin(Rad(r.base.angle)) * r.base.speed;
}

}  // namespace

void UpdateZakoA(GameObject& r) {
  const bool dying = DeathStep(r);
  if (r.in_use == 0) return;
  MotionPart& wobble = r.parts[kZakoWobble];
  MotionPart& sway = r.parts[kZakoSway];
  if (!dying && r.state == 0) {
    wobble.phase_a += wobble.phase_step_a;
    wobble.phase_b += wobble.phase_step_b;
    wobble.move.x = wobble.amplitude_a * std::cos(Rad(wobble.phase_a));
    wobble.move.y = wobble.amplitude_b * std::sin(Rad(wobble.phase_b));
    sway.phase_a += sway.phase_step_a;
    sway.move.x = sway.amplitude_a * std::cos(Rad(sway.phase_a));
    sway.move.y += sway.velocity_y;
    if (r.state_timer > 30 && r.y > 500.0) {
      RemoveObject(r);
      return;
    }
    ++r.state_timer;
  }
  // Fired from last frame's position: the new one is set below.
  if (!dying) EnemyFire(r);
  r.x = wobble.move.x + r.base.x + sway.move.x;
  r.y = wobble.move.y + r.base.y + sway.move.y;
}

void UpdateZakoB(GameObject& r) {
  if (DeathStep(r)) return;
  bool left = false;
  uint32_t& timer = r.state_timer;
  switch (r.state) {
    case 0:
      MoveAlong(r);
      if (++timer >= r.kind_counters[kEnemyRunFrames]) {
        timer = 0;
        r.state = 1;
      }
      break;
    case 1:
      r.base.angle += r.kind_values[kEnemyTurnRate];
      MoveAlong(r);
      left = IsOutsidePlayfield(r, -32.0);
      if (++timer >= r.kind_counters[kEnemyTurnFrames]) {
        timer = 0;
        r.state = 2;
      }
      break;
    case 2:
      MoveAlong(r);
      left = IsOutsidePlayfield(r, -32.0);
      ++timer;
      break;
    default: break;
  }
  EnemyFire(r);
  if (left) RemoveObject(r);
}

// Kinds 24 and 30-32: run in, brake to a standstill, turn back, leave upward.
static void UpdateRunBrakeLeave(GameObject& r) {
  if (DeathStep(r)) return;
  bool left = false;
  uint32_t& timer = r.state_timer;
  double& speed = r.base.speed;
  switch (r.state) {
    case 0:
      MoveAlong(r);
      if (++timer >= r.kind_counters[kEnemyRunFrames]) {
        timer = 0;
        r.state = 1;
      }
      break;
    case 1:
      speed += r.kind_values[kEnemyAcceleration];
      if (!(speed > 0.0)) speed = 0.0;
      MoveAlong(r);
      if (++timer >= r.kind_counters[kEnemyTurnFrames]) {
        timer = 0;
        r.state = 2;
      }
      break;
    case 2:
      speed = 0.0;
      r.kind_values[kEnemyAcceleration] = 0.03;
      r.base.angle = 270.0;
      timer = 0;
      r.state = 3;
      break;
    case 3:
      speed += r.kind_values[kEnemyAcceleration];
      if (speed > 2.0) speed = 2.0;
      MoveAlong(r);
      left = IsOutsidePlayfield(r, -32.0);
      ++timer;
      break;
    default: break;
  }
  EnemyFire(r);
  if (left) RemoveObject(r);
}

void UpdateZakoC(GameObject& r) { UpdateRunBrakeLeave(r); }
void UpdateMidZako(GameObject& r) { UpdateRunBrakeLeave(r); }
