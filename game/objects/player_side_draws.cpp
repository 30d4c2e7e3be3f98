// game/objects/player_side_draws.cpp - the own draws of the items, the bombs
// the bullet clearer and the blast.
#include <cmath>
#include <initializer_list>

#include "game/objects/dispatch.h"
#include "game/objects/items.h"
#include "game/objects/player_shots.h"
#include "game/objects/resources.h"
#include "rorud/rorud.h"

namespace {

double Rad(double degrees) { return degrees * kGamePi / 180.0; }

int Handle(uint32_t graphic_id) {
  const GraphicEntry* e = GraphicRow(graphic_id);
  return e != nullptr ? e->handle : -1;
}

void Blend(uint32_t mode, double value) {
  SetBlendModeParam(static_cast<int>(mode), static_cast<int>(value));
}

void Rotated(double x, double y, double scale, double angle_radians, uint32_t graphic,
             int transparent) {
  DrawGraphicRotated(RoundHalfAway(x), RoundHalfAway(y), scale, angle_radians, Handle(graphic),
                     transparent, 0);
}

}  // namespace

void DrawItem(GameObject& r) {
  const double turn = Rad(r.angle + r.extra_angle);
  Blend(1, r.blend_value);
  Rotated(r.x, r.y, r.scale, turn, r.graphic_id, r.transparency);
  r.kind_extra[0] += Rad(5.0);
  Blend(r.blend_mode, r.blend_value);
  Rotated(r.x + 2.0 * std::cos(r.kind_extra[0]), r.y + 2.0 * std::sin(r.kind_extra[0]),
          r.scale - 0.025, turn, r.graphic_id, r.transparency);
  r.kind_extra[1] -= Rad(3.0);
  Blend(2, r.blend_value);
  Rotated(r.x + 4.0 * std::cos(r.kind_extra[1]), r.y + 4.0 * std::sin(r.kind_extra[1]),
          r.scale - 0.05, turn, r.graphic_id, r.transparency);
  uint32_t& pulse = r.kind_counters[0];
  pulse += 10;
  if (pulse > 255) pulse = 30;
  r.blend_value = pulse;
}

void DrawSmallItem(GameObject& r) {
  Blend(1, r.blend_value);
  Rotated(r.x, r.y, 0.4, Rad(r.angle + r.extra_angle), r.graphic_id, r.transparency);
}

void DrawBomb(GameObject& r) {
  const double second = r.kind_values[kBombSecondAngle];
  Blend(1, r.blend_value);
  Rotated(r.x, r.y, r.scale, Rad(second), 132, 1);
  Blend(2, r.blend_value);
  Rotated(r.x, r.y, r.scale, Rad(360.0 - second), 132, 1);
  Blend(2, r.blend_value / 2.0);
  const double ring = r.kind_values[kBombRingRadius];
  for (int i = 0; i < 5; ++i) {
    for (double a : {72.0 * i + r.extra_angle, 360.0 - (72.0 * i + r.extra_angle)}) {
      Rotated(r.x + ring * std::cos(Rad(a)), r.y + ring * std::sin(Rad(a)),
              r.kind_values[kBombSatelliteScale], 0.0, 135, 1);
    }
  }
}

void DrawFocusBomb(GameObject& r) {
  double value = r.blend_value;
  if (value > 255.0) value = 255.0;
  const int blend = static_cast<int>(value);
  SetBlendModeParam(1, blend);
  Rotated(r.x, r.y, r.value * r.scale, Rad(r.angle + r.extra_angle), r.graphic_id, 1);
  SetBlendModeParam(2, blend);
  const double ring = r.kind_values[kBombRingRadius];
  for (int i = 0; i < 10; ++i) {
    Rotated(r.x + ring * std::cos(Rad(36.0 * i)), r.y + ring * std::sin(Rad(36.0 * i)), r.scale,
            0.0, r.graphic_id, r.transparency);
  }
}

void DrawBulletClearer(GameObject& r) {
  // The sum and the difference are handed over as radians as they stand,
  // so the picture turns by two radians a frame.
  const double plus = r.angle + r.extra_angle;
  const double minus = r.angle - r.extra_angle;
  Blend(1, r.blend_value);
  Rotated(r.x, r.y, r.scale, plus, r.graphic_id, 1);
  Rotated(r.x, r.y, r.scale, minus, r.graphic_id, 1);
  Blend(2, r.blend_value);
  Rotated(r.x, r.y, r.scale / 0.7, plus, r.graphic_id, 1);
  Rotated(r.x, r.y, r.scale / 0.7, minus, r.graphic_id, 1);
}

void DrawPlayerBlast(GameObject& r) {
  const double plus = Rad(r.angle + r.extra_angle);
  const double minus = Rad(r.angle - r.extra_angle);
  const double ring = r.kind_values[kBlastRingRadius];
  Blend(2, r.blend_value);
  Rotated(r.x, r.y, 1.2, plus, r.graphic_id, r.transparency);
  Rotated(r.x, r.y, 1.2, minus, r.graphic_id, r.transparency);
  Rotated(r.x, r.y - ring, 1.2, plus, r.graphic_id, r.transparency);
  Rotated(r.x + ring * std::cos(Rad(315.0)), r.y + ring * std::sin(Rad(315.0)), 1.2, plus,
          r.graphic_id, r.transparency);
  Rotated(r.x + ring * std::cos(Rad(225.0)), r.y + ring * std::sin(Rad(225.0)), 1.2, minus,
          r.graphic_id, r.transparency);
}
