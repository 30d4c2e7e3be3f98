// game/frame/input_frame.cpp - the per-frame input step.
#include "game/frame/frame_loop.h"
#include "game/frame/input.h"
#include "game/objects/resources.h"
#include "rorud/rorud.h"

bool UpdateInputFrame() {
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
