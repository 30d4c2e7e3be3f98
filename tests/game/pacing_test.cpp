// Frame pacing, frame-rate measurement and the Escape test, on given clock
// readings.
#include <gtest/gtest.h>

#include "game/frame/frame_loop.h"

namespace {

// Runs one frame's wait the way the loop does and returns the clock at its end.
uint32_t WaitOut(FramePacing& p, uint32_t now) {
  while (FrameWaitPending(p, now)) now = (now + 1) & kClockMask;
  CloseFrame(p, now);
  return now;
}

TEST(Pacing, ThreeFramesTakeFiftyMilliseconds) {
  FramePacing p{};
  ResetPacing(p, 1000);
  uint32_t t = 1000;
  const uint32_t expected[] = {16, 17, 17, 16, 17, 17};
  for (uint32_t len : expected) {
    const uint32_t end = WaitOut(p, t);
    EXPECT_EQ(end - t, len);
    t = end;
  }
}

TEST(Pacing, FirstMeasurementCoversFrameZeroAlone) {
  FramePacing p{};
  ResetPacing(p, 0);
  EXPECT_EQ(p.frame_rate, 0.0);
  uint32_t t = WaitOut(p, 0);
  EXPECT_EQ(p.frame_rate, 1000.0 / 16.0);  // not 30 times that
  for (int f = 1; f <= 30; ++f) t = WaitOut(p, t);
  EXPECT_EQ(p.frame_number, 31);
  EXPECT_EQ(p.frame_rate, 30000.0 / 500.0);  // frames 1 to 30: 500 ms
}

TEST(Pacing, SlowFramesAreNotWaitedFor) {
  FramePacing p{};
  ResetPacing(p, 0);
  EXPECT_FALSE(FrameWaitPending(p, 40));
  CloseFrame(p, 40);
  EXPECT_EQ(p.frame_rate, 25.0);
}

TEST(Pacing, ClockWrapGivesTheTrueElapsedTime) {
  FramePacing p{};
  ResetPacing(p, 0x7FFFFFF8u);
  EXPECT_TRUE(FrameWaitPending(p, 0x7FFFFFFFu));
  EXPECT_TRUE(FrameWaitPending(p, 3));
  EXPECT_FALSE(FrameWaitPending(p, 8));
  CloseFrame(p, 8);
  EXPECT_EQ(p.frame_rate, 1000.0 / 16.0);
  EXPECT_EQ(ClockElapsed(2, 0x7FFFFFFEu), 4u);
}

TEST(Pacing, SleepsOnlyWhileMoreThanTwoMillisecondsRemain) {
  FramePacing p{};
  ResetPacing(p, 0x7FFFFFF8u);  // frame 0 (16 ms) runs across the clock wrap
  EXPECT_TRUE(FrameWaitMaySleep(p, 0x7FFFFFF8u));
  EXPECT_TRUE(FrameWaitMaySleep(p, 5));    // 13 ms gone
  EXPECT_FALSE(FrameWaitMaySleep(p, 6));   // 14 ms gone: spin the rest
  EXPECT_FALSE(FrameWaitMaySleep(p, 40));  // a late frame does not sleep
  CloseFrame(p, 8);                        // frame 1: 17 ms
  EXPECT_TRUE(FrameWaitMaySleep(p, 22));
  EXPECT_FALSE(FrameWaitMaySleep(p, 23));
}

TEST(Pacing, EscapeMustBeHeldAtTwoTestsInARow) {
  FramePacing p{};
  ResetPacing(p, 0);
  uint32_t t = 0;
  int tests = 0;
  for (int f = 0; f < 90; ++f) {
    t = (t + 17) & kClockMask;
    if (CloseFrame(p, t)) ++tests;
  }
  EXPECT_EQ(tests, 3);  // after frames 29, 59 and 89
  EXPECT_FALSE(EscapeTest(p, true));
  EXPECT_FALSE(EscapeTest(p, false));  // a tap between tests is forgotten
  EXPECT_FALSE(EscapeTest(p, true));
  EXPECT_TRUE(EscapeTest(p, true));
}

TEST(Pacing, FrameLengths) {
  EXPECT_EQ(FrameLengthMs(0), 16u);
  EXPECT_EQ(FrameLengthMs(1), 17u);
  EXPECT_EQ(FrameLengthMs(2), 17u);
  EXPECT_EQ(FrameLengthMs(3), 16u);
  EXPECT_EQ(FrameLengthMs(299), 17u);
}

}  // namespace
