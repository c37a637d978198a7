// Local time stamps with microseconds, "2026-12-07 10:15:02.123456", as the
// console's history entries and the client's trace records begin with them.
// A stamp is always kTimeStampLength characters, so that it fills a fixed
// column. The fraction is the real microsecond, so that stamps made within
// one second keep their order when sorted as text.
#pragma once

#include <sys/time.h>

#include <cstddef>

namespace NEBRIX {

constexpr std::size_t kTimeStampLength = 26;

// The stamp of `time` in local time into `text`, which holds
// kTimeStampLength + 1 bytes and is ended by '\0'. A time without a local
// date gives "0000-00-00 00:00:00.000000"; a year beyond 9999 keeps the
// width and loses the last digit.
void formatTimeStamp(const struct timeval& time, char* text);

// The stamp of now; the zero stamp when the clock cannot be read.
void currentTimeStamp(char* text);

}  // namespace NEBRIX
