// Random bytes from the operating system (getrandom(2)): the seed of the
// pseudo-random generator and the material of every new encryption key.
#pragma once

#include <cstddef>

// Fills all `length` bytes, waiting while the system's pool is not yet
// initialised, and retrying interrupted calls and short reads. 0 on success,
// else the system error (errno value); the buffer's content is then
// unspecified and must not be used.
int systemRandomBytes(void* buffer, size_t length);
