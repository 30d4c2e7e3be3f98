// tests/game/state_hash.cpp - the per-frame state hash of the whole-game
// tests.
#include "tests/game/state_hash.h"

#include <cstring>
#include <initializer_list>

#include "game/frame/game_state.h"
#include "game/objects/game_object.h"
#include "game/objects/player.h"
#include "lib/core/random.h"

namespace gametest {

namespace {

class Fnv {
 public:
  void Bytes(const void* data, size_t n) {
    const auto* p = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < n; ++i) {
      h_ ^= p[i];
      h_ *= 1099511628211ull;
    }
  }
  void U32(uint32_t v) { Bytes(&v, sizeof v); }
  void F64(double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    Bytes(&bits, sizeof bits);
  }
  uint64_t value() const { return h_; }

 private:
  uint64_t h_ = 14695981039346656037ull;
};

void Record(Fnv& h, const GameObject& r, uint32_t pool, uint32_t index, bool animation) {
  if (r.in_use == 0) return;
  h.U32(pool);
  h.U32(index);
  h.U32(r.kind);
  h.U32(r.state);
  h.U32(r.sub_state);
  h.F64(r.x);
  h.F64(r.y);
  h.F64(r.life);
  h.U32(r.killed);
  if (animation) h.U32(r.graphic_id);
}

void Pool(Fnv& h, const GameObject* records, size_t count, uint32_t pool, bool animation) {
  for (size_t i = 0; i < count; ++i) {
    Record(h, records[i], pool, static_cast<uint32_t>(i), animation);
  }
}

}  // namespace

uint64_t FrameStateHash(bool animation) {
  Fnv h;
  const GameState& s = g_game;
  for (uint32_t v : s.levels) h.U32(v);
  for (uint32_t v : s.level_counters) h.U32(v);
  h.U32(s.score);
  h.U32(s.stage_frame_counter);
  h.U32(s.pause);
  h.U32(s.replay_frame_index);
  h.U32(s.spawn_base);
  h.F64(s.scroll_speed);
  h.F64(s.background_brightness);
  h.F64(s.fade_value);
  h.U32(s.talk.talk_mode);
  h.U32(s.boss_gauge.active);
  h.U32(s.boss_gauge.phase);
  h.F64(s.boss_gauge.shown_life);
  const MersenneTwisterState* mt = GetLibraryRandomState();
  h.U32(static_cast<uint32_t>(mt->index));
  h.Bytes(mt->state, sizeof mt->state);
  const PlayerStatus& st = g_player_status;
  h.F64(st.life);
  h.F64(st.power_gauge);
  h.F64(st.shot_power);
  for (uint32_t v : {st.shot_hold_timer, st.shot_counter, st.bomb_invulnerable_timer,
                     st.bomb_cooldown, st.hit_invulnerable_timer, st.weak_shot_timer}) {
    h.U32(v);
  }
  Record(h, g_player, 100, 0, animation);
  Record(h, g_partner, 101, 0, animation);
  Pool(h, g_enemies, kEnemyPoolSize, 0, animation);
  Pool(h, g_enemy_groups, kEnemyGroupPoolSize, 1, animation);
  Pool(h, g_player_objects, kPlayerObjectPoolSize, 2, animation);
  Pool(h, g_enemy_bullets, kEnemyBulletPoolSize, 3, animation);
  Pool(h, g_items, kItemPoolSize, 4, animation);
  Pool(h, g_effects, kEffectPoolSize, 5, animation);
  Pool(h, g_backgrounds, kBackgroundPoolSize, 6, animation);
  return h.value();
}

}  // namespace gametest
