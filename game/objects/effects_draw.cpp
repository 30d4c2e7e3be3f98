// game/objects/effects_draw.cpp - the draws of the effects, each through the
// library's rotated draw centred on the rounded position.
#include <algorithm>
#include <cmath>

#include "game/objects/effects.h"
#include "game/objects/resources.h"
#include "rorud/rorud.h"

namespace {

double Radians(double degrees) { return degrees * kGamePi / 180.0; }

int HandleOf(uint32_t id) {
  const GraphicEntry* e = GraphicRow(id);
  return e != nullptr ? e->handle : -1;
}

void Rotated(double x, double y, double scale, double radians, uint32_t id, uint8_t transparency) {
  DrawGraphicRotated(RoundHalfAway(x), RoundHalfAway(y), scale, radians, HandleOf(id), transparency,
                     0);
}

// The ring of a burst: `count` copies at the ring radius, unturned.
void DrawRing(const GameObject& r) {
  const uint32_t count = r.kind_counters[kRingCount];
  const double radius = r.parts[0].move.x;
  for (uint32_t i = 0; i < count; ++i) {
    const double a = Radians(360.0 * i / count);
    Rotated(r.x + radius * std::cos(a), r.y + radius * std::sin(a), r.scale, 0.0, r.graphic_id,
            r.transparency);
  }
}

int RingBlend(const GameObject& r) { return static_cast<int>(std::min(r.blend_value, 255.0)); }

}  // namespace

void DrawFocusIndicator(GameObject& r) {
  SetBlendModeParam(2, static_cast<int>(r.blend_value));
  const double plus = Radians(r.angle + r.extra_angle);
  const double minus = Radians(r.angle - r.extra_angle);
  Rotated(r.x, r.y, 1.3, plus, 476, r.transparency);
  Rotated(r.x, r.y, 1.4, minus, 476, r.transparency);
  Rotated(r.x, r.y, 1.2, plus, 477, r.transparency);
  Rotated(r.x, r.y, 1.2, minus, 477, r.transparency);
}

void DrawExplosion(GameObject& r) {
  SetBlendModeParam(0, static_cast<int>(r.blend_value));
  const uint32_t f = r.kind_counters[kExplosionFrame];
  Rotated(r.base.x, r.base.y, r.scale, 0.0, 380 + f, r.transparency);
  Rotated(r.parts[0].move.x, r.parts[0].move.y, r.scale, 0.0, 390 + f, r.transparency);
  Rotated(r.parts[1].move.x, r.parts[1].move.y, r.scale, 0.0, 400 + f, r.transparency);
  Rotated(r.parts[2].move.x, r.parts[2].move.y, r.scale, 0.0, 410 + f, r.transparency);
  if (r.parts[3].flag != 0) {
    Rotated(r.parts[3].move.x, r.parts[3].move.y, r.scale, 0.0, 400 + f, r.transparency);
  }
  if (r.parts[4].flag != 0) {
    Rotated(r.parts[4].move.x, r.parts[4].move.y, r.scale, 0.0, 410 + f, r.transparency);
  }
}

void DrawBurst(GameObject& r) {
  SetBlendModeParam(2, RingBlend(r));
  const double core = r.scale * r.value;
  Rotated(r.x, r.y, core, Radians(r.angle + r.extra_angle), r.graphic_id, r.transparency);
  Rotated(r.x, r.y, core, Radians(r.angle - r.extra_angle), r.graphic_id, r.transparency);
  DrawRing(r);
}

void DrawBossBurst(GameObject& r) {
  SetBlendModeParam(2, RingBlend(r));
  DrawRing(r);
}

void DrawBossAura(GameObject& r) {
  SetBlendModeParam(static_cast<int>(r.blend_mode), static_cast<int>(r.blend_value));
  // The aura's turn goes to the draw as it is, without the degree
  // conversion: it spins by whole radians, which is the look it has.
  Rotated(r.x, r.y, r.scale, r.angle + r.extra_angle, r.graphic_id, r.transparency);
  Rotated(r.x, r.y, r.value * r.scale, r.angle - r.extra_angle, r.graphic_id, r.transparency);
}
