// game/objects/pools.cpp - the static object pools, find-free and the record
// and maths helpers that every object kind uses.
#include <cmath>
#include <cstring>

#include "game/frame/game_error.h"
#include "game/objects/game_object.h"

GameObject g_player;
GameObject g_partner;
GameObject g_enemies[kEnemyPoolSize];
GameObject g_enemy_groups[kEnemyGroupPoolSize];
GameObject g_player_objects[kPlayerObjectPoolSize];
GameObject g_enemy_bullets[kEnemyBulletPoolSize];
GameObject g_items[kItemPoolSize];
GameObject g_effects[kEffectPoolSize];
GameObject g_backgrounds[kBackgroundPoolSize];
GameObject g_cursor_pool[kCursorPoolSize];
GameObject g_menu_objects[kMenuObjectPoolSize];

uint32_t g_find_free_index = 0;

namespace {

// The animation counter goes back to 0 as well: creators leave it as the
// record's previous use left it, so without this a stage replayed after a
// different history would show its sprites at other points of their cycles
// than the recorded run did.
void ResetRecords(GameObject* records, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    records[i].in_use = 0;
    records[i].free = 1;
    records[i].anim_counter = 0;
  }
}

uint32_t FindFreeIn(const GameObject* records, size_t count, const char* tag) {
  for (size_t i = 0; i < count; ++i) {
    if (records[i].free != 0) {
      g_find_free_index = static_cast<uint32_t>(i);
      return g_find_free_index;
    }
  }
  // A full pool skips the new object: the game goes on, and the tag stays in
  // the error text for inspection.
  NoteGameError(tag);
  g_find_free_index = kPoolFull;
  return kPoolFull;
}

}  // namespace

void ResetAllPools() {
  ResetRecords(&g_player, 1);
  ResetRecords(&g_partner, 1);
  ResetRecords(g_enemies, kEnemyPoolSize);
  ResetRecords(g_enemy_groups, kEnemyGroupPoolSize);
  ResetRecords(g_player_objects, kPlayerObjectPoolSize);
  ResetRecords(g_enemy_bullets, kEnemyBulletPoolSize);
  ResetRecords(g_items, kItemPoolSize);
  ResetRecords(g_effects, kEffectPoolSize);
  ResetRecords(g_backgrounds, kBackgroundPoolSize);
  ResetRecords(g_cursor_pool, kCursorPoolSize);
  ResetRecords(g_menu_objects, kMenuObjectPoolSize);
}

uint32_t FindFreeEnemy() { return FindFreeIn(g_enemies, kEnemyPoolSize, "_EN_F1"); }
uint32_t FindFreeEnemyGroup() {
  return FindFreeIn(g_enemy_groups, kEnemyGroupPoolSize, "_EG_F1");
}
uint32_t FindFreePlayerObject() {
  return FindFreeIn(g_player_objects, kPlayerObjectPoolSize, "_MT_F1");
}
uint32_t FindFreeEnemyBullet() {
  return FindFreeIn(g_enemy_bullets, kEnemyBulletPoolSize, "_ET_F1");
}
uint32_t FindFreeItem() { return FindFreeIn(g_items, kItemPoolSize, "_AT_F1"); }
uint32_t FindFreeEffect() { return FindFreeIn(g_effects, kEffectPoolSize, "_FC_F1"); }

void FreeUnusedRecords(GameObject* records, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (records[i].in_use == 0) records[i].free = 1;
  }
}

void PlaceObject(GameObject& r, double x, double y, uint32_t graphic_id, uint32_t blend_mode,
                 double blend_value, uint32_t menu_draw_kind) {
  r.free = 0;
  r.in_use = 1;
  r.x = x;
  r.y = y;
  r.state = 0;
  r.state_timer = 0;
  r.menu_draw_kind = menu_draw_kind;
  r.graphic_id = graphic_id;
  r.blend_mode = blend_mode;
  r.blend_value = blend_value;
  r.scale = 1.0;
  r.angle = 0.0;
  r.extra_angle = 0.0;
  r.visible = 1;
  r.transparency = 1;
}

void RemoveObject(GameObject& r) {
  r.free = 0;
  r.in_use = 0;
  r.visible = 0;
  r.can_hit = 0;
  r.can_be_hit = 0;
  r.x = 300.0;
  r.y = 300.0;
}

void SetObjectGraphic(GameObject& r, uint8_t generic_draw, uint32_t graphic_id,
                      uint32_t blend_mode, double blend_value) {
  r.generic_draw = generic_draw;
  r.graphic_id = graphic_id;
  r.blend_mode = blend_mode;
  r.blend_value = blend_value;
  r.scale = 1.0;
  r.angle = 0.0;
  r.extra_angle = 0.0;
  r.spin_step = 0.0;
  r.visible = 1;
  r.transparency = 1;
}

bool IsOutsidePlayfield(const GameObject& r, double margin) {
  return r.x < margin || r.x > 420.0 - margin || r.y < margin || r.y > 480.0 - margin;
}

void WobbleStep(GameObject& r) {
  MotionPart& p = r.parts[0];
  p.phase_a += p.phase_step_a;
  p.phase_b += p.phase_step_b;
  p.move.x = std::sin(p.phase_a * kGamePi / 180.0) * p.amplitude_a;
  p.move.y = std::sin(p.phase_b * kGamePi / 180.0) * p.amplitude_b;
}

void SavePosition(GameObject& r) {
  r.base.x = r.x;
  r.base.y = r.y;
  r.parts[0].move.x = 0.0;
  r.parts[0].move.y = 0.0;
  r.parts[1].move.x = 0.0;
  r.parts[1].move.y = 0.0;
  r.parts[0].phase_a = 0.0;
  r.parts[0].phase_b = 0.0;
}

void ClearValueList(AttackBlock& block) { std::memset(&block, 0, sizeof block); }

bool PhaseAfter(uint32_t& state, uint32_t& timer, uint32_t n) {
  ++timer;
  if (timer < n) return false;
  ++state;
  timer = 0;
  return true;
}

bool PhaseJumpAfter(uint32_t& state, uint32_t& timer, uint32_t n, uint32_t target) {
  ++timer;
  if (timer < n) return false;
  state = target;
  timer = 0;
  return true;
}

bool PhaseOnFlag(uint32_t& state, uint32_t& timer, bool condition) {
  ++timer;
  if (!condition) return false;
  ++state;
  timer = 0;
  return true;
}

bool PhaseJumpOnFlag(uint32_t& state, uint32_t& timer, bool condition, uint32_t target) {
  ++timer;
  if (!condition) return false;
  state = target;
  timer = 0;
  return true;
}

bool PhaseJumpAfterFlag(uint32_t& state, uint32_t& timer, bool condition, uint32_t n,
                        uint32_t target) {
  ++timer;
  if (timer < n || !condition) return false;
  state = target;
  timer = 0;
  return true;
}

void MoveByAngle(MoveBlock& b) {
  const double radians = b.angle * kGamePi / 180.0;
  b.x += std::cos(radians) * b.speed;
  b.y += std::sin(radians) * b.speed;
}

double Distance(double x1, double y1, double x2, double y2) {
  const double dx = std::fabs(x2 - x1);
  const double dy = std::fabs(y2 - y1);
  return std::sqrt(dx * dx + dy * dy);
}

double AngleTo(double x1, double y1, double x2, double y2) {
  const double dx = x2 - x1;
  const double dy = y2 - y1;
  if (std::fabs(dx) < 0.01 && std::fabs(dy) < 0.01) return 0.0;
  const double t = std::atan2(dy, dx);
  double a = t * 180.0 / kGamePi;
  if (t < 0.0) a += 360.0;
  return a;
}

bool HitCircle(double x1, double y1, double r1, double x2, double y2, double r2) {
  const double r = r1 + r2;
  const double dx = x2 - x1;
  const double dy = y2 - y1;
  if (std::fabs(dx) > r || std::fabs(dy) > r) return false;
  return std::sqrt(dx * dx + dy * dy) <= r;
}

bool StepCapped(int32_t& counter) {
  ++counter;
  if (counter > 9) {
    counter = 9;
    return true;
  }
  return false;
}

bool StepCapped(uint32_t& counter) {
  ++counter;
  if (counter > 9) {
    counter = 9;
    return true;
  }
  return false;
}

bool StepFloored(int32_t& counter) {
  --counter;
  if (counter < 0) {
    counter = 0;
    return true;
  }
  return false;
}

bool StepFloored(uint32_t& counter) {
  if (counter == 0) return true;  // would fall below 0: stays 0
  --counter;
  return false;
}

bool ApproachUp(double& value, double step, double target) {
  value += step;
  if (value >= target) {
    value = target;
    return true;
  }
  return false;
}

bool ApproachDown(double& value, double step, double target) {
  value += step;
  if (value <= target) {
    value = target;
    return true;
  }
  return false;
}

int RoundHalfAway(double value) {
  return value >= 0.0 ? static_cast<int>(value + 0.5) : static_cast<int>(value - 0.5);
}
