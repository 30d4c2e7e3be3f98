// lib/core/clock.h - the library's clocks: the millisecond clock, the
// microsecond clock and the local date and time.
#pragma once

#include <cstdint>

#include "rorud/rorud.h"

// Settings of the microsecond clock, made by the library start: the
// performance-counter frequency (0: no usable counter, the millisecond clock
// is used) and the time-stamp counter's measured rate (0: none found).
void SetMicroClockCounterFrequency(int64_t frequency);
int64_t GetMicroClockCounterFrequency();
void SetMicroClockTimeStampRate(uint64_t ticks_per_second);
uint64_t GetMicroClockTimeStampRate();
