// The character encodings a string can carry, their terminator widths, and
// their names for diagnostics.
#pragma once

#include <cstddef>
#include <iosfwd>

struct NEBRIX_StringEncodingType {
  // The values are shared with support::UC::char_encoding, so a value passes
  // between strings and converters unchanged. The underlying type is fixed
  // because values outside the list (treated like Unknown) must stay
  // representable.
  enum Encoding : int {
    Unknown = 0,
    Ascii = 1,  // 8-bit text; each byte is the code point of the same value
    UCS2 = 2,
    UCS2BE = 2,
    UCS2Swapped = 3,
    UCS2LE = 3,
    UTF8 = 4,
    CESU8 = 5,
    UTF16BE = 6,
    UTF16LE = 7,
    UCS4BE = 8,
    UCS4LE = 9,
  };

  // Bytes of the zero unit that ends a text: 2 for the 16-bit forms, 4 for
  // the 32-bit forms, 1 for everything else (including unknown values).
  static constexpr std::size_t terminatorWidth(Encoding encoding) noexcept {
    switch (encoding) {
      case UCS2BE:
      case UCS2LE:
      case UTF16BE:
      case UTF16LE:
        return 2;
      case UCS4BE:
      case UCS4LE:
        return 4;
      default:
        return 1;
    }
  }
};

// "ASCII", "UCS2 (BE)", "UCS2 (LE) (native)", "UTF8", "CESU8", "UCS4 (BE)",
// "UCS4 (LE) (native)"; any other value as "(unknown N)".
std::ostream& operator<<(std::ostream& os, NEBRIX_StringEncodingType::Encoding encoding);
