// game/bosses/boss1a.cpp - the stage 1 mid-boss: three attack phases of
// spirals, stop-and-turn rings and released orbs.
#include "game/bosses/boss.h"
#include "game/bosses/boss_fire.h"

namespace {

// The running spiral angles of phase 1 in the attack block.
constexpr int kSpiralA = 0;
constexpr int kSpiralB = 1;

constexpr GlideParams kGlide = {0.3, 0.05, 3.0, -0.07, 1.0};

struct Point {
  double x;
  double y;
};
constexpr Point kPhase1Targets[5] = {{210, 110}, {325, 110}, {95, 136}, {279, 84}, {141, 136}};
constexpr Point kPhase3Targets[4] = {{348, 110}, {279, 136}, {141, 136}, {72, 110}};

uint32_t& Cycle(GameObject& b) { return b.attack.counters[kBossCycle]; }

// Four straight shots fanning downwards.
void VolleyA(const GameObject& b) {
  BossBullet72(b, 1, 3, 70.0, 3.0);
  BossBullet72(b, 1, 6, 82.0, 2.0);
  BossBullet72(b, 1, 6, 98.0, 2.0);
  BossBullet72(b, 1, 3, 110.0, 3.0);
  BossBurstAt(b, 3, 1);
  VolleySound();
}

// Two spiral arms of slowing-then-rising shots.
void SpiralShots(const GameObject& b) {
  struct Row {
    uint32_t size;
    double speed, first_accel, first_limit, second_accel, second_limit;
  };
  static constexpr Row kRows[4] = {{1, 2.8, -0.12, 0.0, 0.03, 2.0},
                                   {2, 3.0, -0.12, 0.0, 0.04, 2.6},
                                   {1, 3.2, -0.12, 0.0, 0.05, 3.2},
                                   {2, 1.0, -0.06, 0.0, 0.04, 2.0}};
  const double a = b.attack.values[kSpiralA];
  const double c = b.attack.values[kSpiralB];
  for (const Row& r : kRows) {
    BossBullet73(b, r.size, 3, a, r.speed, r.first_accel, r.first_limit, r.second_accel,
                 r.second_limit);
    BossBullet73(b, r.size, 6, c, r.speed, r.first_accel, r.first_limit, r.second_accel,
                 r.second_limit);
  }
  VolleySound();
}

// 32 directions of four shots each that brake, then turn off by `turn`
// degrees either way.
void TurningRing(const GameObject& b, double speed, double first_accel, double turn,
                 double fast_accel, double fast_limit, double slow_accel, double slow_limit) {
  for (int i = 0; i < 32; ++i) {
    const double a = i * 11.25;
    BossBullet74(b, 1, 30, 3, a, speed, first_accel, a + turn, fast_accel, fast_limit);
    BossBullet74(b, 1, 30, 6, a, speed, first_accel, a - turn, fast_accel, fast_limit);
    BossBullet74(b, 2, 30, 3, a, speed, first_accel, a + turn, slow_accel, slow_limit);
    BossBullet74(b, 2, 30, 6, a, speed, first_accel, a - turn, slow_accel, slow_limit);
  }
  BossBurstAt(b, 3, 2);
  VolleySound();
}

// The common opening: the 60-frame pause of phases 1 and 2.
bool Pause(GameObject& b, uint32_t fight_stage) {
  if (!PhaseAfter(b.sub_state, b.sub_state_timer, 60)) return false;
  BossOpenPhase(b, fight_stage);
  return true;
}

void Phase1(GameObject& b) {
  ApproachDown(g_game.background_brightness, -0.3, 160.0);
  switch (b.sub_state) {
    case 0:
      Pause(b, 1);
      break;
    case 1: {
      const Point& p = kPhase1Targets[Cycle(b) % 5];
      BossSetGlideTarget(b, p.x, p.y, kGlide);
      b.sub_state = 2;
      b.sub_state_timer = 0;
      break;
    }
    case 2:
      if (b.sub_state_timer % 40 == 0) VolleyA(b);
      if (BossGlide(b, 3)) {
        const double aim = BossAimAngle(b);
        b.attack.values[kSpiralA] = aim + 90.0;
        b.attack.values[kSpiralB] = aim - 90.0;
      }
      break;
    case 3: {
      WobbleStep(b);
      b.attack.values[kSpiralA] += 3.0;
      b.attack.values[kSpiralB] -= 3.0;
      const uint32_t t = b.sub_state_timer;
      switch (Cycle(b) % 3) {
        case 0:
          if (t == 30) BossBurstAt(b, 3, 2);
          if (t % 5 == 1) SpiralShots(b);
          break;
        case 1:
          if (t == 20 || t == 50) TurningRing(b, 4.0, -0.21, 90.0, 0.05, 2.7, 0.04, 1.9);
          break;
        default:
          if (t == 20 || t == 50) TurningRing(b, 2.0, -0.07, 30.0, 0.05, 3.0, 0.03, 1.7);
          break;
      }
      if (t % 40 == 0) VolleyA(b);
      if (PhaseJumpAfter(b.sub_state, b.sub_state_timer, 180, 1)) ++Cycle(b);
      break;
    }
    default:
      break;
  }
}

// Shots that fly out, brake and bend downwards in two wings.
void Phase2Wings(const GameObject& b) {
  struct Row {
    uint32_t colour;
    double angle, new_angle, limit;
  };
  static constexpr Row kRows[8] = {{6, 0, 60, 2.6},    {6, 10, 60, 2.6},   {3, 30, 70, 2.2},
                                   {3, 40, 70, 2.2},   {3, 140, 110, 2.2}, {3, 150, 110, 2.2},
                                   {6, 170, 120, 2.6}, {6, 180, 120, 2.6}};
  for (const Row& r : kRows) {
    BossBullet74(b, 2, 30, r.colour, r.angle, 2.0, -0.02, r.new_angle, 0.02, r.limit);
  }
  BossBurstAt(b, 3, 1);
  VolleySound();
}

void Phase2(GameObject& b) {
  ApproachDown(g_game.background_brightness, -0.3, 160.0);
  switch (b.sub_state) {
    case 0:
      Pause(b, 1);
      break;
    case 1:
      BossSetGlideTarget(b, 210.0, 136.0, kGlide);
      b.sub_state = 2;
      b.sub_state_timer = 0;
      break;
    case 2:
      if (b.sub_state_timer % 40 == 0) VolleyA(b);
      if (BossGlide(b, 3)) {
        SavePosition(b);
        BossStartTravelSine(b, 0.67, 160.0, 0.55, 45.0);
      }
      break;
    case 3: {
      BossTravelSineStep(b);
      const uint32_t t = b.sub_state_timer;
      if (t % 40 == 0) VolleyA(b);
      if (t % 60 == 20) Phase2Wings(b);
      if (t % 90 == 50) {
        const double aim = BossAimAngle(b);
        BossBullet72(b, 3, 6, aim, 3.2);
        BossBullet72(b, 3, 3, aim, 1.8);
        BossBurstAt(b, 6, 2);
        VolleySound();
      }
      ++b.sub_state_timer;
      break;
    }
    default:
      break;
  }
}

void Phase3(GameObject& b) {
  ApproachDown(g_game.background_brightness, -1.3, 128.0);
  ++b.state_timer;
  switch (b.sub_state) {
    case 0:
      BossOpenPhase(b, 2);
      b.sub_state = 1;
      b.sub_state_timer = 0;
      break;
    case 1: {
      const Point& p = kPhase3Targets[Cycle(b) % 4];
      BossSetGlideTarget(b, p.x, p.y, kGlide);
      b.sub_state = 2;
      b.sub_state_timer = 0;
      break;
    }
    case 2:
      BossGlide(b, 3);
      break;
    case 3: {
      ApproachDown(g_game.background_brightness, -0.3, 128.0);
      WobbleStep(b);
      const uint32_t t = b.sub_state_timer;
      if (t == 0) {
        struct Launch {
          SubUnitKind kind;
          uint32_t colour;
        };
        static constexpr Launch kLaunches[4] = {{SubUnitKind::kA, 3},
                                                {SubUnitKind::kB, 6},
                                                {SubUnitKind::kA, 6},
                                                {SubUnitKind::kB, 3}};
        const Launch& l = kLaunches[Cycle(b) % 4];
        LaunchSubUnit(b, l.kind, l.colour, 90.0, 0.2, 0.0);
        BossBurstAt(b, l.colour, 2);
        LaunchSound();
      }
      if (t % 120 == 50) {
        const double aim = BossAimAngle(b);
        BossBullet72(b, 2, 6, aim, 2.2);
        BossBullet72(b, 2, 3, aim, 1.8);
        BossBurstAt(b, 6, 2);
        VolleySound();
      }
      if (PhaseJumpAfter(b.sub_state, b.sub_state_timer, 180, 1)) ++Cycle(b);
      break;
    }
    default:
      break;
  }
}

constexpr BossPhases kBoss1APhases = {{nullptr, Phase1, Phase2, Phase3, nullptr, nullptr}};

}  // namespace

void CreateBoss1A(GameObject& r) { CreateBoss(r, kBossSetups[kBoss1A]); }
void UpdateBoss1A(GameObject& r) { UpdateBoss(r, kBossSetups[kBoss1A], kBoss1APhases); }
