// Named message arguments that fill the $name$ placeholders of an error
// code's message template: texts, integers and system return codes.
//
// Names are not copied: pass string literals (or other text that outlives the
// exception). Values are copied into the exception when attached.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <type_traits>

namespace ltt {

// A text argument. A null value attaches nothing.
class msgarg_text {
 public:
  msgarg_text(const char* name, const char* value) noexcept : m_name(name), m_value(value) {}
  const char* name() const noexcept { return m_name; }
  const char* value() const noexcept { return m_value; }

 private:
  const char* m_name;
  const char* m_value;
};

// A replacement: wins over an ordinary argument of the same name wherever
// that name is expanded.
class msgrpl_text : public msgarg_text {
 public:
  using msgarg_text::msgarg_text;
};

// An integer argument, written in decimal, signed or unsigned as its type is.
class message_argument {
 public:
  template <typename Int, typename = std::enable_if_t<std::is_integral_v<Int> &&
                                                      !std::is_same_v<Int, bool>>>
  message_argument(const char* name, Int value) noexcept : m_name(name) {
    if constexpr (std::is_signed_v<Int>) {
      format_signed(static_cast<long long>(value));
    } else {
      format_unsigned(static_cast<unsigned long long>(value));
    }
  }

  const char* name() const noexcept { return m_name; }
  const char* value() const noexcept { return m_text; }

 private:
  void format_signed(long long value) noexcept;
  void format_unsigned(unsigned long long value) noexcept;

  const char* m_name;
  char m_text[24];  // room for any 64-bit value with sign and NUL
};

// A system error number. Attached to an exception it becomes two arguments:
// "sysrc" with the number and "sysmsg" with the system's text for it.
class msgarg_sysrc {
 public:
  explicit msgarg_sysrc(int rc) noexcept : m_rc(rc) {}
  int rc() const noexcept { return m_rc; }

 private:
  int m_rc;
};

// Writes "rc (text)", for messages printed outside an exception.
std::ostream& operator<<(std::ostream& os, const msgarg_sysrc& arg);

}  // namespace ltt
