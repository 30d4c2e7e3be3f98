// Four threads allocating, reallocating, freeing, checking and logging at
// once. A short run in every test pass; scripts/tsan-check runs it for
// seconds under ThreadSanitizer (RORUD_STRESS_SECONDS).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "lib/core/log.h"
#include "lib/core/memory.h"
#include "platform/kernel/kernel.h"
#include "tests/support/log_capture.h"

namespace {

double StressSeconds() {
  const char* value = std::getenv("RORUD_STRESS_SECONDS");
  return value != nullptr ? std::atof(value) : 0.0;
}

TEST(ConcurrencyTest, FourThreadsAllocateFreeAndLog) {
  testsupport::LogCapture log;
  plat::EnableVirtualClock(false);  // real time: the threads run for a while
  plat::SetDebugOutputSink(nullptr, nullptr);
  int count = GetAllocationCount();
  int total = GetAllocationTotal();
  double seconds = StressSeconds();
  uint32_t start = plat::TimeGetTime();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, seconds, start] {
      std::vector<unsigned char*> blocks;
      unsigned seed = static_cast<unsigned>(t) * 2654435761u + 1;
      for (int round = 0;; ++round) {
        if (seconds > 0 ? plat::TimeGetTime() - start >= seconds * 1000 : round >= 300) break;
        seed = seed * 1103515245u + 12345u;
        size_t size = (seed >> 8) % 600;
        switch ((seed >> 20) % 6) {
          case 0:
          case 1: {
            auto* block = static_cast<unsigned char*>(TrackedAlloc(size, "stress.cpp", t));
            if (block != nullptr) std::memset(block, t, size);
            blocks.push_back(block);
            break;
          }
          case 2:
            if (!blocks.empty()) {
              size_t i = seed % blocks.size();
              blocks[i] = static_cast<unsigned char*>(TrackedRealloc(blocks[i], size, "", 0));
            }
            break;
          case 3:
            if (!blocks.empty()) {
              size_t i = seed % blocks.size();
              TrackedFree(blocks[i]);
              blocks.erase(blocks.begin() + static_cast<long>(i));
            }
            break;
          case 4:
            LogIndentIn();
            WriteLogLineFmt("thread %d round %d size %zu", t, round, size);
            WriteLogLine(std::string(size, '\n').c_str());
            LogIndentOut();
            break;
          default:
            EXPECT_EQ(CheckAllocations(), 0);
            if (round % 97 == 0) DumpAllocations();
            break;
        }
      }
      for (unsigned char* block : blocks) TrackedFree(block);
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(GetAllocationCount(), count);
  EXPECT_EQ(GetAllocationTotal(), total);
  EXPECT_EQ(CheckAllocations(), 0);
}

}  // namespace
