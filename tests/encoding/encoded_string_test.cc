#include "encoding/encoded_string.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <string>
#include <tuple>
#include <vector>

#include "../base/test_allocator.h"
#include "base/exception.h"

namespace {

using NEBRIX::EncodedString;
using Type = NEBRIX_StringEncodingType;
using namespace std::string_literals;

ltt::allocator& heap() { return ltt::default_allocator(); }

std::string content(const EncodedString& s) { return std::string(s.buffer(), s.length()); }

EncodedString make(const std::string& bytes, Type::Encoding encoding) {
  return EncodedString(bytes.data(), static_cast<std::int64_t>(bytes.size()), encoding, heap());
}

// A piece in another encoding is converted; a failed conversion leaves the
// content as it was. The terminator always follows.
TEST(EncodedString, AppendConvertsIntoOwnEncoding) {
  // Own encoding and content, the piece and its encoding, success and the content after.
  const std::tuple<Type::Encoding, std::string, std::string, Type::Encoding, bool, std::string> cases[] = {
      {Type::UTF8, "x", "\xED\xA0\xBD\xED\xB8\x80", Type::CESU8, true, "x\xF0\x9F\x98\x80"},
      {Type::UCS2BE, "\0x"s, "A\xE4", Type::Ascii, true, "\0x\0A\0\xE4"s},
      {Type::UTF8, "ok", "\0\x11\0\0"s, Type::UCS4BE, false, "ok"},
      {Type::UTF8, "ok", "\xF8\x88\x80\x80\x80", Type::UTF8, true, "ok\xF8\x88\x80\x80\x80"},  // same encoding: copied
      {Type::UTF16BE, "\0o"s, "k", Type::Ascii, false, "\0o"s},
  };
  for (const auto& [own, start, piece, pieceEncoding, ok, expected] : cases) {
    EncodedString s = make(start, own);
    EXPECT_EQ(s.append(make(piece, pieceEncoding)), ok) << expected;
    EXPECT_EQ(content(s), expected);
    EXPECT_EQ(std::memcmp(s.buffer() + s.length(), "\0\0\0\0", Type::terminatorWidth(own)), 0);
  }
  EncodedString s(Type::UTF8, heap());
  ASSERT_TRUE(s.append("h\xE4", Type::Ascii, NEBRIX_NTS));
  ASSERT_TRUE(s.append(s));
  EXPECT_EQ(content(s), "h\xC3\xA4h\xC3\xA4");
  EXPECT_EQ(s.strlen(), 4u);
}

// Measuring stops at a terminator and at the first invalid or incomplete
// character; values outside the list of encodings count bytes like Unknown.
// Negative lengths other than NEBRIX_NTS are refused.
TEST(EncodedString, SetKeepsWhatMeasuresValid) {
  // Text, length and encoding; the content kept and its characters.
  const std::tuple<std::string, std::int64_t, Type::Encoding, std::string, std::size_t> cases[] = {
      {"abcd\x80xyz", 8, Type::UTF8, "abcd", 4},
      {"ab\xC3\xA4", 3, Type::UTF8, "ab", 2},  // the character would cross the length
      {"h\xC3\xA4t", NEBRIX_NTS, Type::UTF8, "h\xC3\xA4t", 3},
      {"abc\0def"s, 7, Type::Ascii, "abc", 3},
      {"\0a\0b\0"s, 5, Type::UCS2BE, "\0a\0b"s, 2},
      {"abc", 3, static_cast<Type::Encoding>(42), "abc", 3},
  };
  for (const auto& [text, length, encoding, kept, characters] : cases) {
    EncodedString s(Type::Ascii, heap());
    s.set(text.data(), length, encoding);
    EXPECT_EQ(content(s), kept) << text;
    EXPECT_EQ(s.strlen(), characters) << text;
  }
  EncodedString s("abc", Type::Ascii, heap());
  EXPECT_THROW(s.set("xyz", -1, Type::Ascii), ltt::invalid_argument);
  EXPECT_EQ(content(s), "abc");
  s.set(nullptr, NEBRIX_NTS, Type::UCS4LE);
  EXPECT_TRUE(s.isEmpty());
}

// Requests are rounded up to a power of two from 32 up to 128 KiB; when that
// cannot be had, the exact size is tried, and the old buffer goes back. A
// buffer that holds new text exactly is used again.
// Without any buffer the string stays as it was.
TEST(EncodedString, ExpandRoundsUpAndRetriesWithTheExactSize) {
  EncodedString s(Type::Ascii, heap());
  s.expand(33);
  EXPECT_EQ(s.bufferSize(), 64u);
  TestAllocator alloc({1});  // allocation 0 holds "abc", 1 would be the rounded size
  {
    EncodedString t("abc", Type::Ascii, alloc);
    t.expand(100);
    EXPECT_EQ(t.bufferSize(), 100u);
    EXPECT_EQ(alloc.live, 1);
    EXPECT_EQ(content(t), "abc");
  }
  TestAllocator once({1});  // text that exactly fills the buffer (with its terminator) reuses it
  EncodedString v("\0a\0b"s.data(), 4, Type::UCS2BE, once);
  v.set("\0c\0d"s.data(), 4, Type::UCS2BE);
  EXPECT_EQ(content(v), "\0c\0d"s);
  TestAllocator none({}, true);
  EncodedString u(Type::Ascii, none);
  EXPECT_THROW(u.expand(100), std::bad_alloc);
  EXPECT_THROW(u.set("abc", NEBRIX_NTS, Type::Ascii), std::bad_alloc);
  EXPECT_TRUE(u.isEmpty());
}

// A buffer too small takes what fits, terminated, and the length the whole
// content needs is reported (NEBRIX_LENGTH_UNKNOWN where it cannot be told
// cheaply); bytes past what was written stay untouched.
TEST(EncodedString, ConvertReportsTruncationWithTheFullLength) {
  // Content and its encoding, target encoding and buffer size; result, bytes written and length reported.
  const std::tuple<std::string, Type::Encoding, Type::Encoding, std::size_t, NEBRIX_Retcode, std::string,
                   std::int64_t>
      cases[] = {
          {"TRACE", Type::UTF8, Type::UTF8, 6, NEBRIX_OK, "TRACE\0"s, 5},
          {"TRACE", Type::UTF8, Type::UTF8, 5, NEBRIX_DATA_TRUNC, "TRAC\0"s, 5},
          {"K\xE4se", Type::Ascii, Type::UTF8, 6, NEBRIX_OK, "K\xC3\xA4se\0"s, 5},
          {"K\xE4se", Type::Ascii, Type::UTF8, 3, NEBRIX_DATA_TRUNC, "K\0\0"s, 5},
          {"K\xE4se", Type::Ascii, Type::UCS4BE, 1, NEBRIX_DATA_TRUNC, "", NEBRIX_LENGTH_UNKNOWN},
          {"\0A\xD8\x3D\xDE\x00"s, Type::UCS2BE, Type::UTF8, 1, NEBRIX_DATA_TRUNC, "\0"s, 7},  // each unit on its own
          {"a\xF0\x9F\x98\x80", Type::UTF8, Type::UCS2BE, 1, NEBRIX_DATA_TRUNC, "", 6},
          {"\xF8\x88\x80\x80\x80", Type::UTF8, Type::Ascii, 8, NEBRIX_NOT_OK, "\0"s, 0},
      };
  for (const auto& [text, own, target, size, rc, written, expectedLength] : cases) {
    std::vector<char> out(size + 4, '\x55');
    std::int64_t length = 0;
    EXPECT_EQ(make(text, own).convert(out.data(), target, size, length, nullptr, true), rc) << text;
    EXPECT_EQ(length, expectedLength) << text;
    EXPECT_EQ(std::string(out.data(), written.size()), written) << text;
    EXPECT_EQ(std::string(out.data() + written.size(), 4), "\x55\x55\x55\x55") << text;
  }
}

}  // namespace
