// game/objects/dispatch.cpp - the object update walk and the draw order.
#include "game/objects/dispatch.h"

#include "game/bosses/boss.h"
#include "game/bosses/talk.h"
#include "game/bosses/sub_units.h"
#include "game/frame/game_error.h"
#include "game/frame/game_state.h"
#include "game/objects/backgrounds.h"
#include "game/objects/effects.h"
#include "game/objects/enemies.h"
#include "game/objects/enemy_bullets.h"
#include "game/objects/items.h"
#include "game/objects/player.h"
#include "game/objects/player_shots.h"
#include "game/objects/resources.h"

ObjectFn g_update_player = UpdatePlayer;
ObjectFn g_update_partner_a = UpdatePartnerA;
ObjectFn g_update_partner_b = UpdatePartnerB;

namespace {

struct KindRoute {
  uint32_t kind;
  ObjectFn update;
};

// The kinds of each pool. A null update is a kind whose code is not part of
// the game yet; it is skipped like a kind the pool does not know.
const KindRoute kEnemyRoutes[] = {
    {kKindBoss1A, UpdateBoss1A}, {kKindBoss1B, UpdateBoss1B}, {kKindBoss2A, UpdateBoss2A},
    {kKindBoss2B, UpdateBoss2B}, {kKindBoss3A, UpdateBoss3A}, {kKindBoss3B, UpdateBoss3B},
    {kKindBoss4, UpdateBoss4},   {kKindBoss5, UpdateBoss5},   {kKindZakoA, UpdateZakoA},
    {kKindZakoB, UpdateZakoB},    {kKindZakoC, UpdateZakoC},    {kKindMidZakoA, UpdateMidZako},
    {kKindMidZakoB, UpdateMidZako}, {kKindMidZakoC, UpdateMidZako}, {kKindMidZakoD, UpdateMidZako},
};
const KindRoute kEnemyGroupRoutes[] = {
    {kKindSubUnitA, UpdateSubUnitA}, {kKindSubUnitB, UpdateSubUnitB},
    {kKindSubUnitC, UpdateSubUnitC},
};
const KindRoute kPlayerObjectRoutes[] = {
    {kKindPlayerShot, UpdatePlayerShot}, {kKindPlayerBlast, UpdatePlayerBlast},
    {kKindFocusBomb, UpdateFocusBomb},   {kKindBomb, UpdateBomb},
    {kKindPartnerShot, UpdatePartnerShot}, {kKindBulletClearer, UpdateBulletClearer},
};
const KindRoute kEnemyBulletRoutes[] = {
    {kKindEnemyBullet60, UpdateEnemyBullet60}, {kKindEnemyBullet72, UpdateEnemyBullet72},
    {kKindEnemyBullet73, UpdateEnemyBullet73}, {kKindEnemyBullet74, UpdateEnemyBullet74},
    {kKindEnemyBullet75, UpdateEnemyBullet75},
};
const KindRoute kItemRoutes[] = {{kKindItem, UpdateItem}, {kKindSmallItem, UpdateSmallItem}};

void UpdateFocusIndicator(GameObject& r);
const KindRoute kEffectRoutes[] = {
    {kKindFocusIndicator, UpdateFocusIndicator}, {kKindExplosion, UpdateExplosion},
    {kKindBurst, UpdateBurst},  {kKindBossBurst, UpdateBossBurst}, {kKindBossAura, UpdateBossAura},
    {kKindBombCutIn, UpdateBombCutIn},  {kKindPortrait, UpdatePortrait},  {kKindTalkWindow, UpdateTalkWindow},
};
const KindRoute kCursorRoutes[] = {{kKindSelectObject, UpdateSelectObject}};

void UpdateBackgroundBase(GameObject& r);
const KindRoute kBackgroundRoutes[] = {
    {kKindBackgroundBase, UpdateBackgroundBase}, {kKindBackgroundSub, UpdateBackgroundSub},
};

struct RouteList {
  const KindRoute* routes;
  size_t count;
};
template <size_t N>
constexpr RouteList Routes(const KindRoute (&r)[N]) {
  return RouteList{r, N};
}
const RouteList kPoolRoutes[kPoolCount] = {
    Routes(kEnemyRoutes), Routes(kEnemyGroupRoutes), Routes(kPlayerObjectRoutes),
    Routes(kEnemyBulletRoutes), Routes(kItemRoutes), Routes(kEffectRoutes),
    Routes(kCursorRoutes), Routes(kBackgroundRoutes),
};

struct DrawRoute {
  uint32_t kind;
  ObjectFn draw;
};
// Kinds with their own draw. A null draw is a kind whose code is not part of
// the game yet: such a record raises the missing-draw error like any kind
// without a draw.
const DrawRoute kDrawRoutes[] = {
    {kKindPlayerBlast, DrawPlayerBlast}, {kKindFocusBomb, DrawFocusBomb}, {kKindBomb, DrawBomb},
    {kKindBulletClearer, DrawBulletClearer}, {kKindItem, DrawItem}, {kKindSmallItem, DrawSmallItem},
    {kKindFocusIndicator, DrawFocusIndicator}, {kKindExplosion, DrawExplosion},
    {kKindBurst, DrawBurst},      {kKindBossBurst, DrawBossBurst}, {kKindBossAura, DrawBossAura},
    {kKindPortrait, DrawPortrait}, {kKindTalkWindow, DrawTalkWindow},
    {kKindBackgroundBase, DrawBackgroundLayer}, {kKindBackgroundSub, DrawBackgroundLayer},
    {kKindSelectObject, DrawSelectObject},
};

// Kind 83: follows the player and brightens while focus is held.
void UpdateFocusIndicator(GameObject& r) {
  r.x = g_player.x;
  r.y = g_player.y;
  r.extra_angle += r.spin_step;
  if (g_player.focus != 0) {
    r.blend_value += 3.0;
    if (r.blend_value >= 96.0) r.blend_value = 96.0;
  } else {
    r.blend_value -= 4.0;
    if (r.blend_value <= 32.0) r.blend_value = 32.0;
  }
}

// Kind 88: the base background layer scrolls and wraps over 1920 pixels.
void UpdateBackgroundBase(GameObject& r) {
  r.y += g_game.scroll_speed;
  if (r.y > 480.0) r.y -= 1920.0;
}

}  // namespace

PoolView PoolOf(PoolId pool) {
  switch (pool) {
    case kPoolEnemies: return {g_enemies, kEnemyPoolSize};
    case kPoolEnemyGroups: return {g_enemy_groups, kEnemyGroupPoolSize};
    case kPoolPlayerObjects: return {g_player_objects, kPlayerObjectPoolSize};
    case kPoolEnemyBullets: return {g_enemy_bullets, kEnemyBulletPoolSize};
    case kPoolItems: return {g_items, kItemPoolSize};
    case kPoolEffects: return {g_effects, kEffectPoolSize};
    case kPoolCursor: return {g_cursor_pool, kCursorPoolSize};
    case kPoolBackgrounds: return {g_backgrounds, kBackgroundPoolSize};
    default: return {nullptr, 0};
  }
}

ObjectFn PoolKindUpdate(PoolId pool, uint32_t kind) {
  if (pool < 0 || pool >= kPoolCount) return nullptr;
  const RouteList& list = kPoolRoutes[pool];
  for (size_t i = 0; i < list.count; ++i) {
    if (list.routes[i].kind == kind) return list.routes[i].update;
  }
  return nullptr;
}

ObjectFn KindDraw(uint32_t kind) {
  for (const DrawRoute& route : kDrawRoutes) {
    if (route.kind == kind) return route.draw;
  }
  return nullptr;
}

bool KindDrawsNothing(uint32_t kind) {
  return kind == kKindPlayerSideIdle || kind == kKindEffectIdle;
}

bool UpdateObjects() {
  if (g_game.pause != 0) return true;
  if (g_player.in_use != 0 && CurrentPlayerSetup().ship_kind == 1 && g_update_player) {
    g_update_player(g_player);
  }
  if (g_partner.in_use != 0) {
    if (CurrentPlayerSetup().partner_mode == 1 && g_update_partner_a) {
      g_update_partner_a(g_partner);
    }
    if (CurrentPlayerSetup().partner_mode == 2 && g_update_partner_b) {
      g_update_partner_b(g_partner);
    }
  }
  for (int p = 0; p < kPoolCount; ++p) {
    const PoolView view = PoolOf(static_cast<PoolId>(p));
    for (size_t i = 0; i < view.count; ++i) {
      GameObject& r = view.records[i];
      if (r.in_use == 0) continue;
      if (ObjectFn update = PoolKindUpdate(static_cast<PoolId>(p), r.kind)) update(r);
    }
  }
  return true;
}

const DrawStep kDrawOrder[] = {
    {DrawStep::kPool, kPoolBackgrounds, 0, true},
    {DrawStep::kFilterBilinear, kPoolCount, 0, false},
    {DrawStep::kEffectsLayer, kPoolEffects, 5, true},
    {DrawStep::kPool, kPoolItems, 0, true},
    {DrawStep::kPool, kPoolPlayerObjects, 0, true},
    {DrawStep::kEffectsLayer, kPoolEffects, 4, false},
    {DrawStep::kPool, kPoolEnemies, 0, true},
    {DrawStep::kEffectsLayer, kPoolEffects, 3, false},
    {DrawStep::kPartner, kPoolCount, 0, false},
    {DrawStep::kPlayer, kPoolCount, 0, false},
    {DrawStep::kEffectsLayer, kPoolEffects, 2, false},
    {DrawStep::kPool, kPoolEnemyGroups, 0, true},
    {DrawStep::kPool, kPoolEnemyBullets, 0, true},
    {DrawStep::kEffectsLayer, kPoolEffects, 1, false},
    {DrawStep::kPool, kPoolCursor, 0, false},
};
const size_t kDrawOrderSize = sizeof kDrawOrder / sizeof kDrawOrder[0];

void WalkDrawOrder(void (*draw)(GameObject&), void (*filter)()) {
  auto draw_one = [draw](GameObject& r) {
    if (r.in_use != 0 && r.visible != 0) draw(r);
  };
  for (const DrawStep& step : kDrawOrder) {
    switch (step.what) {
      case DrawStep::kFilterBilinear:
        if (filter) filter();
        break;
      case DrawStep::kPartner: draw_one(g_partner); break;
      case DrawStep::kPlayer: draw_one(g_player); break;
      case DrawStep::kPool:
      case DrawStep::kEffectsLayer: {
        const PoolView view = PoolOf(step.pool);
        if (step.free_pool) FreeUnusedRecords(view.records, view.count);
        for (size_t i = 0; i < view.count; ++i) {
          GameObject& r = view.records[i];
          if (step.what == DrawStep::kEffectsLayer && r.draw_layer != step.layer) continue;
          draw_one(r);
        }
        break;
      }
    }
  }
}

void StepAnimation(GameObject& r) {
  const GraphicEntry* e = GraphicRow(r.graphic_id);
  if (e == nullptr || e->animated == 0) return;
  if (r.anim_counter >= static_cast<uint32_t>(e->frames_per_step)) {
    r.graphic_id = static_cast<uint32_t>(e->next_id);
    r.anim_counter = 0;
  } else {
    ++r.anim_counter;
  }
}
