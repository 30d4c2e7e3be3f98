// lib/core/clock.cpp - the millisecond and microsecond clocks and the local
// date and time.
#include "lib/core/clock.h"

#include <atomic>

#include "platform/kernel/kernel.h"

namespace {
std::atomic<int64_t> g_counter_frequency{0};
std::atomic<uint64_t> g_time_stamp_rate{0};

// floor(ticks * 1e6 / rate), low 64 bits, as the 128-bit multiply and divide
// give it.
uint64_t TicksToMicros(uint64_t ticks, uint64_t rate) {
  unsigned __int128 product = static_cast<unsigned __int128>(ticks) * 1'000'000u;
  return static_cast<uint64_t>(product / rate);
}
}  // namespace

void SetMicroClockCounterFrequency(int64_t frequency) {
  g_counter_frequency.store(frequency, std::memory_order_relaxed);
}

int64_t GetMicroClockCounterFrequency() { return g_counter_frequency.load(std::memory_order_relaxed); }

void SetMicroClockTimeStampRate(uint64_t ticks_per_second) {
  g_time_stamp_rate.store(ticks_per_second, std::memory_order_relaxed);
}

uint64_t GetMicroClockTimeStampRate() { return g_time_stamp_rate.load(std::memory_order_relaxed); }

int GetMilliClock(int) { return static_cast<int>(plat::TimeGetTime() & 0x7FFFFFFFu); }

uint64_t GetMicroClock(int use_time_stamp_counter) {
  uint64_t rate = g_time_stamp_rate.load(std::memory_order_relaxed);
  if (use_time_stamp_counter == 1 && rate != 0) return TicksToMicros(plat::ReadTimeStampCounter(), rate);
  int64_t frequency = g_counter_frequency.load(std::memory_order_relaxed);
  if (frequency > 0) {
    return TicksToMicros(static_cast<uint64_t>(plat::QueryPerformanceCounter()), static_cast<uint64_t>(frequency));
  }
  return static_cast<uint64_t>(plat::TimeGetTime()) * 1000u;
}

int GetLocalDateTime(DateTimeRecord* out) {
  plat::LocalTime now;
  plat::GetLocalTime(&now);
  if (out != nullptr) *out = {now.year, now.month, now.day, now.hour, now.minute, now.second};
  return 0;
}
