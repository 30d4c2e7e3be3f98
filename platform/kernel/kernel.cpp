// platform/kernel/kernel.cpp - the kernel services on POSIX: one monotonic clock (or
// the virtual clock) behind every time reading, threads and events over the
// standard library, the heap over malloc with a size prefix so that growth can
// be zero-filled, and the debugger output as UTF-8 on stderr.
#include "platform/kernel/kernel.h"

#include <iconv.h>
#include <sched.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <x86intrin.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <thread>

namespace plat {
namespace {

// ---- Clock source ------------------------------------------------------------

// The performance counter ticks at 10 MHz whatever the source, so its
// frequency never changes when a test switches to the virtual clock.
constexpr int64_t kCounterFrequency = 10'000'000;
// The virtual clock does not start at 0: code that keeps "last refresh" times
// starting at 0 would otherwise see no time passing on its first call.
constexpr uint64_t kVirtualClockStartMicros = 10'000'000;

std::atomic<bool> g_virtual_clock{false};
std::atomic<uint64_t> g_virtual_micros{kVirtualClockStartMicros};
std::atomic<uint64_t> g_auto_advance_micros{0};

uint64_t RealNanos() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1'000'000'000u + static_cast<uint64_t>(ts.tv_nsec);
}

// One clock reading in nanoseconds; a virtual reading moves the clock by the
// auto-advance step first.
uint64_t ReadClockNanos() {
  if (g_virtual_clock.load(std::memory_order_acquire)) {
    uint64_t step = g_auto_advance_micros.load(std::memory_order_relaxed);
    uint64_t micros = g_virtual_micros.fetch_add(step, std::memory_order_acq_rel) + step;
    return micros * 1000u;
  }
  return RealNanos();
}

// ---- Threads -----------------------------------------------------------------

constexpr uint32_t kStillActive = 259;

std::atomic<uint32_t> g_next_thread_id{1};
thread_local uint32_t t_thread_id = 0;

}  // namespace

namespace {
struct ThreadState {
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  uint32_t exit_code = kStillActive;
  uint32_t id = 0;
  ThreadProc proc = nullptr;
  void* argument = nullptr;
};
}  // namespace

// The state is shared by the handle and the running thread, so that closing
// the handle early does not pull it from under the thread.
struct Thread {
  std::shared_ptr<ThreadState> state;
};

struct Event {
  std::mutex mutex;
  std::condition_variable changed;
  bool manual_reset = false;
  bool set = false;
};

// ---- Clocks ---------------------------------------------------------------------

uint32_t TimeGetTime() { return static_cast<uint32_t>(ReadClockNanos() / 1'000'000u); }

uint32_t PeekTimeGetTime() {
  if (g_virtual_clock.load(std::memory_order_acquire))
    return static_cast<uint32_t>(g_virtual_micros.load(std::memory_order_acquire) / 1000u);
  return static_cast<uint32_t>(RealNanos() / 1'000'000u);
}

int64_t QueryPerformanceCounter() { return static_cast<int64_t>(ReadClockNanos() / 100u); }

int64_t QueryPerformanceFrequency() { return kCounterFrequency; }

void Sleep(uint32_t ms) {
  if (g_virtual_clock.load(std::memory_order_acquire)) {
    g_virtual_micros.fetch_add(static_cast<uint64_t>(ms) * 1000u, std::memory_order_acq_rel);
    sched_yield();
    return;
  }
  if (ms == 0) {
    sched_yield();
    return;
  }
  timespec request{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1'000'000L};
  timespec remaining;
  while (nanosleep(&request, &remaining) != 0) request = remaining;
}

void EnableVirtualClock(bool enabled) { g_virtual_clock.store(enabled, std::memory_order_release); }

bool IsVirtualClock() { return g_virtual_clock.load(std::memory_order_acquire); }

void AdvanceVirtualClock(uint64_t microseconds) {
  g_virtual_micros.fetch_add(microseconds, std::memory_order_acq_rel);
}

void SetVirtualClockAutoAdvance(uint64_t microseconds_per_read) {
  g_auto_advance_micros.store(microseconds_per_read, std::memory_order_relaxed);
}

void SetVirtualClockMicros(uint64_t microseconds) {
  g_virtual_micros.store(microseconds, std::memory_order_release);
}

// ---- Threads and events -------------------------------------------------------------

std::atomic<bool> g_thread_creation_fails{false};

void SetThreadCreationFails(bool fails) { g_thread_creation_fails.store(fails); }

Thread* CreateThread(ThreadProc proc, void* argument, uint32_t* thread_id) {
  if (proc == nullptr || g_thread_creation_fails.load()) return nullptr;
  auto handle = new (std::nothrow) Thread;
  if (handle == nullptr) return nullptr;
  try {
    handle->state = std::make_shared<ThreadState>();
    std::shared_ptr<ThreadState> shared = handle->state;
    shared->id = g_next_thread_id.fetch_add(1, std::memory_order_relaxed);
    shared->proc = proc;
    shared->argument = argument;
    std::thread worker([shared] {
      t_thread_id = shared->id;
      uint32_t code = shared->proc(shared->argument);
      std::lock_guard<std::mutex> lock(shared->mutex);
      shared->exit_code = code;
      shared->done = true;
      shared->ended.notify_all();
    });
    worker.detach();
  } catch (...) {
    delete handle;
    return nullptr;
  }
  if (thread_id != nullptr) *thread_id = handle->state->id;
  return handle;
}

int WaitThread(Thread* handle, uint32_t timeout_ms) {
  if (handle == nullptr) return 1;
  ThreadState* thread = handle->state.get();
  std::unique_lock<std::mutex> lock(thread->mutex);
  if (timeout_ms == kInfinite) {
    thread->ended.wait(lock, [thread] { return thread->done; });
    return 0;
  }
  return thread->ended.wait_for(lock, std::chrono::milliseconds(timeout_ms), [thread] { return thread->done; }) ? 0
                                                                                                                 : 1;
}

uint32_t GetThreadExitCode(Thread* handle) {
  if (handle == nullptr) return kStillActive;
  ThreadState* thread = handle->state.get();
  std::lock_guard<std::mutex> lock(thread->mutex);
  return thread->exit_code;
}

void CloseThread(Thread* handle) { delete handle; }

uint32_t GetCurrentThreadId() {
  if (t_thread_id == 0) t_thread_id = g_next_thread_id.fetch_add(1, std::memory_order_relaxed);
  return t_thread_id;
}

Event* CreateEvent(bool manual_reset, bool initially_set) {
  Event* event = new (std::nothrow) Event;
  if (event == nullptr) return nullptr;
  event->manual_reset = manual_reset;
  event->set = initially_set;
  return event;
}

void SetEvent(Event* event) {
  if (event == nullptr) return;
  std::lock_guard<std::mutex> lock(event->mutex);
  event->set = true;
  if (event->manual_reset) {
    event->changed.notify_all();
  } else {
    event->changed.notify_one();
  }
}

void ResetEvent(Event* event) {
  if (event == nullptr) return;
  std::lock_guard<std::mutex> lock(event->mutex);
  event->set = false;
}

int WaitEvent(Event* event, uint32_t timeout_ms) {
  if (event == nullptr) return 1;
  std::unique_lock<std::mutex> lock(event->mutex);
  auto is_set = [event] { return event->set; };
  if (timeout_ms == 0) {
    // A poll: no wait on the condition, which would cost a system call.
    if (!event->set) return 1;
  } else if (timeout_ms == kInfinite) {
    event->changed.wait(lock, is_set);
  } else if (!event->changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), is_set)) {
    return 1;
  }
  if (!event->manual_reset) event->set = false;
  return 0;
}

void CloseEvent(Event* event) { delete event; }

// ---- Heap ------------------------------------------------------------------------------

namespace {

// Every heap block starts with its requested size, so that a resize knows
// which bytes are new and must be zeroed. 16 bytes keep the caller's memory
// aligned as malloc's.
struct alignas(16) HeapPrefix {
  size_t size;
};
static_assert(sizeof(HeapPrefix) == 16);

std::atomic<uint64_t> g_heap_requests{0};
std::atomic<uint64_t> g_heap_fail_at{0};

// Counts one request; true when the test hook says this one must fail.
bool HeapRequestFails() {
  uint64_t request = g_heap_requests.fetch_add(1, std::memory_order_relaxed) + 1;
  uint64_t fail_at = g_heap_fail_at.load(std::memory_order_relaxed);
  return fail_at != 0 && request == fail_at;
}

}  // namespace

void* HeapAlloc(size_t size) {
  if (HeapRequestFails()) return nullptr;
  if (size > SIZE_MAX - sizeof(HeapPrefix)) return nullptr;
  auto* prefix = static_cast<HeapPrefix*>(std::malloc(sizeof(HeapPrefix) + size));
  if (prefix == nullptr) return nullptr;
  prefix->size = size;
  return prefix + 1;
}

void* HeapReAllocZero(void* block, size_t size) {
  if (block == nullptr) {
    void* fresh = HeapAlloc(size);
    if (fresh != nullptr) std::memset(fresh, 0, size);
    return fresh;
  }
  if (HeapRequestFails()) return nullptr;
  if (size > SIZE_MAX - sizeof(HeapPrefix)) return nullptr;
  HeapPrefix* old_prefix = static_cast<HeapPrefix*>(block) - 1;
  size_t old_size = old_prefix->size;
  auto* prefix = static_cast<HeapPrefix*>(std::realloc(old_prefix, sizeof(HeapPrefix) + size));
  if (prefix == nullptr) return nullptr;
  prefix->size = size;
  if (size > old_size) std::memset(reinterpret_cast<unsigned char*>(prefix + 1) + old_size, 0, size - old_size);
  return prefix + 1;
}

void HeapFree(void* block) {
  if (block == nullptr) return;
  std::free(static_cast<HeapPrefix*>(block) - 1);
}

void SetHeapFailAt(uint64_t nth_request) {
  uint64_t target = nth_request == 0 ? 0 : g_heap_requests.load(std::memory_order_relaxed) + nth_request;
  g_heap_fail_at.store(target, std::memory_order_relaxed);
}

uint64_t GetHeapRequestCount() { return g_heap_requests.load(std::memory_order_relaxed); }

// ---- Time and system information --------------------------------------------------------

namespace {

std::mutex g_time_mutex;
bool g_has_fixed_time = false;
LocalTime g_fixed_time{};

std::atomic<int> g_processor_override{0};
std::atomic<int> g_code_page_override{-1};

void CopyText(char* destination, size_t capacity, const char* source) {
  std::snprintf(destination, capacity, "%s", source);
}

}  // namespace

void GetLocalTime(LocalTime* out) {
  if (out == nullptr) return;
  {
    std::lock_guard<std::mutex> lock(g_time_mutex);
    if (g_has_fixed_time) {
      *out = g_fixed_time;
      return;
    }
  }
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  tm parts{};
  localtime_r(&now.tv_sec, &parts);
  out->year = parts.tm_year + 1900;
  out->month = parts.tm_mon + 1;
  out->day = parts.tm_mday;
  out->hour = parts.tm_hour;
  out->minute = parts.tm_min;
  out->second = parts.tm_sec;
  out->milliseconds = static_cast<int>(now.tv_nsec / 1'000'000);
  out->day_of_week = parts.tm_wday;
}

void SetFixedLocalTime(const LocalTime* fixed) {
  std::lock_guard<std::mutex> lock(g_time_mutex);
  g_has_fixed_time = fixed != nullptr;
  if (fixed != nullptr) g_fixed_time = *fixed;
}

SystemInfo GetSystemInfo() {
  SystemInfo info{};
  int override_count = g_processor_override.load(std::memory_order_relaxed);
  if (override_count > 0) {
    info.processor_count = override_count;
  } else {
    long online = sysconf(_SC_NPROCESSORS_ONLN);
    info.processor_count = online > 0 ? static_cast<int>(online) : 1;
  }
  long page = sysconf(_SC_PAGESIZE);
  long pages = sysconf(_SC_PHYS_PAGES);
  long free_pages = sysconf(_SC_AVPHYS_PAGES);
  if (page > 0 && pages > 0) info.total_physical_memory = static_cast<uint64_t>(page) * static_cast<uint64_t>(pages);
  if (page > 0 && free_pages > 0) {
    info.available_physical_memory = static_cast<uint64_t>(page) * static_cast<uint64_t>(free_pages);
  }

#if defined(__x86_64__) || defined(__i386__)
  unsigned int a, b, c, d;
  if (__get_cpuid(0, &a, &b, &c, &d)) {
    info.has_cpuid = true;
    std::memcpy(info.cpu_vendor + 0, &b, 4);
    std::memcpy(info.cpu_vendor + 4, &d, 4);
    std::memcpy(info.cpu_vendor + 8, &c, 4);
    info.cpu_vendor[12] = '\0';
    if (__get_cpuid(1, &a, &b, &c, &d)) {
      info.has_time_stamp_counter = (d >> 4) & 1;
      info.has_mmx = (d >> 23) & 1;
      info.has_sse = (d >> 25) & 1;
      info.has_sse2 = (d >> 26) & 1;
    }
    if (__get_cpuid(0x80000000u, &a, &b, &c, &d) && a >= 0x80000004u) {
      unsigned int words[12];
      for (unsigned int i = 0; i < 3; ++i) {
        __get_cpuid(0x80000002u + i, &words[i * 4], &words[i * 4 + 1], &words[i * 4 + 2], &words[i * 4 + 3]);
      }
      std::memcpy(info.cpu_brand, words, 48);
      info.cpu_brand[48] = '\0';
    }
  }
#endif

  info.os_platform = 2;
  info.os_major = 6;
  info.os_minor = 1;
  info.os_build = 7601;
  info.os_version_code = static_cast<uint32_t>(info.os_major * 256 + info.os_minor);
  utsname host;
  if (uname(&host) == 0) {
    std::string service = std::string(host.sysname) + " " + host.release;
    CopyText(info.os_service, sizeof info.os_service, service.c_str());
  }
  info.timer_min_period_ms = 1;
  int code_page = g_code_page_override.load(std::memory_order_relaxed);
  info.oem_code_page = code_page >= 0 ? code_page : 932;
  return info;
}

void SetProcessorCountOverride(int count) { g_processor_override.store(count, std::memory_order_relaxed); }

void SetOemCodePageOverride(int code_page) { g_code_page_override.store(code_page, std::memory_order_relaxed); }

uint64_t ReadTimeStampCounter() {
  if (g_virtual_clock.load(std::memory_order_acquire)) {
    return g_virtual_micros.load(std::memory_order_acquire) * 1000u;
  }
#if defined(__x86_64__) || defined(__i386__)
  return __rdtsc();
#else
  return 0;
#endif
}

int VectorLevel() {
  static const int level = [] {
    int l = 0;
#if defined(__x86_64__) || defined(__i386__)
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl"))
      l = 3;
    else if (__builtin_cpu_supports("avx2")) l = 2;
    else if (__builtin_cpu_supports("sse4.1")) l = 1;
#endif
    if (const char* env = std::getenv("RORUD_SPAN_LEVEL"); env != nullptr && *env != 0)
      l = std::min(l, std::max(0, std::atoi(env)));
    return l;
  }();
  return level;
}

// ---- Debugger output -------------------------------------------------------------------------

namespace {

std::mutex g_debug_mutex;
DebugSink g_debug_sink = nullptr;
void* g_debug_context = nullptr;
iconv_t g_debug_converter = reinterpret_cast<iconv_t>(-1);

bool DebugOutputToStderr() {
  static const bool enabled = std::getenv("RORUD_DEBUG_OUTPUT") != nullptr;
  return enabled;
}

// Converts code page 932 to UTF-8; bytes that do not convert become "?".
// Called with g_debug_mutex held.
std::string ToUtf8(const char* text) {
  if (g_debug_converter == reinterpret_cast<iconv_t>(-1)) {
    g_debug_converter = iconv_open("UTF-8", "CP932");
    if (g_debug_converter == reinterpret_cast<iconv_t>(-1)) return text;
  }
  std::string out;
  size_t in_left = std::strlen(text);
  char* in = const_cast<char*>(text);
  char buffer[512];
  while (in_left > 0) {
    char* out_pos = buffer;
    size_t out_left = sizeof buffer;
    size_t result = iconv(g_debug_converter, &in, &in_left, &out_pos, &out_left);
    out.append(buffer, static_cast<size_t>(out_pos - buffer));
    if (result == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      // A stray byte: show it and go on with the next one.
      out.push_back('?');
      ++in;
      --in_left;
      iconv(g_debug_converter, nullptr, nullptr, nullptr, nullptr);
    }
  }
  return out;
}

}  // namespace

void OutputDebugString(const char* text) {
  if (text == nullptr) return;
  DebugSink sink;
  void* context;
  {
    std::lock_guard<std::mutex> lock(g_debug_mutex);
    sink = g_debug_sink;
    context = g_debug_context;
    if (DebugOutputToStderr()) {
      std::string utf8 = ToUtf8(text);
      std::fwrite(utf8.data(), 1, utf8.size(), stderr);
      std::fflush(stderr);
    }
  }
  if (sink != nullptr) sink(text, context);
}

void SetDebugOutputSink(DebugSink sink, void* context) {
  std::lock_guard<std::mutex> lock(g_debug_mutex);
  g_debug_sink = sink;
  g_debug_context = context;
}

// ---- Process ------------------------------------------------------------------------------------

namespace {
std::atomic<ExitHook> g_exit_hook{nullptr};
}  // namespace

void ExitProcess(int code) {
  ExitHook hook = g_exit_hook.load(std::memory_order_acquire);
  if (hook != nullptr) hook(code);
  // Other threads may still run: leave without static destructors.
  std::fflush(nullptr);
  std::_Exit(code);
}

void SetExitProcessHook(ExitHook hook) { g_exit_hook.store(hook, std::memory_order_release); }

}  // namespace plat
