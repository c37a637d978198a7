// Local time stamps with microseconds.
#include "base/time_stamp.h"

#include <cstdio>
#include <cstring>
#include <ctime>

namespace NEBRIX {
namespace {

constexpr char kZeroStamp[] = "0000-00-00 00:00:00.000000";
static_assert(sizeof kZeroStamp == kTimeStampLength + 1);

}  // namespace

void formatTimeStamp(const struct timeval& time, char* text) {
  std::memcpy(text, kZeroStamp, sizeof kZeroStamp);
  struct tm local;
  if (localtime_r(&time.tv_sec, &local) == nullptr) return;
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
