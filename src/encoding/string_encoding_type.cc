#include "encoding/string_encoding_type.h"

#include <ostream>

std::ostream& operator<<(std::ostream& os, NEBRIX_StringEncodingType::Encoding encoding) {
  using Type = NEBRIX_StringEncodingType;
  switch (encoding) {
    case Type::Ascii:
      return os << "ASCII";
    case Type::UCS2BE:
      return os << "UCS2 (BE)";
    case Type::UCS2LE:
      return os << "UCS2 (LE) (native)";
    case Type::UTF8:
      return os << "UTF8";
    case Type::CESU8:
      return os << "CESU8";
    case Type::UCS4BE:
      return os << "UCS4 (BE)";
    case Type::UCS4LE:
      return os << "UCS4 (LE) (native)";
    default:
      return os << "(unknown " << static_cast<int>(encoding) << ")";
  }
}
