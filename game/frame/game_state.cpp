// game/frame/game_state.cpp - the state stack operations, the stage clock and
// the per-scene reset.
#include "game/frame/game_state.h"

#include "game/objects/game_object.h"

GameState g_game;
uint32_t g_replay_words[kReplayCapacity];
PlayerSetup g_player_setups[kPlayerSetupRows];

PlayerSetup& CurrentPlayerSetup() {
  const uint32_t row = g_game.player_setup_row < kPlayerSetupRows ? g_game.player_setup_row : 0;
  return g_player_setups[row];
}

void SetScene(GameState& s, uint32_t scene) {
  s.levels[kLevelScene] = scene;
  s.level_counters[kLevelScene] = 0;
  s.levels[kLevelPhase] = 0;
  s.level_counters[kLevelPhase] = 0;
  s.levels[kLevelSubPhase] = 0;
  s.level_counters[kLevelSubPhase] = 0;
}

void ChangePhase(GameState& s, uint32_t phase) {
  s.levels[kLevelPhase] = phase;
  s.level_counters[kLevelPhase] = 0;
  s.levels[kLevelSubPhase] = 0;
  s.level_counters[kLevelSubPhase] = 0;
}

bool AdvanceStateLevel(GameState& s, int level, int32_t min_wait, bool condition,
                       bool need_no_enemy, uint32_t value) {
  if (level < 0 || level > 3) return false;
  const bool enemies_gone = need_no_enemy ? NoLiveEnemy() : true;
  const bool waited =
      min_wait == 0 || min_wait < static_cast<int32_t>(s.level_counters[level]);
  ++s.level_counters[level];
  if (!(condition && enemies_gone && waited)) return false;
  s.levels[level] = value;
  s.level_counters[level] = 0;
  if (level == kLevelScene) {
    s.levels[kLevelPhase] = 0;
    s.level_counters[kLevelPhase] = 0;
    s.levels[kLevelSubPhase] = 0;
    s.level_counters[kLevelSubPhase] = 0;
  } else if (level == kLevelPhase) {
    s.levels[kLevelSubPhase] = 0;
    s.level_counters[kLevelSubPhase] = 0;
  }
  return true;
}

bool FinishPhaseAfter3Frames(GameState& s) {
  ++s.level_counters[kLevelPhase];
  if (s.level_counters[kLevelPhase] < 3) return false;
  s.levels[kLevelPhase] = 9999;
  s.level_counters[kLevelPhase] = 0;
  s.level_counters[kLevelSubPhase] = 0;
  s.levels[kLevelSubPhase] = 0;
  return true;
}

void RampValue(double& value, double step, double target) {
  value += step;
  if (step >= 0.0) {
    if (value >= target) value = target;
  } else if (value <= target) {
    value = target;
  }
}

void StageTick(GameState& s, uint32_t spawn_base, double scroll_step, double scroll_target,
               double brightness_step, double brightness_target) {
  s.spawn_base = spawn_base;
  RampValue(s.scroll_speed, scroll_step, scroll_target);
  RampValue(s.background_brightness, brightness_step, brightness_target);
  if (s.talk.talk_mode == 0) ++s.stage_frame_counter;
}

void StageTickScroll(GameState& s, uint32_t spawn_base, double scroll_step,
                     double scroll_target) {
  s.spawn_base = spawn_base;
  RampValue(s.scroll_speed, scroll_step, scroll_target);
  if (s.talk.talk_mode == 0) ++s.stage_frame_counter;
}

bool IsSpawnFrame(const GameState& s, uint32_t offset) {
  return s.level_counters[kLevelPhase] == s.spawn_base + offset;
}

bool NoLiveEnemy() {
  if (g_game.boss_gauge.active == 1) return false;
  for (const GameObject& e : g_enemies) {
    if (e.in_use != 0 && e.life > 0.0) return false;
  }
  return true;
}

void ResetSession(GameState& s) {
  ResetAllPools();
  s.fade_value = 0.0;
  s.scroll_speed = 0.0;
  s.background_brightness = 0.0;
  s.hud_on = 0;
  s.overlay_on = 0;
  s.overlay_mode = 0;
  s.pause = 0;
  s.stage_frame_counter = 0;
  s.score = 0;
  s.replay_frame_index = 0;
  TalkState& t = s.talk;
  t.talk_mode = t.left_speaks = t.right_speaks = 0;
  t.left_present = t.right_present = 0;
  t.left_highlighted = t.right_highlighted = 0;
  t.left_expression = t.right_expression = 0;
  for (int i = 0; i < 3; ++i) {
    t.left_lines[i] = "";
    t.right_lines[i] = "";
  }
  s.boss_gauge.active = 0;
  s.boss_gauge.time_limit = 0;
  s.music_caption.on = 0;
}

void StartMusicCaption(GameState& s, const char* text) {
  s.music_caption.on = 1;
  s.music_caption.y = 460.0;
  s.music_caption.counter = 0;
  s.music_caption.text = text;
}
