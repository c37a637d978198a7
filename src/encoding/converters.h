// The converters beneath support::UC::convertString: one description per
// encoding that has a converter, and the conversion of a source into a
// target of bounded size for every pair of them.
//
// Rules shared by every pair:
// - Code points run from 0 to 0x10FFFF. Decoding rejects overlong UTF-8 and
//   CESU-8 forms, sequences of five or six bytes, and values above 0x10FFFF.
// - CESU-8 and UCS-2 carry code points above 0xFFFF as a high surrogate
//   (0xD800-0xDBFF) followed by a low one (0xDC00-0xDFFF). A high surrogate
//   followed by anything else is invalid; one cut off by the end of the
//   source leaves the source exhausted; a low surrogate on its own passes
//   through as that value. UTF-8 and UCS-4 pass surrogate values through.
// - 8-bit text takes each byte as the code point of the same value; code
//   points above 0xFF become "?" in it.
// - Conversion stops before the first character that does not fit whole, so
//   a full target never holds part of a character.
// - Between equal encodings the bytes are copied character by character
//   without further checks; between the two UCS-2 byte orders each unit's
//   bytes are swapped.
#pragma once

#include <cstddef>
#include <cstdint>

#include "encoding/char_encoding.h"

enum t_sp78ConversionResult {
  sp78_Ok = 0,
  sp78_SourceExhausted = 1,
  sp78_SourceCorrupted = 2,
  sp78_TargetExhausted = 3,
  sp78_TargetNotTerminated = 4,
  sp78_BadSourceEncoding = 5,
  sp78_BadTargetEncoding = 6,
  sp78_NullArgument = 7,
};

namespace support {
namespace UC {
namespace impl {

enum class DecodeStatus { Ok, Truncated, Invalid };

// Reads one character from the available bytes at p; on Ok, codePoint and
// length (bytes consumed) are set. Never reads beyond available bytes.
using DecodeFunction = DecodeStatus (*)(const unsigned char* p, std::size_t available,
                                        char32_t& codePoint, std::size_t& length);
// Writes codePoint into out and returns the bytes written (at most
// kMaxEncodedLength).
using EncodeFunction = std::size_t (*)(char32_t codePoint, unsigned char* out);

constexpr std::size_t kMaxEncodedLength = 6;

struct EncodingDescription {
  char_encoding encoding;
  std::size_t unitSize;  // 1, 2 or 4
  DecodeFunction decode;
  EncodeFunction encode;
};

// The description of an encoding, or null when it has no converter.
const EncodingDescription* describe(char_encoding encoding) noexcept;

// Bytes of the UTF-8 or CESU-8 sequence that begins with lead, by the lead
// byte alone (0 for a byte that cannot begin one).
std::size_t sequenceLength(unsigned char lead) noexcept;

// Converts source into target for the pair of encodings, reporting the
// bytes consumed and produced in read and written.
t_sp78ConversionResult convert(char_encoding targetEncoding, void* target,
                               std::size_t targetSize, std::size_t& written,
                               char_encoding sourceEncoding, const void* source,
                               std::size_t sourceLength, std::size_t& read) noexcept;

}  // namespace impl
}  // namespace UC
}  // namespace support
