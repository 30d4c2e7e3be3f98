// platform/kernel/kernel.h - the operating-system kernel services the library uses:
// clocks, sleeping, threads, events, re-entrant critical sections, the process
// heap, local time, system information, debugger output and process exit.
//
// Owns: the one clock source (real or virtual) behind the millisecond clock
// and the performance counter; the heap fault injection used by tests.
// Does not own: files (platform/kernel/file.h), windows and messages
// (platform/window/window.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

namespace plat {

// ---- Clocks -------------------------------------------------------------

// Milliseconds since an arbitrary origin, 32 bits, wrapping.
uint32_t TimeGetTime();
// TimeGetTime without the virtual clock's auto-advance: for code that looks
// at the time without waiting on it (window timers), so that looking does
// not move a virtual clock.
uint32_t PeekTimeGetTime();
// Performance counter and its frequency (ticks per second); both come from
// the same clock source as TimeGetTime.
int64_t QueryPerformanceCounter();
int64_t QueryPerformanceFrequency();
// Sleep(0) yields; Sleep(n) waits n milliseconds (advances a virtual clock).
void Sleep(uint32_t ms);

// Virtual clock for tests and the headless back end. While enabled, time only
// moves by Sleep, by AdvanceVirtualClock, or by the auto-advance applied on
// every clock read (so busy loops that poll the clock end).
void EnableVirtualClock(bool enabled);
bool IsVirtualClock();
void AdvanceVirtualClock(uint64_t microseconds);
void SetVirtualClockAutoAdvance(uint64_t microseconds_per_read);
void SetVirtualClockMicros(uint64_t microseconds);

// ---- Critical sections ----------------------------------------------------

// A re-entrant lock, usable from static storage without explicit set-up.
class CriticalSection {
 public:
  void Enter() { mutex_.lock(); }
  bool TryEnter() { return mutex_.try_lock(); }
  void Leave() { mutex_.unlock(); }

 private:
  std::recursive_mutex mutex_;
};

// ---- Threads and events -----------------------------------------------------

using ThreadProc = uint32_t (*)(void* argument);
struct Thread;    // opaque
struct Event;     // opaque

// Starts a thread running proc(argument); null on failure.
Thread* CreateThread(ThreadProc proc, void* argument, uint32_t* thread_id);
// Timed waits (threads and events) always count real milliseconds, also while
// the virtual clock runs, so a wait that nobody ends still comes back.
// Waits for the thread to end (timeout_ms 0xFFFFFFFF waits forever);
// returns 0 when it ended, 1 on timeout.
int WaitThread(Thread* thread, uint32_t timeout_ms);
// Exit code of an ended thread, or 259 while it still runs.
uint32_t GetThreadExitCode(Thread* thread);
// Releases the handle (the thread itself is not stopped).
void CloseThread(Thread* thread);
// Test hook: while set, CreateThread fails as the system would when it cannot
// start another thread.
void SetThreadCreationFails(bool fails);
uint32_t GetCurrentThreadId();

Event* CreateEvent(bool manual_reset, bool initially_set);
void SetEvent(Event* event);
void ResetEvent(Event* event);
// 0 when the event was set (an auto-reset event is then cleared), 1 on timeout.
int WaitEvent(Event* event, uint32_t timeout_ms);
void CloseEvent(Event* event);

constexpr uint32_t kInfinite = 0xFFFFFFFFu;

// ---- Heap -------------------------------------------------------------------

void* HeapAlloc(size_t size);
// Resizes; the grown part is zero-filled. Null on failure (old block kept).
// A null block gets a new zero-filled one.
void* HeapReAllocZero(void* block, size_t size);
void HeapFree(void* block);
// Test hook: the n-th heap request from now on fails (0 switches it off).
void SetHeapFailAt(uint64_t nth_request);
// Number of heap requests (allocations and resizes) made so far.
uint64_t GetHeapRequestCount();

// ---- Time and system information -------------------------------------------

struct LocalTime {
  int year, month, day, hour, minute, second, milliseconds, day_of_week;
};
void GetLocalTime(LocalTime* out);
// Test hook: a fixed local time (null restores the real one).
void SetFixedLocalTime(const LocalTime* fixed);

struct SystemInfo {
  int processor_count;
  uint64_t total_physical_memory;
  uint64_t available_physical_memory;
  bool has_cpuid;
  bool has_mmx, has_sse, has_sse2, has_time_stamp_counter;
  char cpu_vendor[13];        // the three identification words, in order
  char cpu_brand[49];         // empty when the processor has no brand string
  // The version record the library reads: platform 2 (the NT line) with
  // major 6, minor 1; the service text names the host system.
  int os_platform;            // 0 Win32s, 1 the 9x line, 2 the NT line
  int os_major, os_minor, os_build;
  char os_service[128];
  uint32_t os_version_code;   // major * 256 + minor
  uint32_t timer_min_period_ms;  // the multimedia timer's finest period
  int oem_code_page;          // 932 unless overridden
};
SystemInfo GetSystemInfo();
// Test hooks: 0 (or -1 for the page) restores the real value.
void SetProcessorCountOverride(int count);
void SetOemCodePageOverride(int code_page);
// Reads the processor's time-stamp counter (0 where it has none). Under the
// virtual clock it counts 1000 ticks per virtual microsecond, so rates measured
// against the millisecond clock stay consistent.
uint64_t ReadTimeStampCounter();
// The widest vector instructions the drawing code may use: 3 AVX-512 (F, BW,
// DQ and VL), 2 AVX2, 1 SSE4.1, 0 none; no more than the environment variable
// RORUD_SPAN_LEVEL says. Read once.
int VectorLevel();

// ---- Debugger output ----------------------------------------------------------

// Text in code page 932. Goes to stderr (converted to UTF-8) when the
// environment variable RORUD_DEBUG_OUTPUT is set, else nowhere, and to the
// capture sink when one is installed.
void OutputDebugString(const char* text);
using DebugSink = void (*)(const char* text, void* context);
void SetDebugOutputSink(DebugSink sink, void* context);

// ---- Process --------------------------------------------------------------------

[[noreturn]] void ExitProcess(int code);
// Test hook: when set, ExitProcess calls it instead of ending (it must not return
// normally, e.g. it throws or longjmps inside a test harness).
using ExitHook = void (*)(int code);
void SetExitProcessHook(ExitHook hook);

}  // namespace plat
