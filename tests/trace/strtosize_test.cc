#include "trace/strtosize.h"

#include <cstring>

#include <gtest/gtest.h>

namespace NEBRIX {
namespace {

TEST(StrToSize, ReadsNumbersUnitsAndRejectsGarbage) {
  const struct {
    const char* text;
    int32_t expected;
  } cases[] = {
      {"8192", 8192},   {"16k", 16384},  {"16K", 16384},   {"16 KB", 16384},   {"16kb ", 16384}, {"1M", 1048576},
      {"1mB", 1048576}, {"0x2000", 8192}, {"010", 8},         {"4g", 0},          {"k", 0},         {"", 0},
      {"  42", 42},     {"-5", -5},       {"42  ", 42},       {"10kbb", -1},      {"10x", -1},      {"10 k b", -1},
      {"0x", -1},
      {"2G", INT32_MIN},  // 2^31 wraps in 32 bits
      {"4294967297", 1},  // low 32 bits
  };
  for (const auto& c : cases) {
    EXPECT_EQ(strtosize(c.text, strlen(c.text)), c.expected) << '"' << c.text << '"';
  }
}

TEST(StrToSize, NeverLooksPastTheGivenLength) {
  // Only "16" belongs to the value; what follows must not be read as a unit.
  EXPECT_EQ(strtosize("16kXYZ", 2), 16);
  EXPECT_EQ(strtosize("16kXYZ", 3), 16384);
  EXPECT_EQ(strtosize("123456", 3), 123);
}

TEST(StrToInt32, ReadsLikeDecimalStrtol) {
  const struct {
    const char* text;
    int32_t expected;
  } cases[] = {
      {"16k", 16}, {" -100", -100}, {"abc", 0}, {"12abc", 12}, {"+7", 7}, {"0x10", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(strtoint32(c.text), c.expected) << c.text;
}

}  // namespace
}  // namespace NEBRIX
