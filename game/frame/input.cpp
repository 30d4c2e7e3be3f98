// game/frame/input.cpp - pad to actions, pausing and the replay words.
#include "game/frame/input.h"

#include <cstdint>

InputState g_input;
double g_replayed_frame_rate = 0.0;

void SetRawFromPadBits(InputState& in, uint32_t pad) {
  uint8_t dirs = 0;
  if (pad & 8) dirs |= kDirUp;
  if (pad & 4) dirs |= kDirRight;
  if (pad & 1) dirs |= kDirDown;
  if (pad & 2) dirs |= kDirLeft;
  in.raw_directions = dirs;
  in.raw_buttons = static_cast<uint8_t>((pad >> 4) & 0xFF);
}

bool MapKeyConfig(InputState& in) {
  in.previous_directions = (in.previous_directions & ~0x0F) | (in.held_directions & 0x0F);
  in.previous_actions = (in.previous_actions & ~0x1F) | (in.held_actions & 0x1F);
  uint8_t held = in.held_actions & ~0x1F;
  for (int k = 0; k < 5; ++k) {
    const uint32_t b = in.buttons[k];
    if (b >= 1 && b <= 8 && (in.raw_buttons >> (b - 1)) & 1) held |= 1u << k;
  }
  in.held_actions = held;
  in.held_directions = (in.held_directions & ~0x0F) | (in.raw_directions & 0x0F);
  const uint8_t ha = in.held_actions & 0x1F, pa = in.previous_actions & 0x1F;
  const uint8_t hd = in.held_directions & 0x0F, pd = in.previous_directions & 0x0F;
  in.pressed_actions = (in.pressed_actions & ~0x1F) | (ha & ~pa);
  in.released_actions = (in.released_actions & ~0x1F) | (pa & ~ha);
  in.pressed_directions = (in.pressed_directions & ~0x0F) | (hd & ~pd);
  in.released_directions = (in.released_directions & ~0x0F) | (pd & ~hd);
  return true;
}

uint32_t EncodeReplayWord(const InputState& in, uint32_t previous_word, double frame_rate) {
  // Rates from the first frames can exceed what 16 bits hold after the
  // factor 100: only the low 16 bits are kept.
  double scaled = frame_rate * 100.0;
  if (!(scaled >= 0.0)) scaled = 0.0;
  if (scaled > 4294967295.0) scaled = 4294967295.0;
  const uint32_t rate = static_cast<uint32_t>(static_cast<uint64_t>(scaled)) & 0xFFFFu;
  uint32_t w = previous_word & ~(0x3FFu | (0xFFFFu << 12));
  w |= in.held_directions & 0x0Fu;
  w |= static_cast<uint32_t>(in.held_actions & 0x07u) << 4;
  w |= static_cast<uint32_t>(in.pressed_actions & 0x07u) << 7;
  w |= rate << 12;
  return w;
}

double DecodeReplayWord(InputState& in, uint32_t w) {
  in.held_directions = static_cast<uint8_t>((in.held_directions & ~0x0F) | (w & 0x0F));
  in.held_actions = static_cast<uint8_t>((in.held_actions & ~0x07) | ((w >> 4) & 0x07));
  in.pressed_actions = static_cast<uint8_t>((in.pressed_actions & ~0x07) | ((w >> 7) & 0x07));
  return static_cast<double>(((w >> 12) & 0xFFFFu) / 100u);
}

InputStepResult StepPauseAndReplay(GameState& s, InputState& in, uint32_t* replay,
                                   double frame_rate) {
  const uint32_t scene = s.levels[kLevelScene];
  if (s.replay_playback == 1 && (in.held_actions & kActionPause)) {
    // A replay cannot be paused: holding pause leaves it for the title. The
    // playback flag stays set until the title clears it.
    SetScene(s, kSceneTitle);
    return InputStepResult::kPlaybackAborted;
  }
  if (s.pause == 0) {
    if (scene >= kSceneStage1 && scene <= kSceneStage5 && (in.pressed_actions & kActionPause)) {
      s.pause = 1;
      return InputStepResult::kPaused;
    }
  } else {
    if (in.pressed_actions & (kActionShot | kActionPause)) {
      s.pause = 0;
    } else if (in.pressed_actions & kActionFocus) {
      s.level_counters[kLevelScene] = 0;
      s.pause = 0;
      SetScene(s, kSceneTitle);
      return InputStepResult::kPauseCancelled;
    } else {
      return InputStepResult::kPaused;
    }
  }
  const uint32_t i = s.replay_frame_index;
  if (s.replay_playback == 0) {
    replay[i] = EncodeReplayWord(in, replay[i], frame_rate);
  } else {
    g_replayed_frame_rate = DecodeReplayWord(in, replay[i]);
  }
  if (i < kReplayCapacity - 1) s.replay_frame_index = i + 1;
  return InputStepResult::kPlayed;
}
