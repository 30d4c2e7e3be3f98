// game/bosses/boss_volleys.cpp - shared volley pieces of the later bosses.
#include "game/bosses/boss_volleys.h"

#include "game/objects/game_object.h"

double RandBetween(double low, double high) { return RandRange(high - low, low); }

void BossAimedFan(const ShotOrigin& from, const double (&speeds)[5]) {
  static constexpr uint32_t kColours[5] = {2, 3, 2, 3, 2};
  const double aim = AngleTo(from.x, from.y, g_player.x, g_player.y);
  for (int i = 0; i < 5; ++i) {
    BossBullet72(from, 2, kColours[i], aim + 15.0 * (i - 2), speeds[i]);
  }
  VolleySound();
}

void BossTurnShot(const ShotOrigin& from, uint32_t colour, uint32_t size_class, double angle,
                  double speed, double first_accel, double new_angle, double second_accel,
                  double second_limit) {
  BossBullet74(from, size_class, kLongTurnFrames, colour, angle, speed, first_accel, new_angle,
               second_accel, second_limit);
}

void BossCross(const ShotOrigin& from, double rot, const uint32_t (&colours)[4],
               const uint32_t (&sizes)[4], double speed) {
  for (int i = 0; i < 4; ++i) BossBullet72(from, sizes[i], colours[i], rot + 90.0 * i, speed);
}
