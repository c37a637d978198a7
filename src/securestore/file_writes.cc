#include "securestore/file_writes.h"

#include <unistd.h>

#include <cerrno>

namespace {

// offset < 0: at the current position.
bool writeFully(int fd, long offset, const void* data, size_t length) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (length > 0) {
    const ssize_t written = offset < 0 ? write(fd, bytes, length) : pwrite(fd, bytes, length, offset);
    if (written < 0 && errno == EINTR) continue;
    if (written == 0) errno = EIO;  // no progress and no reason: never report a stale one
    if (written <= 0) return false;
    bytes += written;
    if (offset >= 0) offset += written;
    length -= static_cast<size_t>(written);
  }
  return true;
}

}  // namespace

bool rsecssfs_writeAll(int fd, const void* data, size_t length) { return writeFully(fd, -1, data, length); }

bool rsecssfs_writeAt(int fd, long offset, const void* data, size_t length) {
  return offset >= 0 && writeFully(fd, offset, data, length);
}
