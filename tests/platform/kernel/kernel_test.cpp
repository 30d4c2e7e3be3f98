#include "platform/kernel/kernel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csetjmp>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/kernel/file.h"

namespace {

class VirtualClock : public testing::Test {
 protected:
  void SetUp() override {
    plat::EnableVirtualClock(true);
    plat::SetVirtualClockAutoAdvance(0);
    plat::SetVirtualClockMicros(50'000'000);
  }
  void TearDown() override {
    plat::SetVirtualClockAutoAdvance(0);
    plat::EnableVirtualClock(false);
  }
};

TEST_F(VirtualClock, SleepAndAdvanceMoveBothClocksTogether) {
  EXPECT_EQ(plat::TimeGetTime(), 50'000u);
  EXPECT_EQ(plat::QueryPerformanceCounter(), 500'000'000);
  plat::Sleep(16);
  EXPECT_EQ(plat::TimeGetTime(), 50'016u);
  plat::AdvanceVirtualClock(999);
  EXPECT_EQ(plat::TimeGetTime(), 50'016u);  // 50.016999 s
  EXPECT_EQ(plat::QueryPerformanceCounter(), 500'169'990);
  plat::Sleep(0);
  EXPECT_EQ(plat::TimeGetTime(), 50'016u);
  EXPECT_EQ(plat::QueryPerformanceFrequency(), 10'000'000);
}

TEST_F(VirtualClock, AutoAdvanceEndsBusyLoops) {
  plat::SetVirtualClockAutoAdvance(250);
  uint32_t start = plat::TimeGetTime();
  int reads = 0;
  while (plat::TimeGetTime() - start < 100) ++reads;
  EXPECT_EQ(reads, 398);  // 100 ms in steps of 0.25 ms, less the first two reads
}

TEST_F(VirtualClock, MillisecondClockWraps) {
  plat::SetVirtualClockMicros(0xFFFFFFFFull * 1000 + 500);
  EXPECT_EQ(plat::TimeGetTime(), 0xFFFFFFFFu);
  plat::Sleep(2);
  EXPECT_EQ(plat::TimeGetTime(), 1u);
}

TEST_F(VirtualClock, TimeStampCounterFollowsTheVirtualClock) {
  uint64_t before = plat::ReadTimeStampCounter();
  plat::Sleep(100);
  EXPECT_EQ(plat::ReadTimeStampCounter() - before, 100'000'000u);
}

TEST(RealClock, IsMonotonicAndConsistent) {
  ASSERT_FALSE(plat::IsVirtualClock());
  int64_t counter = plat::QueryPerformanceCounter();
  uint32_t millis = plat::TimeGetTime();
  plat::Sleep(2);
  EXPECT_GE(plat::QueryPerformanceCounter() - counter, 20'000);
  EXPECT_GE(plat::TimeGetTime() - millis, 2u);
}

TEST(Threads, RunWithIdsAndExitCodes) {
  std::atomic<uint32_t> seen_id{0};
  struct Arg {
    std::atomic<uint32_t>* seen;
    plat::Event* go;
  };
  plat::Event* go = plat::CreateEvent(true, false);
  Arg arg{&seen_id, go};
  uint32_t id = 0;
  plat::Thread* thread = plat::CreateThread(
      [](void* p) -> uint32_t {
        auto* a = static_cast<Arg*>(p);
        a->seen->store(plat::GetCurrentThreadId());
        plat::WaitEvent(a->go, plat::kInfinite);
        return 7;
      },
      &arg, &id);
  ASSERT_NE(thread, nullptr);
  EXPECT_NE(id, 0u);
  EXPECT_NE(id, plat::GetCurrentThreadId());
  EXPECT_EQ(plat::WaitThread(thread, 10), 1);
  EXPECT_EQ(plat::GetThreadExitCode(thread), 259u);
  plat::SetEvent(go);
  EXPECT_EQ(plat::WaitThread(thread, plat::kInfinite), 0);
  EXPECT_EQ(plat::GetThreadExitCode(thread), 7u);
  EXPECT_EQ(seen_id.load(), id);
  EXPECT_EQ(plat::GetCurrentThreadId(), plat::GetCurrentThreadId());
  plat::CloseThread(thread);
  plat::CloseEvent(go);
}

TEST(Events, AutoResetReleasesOneWaitManualStaysSet) {
  plat::Event* automatic = plat::CreateEvent(false, true);
  EXPECT_EQ(plat::WaitEvent(automatic, 0), 0);
  EXPECT_EQ(plat::WaitEvent(automatic, 0), 1);
  plat::SetEvent(automatic);
  plat::SetEvent(automatic);
  EXPECT_EQ(plat::WaitEvent(automatic, 0), 0);
  EXPECT_EQ(plat::WaitEvent(automatic, 1), 1);

  plat::Event* manual = plat::CreateEvent(true, false);
  EXPECT_EQ(plat::WaitEvent(manual, 0), 1);
  plat::SetEvent(manual);
  EXPECT_EQ(plat::WaitEvent(manual, 0), 0);
  EXPECT_EQ(plat::WaitEvent(manual, 0), 0);
  plat::ResetEvent(manual);
  EXPECT_EQ(plat::WaitEvent(manual, 0), 1);
  plat::CloseEvent(automatic);
  plat::CloseEvent(manual);
}

TEST(CriticalSections, AreReentrant) {
  static plat::CriticalSection section;
  section.Enter();
  section.Enter();
  EXPECT_TRUE(section.TryEnter());
  section.Leave();
  section.Leave();
  section.Leave();
}

TEST(Heap, GrowthIsZeroFilledAndFaultsAreInjected) {
  auto* block = static_cast<unsigned char*>(plat::HeapAlloc(10));
  ASSERT_NE(block, nullptr);
  std::memset(block, 0xEE, 10);
  block = static_cast<unsigned char*>(plat::HeapReAllocZero(block, 5000));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(block[i], 0xEE);
  for (int i = 10; i < 5000; ++i) ASSERT_EQ(block[i], 0);
  block = static_cast<unsigned char*>(plat::HeapReAllocZero(block, 3));
  block = static_cast<unsigned char*>(plat::HeapReAllocZero(block, 8));
  for (int i = 3; i < 8; ++i) EXPECT_EQ(block[i], 0);

  plat::SetHeapFailAt(2);
  void* first = plat::HeapAlloc(4);
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(plat::HeapReAllocZero(block, 100), nullptr);  // the second request fails
  EXPECT_EQ(block[0], 0xEE);                              // and keeps the old block
  void* third = plat::HeapAlloc(4);
  EXPECT_NE(third, nullptr);  // only once
  EXPECT_EQ(plat::HeapAlloc(SIZE_MAX), nullptr);
  plat::HeapFree(first);
  plat::HeapFree(third);
  plat::HeapFree(block);
  plat::HeapFree(nullptr);
}

TEST(LocalTime, FixedTimeHook) {
  plat::LocalTime fixed{2001, 2, 3, 4, 5, 6, 7, 6};
  plat::SetFixedLocalTime(&fixed);
  plat::LocalTime now;
  plat::GetLocalTime(&now);
  EXPECT_EQ(now.year, 2001);
  EXPECT_EQ(now.second, 6);
  plat::SetFixedLocalTime(nullptr);
  plat::GetLocalTime(&now);
  EXPECT_GE(now.year, 2024);
  EXPECT_GE(now.month, 1);
  EXPECT_LE(now.month, 12);
}

TEST(SystemInfo, OverridesAndDefaults) {
  plat::SystemInfo info = plat::GetSystemInfo();
  EXPECT_GE(info.processor_count, 1);
  EXPECT_EQ(info.oem_code_page, 932);
  EXPECT_EQ(info.os_version_code, 0x601u);
  plat::SetProcessorCountOverride(1);
  plat::SetOemCodePageOverride(949);
  info = plat::GetSystemInfo();
  EXPECT_EQ(info.processor_count, 1);
  EXPECT_EQ(info.oem_code_page, 949);
  plat::SetProcessorCountOverride(0);
  plat::SetOemCodePageOverride(-1);
  EXPECT_EQ(plat::GetSystemInfo().oem_code_page, 932);
}

TEST(DebugOutput, ReachesTheSink) {
  std::string captured;
  plat::SetDebugOutputSink([](const char* text, void* context) { *static_cast<std::string*>(context) += text; },
                           &captured);
  plat::OutputDebugString("one ");
  plat::OutputDebugString("\x8a\xae\x97\xb9\n");
  plat::SetDebugOutputSink(nullptr, nullptr);
  plat::OutputDebugString("lost");
  EXPECT_EQ(captured, "one \x8a\xae\x97\xb9\n");
}

TEST(DebugOutput, GoesToStderrAsUtf8WhenSwitchedOn) {
  // The switch is read once per process: run in a fresh one.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        setenv("RORUD_DEBUG_OUTPUT", "1", 1);
        plat::OutputDebugString("done \x8a\xae\x97\xb9 \xff!\n");
        std::exit(0);
      },
      testing::ExitedWithCode(0), "done \xe5\xae\x8c\xe4\xba\x86 \\?!");
}

std::jmp_buf g_exit_jump;
int g_exit_code = 0;

TEST(Process, ExitHookReceivesTheCode) {
  plat::SetExitProcessHook([](int code) {
    g_exit_code = code;
    std::longjmp(g_exit_jump, 1);
  });
  if (setjmp(g_exit_jump) == 0) plat::ExitProcess(-1);
  plat::SetExitProcessHook(nullptr);
  EXPECT_EQ(g_exit_code, -1);
}

TEST(Process, ExitEndsTheProcessWithTheCode) {
  EXPECT_EXIT(plat::ExitProcess(3), testing::ExitedWithCode(3), "");
}

TEST(WriteFiles, CreateAppendDeleteWithBackslashes) {
  std::string folder = testing::TempDir() + "rorud-write-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed());
  std::string path = folder + "\\f.txt";
  ASSERT_EQ(plat::NativePath("a\\b\\c"), "a/b/c");
  std::system(("mkdir -p '" + folder + "'").c_str());
  plat::DeleteFile(path.c_str());
  plat::WriteFile* file = plat::CreateNewFile(path.c_str());
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(plat::WriteToFile(file, "ab", 2));
  plat::CloseWriteFile(file);
  EXPECT_EQ(plat::CreateNewFile(path.c_str()), nullptr);  // exists already
  file = plat::OpenFileForAppend(path.c_str());
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(plat::WriteToFile(file, "cd", 2));
  plat::CloseWriteFile(file);
  FILE* in = std::fopen(plat::NativePath(path.c_str()).c_str(), "rb");
  ASSERT_NE(in, nullptr);
  char text[8] = {};
  EXPECT_EQ(std::fread(text, 1, sizeof text, in), 4u);
  std::fclose(in);
  EXPECT_STREQ(text, "abcd");
  EXPECT_TRUE(plat::DeleteFile(path.c_str()));
  EXPECT_FALSE(plat::DeleteFile(path.c_str()));
  EXPECT_EQ(plat::OpenFileForAppend((folder + "\\missing\\x").c_str()), nullptr);
  std::filesystem::remove(folder);
}

}  // namespace
