// The timers the random generator reads for entropy: chosen once from the
// clocks the platform offers, read as 32-bit values.
#pragma once

#include <cstdint>

struct HighResolutionTimer {
  bool nanosecondClockInUse = false;  // the monotonic nanosecond clock
  bool defaultTimerInUse = true;      // the microsecond counter
  // Neither: the process CPU-time clock.
  uint64_t resolution = 0;  // ticks per second of the clock in use; diagnostics only
};

// The selection rule, from the resolutions (in nanoseconds) that the process
// CPU-time clock and the nanosecond clock report; 0 for a clock that reports
// none. A CPU-time clock of 1000 ns or finer replaces the default timer; the
// nanosecond clock is taken when 0.99 times its rate beats the CPU-time
// clock's, and then also replaces the default timer if it ticks more than a
// million times a second.
void hrtChooseTimer(HighResolutionTimer* timer, uint64_t cpuClockResolutionNs,
                    uint64_t nanosecondClockResolutionNs);

// Asks the platform's clocks for their resolutions and chooses.
void hrtSelectTimer(HighResolutionTimer* timer);

// Reads the chosen timer; a reading of 0 is replaced by the default
// counter's.
uint32_t hrtRead(const HighResolutionTimer& timer);

// The default counter: microseconds of the wall clock, low 32 bits.
uint32_t hrtReadDefaultCounter();

// A nanosecond count folded to 32 bits: (t mod 2^32-1) XOR (t div 2^32-1).
uint32_t hrtFoldNanoseconds(uint64_t nanoseconds);
