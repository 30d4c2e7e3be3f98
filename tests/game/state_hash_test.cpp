// The per-frame state hash sees what a replay must reproduce.
#include <gtest/gtest.h>

#include "game/frame/game_state.h"
#include "game/objects/game_object.h"
#include "rorud/rorud.h"
#include "tests/game/game_fixture.h"
#include "tests/game/state_hash.h"

namespace {

using gametest::FrameStateHash;
using gametest::GameTest;

TEST_F(GameTest, HashFollowsRecordsGeneratorAndState) {
  SeedRandom(33557799);
  const uint64_t h0 = FrameStateHash();
  EXPECT_EQ(FrameStateHash(), h0);
  g_enemy_bullets[1999].x = 5.0;  // not in use: not seen
  EXPECT_EQ(FrameStateHash(), h0);
  g_enemy_bullets[1999].in_use = 1;
  const uint64_t h1 = FrameStateHash();
  EXPECT_NE(h1, h0);
  g_enemy_bullets[1999].x = -0.0;  // the bits of a double count
  EXPECT_NE(FrameStateHash(), h1);
  g_enemy_bullets[1999].x = 5.0;
  EXPECT_EQ(FrameStateHash(), h1);
  GetRandomRange(10);
  EXPECT_NE(FrameStateHash(), h1);
  SeedRandom(33557799);
  EXPECT_EQ(FrameStateHash(), h1);
  g_game.levels[kLevelPhase] = 3;
  EXPECT_NE(FrameStateHash(), h1);
}

}  // namespace
