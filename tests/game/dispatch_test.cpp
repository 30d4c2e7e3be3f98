// The object update walk, the draw order and the animation step.
#include <gtest/gtest.h>

#include <vector>

#include "game/frame/game_state.h"
#include "game/objects/dispatch.h"
#include "game/objects/resource_tables.h"
#include "game/objects/resources.h"
#include "tests/game/game_fixture.h"

namespace {

using gametest::GameTest;

void Use(GameObject& r, uint32_t kind) {
  r.free = 0;
  r.in_use = 1;
  r.visible = 1;
  r.kind = kind;
}

std::vector<const GameObject*> g_drawn;
int g_filter_at = -1;

void Record(GameObject& r) { g_drawn.push_back(&r); }
void Filter() { g_filter_at = static_cast<int>(g_drawn.size()); }

TEST_F(GameTest, DrawOrderFollowsTheLayers) {
  g_drawn.clear();
  Use(g_backgrounds[0], kKindBackgroundBase);
  Use(g_effects[0], kKindExplosion);
  g_effects[0].draw_layer = 1;
  Use(g_effects[1], kKindExplosion);
  g_effects[1].draw_layer = 5;
  Use(g_effects[2], kKindExplosion);
  g_effects[2].draw_layer = 3;
  Use(g_effects[3], kKindExplosion);
  g_effects[3].draw_layer = -1;  // never drawn
  Use(g_items[0], kKindItem);
  Use(g_player_objects[0], kKindPlayerShot);
  Use(g_enemies[0], kKindZakoA);
  Use(g_partner, 0);
  Use(g_player, 0);
  Use(g_enemy_groups[0], kKindSubUnitA);
  Use(g_enemy_bullets[0], kKindEnemyBullet60);
  Use(g_cursor_pool[0], kKindSelectObject);
  Use(g_menu_objects[0], 0);  // drawn by the overlay, not here
  Use(g_enemies[1], kKindZakoB);
  g_enemies[1].visible = 0;
  WalkDrawOrder(Record, Filter);
  const std::vector<const GameObject*> expected = {
      &g_backgrounds[0], &g_effects[1], &g_items[0],        &g_player_objects[0],
      &g_enemies[0],     &g_effects[2], &g_partner,         &g_player,
      &g_enemy_groups[0], &g_enemy_bullets[0], &g_effects[0], &g_cursor_pool[0]};
  EXPECT_EQ(g_drawn, expected);
  EXPECT_EQ(g_filter_at, 1);  // bilinear from the layer-5 effects on
}

TEST_F(GameTest, InlineKindsAndPause) {
  Use(g_backgrounds[0], kKindBackgroundBase);
  g_backgrounds[0].y = 479.5;
  g_game.scroll_speed = 0.5;
  UpdateObjects();
  EXPECT_EQ(g_backgrounds[0].y, 480.0);  // 480 stays
  UpdateObjects();
  EXPECT_EQ(g_backgrounds[0].y, -1439.5);

  Use(g_effects[7], kKindFocusIndicator);
  g_effects[7].blend_value = 90.0;
  g_effects[7].spin_step = 2.0;
  g_player.x = 100.0;
  g_player.y = 200.0;
  g_player.focus = 1;
  for (int i = 0; i < 5; ++i) UpdateObjects();
  EXPECT_EQ(g_effects[7].blend_value, 96.0);
  EXPECT_EQ(g_effects[7].x, 100.0);
  EXPECT_EQ(g_effects[7].extra_angle, 10.0);
  g_player.focus = 0;
  for (int i = 0; i < 40; ++i) UpdateObjects();
  EXPECT_EQ(g_effects[7].blend_value, 32.0);

  g_game.pause = 1;
  g_player.x = 5.0;
  UpdateObjects();
  EXPECT_EQ(g_effects[7].x, 100.0);  // nothing moves while paused
}

TEST_F(GameTest, KindsAreRoutedOnlyWithinTheirPool) {
  EXPECT_NE(PoolKindUpdate(kPoolEffects, kKindFocusIndicator), nullptr);
  EXPECT_EQ(PoolKindUpdate(kPoolEnemies, kKindFocusIndicator), nullptr);
  EXPECT_NE(PoolKindUpdate(kPoolBackgrounds, kKindBackgroundBase), nullptr);
  EXPECT_EQ(PoolKindUpdate(kPoolEffects, kKindBackgroundBase), nullptr);
  // A background kind in the effects pool is skipped without error.
  Use(g_effects[0], kKindBackgroundBase);
  g_effects[0].y = 10.0;
  g_game.scroll_speed = 3.0;
  UpdateObjects();
  EXPECT_EQ(g_effects[0].y, 10.0);
  EXPECT_TRUE(KindDrawsNothing(kKindPlayerSideIdle));
  EXPECT_TRUE(KindDrawsNothing(kKindEffectIdle));
  EXPECT_FALSE(KindDrawsNothing(kKindExplosion));
}

// Loads the cut table of a group into the graphics table, as the loaders do.
void LoadCuts(CutGroup group) {
  const CutList& list = kCutGroups[group];
  for (int i = 0; i < list.count; ++i) {
    const CutDef& c = list.cuts[i];
    GraphicEntry& e = g_graphics[c.row];
    e.handle = 1;
    e.animated = c.frames_per_step > 0;
    e.frames_per_step = c.frames_per_step;
    e.next_id = c.next;
  }
}

std::vector<uint32_t> RowsOverDraws(GameObject& r, int draws) {
  std::vector<uint32_t> rows;
  for (int i = 0; i < draws; ++i) {
    StepAnimation(r);
    rows.push_back(r.graphic_id);
  }
  return rows;
}

TEST_F(GameTest, PlayerEntrySequenceEndsInItsLoop) {
  LoadCuts(kCutsPlayer);
  GameObject r{};
  r.graphic_id = 28;
  const std::vector<uint32_t> rows = RowsOverDraws(r, 60);
  std::vector<uint32_t> expected;
  const std::pair<uint32_t, int> runs[] = {{28, 7}, {29, 3}, {30, 4}, {31, 3}, {32, 10},
                                           {24, 8}, {25, 8}, {26, 8}, {27, 8}};
  for (auto [row, n] : runs) expected.insert(expected.end(), n, row);
  expected.resize(60, 24);
  EXPECT_EQ(rows[27], 24u);  // row 24 from the 28th draw on
  EXPECT_EQ(rows, expected);
}

TEST_F(GameTest, ExplosionSequenceStopsOnItsLastRow) {
  LoadCuts(kCutsExplosions);
  GameObject r{};
  r.graphic_id = 380;
  const std::vector<uint32_t> rows = RowsOverDraws(r, 50);
  EXPECT_EQ(rows[34], 388u);
  EXPECT_EQ(rows[35], 389u);  // the 36th draw
  EXPECT_EQ(rows[49], 389u);
}

TEST_F(GameTest, StillRowsAndOutOfRangeIdsDoNotAnimate) {
  LoadCuts(kCutsPanel);
  GameObject r{};
  r.graphic_id = 499;
  r.anim_counter = 5;
  StepAnimation(r);
  EXPECT_EQ(r.graphic_id, 499u);
  EXPECT_EQ(r.anim_counter, 5u);
  r.graphic_id = 5000;
  StepAnimation(r);
  EXPECT_EQ(r.graphic_id, 5000u);
}

}  // namespace
