// The default allocator of the base layer.
#include "base/exception_allocator.h"

#include <cstdlib>

namespace ltt {
namespace {

class malloc_allocator final : public allocator {
 public:
  void* allocate(std::size_t size) noexcept override { return std::malloc(size); }
  void deallocate(void* p) noexcept override { std::free(p); }
};

}  // namespace

allocator& default_allocator() noexcept {
  static malloc_allocator instance;
  return instance;
}

}  // namespace ltt
