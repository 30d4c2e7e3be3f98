// game/frame/frame_loop.h - one frame of the game: input, scene, objects,
// draw, sound requests, flip and the paced wait.
#pragma once

#include <cstdint>

#include "game/frame/game_state.h"

// Pacing state: 16, 17, 17 ms per three frames, frame-rate measurement every
// 30 frames and the Escape test.
struct FramePacing {
  uint32_t previous_time;  // ms, the clock at the end of the previous wait
  int32_t frame_number;
  uint32_t accumulator;    // ms since the last measurement
  uint32_t measured_frames;  // frames in the accumulator
  uint8_t escape_flag;
  double frame_rate;       // frames per second, 0.0 before the first one
};

extern FramePacing g_pacing;

// The library's millisecond clock keeps 31 bits.
inline constexpr uint32_t kClockMask = 0x7FFFFFFFu;

void ResetPacing(FramePacing& pacing, uint32_t now);
// The length in ms of the frame with this number: 16 for every third frame
// starting with frame 0, else 17.
uint32_t FrameLengthMs(int32_t frame_number);
// Milliseconds between two readings of the 31-bit clock, across its wrap.
uint32_t ClockElapsed(uint32_t now, uint32_t before);
// True while the frame is not yet over.
bool FrameWaitPending(const FramePacing& pacing, uint32_t now);
// True while more than 2 ms of the frame remain: the wait may sleep a
// millisecond and still end on the exact clock tick.
bool FrameWaitMaySleep(const FramePacing& pacing, uint32_t now);
// Closes the frame at `now`: adds its time, measures the frame rate when due
// and counts the frame. Returns true when the Escape key is to be tested.
bool CloseFrame(FramePacing& pacing, uint32_t now);
// The Escape test with the key's state; true when it ends the game.
bool EscapeTest(FramePacing& pacing, bool key_down);

// Scene functions: the boot, title and high-score scenes use the game state
// directly, the stage scripts receive it.
using SceneFn = void (*)(GameState& state);
// The scene of each scene number 0 to 7 (null: not present; it runs nothing).
extern SceneFn g_scene_table[8];

bool RunScene();
// Serves the sound requests of the frame.
void ServeSoundRequests();
bool WaitFrame();
// One whole frame.
void RunFrame();
