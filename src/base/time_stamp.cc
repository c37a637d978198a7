// Local time stamps with microseconds.
#include "base/time_stamp.h"

#include <cstdio>
#include <cstring>
#include <ctime>

namespace NEBRIX {
namespace {

constexpr char kZeroStamp[] = "0000-00-00 00:00:00.000000";
static_assert(sizeof kZeroStamp == kTimeStampLength + 1);

// `value`'s last `width` decimal digits at `text`.
void putDigits(char* text, unsigned long value, int width) {
  for (int i = width - 1; i >= 0; --i) {
    text[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
}

}  // namespace

void formatTimeStamp(const struct timeval& time, char* text) {
  std::memcpy(text, kZeroStamp, sizeof kZeroStamp);
  struct tm local;
  if (localtime_r(&time.tv_sec, &local) == nullptr) return;
  // Every trace record begins with a stamp: the common case is put together
  // digit by digit, without the cost of a formatted print.
  const int year = local.tm_year + 1900;
  if (year >= 0 && year <= 9999 && time.tv_usec >= 0 && time.tv_usec <= 999999) {
    putDigits(text, static_cast<unsigned long>(year), 4);
    putDigits(text + 5, static_cast<unsigned long>(local.tm_mon + 1), 2);
    putDigits(text + 8, static_cast<unsigned long>(local.tm_mday), 2);
    putDigits(text + 11, static_cast<unsigned long>(local.tm_hour), 2);
    putDigits(text + 14, static_cast<unsigned long>(local.tm_min), 2);
    putDigits(text + 17, static_cast<unsigned long>(local.tm_sec), 2);
    putDigits(text + 20, static_cast<unsigned long>(time.tv_usec), 6);
    return;
  }
  char wide[64];
  std::snprintf(wide, sizeof wide, "%04d-%02d-%02d %02d:%02d:%02d.%06ld", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, static_cast<long>(time.tv_usec));
  std::memcpy(text, wide, kTimeStampLength);
  text[kTimeStampLength] = '\0';
}

void currentTimeStamp(char* text) {
  struct timeval now;
  if (gettimeofday(&now, nullptr) != 0) {
    std::memcpy(text, kZeroStamp, sizeof kZeroStamp);
    return;
  }
  formatTimeStamp(now, text);
}

}  // namespace NEBRIX
