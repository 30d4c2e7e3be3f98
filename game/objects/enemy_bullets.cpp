// game/objects/enemy_bullets.cpp - enemy bullets.
#include "game/objects/enemy_bullets.h"

void CancelEnemyBullets() {
  for (GameObject& b : g_enemy_bullets) {
    if (b.in_use == 1 && b.can_be_hit == 1) b.killed = 1;
  }
}
