// game/bosses/boss3b.cpp - the stage 3 boss: five attack phases of random
// fans, turning sprays, fast aimed rings and rotating crosses fired from four
// points around it. It fights to the stage music.
#include <initializer_list>

#include "game/bosses/boss.h"
#include "game/bosses/boss_fans.h"
#include "game/bosses/boss_fire.h"
#include "game/bosses/boss_volleys.h"

namespace {

// The rotation and counter-rotation angles, in the attack block so that
// every phase opens with both at 0.
constexpr int kRotation = 2;
constexpr int kCounterRotation = 7;

struct Point {
  double x;
  double y;
};
constexpr Point kPhase1Targets[5] = {{210, 110}, {325, 110}, {95, 136}, {279, 84}, {141, 136}};
constexpr Point kPhase34Targets[4] = {{348, 110}, {279, 136}, {141, 136}, {72, 110}};
constexpr Point kCentre = {210, 136};

uint32_t& Cycle(GameObject& b) { return b.attack.counters[kBossCycle]; }
double& Rotation(GameObject& b) { return b.attack.values[kRotation]; }
double& CounterRotation(GameObject& b) { return b.attack.values[kCounterRotation]; }

// Sub-states 0 and 1 of every phase: the opening pause (60 frames, or none
// with fight stage 2) and the choice of the glide's target. False on the
// sub-states that follow.
bool OpenAndAim(GameObject& b, bool at_once, const Point& target) {
  switch (b.sub_state) {
    case 0:
      if (at_once) {
        BossOpenPhase(b, 2);
        b.sub_state = 1;
        b.sub_state_timer = 0;
      } else if (PhaseAfter(b.sub_state, b.sub_state_timer, 60)) {
        BossOpenPhase(b, 1);
      }
      return true;
    case 1:
      BossSetGlideTarget(b, target.x, target.y, kGlideDefault);
      b.sub_state = 2;
      b.sub_state_timer = 0;
      return true;
    default:
      return false;
  }
}

// 13 turning shots, each with its own angle in [low, low + 90], turn r and
// speed s (drawn in that order): they brake, stop and turn to r + 90.
void Spray(const GameObject& b, double low) {
  for (int i = 0; i < 13; ++i) {
    const double a = RandBetween(low, low + 90.0);
    const double r = RandBetween(-5.0, 5.0);
    const double s = RandBetween(1.0, 3.5);
    BossTurnShot(b, 2, 2, a, s, -0.02, r + 90.0, 0.05, 2.3);
  }
  VolleySound();
}

// The rotating crosses from the points below the boss (three speeds) or
// above it (two speeds).
void LowerCrosses(GameObject& b) {
  static constexpr uint32_t kRight[4] = {2, 3, 2, 3};
  static constexpr uint32_t kLeft[4] = {1, 2, 1, 2};
  static constexpr uint32_t kSizes[4] = {2, 2, 2, 2};
  const double rot = Rotation(b);
  for (double speed : {2.6, 2.1, 1.6}) {
    BossCross(ShotOrigin::Offset(b, 50.0, 50.0), rot, kRight, kSizes, speed);
  }
  for (double speed : {2.6, 2.1, 1.6}) {
    BossCross(ShotOrigin::Offset(b, -50.0, 50.0), rot, kLeft, kSizes, speed);
  }
  VolleySound();
}

void UpperCrosses(GameObject& b) {
  static constexpr uint32_t kColours[4] = {3, 4, 3, 4};
  static constexpr uint32_t kSizes[4] = {2, 2, 2, 2};
  const double rot = Rotation(b);
  for (double dx : {50.0, -50.0}) {
    for (double speed : {2.6, 1.6}) {
      BossCross(ShotOrigin::Offset(b, dx, -50.0), rot, kColours, kSizes, speed);
    }
  }
  VolleySound();
}

void Phase1(GameObject& b) {
  ApproachDown(g_game.background_brightness, -0.3, 160.0);
  if (OpenAndAim(b, false, kPhase1Targets[Cycle(b) % 5])) return;
  const uint32_t t = b.sub_state_timer;
  if (b.sub_state == 2) {
    if (t % 4 == 3) BossWideFan(b);
    if (t % 20 == 3) BossBurstAt(b, 1, 2);
    BossGlide(b, 3);
  } else if (b.sub_state == 3) {
    WobbleStep(b);
    if (t % 3 == 2) BossWideFan(b);
    if (t % 20 == 3) BossBurstAt(b, 1, 2);
    if (PhaseJumpAfter(b.sub_state, b.sub_state_timer, 180, 1)) ++Cycle(b);
  }
}

// The boss holds still at the centre: no sway of either kind.
void Phase2(GameObject& b) {
  ApproachDown(g_game.background_brightness, -0.3, 160.0);
  if (OpenAndAim(b, false, kCentre)) return;
  const uint32_t t = b.sub_state_timer;
  if (b.sub_state == 2) {
    BossGlide(b, 3);
  } else if (b.sub_state == 3) {
    if (t % 10 == 3) BossWideFan(b);
    if (t % 20 == 3) BossBurstAt(b, 1, 2);
    if (t % 60 == 0) {
      Spray(b, 180.0);
      BossBurstAt(b, 2, 1);
    }
    if (t % 60 == 30) {
      Spray(b, 270.0);
      BossBurstAt(b, 5, 1);
    }
    ++b.sub_state_timer;
  }
}

// Seven fast shots evenly round, the first at the player.
void SevenRing(const GameObject& b) {
  const double aim = BossAimAngle(b);
  for (int i = 0; i < 7; ++i) BossBullet72(b, 2, 4, aim + i * 360.0 / 7.0, 5.0);
  BossBurstAt(b, 4, 1);
  VolleySound();
}

void Phase3(GameObject& b) {
  ApproachDown(g_game.background_brightness, -1.3, 128.0);
  if (OpenAndAim(b, true, kPhase34Targets[Cycle(b) % 4])) return;
  const uint32_t t = b.sub_state_timer;
  if (b.sub_state == 2) {
    if (t % 10 == 3) BossNarrowFan(b);
    if (t % 20 == 3) BossBurstAt(b, 1, 2);
    BossGlide(b, 3);
  } else if (b.sub_state == 3) {
    WobbleStep(b);
    if (t % 10 == 3) BossWideFan(b);
    if (t % 20 == 3) BossBurstAt(b, 1, 2);
    if (t % 3 == 1) SevenRing(b);
    if (PhaseJumpAfter(b.sub_state, b.sub_state_timer, 180, 1)) ++Cycle(b);
  }
}

void Phase4(GameObject& b) {
  ApproachDown(g_game.background_brightness, -1.3, 128.0);
  if (OpenAndAim(b, true, kPhase34Targets[Cycle(b) % 4])) return;
  const uint32_t t = b.sub_state_timer;
  if (b.sub_state == 2) {
    Rotation(b) += 3.0;
    if (t % 20 == 2) LowerCrosses(b);
    if (t % 20 == 12) UpperCrosses(b);
    BossGlide(b, 3);
  } else if (b.sub_state == 3) {
    WobbleStep(b);
    Rotation(b) += 3.0;
    if (t % 13 == 2) LowerCrosses(b);
    if (t % 13 == 12) UpperCrosses(b);
    if (PhaseJumpAfter(b.sub_state, b.sub_state_timer, 180, 1)) ++Cycle(b);
  }
}

// Pairs of opposite shots along the rotation and the counter-rotation.
void RotationPairs(GameObject& b) {
  const double rot = Rotation(b);
  for (double speed : {2.3, 2.0, 1.7}) {
    BossBullet72(b, 2, 6, rot, speed);
    BossBullet72(b, 1, 3, rot + 180.0, speed);
  }
  const double counter = CounterRotation(b);
  BossBullet72(b, 2, 6, counter, 2.3);
  BossBullet72(b, 1, 3, counter + 180.0, 2.3);
  VolleySound();
}

void AimedRing32(const GameObject& b) {
  const double aim = BossAimAngle(b);
  for (int i = 0; i < 32; ++i) {
    const bool even = i % 2 == 0;
    BossBullet72(b, even ? 1 : 2, even ? 3 : 6, aim + i * 11.25, 2.3);
  }
  VolleySound();
}

void Phase5(GameObject& b) {
  ApproachDown(g_game.background_brightness, -1.3, 128.0);
  if (OpenAndAim(b, false, kCentre)) return;
  const uint32_t t = b.sub_state_timer;
  if (b.sub_state == 2) {
    if (BossGlide(b, 3)) {
      SavePosition(b);
      BossStartTravelSine(b, 1.17, 160.0, 0.55, 45.0);
    }
  } else if (b.sub_state == 3) {
    BossTravelSineStep(b);
    Rotation(b) += 3.0;
    CounterRotation(b) -= 3.0;
    if (t % 60 == 1) BossBurstAt(b, 3, 2);
    if (t % 22 == 1) RotationPairs(b);
    if (t % 50 == 10) AimedRing32(b);
    if (t % 13 == 2) LowerCrosses(b);
    if (t % 13 == 12) UpperCrosses(b);
    ++b.sub_state_timer;
  }
}

constexpr BossPhases kBoss3BPhases = {{nullptr, Phase1, Phase2, Phase3, Phase4, Phase5}};

}  // namespace

void CreateBoss3B(GameObject& r) { CreateBoss(r, kBossSetups[kBoss3B]); }
void UpdateBoss3B(GameObject& r) { UpdateBoss(r, kBossSetups[kBoss3B], kBoss3BPhases); }
