#include "encoding/encoding_exceptions.h"

#include <ostream>

#include "base/error_code_table.h"

namespace support {
namespace UC {

invalid_character_encoding::invalid_character_encoding(const char* file, int line)
    : ltt::runtime_error(file, line, support__ERR_SUPPORT_INVALID_CHARACTER_ENCODING()) {}

#define NEBRIX_ENCODING_EXCEPTION_KIND(kind)                                      \
  void kind::do_throw() const { throw *this; }                                    \
  void kind::store_type(std::ostream& os) const { os << "support::UC::" #kind; }

NEBRIX_ENCODING_EXCEPTION_KIND(invalid_character_encoding)
NEBRIX_ENCODING_EXCEPTION_KIND(invalid_source_encoding)
NEBRIX_ENCODING_EXCEPTION_KIND(invalid_target_encoding)
NEBRIX_ENCODING_EXCEPTION_KIND(conversion_failed)

#undef NEBRIX_ENCODING_EXCEPTION_KIND

}  // namespace UC
}  // namespace support
