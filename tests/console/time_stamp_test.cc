#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "console/console.h"

namespace NEBRIX {
namespace {

TEST(TimeStamp, LocalTimeWithMicroseconds) {
  char first[27];
  char second[27];
  currentTimeStamp(first);
  currentTimeStamp(second);
  const std::regex format(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{6})");
  EXPECT_TRUE(std::regex_match(first, format)) << first;
  // Stamps taken one after the other sort in the order they were taken.
  EXPECT_LE(std::string(first), std::string(second));
}

}  // namespace
}  // namespace NEBRIX
