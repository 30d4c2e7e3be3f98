// game/objects/enemy_bullets.h - the bullets that hurt the player (kinds 60
// and 72-75), their hit and graze tests, and the cancel of them all.
#pragma once

#include <cstdint>

#include "game/objects/game_object.h"

// Every in-use bullet that can still be cancelled starts to fade.
void CancelEnemyBullets();
