// game/objects/backgrounds.h - the two scrolling background layers of a
// stage and the menu cursor kind.
#pragma once

#include <cstdint>

#include "game/objects/game_object.h"

// The cursor entry of a menu cursor record (1 to 3), and whether decide was
// pressed in its last update.
inline constexpr int kCursorEntry = 0;
inline constexpr int kCursorDecided = 1;

// Base layer (kind 88): a 420 x 960 picture over a 1920-pixel cycle.
void CreateBackgroundBase(GameObject& record, uint32_t layer);
// Parallax layer (kind 89): 420 x 480, half transparent, 960-pixel cycle.
void CreateBackgroundSub(GameObject& record, uint32_t layer);
void UpdateBackgroundSub(GameObject& record);
void DrawBackgroundLayer(GameObject& record);

void UpdateSelectObject(GameObject& record);
void DrawSelectObject(GameObject& record);
