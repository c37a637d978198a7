// Allocator interface through which an exception obtains its data block, its
// further nodes and its message arguments.
#pragma once

#include <cstddef>

namespace ltt {

// Exceptions are often raised because memory ran out, so allocation reports
// failure by a null result instead of throwing; the exception then degrades
// (drops an argument, a node, or falls back to a fixed text) rather than
// replacing the original error with std::bad_alloc.
class allocator {
 public:
  virtual void* allocate(std::size_t size) noexcept = 0;
  virtual void deallocate(void* p) noexcept = 0;

 protected:
  ~allocator() = default;
};

// The process-wide allocator backed by malloc and free.
allocator& default_allocator() noexcept;

}  // namespace ltt
