// game/objects/game_object.h - the one record of every game object and the
// fixed pools that hold them.
//
// Nothing is allocated while the game runs: every record lives in a static
// pool for the whole run. A creator takes a record with its pool's find-free
// function, fills it and sets it in use; the update dispatch runs it; a record
// that leaves play becomes free again only in the next draw pass, so an index
// is never handed out twice within one frame (replays rely on that order).
#pragma once

#include <cstddef>
#include <cstdint>

// {x, y, a per-kind value, angle, speed}: the block that `MoveByAngle` moves.
// Used for the record's base block and as the head of every motion part.
struct MoveBlock {
  double x;
  double y;
  double aux;
  double angle;  // degrees, 0 right, 90 down
  double speed;  // pixels per frame
};

// One motion part: 33 double-sized slots. Part 0 is the sway moved by
// `WobbleStep`, part 1 the travel offset moved by `MoveByAngle`; other kinds
// use the parts as they need.
struct MotionPart {
  MoveBlock move;  // offset x, offset y, per-kind value, angle, speed
  double kind_values[4];  // speed steps, limits
  double velocity_x;
  double velocity_y;
  double phase_a;  // degrees
  double phase_b;
  double phase_step_a;
  double phase_step_b;
  double amplitude_a;
  double amplitude_b;
  double extra[15];  // target points and the like
  uint8_t flag;
};

// Cleared as one by `ClearValueList` when a boss opens an attack phase.
struct AttackBlock {
  double values[15];
  // counters[3] counts the frames since spawn (the bosses' attack cycle);
  // counters[6..8] are the three fire times of an enemy.
  uint32_t counters[12];
  uint8_t flags[3];
};

inline constexpr int kFramesSinceSpawn = 3;
inline constexpr int kFireTime0 = 6;

struct GameObject {
  uint8_t free;    // 1: a find-free function may hand the record out
  uint8_t in_use;  // 1: takes part in update and draw
  uint32_t kind;
  uint32_t sub_type;
  uint32_t kind_word;
  uint32_t variant;
  uint32_t level;
  uint32_t own_index;
  uint32_t parent_index;
  uint8_t killed;
  uint32_t state;
  uint32_t state_timer;
  uint32_t sub_state;
  uint32_t sub_state_timer;
  uint32_t counter3;  // a third per-kind {counter, timer} pair
  uint32_t timer3;

  double x;
  double y;
  MoveBlock base;
  double kind_values[28];  // turn rates, speed limits, targets ...
  MotionPart parts[5];

  uint32_t fire_pattern;  // 1, 2, 3, 11, 12 or 13
  AttackBlock attack;

  // Draw block.
  uint8_t visible;
  uint8_t generic_draw;     // 1: generic rotated draw; 0: the kind's own draw
  uint32_t menu_draw_kind;  // menu objects: 1 plain, 2 rotated
  uint32_t graphic_id;      // a row of the graphics table
  uint8_t transparency;
  int32_t draw_layer;       // effects 1 to 5, -1 otherwise
  uint32_t blend_mode;      // 0 none, 1 alpha, 2 add, 3 subtract
  double blend_value;       // 0 to 255
  double blend_aux[2];
  double blend_step;
  double scale;             // 1.0 natural size
  double scale_aux[2];
  double scale_step;
  double angle_aux;
  double angle;             // degrees
  double extra_angle;       // degrees, added to the angle when drawn
  double spin_step;
  double spin_aux;
  uint32_t anim_counter;    // frames shown of the current animated row

  double value;
  double value2;
  double life;
  uint8_t can_hit;     // hurts the player on contact
  uint8_t can_be_hit;  // the player's shots can hit it
  double own_radius;
  double body_radius;
  uint8_t grazeable;
  uint8_t phase_ended;  // bosses
  uint8_t defeated;     // bosses
  uint32_t fight_stage; // bosses: 0, 1, 2
  uint8_t focus;
  uint8_t invulnerable;
  uint32_t kind_counters[13];
  double kind_extra[8];
};

// ----- Pools -----------------------------------------------------------------

inline constexpr size_t kEnemyPoolSize = 100;
inline constexpr size_t kEnemyGroupPoolSize = 50;
inline constexpr size_t kPlayerObjectPoolSize = 100;
inline constexpr size_t kEnemyBulletPoolSize = 2000;
inline constexpr size_t kItemPoolSize = 200;
inline constexpr size_t kEffectPoolSize = 2000;
inline constexpr size_t kBackgroundPoolSize = 20;
inline constexpr size_t kCursorPoolSize = 10;
inline constexpr size_t kMenuObjectPoolSize = 100;

extern GameObject g_player;
extern GameObject g_partner;
extern GameObject g_enemies[kEnemyPoolSize];
extern GameObject g_enemy_groups[kEnemyGroupPoolSize];
extern GameObject g_player_objects[kPlayerObjectPoolSize];
extern GameObject g_enemy_bullets[kEnemyBulletPoolSize];
extern GameObject g_items[kItemPoolSize];
extern GameObject g_effects[kEffectPoolSize];
extern GameObject g_backgrounds[kBackgroundPoolSize];
extern GameObject g_cursor_pool[kCursorPoolSize];
extern GameObject g_menu_objects[kMenuObjectPoolSize];

// What a find-free function returns when its pool is full. The creator that
// follows must then create nothing (a full pool skips the object and the game
// goes on; the pool's tag is kept in the error text).
inline constexpr uint32_t kPoolFull = 0xFFFFFFFFu;

// The index returned by the last find-free call; creators copy it into the
// record's own index.
extern uint32_t g_find_free_index;

void ResetAllPools();
uint32_t FindFreeEnemy();
uint32_t FindFreeEnemyGroup();
uint32_t FindFreePlayerObject();
uint32_t FindFreeEnemyBullet();
uint32_t FindFreeItem();
uint32_t FindFreeEffect();

// Sets free = 1 on every record of the pool that is not in use (the draw
// pass's freeing step).
void FreeUnusedRecords(GameObject* records, size_t count);

// ----- Record helpers ----------------------------------------------------------

void PlaceObject(GameObject& record, double x, double y, uint32_t graphic_id,
                 uint32_t blend_mode, double blend_value, uint32_t menu_draw_kind);
void RemoveObject(GameObject& record);
void SetObjectGraphic(GameObject& record, uint8_t generic_draw, uint32_t graphic_id,
                      uint32_t blend_mode, double blend_value);
bool IsOutsidePlayfield(const GameObject& record, double margin);
void WobbleStep(GameObject& record);
void SavePosition(GameObject& record);
void ClearValueList(AttackBlock& block);

// Phase steps on a {state, timer} pair: the timer counts first; true when the
// state switched.
bool PhaseAfter(uint32_t& state, uint32_t& timer, uint32_t n);
bool PhaseJumpAfter(uint32_t& state, uint32_t& timer, uint32_t n, uint32_t target);
bool PhaseOnFlag(uint32_t& state, uint32_t& timer, bool condition);
bool PhaseJumpOnFlag(uint32_t& state, uint32_t& timer, bool condition, uint32_t target);
bool PhaseJumpAfterFlag(uint32_t& state, uint32_t& timer, bool condition, uint32_t n,
                        uint32_t target);

// ----- Maths helpers -------------------------------------------------------------

// The game's own value of pi; replays depend on it staying this literal.
inline constexpr double kGamePi = 3.14159265359;

void MoveByAngle(MoveBlock& block);
double Distance(double x1, double y1, double x2, double y2);
double AngleTo(double x1, double y1, double x2, double y2);
bool HitCircle(double x1, double y1, double r1, double x2, double y2, double r2);
bool StepCapped(int32_t& counter);
bool StepCapped(uint32_t& counter);
bool StepFloored(int32_t& counter);
bool StepFloored(uint32_t& counter);
bool ApproachUp(double& value, double step, double target);
bool ApproachDown(double& value, double step, double target);
// Rounds half away from zero, as every position handed to a library draw is.
int RoundHalfAway(double value);

// A random value in [base, base + width] in steps of 1/65536; one draw from
// the library's generator.
double RandRange(double width, double base);
// A random value in [-width, width] in steps of 2/65536; one draw.
double RandSigned(double width);
