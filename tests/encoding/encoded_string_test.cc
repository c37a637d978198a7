#include "encoding/encoded_string.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "base/exception.h"
#include "encoding/encoding_exceptions.h"

namespace {

using NEBRIX::EncodedString;
using Type = NEBRIX_StringEncodingType;
using namespace std::string_literals;

ltt::allocator& heap() { return ltt::default_allocator(); }

std::string content(const EncodedString& s) { return std::string(s.buffer(), s.length()); }

EncodedString make(const std::string& bytes, Type::Encoding encoding) {
  return EncodedString(bytes.data(), static_cast<std::int64_t>(bytes.size()), encoding, heap());
}

// Records the size of every request and refuses the sizes listed.
struct RecordingAllocator final : public ltt::allocator {
  void* allocate(std::size_t size) noexcept override {
    requests.push_back(size);
    return refused.count(size) != 0 ? nullptr : std::malloc(size);
  }
  void deallocate(void* p) noexcept override { std::free(p); }
  std::set<std::size_t> refused;
  std::vector<std::size_t> requests;
};

TEST(EncodedString, AppendConvertsIntoOwnEncoding) {
  struct Case {
    Type::Encoding own;
    std::string start, piece;
    Type::Encoding pieceEncoding;
    bool ok;
    std::string expected;
  } cases[] = {
      {Type::UTF8, "x", "\xED\xA0\xBD\xED\xB8\x80", Type::CESU8, true, "x\xF0\x9F\x98\x80"},
      {Type::UCS2BE, "\0x"s, "A\xE4", Type::Ascii, true, "\0x\0A\0\xE4"s},
      {Type::UCS4LE, "", "\xC3\xA4", Type::UTF8, true, "\xE4\0\0\0"s},
      // Failures leave the content as it was.
      {Type::UTF8, "ok", "\0\x11\0\0"s, Type::UCS4BE, false, "ok"},
      {Type::UTF8, "ok", "\xF8\x88\x80\x80\x80", Type::UTF8, true, "ok\xF8\x88\x80\x80\x80"},
      {Type::Ascii, "ok", "\xF8\x88\x80\x80\x80", Type::UTF8, false, "ok"},
      {Type::UTF16BE, "\0o"s, "k", Type::Ascii, false, "\0o"s},
      {Type::Unknown, "ok", "k", Type::Ascii, false, "ok"},
  };
  for (const Case& c : cases) {
    EncodedString s = make(c.start, c.own);
    const EncodedString piece = make(c.piece, c.pieceEncoding);
    EXPECT_EQ(s.append(piece), c.ok) << c.expected;
    EXPECT_EQ(content(s), c.expected);
    EXPECT_EQ(std::memcmp(s.buffer() + s.length(), "\0\0\0\0", Type::terminatorWidth(c.own)), 0);
  }
}

TEST(EncodedString, AppendItselfAndKeepKnownCounts) {
  EncodedString s(Type::UTF8, heap());
  EXPECT_TRUE(s.isEmpty());
  ASSERT_TRUE(s.append("h\xE4", Type::Ascii, NEBRIX_NTS));
  ASSERT_TRUE(s.append(s));
  EXPECT_EQ(content(s), "h\xC3\xA4h\xC3\xA4");
  EXPECT_EQ(s.strlen(), 4u);
  s.shrink(4);
  EXPECT_EQ(content(s), "h\xC3\xA4h");
  EXPECT_EQ(s.strlen(), 3u);
  EXPECT_TRUE(s.append(nullptr, Type::Ascii));
  EXPECT_EQ(content(s), "h\xC3\xA4h");
}

TEST(EncodedString, SetKeepsWhatMeasuresValid) {
  struct Case {
    std::string text;
    std::int64_t length;
    Type::Encoding encoding;
    std::string kept;
    std::size_t characters;
  } cases[] = {
      {"abcd\x80xyz", 8, Type::UTF8, "abcd", 4},  // continuation byte in lead position
      {"a\xC3(", 3, Type::UTF8, "a", 1},
      {"ab\xC3\xA4", 3, Type::UTF8, "ab", 2},  // the character would cross the length
      {"a\xFF", 2, Type::UTF8, "a", 1},
      {"h\xC3\xA4t", NEBRIX_NTS, Type::UTF8, "h\xC3\xA4t", 3},
      {"\xF8\x88\x80\x80\x80", 5, Type::CESU8, "\xF8\x88\x80\x80\x80", 1},
      {"abc\0def"s, 7, Type::Ascii, "abc", 3},
      {"\0a\0b\0"s, 5, Type::UCS2BE, "\0a\0b"s, 2},
      {"a\0\0\0b\0"s, 6, Type::UCS2LE, "a\0"s, 1},
      {"a\0\0\0b\0\0"s, 7, Type::UCS4LE, "a\0\0\0"s, 1},
      {"xyz", 0, Type::UTF8, "", 0},
  };
  for (const Case& c : cases) {
    EncodedString s(Type::Ascii, heap());
    s.set(c.text.data(), c.length, c.encoding);
    EXPECT_EQ(content(s), c.kept) << c.text;
    EXPECT_EQ(s.strlen(), c.characters) << c.text;
    EXPECT_EQ(s.encoding(), c.encoding);
    EXPECT_FALSE(s.isEmpty());
  }
  EncodedString s("abc", Type::Ascii, heap());
  s.set(nullptr, NEBRIX_NTS, Type::UCS4LE);
  EXPECT_TRUE(s.isEmpty());
  EXPECT_EQ(s.length(), 0u);
  EXPECT_EQ(std::memcmp(s.buffer(), "\0\0\0\0", 4), 0);
}

// 2^30 readable bytes of 'a': one 2 MiB block mapped 512 times in a row,
// left mapped until the program ends.
const char* gigabyteOfText() {
  constexpr std::size_t kSize = std::size_t{1} << 30, kChunk = std::size_t{2} << 20;
  const int fd = memfd_create("text", 0);
  void* area = mmap(nullptr, kSize, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (fd < 0 || ftruncate(fd, kChunk) != 0 || area == MAP_FAILED) return nullptr;
  char* text = static_cast<char*>(area);
  for (std::size_t at = 0; at < kSize; at += kChunk)
    if (mmap(text + at, kChunk, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd, 0) == MAP_FAILED)
      return nullptr;
  close(fd);
  std::memset(text, 'a', kChunk);
  return text;
}

TEST(EncodedString, SetRefusesBadLengths) {
  const char* big = gigabyteOfText();
  ASSERT_NE(big, nullptr);
  EncodedString s("keep", Type::Ascii, heap());
  const std::pair<const char*, std::int64_t> cases[] = {
      {"abc", -1}, {"abc", -4}, {big, std::int64_t{1} << 30}};
  for (const auto& [text, length] : cases) {
    try {
      s.set(text, length, Type::Ascii);
      ADD_FAILURE() << length;
    } catch (const ltt::invalid_argument& e) {
      EXPECT_EQ(e.error_no(), 1000010);
    }
    EXPECT_EQ(content(s), "keep");
  }
}

TEST(EncodedString, ExpandRoundsUpToPowersOfTwoUpTo128K) {
  const std::size_t cases[][2] = {{1, 32}, {32, 32}, {33, 64}, {65537, 131072}, {131072, 131072}, {131073, 131073}};
  for (const auto& c : cases) {
    EncodedString s(Type::UCS4LE, heap());
    s.expand(c[0]);
    EXPECT_EQ(s.bufferSize(), c[1]) << c[0];
    EXPECT_EQ(std::memcmp(s.buffer(), "\0\0\0\0", 4), 0);
  }
  EncodedString s("abc", Type::Ascii, heap());
  s.expand(2);  // already big enough
  EXPECT_EQ(s.bufferSize(), 4u);
}

TEST(EncodedString, ExpandRetriesWithTheExactSize) {
  RecordingAllocator alloc;
  alloc.refused = {128};
  EncodedString s("abc", Type::Ascii, alloc);
  s.expand(100);
  EXPECT_EQ(alloc.requests, (std::vector<std::size_t>{4, 128, 100}));
  EXPECT_EQ(s.bufferSize(), 100u);
  EXPECT_EQ(content(s), "abc");

  RecordingAllocator refusing;
  refusing.refused = {4, 128, 100};
  EncodedString t(Type::Ascii, refusing);
  EXPECT_THROW(t.expand(100), std::bad_alloc);
  EXPECT_THROW(t.set("abc", NEBRIX_NTS, Type::Ascii), std::bad_alloc);
  EXPECT_EQ(t.bufferSize(), 0u);
  EXPECT_TRUE(t.isEmpty());
}

TEST(EncodedString, ConvertReportsTruncationWithTheFullLength) {
  struct Case {
    std::string text;
    Type::Encoding own, target;
    std::size_t size;
    NEBRIX_Retcode rc;
    std::string written;
    std::int64_t length;
  } cases[] = {
      {"TRACE", Type::UTF8, Type::UTF8, 6, NEBRIX_OK, "TRACE\0"s, 5},
      {"TRACE", Type::UTF8, Type::UTF8, 5, NEBRIX_DATA_TRUNC, "TRAC\0"s, 5},
      {"TRACE", Type::UTF8, Type::UTF8, 0, NEBRIX_DATA_TRUNC, "", 5},
      {"K\xE4se", Type::Ascii, Type::UTF8, 6, NEBRIX_OK, "K\xC3\xA4se\0"s, 5},
      {"K\xE4se", Type::Ascii, Type::UTF8, 5, NEBRIX_DATA_TRUNC, "K\xC3\xA4s\0"s, 5},
      {"K\xE4se", Type::Ascii, Type::UTF8, 3, NEBRIX_DATA_TRUNC, "K\0\0"s, 5},
      {"\xC3\xA4", Type::UTF8, Type::UCS2BE, 4, NEBRIX_OK, "\0\xE4\0\0"s, 2},
      {"\xC3\xA4", Type::UTF8, Type::UCS2BE, 1, NEBRIX_DATA_TRUNC, "", 2},
      {"\xC3\xA4", Type::UTF8, Type::UCS4LE, 7, NEBRIX_DATA_TRUNC, "\0\0\0\0\0\0\0"s, -4},
      {"\xF8\x88\x80\x80\x80", Type::UTF8, Type::Ascii, 8, NEBRIX_NOT_OK, "\0"s, 0},
      {"abc", Type::Unknown, Type::UTF8, 8, NEBRIX_NOT_OK, "\0"s, 0},
  };
  for (const Case& c : cases) {
    const EncodedString s = make(c.text, c.own);
    std::vector<char> out(c.size + 4, '\x55');
    std::int64_t length = 0;
    EXPECT_EQ(s.convert(out.data(), c.target, c.size, length, nullptr, true), c.rc) << c.text;
    if (c.rc != NEBRIX_NOT_OK) {
      EXPECT_EQ(length, c.length) << c.text;
    }
    EXPECT_EQ(std::string(out.data(), c.written.size()), c.written) << c.text;
    if (c.written.empty()) {
      EXPECT_EQ(out[0], '\x55') << c.text;
    }
    EXPECT_EQ(std::string(out.data() + c.size, 4), "\x55\x55\x55\x55") << c.text;
  }
}

TEST(EncodedString, ByteLengthInEncoding) {
  struct {
    std::string text;
    Type::Encoding own, target;
    std::int64_t expected;
  } cases[] = {
      {"K\xE4se", Type::Ascii, Type::UTF8, 5},      {"K\xE4se", Type::Ascii, Type::UCS2LE, 8},
      {"K\xE4se", Type::Ascii, Type::UCS4BE, -4},   {"\0A\xD8\x3D\xDE\x00"s, Type::UCS2BE, Type::UTF8, 7},
      {"\0A\xD8\x3D\xDE\x00"s, Type::UCS2BE, Type::UCS4LE, 12},
      {"a\xF0\x9F\x98\x80", Type::UTF8, Type::UCS2BE, 6}, {"a\xF0\x9F\x98\x80", Type::UTF8, Type::CESU8, -4},
  };
  for (const auto& c : cases)
    EXPECT_EQ(make(c.text, c.own).byteLengthInEncoding(c.target), c.expected) << c.text;
}

TEST(EncodedString, StreamOutput) {
  std::ostringstream os;
  for (int value : {0, 1, 2, 3, 4, 5, 6, 8, 9, 42}) os << static_cast<Type::Encoding>(value) << ",";
  EXPECT_EQ(os.str(), "(unknown 0),ASCII,UCS2 (BE),UCS2 (LE) (native),UTF8,CESU8,(unknown 6),UCS4 (BE),"
                      "UCS4 (LE) (native),(unknown 42),");
  os.str("");
  os << make("\0A\0\xE4\xD8\x00"s, Type::UCS2BE) << "|" << make("abc", Type::Unknown);
  EXPECT_EQ(os.str(), "A\xC3\xA4\xEF\xBF\xBD|((unknown 0) text of 3 bytes)");
}

TEST(EncodedString, CompareByCodePoints) {
  struct Case {
    std::string text;
    Type::Encoding encoding;
    std::string other;
    Type::Encoding otherEncoding;
    bool startsWith, endsWith;
    int order;
  } cases[] = {
      {"K\xC3\xA4se", Type::UTF8, "K\xE4", Type::Ascii, true, false, 1},
      {"K\xE4se", Type::Ascii, "\0s\0e"s, Type::UCS2BE, false, true, -1},
      {"\xED\xA0\xBD\xED\xB8\x80", Type::CESU8, "\xF0\x9F\x98\x80", Type::UTF8, true, true, 0},
  };
  for (const Case& c : cases) {
    const EncodedString s = make(c.text, c.encoding), other = make(c.other, c.otherEncoding);
    EXPECT_EQ(s.startsWith(other), c.startsWith) << c.text;
    EXPECT_EQ(s.endsWith(other), c.endsWith) << c.text;
    const int order = s.compare(other);
    EXPECT_EQ((order > 0) - (order < 0), c.order) << c.text;
  }
  const EncodedString ascii = make("a", Type::Ascii);
  for (int value : {0, 6, 8, 9, 42})
    EXPECT_THROW(make("a", Type::Encoding(value)).startsWith(ascii), support::UC::invalid_character_encoding);
  EXPECT_THROW(make("a", Type::UTF16LE).endsWith(ascii), support::UC::invalid_character_encoding);
  EXPECT_THROW(ascii.compare(make("a", Type::Unknown)), support::UC::invalid_character_encoding);
}

}  // namespace
