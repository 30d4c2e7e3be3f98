// game/bosses/boss4.cpp - the stage 4 boss: random fans, aimed columns and
// rings, turning sprays and four spinning emitters around it; after its
// closing dialogue it stands a while and vanishes instead of flying off.
#include <initializer_list>

#include "game/bosses/boss.h"
#include "game/bosses/boss_fire.h"
#include "game/objects/enemy_bullets.h"

namespace {

// The running angles in the attack block (cleared when a phase opens).
constexpr int kSpin = 2;
constexpr int kCounterSpin = 7;

struct Point {
  double x;
  double y;
};
constexpr Point kPhase1Targets[5] = {{210, 110}, {325, 110}, {95, 136}, {279, 84}, {141, 136}};
constexpr Point kCornerTargets[4] = {{348, 110}, {279, 136}, {141, 136}, {72, 110}};

uint32_t& Cycle(GameObject& b) { return b.attack.counters[kBossCycle]; }
double& Spin(GameObject& b) { return b.attack.values[kSpin]; }
double& CounterSpin(GameObject& b) { return b.attack.values[kCounterSpin]; }

void TurnSpins(GameObject& b) {
  Spin(b) += 3.0;
  CounterSpin(b) -= 3.0;
}

// A kind-72 shot from a point beside the boss.
void ShotAt(double x, double y, uint32_t size_class, uint32_t colour, double angle, double speed) {
  const uint32_t index = FindFreeEnemyBullet();
  if (index == kPoolFull) return;
  CreateEnemyBullet72(g_enemy_bullets[index], size_class, colour, x, y, angle, speed);
}

// Nine shots around a random centre in [100, 440] degrees, so never centred
// straight down.
constexpr double kWideFan[9] = {-20, -15, -10, -5, 0, 5, 10, 15, 20};
constexpr double kNarrowFan[9] = {-13, -10, -7, -5, 0, 5, 7, 10, 13};
void RandomFan(const GameObject& b, double speed, const double (&offsets)[9]) {
  const double centre = RandRange(340.0, 100.0);
  for (int i = 0; i < 9; ++i) BossBullet72(b, 2, i % 2 == 0 ? 1 : 2, centre + offsets[i], speed);
  VolleySound();
}

void AimedColumn(const GameObject& b) {
  static constexpr double kSpeeds[6] = {3.2, 2.8, 2.4, 2.0, 1.8, 1.6};
  const double aim = BossAimAngle(b);
  for (uint32_t i = 0; i < 6; ++i) BossBullet72(b, 2, i + 1, aim, kSpeeds[i]);
  VolleySound();
  BossBurstAt(b, 6, 2);
}

void AimedRing(const GameObject& b, int count, double step) {
  const double aim = BossAimAngle(b);
  for (int i = 0; i < count; ++i) BossBullet72(b, 2, 4, aim + i * step, 5.0);
  VolleySound();
  BossBurstAt(b, 4, 1);
}

// `count` shots that drift out at random, brake, and fall at a slight slant.
void TurnSpray(const GameObject& b, int count, double from, double to) {
  for (int i = 0; i < count; ++i) {
    const double angle = RandRange(to - from, from);
    const double slant = RandRange(10.0, -5.0);
    const double speed = RandRange(2.5, 1.0);
    BossBullet74(b, 2, 60, 2, angle, speed, -0.02, slant + 90.0, 0.05, 2.3);
  }
  VolleySound();
}

// The emitters 50 pixels off each corner of the boss: a cross at the spin
// angle per speed, the lower ones at three speeds, the upper ones at two.
enum class Emitter { kLowerRight, kLowerLeft, kUpperRight, kUpperLeft };
void FireEmitter(GameObject& b, Emitter e) {
  const bool right = e == Emitter::kLowerRight || e == Emitter::kUpperRight;
  const bool lower = e == Emitter::kLowerRight || e == Emitter::kLowerLeft;
  const double x = b.x + (right ? 50.0 : -50.0);
  const double y = b.y + (lower ? 50.0 : -50.0);
  static constexpr double kLowerSpeeds[3] = {2.6, 2.1, 1.6};
  static constexpr double kUpperSpeeds[2] = {2.6, 1.6};
  // Colours of the arms +0/+180 and +90/+270.
  const uint32_t along = lower ? (right ? 2 : 1) : 3;
  const uint32_t across = lower ? (right ? 3 : 2) : 4;
  const double* speeds = lower ? kLowerSpeeds : kUpperSpeeds;
  const int speed_count = lower ? 3 : 2;
  for (int s = 0; s < speed_count; ++s) {
    for (int arm = 0; arm < 4; ++arm) {
      ShotAt(x, y, 2, arm % 2 == 0 ? along : across, Spin(b) + arm * 90.0, speeds[s]);
    }
  }
  VolleySound();
}
void LowerEmitters(GameObject& b) {
  FireEmitter(b, Emitter::kLowerRight);
  FireEmitter(b, Emitter::kLowerLeft);
}
void UpperEmitters(GameObject& b) {
  FireEmitter(b, Emitter::kUpperRight);
  FireEmitter(b, Emitter::kUpperLeft);
}

// Sub-state 0: phases 1, 2 and 5 pause 60 frames, 3 and 4 open at once.
void OpenAfterPause(GameObject& b) {
  if (PhaseAfter(b.sub_state, b.sub_state_timer, 60)) BossOpenPhase(b, 1);
}
void OpenAtOnce(GameObject& b) {
  BossOpenPhase(b, 2);
  b.sub_state = 1;
  b.sub_state_timer = 0;
}

void ChooseTarget(GameObject& b, const Point& p) {
  BossSetGlideTarget(b, p.x, p.y, kGlideDefault);
  b.sub_state = 2;
  b.sub_state_timer = 0;
}

// The end of a 180-frame attack loop: a new target and the next pattern.
void EndLoopAfter180(GameObject& b) {
  if (PhaseJumpAfter(b.sub_state, b.sub_state_timer, 180, 1)) ++Cycle(b);
}

void Phase1(GameObject& b) {
  ApproachDown(g_game.background_brightness, -0.3, 160.0);
  const uint32_t t = b.sub_state_timer;
  switch (b.sub_state) {
    case 0: OpenAfterPause(b); break;
    case 1: ChooseTarget(b, kPhase1Targets[Cycle(b) % 5]); break;
    case 2:
      if (t % 4 == 3) RandomFan(b, 2.1, kWideFan);
      if (t % 20 == 3) BossBurstAt(b, 1, 2);
      BossGlide(b, 3);
      break;
    case 3:
      WobbleStep(b);
      if (t % 3 == 2) RandomFan(b, 2.1, kWideFan);
      if (t % 20 == 3) BossBurstAt(b, 1, 2);
      if (t % 20 == 10) AimedColumn(b);
      if (t % 3 == 1) AimedRing(b, 5, 72.0);
      EndLoopAfter180(b);
      break;
    default: break;
  }
}

// Phases 2 and 5 glide once to the middle.
void GlideToMiddle(GameObject& b) {
  if (b.sub_state == 1) {
    ChooseTarget(b, Point{210.0, 136.0});
    return;
  }
  if (BossGlide(b, 3)) SavePosition(b);
}

void Phase2(GameObject& b) {
  ApproachDown(g_game.background_brightness, -0.3, 160.0);
  const uint32_t t = b.sub_state_timer;
  switch (b.sub_state) {
    case 0: OpenAfterPause(b); break;
    case 1:
    case 2: GlideToMiddle(b); break;
    case 3:
      // The boss stands still while it sprays.
      if (t % 10 == 3) RandomFan(b, 2.1, kWideFan);
      if (t % 20 == 3) BossBurstAt(b, 1, 2);
      if (t % 60 == 0) {
        TurnSpray(b, 13, 180.0, 270.0);
        BossBurstAt(b, 2, 1);
      }
      if (t % 13 == 0) {
        TurnSpray(b, 7, 270.0, 360.0);
        BossBurstAt(b, 5, 1);
      }
      ++b.sub_state_timer;
      break;
    default: break;
  }
}

void Phase3(GameObject& b) {
  ApproachDown(g_game.background_brightness, -1.3, 128.0);
  const uint32_t t = b.sub_state_timer;
  switch (b.sub_state) {
    case 0: OpenAtOnce(b); break;
    case 1: ChooseTarget(b, kCornerTargets[Cycle(b) % 4]); break;
    case 2:
      if (t % 10 == 3) RandomFan(b, 1.1, kNarrowFan);
      if (t % 20 == 3) BossBurstAt(b, 1, 2);
      BossGlide(b, 3);
      break;
    case 3:
      ApproachDown(g_game.background_brightness, -0.3, 128.0);
      WobbleStep(b);
      if (t % 10 == 3) RandomFan(b, 2.1, kWideFan);
      if (t % 20 == 3) BossBurstAt(b, 1, 2);
      if (t % 3 == 1) AimedRing(b, 15, 24.0);
      EndLoopAfter180(b);
      break;
    default: break;
  }
}

void Phase4(GameObject& b) {
  ApproachDown(g_game.background_brightness, -1.3, 128.0);
  const uint32_t t = b.sub_state_timer;
  switch (b.sub_state) {
    case 0: OpenAtOnce(b); break;
    case 1: ChooseTarget(b, kCornerTargets[Cycle(b) % 4]); break;
    case 2:
      TurnSpins(b);
      if (t % 10 == 2) LowerEmitters(b);
      if (t % 20 == 12) UpperEmitters(b);
      BossGlide(b, 3);
      break;
    case 3:
      ApproachDown(g_game.background_brightness, -0.3, 128.0);
      WobbleStep(b);
      TurnSpins(b);
      if (t % 5 == 2) LowerEmitters(b);
      if (t % 13 == 12) UpperEmitters(b);
      EndLoopAfter180(b);
      break;
    default: break;
  }
}

// Eight shots along the two spin arms: the spin arm at three speeds, then
// the counter-spin arm at the fastest.
void SpinArms(GameObject& b) {
  for (double speed : {2.3, 2.0, 1.7}) {
    BossBullet72(b, 2, 6, Spin(b), speed);
    BossBullet72(b, 1, 3, Spin(b) + 180.0, speed);
  }
  BossBullet72(b, 2, 6, CounterSpin(b), 2.3);
  BossBullet72(b, 1, 3, CounterSpin(b) + 180.0, 2.3);
  VolleySound();
}

void Phase5(GameObject& b) {
  ApproachDown(g_game.background_brightness, -1.3, 128.0);
  const uint32_t t = b.sub_state_timer;
  switch (b.sub_state) {
    case 0: OpenAfterPause(b); break;
    case 1:
    case 2:
      GlideToMiddle(b);
      // On arrival the travel part starts its own figure around the middle.
      if (b.sub_state == 3) BossStartTravelSine(b, 1.17, 160.0, 0.55, 45.0);
      break;
    case 3: {
      BossTravelSineStep(b);
      TurnSpins(b);
      if (t % 60 == 1) BossBurstAt(b, 3, 2);
      if (t % 22 == 1) SpinArms(b);
      if (t % 50 == 10) {
        const double aim = BossAimAngle(b);
        for (int i = 0; i < 32; ++i) {
          const bool even = i % 2 == 0;
          BossBullet72(b, even ? 1 : 2, even ? 3 : 6, aim + i * 11.25, 2.3);
        }
        VolleySound();
      }
      if (t % 13 == 2) LowerEmitters(b);
      if (t % 13 == 12) UpperEmitters(b);
      if (t % 20 == 10) {
        const double aim = BossAimAngle(b);
        for (int i = 0; i < 24; ++i) {
          const double a = aim + 15.0 * i;
          BossBullet72(b, 1, 4, a, 2.0);
          BossBullet72(b, 2, 1, a + 10.0, 2.5);
          BossBullet72(b, 2, 4, a, 3.0);
        }
        VolleySound();
        BossBurstAt(b, 4, 1);
      }
      ++b.sub_state_timer;
      break;
    }
    default: break;
  }
}

constexpr BossPhases kBoss4Phases = {{nullptr, Phase1, Phase2, Phase3, Phase4, Phase5}};

}  // namespace

void CreateBoss4(GameObject& r) { CreateBoss(r, kBossSetups[kBoss4]); }
void UpdateBoss4(GameObject& r) { UpdateBoss(r, kBossSetups[kBoss4], kBoss4Phases); }
