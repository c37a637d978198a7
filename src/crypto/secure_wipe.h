// Overwriting secrets (keys, key schedules, pads, decrypted values) before
// their memory is released or reused.
#pragma once

#include <cstddef>

// Sets `length` bytes at `data` to zero in a way the compiler cannot drop as
// a dead store.
void secureWipe(void* data, size_t length);
