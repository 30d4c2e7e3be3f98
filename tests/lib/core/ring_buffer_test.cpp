#include "lib/core/ring_buffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "lib/core/memory.h"
#include "platform/kernel/kernel.h"
#include "tests/support/log_capture.h"
#include "tests/support/sjis.h"

namespace {

// A ring of size 8 holding 6 bytes from start 5: bytes 5, 6, 7, 0, 1, 2.
RingBuffer ExampleRing() {
  RingBuffer ring{};
  ring.buffer = static_cast<uint8_t*>(RR_ALLOC(8));
  for (int i = 0; i < 8; ++i) ring.buffer[i] = static_cast<uint8_t>(i);
  ring.start = 5;
  ring.end = 3;
  ring.data_size = 6;
  ring.buffer_size = 8;
  return ring;
}

TEST(RingBuffer, ReadWrapsAndConsumes) {
  RingBuffer ring = ExampleRing();
  uint8_t out[8] = {};
  ASSERT_EQ(RingBufferRead(&ring, out, 4, 1), 0);  // peek: nothing consumed
  EXPECT_EQ(ring.start, 5);
  EXPECT_EQ(ring.data_size, 6);
  ASSERT_EQ(RingBufferRead(&ring, out, 4, 0), 0);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 4), (std::vector<uint8_t>{5, 6, 7, 0}));
  EXPECT_EQ(ring.start, 1);
  EXPECT_EQ(ring.data_size, 2);
  EXPECT_EQ(RingBufferRead(&ring, out, 3, 0), -1);  // only 2 held
  EXPECT_EQ(RingBufferRead(&ring, out, -1, 0), -1);
  ASSERT_EQ(RingBufferRead(&ring, out, 2, 0), 0);
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(out[1], 2);
  EXPECT_EQ(ring.start, 3);
  EXPECT_EQ(RingBufferFree(&ring), 0);
  EXPECT_EQ(ring.buffer, nullptr);
  EXPECT_EQ(ring.buffer_size, 0);
}

TEST(RingBuffer, ReadEndingExactlyAtTheEndWrapsStart) {
  RingBuffer ring = ExampleRing();
  uint8_t out[3];
  ASSERT_EQ(RingBufferRead(&ring, out, 3, 0), 0);
  EXPECT_EQ(ring.start, 0);
  RingBufferFree(&ring);
}

TEST(RingBuffer, ReserveGrowsAndUnwraps) {
  RingBuffer ring = ExampleRing();
  ASSERT_EQ(RingBufferReserve(&ring, 2), 0);  // 6 + 2 fits in 8: unchanged
  EXPECT_EQ(ring.buffer_size, 8);
  ASSERT_EQ(RingBufferReserve(&ring, 10), 0);
  EXPECT_EQ(ring.buffer_size, 6 * 3 / 2 + 10 + 1000);
  EXPECT_EQ(ring.start, 0);
  EXPECT_EQ(ring.end, 6);
  EXPECT_EQ(std::vector<uint8_t>(ring.buffer, ring.buffer + 6),
            (std::vector<uint8_t>{5, 6, 7, 0, 1, 2}));
  RingBufferFree(&ring);
}

TEST(RingBuffer, WriterRoundTrip) {
  // Write through the end index as the ring's users do, across many wraps.
  RingBuffer ring{};
  uint8_t next_in = 0, next_out = 0;
  for (int round = 0; round < 200; ++round) {
    const int add = (round * 37) % 500;
    ASSERT_EQ(RingBufferReserve(&ring, add), 0);
    for (int i = 0; i < add; ++i) {
      RingBufferWrap(&ring);
      ring.buffer[ring.end++] = next_in++;
      ++ring.data_size;
    }
    std::vector<uint8_t> out(ring.data_size / 2 + 1);
    const int take = static_cast<int>(out.size()) <= ring.data_size ? static_cast<int>(out.size()) : 0;
    ASSERT_EQ(RingBufferRead(&ring, out.data(), take, 0), 0);
    for (int i = 0; i < take; ++i) ASSERT_EQ(out[i], next_out++);
  }
  RingBufferFree(&ring);
}

TEST(RingBuffer, OversizedReserveRefusedWithoutLoss) {
  RingBuffer ring = ExampleRing();
  EXPECT_EQ(RingBufferReserve(&ring, 0x7FFFFFF0), -1);
  EXPECT_EQ(ring.buffer_size, 8);
  EXPECT_EQ(ring.data_size, 6);
  EXPECT_EQ(RingBufferReserve(&ring, -5), -1);
  RingBufferFree(&ring);
}

TEST(RingBuffer, FailedGrowFreesAndLogs) {
  RingBuffer ring = ExampleRing();
  testsupport::LogCapture log;
  plat::SetHeapFailAt(1);
  const int result = RingBufferReserve(&ring, 100);
  plat::SetHeapFailAt(0);
  const std::string captured = log.Debug();
  EXPECT_EQ(result, -1);
  EXPECT_EQ(ring.buffer, nullptr);
  EXPECT_EQ(ring.buffer_size, 0);
  EXPECT_EQ(ring.data_size, 0);
  EXPECT_NE(captured.find(testsupport::Sjis(
                "リングバッファの再確保に失敗しました(確保しようとしたサイズ 1109 byte)")),
            std::string::npos)
      << testsupport::Utf8(captured);
}

}  // namespace
