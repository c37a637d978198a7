#include "trace/strtosize.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

namespace NEBRIX {

namespace {

// The low 32 bits of a value, read as signed: the width the sizes are kept in.
int32_t low32(uint64_t value) { return static_cast<int32_t>(static_cast<uint32_t>(value)); }

int64_t unitFactor(char unit) {
  switch (unit) {
    case 'K': case 'k': return 1024;
    case 'M': case 'm': return 1048576;
    case 'G': case 'g': return 1073741824;
    default: return 0;
  }
}

// A number as strtol reads it, whole: `fits` tells whether it was within a
// signed 32-bit value before anything was cut.
struct Reading {
  uint64_t bits = 0;  // the value modulo 2^64; its low 32 bits are what a stored size keeps
  bool fits = false;
  bool wellFormed = false;
};

bool fitsInt32(long value) { return value >= INT32_MIN && value <= INT32_MAX; }

Reading readSize(const char* text, size_t length) {
  // Work on a private, NUL-terminated copy of the value, so that strtol can
  // never run past `length` into text that does not belong to the value.
  const std::string value(text, strnlen(text, length));
  const char* const begin = value.c_str();
  const char* const end = begin + value.size();

  Reading reading;
  char* stop = nullptr;
  errno = 0;
  const long number = strtol(begin, &stop, 0);
  reading.bits = static_cast<uint64_t>(number);
  reading.fits = errno != ERANGE && fitsInt32(number);
  const char* p = stop;
  while (p != end && isspace(static_cast<unsigned char>(*p))) ++p;
  if (p == end) {
    reading.wellFormed = true;
    return reading;
  }

  const int64_t factor = unitFactor(*p);
  if (factor == 0) return reading;
  long product = 0;
  reading.fits = reading.fits && !__builtin_mul_overflow(number, factor, &product) && fitsInt32(product);
  reading.bits *= static_cast<uint64_t>(factor);
  ++p;
  if (p != end && (*p == 'b' || *p == 'B')) ++p;
  while (p != end && isspace(static_cast<unsigned char>(*p))) ++p;
  reading.wellFormed = p == end;
  return reading;
}

Reading readNumber(const char* text) {
  errno = 0;
  const long number = strtol(text, nullptr, 10);
  Reading reading;
  reading.bits = static_cast<uint64_t>(number);
  reading.fits = errno != ERANGE && fitsInt32(number);
  reading.wellFormed = true;
  return reading;
}

bool fittingValue(const Reading& reading, int32_t& value) {
  if (!reading.wellFormed || !reading.fits) return false;
  value = low32(reading.bits);
  return true;
}

}  // namespace

int32_t strtosize(const char* text, size_t length) {
  const Reading reading = readSize(text, length);
  return reading.wellFormed ? low32(reading.bits) : -1;
}

int32_t strtoint32(const char* text) { return low32(readNumber(text).bits); }

bool readSizeWord(const char* word, int32_t& value) { return fittingValue(readSize(word, strlen(word)), value); }

bool readNumberWord(const char* word, int32_t& value) { return fittingValue(readNumber(word), value); }

}  // namespace NEBRIX
