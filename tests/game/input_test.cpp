// Pad to actions, pausing and the replay words.
#include <gtest/gtest.h>

#include "game/frame/game_state.h"
#include "game/frame/input.h"
#include "tests/game/game_fixture.h"

namespace {

using gametest::GameTest;

class InputTest : public GameTest {
 protected:
  void SetUp() override {
    GameTest::SetUp();
    for (int i = 0; i < 5; ++i) in.buttons[i] = static_cast<uint32_t>(i + 1);
  }
  // One frame of pad bits through the mapping.
  void Frame(uint32_t pad) {
    SetRawFromPadBits(in, pad);
    MapKeyConfig(in);
  }
  InputState in{};
};

TEST_F(InputTest, PadBitsBecomeDirectionsAndButtons) {
  Frame(8 | 2 | 16 | 2048);  // up, left, button 1, button 8
  EXPECT_EQ(in.raw_directions, kDirUp | kDirLeft);
  EXPECT_EQ(in.raw_buttons, 0x81);
  Frame(1 | 4);
  EXPECT_EQ(in.raw_directions, kDirDown | kDirRight);
  EXPECT_EQ(in.raw_buttons, 0);
}

TEST_F(InputTest, PressedAndReleasedFollowTheHeldBits) {
  Frame(16);
  EXPECT_EQ(in.held_actions, kActionShot);
  EXPECT_EQ(in.pressed_actions, kActionShot);
  Frame(16 | 64);
  EXPECT_EQ(in.held_actions, kActionShot | kActionBomb);
  EXPECT_EQ(in.pressed_actions, kActionBomb);
  Frame(64);
  EXPECT_EQ(in.released_actions, kActionShot);
  EXPECT_EQ(in.pressed_actions, 0);
  Frame(8);
  EXPECT_EQ(in.pressed_directions, kDirUp);
  Frame(8);
  EXPECT_EQ(in.pressed_directions, 0);
  EXPECT_EQ(in.held_directions, kDirUp);
}

TEST_F(InputTest, ButtonNumbersOutsideOneToEightAreNeverDown) {
  in.buttons[0] = 0;
  in.buttons[1] = 9;
  in.buttons[2] = 65536;
  in.buttons[3] = 1;  // two actions on one button follow it together
  Frame(0xFF0);
  EXPECT_EQ(in.held_actions, kActionPause | 0x10);
}

TEST(ReplayWord, EncodesTheDocumentedExample) {
  InputState in{};
  in.held_directions = kDirUp | kDirLeft;
  in.held_actions = kActionShot;
  in.pressed_actions = kActionBomb;
  const uint32_t w = EncodeReplayWord(in, 0, 60.0);
  EXPECT_EQ(w, (1u << 0) | (1u << 3) | (1u << 4) | (1u << 9) | (6000u << 12));
  InputState out{};
  EXPECT_EQ(DecodeReplayWord(out, w), 60.0);
  EXPECT_EQ(out.held_directions, kDirUp | kDirLeft);
  EXPECT_EQ(out.held_actions, kActionShot);
  EXPECT_EQ(out.pressed_actions, kActionBomb);
}

TEST(ReplayWord, RateKeepsLowSixteenBitsAndOtherBits) {
  InputState in{};
  // 655.36 frames per second is 65536 after the factor: low 16 bits are 0.
  EXPECT_EQ(EncodeReplayWord(in, 0, 655.36) >> 12, 0u);
  EXPECT_EQ(EncodeReplayWord(in, 0, 1000.0) >> 12, (100000u & 0xFFFF));
  // Bits 10, 11 and 28 to 31 of the old word are left as they were.
  const uint32_t old = 0xF0000C00u | 0x3FFu;
  EXPECT_EQ(EncodeReplayWord(in, old, 0.0), 0xF0000C00u);
  InputState out{};
  EXPECT_EQ(DecodeReplayWord(out, 5994u << 12), 59.0);
}

TEST_F(InputTest, PauseOnlyInStagesAndResumeOrCancel) {
  GameState& s = g_game;
  s.levels[kLevelScene] = kSceneTitle;
  Frame(128);  // pause button pressed on the title: ignored
  EXPECT_EQ(StepPauseAndReplay(s, in, g_replay_words, 60.0), InputStepResult::kPlayed);
  EXPECT_EQ(s.pause, 0);
  EXPECT_EQ(s.replay_frame_index, 1u);

  s.levels[kLevelScene] = 4;
  Frame(0);
  Frame(128);
  EXPECT_EQ(StepPauseAndReplay(s, in, g_replay_words, 60.0), InputStepResult::kPaused);
  EXPECT_EQ(s.pause, 1);
  EXPECT_EQ(s.replay_frame_index, 1u);  // no word while paused
  Frame(0);
  EXPECT_EQ(StepPauseAndReplay(s, in, g_replay_words, 60.0), InputStepResult::kPaused);
  // Decide and cancel together: resume, and this frame is played.
  Frame(16 | 32);
  EXPECT_EQ(StepPauseAndReplay(s, in, g_replay_words, 60.0), InputStepResult::kPlayed);
  EXPECT_EQ(s.pause, 0);
  EXPECT_EQ(s.replay_frame_index, 2u);

  Frame(0);
  Frame(128);
  StepPauseAndReplay(s, in, g_replay_words, 60.0);
  s.levels[kLevelPhase] = 5;
  s.level_counters[kLevelScene] = 77;
  Frame(0);
  Frame(32);  // cancel: back to the title
  EXPECT_EQ(StepPauseAndReplay(s, in, g_replay_words, 60.0), InputStepResult::kPauseCancelled);
  EXPECT_EQ(s.pause, 0);
  EXPECT_EQ(s.levels[kLevelScene], kSceneTitle);
  EXPECT_EQ(s.levels[kLevelPhase], 0u);
  EXPECT_EQ(s.level_counters[kLevelScene], 0u);
}

TEST_F(InputTest, HeldPauseDuringPlaybackReturnsToTheTitle) {
  GameState& s = g_game;
  s.levels[kLevelScene] = 3;
  s.replay_playback = 1;
  Frame(128);
  Frame(128);  // held, not newly pressed
  EXPECT_EQ(StepPauseAndReplay(s, in, g_replay_words, 60.0), InputStepResult::kPlaybackAborted);
  EXPECT_EQ(s.levels[kLevelScene], kSceneTitle);
  EXPECT_EQ(s.replay_playback, 1);
  EXPECT_EQ(s.pause, 0);
}

TEST_F(InputTest, PlaybackReplacesTheRecordedBitsOnly) {
  GameState& s = g_game;
  s.replay_playback = 1;
  g_replay_words[0] = (1u << 2) | (1u << 6) | (1u << 8) | (6000u << 12);
  Frame(8 | 16);  // live: up and shot; the replay says down and bomb
  EXPECT_EQ(StepPauseAndReplay(s, in, g_replay_words, 0.0), InputStepResult::kPlayed);
  EXPECT_EQ(in.held_directions, kDirDown);
  EXPECT_EQ(in.held_actions, kActionBomb);
  EXPECT_EQ(in.pressed_actions, kActionFocus);
  EXPECT_EQ(in.pressed_directions, kDirUp);  // the live pressed directions stay
  EXPECT_EQ(g_replayed_frame_rate, 60.0);
  EXPECT_EQ(s.replay_frame_index, 1u);
}

TEST_F(InputTest, ReplayIndexStopsAtTheLastWord) {
  GameState& s = g_game;
  s.replay_frame_index = kReplayCapacity - 2;
  Frame(16);
  StepPauseAndReplay(s, in, g_replay_words, 60.0);
  EXPECT_EQ(s.replay_frame_index, kReplayCapacity - 1);
  StepPauseAndReplay(s, in, g_replay_words, 60.0);
  EXPECT_EQ(s.replay_frame_index, kReplayCapacity - 1);
  EXPECT_EQ(g_replay_words[kReplayCapacity - 1] & 0x10, 0x10u);
}

}  // namespace
