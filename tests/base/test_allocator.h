// An allocator for tests that counts live blocks and can refuse chosen
// allocations.
#pragma once

#include <cerrno>
#include <cstdlib>
#include <set>
#include <utility>

#include "base/exception_allocator.h"

struct TestAllocator final : public ltt::allocator {
  explicit TestAllocator(std::set<int> failing = {}, bool failAll = false)
      : failing(std::move(failing)), failAll(failAll) {}
  void* allocate(std::size_t size) noexcept override {
    if (failAll || failing.count(count++) != 0) {
      errno = ENOMEM;
      return nullptr;
    }
    ++live;
    return std::malloc(size);
  }
  void deallocate(void* p) noexcept override {
    --live;
    std::free(p);
  }

  std::set<int> failing;  // allocations are numbered from 0
  bool failAll;
  int count = 0, live = 0;
};
