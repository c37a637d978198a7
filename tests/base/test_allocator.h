// An allocator for tests that counts live blocks and can refuse chosen
// allocations.
#pragma once

#include <cerrno>
#include <cstdlib>
#include <set>

#include "base/allocator.h"

class TestAllocator final : public ltt::allocator {
 public:
  // Allocations are numbered from 0; those listed fail.
  explicit TestAllocator(std::set<int> failing = {}) : m_failing(std::move(failing)) {}
  static TestAllocator failing_all() { return TestAllocator({}, true); }

  void* allocate(std::size_t size) noexcept override {
    const int index = m_count++;
    if (m_fail_all || m_failing.count(index) != 0) {
      errno = ENOMEM;
      return nullptr;
    }
    ++m_live;
    return std::malloc(size);
  }
  void deallocate(void* p) noexcept override {
    --m_live;
    std::free(p);
  }

  int live() const { return m_live; }

 private:
  TestAllocator(std::set<int> failing, bool fail_all)
      : m_failing(std::move(failing)), m_fail_all(fail_all) {}

  std::set<int> m_failing;
  bool m_fail_all = false;
  int m_count = 0;
  int m_live = 0;
};
