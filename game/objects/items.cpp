// game/objects/items.cpp - item creation and motion.
#include "game/objects/items.h"

#include <cmath>

#include "game/frame/game_error.h"
#include "game/objects/dispatch.h"

namespace {

double Rad(double degrees) { return degrees * kGamePi / 180.0; }

void CommonItem(GameObject& r, uint32_t kind, double x, double y) {
  r.free = 0;
  r.in_use = 1;
  r.kind = kind;
  r.own_index = g_find_free_index;
  r.killed = 0;
  r.parent_index = 0;
  r.state = r.state_timer = r.sub_state = r.sub_state_timer = 0;
  r.own_radius = kItemPickUpRadius;
  r.body_radius = 16.0;
  r.can_hit = 1;
  r.can_be_hit = 1;
  r.life = 0.0;
  r.x = x;
  r.y = y;
  r.draw_layer = -1;
  SetObjectGraphic(r, 0, 372, 2, 128.0);
  r.anim_counter = 0;
}

void Move(GameObject& r) {
  r.x += std::cos(Rad(r.base.angle)) * r.base.speed;
  r.y += std::sin(Rad(r.base.angle)) * r.base.speed;
}

}  // namespace

void CreateItem(GameObject& r, uint32_t level, double x, double y, double launch_angle) {
  CommonItem(r, kKindItem, x, y);
  r.level = level;
  if (level == 1) {
    r.scale = 0.7;
  } else if (level == 2) {
    r.scale = 1.0;
  } else {
    RaiseGameError("AT_EX_n lv");
  }
  r.base.angle = launch_angle;
  r.base.speed = 1.5;
  r.kind_values[kItemAcceleration] = -0.02;
  r.kind_extra[0] = r.kind_extra[1] = 0.0;  // the two draw phases
  r.kind_counters[0] = 0;                   // the pulse
}

void CreateSmallItem(GameObject& r, double x, double y) {
  CommonItem(r, kKindSmallItem, x, y);
  r.level = 1;
  r.base.angle = 0.0;
  r.base.speed = 3.0;
}

void UpdateItem(GameObject& r) {
  bool leave = false;
  if (r.state == 0) {
    bool launched = false;
    r.base.speed += r.kind_values[kItemAcceleration];
    if (!(r.base.speed > 0.0)) {
      r.base.speed = 0.0;
      launched = true;
    }
    Move(r);
    ++r.state_timer;
    if (launched) {
      r.state = 1;
      r.state_timer = 0;
      r.base.angle = 90.0;
      r.base.speed = 0.0;
      r.kind_values[kItemAcceleration] = 0.05;
    }
  } else if (r.state == 1) {
    r.base.speed += 0.05;
    if (r.base.speed > 1.7) r.base.speed = 1.7;
    Move(r);
    if (r.y > 480.0) leave = true;
  }
  if (r.can_hit == 1 && PickUpItem(r)) return;
  if (leave) RemoveObject(r);
}

void UpdateSmallItem(GameObject& r) {
  if (r.state == 0) {
    r.base.speed -= 0.1;
    const bool risen = !(r.base.speed > 0.0);
    if (risen) r.base.speed = 0.0;
    r.y -= r.base.speed;
    ++r.state_timer;
    if (risen) {
      r.state = 1;
      r.state_timer = 0;
    }
  } else if (r.state == 1) {
    r.base.angle = AngleTo(r.x, r.y, g_player.x, g_player.y);
    r.x += std::cos(Rad(r.base.angle)) * 8.5;
    r.y += std::sin(Rad(r.base.angle)) * 8.5;
  }
  if (r.can_hit == 1) PickUpItem(r);
}
