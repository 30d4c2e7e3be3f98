// game/objects/dispatch.h - the per-frame object update and the play-field
// draw: which kind runs which function, the walk order and the layer order.
#pragma once

#include <cstddef>
#include <cstdint>

#include "game/objects/game_object.h"

using ObjectFn = void (*)(GameObject& record);

// Object kinds that the dispatch routes.
enum ObjectKind : uint32_t {
  kKindBoss1A = 5, kKindBoss1B = 6, kKindBoss2A = 7, kKindBoss2B = 8,
  kKindBoss3A = 9, kKindBoss3B = 10, kKindBoss4 = 12, kKindBoss5 = 15,
  kKindZakoA = 22, kKindZakoB = 23, kKindZakoC = 24,
  kKindMidZakoA = 30, kKindMidZakoB = 31, kKindMidZakoC = 32, kKindMidZakoD = 33,
  kKindPlayerShot = 37, kKindPlayerBlast = 38, kKindFocusBomb = 40, kKindBomb = 41,
  kKindPlayerSideIdle = 43, kKindPartnerShot = 47, kKindBulletClearer = 51,
  kKindSubUnitA = 52, kKindSubUnitB = 53, kKindSubUnitC = 54,
  kKindEnemyBullet60 = 60, kKindEnemyBullet72 = 72, kKindEnemyBullet73 = 73,
  kKindEnemyBullet74 = 74, kKindEnemyBullet75 = 75,
  kKindItem = 80, kKindSmallItem = 81,
  kKindFocusIndicator = 83, kKindExplosion = 84, kKindBurst = 85, kKindBossBurst = 86,
  kKindBossAura = 87, kKindBackgroundBase = 88, kKindBackgroundSub = 89,
  kKindBombCutIn = 90, kKindPortrait = 91, kKindTalkWindow = 92, kKindEffectIdle = 93,
  kKindSelectObject = 94,
};

inline constexpr uint32_t kMaxKind = 128;

// The pools in their update order.
enum PoolId {
  kPoolEnemies, kPoolEnemyGroups, kPoolPlayerObjects, kPoolEnemyBullets, kPoolItems,
  kPoolEffects, kPoolCursor, kPoolBackgrounds, kPoolCount
};

struct PoolView {
  GameObject* records;
  size_t count;
};
PoolView PoolOf(PoolId pool);

// Per pool and kind: the update, or null when that pool does not run that
// kind (such records are skipped without error).
ObjectFn PoolKindUpdate(PoolId pool, uint32_t kind);
// Kinds whose records the draw dispatch draws with their own function, for
// records whose generic-draw byte is 0.
ObjectFn KindDraw(uint32_t kind);
// Kinds that draw nothing on purpose.
bool KindDrawsNothing(uint32_t kind);

// Players and partners are updated by these when their kinds' code exists.
extern ObjectFn g_update_player;
extern ObjectFn g_update_partner_a;
extern ObjectFn g_update_partner_b;

bool UpdateObjects();

// One step of the play-field draw order.
struct DrawStep {
  enum What { kPool, kEffectsLayer, kPartner, kPlayer, kFilterBilinear } what;
  PoolId pool;     // for kPool
  int layer;       // for kEffectsLayer
  bool free_pool;  // free the records not in use before drawing
};
extern const DrawStep kDrawOrder[];
extern const size_t kDrawOrderSize;

// Walks the draw order: frees the pools it frees and calls `draw` for every
// record in use and visible, and `filter` at the filter change. Used by
// `DrawPlayField`.
void WalkDrawOrder(void (*draw)(GameObject& record), void (*filter)());

// The animation step of a drawn record; returns the graphics-table row to draw.
void StepAnimation(GameObject& record);

void DrawPlayField();
void DrawObject(GameObject& record);
