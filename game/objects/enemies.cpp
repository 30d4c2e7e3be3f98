// game/objects/enemies.cpp - creation of the small and medium enemies.
#include "game/objects/enemies.h"

#include "game/frame/game_error.h"
#include "game/objects/dispatch.h"

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
