// game/objects/player_contact.cpp - what touching the player does: an enemy
// bullet's hit and an item's pick-up.
#include <cstdint>

#include "game/frame/game_error.h"
#include "game/frame/game_state.h"
#include "game/objects/dispatch.h"
#include "game/objects/effects.h"
#include "game/objects/enemy_bullets.h"
#include "game/objects/items.h"
#include "game/objects/player.h"
#include "game/objects/resources.h"

namespace {

struct HitRow {
  double life_loss;
  double power_loss;
  uint32_t weak_shot_frames;
  uint32_t burst_size;
};
// By size class; class 4 hurts like class 3 (a defined row rather than a
// game stop, should a class-4 bullet ever touch the player).
const HitRow kHits[4] = {
    {15.0, 40.0, 40, 1},
    {25.0, 60.0, 60, 1},
    {50.0, 80.0, 80, 2},
    {50.0, 80.0, 80, 2},
};

}  // namespace

void HitPlayerByBullet(GameObject& b) {
  if (g_game.talk.talk_mode != 0 || g_player.invulnerable != 0 || b.can_hit == 0) return;
  if (!HitCircle(g_player.x, g_player.y, g_player.body_radius, b.x, b.y, b.own_radius)) return;
  if (b.level < 1 || b.level > 4) {
    RaiseGameError("ET_NX_common_hm");
    return;
  }
  const HitRow& row = kHits[b.level - 1];
  PlayerStatus& st = g_player_status;
  ApproachDown(st.life, -row.life_loss, 0.0);
  ApproachDown(st.shot_power, -row.power_loss, 0.0);
  st.hit_invulnerable_timer = 40;
  st.weak_shot_timer = row.weak_shot_frames;
  b.killed = 1;
  if (GameObject* fx = TakeFreeEffect()) CreateExplosion(*fx, 2, 2, b.x, b.y);
  if (GameObject* fx = TakeFreeEffect()) CreateBurst(*fx, 1, row.burst_size, b.x, b.y);
  if (GameObject* fx = TakeFreeEffect()) CreateBurst(*fx, 4, 1, b.x, b.y);
  g_sounds[9].request = 1;
}

bool PickUpItem(GameObject& r) {
  if (!HitCircle(g_player.x, g_player.y, g_player.body_radius, r.x, r.y, kItemPickUpRadius)) {
    return false;
  }
  RemoveObject(r);
  g_sounds[0].request = 1;
  double& gauge = g_player_status.power_gauge;
  if (r.kind == kKindSmallItem) {
    if (gauge >= kPowerGaugeMax) ++g_game.score;
    gauge += 0.5;
  } else if (gauge >= kPowerGaugeMax) {
    ++g_game.score;
    return true;
  } else {
    gauge += r.level == 2 ? 2.0 : 1.5;
  }
  if (gauge > kPowerGaugeMax) gauge = kPowerGaugeMax;
  return true;
}
