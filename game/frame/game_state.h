// game/frame/game_state.h - the one game-state record: the four-level state
// stack, scores, pause and fade, replay bookkeeping and the records through
// which the bosses, the dialogue and the panel talk to each other.
#pragma once

#include <cstddef>
#include <cstdint>

// The dialogue record that the bosses write and the speech windows read.
struct TalkState {
  uint8_t talk_mode;  // 1 while a dialogue runs: stops the stage clock
  uint8_t left_speaks;
  uint8_t right_speaks;
  uint8_t left_present;
  uint8_t right_present;
  uint8_t left_highlighted;
  uint8_t right_highlighted;
  uint32_t left_expression;
  uint32_t right_expression;
  const char* left_lines[3];
  const char* right_lines[3];
};

// The boss life bar record.
struct BossGauge {
  uint8_t active;  // 1 while a boss fight runs: `NoLiveEnemy` is then false
  uint32_t last_phase;
  uint32_t phase;  // from 1; 10 after the defeat
  double life_per_phase[16];
  double shown_life;
  double bar_fill;  // 0 to 100
  uint32_t phase_start_countdown;
  const char* caption;
  uint32_t time_limit;  // frames
  uint32_t fight_frame_counter;
};

// The timed music credit caption.
struct MusicCaption {
  uint8_t on;
  uint32_t counter;
  double y;
  const char* text;
};

// A row of the player-setup table; only row 1 is used.
struct PlayerSetup {
  uint32_t ship_kind;     // 1 or 2
  uint32_t partner_mode;  // 1 or 2
};
inline constexpr size_t kPlayerSetupRows = 4;
extern PlayerSetup g_player_setups[kPlayerSetupRows];

// State levels.
inline constexpr int kLevelMode = 0;
inline constexpr int kLevelScene = 1;
inline constexpr int kLevelPhase = 2;
inline constexpr int kLevelSubPhase = 3;

// Scenes (the scene level).
inline constexpr uint32_t kSceneBoot = 0;
inline constexpr uint32_t kSceneTitle = 1;
inline constexpr uint32_t kSceneHighScore = 2;
inline constexpr uint32_t kSceneStage1 = 3;
inline constexpr uint32_t kSceneStage5 = 7;

struct GameState {
  uint32_t record_words[5];
  uint32_t player_setup_row;
  uint8_t hud_on;
  uint8_t overlay_on;
  uint32_t overlay_mode;  // 10 boot logo, 11 title menu, 12 high-score screen
  uint8_t pause;
  double fade_value;  // 0.0 black to 255.0 fully visible
  double scroll_speed;
  double background_brightness;
  uint32_t stage_frame_counter;
  uint32_t high_score;
  uint32_t score;
  uint32_t carried_score;
  uint8_t replay_playback;
  uint32_t replay_frame_index;
  TalkState talk;
  uint32_t title_cursor;
  uint32_t ship_kind_choice;
  uint32_t opponent_portrait_set;
  uint32_t levels[4];          // mode, scene, phase, sub-phase
  uint32_t level_counters[4];  // one frame counter per level
  uint32_t spawn_base;
  uint32_t next_scene;
  BossGauge boss_gauge;
  MusicCaption music_caption;
};

extern GameState g_game;

// The replay buffer of the current stage: one input word per played frame.
// Larger than a recorded stage ever needs (about 73 minutes of play), so a
// long stage does not overwrite its last word; the file format is unchanged.
inline constexpr uint32_t kReplayCapacity = 262144;
extern uint32_t g_replay_words[kReplayCapacity];

// The player-setup row that the game state selects (row 0 when out of range).
PlayerSetup& CurrentPlayerSetup();

// Level setters: a level set clears the levels below it with their counters.
void SetScene(GameState& state, uint32_t scene);
void ChangePhase(GameState& state, uint32_t phase);

bool AdvanceStateLevel(GameState& state, int level, int32_t min_wait, bool condition,
                       bool need_no_enemy, uint32_t value);
bool FinishPhaseAfter3Frames(GameState& state);
void StageTick(GameState& state, uint32_t spawn_base, double scroll_step, double scroll_target,
               double brightness_step, double brightness_target);
void StageTickScroll(GameState& state, uint32_t spawn_base, double scroll_step,
                     double scroll_target);
bool IsSpawnFrame(const GameState& state, uint32_t offset);
bool NoLiveEnemy();
void ResetSession(GameState& state);
void StartMusicCaption(GameState& state, const char* text);
// The ramp of the scroll speed and the background brightness.
void RampValue(double& value, double step, double target);
