// Expansion of a node's message template with its arguments, into a stream
// or into a fixed buffer. Both share one scan and differ only in their sink:
// how a piece is written, and how a left-over argument is appended.
#include <cstring>
#include <ostream>

#include "base/exception.h"

namespace ltt {
namespace {

bool is_trailing_space(char c) noexcept { return c == ' ' || c == '\n' || c == '\r'; }

bool has_line_feed(const char* text, std::size_t length) noexcept {
  return std::memchr(text, '\n', length) != nullptr;
}

// Writes whole pieces to a stream. Left-over values are trimmed at the end,
// and a value spanning lines is set on lines of its own so that it stays
// readable; the line-end flag remembers that the next left-over starts a line.
class stream_sink {
 public:
  explicit stream_sink(std::ostream& os) noexcept : m_os(os) {}

  bool put(const char* text, std::size_t length) {
    if (!m_os.good()) return false;
    m_os.write(text, static_cast<std::streamsize>(length));
    return true;
  }

  bool put_leftover(const msg_parameter& arg) {
    if (!m_os.good()) return false;
    const char* value = arg.value();
    std::size_t length = arg.value_length();
    while (length > 0 && is_trailing_space(value[length - 1])) --length;
    const bool multi_line = has_line_feed(value, length);

    if (arg.name_length() == 0) {
      if (multi_line) {
        m_os.put('\n');
        put(value, length);
        m_os.put('\n');
      } else {
        m_os << ". ";
        put(value, length);
      }
      m_line_end = multi_line;
      return true;
    }
    if (multi_line) {
      m_os << "\n$";
      put(arg.name(), arg.name_length());
      m_os << "$=\n";
      put(value, length);
      m_os.put('\n');
      m_line_end = true;
      return true;
    }
    m_os << (m_line_end ? "$" : "; $");
    put(arg.name(), arg.name_length());
    m_os << "$=";
    put(value, length);
    m_line_end = false;
    return true;
  }

 private:
  std::ostream& m_os;
  bool m_line_end = false;
};

// Writes whole pieces into a caller's buffer. One byte is always kept for the
// terminator, so a piece is never cut by it. Once a piece is refused, every
// later one is refused too: the text may end early but never has a hole.
class buffer_sink {
 public:
  // size must be at least 1.
  buffer_sink(char* buffer, std::size_t size) noexcept
      : m_buffer(buffer), m_capacity(size - 1) {}

  bool put(const char* text, std::size_t length) noexcept {
    if (m_refused || length > m_capacity - m_written) {
      m_refused = true;
      return false;
    }
    std::memcpy(m_buffer + m_written, text, length);
    m_written += length;
    return true;
  }

  // "; $name$=value", or ". value" for a nameless argument, as one piece.
  bool put_leftover(const msg_parameter& arg) noexcept {
    const std::size_t name_length = arg.name_length();
    const std::size_t length = name_length == 0 ? 2 + arg.value_length()
                                                : 3 + name_length + 2 + arg.value_length();
    if (m_refused || length > m_capacity - m_written) {
      m_refused = true;
      return false;
    }
    if (name_length == 0) {
      put(". ", 2);
    } else {
      put("; $", 3);
      put(arg.name(), name_length);
      put("$=", 2);
    }
    put(arg.value(), arg.value_length());
    return true;
  }

  // Only called for a buffer of at least one byte.
  std::size_t finish() noexcept {
    m_buffer[m_written] = '\0';
    return m_written;
  }

 private:
  char* m_buffer;
  std::size_t m_capacity;
  std::size_t m_written = 0;
  bool m_refused = false;
};

}  // namespace

// Arguments that have filled a placeholder are used up: a second placeholder
// of the same name only finds a second argument of that name. A replacement
// wins over an ordinary argument of its name, and using the pair uses both.
const msg_parameter* exception_node::take_argument(const char* name,
                                                   std::size_t length) const noexcept {
  auto matches = [&](const msg_parameter* arg) {
    return !arg->m_used && arg->m_name_length == length &&
           std::memcmp(arg->m_name, name, length) == 0;
  };
  for (const msg_parameter* arg = m_message.m_first; arg != nullptr; arg = arg->m_next) {
    if (!matches(arg)) continue;
    arg->m_used = true;
    if (arg->m_kind == msg_parameter::replacement) return arg;
    for (const msg_parameter* later = arg->m_next; later != nullptr; later = later->m_next) {
      if (later->m_kind == msg_parameter::replacement && matches(later)) {
        later->m_used = true;
        return later;
      }
    }
    return arg;
  }
  return nullptr;
}

// One pass over the template. A backslash makes a following "$" literal (and
// is itself dropped); "$name$" takes the first unused argument of that name,
// or stays as written when there is none. An unterminated or empty
// placeholder ends the text there. Arguments no placeholder used are then
// appended in the order they were attached.
template <class Sink>
void exception_node::expand_into(Sink& sink) const {
  for (const msg_parameter* arg = m_message.m_first; arg != nullptr; arg = arg->m_next)
    arg->m_used = false;

  const char* pos = m_message.m_template;
  const char* const end = pos + m_message.m_template_length;
  bool escaped = false;
  while (pos < end) {
    const char c = *pos;
    if (c == '\\' && !escaped) {
      escaped = true;
      ++pos;
      continue;
    }
    if (c == '$' && !escaped) {
      const char* name = pos + 1;
      const char* close = static_cast<const char*>(std::memchr(name, '$', end - name));
      if (close == nullptr || close == name) break;
      const msg_parameter* arg = take_argument(name, close - name);
      const bool accepted = arg != nullptr ? sink.put(arg->m_value, arg->m_value_length)
                                           : sink.put(pos, close + 1 - pos);
      if (!accepted) break;
      pos = close + 1;
      continue;
    }
    if (!sink.put(pos, 1)) break;
    escaped = false;
    ++pos;
  }

  for (const msg_parameter* arg = m_message.m_first; arg != nullptr; arg = arg->m_next) {
    if (!arg->m_used && !sink.put_leftover(*arg)) break;
  }
}

void exception_node::expand(std::ostream& os) const {
  stream_sink sink(os);
  expand_into(sink);
}

std::size_t exception_node::expand(char* buffer, std::size_t size) const noexcept {
  if (buffer == nullptr || size == 0) return 0;
  buffer_sink sink(buffer, size);
  expand_into(sink);
  return sink.finish();
}

}  // namespace ltt
