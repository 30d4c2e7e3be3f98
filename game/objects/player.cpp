// game/objects/player.cpp - the player ship and the partner: entry, play
// (bombs, volleys, timers, movement) and death.
#include "game/objects/player.h"

#include <cmath>

#include "game/frame/game_state.h"
#include "game/frame/input.h"
#include "game/objects/effects.h"
#include "game/objects/player_shots.h"
#include "game/objects/resources.h"

PlayerStatus g_player_status;

ShotCreatorFn g_create_player_shot = CreatePlayerShot;
PartnerShotCreatorFn g_create_partner_shot = CreatePartnerShot;
BombCreatorFn g_create_bomb = CreateBomb;
BombCreatorFn g_create_focus_bomb = CreateFocusBomb;
CutInCreatorFn g_create_bomb_cut_in = CreateBombCutIn;

namespace {

// The diagonal divisor is this constant, not a square root worked out at run
// time: replays depend on the exact step.
constexpr double kDiagonal = 1.41421356;

void RequestSound(int slot) { g_sounds[slot].request = 1; }

void CountDown(uint32_t& timer) {
  if (timer > 0) --timer;
}

void FireShot(double x, double y, double angle, uint32_t sub_type) {
  if (g_create_player_shot == nullptr) return;
  const uint32_t index = FindFreePlayerObject();
  if (index == kPoolFull) return;
  g_create_player_shot(g_player_objects[index], x, y, angle, sub_type);
}

void FirePartnerShot(double x, double y, double angle) {
  if (g_create_partner_shot == nullptr) return;
  const uint32_t index = FindFreePlayerObject();
  if (index == kPoolFull) return;
  g_create_partner_shot(g_player_objects[index], x, y, angle);
}

// A volley: pairs of (side, angle); side +1 fires from x + 7, -1 from x - 7.
struct ShotSpec {
  int side;
  double angle;
};
template <size_t N>
void FireVolley(const GameObject& p, const ShotSpec (&shots)[N], uint32_t sub_type) {
  for (const ShotSpec& s : shots) FireShot(p.x + 7.0 * s.side, p.y, s.angle, sub_type);
}

constexpr ShotSpec kWeakVolley1[] = {{+1, 270}, {-1, 270}};
constexpr ShotSpec kWeakVolley9[] = {{+1, 273}, {-1, 267}};
constexpr ShotSpec kStrongVolley1[] = {{+1, 270}, {-1, 270}, {+1, 276}, {-1, 264},
                                       {+1, 282}, {-1, 258}, {+1, 288}, {-1, 252}};
constexpr ShotSpec kNormalVolley1[] = {{+1, 270}, {-1, 270}, {+1, 276},
                                       {-1, 264}, {+1, 282}, {-1, 258}};
constexpr ShotSpec kNormalVolley9[] = {{+1, 273}, {-1, 267}, {+1, 279},
                                       {-1, 261}, {+1, 285}, {-1, 255}};

void Bomb(GameObject& p) {
  PlayerStatus& st = g_player_status;
  if ((g_input.pressed_actions & kActionBomb) == 0 || st.bomb_cooldown != 0) return;
  BombCreatorFn create;
  uint32_t cut_in;
  if (p.focus == 0 && st.power_gauge >= 100.0) {
    st.power_gauge -= 100.0;
    st.bomb_invulnerable_timer = 120;
    st.bomb_cooldown = 100;
    create = g_create_bomb;
    cut_in = 1;
  } else if (p.focus != 0 && st.power_gauge >= 200.0) {
    st.power_gauge -= 200.0;
    st.bomb_invulnerable_timer = 400;
    st.bomb_cooldown = 300;
    create = g_create_focus_bomb;
    cut_in = 2;
  } else {
    return;
  }
  if (st.power_gauge < 0.0) st.power_gauge = 0.0;
  if (create != nullptr) {
    const uint32_t index = FindFreePlayerObject();
    if (index != kPoolFull) create(g_player_objects[index], p.x, p.y);
  }
  if (g_create_bomb_cut_in != nullptr) {
    if (GameObject* e = TakeFreeEffect()) g_create_bomb_cut_in(*e, cut_in);
  }
  RequestSound(27);
}

void Shoot(GameObject& p) {
  PlayerStatus& st = g_player_status;
  if (g_input.held_actions & kActionShot) {
    st.shot_hold_timer = 20;
    ++st.shot_counter;
  } else if (st.shot_hold_timer != 0) {
    ++st.shot_counter;
  } else {
    st.shot_counter = 0;
  }
  st.shot_power = (p.focus != 0 && st.power_gauge >= 1.0) ? 500.0 : 450.0;
  const uint32_t v = st.shot_counter % 16;
  if (v != 1 && v != 9) return;
  RequestSound(30);
  if (st.weak_shot_timer != 0) {
    if (v == 1) FireVolley(p, kWeakVolley1, 0);
    else FireVolley(p, kWeakVolley9, 0);
  } else if (st.shot_power == 500.0) {
    if (v == 1) {
      st.power_gauge -= 1.0;
      if (st.power_gauge < 0.0) st.power_gauge = 0.0;
      FireVolley(p, kStrongVolley1, 1);
    } else {
      FireVolley(p, kNormalVolley9, 1);
    }
  } else {
    if (v == 1) FireVolley(p, kNormalVolley1, 0);
    else FireVolley(p, kNormalVolley9, 0);
  }
}

void Move(GameObject& p) {
  const double s = p.focus != 0 ? 2.9 : 5.0;
  const uint8_t d = g_input.held_directions;
  const bool up = d & kDirUp, right = d & kDirRight, down = d & kDirDown, left = d & kDirLeft;
  double dx = 0.0, dy = 0.0;
  if (up && right) {
    dx = s / kDiagonal;
    dy = -s / kDiagonal;
  } else if (right && down) {
    dx = s / kDiagonal;
    dy = s / kDiagonal;
  } else if (down && left) {
    dx = -s / kDiagonal;
    dy = s / kDiagonal;
  } else if (left && up) {
    dx = -s / kDiagonal;
    dy = -s / kDiagonal;
  } else if (up) {
    dy = -s;
  } else if (right) {
    dx = s;
  } else if (down) {
    dy = s;
  } else if (left) {
    dx = -s;
  }
  p.x += dx;
  p.y += dy;
  if (p.x >= 404.0) p.x = 404.0;
  if (p.x < 16.0) p.x = 16.0;
  if (p.y >= 464.0) p.y = 464.0;
  if (p.y < 16.0) p.y = 16.0;
}

void PlayFrame(GameObject& p) {
  PlayerStatus& st = g_player_status;
  p.focus = (g_input.held_actions & kActionFocus) ? 1 : 0;
  if (g_game.talk.talk_mode == 0) {
    Bomb(p);
    Shoot(p);
  }
  CountDown(st.shot_hold_timer);
  CountDown(st.bomb_invulnerable_timer);
  CountDown(st.bomb_cooldown);
  CountDown(st.hit_invulnerable_timer);
  CountDown(st.weak_shot_timer);
  p.invulnerable = (st.hit_invulnerable_timer != 0 || st.bomb_invulnerable_timer != 0) ? 1 : 0;
  p.visible = (p.invulnerable == 0 || p.state_timer % 3 == 2) ? 1 : 0;
  Move(p);
  ++p.state_timer;
  if (st.life <= 0.0) {
    p.state = 2;
    p.state_timer = 0;
  }
}

void DeathFrame(GameObject& p) {
  const uint32_t t = p.state_timer;
  if (t < 300 && t % 20 == 0) {
    const double u = RandRange(60.0, -30.0);
    const double v = RandRange(60.0, -30.0);
    if (GameObject* e = TakeFreeEffect()) CreateExplosion(*e, 4, 0, p.x + u, p.y + v);
    const double u2 = RandRange(60.0, -30.0);
    const double v2 = RandRange(60.0, -30.0);
    if (GameObject* e = TakeFreeEffect()) CreateBurst(*e, 1, 1, p.x + u2, p.y + v2);
  }
  if (t < 300) {
    if (t % 10 == 0) RequestSound(23);
    if (t % 30 == 5) RequestSound(24);
  }
  p.visible = t % 3 == 2 ? 1 : 0;
  if (t == 320) {
    StopAllBgm();
    SetScene(g_game, kSceneTitle);
  }
  ++p.state_timer;
}

double Radians(double degrees) { return degrees * kGamePi / 180.0; }

// The partner's entry: shrinks and blinks for 50 frames.
void PartnerEntry(GameObject& r) {
  r.scale -= 0.02;
  if (r.scale <= 1.0) r.scale = 1.0;
  r.visible = r.state_timer % 3 == 0 ? 1 : 0;
  ++r.state_timer;
  if (r.state_timer == 50) {
    r.state = 1;
    r.state_timer = 0;
    r.scale = 1.0;
    r.visible = 1;
  }
}

void PartnerShotTimers(GameObject& r) {
  uint32_t& hold = r.kind_counters[kPartnerShotHold];
  uint32_t& counter = r.kind_counters[kPartnerShotCounter];
  if (g_input.held_actions & kActionShot) hold = 20;
  if (hold != 0) ++counter;
  else counter = 0;
}

}  // namespace

void ResetPlayerStatus() {
  g_player_status.shot_power = 0.0;
  g_player_status.power_gauge = 300.0;
  g_player_status.life = 1000.0;
}

void InitPlayer() {
  GameObject& p = g_player;
  p.free = 0;
  p.in_use = 1;
  p.kind = 0;
  p.sub_type = 0;
  p.x = 210.0;
  p.y = 420.0;
  p.state = 0;
  p.state_timer = 0;
  p.sub_state = 0;
  p.sub_state_timer = 0;
  p.killed = 0;
  p.parent_index = 0;
  p.body_radius = 1.0;
  p.can_hit = 1;
  p.can_be_hit = 1;
  p.visible = 1;
  p.generic_draw = 1;
  p.transparency = 1;
  p.graphic_id = 24;
  p.blend_mode = 0;
  p.blend_value = 255.0;
  p.draw_layer = -1;
  p.scale = 4.0;
  p.angle = 0.0;
  p.extra_angle = 0.0;
  p.spin_step = 0.0;
  p.focus = 0;
  p.invulnerable = 0;
  PlayerStatus& st = g_player_status;
  ResetPlayerStatus();
  st.shot_hold_timer = 0;
  st.shot_counter = 0;
  st.bomb_invulnerable_timer = 0;
  st.bomb_cooldown = 0;
  st.hit_invulnerable_timer = 0;
  st.weak_shot_timer = 0;
}

void UpdatePlayer(GameObject& p) {
  switch (p.state) {
    case 0:
      p.scale -= 0.05;
      if (p.scale <= 1.5) p.scale = 1.5;
      p.visible = p.state_timer % 3 == 0 ? 1 : 0;
      ++p.state_timer;
      if (p.state_timer == 60) {
        p.state = 1;
        p.state_timer = 0;
        p.scale = 1.3;
        p.visible = 1;
      }
      break;
    case 1:
      PlayFrame(p);
      break;
    case 2:
      DeathFrame(p);
      break;
    default:
      break;
  }
}

void UpdatePartnerA(GameObject& r) {
  if (r.state == 0) {
    PartnerEntry(r);
    return;
  }
  if (r.state != 1) return;
  const bool focused = g_player.focus != 0;
  double& heading = r.base.angle;
  double& speed = r.base.speed;
  if (r.sub_state == 0) {
    ++r.sub_state_timer;
    if (focused || r.sub_state_timer >= 60) {
      r.sub_state = 1;
      r.sub_state_timer = 0;
      heading = AngleTo(r.x, r.y, g_player.x, g_player.y);
      r.kind_values[kPartnerAccel] = 0.12;
      r.kind_values[kPartnerDecel] = focused ? -0.04 : -0.06;
    }
  } else {
    const double decel = r.kind_values[kPartnerDecel];
    const double d = Distance(g_player.x, g_player.y, r.x, r.y);
    if (d < 30.0 || r.sub_state_timer >= 20) {
      speed += decel;
      if (speed < 0.0) speed = 0.0;
    } else {
      speed += 0.12;
      if (speed > 3.0) speed = 3.0;
    }
    r.x += std::cos(Radians(heading)) * speed;
    r.y += std::sin(Radians(heading)) * speed;
    ++r.sub_state_timer;
    if (r.sub_state_timer >= (focused ? 50u : 90u)) {
      r.sub_state = 0;
      r.sub_state_timer = 0;
    }
  }
  if (g_game.talk.talk_mode != 0) return;
  PartnerShotTimers(r);
  const uint32_t v = r.kind_counters[kPartnerShotCounter] % 16;
  if (v == 1) {
    FirePartnerShot(r.x + 7.0, r.y, 270.0);
    FirePartnerShot(r.x - 7.0, r.y, 270.0);
  } else if (v == 8) {
    FirePartnerShot(r.x + 7.0, r.y, 275.0);
    FirePartnerShot(r.x - 7.0, r.y, 265.0);
  }
  CountDown(r.kind_counters[kPartnerShotHold]);
  CountDown(r.kind_counters[kPartnerShotBlock]);
}

void UpdatePartnerB(GameObject& r) {
  if (r.state > 1) return;
  const bool focused = g_player.focus != 0;
  const double a = Radians(AngleTo(r.base.x, r.base.y, g_player.x, g_player.y));
  const double pull = focused ? 1.0 : 2.0;
  r.base.x += pull * std::cos(a);
  r.base.y += pull * std::sin(a);
  const double slow = focused ? 5.0 : 1.0;
  r.kind_values[kPartnerPhaseA] += r.kind_values[kPartnerPhaseStepA] / slow;
  r.kind_values[kPartnerPhaseB] += r.kind_values[kPartnerPhaseStepB] / slow;
  r.x = r.base.x + 50.0 * std::cos(Radians(r.kind_values[kPartnerPhaseA]));
  r.y = r.base.y + 30.0 * std::sin(Radians(r.kind_values[kPartnerPhaseB]));
  if (r.state == 0) {
    PartnerEntry(r);
    return;
  }
  if (g_game.talk.talk_mode != 0) return;
  PartnerShotTimers(r);
  if (r.kind_counters[kPartnerShotCounter] % 8 == 1 && r.kind_counters[kPartnerShotBlock] == 0) {
    FirePartnerShot(r.x + 7.0, r.y, 270.0);
    FirePartnerShot(r.x - 7.0, r.y, 270.0);
  }
  CountDown(r.kind_counters[kPartnerShotHold]);
  CountDown(r.kind_counters[kPartnerShotBlock]);
}
