// Writing to the store's files: straight to the file descriptor, retried
// after interruptions, so that no bytes of a failed write linger in a stream
// buffer to be written later.
#pragma once

#include <cstddef>

// Writes all `length` bytes at the current position; false on any failure,
// with errno saying why.
bool rsecssfs_writeAll(int fd, const void* data, size_t length);
// Writes all `length` bytes at `offset`; false on any failure, with errno
// saying why.
bool rsecssfs_writeAt(int fd, long offset, const void* data, size_t length);
