// Formatting of integer and system return code arguments.
#include "base/message_argument.h"

#include <cstdio>
#include <ostream>

#include "base/system_error.h"

namespace ltt {

void message_argument::format_signed(long long value) noexcept {
  std::snprintf(m_text, sizeof m_text, "%lld", value);
}

void message_argument::format_unsigned(unsigned long long value) noexcept {
  std::snprintf(m_text, sizeof m_text, "%llu", value);
}

std::ostream& operator<<(std::ostream& os, const msgarg_sysrc& arg) {
  char text[256];
  Diagnose::getSystemErrorMessage(arg.rc(), text, sizeof text);
  return os << arg.rc() << " (" << text << ')';
}

}  // namespace ltt
