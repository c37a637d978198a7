#include "crypto/high_resolution_timer.h"

#include <sys/time.h>
#include <time.h>

namespace {

constexpr uint64_t kNanosecondsPerSecond = 1000000000;
constexpr uint64_t kDefaultCounterRate = 1000000;

// 0 when the clock is unavailable or reports no resolution.
uint64_t resolutionNs(clockid_t clock) {
  struct timespec res {};
  if (clock_getres(clock, &res) != 0 || res.tv_sec < 0 || res.tv_nsec < 0) return 0;
  return static_cast<uint64_t>(res.tv_sec) * kNanosecondsPerSecond + static_cast<uint64_t>(res.tv_nsec);
}

uint64_t rate(uint64_t resolutionNs) { return resolutionNs == 0 ? 0 : kNanosecondsPerSecond / resolutionNs; }

}  // namespace

void hrtChooseTimer(HighResolutionTimer* timer, uint64_t cpuClockResolutionNs,
                    uint64_t nanosecondClockResolutionNs) {
  uint64_t cpuRate = 0;
  if (cpuClockResolutionNs != 0 && cpuClockResolutionNs <= 1000) {
    timer->defaultTimerInUse = false;
    cpuRate = rate(cpuClockResolutionNs);
  }
  const uint64_t nanosecondRate = rate(nanosecondClockResolutionNs);
  if (99 * nanosecondRate > 100 * cpuRate) {
    timer->nanosecondClockInUse = true;
    if (nanosecondRate > kDefaultCounterRate) timer->defaultTimerInUse = false;
  }
  if (timer->nanosecondClockInUse) {
    timer->resolution = nanosecondRate;
  } else if (timer->defaultTimerInUse) {
    timer->resolution = kDefaultCounterRate;
  } else {
    timer->resolution = cpuRate;
  }
}

void hrtSelectTimer(HighResolutionTimer* timer) {
  hrtChooseTimer(timer, resolutionNs(CLOCK_PROCESS_CPUTIME_ID), resolutionNs(CLOCK_MONOTONIC));
}

uint32_t hrtFoldNanoseconds(uint64_t nanoseconds) {
  constexpr uint64_t kModulus = 4294967295u;
  return static_cast<uint32_t>((nanoseconds % kModulus) ^ (nanoseconds / kModulus));
}

uint32_t hrtReadDefaultCounter() {
  struct timeval now {};
  gettimeofday(&now, nullptr);
  return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * kDefaultCounterRate +
                               static_cast<uint64_t>(now.tv_usec));
}

uint32_t hrtRead(const HighResolutionTimer& timer) {
  uint32_t value = 0;
  struct timespec now {};
  if (timer.nanosecondClockInUse) {
    if (clock_gettime(CLOCK_MONOTONIC, &now) == 0) {
      value = hrtFoldNanoseconds(static_cast<uint64_t>(now.tv_sec) * kNanosecondsPerSecond +
                                 static_cast<uint64_t>(now.tv_nsec));
    }
  } else if (timer.defaultTimerInUse) {
    value = hrtReadDefaultCounter();
  } else if (clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now) == 0) {
    value = static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) ^ static_cast<uint64_t>(now.tv_nsec));
  }
  return value != 0 ? value : hrtReadDefaultCounter();
}
