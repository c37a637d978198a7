// Reading a size such as "8192", "16k", "1 MB" or "0x2000".
#pragma once

#include <cstddef>
#include <cstdint>

namespace NEBRIX {

// Reads a number the way strtol with base 0 does, then an optional unit K, M
// or G (times 1024, 1048576, 1073741824, computed in 32 bits and wrapping) with
// an optional trailing "B". `length` is the number of characters of `text` that
// belong to the value; the reader never looks past it or past a NUL.
// Returns -1 for a malformed size.
int32_t strtosize(const char* text, size_t length);

// Reads a decimal number the way strtol with base 10 does (leading white space
// and a sign allowed, reading stops at the first non-digit) and keeps its low
// 32 bits as a signed value. A text without digits reads as 0.
int32_t strtoint32(const char* text);

// The same readings for a word typed on the command line, where a value that
// does not fit a signed 32-bit value is refused instead of cut to its low 32
// bits (which would store a different size or error code than the one typed).
// False for such a value and for a malformed size.
bool readSizeWord(const char* word, int32_t& value);
bool readNumberWord(const char* word, int32_t& value);

}  // namespace NEBRIX
