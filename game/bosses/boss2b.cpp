// game/bosses/boss2b.cpp - the stage 2 boss: four-way crosses that turn 3
// degrees a frame, double crosses, aimed rings, sweeping orbs and crosses
// from four points around the boss.
#include "game/bosses/boss.h"
#include "game/bosses/boss_volleys.h"

namespace {

// The rotation of the crosses in the attack block: zeroed when a phase opens.
constexpr int kRotation = 2;

constexpr GlideParams kGlidePhase1 = {0.3, 0.1, 3.0, -0.1, 1.0};

struct Point {
  double x;
  double y;
};
constexpr Point kPhase1Targets[4] = {{302, 110}, {118, 110}, {279, 136}, {141, 136}};

constexpr uint32_t kCrossColours[4] = {4, 2, 4, 2};
constexpr uint32_t kMixedSizes[4] = {1, 2, 1, 2};
constexpr uint32_t kLargeSizes[4] = {2, 2, 2, 2};

constexpr uint32_t kSoundOrb = 13;

uint32_t& Cycle(GameObject& b) { return b.attack.counters[kBossCycle]; }
double& Rotation(GameObject& b) { return b.attack.values[kRotation]; }

// A cross at the outer speed, then the same four at 2.1.
void Cross(const ShotOrigin& from, double rot, const uint32_t (&sizes)[4], double outer) {
  BossCross(from, rot, kCrossColours, sizes, outer);
  BossCross(from, rot, kCrossColours, sizes, 2.1);
}

// The 60-frame pause that opens every phase.
void Pause(GameObject& b) {
  if (PhaseAfter(b.sub_state, b.sub_state_timer, 60)) BossOpenPhase(b, 1);
}

// Sub-states 1 and 2 of phases 2 to 5: one glide to the middle; on arrival
// the travel part's own sine motion around it.
void GlideToMiddle(GameObject& b, double step_a, double amplitude_a, double step_b,
                   double amplitude_b, bool aim_rotation) {
  if (b.sub_state == 1) {
    BossSetGlideTarget(b, 210.0, 136.0, kGlideDefault);
    b.sub_state = 2;
    b.sub_state_timer = 0;
    return;
  }
  if (BossGlide(b, 3)) {
    SavePosition(b);
    BossStartTravelSine(b, step_a, amplitude_a, step_b, amplitude_b);
    if (aim_rotation) Rotation(b) = BossAimAngle(b) + 90.0;
  }
}

void Phase1(GameObject& b) {
  ApproachDown(g_game.background_brightness, -0.3, 160.0);
  switch (b.sub_state) {
    case 0: Pause(b); break;
    case 1: {
      const Point& p = kPhase1Targets[Cycle(b) % 4];
      BossSetGlideTarget(b, p.x, p.y, kGlidePhase1);
      b.sub_state = 2;
      b.sub_state_timer = 0;
      break;
    }
    case 2:
      if (BossGlide(b, 3)) Rotation(b) = BossAimAngle(b) + 90.0;
      break;
    case 3: {
      WobbleStep(b);
      Rotation(b) += 3.0;
      const uint32_t t = b.sub_state_timer;
      const uint32_t pattern = Cycle(b) % 3;
      if (t == 30) BossBurstAt(b, 2, 2);
      const bool fire = t < 170 && (pattern == 2 ? t % 4 == 1 : t % 5 == 1);
      if (fire) {
        Cross(b, Rotation(b), kMixedSizes, pattern == 1 ? 2.7 : 2.6);
        VolleySound();
      }
      if (PhaseJumpAfter(b.sub_state, b.sub_state_timer, 180, 1)) ++Cycle(b);
      break;
    }
    default: break;
  }
}

// Eight shots: pairs at rot + d and rot + 180 + d for d = 0, 3, 6, 9.
void DoubleCrossAt(const GameObject& b, double rot, double speed) {
  for (int i = 0; i < 4; ++i) {
    const double d = 3.0 * i;
    BossBullet72(b, 1, 4, rot + d, speed);
    BossBullet72(b, 2, 2, rot + 180.0 + d, speed);
  }
}

void Phase2(GameObject& b) {
  ApproachDown(g_game.background_brightness, -0.3, 160.0);
  switch (b.sub_state) {
    case 0: Pause(b); break;
    case 1:
    case 2: GlideToMiddle(b, 1.11, 160.0, 0.55, 45.0, true); break;
    case 3: {
      BossTravelSineStep(b);
      Rotation(b) += 3.0;
      const uint32_t t = b.sub_state_timer;
      if (t == 30) BossBurstAt(b, 2, 2);
      if (t % 10 == 1) {
        DoubleCrossAt(b, Rotation(b), 2.7);
        DoubleCrossAt(b, Rotation(b), 2.1);
        VolleySound();
      }
      ++b.sub_state_timer;
      break;
    }
    default: break;
  }
}

void Phase3(GameObject& b) {
  ApproachDown(g_game.background_brightness, -0.3, 160.0);
  switch (b.sub_state) {
    case 0: Pause(b); break;
    case 1:
    case 2: GlideToMiddle(b, 1.17, 30.0, 0.55, 15.0, false); break;
    case 3: {
      BossTravelSineStep(b);
      Rotation(b) += 3.0;
      const uint32_t t = b.sub_state_timer;
      if (t % 5 == 0) {
        Cross(b, Rotation(b), kLargeSizes, 2.6);
        VolleySound();
      }
      if (t % 80 == 10) {
        const double aim = BossAimAngle(b);
        for (int i = 0; i < 20; ++i) BossBullet72(b, 2, 2, aim + 18.0 * i, 2.0);
        VolleySound();
      }
      ++b.sub_state_timer;
      break;
    }
    default: break;
  }
}

void Phase4(GameObject& b) {
  ApproachDown(g_game.background_brightness, -0.3, 160.0);
  switch (b.sub_state) {
    case 0: Pause(b); break;
    case 1:
    case 2: GlideToMiddle(b, 1.17, 30.0, 0.55, 15.0, false); break;
    case 3: {
      BossTravelSineStep(b);
      const uint32_t t = b.sub_state_timer;
      if (t % 70 == 0) {
        LaunchSubUnit(b, SubUnitKind::kC, 2, 0.0, 1.3, 0.0);
        BossBurstAt(b, 2, 2);
        RequestSound(kSoundOrb);
      }
      if (t % 80 == 50) {
        LaunchSubUnit(b, SubUnitKind::kC, 4, 180.0, 1.3, 0.0);
        BossBurstAt(b, 4, 2);
        RequestSound(kSoundOrb);
      }
      if (t % 40 == 10) {
        const double aim = BossAimAngle(b);
        BossBullet72(b, 2, 4, aim, 1.8);
        BossBullet72(b, 2, 2, aim, 2.3);
        VolleySound();
      }
      ++b.sub_state_timer;
      break;
    }
    default: break;
  }
}

void Phase5(GameObject& b) {
  ApproachDown(g_game.background_brightness, -1.3, 128.0);
  switch (b.sub_state) {
    case 0: Pause(b); break;
    case 1:
    case 2: GlideToMiddle(b, 1.17, 160.0, 0.55, 45.0, false); break;
    case 3: {
      BossTravelSineStep(b);
      Rotation(b) += 3.0;
      const uint32_t t = b.sub_state_timer;
      const double rot = Rotation(b);
      if (t % 20 == 2) {
        Cross(ShotOrigin::Offset(b, 50.0, 50.0), rot, kLargeSizes, 2.6);
        Cross(ShotOrigin::Offset(b, -50.0, 50.0), rot, kLargeSizes, 2.6);
        VolleySound();
      }
      if (t % 20 == 12) {
        BossCross(ShotOrigin::Offset(b, 50.0, -50.0), rot, kCrossColours, kLargeSizes, 2.6);
        BossCross(ShotOrigin::Offset(b, -50.0, -50.0), rot, kCrossColours, kLargeSizes, 2.6);
        VolleySound();
      }
      ++b.sub_state_timer;
      break;
    }
    default: break;
  }
}

constexpr BossPhases kBoss2BPhases = {{nullptr, Phase1, Phase2, Phase3, Phase4, Phase5}};

}  // namespace

void CreateBoss2B(GameObject& r) { CreateBoss(r, kBossSetups[kBoss2B]); }
void UpdateBoss2B(GameObject& r) { UpdateBoss(r, kBossSetups[kBoss2B], kBoss2BPhases); }
