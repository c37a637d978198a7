#include "crypto/system_random.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdint>

int systemRandomBytes(void* buffer, size_t length) {
  auto* out = static_cast<uint8_t*>(buffer);
  while (length > 0) {
    const ssize_t n = getrandom(out, length, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return EIO;  // never returned for a non-empty request; do not spin on it
    out += n;
    length -= static_cast<size_t>(n);
  }
  return 0;
}
