// game/bosses/boss.h - what every boss has in common: the set-up table, the
// per-frame frame of the fight (gauge, phase hand-over, defeat), the entry and
// the fly-off, the dialogue step and the glide to a target point.
//
// A boss file gives only what is its own: the attack phases. It defines its
// creator and update as
//
//   void CreateBoss1A(GameObject& r) { CreateBoss(r, kBossSetups[kBoss1A]); }
//   void UpdateBoss1A(GameObject& r) { UpdateBoss(r, kBossSetups[kBoss1A], kBoss1APhases); }
//
// with `kBoss1APhases` the table of its attack-phase functions. The dialogues,
// captions and music credits are story data (game/bosses/story.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "game/frame/game_state.h"
#include "game/objects/game_object.h"

// ----- Record fields -----------------------------------------------------------
// The sway is motion part 0 (offset, phases, steps, amplitudes); the travel is
// motion part 1: its offset, angle and speed, and these slots.
inline constexpr int kSwayPart = 0;
inline constexpr int kTravelPart = 1;
inline constexpr int kTravelStepUp = 0;    // parts[1].kind_values: the speed step of the
inline constexpr int kTravelStepDown = 1;  //   entry, the fly-off and the glide
inline constexpr int kTravelMax = 2;
inline constexpr int kTravelMin = 3;
inline constexpr int kTravelTargetX = 0;   // parts[1].extra
inline constexpr int kTravelTargetY = 1;
// The attack block counter that counts the boss's finished attack cycles.
inline constexpr int kBossCycle = kFramesSinceSpawn;

// Outer states.
inline constexpr uint32_t kBossEntry = 0;
inline constexpr uint32_t kBossDefeated = 99;
// Sub-states of the entry and of the defeat.
inline constexpr uint32_t kTalkFirstStep = 10;
inline constexpr uint32_t kTalkDone = 50;
inline constexpr uint32_t kFlyOffDone = 51;
// The gauge phase after the defeat: no bar is drawn.
inline constexpr uint32_t kGaugePhaseDefeated = 10;
inline constexpr uint32_t kPhaseCountdown = 200;
inline constexpr uint32_t kPhaseTimeLimit = 6000;
inline constexpr uint32_t kMaxBossPhases = 5;

// ----- Dialogue ------------------------------------------------------------------

// One dialogue step: the sub-state value it runs on, the speaking side (1 left,
// the player's character; 2 right, the boss), the portrait expression (1-4),
// three lines (a blank line is "") and the sub-state that follows.
struct DialogueStep {
  uint32_t step;
  uint8_t side;
  uint32_t expression;
  const char* lines[3];
  uint32_t next;
};

struct Dialogue {
  const DialogueStep* steps;  // the first is the dialogue's opening step
  size_t count;
};

// ----- The bosses ------------------------------------------------------------------

enum BossId { kBoss1A, kBoss1B, kBoss2A, kBoss2B, kBoss3A, kBoss3B, kBoss4, kBoss5, kBossCount };

struct BossStory {
  const char* caption;       // the name line under the bar
  const char* music_credit;  // posted with the boss track
  const Dialogue* entry;
  const Dialogue* post;
};

struct BossSetup {
  uint32_t kind;
  double life[kMaxBossPhases];  // per phase from 1; 0 ends the list
  uint32_t last_phase;
  double body_radius;
  uint32_t graphic;
  uint32_t aura;            // aura appearance; 0: the boss makes its own aura
  bool mid_boss;            // turns talk mode off when it leaves
  bool boss_track;          // switches to the boss track at the fight start
  uint32_t first_fill;      // sub-state timer on which a dialogue's first step fills
  uint32_t entry_minimum;   // frames a dialogue step lasts at least
  uint32_t post_minimum;
  const BossStory* story;
  // Frames the boss stands where it is after its closing dialogue before it
  // goes; 0: it flies off upwards.
  uint32_t stand_after_talk = 0;
  // The entry brings the background up to full brightness; the last boss
  // leaves it as its stage dimmed it.
  bool entry_brightens = true;
};

extern const BossSetup kBossSetups[kBossCount];

// The attack phase functions by state (1 .. last phase; entry 0 unused). Each
// runs its state's sub-states for one frame; the framework then does the
// hand-over to the next phase.
using BossPhaseFn = void (*)(GameObject& boss);
struct BossPhases {
  BossPhaseFn by_state[kMaxBossPhases + 1];
};

// ----- Framework ---------------------------------------------------------------------

// The set-up shared by all bosses; the record comes from `FindFreeEnemy`,
// whose found index becomes its own index.
void CreateBoss(GameObject& boss, const BossSetup& setup);
// One frame: the gauge prologue, the state machine (entry, the attack phases
// through `phases`, the defeat) and the position.
void UpdateBoss(GameObject& boss, const BossSetup& setup, const BossPhases& phases);

// The prologue alone (gauge, countdown, phase end and defeat); part of `UpdateBoss`.
void BossPrologue(GameObject& boss, const BossSetup& setup);
// One frame of a dialogue step on the record's sub-state.
void RunDialogueStep(GameObject& boss, const Dialogue& talk, uint32_t minimum,
                     uint32_t first_fill);

// ----- Helpers for the attack phases ------------------------------------------------

// The end of a phase's opening pause: fight stage, `SavePosition`, `ClearValueList`.
void BossOpenPhase(GameObject& boss, uint32_t fight_stage);

struct GlideParams {
  double speed;
  double step_up;
  double maximum;
  double step_down;
  double minimum;
};
inline constexpr GlideParams kGlideDefault = {0.3, 0.05, 3.0, -0.07, 1.0};

// Chooses a target point: the travel angle turns to it and the glide speeds are set.
void BossSetGlideTarget(GameObject& boss, double x, double y, const GlideParams& params);
// One frame of the glide (attack-phase sway, steer, speed up or down, move);
// true on the frame of arrival, which also moves the sub-state to `next`.
bool BossGlide(GameObject& boss, uint32_t next);

// The travel part's own sine motion around the point where it starts.
void BossStartTravelSine(GameObject& boss, double step_a, double amplitude_a, double step_b,
                         double amplitude_b);
void BossTravelSineStep(GameObject& boss);

// The angle from the boss to the player.
double BossAimAngle(const GameObject& boss);
// Requests a sound effect slot for the end of the frame.
void RequestSound(uint32_t slot);

// ----- Entry points --------------------------------------------------------------------
// Defined by each boss's own file.
void CreateBoss1A(GameObject& record);
void UpdateBoss1A(GameObject& record);
void CreateBoss1B(GameObject& record);
void UpdateBoss1B(GameObject& record);
void CreateBoss2A(GameObject& record);
void UpdateBoss2A(GameObject& record);
void CreateBoss2B(GameObject& record);
void UpdateBoss2B(GameObject& record);
void CreateBoss3A(GameObject& record);
void UpdateBoss3A(GameObject& record);
void CreateBoss3B(GameObject& record);
void UpdateBoss3B(GameObject& record);
void CreateBoss4(GameObject& record);
void UpdateBoss4(GameObject& record);
void CreateBoss5(GameObject& record);
void UpdateBoss5(GameObject& record);
