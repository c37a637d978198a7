// Exceptions of the encoding layer. Each carries a registered error code;
// the encoding layer itself raises invalid_character_encoding with
// ERR_SUPPORT_INVALID_CHARACTER_ENCODING.
#pragma once

#include <iosfwd>

#include "base/exception.h"

namespace support {
namespace UC {

// A text's encoding is not one the operation handles.
class invalid_character_encoding : public ltt::runtime_error {
 public:
  using ltt::runtime_error::runtime_error;
  // With ERR_SUPPORT_INVALID_CHARACTER_ENCODING.
  invalid_character_encoding(const char* file, int line);
  void do_throw() const override;
  void store_type(std::ostream& os) const override;
};

// The source of a conversion is not valid text of its encoding.
class invalid_source_encoding : public ltt::runtime_error {
 public:
  using ltt::runtime_error::runtime_error;
  void do_throw() const override;
  void store_type(std::ostream& os) const override;
};

// The target encoding of a conversion cannot be produced.
class invalid_target_encoding : public ltt::runtime_error {
 public:
  using ltt::runtime_error::runtime_error;
  void do_throw() const override;
  void store_type(std::ostream& os) const override;
};

// A conversion could not be completed.
class conversion_failed : public ltt::runtime_error {
 public:
  using ltt::runtime_error::runtime_error;
  void do_throw() const override;
  void store_type(std::ostream& os) const override;
};

}  // namespace UC
}  // namespace support
