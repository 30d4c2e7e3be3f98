// game/objects/backgrounds_draw.cpp - the draws of the background layers and
// the menu cursor.
#include "game/frame/game_error.h"
#include "game/frame/game_state.h"
#include "game/objects/backgrounds.h"
#include "game/objects/resources.h"
#include "rorud/rorud.h"

namespace {

int HandleOf(uint32_t id) {
  const GraphicEntry* e = GraphicRow(id);
  return e != nullptr ? e->handle : -1;
}

}  // namespace

void DrawBackgroundLayer(GameObject& r) {
  const int b = RoundHalfAway(g_game.background_brightness);
  SetDrawBrightRGB(b, b, b);
  SetBlendModeParam(static_cast<int>(r.blend_mode), static_cast<int>(r.blend_value));
  // Backgrounds are opaque pictures: no transparent colour.
  DrawGraphicAt(RoundHalfAway(r.x), RoundHalfAway(r.y), HandleOf(r.graphic_id), 0);
  SetDrawBrightRGB(255, 255, 255);
}

void DrawSelectObject(GameObject& r) {
  SetBlendModeParam(static_cast<int>(r.blend_mode), static_cast<int>(r.blend_value));
  DrawGraphicAt(RoundHalfAway(r.x), RoundHalfAway(r.y), HandleOf(r.graphic_id), r.transparency);
  const uint32_t entry = r.kind_counters[kCursorEntry];
  if (entry < 1 || entry > 3) {
    RaiseGameError("SP_SEL_draw");
    return;
  }
  DrawGraphicAt(30, 130 + 30 * static_cast<int>(entry - 1), HandleOf(523), r.transparency);
}
