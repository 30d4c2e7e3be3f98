// game/bosses/boss5.cpp - the last boss: random scatters, turning wings,
// aimed fans and rings, paired sprays, spiral arms with double rings of
// 192 stop-and-turn shots, and spinning arms. It makes its own aura and is
// quiet while it glides.
#include <initializer_list>

#include "game/bosses/boss.h"
#include "game/bosses/boss_fire.h"
#include "game/objects/effects.h"

namespace {

// The running angles in the attack block (cleared when a phase opens).
constexpr int kSpin = 2;
constexpr int kCounterSpin = 7;
constexpr uint32_t kOwnAura = 8;

struct Point {
  double x;
  double y;
};
constexpr Point kPhase4Targets[4] = {{348, 110}, {279, 136}, {141, 136}, {72, 110}};

uint32_t& Cycle(GameObject& b) { return b.attack.counters[kBossCycle]; }
double& Spin(GameObject& b) { return b.attack.values[kSpin]; }
double& CounterSpin(GameObject& b) { return b.attack.values[kCounterSpin]; }

void TurnSpins(GameObject& b) {
  Spin(b) += 3.0;
  CounterSpin(b) -= 3.0;
}

// Six shots each in its own random direction, then one more draw that only
// moves the generator on.
void RandomSix(const GameObject& b) {
  struct Shot {
    uint32_t size, colour;
    double speed;
  };
  static constexpr Shot kShots[6] = {{2, 1, 2.5}, {2, 4, 3.3}, {1, 1, 2.8},
                                     {1, 4, 3.0}, {2, 1, 2.5}, {2, 4, 3.3}};
  for (const Shot& s : kShots) BossBullet72(b, s.size, s.colour, RandRange(360.0, 0.0), s.speed);
  RandRange(360.0, 0.0);
  VolleySound();
}

// Sub-state 0 of phases 1, 2, 3 and 5: the 60-frame pause; phase 4 opens at once.
void OpenAfterPause(GameObject& b) {
  if (PhaseAfter(b.sub_state, b.sub_state_timer, 60)) BossOpenPhase(b, 1);
}

// Sub-states 1 and 2 of phases 1, 2, 3 and 5: a quiet glide to the middle;
// on arrival the travel part starts its own figure there.
void GlideToMiddle(GameObject& b, double step_a) {
  if (b.sub_state == 1) {
    BossSetGlideTarget(b, 210.0, 136.0, kGlideDefault);
    b.sub_state = 2;
    b.sub_state_timer = 0;
    return;
  }
  if (BossGlide(b, 3)) {
    SavePosition(b);
    BossStartTravelSine(b, step_a, 160.0, 0.55, 45.0);
  }
}

void Phase1(GameObject& b) {
  ApproachDown(g_game.background_brightness, -1.3, 128.0);
  switch (b.sub_state) {
    case 0: OpenAfterPause(b); break;
    case 1:
    case 2: GlideToMiddle(b, 1.17); break;
    case 3: {
      BossTravelSineStep(b);
      const uint32_t t = b.sub_state_timer;
      if (t % 5 == 4) RandomSix(b);
      if (t % 60 == 20) {
        // Two wings of shots that brake and turn down.
        struct Wing {
          uint32_t colour;
          double angle, new_angle, limit;
        };
        static constexpr Wing kWings[8] = {{6, 0, 60, 2.6},    {6, 10, 60, 2.6},
                                           {3, 30, 70, 2.2},   {3, 40, 70, 2.2},
                                           {3, 140, 110, 2.2}, {3, 150, 110, 2.2},
                                           {6, 170, 120, 2.6}, {6, 180, 120, 2.6}};
        for (const Wing& w : kWings) {
          BossBullet74(b, 2, 30, w.colour, w.angle, 2.0, -0.02, w.new_angle, 0.02, w.limit);
        }
        VolleySound();
        BossBurstAt(b, 3, 1);
      }
      ++b.sub_state_timer;
      break;
    }
    default: break;
  }
}

void Phase2(GameObject& b) {
  ApproachDown(g_game.background_brightness, -1.3, 128.0);
  switch (b.sub_state) {
    case 0: OpenAfterPause(b); break;
    case 1:
    case 2: GlideToMiddle(b, 1.17); break;
    case 3: {
      BossTravelSineStep(b);
      const uint32_t t = b.sub_state_timer;
      if (t % 20 == 10) {
        static constexpr uint32_t kSizes[9] = {1, 2, 1, 1, 3, 1, 1, 2, 1};
        const double aim = BossAimAngle(b);
        for (int i = 0; i < 9; ++i) {
          BossBullet72(b, kSizes[i], i % 2 == 0 ? 4 : 7, aim + 5.0 * (i - 4), 2.1);
        }
        VolleySound();
        BossBurstAt(b, 1, 1);
      }
      if (t % 60 == 10) {
        const double aim = BossAimAngle(b);
        for (int i = 0; i < 32; ++i) BossBullet72(b, 1, 3, aim + i * 11.25, 2.4);
        VolleySound();
        BossBurstAt(b, 3, 1);
      }
      ++b.sub_state_timer;
      break;
    }
    default: break;
  }
}

// `pairs` pairs of shots, one along a random angle near 0 and one opposite,
// each pair at its own random speed, all turning to fall with a slight slant.
void PairedSpray(const GameObject& b, int pairs, uint32_t colour, uint32_t opposite_colour) {
  for (int i = 0; i < pairs; ++i) {
    const double a = RandRange(36.0, -18.0);
    const double slant = RandRange(10.0, -5.0);
    const double speed = RandRange(2.5, 1.0);
    BossBullet74(b, 2, 60, colour, a, speed, -0.02, slant + 90.0, 0.05, 2.0);
    BossBullet74(b, 2, 60, opposite_colour, a + 180.0, speed, -0.02, slant + 90.0, 0.05, 2.0);
  }
  VolleySound();
  BossBurstAt(b, 2, 1);
}

void Phase3(GameObject& b) {
  ApproachDown(g_game.background_brightness, -0.3, 160.0);
  switch (b.sub_state) {
    case 0: OpenAfterPause(b); break;
    case 1:
    case 2: GlideToMiddle(b, 0.67); break;
    case 3: {
      BossTravelSineStep(b);
      const uint32_t t = b.sub_state_timer;
      if (t % 60 == 0) PairedSpray(b, 10, 3, 2);
      if (t % 90 == 70) PairedSpray(b, 7, 8, 8);
      ++b.sub_state_timer;
      break;
    }
    default: break;
  }
}

// Two spiral arms of slowing-then-rising shots.
void SpiralArms(GameObject& b) {
  struct Arm {
    uint32_t size, colour;
    bool counter;
    double speed, second_accel, second_limit;
  };
  static constexpr Arm kArms[8] = {
      {1, 2, false, 2.8, 0.03, 2.0}, {1, 2, false, 2.8, 0.03, 2.5}, {1, 8, true, 2.8, 0.03, 2.0},
      {2, 8, false, 3.0, 0.04, 2.6}, {2, 8, true, 3.0, 0.04, 2.6},  {1, 2, false, 3.2, 0.05, 3.2},
      {1, 2, true, 3.2, 0.05, 3.8},  {1, 2, true, 3.2, 0.05, 3.2}};
  for (const Arm& a : kArms) {
    BossBullet73(b, a.size, a.colour, a.counter ? CounterSpin(b) : Spin(b), a.speed, -0.12, 0.0,
                 a.second_accel, a.second_limit);
  }
  VolleySound();
}

// 32 directions of six shots that brake and then turn off by `turn` degrees
// either way: 192 shots.
struct RingPair {
  uint32_t size;
  double second_accel, second_limit;
};
void TurningRing(const GameObject& b, double speed, double first_accel, double turn,
                 const RingPair (&pairs)[3]) {
  for (int i = 0; i < 32; ++i) {
    const double t = 11.25 * i;
    for (const RingPair& p : pairs) {
      BossBullet74(b, p.size, 30, 2, t, speed, first_accel, t + turn, p.second_accel,
                   p.second_limit);
      BossBullet74(b, p.size, 30, 8, t, speed, first_accel, t - turn, p.second_accel,
                   p.second_limit);
    }
  }
  VolleySound();
  BossBurstAt(b, 7, 2);
}

void Phase4(GameObject& b) {
  ApproachDown(g_game.background_brightness, -1.3, 128.0);
  switch (b.sub_state) {
    case 0:
      BossOpenPhase(b, 2);
      b.sub_state = 1;
      b.sub_state_timer = 0;
      break;
    case 1: {
      const Point& p = kPhase4Targets[Cycle(b) % 4];
      BossSetGlideTarget(b, p.x, p.y, kGlideDefault);
      b.sub_state = 2;
      b.sub_state_timer = 0;
      break;
    }
    case 2: BossGlide(b, 3); break;
    case 3: {
      ApproachDown(g_game.background_brightness, -0.3, 128.0);
      WobbleStep(b);
      TurnSpins(b);
      const uint32_t t = b.sub_state_timer;
      if (t == 30) BossBurstAt(b, 7, 2);
      if (t < 120 && t % 5 == 1) SpiralArms(b);
      if (t == 30) {
        static constexpr RingPair kFast[3] = {{1, 0.05, 2.7}, {2, 0.04, 1.9}, {2, 0.04, 3.3}};
        TurningRing(b, 4.0, -0.21, 90.0, kFast);
      }
      if (t == 90) {
        static constexpr RingPair kSlow[3] = {{1, 0.05, 3.0}, {2, 0.03, 1.7}, {2, 0.03, 3.1}};
        TurningRing(b, 2.0, -0.07, 30.0, kSlow);
      }
      if (PhaseJumpAfter(b.sub_state, b.sub_state_timer, 180, 1)) ++Cycle(b);
      break;
    }
    default: break;
  }
}

void Phase5(GameObject& b) {
  ApproachDown(g_game.background_brightness, -1.3, 128.0);
  switch (b.sub_state) {
    case 0: OpenAfterPause(b); break;
    case 1:
    case 2: GlideToMiddle(b, 1.17); break;
    case 3: {
      BossTravelSineStep(b);
      TurnSpins(b);
      const uint32_t t = b.sub_state_timer;
      if (t % 60 == 1) BossBurstAt(b, 7, 2);
      if (t % 22 == 1) {
        for (double angle : {Spin(b), CounterSpin(b)}) {
          for (double speed : {2.3, 2.0, 1.7}) {
            BossBullet72(b, 2, 2, angle, speed);
            BossBullet72(b, 1, 8, angle + 180.0, speed);
          }
        }
        VolleySound();
      }
      if (t % 50 == 10) {
        const double aim = BossAimAngle(b);
        for (int i = 0; i < 32; ++i) {
          const bool even = i % 2 == 0;
          BossBullet72(b, even ? 1 : 2, even ? 2 : 8, aim + i * 11.25, 2.3);
        }
        VolleySound();
      }
      if (t % 10 == 9) RandomSix(b);
      ++b.sub_state_timer;
      break;
    }
    default: break;
  }
}

constexpr BossPhases kBoss5Phases = {{nullptr, Phase1, Phase2, Phase3, Phase4, Phase5}};

}  // namespace

void CreateBoss5(GameObject& r) {
  CreateBoss(r, kBossSetups[kBoss5]);
  // Its own aura: the variant no other boss wears.
  if (GameObject* e = TakeFreeEffect()) CreateBossAura(*e, kOwnAura, r.own_index);
}
void UpdateBoss5(GameObject& r) { UpdateBoss(r, kBossSetups[kBoss5], kBoss5Phases); }
