// ltt::exception, the root of the exception hierarchy of the object-oriented
// layers, with its message nodes and named message arguments.
//
// Raising:
//   ltt::tThrow(ltt::exception(__FILE__, __LINE__, NEBRIX__ERR_NEBRIX_TRACESHM_CANNOT_OPEN_FILE())
//               << ltt::msgarg_text("file", path) << ltt::msgarg_sysrc(rc));
// Catching:
//   catch (const ltt::exception& ex) { Text::err << ltt::expandedText(ex); }
//
// Copies share one reference-counted data block, so throwing and catching by
// value is cheap. Arguments are attached in the order in which left-over ones
// should be appended to the text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <iterator>
#include <string>

#include "base/error_code.h"
#include "base/exception_allocator.h"
#include "base/message_argument.h"

namespace ltt {

class exception;
class exception_node;

// Registers the exception on the current thread (a no-op here) and throws a
// copy of its most-derived kind.
[[noreturn]] void tThrow(const exception& ex);

namespace impl {
struct exception_data;
}

// One named argument of a message. The value is copied and NUL-terminated;
// the name is the caller's text.
class msg_parameter {
 public:
  enum kind_t : std::uint8_t { argument = 0, replacement = 1 };

  const msg_parameter* next() const noexcept { return m_next; }
  const char* name() const noexcept { return m_name; }
  std::size_t name_length() const noexcept { return m_name_length; }
  const char* value() const noexcept { return m_value; }
  std::uint32_t value_length() const noexcept { return m_value_length; }
  kind_t kind() const noexcept { return m_kind; }

 private:
  friend class exception;
  friend class exception_node;

  msg_parameter(const char* name, std::size_t name_length, const char* value,
                std::uint32_t value_length, kind_t kind) noexcept
      : m_name(name), m_name_length(name_length), m_value(value),
        m_value_length(value_length), m_kind(kind) {}

  msg_parameter* m_next = nullptr;
  const char* m_name;
  std::size_t m_name_length;
  const char* m_value;  // points into the same allocation, after the record
  std::uint32_t m_value_length;
  kind_t m_kind;
  // Set while one expansion runs: the argument has filled a placeholder.
  mutable bool m_used = false;
};

// The message of a node: its template and its arguments in attach order.
class message_node {
 public:
  const msg_parameter* first_argument() const noexcept { return m_first; }
  const char* message_template() const noexcept { return m_template; }
  std::size_t template_length() const noexcept { return m_template_length; }

 private:
  friend class exception;
  friend class exception_node;

  message_node(const char* text, std::size_t length) noexcept
      : m_template_length(length), m_template(text) {}

  msg_parameter* m_first = nullptr;
  msg_parameter* m_last = nullptr;
  std::size_t m_template_length;
  const char* m_template;  // a copy, in the same allocation as its node
};

// One message of an exception.
class exception_node {
 public:
  enum status_t : std::uint8_t {
    status_good = 0,
    status_argument_dropped = 1,  // no memory for an argument; later ones ignored
    status_node_dropped = 3,      // no memory for a further node; later nodes ignored
  };

  const exception_node* next() const noexcept { return m_next; }
  const char* file() const noexcept { return m_file; }
  std::int32_t line() const noexcept { return m_line; }
  std::int32_t error_no() const noexcept { return m_error_no; }
  status_t status() const noexcept { return m_status; }
  const message_node& message() const noexcept { return m_message; }

  // The template with its placeholders filled in and left-over arguments
  // appended. An exception must not be expanded on two threads at once.
  void expand(std::ostream& os) const;
  // The same into buffer: only whole pieces (a character, a placeholder's
  // value, a left-over argument) are written, the text is always
  // NUL-terminated when size > 0, and the result is strlen(buffer).
  std::size_t expand(char* buffer, std::size_t size) const noexcept;

 private:
  friend class exception;
  friend struct impl::exception_data;

  exception_node(const char* file, std::int32_t line, std::int32_t error_no, const char* text,
                 std::size_t length) noexcept
      : m_file(file), m_line(line), m_error_no(error_no), m_message(text, length) {}

  template <class Sink>
  void expand_into(Sink& sink) const;
  const msg_parameter* take_argument(const char* name, std::size_t length) const noexcept;

  exception_node* m_next = nullptr;
  const char* m_file;  // the caller's text, normally __FILE__
  std::int32_t m_line;
  std::int32_t m_error_no;
  status_t m_status = status_good;
  message_node m_message;
};

class exception {
 public:
  // Records the throw site and the code's template. All further memory of
  // this exception comes from alloc, which must return blocks aligned for any
  // object. errno is left as it was, so msgarg_sysrc(errno) after the
  // constructor still sees the caller's error.
  exception(const char* file, int line, const error_code& code) noexcept;
  exception(const char* file, int line, const error_code& code, allocator& alloc) noexcept;
  // Shares the data; the copy starts unregistered.
  exception(const exception& other) noexcept;
  exception& operator=(const exception& other) noexcept;
  virtual ~exception();

  // The first node's template exactly as registered, placeholders included.
  virtual const char* what() const noexcept;
  // Throws a copy of the most-derived kind. Every derived kind overrides it
  // with `throw *this;`, otherwise tThrow would slice it.
  virtual void do_throw() const;
  virtual void store_type(std::ostream& os) const;

  // Arguments go to the current node. A null text value attaches nothing.
  exception& operator<<(const msgarg_text& arg) noexcept;
  exception& operator<<(const msgrpl_text& arg) noexcept;
  exception& operator<<(const message_argument& arg) noexcept;
  exception& operator<<(const msgarg_sysrc& arg) noexcept;

  // Adds a node after the current one and makes it current. file must
  // outlive the exception (normally __FILE__); the template is copied.
  exception& append_message(const char* file, int line, std::int32_t error_no,
                            const char* message_template) noexcept;
  exception& append_message(const char* file, int line, const error_code& code) noexcept;

  class const_iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = exception_node;
    using difference_type = std::ptrdiff_t;
    using pointer = const exception_node*;
    using reference = const exception_node&;

    const_iterator() noexcept = default;
    explicit const_iterator(const exception_node* node) noexcept : m_node(node) {}
    reference operator*() const noexcept { return *m_node; }
    pointer operator->() const noexcept { return m_node; }
    const_iterator& operator++() noexcept {
      m_node = m_node->next();
      return *this;
    }
    const_iterator operator++(int) noexcept {
      const_iterator old = *this;
      m_node = m_node->next();
      return old;
    }
    friend bool operator==(const_iterator a, const_iterator b) noexcept {
      return a.m_node == b.m_node;
    }
    friend bool operator!=(const_iterator a, const_iterator b) noexcept {
      return a.m_node != b.m_node;
    }

   private:
    const exception_node* m_node = nullptr;
  };

  // Nodes from the first; begin() marks the exception processed. Without a
  // data block there are no nodes.
  const_iterator begin() const noexcept;
  const_iterator end() const noexcept { return const_iterator(); }

  // The first node's number, file and line.
  std::int32_t error_no() const noexcept { return m_error_no; }
  const char* file() const noexcept { return m_file; }
  std::int32_t line() const noexcept { return m_line; }

  // Whether the exception was dumped, printed or its nodes iterated.
  bool processed() const noexcept;
  // Hands the exception to the caught-exception report, which this program
  // does not keep, and marks it processed.
  void dump() const noexcept;
  // Every node expanded, one after the other without separator. Without a
  // data block, what() is written instead so that the number and the throw
  // site are not lost.
  void expandAll(std::ostream& os) const;

  // This program keeps no per-thread registry of raised exceptions, so there
  // is never one to prefer over the exception that was caught.
  static const exception* get_first_registered() noexcept { return nullptr; }

 private:
  friend void tThrow(const exception& ex);

  static constexpr std::uintptr_t kNotRegistered = 1;

  void add_argument(const char* name, const char* value, std::uint8_t kind) noexcept;
  void register_on_thread() const noexcept {}
  void release() noexcept;
  void format_fallback_text() noexcept;

  impl::exception_data* m_data;  // null when the block could not be allocated
  std::uintptr_t m_registration_link = kNotRegistered;
  exception_node* m_current;
  const char* m_file;
  std::int32_t m_line;
  std::int32_t m_error_no;
  // what() without a data block; filled only then.
  char m_fallback_text[192];
};

class runtime_error : public exception {
 public:
  using exception::exception;
  void do_throw() const override;
  void store_type(std::ostream& os) const override;
};

// A caller passed an argument outside what the operation accepts.
class invalid_argument : public exception {
 public:
  using exception::exception;
  void do_throw() const override;
  void store_type(std::ostream& os) const override;
};

// The text expandAll writes, for callers that print without iostreams.
std::string expandedText(const exception& ex);

}  // namespace ltt
