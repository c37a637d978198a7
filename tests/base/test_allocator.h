// An allocator for tests that counts live blocks, can refuse chosen
// allocations and can fill new blocks, so that what lies before a value in
// its block is known.
#pragma once

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>
#include <utility>

#include "base/exception_allocator.h"

struct TestAllocator final : public ltt::allocator {
  explicit TestAllocator(std::set<int> failing = {}, bool failAll = false, int fill = -1)
      : failing(std::move(failing)), failAll(failAll), fill(fill) {}
  void* allocate(std::size_t size) noexcept override {
    if (failAll || failing.count(count++) != 0) {
      errno = ENOMEM;
      return nullptr;
    }
    ++live;
    void* block = std::malloc(size);
    if (block != nullptr && fill >= 0) std::memset(block, fill, size);
    return block;
  }
  void deallocate(void* p) noexcept override {
    --live;
    std::free(p);
  }

  std::set<int> failing;  // allocations are numbered from 0
  bool failAll;
  int count = 0, live = 0;
  int fill;  // the byte every new block is filled with (-1: left as malloc gives it)
};
