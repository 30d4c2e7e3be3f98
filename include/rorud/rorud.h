// rorud/rorud.h - the public interface of the RoRud game library.
//
// The game and other users of the library include this header only. Text
// arguments are code page 932 (Shift-JIS) byte strings. Functions return 0 on
// success and -1 on failure, or a handle (a positive 32-bit word) which is -1
// on failure.
#pragma once

#include <cstddef>
#include <cstdint>

#define RORUD_VERSION "3.06a"

// ===== Library start and end, window =========================================

// The program's entry point, defined by the application.
int WinMain();

// ===== Log and memory ===========================================================

int SetLogFileEnabled(int enable);

// ===== Clocks, maths and random numbers ======================================

// Seeds the library's random generator (MT19937; the same seed always gives
// the same sequence, which replays rely on). Returns 0. An unseeded generator
// acts as if seeded with 4357.
int SeedRandom(uint32_t seed);
// A random integer from 0 to max inclusive (max >= 0); max 0 always gives 0.
int GetRandomRange(int max);

// Milliseconds of the system clock with bit 31 cleared (never negative); the
// argument is not used.
int GetMilliClock(int unused = 0);
// Microseconds: from the time-stamp counter when use_time_stamp_counter is 1
// and its rate is known, else from the performance counter, else from the
// millisecond clock.
uint64_t GetMicroClock(int use_time_stamp_counter = 0);
// The local date and time: year, month, day, hour, minute, second.
struct DateTimeRecord {
  int year, month, day, hour, minute, second;
};
int GetLocalDateTime(DateTimeRecord* out);

// ===== Files and archives ======================================================

// ===== Input =====================================================================

// ===== Images ====================================================================

// ===== Graphics ==================================================================

// ===== Fonts =====================================================================

// ===== Sound =====================================================================
