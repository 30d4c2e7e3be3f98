// game/bosses/boss_fans.cpp - the stage 3 bosses' random-centred fans.
#include "game/bosses/boss_fans.h"

#include "game/bosses/boss_volleys.h"

namespace {

void Fan(const ShotOrigin& from, const double (&offsets)[9], double speed) {
  const double a = RandBetween(100.0, 440.0);
  for (int i = 0; i < 9; ++i) BossBullet72(from, 2, i % 2 == 0 ? 1 : 2, a + offsets[i], speed);
  VolleySound();
}

}  // namespace

void BossWideFan(const ShotOrigin& from) {
  static constexpr double kOffsets[9] = {-20, -15, -10, -5, 0, 5, 10, 15, 20};
  Fan(from, kOffsets, 2.1);
}

void BossNarrowFan(const ShotOrigin& from) {
  static constexpr double kOffsets[9] = {-13, -10, -7, -5, 0, 5, 7, 10, 13};
  Fan(from, kOffsets, 1.1);
}
