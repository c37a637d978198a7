#include "encoding/unicode_conversion.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <tuple>

namespace {

using namespace support::UC;
using namespace std::string_literals;

struct Converted {
  ConversionResult result;
  std::string written;  // the first `written` bytes of the target
  std::size_t read;
};

// Source and target live in heap blocks of exactly their size, so any
// access beyond them is caught under AddressSanitizer.
Converted convert(char_encoding to, std::size_t size, bool terminate, char_encoding from, const std::string& source) {
  std::unique_ptr<char[]> in(new char[source.size()]);
  std::memcpy(in.get(), source.data(), source.size());
  std::unique_ptr<char[]> out(new char[size]);
  std::memset(out.get(), 0x55, size);
  std::size_t written = 99, read = 99;
  const ConversionResult result =
      convertString(to, out.get(), size, &written, terminate, from, in.get(), source.size(), &read);
  EXPECT_LE(written, size);
  EXPECT_LE(read, source.size());
  return {result, std::string(out.get(), std::min(written, size)), read};
}

TEST(ConvertString, EdgeCases) {
  const auto ASCII = CHAR_ENCODING_ASCII, UTF8 = CHAR_ENCODING_UTF8, CESU8 = CHAR_ENCODING_CESU8;
  const auto UCS2BE = CHAR_ENCODING_UCS2_BE, UCS2LE = CHAR_ENCODING_UCS2_LE;
  const auto UCS4BE = CHAR_ENCODING_UCS4_BE, UCS4LE = CHAR_ENCODING_UCS4_LE;
  // Target encoding and size, whether to terminate, source encoding and bytes; the result, what was written
  // and how many source bytes were read.
  const std::tuple<char_encoding, std::size_t, bool, char_encoding, std::string, ConversionResult, std::string,
                   std::size_t>
      cases[] = {
          // Surrogate pairs: CESU-8 writes them as two sequences, UTF-8 as one.
          {UTF8, 16, false, CESU8, "\xED\xA0\xBD\xED\xB8\x80", Success, "\xF0\x9F\x98\x80", 6},
          {UTF8, 16, false, CESU8, "ab\xED\xA0\xBD", SourceExhausted, "ab", 2},
          {UTF8, 16, false, CESU8, "ab\xED\xA0\xBD\xED\xB8", SourceExhausted, "ab", 2},
          {UTF8, 16, false, CESU8, "\xED\xB8\x80", Success, "\xED\xB8\x80", 3},  // a lone low surrogate passes
          {UTF8, 16, false, CESU8, "\xF0\x9F\x98\x80", SourceCorrupted, "", 0},
          {CESU8, 16, false, UTF8, "a\xF0\x9F\x98\x80", Success, "a\xED\xA0\xBD\xED\xB8\x80", 5},
          {UCS2BE, 16, false, UTF8, "\xF0\x9F\x98\x80", Success, "\xD8\x3D\xDE\x00"s, 4},
          {UTF8, 16, false, UCS2BE, "\xD8\x3D\0A"s, SourceCorrupted, "", 0},
          {UTF8, 16, false, UCS2LE, "A\0\x3D\xD8"s, SourceExhausted, "A", 2},
          // 8-bit text; what it cannot hold becomes "?".
          {UTF8, 16, false, ASCII, "a\xE4\xFF", Success, "a\xC3\xA4\xC3\xBF", 3},
          {ASCII, 16, false, UTF8, "a\xC3\xA4\xE2\x82\xAC", Success, "a\xE4?", 6},
          // Whole units and whole characters only; a target filled exactly is no failure.
          {UCS2LE, 4, false, UCS2BE, "\0A\0B"s, Success, "A\0B\0"s, 4},
          {UCS2LE, 3, false, UCS2BE, "\0A\0B"s, TargetExhausted, "A\0"s, 2},
          {UCS2LE, 16, false, UCS2BE, "\0A\0"s, SourceExhausted, "A\0"s, 2},
          {UTF8, 2, false, ASCII, "a\xE4", TargetExhausted, "a", 1},
          {UCS4LE, 16, false, UTF8, "a\xE2\x82", SourceExhausted, "a\0\0\0"s, 1},
          // Invalid lead bytes, overlong forms, values beyond 0x10FFFF.
          {UCS4LE, 16, false, UTF8, "a\x80", SourceCorrupted, "a\0\0\0"s, 1},
          {UCS4LE, 16, false, UTF8, "\xC0\x80", SourceCorrupted, "", 0},
          {UTF8, 16, false, UCS4BE, "\0\x11\0\0"s, SourceCorrupted, "", 0},
          // Termination: a target of exactly the terminator's size is full.
          {UTF8, 1, true, UTF8, "abc", TargetExhausted, "\0"s, 0},
          {UCS4LE, 3, true, ASCII, "abc", SourceCorrupted, "", 0},
          {UTF8, 3, true, ASCII, "abc", TargetExhausted, "ab\0"s, 2},
          {UCS4LE, 16, true, ASCII, "ab", Success, "a\0\0\0b\0\0\0\0\0\0\0"s, 2},
          // An encoding without a converter.
          {UTF8, 16, true, static_cast<char_encoding>(42), "a", SourceCorrupted, "\0"s, 0},
      };
  for (const auto& [to, size, terminate, from, source, result, written, read] : cases) {
    const Converted got = convert(to, size, terminate, from, source);
    EXPECT_EQ(got.result, result) << source;
    EXPECT_EQ(got.written, written) << source;
    EXPECT_EQ(got.read, read) << source;
  }
  std::size_t written = 7;
  EXPECT_EQ(convertString(UTF8, nullptr, 8, &written, true, ASCII, "a", 1, nullptr), SourceCorrupted);
  EXPECT_EQ(written, 0u);  // a null target is not written
}

const char_encoding kUnicodeForms[] = {CHAR_ENCODING_UTF8,    CHAR_ENCODING_CESU8,   CHAR_ENCODING_UCS2_BE,
                                       CHAR_ENCODING_UCS2_LE, CHAR_ENCODING_UCS4_BE, CHAR_ENCODING_UCS4_LE};

// Converts all of text, which must succeed, into a target of ample size.
std::string convertAll(char_encoding to, char_encoding from, const std::string& text) {
  const Converted got = convert(to, 6 * text.size() + 8, false, from, text);
  EXPECT_EQ(got.result, Success);
  EXPECT_EQ(got.read, text.size());
  return got.written;
}

// Code points of every UTF-8 length, surrogates excepted, BMP only in every
// other round, through every pair of forms; and every 8-bit character.
TEST(ConvertString, RandomCodePointsRoundTripThroughEveryPair) {
  std::mt19937 random(20240611);
  for (int round = 0; round < 50; ++round) {
    const char32_t limits[] = {0x7F, 0x7FF, 0xFFFF, round % 2 == 0 ? 0xFFFFu : 0x10FFFFu};
    std::string ucs4;
    for (int i = 0; i < 40; ++i) {
      char32_t c = std::uniform_int_distribution<char32_t>(1, limits[random() % 4])(random);
      if (c >= 0xD800 && c <= 0xDFFF) c -= 0x800;
      for (int shift = 24; shift >= 0; shift -= 8) ucs4 += static_cast<char>(c >> shift);
    }
    for (char_encoding a : kUnicodeForms) {
      const std::string inA = convertAll(a, CHAR_ENCODING_UCS4_BE, ucs4);
      EXPECT_EQ(convertAll(CHAR_ENCODING_UCS4_BE, a, inA), ucs4) << a;
      for (char_encoding b : kUnicodeForms) EXPECT_EQ(convertAll(a, b, convertAll(b, a, inA)), inA) << a << " " << b;
    }
  }
  std::string eightBit;
  for (int b = 1; b < 256; ++b) eightBit += static_cast<char>(b);
  for (char_encoding a : kUnicodeForms)
    EXPECT_EQ(convertAll(CHAR_ENCODING_ASCII, a, convertAll(a, CHAR_ENCODING_ASCII, eightBit)), eightBit);
}

}  // namespace
