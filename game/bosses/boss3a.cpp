// game/bosses/boss3a.cpp - the stage 3 mid-boss: a single attack phase of
// random-centred fans between glides. Its last phase is its first, so its
// first life-out is its defeat.
#include "game/bosses/boss.h"
#include "game/bosses/boss_fans.h"
#include "game/bosses/boss_fire.h"

namespace {

struct Point {
  double x;
  double y;
};
constexpr Point kTargets[5] = {{256, 110}, {164, 110}, {279, 136}, {141, 136}, {210, 162}};

uint32_t& Cycle(GameObject& b) { return b.attack.counters[kBossCycle]; }

void Phase1(GameObject& b) {
  ApproachDown(g_game.background_brightness, -0.3, 160.0);
  // No later phase takes the state timer over, so it counts here.
  ++b.state_timer;
  switch (b.sub_state) {
    case 0:
      if (PhaseAfter(b.sub_state, b.sub_state_timer, 60)) BossOpenPhase(b, 1);
      break;
    case 1: {
      const Point& p = kTargets[Cycle(b) % 5];
      BossSetGlideTarget(b, p.x, p.y, kGlideDefault);
      b.sub_state = 2;
      b.sub_state_timer = 0;
      break;
    }
    case 2:
      BossGlide(b, 3);
      break;
    case 3: {
      WobbleStep(b);
      const uint32_t t = b.sub_state_timer;
      if (t % 5 == 3) BossWideFan(b);
      if (t % 20 == 3) BossBurstAt(b, 1, 2);
      if (PhaseJumpAfter(b.sub_state, b.sub_state_timer, 180, 1)) ++Cycle(b);
      break;
    }
    default:
      break;
  }
}

constexpr BossPhases kBoss3APhases = {{nullptr, Phase1, nullptr, nullptr, nullptr, nullptr}};

}  // namespace

void CreateBoss3A(GameObject& r) { CreateBoss(r, kBossSetups[kBoss3A]); }
void UpdateBoss3A(GameObject& r) { UpdateBoss(r, kBossSetups[kBoss3A], kBoss3APhases); }
