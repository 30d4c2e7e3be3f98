// game/objects/backgrounds.cpp - the background layers and the menu cursor.
#include "game/objects/backgrounds.h"

#include "game/frame/game_error.h"
#include "game/frame/game_state.h"
#include "game/frame/input.h"
#include "game/objects/dispatch.h"

namespace {

void LayerStart(GameObject& r, uint32_t kind, uint32_t layer) {
  r.free = 0;
  r.in_use = 1;
  r.kind = kind;
  r.sub_type = layer;
  r.own_index = g_find_free_index;
  r.killed = 0;
  r.parent_index = 0;
  r.state = r.state_timer = 0;
  r.sub_state = r.sub_state_timer = 0;
  r.counter3 = r.timer3 = 0;
  r.visible = 0;
  r.draw_layer = -1;
}

}  // namespace

void CreateBackgroundBase(GameObject& r, uint32_t layer) {
  LayerStart(r, kKindBackgroundBase, layer);
  if (layer == 1) {
    r.x = 0.0;
    r.y = -480.0;
  } else if (layer == 2) {
    r.x = 0.0;
    r.y = -1440.0;
  } else {
    RaiseGameError("BG_BASE_n");
  }
  r.generic_draw = 0;
  r.scale = 1.0;
  r.blend_mode = 0;
  r.visible = 1;
  r.graphic_id = 480;
  r.angle = r.extra_angle = r.spin_step = 0.0;
  r.transparency = 1;
  r.blend_value = 255.0;
}

void CreateBackgroundSub(GameObject& r, uint32_t layer) {
  LayerStart(r, kKindBackgroundSub, layer);
  if (layer == 1) {
    r.x = 0.0;
    r.y = 0.0;
  } else if (layer == 2) {
    r.x = 0.0;
    r.y = -480.0;
  } else {
    RaiseGameError("BG_SUB_n1");
    RaiseGameError("BG_SUB_n2");
    return;
  }
  r.visible = 1;
  r.scale = 1.0;
  r.generic_draw = 0;
  r.graphic_id = 495;
  r.blend_mode = 1;
  r.transparency = 1;
  r.angle = r.extra_angle = r.spin_step = 0.0;
  r.blend_value = 128.0;
}

void UpdateBackgroundSub(GameObject& r) {
  const uint32_t n = r.sub_type;
  const double f = (n == 1 || n == 2) ? 0.77 : (n == 3 || n == 4) ? 0.55 : 1.22;
  r.y += g_game.scroll_speed * f;
  if (r.y > 480.0) r.y -= (n >= 1 && n <= 4) ? 960.0 : 1920.0;
}

void UpdateSelectObject(GameObject& r) {
  uint32_t& entry = r.kind_counters[kCursorEntry];
  if (g_input.pressed_directions & kDirUp) entry = entry <= 1 ? 3 : entry - 1;
  if (g_input.pressed_directions & kDirDown) entry = entry >= 3 ? 1 : entry + 1;
  const bool decided = (g_input.pressed_actions & kActionShot) != 0;
  r.kind_counters[kCursorDecided] = decided ? 1 : 0;
  switch (r.sub_type) {
    case 1:
      if (!decided) break;
      if (entry == 1 || entry == 3) {
        if (entry == 3) g_game.levels[kLevelScene] = kSceneBoot;
        g_game.levels[kLevelPhase] = 0;
        g_game.levels[kLevelSubPhase] = 0;
        for (uint32_t& c : g_game.level_counters) c = 0;
      }
      break;
    case 2:
    case 3:
      break;
    default:
      RaiseGameError("SP_SEL_m");
      break;
  }
}
