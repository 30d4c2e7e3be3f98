#include "lib/core/memory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "lib/core/log.h"
#include "platform/kernel/kernel.h"
#include "tests/support/log_capture.h"
#include "tests/support/sjis.h"

namespace {

using testsupport::LogCapture;
using testsupport::StripStamps;

TrackedBlockHeader* HeaderOf(void* block) {
  return reinterpret_cast<TrackedBlockHeader*>(static_cast<unsigned char*>(block) - kTrackedHeaderSize);
}

// The dump with stamps stripped and the varying parts (addresses, allocation
// numbers) replaced by fixed marks.
std::string Normalise(const std::string& text) {
  std::string out = StripStamps(text);
  out = std::regex_replace(out, std::regex("addr:[0-9a-f]{16}"), "addr:@");
  out = std::regex_replace(out, std::regex("ID:[0-9]+ *"), "ID:# ");
  return out;
}

TEST(TrackedMemoryTest, HeaderKeepsAlignment) {
  EXPECT_EQ(kTrackedHeaderSize % 16, 0u);
  void* block = TrackedAlloc(24, "", 0);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 16, 0u);
  TrackedFree(block);
}

TEST(TrackedMemoryTest, GoldenDump) {
  LogCapture log;
  ASSERT_EQ(GetAllocationCount(), 0);
  char* text = static_cast<char*>(TrackedAlloc(20, "dir/a_very_long_source_name.cpp", 77));
  std::memcpy(text, "Hi!\x01\x80z 0123456789AB", 20);
  void* empty = TrackedAlloc(0, nullptr, -1);
  log.Clear();
  DumpAllocations();
  std::string expected =
      "\r\n"
      "Alloc memory dump\r\n"
      "\tsize:         0(     0.000kb)  file:                            line:65535  ID:# addr:@  data:<> ]\r\n"
      "\tsize:        20(     0.020kb)  file:source_name.cpp             line:77     ID:# addr:@  "
      "data:<Hi!..z 012345678> [48 69 21 01 80 7a 20 30 31 32 33 34 35 36 37 38]\r\n"
      "\tTotal size:20(0.020kb)  Alloc num:2\r\n"
      "\r\n";
  EXPECT_EQ(Normalise(log.Debug()), expected);
  EXPECT_EQ(Normalise(log.File().substr(log.File().size() - log.Debug().size())), expected);

  TrackedFree(text);
  TrackedFree(empty);
  log.Clear();
  DumpAllocations();
  EXPECT_EQ(StripStamps(log.Debug()),
            "\r\nAlloc memory dump\r\n\tTotal size:0(0.000kb)  Alloc num:0\r\n\r\n");
}

TEST(TrackedMemoryTest, ZeroSizeBlocksAreTraced) {
  LogCapture log;
  void* block = TrackedAlloc(0, "", 0);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(GetAllocationCount(), 1);
  std::string text = Normalise(log.Debug());
  EXPECT_EQ(text.rfind("mem alloc  \tsize:         0(", 0), 0u) << text;
  EXPECT_NE(text.find("data:<> ]\r\n"), std::string::npos);
  log.Clear();
  TrackedFree(block);
  EXPECT_EQ(Normalise(log.Debug()).rfind("mem free  \tsize:", 0), 0u);
  // Other sizes are not traced.
  log.Clear();
  TrackedFree(TrackedAlloc(5, "", 0));
  EXPECT_EQ(log.Debug(), "");
}

TEST(TrackedMemoryTest, NameKeepsItsLastFifteenCharacters) {
  void* a = TrackedAlloc(1, "abcdefghijklmnopqrst", 1);
  void* b = TrackedAlloc(1, "short.cpp", 2);
  void* c = TrackedAlloc(1, "exactly15chars_", 3);
  EXPECT_STREQ(HeaderOf(a)->fields.name, "fghijklmnopqrst");
  EXPECT_STREQ(HeaderOf(b)->fields.name, "short.cpp");
  EXPECT_STREQ(HeaderOf(c)->fields.name, "exactly15chars_");
  TrackedFree(a);
  TrackedFree(b);
  TrackedFree(c);
}

TEST(TrackedMemoryTest, ListStaysLinkedThroughFrees) {
  int count = GetAllocationCount();
  int total = GetAllocationTotal();
  void* a = TrackedAlloc(10, "", 0);
  void* b = TrackedAlloc(20, "", 0);
  void* c = TrackedAlloc(30, "", 0);
  EXPECT_EQ(GetAllocationCount(), count + 3);
  EXPECT_EQ(GetAllocationTotal(), total + 60);
  TrackedFree(b);  // middle: both neighbours relinked and their copies refreshed
  EXPECT_EQ(CheckAllocations(), 0);
  EXPECT_EQ(HeaderOf(c)->fields.previous, HeaderOf(a));
  EXPECT_EQ(HeaderOf(a)->fields.next, HeaderOf(c));
  TrackedFree(c);  // newest: the tail moves back
  EXPECT_EQ(HeaderOf(a)->fields.next, nullptr);
  EXPECT_EQ(CheckAllocations(), 0);
  void* d = TrackedAlloc(1, "", 0);
  EXPECT_EQ(HeaderOf(d)->fields.previous, HeaderOf(a));
  TrackedFree(a);
  TrackedFree(d);
  EXPECT_EQ(GetAllocationCount(), count);
  EXPECT_EQ(GetAllocationTotal(), total);
  TrackedFree(nullptr);
  EXPECT_EQ(CheckAllocations(), 0);
}

TEST(TrackedMemoryTest, ReallocRenewsNumberAndZeroFillsGrowth) {
  int count = GetAllocationCount();
  int total = GetAllocationTotal();
  void* older = TrackedAlloc(8, "", 0);
  auto* block = static_cast<unsigned char*>(TrackedAlloc(16, "", 0));
  void* newer = TrackedAlloc(8, "", 0);
  std::memset(block, 0xAB, 16);
  uint16_t number = HeaderOf(block)->fields.number;
  auto* grown = static_cast<unsigned char*>(TrackedRealloc(block, 100000, "re.cpp", 9));
  ASSERT_NE(grown, nullptr);
  EXPECT_NE(HeaderOf(grown)->fields.number, number);
  EXPECT_STREQ(HeaderOf(grown)->fields.name, "re.cpp");
  EXPECT_EQ(HeaderOf(grown)->fields.line, 9);
  for (int i = 0; i < 16; ++i) ASSERT_EQ(grown[i], 0xAB);
  for (int i = 16; i < 100000; ++i) ASSERT_EQ(grown[i], 0) << i;
  EXPECT_EQ(GetAllocationCount(), count + 3);
  EXPECT_EQ(GetAllocationTotal(), total + 8 + 100000 + 8);
  EXPECT_EQ(CheckAllocations(), 0);
  // Shrinking the newest block keeps the tail right.
  void* shrunk = TrackedRealloc(newer, 2, "", 0);
  void* after = TrackedAlloc(1, "", 0);
  EXPECT_EQ(HeaderOf(after)->fields.previous, HeaderOf(shrunk));
  EXPECT_EQ(CheckAllocations(), 0);
  TrackedFree(older);
  TrackedFree(grown);
  TrackedFree(shrunk);
  TrackedFree(after);
  // Null acts as an allocation.
  void* fresh = TrackedRealloc(nullptr, 4, "", 0);
  EXPECT_EQ(GetAllocationCount(), count + 1);
  TrackedFree(fresh);
  EXPECT_EQ(GetAllocationTotal(), total);
}

TEST(TrackedMemoryTest, CallocZeroes) {
  // Fill and free a block first so that the next one likely reuses its bytes.
  void* dirty = TrackedAlloc(256, "", 0);
  std::memset(dirty, 0x5A, 256);
  TrackedFree(dirty);
  auto* block = static_cast<unsigned char*>(TrackedCalloc(256, "", 0));
  for (int i = 0; i < 256; ++i) ASSERT_EQ(block[i], 0);
  TrackedFree(block);
}

TEST(TrackedMemoryTest, OverwrittenHeaderFailsTheCheck) {
  for (size_t byte : {size_t{0}, size_t{16}, size_t{20}, sizeof(TrackedBlockFields) - 1}) {
    LogCapture log;
    SetLogTimeStamps(0);
    void* a = TrackedAlloc(4, "", 0);
    void* b = TrackedAlloc(3, "victim", 12);
    std::memcpy(b, "xyz", 3);
    void* c = TrackedAlloc(4, "", 0);
    unsigned char* raw = reinterpret_cast<unsigned char*>(HeaderOf(b));
    raw[byte] ^= 0x40;
    log.Clear();
    EXPECT_EQ(CheckAllocations(), -1) << byte;
    std::string text = log.Debug();
    std::string message = testsupport::Sjis("以下のメモリ確保情報が破損しました");
    EXPECT_EQ(text.rfind(message + "\tsize:", 0), 0u) << byte;
    // Even with its size field broken, the report shows only the block's bytes.
    EXPECT_NE(text.find("data:<xyz> [78 79 7a]\r\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("data:"), text.rfind("data:"));
    raw[byte] ^= 0x40;
    EXPECT_EQ(CheckAllocations(), 0);
    TrackedFree(c);
    TrackedFree(b);
    TrackedFree(a);
  }
}

TEST(TrackedMemoryTest, HeapFailureDumpsAndReturnsNull) {
  LogCapture log;
  SetLogTimeStamps(0);
  void* kept = TrackedAlloc(3, "", 0);
  int count = GetAllocationCount();
  log.Clear();
  plat::SetHeapFailAt(1);
  EXPECT_EQ(TrackedAlloc(10, "", 0), nullptr);
  EXPECT_EQ(GetAllocationCount(), count);
  EXPECT_NE(log.Debug().find("Alloc memory dump\r\n"), std::string::npos);

  std::memcpy(kept, "abc", 3);
  plat::SetHeapFailAt(1);
  EXPECT_EQ(TrackedRealloc(kept, 1000, "", 0), nullptr);
  EXPECT_EQ(std::memcmp(kept, "abc", 3), 0);  // the old block stays valid and listed
  EXPECT_EQ(GetAllocationCount(), count);
  EXPECT_EQ(CheckAllocations(), 0);
  TrackedFree(kept);
}

TEST(TrackedMemoryTest, SizesThatCannotCarryAHeaderAreRefused) {
  LogCapture log;
  int count = GetAllocationCount();
  EXPECT_EQ(TrackedAlloc(SIZE_MAX, "", 0), nullptr);
  EXPECT_EQ(TrackedAlloc(SIZE_MAX - kTrackedHeaderSize + 1, "", 0), nullptr);
  EXPECT_EQ(TrackedAlloc(0xFFFFFFFFu, "", 0), nullptr);
  EXPECT_EQ(TrackedCalloc(0xFFFFFFFFu - kTrackedHeaderSize + 1, "", 0), nullptr);
  void* block = TrackedAlloc(8, "", 0);
  EXPECT_EQ(TrackedRealloc(block, SIZE_MAX, "", 0), nullptr);
  EXPECT_EQ(GetAllocationCount(), count + 1);
  TrackedFree(block);
}

TEST(TrackedMemoryTest, ThreadsShareTheList) {
  int count = GetAllocationCount();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      std::vector<void*> blocks;
      for (int i = 0; i < 2000; ++i) {
        blocks.push_back(TrackedAlloc(static_cast<size_t>(1 + (i * 7 + t) % 200), "", 0));
        if (i % 3 == 0) {
          blocks.back() = TrackedRealloc(blocks.back(), 300, "", 0);
        }
        if (i % 2 == 1) {
          TrackedFree(blocks[blocks.size() / 2]);
          blocks.erase(blocks.begin() + static_cast<long>(blocks.size() / 2));
        }
      }
      for (void* block : blocks) TrackedFree(block);
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(GetAllocationCount(), count);
  EXPECT_EQ(CheckAllocations(), 0);
}

}  // namespace
