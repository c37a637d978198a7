// Fixed-width fields of the store's files: big-endian integers and
// blank-padded text without terminator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

inline void EncodeFixed32BE(unsigned char* out, uint32_t value) {
  for (int i = 3; i >= 0; --i, value >>= 8) out[i] = static_cast<unsigned char>(value);
}

inline uint32_t DecodeFixed32BE(const unsigned char* in) {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value = value << 8 | in[i];
  return value;
}

inline void EncodeFixed64BE(unsigned char* out, uint64_t value) {
  for (int i = 7; i >= 0; --i, value >>= 8) out[i] = static_cast<unsigned char>(value);
}

inline uint64_t DecodeFixed64BE(const unsigned char* in) {
  uint64_t value = 0;
  for (int i = 0; i < 8; ++i) value = value << 8 | in[i];
  return value;
}

// Copies at most `width` bytes of `text` (NUL-terminated, may be null) and
// fills the rest of the field with blanks.
inline void WriteBlankPadded(unsigned char* field, size_t width, const char* text) {
  const size_t length = text != nullptr ? strnlen(text, width) : 0;
  if (length > 0) std::memcpy(field, text, length);
  std::memset(field + length, ' ', width - length);
}

// The length of a blank-padded field without its trailing blanks.
inline size_t TrimmedLength(const unsigned char* field, size_t width) {
  while (width > 0 && field[width - 1] == ' ') --width;
  return width;
}
