// System error numbers and their texts.
#pragma once

#include <cstddef>

namespace Diagnose {

// The calling thread's current system error number (errno).
int getSystemError() noexcept;

// The number the store's file opening gives a file of the profile directory
// that exists but is not a regular file (RSECSSFS_ENOTREGULAR); the system has
// none of its own, and its text here is "Not a regular file".
constexpr int kNotARegularFile = 4000;

// Writes the text for rc into buffer (size bytes, always NUL-terminated when
// size > 0) and returns buffer: "[no error]" for 0, the platform's message for
// a known number, "[unknown error code <rc>]" otherwise. errno is preserved.
const char* getSystemErrorMessage(int rc, char* buffer, std::size_t size) noexcept;

}  // namespace Diagnose
