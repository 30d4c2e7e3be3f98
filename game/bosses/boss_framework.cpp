// game/bosses/boss_framework.cpp - the set-up, the gauge prologue, the entry,
// the hand-over between attack phases, the defeat and fly-off, the dialogue
// step and the glide that all bosses share.
#include <cmath>
#include <cstdint>

#include "game/bosses/boss.h"
#include "game/bosses/story.h"
#include "game/frame/input.h"
#include "game/objects/effects.h"
#include "game/objects/enemy_fire.h"
#include "game/objects/player_shots.h"
#include "game/objects/resources.h"

// clang-format off
const BossSetup kBossSetups[kBossCount] = {
    // kind, life per phase, last, radius, graphic, aura, mid-boss, boss track, first fill,
    // step minimums (entry, post), story, frames standing after the closing dialogue,
    // entry brightens
    {5,  {1300, 1100, 1500, 0, 0},       3, 24.0, 117, 6, true,  false, 0, 20, 30, &kBossStories[kBoss1A]},
    {6,  {1300, 1400, 1500, 1500, 1600}, 5, 24.0, 121, 4, false, true,  0, 20, 30, &kBossStories[kBoss1B]},
    {7,  {1500, 1700, 1500, 0, 0},       3, 24.0, 117, 2, true,  false, 2, 20, 20, &kBossStories[kBoss2A]},
    {8,  {1600, 1600, 1700, 1700, 1700}, 5, 24.0, 121, 2, false, true,  2, 20, 20, &kBossStories[kBoss2B]},
    {9,  {2000, 1400, 1600, 0, 0},       1, 40.0, 117, 2, true,  false, 2, 20, 20, &kBossStories[kBoss3A]},
    {10, {1900, 1700, 1700, 1600, 1700}, 5, 40.0, 117, 6, false, false, 2, 20, 20, &kBossStories[kBoss3B]},
    {12, {2000, 2000, 2000, 2000, 2000}, 5, 40.0, 121, 6, false, true,  2, 20, 20, &kBossStories[kBoss4], 180},
    {15, {2500, 3500, 3000, 3500, 3500}, 5, 24.0, 121, 0, false, true,  2, 20, 20, &kBossStories[kBoss5], 0, false},
};
// clang-format on

namespace {

constexpr double kStartX = 187.0;
constexpr double kStartY = -46.0;
constexpr uint32_t kSoundBossBlast = 24;  // "se/ex2.wav"
constexpr uint32_t kDefeatCountdown = 100000;

MotionPart& Sway(GameObject& b) { return b.parts[kSwayPart]; }
MotionPart& Travel(GameObject& b) { return b.parts[kTravelPart]; }

void Blast(const GameObject& b, uint32_t size) {
  if (GameObject* e = TakeFreeEffect()) CreateExplosion(*e, size, 0, b.x, b.y);
  if (GameObject* e = TakeFreeEffect()) CreateBurst(*e, 1, size, b.x, b.y);
  const uint32_t index = FindFreePlayerObject();
  if (index != kPoolFull) CreateBulletClearer(g_player_objects[index], 3, b.x, b.y);
}

// The entry sway: cosine across, sine down.
void EntrySway(GameObject& b) {
  MotionPart& s = Sway(b);
  s.phase_a += s.phase_step_a;
  s.phase_b += s.phase_step_b;
  s.move.x = std::cos(s.phase_a * kGamePi / 180.0) * s.amplitude_a;
  s.move.y = std::sin(s.phase_b * kGamePi / 180.0) * s.amplitude_b;
}

void ClearSpeakers(TalkState& t) {
  t.left_speaks = 0;
  t.right_speaks = 0;
  t.left_present = 0;
  t.right_present = 0;
}

const char* LineOrBlank(const char* line) { return line != nullptr ? line : ""; }

void FillStep(const DialogueStep& step, bool opening) {
  TalkState& t = g_game.talk;
  const bool left = step.side == 1;
  uint8_t& speaks = left ? t.left_speaks : t.right_speaks;
  uint8_t& present = left ? t.left_present : t.right_present;
  uint8_t& lit = left ? t.left_highlighted : t.right_highlighted;
  uint32_t& expression = left ? t.left_expression : t.right_expression;
  const char** lines = left ? t.left_lines : t.right_lines;
  speaks = 1;
  present = 1;
  lit = 1;
  expression = step.expression;
  for (int i = 0; i < 3; ++i) lines[i] = LineOrBlank(step.lines[i]);
  if (opening) return;
  if (left) {
    t.right_speaks = 0;
    t.right_highlighted = 0;
  } else {
    t.left_speaks = 0;
    t.left_highlighted = 0;
  }
}

void StartFight(GameObject& b, const BossSetup& setup) {
  b.state = 1;
  b.state_timer = 0;
  ClearSpeakers(g_game.talk);
  g_game.talk.talk_mode = 0;
  b.fight_stage = 1;
  SavePosition(b);
  b.sub_state = 0;
  b.sub_state_timer = 0;
  if (setup.boss_track) {
    PlayBgm(g_bgm_boss);
    const char* credit = setup.story != nullptr ? setup.story->music_credit : nullptr;
    StartMusicCaption(g_game, credit != nullptr ? credit : "");
  }
}

void RunTalk(GameObject& b, const Dialogue* talk, uint32_t minimum, uint32_t first_fill) {
  if (talk == nullptr || talk->count == 0) {
    // A boss without its dialogue goes straight on.
    b.sub_state = kTalkDone;
    b.sub_state_timer = 0;
    return;
  }
  RunDialogueStep(b, *talk, minimum, first_fill);
}

void Entry(GameObject& b, const BossSetup& setup) {
  if (setup.entry_brightens) ApproachUp(g_game.background_brightness, 0.5, 255.0);
  MotionPart& travel = Travel(b);
  switch (b.sub_state) {
    case 0:
      EntrySway(b);
      MoveByAngle(travel.move);
      PhaseJumpAfter(b.sub_state, b.sub_state_timer, 100, 1);
      return;
    case 1:
      EntrySway(b);
      travel.move.speed += travel.kind_values[kTravelStepUp];
      MoveByAngle(travel.move);
      PhaseJumpOnFlag(b.sub_state, b.sub_state_timer, travel.move.speed <= 0.0, 2);
      return;
    case 2: PhaseJumpAfter(b.sub_state, b.sub_state_timer, 60, kTalkFirstStep); return;
    case kTalkDone: StartFight(b, setup); return;
    default:
      if (b.sub_state >= kTalkFirstStep && b.sub_state < kTalkDone) {
        RunTalk(b, setup.story != nullptr ? setup.story->entry : nullptr, setup.entry_minimum,
                setup.first_fill);
      }
      return;
  }
}

void Defeated(GameObject& b, const BossSetup& setup) {
  ApproachUp(g_game.background_brightness, 1.5, 255.0);
  MotionPart& travel = Travel(b);
  TalkState& t = g_game.talk;
  switch (b.sub_state) {
    case 0:
      b.fight_stage = 0;
      SavePosition(b);
      travel.move.angle = 290.0;
      travel.move.speed = 0.0;
      travel.kind_values[kTravelStepUp] = 0.03;
      b.sub_state = 1;
      b.sub_state_timer = 0;
      ClearSpeakers(t);
      t.left_highlighted = 0;
      t.right_highlighted = 0;
      t.left_expression = 1;
      t.right_expression = 1;
      return;
    case 1: PhaseJumpAfter(b.sub_state, b.sub_state_timer, 60, kTalkFirstStep); return;
    case kTalkDone:
      if (setup.stand_after_talk != 0) {
        PhaseAfter(b.sub_state, b.sub_state_timer, setup.stand_after_talk);
        return;
      }
      ApproachUp(travel.move.speed, 0.03, 2.3);
      MoveByAngle(travel.move);
      PhaseOnFlag(b.sub_state, b.sub_state_timer, b.y < -32.0);
      return;
    case kFlyOffDone:
      g_game.boss_gauge.time_limit = 0;
      ClearSpeakers(t);
      g_game.boss_gauge.active = 0;
      RemoveObject(b);
      if (setup.mid_boss) t.talk_mode = 0;
      return;
    default:
      if (b.sub_state >= kTalkFirstStep && b.sub_state < kTalkDone) {
        RunTalk(b, setup.story != nullptr ? setup.story->post : nullptr, setup.post_minimum,
                setup.first_fill);
      }
      return;
  }
}

}  // namespace

void RequestSound(uint32_t slot) {
  if (slot < static_cast<uint32_t>(kSoundSlots)) g_sounds[slot].request = 1;
}

double BossAimAngle(const GameObject& b) { return AngleTo(b.x, b.y, g_player.x, g_player.y); }

void CreateBoss(GameObject& b, const BossSetup& setup) {
  b.in_use = 1;
  b.free = 0;
  b.kind = setup.kind;
  b.own_index = g_find_free_index;
  b.sub_type = 0;
  b.killed = 0;
  b.parent_index = 0;
  b.state = 0;
  b.state_timer = 0;
  b.sub_state = 0;
  b.sub_state_timer = 0;

  b.own_radius = 0.0;
  b.body_radius = setup.body_radius;
  b.draw_layer = -1;
  b.can_hit = 0;
  b.can_be_hit = 1;
  b.life = 1000.0;

  b.x = kStartX;
  b.y = kStartY;
  b.base.x = kStartX;
  b.base.y = kStartY;
  MotionPart& sway = Sway(b);
  MotionPart& travel = Travel(b);
  sway.move.x = 0.0;
  sway.move.y = 0.0;
  travel.move.x = 0.0;
  travel.move.y = 0.0;

  b.visible = 1;
  b.generic_draw = 1;
  b.scale = 1.0;
  b.graphic_id = setup.graphic;
  b.blend_mode = 0;
  b.blend_value = 255.0;
  b.transparency = 1;
  b.angle = 0.0;
  b.extra_angle = 0.0;
  b.spin_step = 0.0;

  sway.phase_a = 0.0;
  sway.phase_b = 0.0;
  sway.phase_step_a = 1.9;
  sway.phase_step_b = 3.1;
  sway.amplitude_a = 5.0;
  sway.amplitude_b = 10.0;
  travel.move.angle = 80.0;
  travel.move.speed = 1.3;
  travel.kind_values[kTravelStepUp] = -0.03;

  BossGauge& g = g_game.boss_gauge;
  g.active = 1;
  g.caption = setup.story != nullptr && setup.story->caption != nullptr ? setup.story->caption : "";
  // Every listed life is written, also those past the last phase (boss 3A
  // lists three lives and fights one phase).
  for (uint32_t i = 0; i < kMaxBossPhases && setup.life[i] != 0.0; ++i) {
    g.life_per_phase[i + 1] = setup.life[i];
  }
  g.last_phase = setup.last_phase;
  g.phase = 1;
  b.life = g.life_per_phase[1];

  if (setup.aura != 0) {
    if (GameObject* e = TakeFreeEffect()) CreateBossAura(*e, setup.aura, b.own_index);
  }

  b.fight_stage = 0;
  b.phase_ended = 0;
  b.defeated = 0;
  g.bar_fill = 0.0;
  g.fight_frame_counter = 0;
  g.phase_start_countdown = kPhaseCountdown;
}

void BossPrologue(GameObject& b, const BossSetup& setup) {
  BossGauge& g = g_game.boss_gauge;
  if (b.phase_ended != 0) b.phase_ended = 0;
  g.shown_life = b.life;
  if (g.shown_life <= 0.0) g.shown_life = 0.1;
  g.bar_fill += 0.5;
  if (g.bar_fill > 100.0) g.bar_fill = 100.0;

  // The countdown is unsigned but counts as a signed number: once at 0 it
  // stays there, where a wrap to 4294967295 would refill the life every
  // frame for ever and make the boss unkillable.
  const int64_t countdown = static_cast<int64_t>(g.phase_start_countdown) - 1;
  const uint32_t phase = g.phase < 16 ? g.phase : 0;
  if (countdown >= 2) {
    g.phase_start_countdown = static_cast<uint32_t>(countdown);
    b.life = g.life_per_phase[phase];
  } else if (countdown == 1) {
    g.phase_start_countdown = 1;
    g.time_limit = kPhaseTimeLimit;
    b.life = g.life_per_phase[phase];
  } else {
    g.phase_start_countdown = 0;
    if (g_game.talk.talk_mode == 0 && g.time_limit > 0) --g.time_limit;
  }

  if (b.killed == 0) return;
  b.killed = 0;
  b.phase_ended = 1;
  if (g.phase < g.last_phase) {
    ++g.phase;
    b.life = g.life_per_phase[g.phase < 16 ? g.phase : 0];
    Blast(b, 3);
    g.bar_fill = 0.0;
    g_game.score += g.time_limit / 60;
    g.phase_start_countdown = kPhaseCountdown;
    DropItemsFan(b);
  } else {
    g.phase = kGaugePhaseDefeated;
    b.defeated = 1;
    b.can_be_hit = 0;
    b.state = kBossDefeated;
    g_game.talk.talk_mode = 1;
    Blast(b, 4);
    g_game.score += g.time_limit / 60;
    g.phase_start_countdown = kDefeatCountdown;
    b.sub_state = 0;
    b.sub_state_timer = 0;
  }
  RequestSound(kSoundBossBlast);
}

void UpdateBoss(GameObject& b, const BossSetup& setup, const BossPhases& phases) {
  BossPrologue(b, setup);
  const uint32_t state = b.state;
  if (state == kBossEntry) {
    Entry(b, setup);
  } else if (state == kBossDefeated) {
    Defeated(b, setup);
  } else if (state <= setup.last_phase && state <= kMaxBossPhases) {
    if (phases.by_state[state] != nullptr) phases.by_state[state](b);
    if (state < setup.last_phase) {
      ++b.state_timer;
      if (g_game.boss_gauge.phase == state + 1) {
        b.state = state + 1;
        b.state_timer = 0;
        b.fight_stage = 0;
        b.sub_state = 0;
        b.sub_state_timer = 0;
      }
    }
  }
  const MotionPart& sway = Sway(b);
  const MotionPart& travel = Travel(b);
  b.x = sway.move.x + b.base.x + travel.move.x;
  b.y = sway.move.y + b.base.y + travel.move.y;
  if (g_game.talk.talk_mode == 0) ++g_game.boss_gauge.fight_frame_counter;
}

void RunDialogueStep(GameObject& b, const Dialogue& talk, uint32_t minimum, uint32_t first_fill) {
  const DialogueStep* step = nullptr;
  for (size_t i = 0; i < talk.count; ++i) {
    if (talk.steps[i].step == b.sub_state) step = &talk.steps[i];
  }
  if (step == nullptr) {
    // A sub-state that no step names ends the dialogue rather than hanging the boss.
    b.sub_state = kTalkDone;
    b.sub_state_timer = 0;
    return;
  }
  const bool opening = step == &talk.steps[0];
  if (b.sub_state_timer == (opening ? first_fill : 0)) FillStep(*step, opening);
  const bool advance = (g_input.pressed_actions & kActionShot) != 0 ||
                       (g_input.held_actions & kActionFocus) != 0 || b.sub_state_timer > 300;
  PhaseJumpAfterFlag(b.sub_state, b.sub_state_timer, advance, minimum, step->next);
}

void BossOpenPhase(GameObject& b, uint32_t fight_stage) {
  b.fight_stage = fight_stage;
  SavePosition(b);
  ClearValueList(b.attack);
}

void BossSetGlideTarget(GameObject& b, double x, double y, const GlideParams& p) {
  MotionPart& travel = Travel(b);
  travel.extra[kTravelTargetX] = x;
  travel.extra[kTravelTargetY] = y;
  travel.move.angle = AngleTo(b.x, b.y, x, y);
  travel.move.speed = p.speed;
  travel.kind_values[kTravelStepUp] = p.step_up;
  travel.kind_values[kTravelMax] = p.maximum;
  travel.kind_values[kTravelStepDown] = p.step_down;
  travel.kind_values[kTravelMin] = p.minimum;
}

bool BossGlide(GameObject& b, uint32_t next) {
  MotionPart& travel = Travel(b);
  WobbleStep(b);
  const double tx = travel.extra[kTravelTargetX];
  const double ty = travel.extra[kTravelTargetY];
  travel.move.angle = AngleTo(b.x, b.y, tx, ty);
  const double d = Distance(b.x, b.y, tx, ty);
  bool arrived = false;
  if (d >= 50.0) {
    ApproachUp(travel.move.speed, travel.kind_values[kTravelStepUp], travel.kind_values[kTravelMax]);
  } else if (d >= 3.0) {
    ApproachDown(travel.move.speed, travel.kind_values[kTravelStepDown],
                 travel.kind_values[kTravelMin]);
  } else {
    arrived = true;
  }
  const double radians = travel.move.angle * kGamePi / 180.0;
  travel.move.x += std::cos(radians) * travel.move.speed;
  travel.move.y += std::sin(radians) * travel.move.speed;
  PhaseJumpOnFlag(b.sub_state, b.sub_state_timer, arrived, next);
  return arrived;
}

void BossStartTravelSine(GameObject& b, double step_a, double amplitude_a, double step_b,
                         double amplitude_b) {
  MotionPart& travel = Travel(b);
  travel.phase_a = 0.0;
  travel.phase_b = 0.0;
  travel.phase_step_a = step_a;
  travel.phase_step_b = step_b;
  travel.amplitude_a = amplitude_a;
  travel.amplitude_b = amplitude_b;
}

void BossTravelSineStep(GameObject& b) {
  MotionPart& travel = Travel(b);
  travel.phase_a += travel.phase_step_a;
  travel.phase_b += travel.phase_step_b;
  travel.move.x = std::sin(travel.phase_a * kGamePi / 180.0) * travel.amplitude_a;
  travel.move.y = std::sin(travel.phase_b * kGamePi / 180.0) * travel.amplitude_b;
}
