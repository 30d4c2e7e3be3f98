// game/objects/enemy_fire.h - the firing routine of the ordinary enemies and
// the item drops of destroyed enemies and bosses.
#pragma once

#include "game/objects/game_object.h"

void EnemyFire(GameObject& enemy);
void DropItemsRandom(GameObject& enemy);
void DropItemsFan(GameObject& record);
