// game/bosses/boss_links.h - the creators and updates of the bosses whose
// files do not exist yet, referenced weakly: their addresses are null, the
// dispatch skips their kind and the stage holds in a phase whose boss is null.
//
// The game is a static library, and a weak reference does not pull a file out
// of it: when a boss's file lands, delete its pair here, so that the stage
// timeline's and the dispatch's references become ordinary ones.
#pragma once

#include "game/bosses/boss.h"

#define BOSS_NOT_BUILT __attribute__((weak))

BOSS_NOT_BUILT void CreateBoss5(GameObject& record);
BOSS_NOT_BUILT void UpdateBoss5(GameObject& record);
