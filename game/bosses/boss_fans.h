// game/bosses/boss_fans.h - the nine-shot fans of the stage 3 bosses: one
// random centre a drawn in [100, 440] degrees (so a fan may point anywhere,
// up the screen too), shots at fixed offsets from it.
#pragma once

#include "game/bosses/boss_fire.h"

// Nine kind-72 shots, size class 2, colours 1, 2, 1, ... at a - 20 .. a + 20
// in steps of 5, speed 2.1; then the volley sound.
void BossWideFan(const ShotOrigin& from);
// The same at a - 13, -10, -7, -5, 0, +5, +7, +10, +13 and speed 1.1.
void BossNarrowFan(const ShotOrigin& from);
