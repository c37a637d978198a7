// Conversion of texts between character encodings, measuring of texts, and
// terminating them. Lengths and counts are in bytes unless said otherwise.
#pragma once

#include <cstddef>

#include "encoding/char_encoding.h"

namespace support {
namespace UC {

enum ConversionResult {
  Success = 0,
  SourceExhausted = 1,  // the source ends inside a character; the part before it was converted
  SourceCorrupted = 2,  // invalid source, unsupported encoding, missing argument,
                        // or no room even for the terminator
  TargetExhausted = 3,  // the target is full
};

// Converts sourceLength bytes of source into target, which holds targetSize
// bytes. Only whole characters are written. With terminate, the target's
// terminator follows what was written, and written includes it; a target of
// exactly the terminator's size receives only the terminator. written and
// read may be null. The source and the target must not overlap.
ConversionResult convertString(char_encoding targetEncoding, void* target, std::size_t targetSize,
                               std::size_t* written, bool terminate, char_encoding sourceEncoding,
                               const void* source, std::size_t sourceLength, std::size_t* read);

// Measures text up to limit (bytes when limitInBytes, else characters) or
// its terminator, whichever comes first. Measuring also stops at the first
// invalid sequence and before a character that would cross a byte limit;
// characters and bytes describe the text up to that point. The flags, each
// optional, tell why it stopped: at a terminator, at an invalid sequence, or
// at a character cut by the limit. A null text measures as empty.
//
// UTF-8 and CESU-8 are measured by lead byte: 0x00-0x7F one byte,
// 0x80-0xBF invalid, 0xC0-0xDF two, 0xE0-0xEF three, 0xF0-0xF7 four,
// 0xF8-0xFB five, 0xFC-0xFF six, every further byte of the form 10xxxxxx.
// The 16- and 32-bit forms count units; everything else counts bytes.
void stringInfo(char_encoding encoding, const void* text, std::size_t limit, bool limitInBytes,
                std::size_t& characters, std::size_t& bytes, bool* terminated = nullptr,
                bool* corrupted = nullptr, bool* incomplete = nullptr);

// True when the `length` bytes of `text` are whole characters of `encoding`
// that its strict decoder accepts (for UTF-8: no overlong forms, no
// sequences of five or six bytes, nothing above U+10FFFF). False for an
// encoding without a converter.
bool isValidText(char_encoding encoding, const void* text, std::size_t length);

// Writes the encoding's terminator (zero bytes of its terminator width) at
// at and returns the width.
std::size_t terminateString(char_encoding encoding, void* at);

// Bytes of the terminator of encoding.
std::size_t terminatorWidth(char_encoding encoding);

}  // namespace UC
}  // namespace support
