#include "base/time_stamp.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <ctime>

namespace {

// Stamps keep their width, whatever the time: a time without a local date
// is the zero stamp, a fifth digit of the year is cut off at the end.
TEST(TimeStamp, FixedWidthInLocalTime) {
  setenv("TZ", "UTC", 1);
  tzset();
  const struct { time_t seconds; long micro; const char* expected; } cases[] = {
      {0, 0, "1970-01-01 00:00:00.000000"},
      {1796638502, 123456, "2026-12-07 10:15:02.123456"},
      {253402300800, 7, "10000-01-01 00:00:00.00000"},
      {LONG_MAX, 0, "0000-00-00 00:00:00.000000"}};
  for (const auto& c : cases) {
    struct timeval time = {c.seconds, c.micro};
    char text[NEBRIX::kTimeStampLength + 1];
    NEBRIX::formatTimeStamp(time, text);
    EXPECT_STREQ(text, c.expected) << c.seconds;
  }
}

}  // namespace
