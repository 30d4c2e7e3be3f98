// game/frame/input_frame.cpp - the per-frame input step.
#include "game/frame/frame_loop.h"
#include "game/frame/input.h"
#include "game/objects/resources.h"
#include "rorud/rorud.h"

bool ReadPad(InputState& input) {
  SetRawFromPadBits(input, static_cast<uint32_t>(GetPadState(kPadInputType)));
  return true;
}

bool UpdateInputFrame() {
  ReadPad(g_input);
  MapKeyConfig(g_input);
  switch (StepPauseAndReplay(g_game, g_input, g_replay_words, g_pacing.frame_rate)) {
    case InputStepResult::kPlaybackAborted:
    case InputStepResult::kPauseCancelled:
      StopAllBgm();
      break;
    case InputStepResult::kPlayed:
    case InputStepResult::kPaused:
      break;
  }
  return true;
}
