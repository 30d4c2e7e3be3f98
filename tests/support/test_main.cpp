// tests/support/test_main.cpp - the main of every test binary: GoogleTest with
// a listener for tracked blocks. The library's tracked allocator keeps its
// blocks on its own list, out of LeakSanitizer's sight, so a test that starts
// and ends with the library not running must leave no more tracked blocks
// than it found; a block it dropped fails it, with the blocks written to the
// log.
#include <gtest/gtest.h>

#include "lib/core/memory.h"
#include "lib/system/window_system.h"
#include "tests/support/address_limit.h"

namespace {

class TrackedBlockListener : public testing::EmptyTestEventListener {
  void OnTestStart(const testing::TestInfo&) override {
    ++testsupport::TestsStartedInProcess();
    checked_ = IsLibraryStarted() == 0;
    before_ = GetAllocationCount();
  }

  // Only a test that the library is not running around: while it runs, its
  // blocks are its own.
  void OnTestEnd(const testing::TestInfo&) override {
    if (!checked_ || IsLibraryStarted() != 0) return;
    const int left = GetAllocationCount() - before_;
    if (left > 0) DumpAllocations();
    EXPECT_LE(left, 0) << left << " tracked block(s) were left behind by this test";
  }

  bool checked_ = false;
  int before_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  testing::UnitTest::GetInstance()->listeners().Append(new TrackedBlockListener);
  return RUN_ALL_TESTS();
}
