#include "trace/trace_flags.h"

#include <string>

#include <gtest/gtest.h>

namespace NEBRIX {
namespace {

// Parsing and printing again gives the canonical text.
TEST(TraceFlags, ParsesAndPrintsCanonically) {
  const struct {
    const char* input;
    const char* canonical;
  } cases[] = {
      {"", ""},           {"c:a", "c:a"},       {"a:c", "c:a"},     {"c:a:p", "c:a:p1000"}, {"p0", "p1000"},
      {"p-5", "p1000"},   {"pabc", "p1000"},    {"p64k", "p65536"}, {"s100", "s8192"},      {"s0", "s8192"},
      {"sabc", ""},       {"s16M", "s16777216"}, {"s8191", "s8192"}, {"s8192", "s8192"},    {"G1", "G1"},
      {"G2:T", "G2:T"},   {"G3", ""},           {"G", ""},          {"G2:G", "G2"},         {"e10/0", "e10"},
      {"e0/5", ""},       {"e10/-3", "e10"},    {"e12abc", "e12"},  {"e-100/3", "e-100/3"}, {"s8192:e5", "s8192:e5"},
      {"e5:s8192", "s8192:e5"}, {"::c::", "c"}, {"x:c", "c"},       {"c:R", "c"},           {"R", ""},
      {"C", ""},          {"c:c:c", "c"},       {"a1", "a"},        {"z:T:D:d:A:c:a", "c:A:d:D:a:z:T"},
      {"p2048:a:s1000000", "a:p2048:s1000000"},
      {"e5:e0", ""},  // a later token wins
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TraceFlags(c.input).toString(), c.canonical) << '"' << c.input << '"';
  }
}

// Fields the canonical text does not show; printing does not correct values.
TEST(TraceFlags, FieldsOfParsedStrings) {
  TraceFlags stop("e10/0");
  EXPECT_TRUE(stop.m_stop_on_error);
  EXPECT_EQ(stop.m_errorcount, 0);
  EXPECT_EQ(TraceFlags("G1").m_profile, TraceSharedMemory::PROFILE_RESET);
  EXPECT_EQ(TraceFlags("G2").m_profile, TraceSharedMemory::PROFILE_COLLECT);
  EXPECT_EQ(TraceFlags("G3").m_profile, TraceSharedMemory::PROFILE_NOTSET);
  EXPECT_EQ(TraceFlags("sabc").m_filesize, -1);
  EXPECT_EQ(TraceFlags(nullptr).toString(), "");
  TraceFlags f;
  f.m_filesize = 100;
  EXPECT_EQ(f.toString(), "s100");
}

TEST(TraceFlags, LongInputIsCutAt4095Characters) {
  // Filler and ":", then "a" as the 4095th character and "c" after the cut.
  std::string text(4093, 'x');
  text += ":a:c";
  ASSERT_EQ(text.size(), 4097u);
  EXPECT_EQ(TraceFlags(text.c_str()).toString(), "a");

  std::string sizes(4091, 'x');
  sizes += ":s16M";  // cut to ":s16" by the limit
  EXPECT_EQ(TraceFlags(sizes.c_str()).m_filesize, 8192);
}

}  // namespace
}  // namespace NEBRIX
