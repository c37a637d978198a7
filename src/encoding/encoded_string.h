// NEBRIX::EncodedString: a growable byte buffer that carries its character
// encoding, keeps itself terminated, and converts on append and on copy-out.
//
// Building a UTF-8 text from 8-bit pieces and copying it out:
//   NEBRIX::EncodedString key(NEBRIX_StringEncodingType::UTF8, ltt::default_allocator());
//   key.append("ORQ/", NEBRIX_StringEncodingType::Ascii, NEBRIX_NTS);
//   ... key.buffer(), key.length() ...
//   value.convert(out, NEBRIX_StringEncodingType::UTF8, sizeof out, length, nullptr, true);
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>

#include "base/exception_allocator.h"
#include "base/retcode.h"
#include "encoding/string_encoding_type.h"

// Length argument: the text ends at its first zero unit.
constexpr std::int64_t NEBRIX_NTS = -3;
// Length result: the length cannot be told.
constexpr std::int64_t NEBRIX_LENGTH_UNKNOWN = -4;

namespace NEBRIX {

class EncodedString {
 public:
  using Encoding = NEBRIX_StringEncodingType::Encoding;

  // Texts of this many bytes or more are refused.
  static constexpr std::size_t kMaxLength = std::size_t{1} << 30;

  explicit EncodedString(ltt::allocator& allocator);  // Ascii
  EncodedString(Encoding encoding, ltt::allocator& allocator);
  // Both call set().
  EncodedString(const void* text, std::int64_t length, Encoding encoding,
                ltt::allocator& allocator);
  EncodedString(const char* text, Encoding encoding, ltt::allocator& allocator);
  // An exact copy of other's content, in a buffer from allocator.
  EncodedString(const EncodedString& other, ltt::allocator& allocator);
  EncodedString(const EncodedString&) = delete;
  EncodedString& operator=(const EncodedString&) = delete;
  ~EncodedString();

  // Replaces content and encoding with text, measured in encoding up to
  // length bytes (NEBRIX_NTS: up to its terminator). Measuring stops at the
  // first terminator and at the first invalid or incomplete character, so
  // such trailing input is dropped. A null text empties the string. Throws
  // ltt::invalid_argument for texts of kMaxLength bytes or more and for
  // negative lengths other than NEBRIX_NTS; std::bad_alloc when the buffer
  // cannot be allocated (the string is then unchanged).
  void set(const void* text, std::int64_t length, Encoding encoding);

  // Appends other, converted into this string's encoding when the encodings
  // differ. Returns false, leaving the content unchanged, when the
  // conversion fails. Appending a string without a buffer changes nothing.
  bool append(const EncodedString& other);
  bool append(const void* text, Encoding encoding, std::int64_t length = NEBRIX_NTS);

  // Copies the content out in encoding into buffer of size bytes, with the
  // encoding's terminator when terminate is set. NEBRIX_OK: length is the
  // bytes written without terminator. NEBRIX_DATA_TRUNC: the buffer was too
  // small; what fitted was written, terminated, and length is the bytes
  // needed (byteLengthInEncoding, which may be NEBRIX_LENGTH_UNKNOWN).
  // NEBRIX_NOT_OK: the content cannot be converted. codePage is ignored.
  NEBRIX_Retcode convert(void* buffer, Encoding encoding, std::size_t size, std::int64_t& length,
                         const void* codePage, bool terminate) const;
  // Copies the content out in its own encoding, always terminated; cuts by
  // bytes when the buffer is too small and then reports the full length.
  NEBRIX_Retcode copy(void* buffer, Encoding& encoding, std::size_t size,
                      std::int64_t& length) const;

  // Bytes the content needs in encoding, without terminator, or
  // NEBRIX_LENGTH_UNKNOWN. codePage is ignored.
  std::int64_t byteLengthInEncoding(Encoding encoding, const void* codePage = nullptr) const;
  // Characters of the content (units for the 16- and 32-bit forms).
  std::size_t strlen() const;

  // Makes room for at least size bytes of content and terminator.
  void expand(std::size_t size);
  // Cuts the content to length bytes when it is longer.
  void shrink(std::size_t length);

  // By code points; an invalid sequence orders after every valid one.
  // Throw support::UC::invalid_character_encoding for an encoding without a
  // converter (startsWith also for the 32-bit forms of this string).
  int compare(const EncodedString& other) const;
  bool startsWith(const EncodedString& prefix) const;
  bool endsWith(const EncodedString& suffix) const;

  // The content, followed by the terminator; never null.
  const char* buffer() const noexcept;
  std::size_t length() const noexcept { return m_length_in_bytes; }
  Encoding encoding() const noexcept { return m_encoding_type; }
  std::size_t bufferSize() const noexcept { return m_bufsize; }
  bool isEmpty() const noexcept { return m_isEmpty; }

 private:
  std::size_t terminatorWidth() const noexcept {
    return NEBRIX_StringEncodingType::terminatorWidth(m_encoding_type);
  }
  char* allocateBuffer(std::size_t size);
  void releaseBuffer() noexcept;

  ltt::allocator* m_allocator;
  char* m_buffer = nullptr;  // owned; when null the content is a static empty text
  std::size_t m_length_in_bytes = 0;
  std::size_t m_bufsize = 0;
  Encoding m_encoding_type;
  mutable std::size_t m_strlen = 0;  // 0: not known
  bool m_isEmpty = true;
};

// The content as UTF-8; undecodable sequences as U+FFFD. A string in an
// encoding without a converter is shown by its encoding and length.
std::ostream& operator<<(std::ostream& os, const EncodedString& s);

}  // namespace NEBRIX
