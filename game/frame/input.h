// game/frame/input.h - the game's input record, pausing, the replay input
// words and the replay and record files.
#pragma once

#include <cstdint>

#include "game/frame/game_state.h"

struct InputState {
  uint32_t buttons[5];        // pad button (1 to 8) of each action; else none
  uint8_t raw_buttons;        // bit n-1: pad button n down
  uint8_t raw_directions;     // bit 0 up, 1 right, 2 down, 3 left
  uint8_t held_actions;       // 0 shot/decide, 1 focus/cancel, 2 bomb, 3 pause, 4
  uint8_t held_directions;
  uint8_t previous_actions;
  uint8_t previous_directions;
  uint8_t pressed_actions;
  uint8_t pressed_directions;
  uint8_t released_actions;
  uint8_t released_directions;
};

extern InputState g_input;
// The frame rate decoded from the replay words during playback.
extern double g_replayed_frame_rate;

inline constexpr uint8_t kActionShot = 1u << 0;    // shot and decide
inline constexpr uint8_t kActionFocus = 1u << 1;   // focus and cancel
inline constexpr uint8_t kActionBomb = 1u << 2;
inline constexpr uint8_t kActionPause = 1u << 3;
inline constexpr uint8_t kDirUp = 1u << 0;
inline constexpr uint8_t kDirRight = 1u << 1;
inline constexpr uint8_t kDirDown = 1u << 2;
inline constexpr uint8_t kDirLeft = 1u << 3;

inline constexpr uint32_t kReplayMagic = 10671200;
// The pad and keyboard together: pad 1 with the keyboard flag.
inline constexpr int kPadInputType = 0x1001;

// Pad state bits (1 down, 2 left, 4 right, 8 up, 16.. buttons 1..8) into the
// raw buttons and directions.
void SetRawFromPadBits(InputState& input, uint32_t pad_bits);
// `ReadPad`: reads pad 1 with the keyboard into the raw bits.
bool ReadPad(InputState& input);
bool MapKeyConfig(InputState& input);

uint32_t EncodeReplayWord(const InputState& input, uint32_t previous_word, double frame_rate);
// Puts the recorded bits back into the input record; returns the recorded
// frame rate (whole frames per second).
double DecodeReplayWord(InputState& input, uint32_t word);

enum class InputStepResult {
  kPlayed,            // the scene runs this frame; a replay word was handled
  kPaused,            // paused (or just paused): the scene does not run
  kPlaybackAborted,   // pause held during playback: back to the title
  kPauseCancelled,    // cancel in the pause menu: back to the title
};
// Pausing and the replay word for one frame, after the pad has been read.
// The two returns to the title need the music stopped by the caller.
InputStepResult StepPauseAndReplay(GameState& state, InputState& input, uint32_t* replay,
                                   double frame_rate);
// The whole per-frame input step.
bool UpdateInputFrame();

// File names of the replay of stage n (1 to 5) and of the record file.
void ReplayPath(int stage, char* out, int out_size);
inline constexpr char kRecordPath[] = "rec.hsd";

bool SaveReplay(int stage);
bool LoadReplay(int stage);
bool SaveRecordFile();
bool LoadRecordFile();
// The same saves handed to the writer thread (save_writer.h): the frame goes
// on at once, and the file is written whole, the newest contents first.
// Failures are named when the next save is handed over, or when
// FinishBackgroundSaves waits for the writer. The loads wait for it first.
void SaveReplayInBackground(int stage);
void SaveRecordFileInBackground();
// A new play of a stage starts: a failed save of its stage end names an
// earlier save of its own, not one of an earlier play, as what is kept.
void StartStagePlay();
