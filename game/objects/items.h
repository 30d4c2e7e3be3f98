// game/objects/items.h - the pick-ups: items (kind 80) launched by destroyed
// enemies and bosses, and the small items (kind 81) that grazes make.
#pragma once

#include <cstdint>

#include "game/objects/game_object.h"

inline constexpr int kItemAcceleration = 0;  // kind_values
inline constexpr double kItemPickUpRadius = 32.0;
inline constexpr double kPowerGaugeMax = 1000.0;

void CreateItem(GameObject& record, uint32_t level, double x, double y, double launch_angle);
void CreateSmallItem(GameObject& record, double x, double y);
void UpdateItem(GameObject& record);
void UpdateSmallItem(GameObject& record);

// The pick-up of an item or small item touching the player: gauge or score,
// and the item's removal. True when the item was picked up.
bool PickUpItem(GameObject& record);

void DrawItem(GameObject& record);
void DrawSmallItem(GameObject& record);
