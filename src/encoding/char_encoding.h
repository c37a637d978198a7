// The character encodings that texts are converted between.
#pragma once

namespace support {
namespace UC {

// Numerically identical to NEBRIX_StringEncodingType::Encoding. Values
// without a converter (0, the UTF-16 forms, anything above 9) are accepted
// everywhere and make a conversion fail. The native aliases are those of a
// little-endian machine.
enum char_encoding : int {
  CHAR_ENCODING_ASCII = 1,
  CHAR_ENCODING_UCS2_BE = 2,
  CHAR_ENCODING_UCS2_LE = 3,
  CHAR_ENCODING_UCS2_NATIVE = 3,
  CHAR_ENCODING_UTF8 = 4,
  CHAR_ENCODING_CESU8 = 5,
  CHAR_ENCODING_UTF16_BE = 6,
  CHAR_ENCODING_UTF16_LE = 7,
  CHAR_ENCODING_UTF16_NATIVE = 7,
  CHAR_ENCODING_UCS4_BE = 8,
  CHAR_ENCODING_UCS4_LE = 9,
  CHAR_ENCODING_UCS4_NATIVE = 9,
};

}  // namespace UC
}  // namespace support
