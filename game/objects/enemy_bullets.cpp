// game/objects/enemy_bullets.cpp - enemy bullets: creation, motion, graze
// and cancel.
#include "game/objects/enemy_bullets.h"

#include <cmath>

#include "game/frame/game_error.h"
#include "game/frame/game_state.h"
#include "game/objects/dispatch.h"
#include "game/objects/items.h"
#include "game/objects/resources.h"

namespace {

void Sound(int slot) { g_sounds[slot].request = 1; }

double Rad(double degrees) { return degrees * kGamePi / 180.0; }

struct SizeRow {
  double own_radius;
  double body_radius;
  uint32_t graphic_base;  // + 8 x colour
  const char* bad_colour;
};
// Class 4 is given a row of its own like the others, so that a bullet of
// that class hits and grazes like a large bullet instead of stopping the
// game.
const SizeRow kSizes[4] = {
    {3.0, 10.0, 172, "ET_NX_common_n1"},
    {5.0, 10.0, 176, "ET_NX_common_n2"},
    {10.0, 20.0, 236, "ET_NX_common_n3"},
    {12.0, 20.0, 240, "ET_NX_common_n4"},
};

void ResetBullet(GameObject& r, uint32_t kind, double x, double y) {
  r.free = 0;
  r.in_use = 1;
  r.kind = kind;
  r.own_index = g_find_free_index;
  r.sub_type = 0;
  r.killed = 0;
  r.parent_index = 0;
  r.state = r.state_timer = r.sub_state = r.sub_state_timer = 0;
  r.visible = 0;
  r.draw_layer = -1;
  r.anim_counter = 0;
  r.x = x;
  r.y = y;
}

void SetVelocity(GameObject& r, double angle, double speed) {
  r.parts[0].velocity_x = std::cos(Rad(angle)) * speed;
  r.parts[0].velocity_y = std::sin(Rad(angle)) * speed;
}

void GrowIn(GameObject& r) {
  r.scale = 2.0;
  r.scale_step = -0.07;
  r.blend_value = 128.0;
  r.blend_step = 9.0;
}

// The scale and blend ramps of the first phase.
void RampIn(GameObject& r) {
  r.scale += r.scale_step;
  if (r.scale < 1.0) r.scale = 1.0;
  r.blend_value += r.blend_step;
  if (r.blend_value > 255.0) r.blend_value = 255.0;
}

void MoveAlong(GameObject& r) {
  r.x += std::cos(Rad(r.base.angle)) * r.base.speed;
  r.y += std::sin(Rad(r.base.angle)) * r.base.speed;
}

bool Outside(const GameObject& r) { return IsOutsidePlayfield(r, -32.0); }

// The frame's cancel and fade; true when the kind's motion is to run.
bool CancelStep(GameObject& r) {
  if (r.killed == 1) {
    r.blend_value = 128.0;
    r.killed = 0;
    r.can_hit = 0;
    r.can_be_hit = 0;
    r.state = kBulletCancelled;
    r.blend_mode = 3;
  }
  if (r.state == kBulletCancelled) {
    r.blend_mode = 3;
    r.blend_value = 120.0;
    r.state = kBulletFading;
    r.state_timer = 0;
    return false;
  }
  if (r.state == kBulletFading) {
    r.blend_value -= 3.0;
    if (r.blend_value < 2.0) RemoveObject(r);
    return false;
  }
  return true;
}

// Graze and hit, then the field removal.
void Finish(GameObject& r, bool left_field) {
  if (r.in_use == 0) return;
  GrazeBullet(r);
  HitPlayerByBullet(r);
  if (left_field) RemoveObject(r);
}

}  // namespace

void InitEnemyBullet(GameObject& r, uint32_t size_class, uint32_t colour) {
  if (size_class < 1 || size_class > 4) {
    RaiseGameError("ET_NX_common_n");
    return;
  }
  const SizeRow& row = kSizes[size_class - 1];
  r.level = size_class;
  r.own_radius = row.own_radius;
  r.body_radius = row.body_radius;
  r.variant = colour;
  r.grazeable = 1;
  r.can_hit = 1;
  r.can_be_hit = 1;
  if (colour < 1 || colour > 8) {
    RaiseGameError(row.bad_colour);
    return;
  }
  SetObjectGraphic(r, 1, row.graphic_base + 8 * colour, 0, 255.0);
}

void InitEnemyBullet60(GameObject& r, uint32_t colour) {
  r.level = 2;
  r.own_radius = 8.0;
  r.body_radius = 10.0;
  r.variant = colour;
  r.grazeable = 1;
  r.can_hit = 1;
  r.can_be_hit = 1;
  if (colour < 1 || colour > 8) {
    RaiseGameError("ET_COM_GEN2");
    return;
  }
  SetObjectGraphic(r, 1, 176 + 8 * colour, 0, 255.0);
}

void CreateEnemyBullet60(GameObject& r, uint32_t colour, double x, double y, double angle,
                         double speed) {
  ResetBullet(r, kKindEnemyBullet60, x, y);
  SetVelocity(r, angle, speed);
  InitEnemyBullet60(r, colour);
  r.scale = 3.0;
  r.blend_value = 64.0;
}

void CreateEnemyBullet72(GameObject& r, uint32_t size_class, uint32_t colour, double x, double y,
                         double angle, double speed) {
  ResetBullet(r, kKindEnemyBullet72, x, y);
  SetVelocity(r, angle, speed);
  InitEnemyBullet(r, size_class, colour);
  r.kind_values[kBulletSpeedFactor] = 2.0;
  r.kind_values[kBulletFactorStep] = -0.05;
  GrowIn(r);
}

void CreateEnemyBullet73(GameObject& r, uint32_t size_class, uint32_t colour, double x, double y,
                         double angle, double speed, double first_accel, double first_limit,
                         double second_accel, double second_limit) {
  ResetBullet(r, kKindEnemyBullet73, x, y);
  InitEnemyBullet(r, size_class, colour);
  r.base.angle = angle;
  r.base.speed = speed;
  r.kind_values[kBulletFirstAccel] = first_accel;
  r.kind_values[kBulletFirstLimit] = first_limit;
  r.kind_values[kBulletSecondAccel] = second_accel;
  r.kind_values[kBulletSecondLimit] = second_limit;
  GrowIn(r);
}

void CreateEnemyBullet74(GameObject& r, uint32_t size_class, uint32_t first_frames,
                         uint32_t colour, double x, double y, double angle, double speed,
                         double first_accel, double new_angle, double second_accel,
                         double second_limit) {
  ResetBullet(r, kKindEnemyBullet74, x, y);
  InitEnemyBullet(r, size_class, colour);
  r.kind_counters[kBulletFirstFrames] = first_frames;
  r.base.angle = angle;
  r.base.speed = speed;
  r.kind_values[kBulletFirstAccel] = first_accel;
  r.kind_values[kBulletNewAngle] = new_angle;
  r.kind_values[kBulletSecondAccel] = second_accel;
  r.kind_values[kBulletSecondLimit] = second_limit;
  GrowIn(r);
}

void CreateEnemyBullet75(GameObject& r, double x, double y, double angle, double speed,
                         double speed_step, double turn_rate, double target_speed) {
  ResetBullet(r, kKindEnemyBullet75, x, y);
  InitEnemyBullet(r, 2, 4);
  r.kind_counters[kBulletFirstFrames] = 70;
  r.base.angle = angle;
  r.base.speed = speed;
  r.kind_values[kBulletSpeedStep] = speed_step;
  r.kind_values[kBulletTurnRate] = turn_rate;
  r.kind_values[kBulletTargetSpeed] = target_speed;
  GrowIn(r);
}

void UpdateEnemyBullet60(GameObject& r) {
  bool left = false;
  if (CancelStep(r) && r.state == 0) {
    r.x += r.parts[0].velocity_x;
    r.y += r.parts[0].velocity_y;
    left = Outside(r);
  }
  if (r.in_use != 0 && r.sub_state == 0) {
    r.blend_value += 10.0;
    if (r.blend_value > 255.0) r.blend_value = 255.0;
    r.scale -= 0.2;
    if (!(r.scale > 1.0)) {
      r.scale = 1.0;
      r.sub_state = 1;
      r.blend_value = 255.0;
    }
  }
  Finish(r, left);
}

void UpdateEnemyBullet72(GameObject& r) {
  bool left = false;
  if (CancelStep(r)) {
    double& factor = r.kind_values[kBulletSpeedFactor];
    if (r.state == 0) {
      r.x += r.parts[0].velocity_x * factor;
      r.y += r.parts[0].velocity_y * factor;
      RampIn(r);
      factor += r.kind_values[kBulletFactorStep];
      if (factor < 1.0) factor = 1.0;
      if (++r.state_timer >= 15) {
        r.state = 1;
        r.state_timer = 0;
      }
    } else if (r.state == 1) {
      r.x += r.parts[0].velocity_x;
      r.y += r.parts[0].velocity_y;
      left = Outside(r);
    }
  }
  Finish(r, left);
}

namespace {

// States 1 and 2 of kinds 73 and 74: speed up to the second limit, then fly
// on at it. Returns whether the bullet has left the play field.
bool SecondAccelerationStep(GameObject& r) {
  double& speed = r.base.speed;
  if (r.state == 1) {
    bool done = false;
    speed += r.kind_values[kBulletSecondAccel];
    if (!(speed < r.kind_values[kBulletSecondLimit])) {
      speed = r.kind_values[kBulletSecondLimit];
      done = true;
    }
    MoveAlong(r);
    ++r.state_timer;
    if (done) {
      r.state = 2;
      r.state_timer = 0;
    }
    return Outside(r);
  }
  if (r.state == 2) {
    MoveAlong(r);
    ++r.state_timer;
    return Outside(r);
  }
  return false;
}

}  // namespace

void UpdateEnemyBullet73(GameObject& r) {
  bool left = false;
  if (CancelStep(r)) {
    double& speed = r.base.speed;
    if (r.state == 0) {
      bool done = false;
      speed += r.kind_values[kBulletFirstAccel];
      if (!(speed > r.kind_values[kBulletFirstLimit])) {
        speed = r.kind_values[kBulletFirstLimit];
        done = true;
      }
      MoveAlong(r);
      RampIn(r);
      ++r.state_timer;
      if (done) {
        r.state = 1;
        r.state_timer = 0;
        r.scale = 1.0;
        r.blend_value = 255.0;
      }
      left = Outside(r);
    } else {
      left = SecondAccelerationStep(r);
    }
  }
  Finish(r, left);
}

void UpdateEnemyBullet74(GameObject& r) {
  bool left = false;
  if (CancelStep(r)) {
    double& speed = r.base.speed;
    if (r.state == 0) {
      speed += r.kind_values[kBulletFirstAccel];
      MoveAlong(r);
      RampIn(r);
      left = Outside(r);
      if (++r.state_timer >= r.kind_counters[kBulletFirstFrames]) {
        r.state = 1;
        r.state_timer = 0;
        r.scale = 1.0;
        r.blend_value = 255.0;
        speed = 0.0;
        r.base.angle = r.kind_values[kBulletNewAngle];
        Sound(17);
      }
    } else {
      left = SecondAccelerationStep(r);
    }
  }
  Finish(r, left);
}

void UpdateEnemyBullet75(GameObject& r) {
  bool left = false;
  if (CancelStep(r)) {
    if (r.state == 0) {
      r.base.angle += r.kind_values[kBulletTurnRate];
      const double step = r.kind_values[kBulletSpeedStep];
      if (step >= 0.0) {
        ApproachUp(r.base.speed, step, r.kind_values[kBulletTargetSpeed]);
      } else {
        ApproachDown(r.base.speed, step, r.kind_values[kBulletTargetSpeed]);
      }
      MoveAlong(r);
      RampIn(r);
      if (++r.state_timer >= r.kind_counters[kBulletFirstFrames]) {
        r.state = 1;
        r.state_timer = 0;
      }
    } else if (r.state == 1) {
      MoveAlong(r);
      left = Outside(r);
    }
  }
  Finish(r, left);
}

void GrazeBullet(GameObject& b) {
  if (b.grazeable == 0 || g_game.talk.talk_mode != 0 || g_player.invulnerable != 0 ||
      b.can_hit != 1) {
    return;
  }
  if (!HitCircle(g_player.x, g_player.y, g_player.body_radius + 35.0, b.x, b.y, b.own_radius)) {
    return;
  }
  if (b.level < 1 || b.level > 4) {
    RaiseGameError("ET_NX_common_hm");
    return;
  }
  b.grazeable = 0;
  const uint32_t index = FindFreeItem();
  if (index != kPoolFull) CreateSmallItem(g_items[index], b.x, b.y);
  Sound(3);
}

void CancelEnemyBullets() {
  for (GameObject& b : g_enemy_bullets) {
    if (b.in_use == 1 && b.can_be_hit == 1) b.killed = 1;
  }
}
