// game/frame/pacing.cpp - frame pacing arithmetic and the frame-rate
// measurement.
#include "game/frame/frame_loop.h"

FramePacing g_pacing;

void ResetPacing(FramePacing& p, uint32_t now) {
  p.previous_time = now & kClockMask;
  p.frame_number = 0;
  p.accumulator = 0;
  p.measured_frames = 0;
  p.escape_flag = 0;
  p.frame_rate = 0.0;
}

uint32_t FrameLengthMs(int32_t frame_number) { return frame_number % 3 == 0 ? 16u : 17u; }

uint32_t ClockElapsed(uint32_t now, uint32_t before) { return (now - before) & kClockMask; }

bool FrameWaitPending(const FramePacing& p, uint32_t now) {
  return ClockElapsed(now, p.previous_time) < FrameLengthMs(p.frame_number);
}

bool FrameWaitMaySleep(const FramePacing& p, uint32_t now) {
  // A reading of the millisecond clock may be up to 1 ms late, so 3 whole
  // milliseconds left are more than 2 true ones.
  return ClockElapsed(now, p.previous_time) + 3 <= FrameLengthMs(p.frame_number);
}

bool CloseFrame(FramePacing& p, uint32_t now) {
  now &= kClockMask;
  p.accumulator += ClockElapsed(now, p.previous_time);
  p.previous_time = now;
  ++p.measured_frames;
  if (p.frame_number % 30 == 0) {
    // The rate over the frames actually measured: the first measurement
    // covers frame 0 alone, later ones 30 frames.
    if (p.accumulator != 0) {
      p.frame_rate = 1000.0 * static_cast<double>(p.measured_frames) /
                     static_cast<double>(p.accumulator);
    }
    p.accumulator = 0;
    p.measured_frames = 0;
  }
  ++p.frame_number;
  return p.frame_number % 30 == 0;
}

bool EscapeTest(FramePacing& p, bool key_down) {
  if (!key_down) {
    p.escape_flag = 0;
    return false;
  }
  if (p.escape_flag == 1) return true;
  p.escape_flag = 1;
  return false;
}
