// game/bosses/boss_volleys.h - volley pieces that several bosses of the later
// stages share: the ranged random value, the five-shot aimed fan, the
// turning kind-74 shot with its 60-frame first leg, and the four-way cross.
#pragma once

#include <cstdint>

#include "game/bosses/boss_fire.h"

// A value uniform in [low, high] in steps of 1/65536, both ends possible: one
// generator draw.
double RandBetween(double low, double high);

// Five kind-72 shots of size class 2 aimed at the player from `from`: colours
// 2, 3, 2, 3, 2 at aim - 30, aim - 15, aim, aim + 15, aim + 30, each at its
// own speed; then the volley sound.
void BossAimedFan(const ShotOrigin& from, const double (&speeds)[5]);

// A kind-74 shot whose first leg lasts 60 frames, with the arguments in the
// order the bosses' volleys name them: colour, size class, angle, speed,
// first acceleration, new angle, second acceleration, second limit.
inline constexpr uint32_t kLongTurnFrames = 60;
void BossTurnShot(const ShotOrigin& from, uint32_t colour, uint32_t size_class, double angle,
                  double speed, double first_accel, double new_angle, double second_accel,
                  double second_limit);

// Four kind-72 shots at rot, rot + 90, rot + 180 and rot + 270, the n-th in
// colour `colours[n]` and size class `sizes[n]`, all at `speed`. No sound:
// a volley of crosses requests it once.
void BossCross(const ShotOrigin& from, double rot, const uint32_t (&colours)[4],
               const uint32_t (&sizes)[4], double speed);
