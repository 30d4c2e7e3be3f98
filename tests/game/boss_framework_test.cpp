// The frame every boss shares, driven through a test boss whose attack phases
// only count their frames: the entry, the dialogue steps, the gauge, the phase
// ends, the defeat and fly-off, and a stage's boss phase running to its end.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "game/bosses/boss.h"
#include "game/bosses/story.h"
#include "game/frame/game_state.h"
#include "game/frame/input.h"
#include "game/objects/dispatch.h"
#include "game/objects/resources.h"
#include "game/stages/stage_script.h"
#include "game/stages/stage1_timeline.h"
#include "tests/game/game_fixture.h"

namespace {

using gametest::GameTest;

int g_phase_calls[kMaxBossPhases + 1];

// An attack phase that opens with the usual 60-frame pause and then waits.
void TestPhase(GameObject& b) {
  ++g_phase_calls[b.state];
  if (b.sub_state == 0 && PhaseJumpAfter(b.sub_state, b.sub_state_timer, 60, 1)) {
    BossOpenPhase(b, 1);
  }
}
const BossPhases kTestPhases = {{nullptr, TestPhase, TestPhase, TestPhase, TestPhase, TestPhase}};

class BossTest : public GameTest {
 protected:
  void SetUp() override {
    GameTest::SetUp();
    for (int& n : g_phase_calls) n = 0;
    g_game.talk.talk_mode = 1;  // the stage turns it on before the boss comes
  }
  GameObject& Make(BossId id = kBoss1A) {
    setup_ = &kBossSetups[id];
    const uint32_t index = FindFreeEnemy();
    EXPECT_NE(index, kPoolFull);
    CreateBoss(g_enemies[index], *setup_);
    return g_enemies[index];
  }
  void Step(GameObject& b, int n = 1) {
    for (int i = 0; i < n; ++i) UpdateBoss(b, *setup_, kTestPhases);
  }
  // Frames until the sub-state leaves its present value.
  int FramesInSubState(GameObject& b, int limit = 1000) {
    const uint32_t s = b.sub_state;
    const uint32_t st = b.state;
    int n = 0;
    while (b.sub_state == s && b.state == st && n < limit) {
      Step(b);
      ++n;
    }
    return n;
  }
  // Runs the entry to the fight with cancel held.
  void ToFight(GameObject& b) {
    g_input.held_actions = kActionFocus;
    for (int i = 0; i < 2000 && b.state == kBossEntry; ++i) Step(b);
    g_input.held_actions = 0;
    ASSERT_EQ(b.state, 1u);
  }
  void Kill(GameObject& b) {
    b.life = 0.0;
    b.killed = 1;
    Step(b);
  }
  int CountInUse(const GameObject* pool, size_t n, uint32_t kind) {
    int c = 0;
    for (size_t i = 0; i < n; ++i) c += pool[i].in_use != 0 && pool[i].kind == kind;
    return c;
  }
  const BossSetup* setup_ = nullptr;
};

TEST_F(BossTest, SetUpFillsTheGaugeAndMakesTheAura) {
  g_game.boss_gauge.time_limit = 1234;
  GameObject& b = Make(kBoss1B);
  const BossGauge& g = g_game.boss_gauge;
  EXPECT_EQ(b.kind, 6u);
  EXPECT_EQ(b.own_index, 0u);
  EXPECT_EQ(b.x, 187.0);
  EXPECT_EQ(b.y, -46.0);
  EXPECT_EQ(b.body_radius, 24.0);
  EXPECT_EQ(b.graphic_id, 121u);
  EXPECT_EQ(b.can_be_hit, 1);
  EXPECT_EQ(b.can_hit, 0);
  EXPECT_EQ(g.active, 1);
  EXPECT_EQ(g.last_phase, 5u);
  EXPECT_EQ(g.phase, 1u);
  EXPECT_EQ(b.life, 1300.0);
  EXPECT_EQ(g.life_per_phase[5], 1600.0);
  EXPECT_EQ(g.phase_start_countdown, 200u);
  EXPECT_EQ(g.time_limit, 1234u);  // not touched by the set-up
  EXPECT_STREQ(g.caption, kBossStories[kBoss1B].caption);
  ASSERT_EQ(CountInUse(g_effects, kEffectPoolSize, kKindBossAura), 1);
  EXPECT_FALSE(NoLiveEnemy());
}

TEST_F(BossTest, EntryTravelsA100FramesSlowsDownAndPauses60) {
  GameObject& b = Make();
  EXPECT_EQ(FramesInSubState(b), 100);
  // 100 frames along 80 degrees at 1.3, plus the sway.
  const double rad = 80.0 * std::numbers::pi / 180.0;
  EXPECT_NEAR(b.parts[kTravelPart].move.x, 130.0 * std::cos(rad), 1e-6);
  EXPECT_NEAR(b.parts[kTravelPart].move.y, 130.0 * std::sin(rad), 1e-6);
  EXPECT_NEAR(b.y - b.parts[kSwayPart].move.y, -46.0 + 130.0 * std::sin(rad), 1e-6);
  // 1.3 falls by 0.03 a frame: 0.01 after 43 frames, below 0 on the 44th.
  EXPECT_EQ(FramesInSubState(b), 44);
  EXPECT_LE(b.parts[kTravelPart].move.speed, 0.0);
  EXPECT_EQ(FramesInSubState(b), 60);
  EXPECT_EQ(b.sub_state, kTalkFirstStep);
  // The picture brightens by 0.5 a frame during the entry.
  EXPECT_EQ(g_game.background_brightness, 102.0);
}

TEST_F(BossTest, DialogueStepsLast20FramesWithCancelHeld) {
  GameObject& b = Make();
  Step(b, 204);
  ASSERT_EQ(b.sub_state, kTalkFirstStep);
  g_input.held_actions = kActionFocus;
  const uint32_t expected[] = {10, 11, 12, 14, 15, 16, 17};
  for (uint32_t step : expected) {
    ASSERT_EQ(b.sub_state, step);
    EXPECT_EQ(FramesInSubState(b), 20) << "step " << step;
  }
  EXPECT_EQ(b.sub_state, kTalkDone);
  // The fight starts on the next frame.
  g_game.talk.left_highlighted = 1;
  Step(b);
  EXPECT_EQ(b.state, 1u);
  EXPECT_EQ(b.sub_state, 0u);
  EXPECT_EQ(b.fight_stage, 1u);
  const TalkState& t = g_game.talk;
  EXPECT_EQ(t.talk_mode, 0);
  EXPECT_EQ(t.left_speaks + t.right_speaks + t.left_present + t.right_present, 0);
  EXPECT_EQ(t.left_highlighted, 1);  // the lit flags stay
  EXPECT_EQ(g_game.music_caption.on, 0);  // a mid-boss keeps the stage music
}

TEST_F(BossTest, DialogueStepWithoutInputLasts302Frames) {
  GameObject& b = Make();
  Step(b, 204);
  EXPECT_EQ(FramesInSubState(b), 302);
  // Decide pressed before the minimum does not count; pressed on the 20th does.
  g_input.pressed_actions = kActionShot;
  Step(b, 5);
  g_input.pressed_actions = 0;
  Step(b, 14);
  EXPECT_EQ(b.sub_state, 11u);
  g_input.pressed_actions = kActionShot;
  Step(b);
  EXPECT_EQ(b.sub_state, 12u);
}

TEST_F(BossTest, StepsWriteTheSpeakingSideAndDimTheOther) {
  GameObject& b = Make();
  Step(b, 204);
  const TalkState& t = g_game.talk;
  Step(b);  // step 10 fills on its first frame: the left side only
  EXPECT_EQ(t.left_speaks, 1);
  EXPECT_EQ(t.left_present, 1);
  EXPECT_EQ(t.left_highlighted, 1);
  EXPECT_EQ(t.left_expression, 1u);
  EXPECT_STREQ(t.left_lines[0], kBossStories[kBoss1A].entry->steps[0].lines[0]);
  EXPECT_STREQ(t.left_lines[1], "");
  EXPECT_EQ(t.right_present, 0);
  g_input.held_actions = kActionFocus;
  Step(b, 20);  // step 11: the right side speaks
  EXPECT_EQ(b.sub_state, 11u);
  EXPECT_EQ(t.right_speaks, 1);
  EXPECT_EQ(t.right_present, 1);
  EXPECT_EQ(t.left_speaks, 0);
  EXPECT_EQ(t.left_highlighted, 0);
  EXPECT_EQ(t.left_present, 1);  // still on the field
}

TEST_F(BossTest, StageBossSwitchesToItsTrackWithTheCredit) {
  GameObject& b = Make(kBoss1B);
  ToFight(b);
  EXPECT_EQ(g_game.music_caption.on, 1);
  EXPECT_STREQ(g_game.music_caption.text, kBossStories[kBoss1B].music_credit);
}

TEST_F(BossTest, BarFillsIn200FramesAndTheLifeHoldsForThe199Updates) {
  GameObject& b = Make();
  const BossGauge& g = g_game.boss_gauge;
  for (int i = 1; i <= 199; ++i) {
    b.life -= 700.0;  // undone by the next update
    Step(b);
    ASSERT_EQ(b.life, 1300.0) << i;
  }
  EXPECT_EQ(g.bar_fill, 99.5);
  EXPECT_EQ(g.phase_start_countdown, 1u);
  EXPECT_EQ(g.time_limit, 6000u);
  Step(b);
  EXPECT_EQ(g.bar_fill, 100.0);
  EXPECT_EQ(g.phase_start_countdown, 0u);
  b.life -= 700.0;
  Step(b, 5);
  EXPECT_EQ(b.life, 600.0);  // damage lasts now
  EXPECT_EQ(g.bar_fill, 100.0);
  EXPECT_EQ(g.time_limit, 6000u);  // talk mode stops the clock
  g_game.talk.talk_mode = 0;
  Step(b, 3);
  EXPECT_EQ(g.time_limit, 5997u);
  b.life = -5.0;
  Step(b);
  EXPECT_EQ(g.shown_life, 0.1);
}

// Stored unsigned, the countdown must not wrap below 0: a wrapped countdown
// refills the life every frame and the boss can never be beaten.
TEST_F(BossTest, CountdownAtZeroStaysZeroAndTheBossStaysKillable) {
  GameObject& b = Make();
  ToFight(b);
  BossGauge& g = g_game.boss_gauge;
  g.phase_start_countdown = 0;
  g.time_limit = 3;
  b.life = 10.0;
  for (int i = 0; i < 5; ++i) Step(b);
  EXPECT_EQ(g.phase_start_countdown, 0u);
  EXPECT_EQ(b.life, 10.0);
  EXPECT_EQ(g.time_limit, 0u);  // and stays there
  Kill(b);
  EXPECT_EQ(g.phase, 2u);
  EXPECT_EQ(g_game.score, 0u);  // nothing left of the time: no bonus
}

TEST_F(BossTest, PhaseEndGivesBonusItemsClearerAndHandsOver) {
  GameObject& b = Make();
  ToFight(b);
  Step(b, 100);
  BossGauge& g = g_game.boss_gauge;
  g.time_limit = 3001;  // counts down once more before the bonus
  g_game.score = 7;
  const int items_before = CountInUse(g_items, kItemPoolSize, kKindItem);
  Kill(b);
  EXPECT_EQ(g_game.score, 7u + 3000u / 60u);
  EXPECT_EQ(CountInUse(g_items, kItemPoolSize, kKindItem) - items_before, 12);
  ASSERT_EQ(CountInUse(g_player_objects, kPlayerObjectPoolSize, kKindBulletClearer), 1);
  for (const GameObject& o : g_player_objects) {
    if (o.in_use != 0 && o.kind == kKindBulletClearer) { EXPECT_EQ(o.variant, 3u); }
  }
  EXPECT_EQ(CountInUse(g_effects, kEffectPoolSize, kKindExplosion), 1);
  EXPECT_EQ(CountInUse(g_effects, kEffectPoolSize, kKindBurst), 1);
  EXPECT_EQ(g_sounds[24].request, 1);
  EXPECT_EQ(g.phase, 2u);
  EXPECT_EQ(b.life, 1100.0);
  EXPECT_EQ(g.bar_fill, 0.0);
  EXPECT_EQ(g.phase_start_countdown, kPhaseCountdown);
  EXPECT_EQ(b.phase_ended, 1);
  // State 1 ran this frame; the hand-over moved on at its end.
  EXPECT_EQ(b.state, 2u);
  EXPECT_EQ(b.sub_state, 0u);
  EXPECT_EQ(b.state_timer, 0u);
  EXPECT_EQ(b.fight_stage, 0u);
  const int calls1 = g_phase_calls[1];
  Step(b);
  EXPECT_EQ(b.phase_ended, 0);  // set for exactly one frame
  EXPECT_EQ(g_phase_calls[1], calls1);
  EXPECT_EQ(g_phase_calls[2], 1);
  // 59 frames left give no bonus.
  g.phase_start_countdown = 0;
  g.time_limit = 59;
  const uint32_t score = g_game.score;
  Kill(b);
  EXPECT_EQ(g_game.score, score);
  EXPECT_EQ(g.phase, 3u);
}

TEST_F(BossTest, DefeatTalksFliesOffAndLeaves) {
  GameObject& b = Make();
  ToFight(b);
  Kill(b);
  Kill(b);
  ASSERT_EQ(b.state, 3u);
  BossGauge& g = g_game.boss_gauge;
  Step(b, 250);
  g.time_limit = 601;  // counts down once more before the bonus
  const uint32_t score = g_game.score;
  Kill(b);
  EXPECT_EQ(b.state, kBossDefeated);
  EXPECT_EQ(g.phase, kGaugePhaseDefeated);
  EXPECT_EQ(b.defeated, 1);
  EXPECT_EQ(b.can_be_hit, 0);
  EXPECT_EQ(g_game.talk.talk_mode, 1);
  EXPECT_EQ(g.phase_start_countdown, 100000u);
  EXPECT_EQ(g.bar_fill, 100.0);  // not reset by the defeat
  EXPECT_EQ(g_game.score, score + 10);
  EXPECT_FALSE(NoLiveEnemy());
  // The state machine ran state 99's first sub-state in the same frame.
  EXPECT_EQ(b.sub_state, 1u);
  EXPECT_EQ(b.fight_stage, 0u);
  EXPECT_EQ(b.parts[kTravelPart].move.angle, 290.0);
  EXPECT_EQ(g_game.talk.left_expression, 1u);
  EXPECT_EQ(FramesInSubState(b), 60);
  g_input.held_actions = kActionFocus;
  for (uint32_t step : {10u, 11u, 12u}) {
    ASSERT_EQ(b.sub_state, step);
    EXPECT_EQ(FramesInSubState(b), 30);  // the post-fight minimum of this boss
  }
  ASSERT_EQ(b.sub_state, kTalkDone);
  const int fly = FramesInSubState(b);
  EXPECT_GT(fly, 30);
  EXPECT_LT(b.y, -32.0);
  EXPECT_EQ(b.sub_state, kFlyOffDone);
  Step(b);
  EXPECT_EQ(b.in_use, 0);
  EXPECT_EQ(g.active, 0);
  EXPECT_EQ(g.time_limit, 0u);
  EXPECT_EQ(g_game.talk.talk_mode, 0);  // a mid-boss gives the stage back
  EXPECT_TRUE(NoLiveEnemy());
}

TEST_F(BossTest, StageBossLeavesTalkModeOn) {
  GameObject& b = Make(kBoss1B);
  ToFight(b);
  for (int i = 0; i < 5; ++i) Kill(b);
  ASSERT_EQ(b.state, kBossDefeated);
  g_input.held_actions = kActionFocus;
  for (int i = 0; i < 3000 && b.in_use != 0; ++i) Step(b);
  EXPECT_EQ(b.in_use, 0);
  EXPECT_EQ(g_game.talk.talk_mode, 1);
  EXPECT_TRUE(NoLiveEnemy());
}

TEST_F(BossTest, GlideSpeedsUpSlowsDownAndArrives) {
  GameObject& b = Make();
  ToFight(b);
  Step(b, 60);
  ASSERT_EQ(b.sub_state, 1u);
  BossSetGlideTarget(b, 60.0, 400.0, kGlideDefault);
  b.sub_state = 2;
  b.sub_state_timer = 0;
  double top = 0.0;
  int frames = 0;
  bool arrived = false;
  double d = 0.0;
  while (!arrived && frames < 1000) {
    d = std::hypot(b.x - 60.0, b.y - 400.0);
    arrived = BossGlide(b, 3);
    b.x = b.parts[kSwayPart].move.x + b.base.x + b.parts[kTravelPart].move.x;
    b.y = b.parts[kSwayPart].move.y + b.base.y + b.parts[kTravelPart].move.y;
    top = std::max(top, b.parts[kTravelPart].move.speed);
    ++frames;
  }
  ASSERT_TRUE(arrived);
  EXPECT_EQ(top, 3.0);
  EXPECT_EQ(b.sub_state, 3u);
  EXPECT_EQ(b.sub_state_timer, 0u);
  EXPECT_LT(d, 3.0);
}

TEST_F(BossTest, SinglePhaseBossGoesStraightToItsDefeat) {
  GameObject& b = Make(kBoss3A);
  EXPECT_EQ(b.body_radius, 40.0);
  EXPECT_EQ(b.life, 2000.0);
  ToFight(b);
  Step(b, 200);
  Kill(b);
  EXPECT_EQ(b.state, kBossDefeated);
  EXPECT_EQ(g_game.boss_gauge.phase, kGaugePhaseDefeated);
  EXPECT_EQ(g_phase_calls[2], 0);
  // Bosses of the later stages fill their first step on its third frame.
  EXPECT_EQ(kBossSetups[kBoss3A].first_fill, 2u);
}

TEST_F(BossTest, LastBossMakesItsAuraItself) {
  Make(kBoss5);
  EXPECT_EQ(CountInUse(g_effects, kEffectPoolSize, kKindBossAura), 0);
  EXPECT_EQ(g_game.boss_gauge.life_per_phase[2], 3500.0);
}

// A dialogue step whose successor is missing from its table ends the
// dialogue instead of leaving the boss stuck in it.
TEST_F(BossTest, StepMissingFromItsDialogueEndsTheDialogue) {
  const DialogueStep steps[] = {{10, 1, 1, {"a", "", ""}, 13}};
  const Dialogue talk = {steps, 1};
  GameObject b{};
  b.sub_state = 10;
  g_input.held_actions = kActionFocus;
  for (int i = 0; i < 20; ++i) RunDialogueStep(b, talk, 20, 0);
  EXPECT_EQ(b.sub_state, 13u);
  RunDialogueStep(b, talk, 20, 0);
  EXPECT_EQ(b.sub_state, kTalkDone);
}

// ---- In the stage -------------------------------------------------------------

void CreateTestBoss(GameObject& r) { CreateBoss(r, kBossSetups[kBoss1A]); }

TEST_F(BossTest, StageWaitsForTheDefeatedBossThenGoesOn) {
  StageConstants constants = *kStage1Timeline.constants;
  constants.midboss = CreateTestBoss;
  const StageTimeline timeline = {&constants, kStage1Timeline.phases,
                                  kStage1Timeline.phase_count};
  g_game.talk.talk_mode = 0;
  SetScene(g_game, kSceneStage1);
  ChangePhase(g_game, kPhaseMidBoss);
  g_input.held_actions = kActionFocus;
  GameObject* boss = nullptr;
  int frames = 0;
  int created_at = -1;
  for (; frames < 6000 && g_game.levels[kLevelPhase] == kPhaseMidBoss; ++frames) {
    RunStageScript(g_game, timeline);
    if (boss == nullptr && g_enemies[0].in_use != 0) {
      boss = &g_enemies[0];
      created_at = frames;
    }
    if (boss != nullptr && boss->in_use != 0) {
      // Every phase is beaten as soon as its life counts.
      if (boss->state >= 1 && boss->state <= 3 && g_game.boss_gauge.phase_start_countdown == 0) {
        boss->killed = 1;
      }
      UpdateBoss(*boss, kBossSetups[kBoss1A], kTestPhases);
    }
  }
  EXPECT_EQ(created_at, 400);
  ASSERT_NE(boss, nullptr);
  EXPECT_EQ(boss->in_use, 0);
  EXPECT_EQ(g_game.levels[kLevelPhase], kPhaseAfterMidBoss);
  EXPECT_EQ(g_game.talk.talk_mode, 0);
  EXPECT_TRUE(NoLiveEnemy());
}

// Every boss's lives as its set-up writes them into the gauge, phase by
// phase, through the boss's own creator; entries past the listed lives stay
// empty. Boss 3A fights one phase but lists three lives.
TEST_F(BossTest, EveryBossWritesItsLivesPerPhase) {
  struct Row {
    void (*create)(GameObject&);
    uint32_t kind;
    uint32_t last_phase;
    double lives[kMaxBossPhases];
  };
  const Row rows[] = {
      {CreateBoss1A, 5, 3, {1300, 1100, 1500, 0, 0}},
      {CreateBoss1B, 6, 5, {1300, 1400, 1500, 1500, 1600}},
      {CreateBoss2A, 7, 3, {1500, 1700, 1500, 0, 0}},
      {CreateBoss2B, 8, 5, {1600, 1600, 1700, 1700, 1700}},
      {CreateBoss3A, 9, 1, {2000, 1400, 1600, 0, 0}},
      {CreateBoss3B, 10, 5, {1900, 1700, 1700, 1600, 1700}},
      {CreateBoss4, 12, 5, {2000, 2000, 2000, 2000, 2000}},
      {CreateBoss5, 15, 5, {2500, 3500, 3000, 3500, 3500}},
  };
  for (const Row& row : rows) {
    gametest::ResetGameGlobals();
    GameObject& b = g_enemies[FindFreeEnemy()];
    row.create(b);
    const BossGauge& g = g_game.boss_gauge;
    EXPECT_EQ(b.kind, row.kind);
    EXPECT_EQ(g.last_phase, row.last_phase) << "kind " << row.kind;
    EXPECT_EQ(b.life, row.lives[0]) << "kind " << row.kind;
    for (uint32_t phase = 1; phase <= kMaxBossPhases; ++phase) {
      EXPECT_EQ(g.life_per_phase[phase], row.lives[phase - 1])
          << "kind " << row.kind << " phase " << phase;
    }
  }
}

}  // namespace
