#include "trace/trace_flags.h"

#include <cstring>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "trace/strtosize.h"

namespace NEBRIX {
namespace {

TEST(StrToSize, ReadsNumbersUnitsAndRejectsGarbage) {
  const std::pair<const char*, int32_t> cases[] = {
      {"8192", 8192},   {"16k", 16384},  {"16K", 16384},   {"16 KB", 16384},   {"16kb ", 16384}, {"1M", 1048576},
      {"1mB", 1048576}, {"0x2000", 8192}, {"010", 8},         {"4g", 0},          {"k", 0},         {"", 0},
      {"  42", 42},     {"-5", -5},       {"42  ", 42},       {"10kbb", -1},      {"10x", -1},      {"10 k b", -1},
      {"0x", -1},       {"2G", INT32_MIN}, {"4294967297", 1},  // 2^31 wraps in 32 bits; the low 32 bits
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(strtosize(text, strlen(text)), expected) << '"' << text << '"';
  // What follows the given length is not read, not even as a unit.
  EXPECT_EQ(strtosize("16kXYZ", 2), 16);
  EXPECT_EQ(strtosize("16kXYZ", 3), 16384);
  EXPECT_EQ(strtosize("123456", 3), 123);
  // Decimal only, as strtol reads it.
  const std::pair<const char*, int32_t> decimal[] = {{"16k", 16}, {" -100", -100}, {"abc", 0}, {"+7", 7}, {"0x10", 0}};
  for (const auto& c : decimal) EXPECT_EQ(strtoint32(c.first), c.second) << c.first;
}

// Parsing and printing again gives the canonical text.
TEST(TraceFlags, ParsesAndPrintsCanonically) {
  const std::string filler(4093, 'x');
  const std::pair<std::string, const char*> cases[] = {
      {"", ""},           {"c:a", "c:a"},       {"a:c", "c:a"},     {"c:a:p", "c:a:p1000"}, {"p0", "p1000"},
      {"p-5", "p1000"},   {"pabc", "p1000"},    {"p64k", "p65536"}, {"s100", "s8192"},      {"s0", "s8192"},
      {"sabc", ""},       {"s16M", "s16777216"}, {"s8191", "s8192"}, {"s8192", "s8192"},    {"G1", "G1"},
      {"G2:T", "G2:T"},   {"G3", ""},           {"G", ""},          {"G2:G", "G2"},         {"e10/0", "e10"},
      {"e0/5", ""},       {"e10/-3", "e10"},    {"e12abc", "e12"},  {"e-100/3", "e-100/3"}, {"s8192:e5", "s8192:e5"},
      {"e5:s8192", "s8192:e5"}, {"::c::", "c"}, {"x:c", "c"},       {"c:R", "c"},           {"R", ""},
      {"C", ""},          {"c:c:c", "c"},       {"a1", "a"},        {"z:T:D:d:A:c:a", "c:A:d:D:a:z:T"},
      {"p2048:a:s1000000", "a:p2048:s1000000"}, {"e5:e0", ""}, {"e5/3:e7", "e7"},  // a later token wins
      // Only 4095 characters are read: "a" is the last, "s16M" is cut to "s16".
      {filler + ":a:c", "a"}, {filler.substr(2) + ":s16M", "s8192"},
  };
  for (const auto& [input, canonical] : cases) {
    EXPECT_EQ(TraceFlags(input.c_str()).toString(), canonical) << '"' << input.substr(0, 20) << '"';
  }
  EXPECT_EQ(TraceFlags(nullptr).toString(), "");
}

}  // namespace
}  // namespace NEBRIX
