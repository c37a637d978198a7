#include "crypto/secure_wipe.h"

#include <cstring>

void secureWipe(void* data, size_t length) {
  if (data == nullptr || length == 0) return;
  memset(data, 0, length);
  // The barrier tells the compiler the zeroed memory is read afterwards, so
  // the memset above is not removed as a store to memory about to die.
  __asm__ __volatile__("" : : "r"(data) : "memory");
}
