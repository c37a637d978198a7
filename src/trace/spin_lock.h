// A spin lock on one 32-bit word, for short critical sections among threads.
// The word is 0 while the lock is free and 1 while it is held; it is changed
// only by atomic compare-and-swap, so the same layout also works for a word
// that lies in memory shared between processes.
#pragma once

#include <sched.h>

#include <cstdint>

namespace Synchronization {
namespace impl {

class SpinLock {
 public:
  SpinLock() noexcept : m_count(0) {}
  SpinLock(const SpinLock&) = delete;
  SpinLock& operator=(const SpinLock&) = delete;

  // Spins until the lock is had; gives the processor away after every 1024
  // failed attempts so that a holder on the same core can finish.
  void lock() noexcept {
    std::uint32_t failures = 0;
    while (!tryLock()) {
      if (++failures % 1024 == 0) sched_yield();
    }
  }

  // One attempt; true when the lock is now held by the caller.
  bool tryLock() noexcept {
    std::int32_t expected = 0;
    return __atomic_compare_exchange_n(&m_count, &expected, 1, false, __ATOMIC_ACQUIRE,
                                       __ATOMIC_RELAXED);
  }

  void unlock() noexcept {
    std::int32_t expected = 1;
    __atomic_compare_exchange_n(&m_count, &expected, 0, false, __ATOMIC_RELEASE, __ATOMIC_RELAXED);
  }

  // Frees the lock whoever holds it.
  void reset() noexcept { __atomic_store_n(&m_count, 0, __ATOMIC_RELEASE); }

 private:
  std::int32_t m_count;
};

}  // namespace impl
}  // namespace Synchronization
