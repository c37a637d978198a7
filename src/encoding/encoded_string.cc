// NEBRIX::EncodedString. Whenever m_buffer is set, the encoding's terminator
// follows the content in it; m_bufsize is therefore at least the content
// length plus the terminator width.
#include "encoding/encoded_string.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <ostream>
#include <string>

#include "base/error_code_table.h"
#include "base/exception.h"
#include "encoding/converters.h"
#include "encoding/encoding_exceptions.h"
#include "encoding/unicode_conversion.h"

namespace NEBRIX {
namespace {

using Type = NEBRIX_StringEncodingType;
namespace UC = support::UC;

// What a string without a buffer reads as; long enough for every terminator.
const char kEmptyText[4] = {0, 0, 0, 0};

// expand() rounds requests up to a power of two between these sizes.
constexpr std::size_t kSmallestBuffer = 32;
constexpr std::size_t kLargestRoundedBuffer = 131072;

// No source byte becomes more than four target bytes (8-bit text or a
// one-byte UTF-8 sequence as UCS-4).
constexpr std::size_t kMaxGrowth = 4;

// Offset that sorts an undecodable unit after every code point.
constexpr char32_t kUndecodable = 0x110000;

UC::char_encoding charEncoding(Type::Encoding e) { return static_cast<UC::char_encoding>(e); }

bool isUcs2(Type::Encoding e) { return e == Type::UCS2BE || e == Type::UCS2LE; }
bool isUcs4(Type::Encoding e) { return e == Type::UCS4BE || e == Type::UCS4LE; }

[[noreturn]] void throwBadArgument(int line) {
  ltt::tThrow(ltt::invalid_argument(__FILE__, line, ltt__ERR_LTT_BAD_ARGUMENT()));
}

// a + b for buffer sizes; a sum that does not fit cannot be allocated.
std::size_t addSizes(std::size_t a, std::size_t b) {
  if (b > SIZE_MAX - a) throw std::bad_alloc();
  return a + b;
}

// Characters of UTF-8 or CESU-8 text, by lead byte; a stray byte counts one.
template <class PerSequence>
void forEachSequence(const unsigned char* p, std::size_t length, PerSequence perSequence) {
  for (std::size_t pos = 0; pos < length;) {
    const std::size_t n = std::max<std::size_t>(UC::impl::sequenceLength(p[pos]), 1);
    perSequence(n);
    pos += n;
  }
}

// The content as code points; each undecodable unit becomes kUndecodable
// plus its value.
std::u32string codePoints(const EncodedString& s) {
  const UC::impl::EncodingDescription* d = UC::impl::describe(charEncoding(s.encoding()));
  if (d == nullptr) ltt::tThrow(UC::invalid_character_encoding(__FILE__, __LINE__));
  const auto* p = reinterpret_cast<const unsigned char*>(s.buffer());
  const std::size_t length = s.length();
  std::u32string result;
  for (std::size_t pos = 0; pos < length;) {
    char32_t c = 0;
    std::size_t n = 0;
    if (d->decode(p + pos, length - pos, c, n) != UC::impl::DecodeStatus::Ok) {
      n = std::min(d->unitSize, length - pos);
      c = 0;
      for (std::size_t i = 0; i < n; ++i) c = (c << 8) | p[pos + i];
      c += kUndecodable;
    }
    result += c;
    pos += n;
  }
  return result;
}

}  // namespace

EncodedString::EncodedString(ltt::allocator& allocator)
    : m_allocator(&allocator), m_encoding_type(Type::Ascii) {}

EncodedString::EncodedString(Encoding encoding, ltt::allocator& allocator)
    : m_allocator(&allocator), m_encoding_type(encoding) {}

EncodedString::EncodedString(const void* text, std::int64_t length, Encoding encoding,
                             ltt::allocator& allocator)
    : m_allocator(&allocator), m_encoding_type(encoding) {
  set(text, length, encoding);
}

EncodedString::EncodedString(const char* text, Encoding encoding, ltt::allocator& allocator)
    : m_allocator(&allocator), m_encoding_type(encoding) {
  set(text, NEBRIX_NTS, encoding);
}

EncodedString::EncodedString(const EncodedString& other, ltt::allocator& allocator)
    : m_allocator(&allocator), m_encoding_type(other.m_encoding_type) {
  if (other.m_buffer == nullptr) return;
  const std::size_t size = other.m_length_in_bytes + terminatorWidth();
  m_buffer = allocateBuffer(size);
  std::memcpy(m_buffer, other.m_buffer, size);
  m_bufsize = size;
  m_length_in_bytes = other.m_length_in_bytes;
  m_strlen = other.m_strlen;
  m_isEmpty = other.m_isEmpty;
}

EncodedString::~EncodedString() { releaseBuffer(); }

char* EncodedString::allocateBuffer(std::size_t size) {
  void* p = m_allocator->allocate(size);
  if (p == nullptr) throw std::bad_alloc();
  return static_cast<char*>(p);
}

void EncodedString::releaseBuffer() noexcept {
  if (m_buffer != nullptr) m_allocator->deallocate(m_buffer);
  m_buffer = nullptr;
  m_bufsize = 0;
}

const char* EncodedString::buffer() const noexcept {
  return m_buffer != nullptr ? m_buffer : kEmptyText;
}

void EncodedString::set(const void* text, std::int64_t length, Encoding encoding) {
  if (length < 0 && length != NEBRIX_NTS) throwBadArgument(__LINE__);
  const std::size_t limit = length == NEBRIX_NTS ? SIZE_MAX : static_cast<std::size_t>(length);
  std::size_t characters = 0;
  std::size_t bytes = 0;
  UC::stringInfo(charEncoding(encoding), text, limit, true, characters, bytes);
  if (bytes >= kMaxLength) throwBadArgument(__LINE__);

  const std::size_t width = Type::terminatorWidth(encoding);
  if (text == nullptr) {
    // The buffer is kept for reuse when it can hold the new terminator.
    if (m_bufsize < width) releaseBuffer();
    if (m_buffer != nullptr) std::memset(m_buffer, 0, width);
    m_encoding_type = encoding;
    m_length_in_bytes = 0;
    m_strlen = 0;
    m_isEmpty = true;
    return;
  }
  if (m_bufsize < bytes + width) {
    // The old buffer goes only after the copy: text may lie inside it.
    char* fresh = allocateBuffer(bytes + width);
    std::memcpy(fresh, text, bytes);
    releaseBuffer();
    m_buffer = fresh;
    m_bufsize = bytes + width;
  } else {
    std::memmove(m_buffer, text, bytes);
  }
  std::memset(m_buffer + bytes, 0, width);
  m_encoding_type = encoding;
  m_length_in_bytes = bytes;
  m_strlen = characters;
  m_isEmpty = false;
}

void EncodedString::expand(std::size_t size) {
  if (m_bufsize >= size) return;
  std::size_t chosen = size;
  if (size <= kLargestRoundedBuffer) {
    chosen = kSmallestBuffer;
    while (chosen < size) chosen *= 2;
  }
  void* fresh = m_allocator->allocate(chosen);
  if (fresh == nullptr && chosen != size) {
    chosen = size;
    fresh = m_allocator->allocate(chosen);
  }
  if (fresh == nullptr) throw std::bad_alloc();
  // chosen > m_bufsize >= content + terminator, or, without a buffer,
  // chosen >= 32 or > 131072, either way more than a terminator.
  std::memcpy(fresh, buffer(), m_length_in_bytes + terminatorWidth());
  releaseBuffer();
  m_buffer = static_cast<char*>(fresh);
  m_bufsize = chosen;
  m_isEmpty = false;
}

void EncodedString::shrink(std::size_t length) {
  if (m_length_in_bytes <= length) return;
  std::memset(m_buffer + length, 0, terminatorWidth());
  m_length_in_bytes = length;
  m_strlen = 0;
}

bool EncodedString::append(const EncodedString& other) {
  if (other.m_buffer == nullptr) return true;
  if (&other == this) {
    const EncodedString copy(*this, *m_allocator);
    return append(copy);
  }
  const std::size_t width = terminatorWidth();
  if (other.m_encoding_type == m_encoding_type) {
    expand(addSizes(addSizes(m_length_in_bytes, other.m_length_in_bytes), width));
    std::memcpy(m_buffer + m_length_in_bytes, other.m_buffer, other.m_length_in_bytes + width);
    m_length_in_bytes += other.m_length_in_bytes;
    m_strlen = m_strlen != 0 && other.m_strlen != 0 ? m_strlen + other.m_strlen : 0;
    m_isEmpty = false;
    return true;
  }

  if (other.m_length_in_bytes > (SIZE_MAX - width) / kMaxGrowth) throw std::bad_alloc();
  expand(addSizes(m_length_in_bytes, kMaxGrowth * other.m_length_in_bytes + width));
  std::size_t written = 0;
  const UC::ConversionResult result = UC::convertString(
      charEncoding(m_encoding_type), m_buffer + m_length_in_bytes, m_bufsize - m_length_in_bytes,
      &written, true, charEncoding(other.m_encoding_type), other.m_buffer,
      other.m_length_in_bytes, nullptr);
  if (result != UC::Success) {
    std::memset(m_buffer + m_length_in_bytes, 0, width);
    return false;
  }
  m_length_in_bytes += written - width;
  m_strlen = 0;
  m_isEmpty = false;
  return true;
}

bool EncodedString::append(const void* text, Encoding encoding, std::int64_t length) {
  const EncodedString piece(text, length, encoding, *m_allocator);
  return append(piece);
}

NEBRIX_Retcode EncodedString::copy(void* buffer, Encoding& encoding, std::size_t size,
                                   std::int64_t& length) const {
  const std::size_t width = terminatorWidth();
  if (buffer == nullptr) size = 0;
  length = static_cast<std::int64_t>(m_length_in_bytes);
  if (size < width) return NEBRIX_DATA_TRUNC;
  const std::size_t n = std::min(m_length_in_bytes, size - width);
  std::memmove(buffer, this->buffer(), n);
  std::memset(static_cast<char*>(buffer) + n, 0, width);
  encoding = m_encoding_type;
  return n == m_length_in_bytes ? NEBRIX_OK : NEBRIX_DATA_TRUNC;
}

NEBRIX_Retcode EncodedString::convert(void* buffer, Encoding encoding, std::size_t size,
                                      std::int64_t& length, const void* codePage,
                                      bool terminate) const {
  const std::size_t width = Type::terminatorWidth(encoding);
  if (buffer == nullptr) size = 0;
  if (terminate && size < width) {
    length = byteLengthInEncoding(encoding, codePage);
    return NEBRIX_DATA_TRUNC;
  }
  if (encoding == m_encoding_type) {
    Encoding own;
    return copy(buffer, own, size, length);
  }
  std::size_t written = 0;
  switch (UC::convertString(charEncoding(encoding), buffer, size, &written, terminate,
                            charEncoding(m_encoding_type), this->buffer(), m_length_in_bytes,
                            nullptr)) {
    case UC::Success:
      length = static_cast<std::int64_t>(terminate ? written - width : written);
      return NEBRIX_OK;
    case UC::TargetExhausted:
      length = byteLengthInEncoding(encoding, codePage);
      if (terminate) std::memset(static_cast<char*>(buffer) + size - width, 0, width);
      return NEBRIX_DATA_TRUNC;
    default:
      return NEBRIX_NOT_OK;
  }
}

std::int64_t EncodedString::byteLengthInEncoding(Encoding encoding, const void*) const {
  if (encoding == m_encoding_type) return static_cast<std::int64_t>(m_length_in_bytes);
  const auto* p = reinterpret_cast<const unsigned char*>(buffer());
  const std::size_t length = m_length_in_bytes;
  std::size_t needed = 0;
  switch (m_encoding_type) {
    case Type::Ascii:
      if (isUcs2(encoding)) return static_cast<std::int64_t>(2 * length);
      if (encoding != Type::UTF8) return NEBRIX_LENGTH_UNKNOWN;
      for (std::size_t i = 0; i < length; ++i) needed += p[i] < 0x80 ? 1 : 2;
      return static_cast<std::int64_t>(needed);
    case Type::UCS2BE:
    case Type::UCS2LE: {
      const std::size_t units = strlen();
      if (encoding == Type::Ascii) return static_cast<std::int64_t>(units);
      if (isUcs2(encoding)) return static_cast<std::int64_t>(length);
      if (isUcs4(encoding)) return static_cast<std::int64_t>(4 * units);
      // Each unit as UTF-8 on its own, so a surrogate pair counts six.
      const bool bigEndian = m_encoding_type == Type::UCS2BE;
      for (std::size_t i = 0; i + 1 < length; i += 2) {
        const unsigned unit = bigEndian ? (p[i] << 8) | p[i + 1] : (p[i + 1] << 8) | p[i];
        needed += unit < 0x80 ? 1 : unit < 0x800 ? 2 : 3;
      }
      return static_cast<std::int64_t>(needed);
    }
    case Type::UTF8:
      if (encoding == Type::Ascii) return static_cast<std::int64_t>(strlen());
      if (!isUcs2(encoding)) return NEBRIX_LENGTH_UNKNOWN;
      // Four-byte sequences become surrogate pairs.
      forEachSequence(p, length, [&needed](std::size_t n) { needed += n == 4 ? 4 : 2; });
      return static_cast<std::int64_t>(needed);
    default:
      return NEBRIX_LENGTH_UNKNOWN;
  }
}

std::size_t EncodedString::strlen() const {
  if (m_strlen != 0 || m_length_in_bytes == 0) return m_strlen;
  std::size_t count = 0;
  switch (m_encoding_type) {
    case Type::Unknown:
    case Type::Ascii:
      count = m_length_in_bytes;
      break;
    case Type::UCS2BE:
    case Type::UCS2LE:
    case Type::UTF16BE:
    case Type::UTF16LE:
      count = (m_length_in_bytes + 1) / 2;
      break;
    case Type::UTF8:
    case Type::CESU8:
      forEachSequence(reinterpret_cast<const unsigned char*>(m_buffer), m_length_in_bytes,
                      [&count](std::size_t) { ++count; });
      break;
    case Type::UCS4BE:
    case Type::UCS4LE:
      count = (m_length_in_bytes + 3) / 4;
      break;
    default:
      break;
  }
  m_strlen = count;
  return count;
}

int EncodedString::compare(const EncodedString& other) const {
  return codePoints(*this).compare(codePoints(other));
}

bool EncodedString::startsWith(const EncodedString& prefix) const {
  if (m_encoding_type < Type::Ascii || m_encoding_type > Type::CESU8)
    ltt::tThrow(UC::invalid_character_encoding(__FILE__, __LINE__));
  const std::u32string text = codePoints(*this);
  const std::u32string start = codePoints(prefix);
  return text.compare(0, start.size(), start) == 0;
}

bool EncodedString::endsWith(const EncodedString& suffix) const {
  const std::u32string text = codePoints(*this);
  const std::u32string end = codePoints(suffix);
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::ostream& operator<<(std::ostream& os, const EncodedString& s) {
  if (UC::impl::describe(charEncoding(s.encoding())) == nullptr)
    return os << "(" << s.encoding() << " text of " << s.length() << " bytes)";
  const UC::impl::EncodingDescription& utf8 = *UC::impl::describe(UC::CHAR_ENCODING_UTF8);
  unsigned char encoded[UC::impl::kMaxEncodedLength];
  for (char32_t c : codePoints(s)) {
    const std::size_t n = utf8.encode(c < kUndecodable ? c : 0xFFFD, encoded);
    os.write(reinterpret_cast<const char*>(encoded), static_cast<std::streamsize>(n));
  }
  return os;
}

}  // namespace NEBRIX
