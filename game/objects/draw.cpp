// game/objects/draw.cpp - the play-field draw and the generic object draw.
#include "game/frame/game_error.h"
#include "game/objects/dispatch.h"
#include "game/objects/resources.h"
#include "rorud/rorud.h"

namespace {
void Bilinear() { SetDrawFilterMode(1); }
}  // namespace

void DrawPlayField() {
  SetDrawClipRect(0, 0, 420, 480);
  SetDrawFilterMode(0);
  WalkDrawOrder(DrawObject, Bilinear);
}

void DrawObject(GameObject& r) {
  StepAnimation(r);
  if (r.generic_draw == 0) {
    if (KindDrawsNothing(r.kind)) return;
    if (ObjectFn draw = KindDraw(r.kind)) {
      draw(r);
    } else {
      RaiseGameError("個別描画設定なし");
    }
    return;
  }
  SetBlendModeParam(static_cast<int>(r.blend_mode), static_cast<int>(r.blend_value));
  const GraphicEntry* e = GraphicRow(r.graphic_id);
  const double angle = (r.extra_angle * kGamePi + r.angle * kGamePi) / 180.0;
  DrawGraphicRotated(RoundHalfAway(r.x), RoundHalfAway(r.y), r.scale, angle,
                     e ? e->handle : -1, r.transparency, 0);
}
