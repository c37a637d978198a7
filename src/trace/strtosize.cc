#include "trace/strtosize.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace NEBRIX {

namespace {

// The low 32 bits of a value, read as signed: the width the sizes are kept in.
int32_t low32(unsigned long value) {
  return static_cast<int32_t>(static_cast<uint32_t>(value));
}

int32_t unitFactor(char unit) {
  switch (unit) {
    case 'K': case 'k': return 1024;
    case 'M': case 'm': return 1048576;
    case 'G': case 'g': return 1073741824;
    default: return 0;
  }
}

}  // namespace

int32_t strtosize(const char* text, size_t length) {
  // Work on a private, NUL-terminated copy of the value, so that strtol can
  // never run past `length` into text that does not belong to the value.
  const std::string value(text, strnlen(text, length));
  const char* const begin = value.c_str();
  const char* const end = begin + value.size();

  char* stop = nullptr;
  errno = 0;
  const long number = strtol(begin, &stop, 0);
  const int32_t n = low32(static_cast<unsigned long>(number));
  const char* p = stop;
  if (p == end) return n;

  while (p != end && isspace(static_cast<unsigned char>(*p))) ++p;
  if (p == end) return n;

  const int32_t factor = unitFactor(*p);
  if (factor == 0) return -1;
  const int32_t product = low32(static_cast<uint32_t>(n) * static_cast<uint32_t>(factor));
  ++p;
  if (p == end) return product;

  if (*p == 'b' || *p == 'B') ++p;
  while (p != end && isspace(static_cast<unsigned char>(*p))) ++p;
  return p == end ? product : -1;
}

int32_t strtoint32(const char* text) {
  errno = 0;
  return low32(static_cast<unsigned long>(strtol(text, nullptr, 10)));
}

}  // namespace NEBRIX
