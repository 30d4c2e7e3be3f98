// game/bosses/boss1b.cpp - the stage 1 boss: aimed double rings, bending
// streams, orbs, dense aimed rings and a random scatter.
#include "game/bosses/boss.h"
#include "game/bosses/boss_fire.h"
#include "rorud/rorud.h"

namespace {

constexpr GlideParams kGlidePhase1 = {0.3, 0.1, 3.0, -0.1, 1.0};
constexpr GlideParams kGlide = {0.3, 0.05, 3.0, -0.07, 1.0};

struct Point {
  double x;
  double y;
};
constexpr Point kPhase1Targets[5] = {{210, 110}, {325, 110}, {95, 136}, {279, 84}, {141, 136}};

uint32_t& Cycle(GameObject& b) { return b.attack.counters[kBossCycle]; }

// The 60-frame pause that opens every phase.
void Pause(GameObject& b) {
  if (PhaseAfter(b.sub_state, b.sub_state_timer, 60)) BossOpenPhase(b, 1);
}

// Sub-states 1 and 2 of phases 2 to 5: one glide to the middle, then the
// travel part's own figure around the arrival point.
void GlideToMiddle(GameObject& b, double step_a, double amplitude_a, double step_b,
                   double amplitude_b) {
  if (b.sub_state == 1) {
    BossSetGlideTarget(b, 210.0, 136.0, kGlide);
    b.sub_state = 2;
    b.sub_state_timer = 0;
    return;
  }
  if (BossGlide(b, 3)) {
    SavePosition(b);
    BossStartTravelSine(b, step_a, amplitude_a, step_b, amplitude_b);
  }
}

// Two speeds along `count` directions evenly spread from the aimed angle.
void AimedDoubleRing(const GameObject& b, double aim, int count, uint32_t colour) {
  const double step = 360.0 / count;
  for (int i = 0; i < count; ++i) {
    BossBullet72(b, 2, colour, aim + i * step, 2.0);
    BossBullet72(b, 2, colour, aim + i * step, 2.5);
  }
  VolleySound();
}

void Phase1(GameObject& b) {
  ApproachDown(g_game.background_brightness, -0.3, 160.0);
  switch (b.sub_state) {
    case 0:
      Pause(b);
      break;
    case 1: {
      const Point& p = kPhase1Targets[Cycle(b) % 5];
      BossSetGlideTarget(b, p.x, p.y, kGlidePhase1);
      b.sub_state = 2;
      b.sub_state_timer = 0;
      BossGlide(b, 3);  // the first glide frame runs with the choice
      break;
    }
    case 2:
      BossGlide(b, 3);
      break;
    case 3: {
      WobbleStep(b);
      const uint32_t t = b.sub_state_timer;
      if (t % 50 == 10) {
        AimedDoubleRing(b, BossAimAngle(b), 32, 4);
        BossBurstAt(b, 4, 1);
      }
      if (t % 50 == 30) {
        AimedDoubleRing(b, BossAimAngle(b), 24, 1);
        BossBurstAt(b, 1, 1);
      }
      if (PhaseJumpAfter(b.sub_state, b.sub_state_timer, 180, 1)) ++Cycle(b);
      break;
    }
    default:
      break;
  }
}

void Phase2(GameObject& b) {
  ApproachDown(g_game.background_brightness, -0.3, 160.0);
  switch (b.sub_state) {
    case 0:
      Pause(b);
      break;
    case 1:
    case 2:
      GlideToMiddle(b, 0.67, 20.0, 0.55, 30.0);
      break;
    case 3: {
      BossTravelSineStep(b);
      const uint32_t t = b.sub_state_timer;
      if (t % 13 == 10) {
        // Two bending streams that curl in from either side.
        static constexpr double kStreams[6][2] = {{250, -2.1}, {260, -2.3}, {270, -2.5},
                                                  {290, 2.1},  {280, 2.3},  {270, 2.5}};
        for (const auto& s : kStreams) BossBullet75(b, s[0], 1.0, 0.05, s[1], 3.5);
        VolleySound();
      }
      if (t % 50 == 30) {
        const double aim = BossAimAngle(b);
        BossBullet72(b, 2, 1, aim - 30.0, 2.6);
        BossBullet72(b, 2, 4, aim - 15.0, 2.7);
        BossBullet72(b, 2, 1, aim, 2.8);
        BossBullet72(b, 2, 4, aim + 15.0, 2.7);
        BossBullet72(b, 2, 1, aim + 30.0, 2.6);
        BossBurstAt(b, 1, 1);
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
  ApproachDown(g_game.background_brightness, -0.3, 160.0);
  switch (b.sub_state) {
    case 0:
      Pause(b);
      break;
    case 1:
    case 2:
      GlideToMiddle(b, 1.17, 30.0, 0.55, 15.0);
      break;
    case 3: {
      BossTravelSineStep(b);
      const uint32_t t = b.sub_state_timer % 230;
      if (t == 0 || t == 100) {
        LaunchSubUnit(b, SubUnitKind::kA, 1, t == 0 ? 0.0 : 180.0, 1.3, 3.0);
        BossBurstAt(b, 1, 2);
        LaunchSound();
      }
      ++b.sub_state_timer;
      break;
    }
    default:
      break;
  }
}

void Phase4(GameObject& b) {
  ApproachDown(g_game.background_brightness, -1.3, 128.0);
  switch (b.sub_state) {
    case 0:
      Pause(b);
      break;
    case 1:
    case 2:
      GlideToMiddle(b, 1.17, 160.0, 0.55, 45.0);
      break;
    case 3: {
      BossTravelSineStep(b);
      if (b.sub_state_timer % 40 == 10) {
        const double a0 = BossAimAngle(b);
        for (int i = 0; i < 18; ++i) {
          const double a = a0 + i * 20.0;
          BossBullet72(b, 1, 4, a, 2.0);
          BossBullet72(b, 1, 1, a + 10.0, 2.5);
          BossBullet72(b, 1, 4, a, 3.0);
        }
        BossBurstAt(b, 4, 1);
        VolleySound();
      }
      ++b.sub_state_timer;
      break;
    }
    default:
      break;
  }
}

void Phase5(GameObject& b) {
  ApproachDown(g_game.background_brightness, -1.3, 128.0);
  ++b.state_timer;
  switch (b.sub_state) {
    case 0:
      Pause(b);
      break;
    case 1:
    case 2:
      GlideToMiddle(b, 1.17, 160.0, 0.55, 45.0);
      break;
    case 3: {
      BossTravelSineStep(b);
      if (b.sub_state_timer % 7 == 6) {
        struct Spray {
          uint32_t colour;
          double speeds[3];
        };
        static constexpr Spray kSprays[4] = {{1, {1.5, 2.5, 4.5}},
                                             {4, {2.3, 3.3, 4.3}},
                                             {1, {1.8, 2.3, 2.8}},
                                             {4, {2.0, 2.5, 3.0}}};
        for (const Spray& s : kSprays) {
          const double a = RandRange(360.0, 0.0);
          for (double speed : s.speeds) BossBullet72(b, 2, s.colour, a, speed);
        }
        VolleySound();
      }
      ++b.sub_state_timer;
      break;
    }
    default:
      break;
  }
}

constexpr BossPhases kBoss1BPhases = {{nullptr, Phase1, Phase2, Phase3, Phase4, Phase5}};

}  // namespace

void CreateBoss1B(GameObject& r) { CreateBoss(r, kBossSetups[kBoss1B]); }
void UpdateBoss1B(GameObject& r) { UpdateBoss(r, kBossSetups[kBoss1B], kBoss1BPhases); }
