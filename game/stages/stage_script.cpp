// game/stages/stage_script.cpp - the stage phase machine: load, set-up,
// start, fade-in, the wave phases of the timeline, the boss phases and the
// stage end.
#include "game/stages/stage_script.h"

#include "game/bosses/talk.h"
#include "game/frame/input.h"
#include "game/frame/save_writer.h"
#include "game/objects/backgrounds.h"
#include "game/objects/effects.h"
#include "game/objects/enemies.h"
#include "game/objects/enemy_bullets.h"
#include "game/objects/player.h"
#include "game/objects/resources.h"
#include "game/stages/stage1_timeline.h"
#include "rorud/rorud.h"

namespace {

uint32_t& Phase(GameState& s) { return s.levels[kLevelPhase]; }
uint32_t& PhaseCounter(GameState& s) { return s.level_counters[kLevelPhase]; }

uint32_t U(double v) { return static_cast<uint32_t>(v); }

void ApplyRamp(GameState& s, uint32_t base, const StageRamp& r) {
  if (r.with_brightness) {
    StageTick(s, base, r.scroll_step, r.scroll_target, r.brightness_step, r.brightness_target);
  } else {
    StageTickScroll(s, base, r.scroll_step, r.scroll_target);
  }
}

void LoadStage(GameState& s, const StageConstants& c) {
  if (s.replay_playback != 0 && !LoadReplay(static_cast<int>(c.stage))) {
    StopAllBgm();
    SetScene(s, kSceneTitle);
    return;
  }
  const PlayerSetup& setup = CurrentPlayerSetup();
  LoadPlayerGraphics(setup.ship_kind, setup.partner_mode);
  LoadStageGraphics(c.stage);
  LoadBgm(g_bgm_music, c.music_file, c.music_loop);
  if (c.boss_music_file != nullptr) LoadBgm(g_bgm_boss, c.boss_music_file, c.boss_music_loop);
  ChangePhase(s, kPhaseObjects);
}

void SetUpObjects(GameState& s) {
  CreateBackgroundBase(g_backgrounds[0], 1);
  CreateBackgroundBase(g_backgrounds[1], 2);
  CreateBackgroundSub(g_backgrounds[2], 1);
  CreateBackgroundSub(g_backgrounds[3], 2);
  // Portraits before windows: the windows draw over them in their layer.
  if (GameObject* e = TakeFreeEffect()) CreatePortrait(*e, kTalkLeft);
  if (GameObject* e = TakeFreeEffect()) CreatePortrait(*e, kTalkRight);
  if (GameObject* e = TakeFreeEffect()) CreateTalkWindow(*e, kTalkLeft);
  if (GameObject* e = TakeFreeEffect()) CreateTalkWindow(*e, kTalkRight);
  InitPlayer();
  if (GameObject* indicator = TakeFreeEffect()) CreateFocusIndicator(*indicator);
  ResetPlayerStatus();
  ChangePhase(s, kPhaseStart);
}

void StartStage(GameState& s, const StageConstants& c) {
  SeedRandom(kStageSeed);
  s.fade_value = 0.0;
  s.scroll_speed = 2.3;
  s.background_brightness = 255.0;
  s.hud_on = 1;
  s.score = s.carried_score;
  s.stage_frame_counter = 0;
  s.opponent_portrait_set = 0;
  PlayBgm(g_bgm_music);
  StartMusicCaption(s, c.caption);
  ChangePhase(s, kPhaseFadeIn);
}

void FadeIn(GameState& s) {
  StageTick(s, 0, 0.01, 5.0, 0.0, 255.0);
  ApproachUp(s.fade_value, 1.5, 255.0);
  ++PhaseCounter(s);
  if (s.fade_value >= 255.0) ChangePhase(s, kPhaseFirstWave);
}

void RunWave(GameState& s, const WavePhase& w) {
  if (w.ramp_brightness) {
    StageTick(s, w.spawn_base, w.scroll_step, w.scroll_target, w.brightness_step,
              w.brightness_target);
  } else {
    StageTickScroll(s, w.spawn_base, w.scroll_step, w.scroll_target);
  }
  for (size_t i = 0; i < w.row_count; ++i) {
    if (IsSpawnFrame(s, w.rows[i].offset)) SpawnFromRow(w.rows[i]);
  }
  const bool passes = PhaseCounter(s) > w.spawn_base + w.exit_wait &&
                      (!w.exit_needs_no_enemy || NoLiveEnemy());
  ++PhaseCounter(s);
  if (passes) ChangePhase(s, w.next_phase);
}

// The mid-boss and boss phases. Without a boss the phase holds after the
// talk starts: the stage never claims a fight that did not happen.
void RunBossPhase(GameState& s, const StageRamp& ramp, uint32_t portrait_set,
                  BossCreatorFn creator, uint32_t next) {
  ApplyRamp(s, 200, ramp);
  s.opponent_portrait_set = portrait_set;
  if (IsSpawnFrame(s, 10)) CancelEnemyBullets();
  if (IsSpawnFrame(s, 100)) s.talk.talk_mode = 1;
  if (IsSpawnFrame(s, 200) && creator != nullptr) {
    const uint32_t index = FindFreeEnemy();
    if (index != kPoolFull) creator(g_enemies[index]);
  }
  const bool passes = creator != nullptr && PhaseCounter(s) > 200 + 500 && NoLiveEnemy();
  ++PhaseCounter(s);
  if (passes) ChangePhase(s, next);
}

void AfterMidBoss(GameState& s) {
  StageTick(s, 100, 0.01, 5.0, -0.1, 160.0);
  const bool passes = PhaseCounter(s) > 100 + 50 && NoLiveEnemy();
  ++PhaseCounter(s);
  if (passes) ChangePhase(s, kPhaseSecondWave);
}

void EndStage(GameState& s, const StageConstants& c) {
  StageTick(s, 100, -0.01, 2.0, -0.3, 160.0);
  if (s.replay_playback == 0) {
    // Written again every frame of this phase, with every frame so far, by
    // the writer thread: a slow disk would otherwise stall every frame. A
    // save that fails names its file and the reason; the stage goes on.
    SaveReplayInBackground(static_cast<int>(c.stage));
    if (s.score > s.high_score) {
      s.high_score = s.score;
      SaveRecordFileInBackground();
    }
  }
  // Carried in playback too, so a replayed later stage starts from the
  // score the recorded run had.
  s.carried_score = s.score;
  const bool left = AdvanceStateLevel(s, kLevelScene, static_cast<int32_t>(c.end_wait), true,
                                      c.end_needs_no_enemy, c.next_scene);
  StopAllBgm();
  // The stage's last replay is in place before the next scene starts.
  if (left) PlaceBackgroundSaves();
}

}  // namespace

const WavePhase* FindWavePhase(const StageTimeline& t, uint32_t phase) {
  for (size_t i = 0; i < t.phase_count; ++i) {
    if (t.phases[i].phase == phase) return &t.phases[i];
  }
  return nullptr;
}

void SpawnFromRow(const SpawnRow& row) {
  const uint32_t index = FindFreeEnemy();
  if (index == kPoolFull) return;
  GameObject& r = g_enemies[index];
  const double* a = row.args;
  switch (row.creator) {
    case kZakoA: CreateZakoA(r, U(a[0]), U(a[1]), U(a[2]), a[3], a[4], a[5], a[6], a[7]); break;
    case kZakoB:
      CreateZakoB(r, U(a[0]), U(a[1]), U(a[2]), U(a[3]), a[4], a[5], a[6], a[7], a[8]);
      break;
    case kZakoC:
      CreateZakoC(r, U(a[0]), U(a[1]), U(a[2]), U(a[3]), U(a[4]), a[5], a[6], a[7], a[8], a[9]);
      break;
    case kMidZakoA: CreateMidZakoA(r, U(a[0]), U(a[1]), U(a[2]), a[3], a[4], a[5], a[6], a[7]); break;
    case kMidZakoB: CreateMidZakoB(r, U(a[0]), U(a[1]), U(a[2]), a[3], a[4], a[5], a[6], a[7]); break;
    case kMidZakoC: CreateMidZakoC(r, U(a[0]), U(a[1]), U(a[2]), a[3], a[4], a[5], a[6], a[7]); break;
  }
}

void RunStageScript(GameState& s, const StageTimeline& t) {
  const StageConstants& c = *t.constants;
  switch (Phase(s)) {
    case kPhaseReset:
      ResetSession(s);
      StartStagePlay();
      ChangePhase(s, kPhaseLoad);
      return;
    case kPhaseLoad: LoadStage(s, c); return;
    case kPhaseObjects: SetUpObjects(s); return;
    case kPhaseStart: StartStage(s, c); return;
    case kPhaseFadeIn: FadeIn(s); return;
    // A stage without a mid-boss has no such phases: they do nothing there.
    case kPhaseMidBoss:
      if (c.midboss != nullptr) RunBossPhase(s, c.midboss_ramp, 1, c.midboss, kPhaseAfterMidBoss);
      return;
    case kPhaseAfterMidBoss:
      if (c.midboss != nullptr) AfterMidBoss(s);
      return;
    case kPhaseBoss: RunBossPhase(s, c.boss_ramp, 2, c.boss, kPhaseStageEnd); return;
    case kPhaseStageEnd: EndStage(s, c); return;
    default:
      if (const WavePhase* w = FindWavePhase(t, Phase(s))) RunWave(s, *w);
      return;
  }
}

void Stage1Script(GameState& s) { RunStageScript(s, kStage1Timeline); }
