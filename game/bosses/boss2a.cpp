// game/bosses/boss2a.cpp - the stage 2 mid-boss: aimed fans, rings of shots
// that brake and fall with a wobble, and double streams sent both ways.
#include "game/bosses/boss.h"
#include "game/bosses/boss_volleys.h"

namespace {

struct Point {
  double x;
  double y;
};
constexpr Point kPhase1Targets[5] = {{256, 110}, {164, 110}, {279, 136}, {141, 136}, {210, 162}};
constexpr Point kPhase3Targets[4] = {{348, 110}, {279, 136}, {141, 136}, {72, 110}};

constexpr double kPhase1Fan[5] = {2.3, 2.2, 2.1, 2.2, 2.3};
constexpr double kPhase2Fan[5] = {2.3, 2.1, 1.9, 2.1, 2.3};

uint32_t& Cycle(GameObject& b) { return b.attack.counters[kBossCycle]; }

void VolleyEnd(const GameObject& b) {
  VolleySound();
  BossBurstAt(b, 2, 1);
}

// A shot that brakes, stops, and falls with a wobble of up to 5 degrees
// either side of straight down; its wobble is one draw of its own.
void FallingShot(const GameObject& b, uint32_t colour, uint32_t size_class, double angle,
                 double speed, double first_accel) {
  const double r = RandBetween(-5.0, 5.0);
  BossTurnShot(b, colour, size_class, angle, speed, first_accel, r + 90.0, 0.05, 2.0);
}

// Phase 1's ring: 12 directions, a small and a large shot in each.
void Phase1Ring(GameObject& b) {
  const bool even = Cycle(b) % 2 == 0;
  for (int i = 0; i < 12; ++i) {
    const double a = i * 30.0;
    FallingShot(b, even ? 2 : 3, 1, a, 2.0, -0.03);
    FallingShot(b, even ? 3 : 2, 2, a, even ? 3.0 : 3.5, -0.03);
  }
  VolleyEnd(b);
}

// `pairs` pairs of shots sent out sideways both ways, each pair with its own
// spread a, wobble r and speed s (drawn in that order).
void SidewaysPairs(const GameObject& b, int pairs, bool small_first) {
  for (int i = 0; i < pairs; ++i) {
    const double a = RandBetween(-18.0, 18.0);
    const double r = RandBetween(-5.0, 5.0);
    const double s = RandBetween(1.0, 3.5);
    if (small_first) {
      BossTurnShot(b, 3, 1, a, s, -0.02, r + 90.0, 0.05, 2.0);
      BossTurnShot(b, 2, 2, a + 180.0, s, -0.02, r + 90.0, 0.05, 2.0);
    } else {
      BossTurnShot(b, 2, 2, a, s, -0.02, r + 90.0, 0.05, 2.0);
      BossTurnShot(b, 3, 1, a + 180.0, s, -0.02, r + 90.0, 0.05, 2.0);
    }
  }
  VolleyEnd(b);
}

// Phase 3's burst: 20 groups of two sideways pairs at two speeds, then a
// ring of 16 falling pairs.
void Phase3Burst(const GameObject& b) {
  for (int i = 0; i < 20; ++i) {
    const double a = RandBetween(-18.0, 18.0);
    const double r = RandBetween(-5.0, 5.0);
    const double s1 = RandBetween(1.0, 5.5);
    BossTurnShot(b, 3, 1, a, s1, -0.02, r + 90.0, 0.05, 2.0);
    BossTurnShot(b, 2, 1, a + 180.0, s1, -0.02, r + 90.0, 0.05, 2.0);
    const double s2 = RandBetween(1.0, 5.5);
    BossTurnShot(b, 3, 1, a, s2, -0.02, r + 90.0, 0.05, 2.0);
    BossTurnShot(b, 2, 1, a + 180.0, s2, -0.02, r + 90.0, 0.05, 2.0);
  }
  for (int i = 0; i < 16; ++i) {
    const double a = i * 22.5;
    FallingShot(b, 2, 2, a, 2.0, -0.03);
    FallingShot(b, 3, 2, a, 3.0, -0.03);
  }
  VolleyEnd(b);
}

void ChooseTarget(GameObject& b, const Point& p) {
  BossSetGlideTarget(b, p.x, p.y, kGlideDefault);
  b.sub_state = 2;
  b.sub_state_timer = 0;
}

void Phase1(GameObject& b) {
  ApproachDown(g_game.background_brightness, -0.3, 160.0);
  switch (b.sub_state) {
    case 0:
      if (PhaseAfter(b.sub_state, b.sub_state_timer, 60)) BossOpenPhase(b, 1);
      break;
    case 1: ChooseTarget(b, kPhase1Targets[Cycle(b) % 5]); break;
    case 2: BossGlide(b, 3); break;
    case 3: {
      WobbleStep(b);
      const uint32_t t = b.sub_state_timer;
      if (t % 100 == 50) BossAimedFan(b, kPhase1Fan);
      if (t == 30) Phase1Ring(b);
      if (PhaseJumpAfter(b.sub_state, b.sub_state_timer, 180, 1)) ++Cycle(b);
      break;
    }
    default: break;
  }
}

void Phase2(GameObject& b) {
  ApproachDown(g_game.background_brightness, -0.3, 160.0);
  switch (b.sub_state) {
    case 0:
      if (PhaseAfter(b.sub_state, b.sub_state_timer, 60)) BossOpenPhase(b, 1);
      break;
    case 1: ChooseTarget(b, {210.0, 136.0}); break;
    case 2:
      if (BossGlide(b, 3)) {
        SavePosition(b);
        BossStartTravelSine(b, 0.67, 160.0, 0.55, 45.0);
      }
      break;
    case 3: {
      BossTravelSineStep(b);
      const uint32_t t = b.sub_state_timer;
      if (t % 100 == 50) BossAimedFan(b, kPhase2Fan);
      if (t % 240 == 0) SidewaysPairs(b, 14, true);
      if (t % 160 == 70) SidewaysPairs(b, 7, false);
      ++b.sub_state_timer;
      break;
    }
    default: break;
  }
}

void Phase3(GameObject& b) {
  ApproachDown(g_game.background_brightness, -1.3, 128.0);
  switch (b.sub_state) {
    case 0:
      BossOpenPhase(b, 2);
      b.sub_state = 1;
      b.sub_state_timer = 0;
      break;
    case 1: ChooseTarget(b, kPhase3Targets[Cycle(b) % 4]); break;
    case 2: BossGlide(b, 3); break;
    case 3:
      ApproachDown(g_game.background_brightness, -0.3, 128.0);
      WobbleStep(b);
      if (b.sub_state_timer == 50) Phase3Burst(b);
      if (PhaseJumpAfter(b.sub_state, b.sub_state_timer, 180, 1)) ++Cycle(b);
      break;
    default: break;
  }
}

constexpr BossPhases kBoss2APhases = {{nullptr, Phase1, Phase2, Phase3, nullptr, nullptr}};

}  // namespace

void CreateBoss2A(GameObject& r) { CreateBoss(r, kBossSetups[kBoss2A]); }
void UpdateBoss2A(GameObject& r) { UpdateBoss(r, kBossSetups[kBoss2A], kBoss2APhases); }
