// tests/game/state_hash.h - a hash of everything a replay must reproduce,
// taken once per frame by the whole-game tests: the game state, the player,
// the random generator's position and every record in use (doubles by their
// bits).
#pragma once

#include <cstdint>

namespace gametest {

// Without `animation`, the graphic rows that the draw pass steps (also while
// the game is paused) are left out: what remains is what the updates decide.
uint64_t FrameStateHash(bool animation = true);

}  // namespace gametest
