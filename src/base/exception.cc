// Construction, argument attachment, sharing and release of ltt::exception.
#include "base/exception.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <ostream>
#include <sstream>
#include <string>

#include "base/system_error.h"

namespace ltt {
namespace impl {

// The block shared by all copies of one exception. The first node lives in
// it, and the first node's template follows it in the same allocation.
//
// The reference count is a single atomic word: copies may be released on
// different threads, and nothing else in the block changes after
// construction except the processed flag and the argument lists, which only
// the owning thread touches.
struct exception_data {
  static constexpr std::uint32_t kProcessed = 1;

  exception_data(allocator& a, const char* file, std::int32_t line, std::int32_t number,
                 const char* text, std::size_t length) noexcept
      : alloc(&a), error_no(number), first(file, line, number, text, length) {}

  std::atomic<std::uint64_t> refcount{1};
  allocator* alloc;
  std::atomic<std::uint32_t> flags{0};
  std::int32_t error_no;
  // No stack trace is captured: return addresses would only serve crash
  // reports, which this program does not write.
  exception_node first;
};

}  // namespace impl

namespace {

// Allocation may touch errno even when it succeeds; the thrower usually
// reads errno after constructing the exception.
class errno_guard {
 public:
  errno_guard() noexcept : m_saved(errno) {}
  ~errno_guard() { errno = m_saved; }
  errno_guard(const errno_guard&) = delete;
  errno_guard& operator=(const errno_guard&) = delete;

 private:
  int m_saved;
};

const char* or_empty(const char* text) noexcept { return text != nullptr ? text : ""; }

}  // namespace

exception::exception(const char* file, int line, const error_code& code) noexcept
    : exception(file, line, code, default_allocator()) {}

exception::exception(const char* file, int line, const error_code& code, allocator& alloc) noexcept
    : m_data(nullptr),
      m_current(nullptr),
      m_file(file),
      m_line(line),
      m_error_no(code.number()) {
  m_fallback_text[0] = '\0';
  errno_guard keep_errno;
  const char* text = or_empty(code.message_template());
  const std::size_t length = std::strlen(text);
  void* block = alloc.allocate(sizeof(impl::exception_data) + length + 1);
  if (block == nullptr) {
    format_fallback_text();
    return;
  }
  char* copy = static_cast<char*>(block) + sizeof(impl::exception_data);
  std::memcpy(copy, text, length + 1);
  m_data = new (block) impl::exception_data(alloc, file, line, m_error_no, copy, length);
  m_current = &m_data->first;
}

exception::exception(const exception& other) noexcept
    : m_data(other.m_data),
      m_current(other.m_current),
      m_file(other.m_file),
      m_line(other.m_line),
      m_error_no(other.m_error_no) {
  if (m_data != nullptr) {
    m_data->refcount.fetch_add(1, std::memory_order_relaxed);
    m_fallback_text[0] = '\0';
  } else {
    std::memcpy(m_fallback_text, other.m_fallback_text, sizeof m_fallback_text);
  }
}

exception& exception::operator=(const exception& other) noexcept {
  if (this == &other) return *this;
  if (other.m_data != nullptr) other.m_data->refcount.fetch_add(1, std::memory_order_relaxed);
  release();
  m_data = other.m_data;
  m_current = other.m_current;
  m_file = other.m_file;
  m_line = other.m_line;
  m_error_no = other.m_error_no;
  std::memcpy(m_fallback_text, other.m_fallback_text, sizeof m_fallback_text);
  return *this;
}

exception::~exception() { release(); }

void exception::release() noexcept {
  impl::exception_data* data = m_data;
  m_data = nullptr;
  m_current = nullptr;
  if (data == nullptr || data->refcount.fetch_sub(1, std::memory_order_acq_rel) != 1) return;

  // An exception that nobody looked at would go to the forgotten-exception
  // report here; this program keeps none.
  allocator& alloc = *data->alloc;
  exception_node* node = &data->first;
  while (node != nullptr) {
    msg_parameter* arg = node->m_message.m_first;
    while (arg != nullptr) {
      msg_parameter* next_arg = arg->m_next;
      alloc.deallocate(arg);
      arg = next_arg;
    }
    exception_node* next_node = node->m_next;
    if (node != &data->first) alloc.deallocate(node);
    node = next_node;
  }
  data->~exception_data();
  alloc.deallocate(data);
}

// "exception: no." number(11) " (" file(64) ":" line(6) "). No further ..."
// A file name longer than its field keeps its tail, where the file's own
// name is, and its leading characters are replaced by one "*".
void exception::format_fallback_text() noexcept {
  constexpr std::size_t kFileWidth = 64;
  const char* file = or_empty(m_file);
  const std::size_t length = std::strlen(file);
  char shown[kFileWidth + 1];
  if (length <= kFileWidth) {
    std::snprintf(shown, sizeof shown, "%64s", file);
  } else {
    shown[0] = '*';
    std::memcpy(shown + 1, file + length - (kFileWidth - 1), kFileWidth - 1);
    shown[kFileWidth] = '\0';
  }
  std::snprintf(m_fallback_text, sizeof m_fallback_text,
                "exception: no.%11d (%s:%6d). No further info because of bad allocation in "
                "exception object.",
                static_cast<int>(m_error_no), shown, static_cast<int>(m_line));
}

const char* exception::what() const noexcept {
  return m_data != nullptr ? m_data->first.m_message.m_template : m_fallback_text;
}

void exception::do_throw() const { throw *this; }

void exception::store_type(std::ostream& os) const { os << "ltt::exception"; }

void exception::add_argument(const char* name, const char* value, std::uint8_t kind) noexcept {
  if (m_data == nullptr || value == nullptr || m_current->m_status != exception_node::status_good)
    return;
  errno_guard keep_errno;
  name = or_empty(name);
  const std::size_t value_length = std::strlen(value);
  void* block = nullptr;
  if (value_length <= std::numeric_limits<std::uint32_t>::max())
    block = m_data->alloc->allocate(sizeof(msg_parameter) + value_length + 1);
  if (block == nullptr) {
    m_current->m_status = exception_node::status_argument_dropped;
    return;
  }
  char* copy = static_cast<char*>(block) + sizeof(msg_parameter);
  std::memcpy(copy, value, value_length + 1);
  msg_parameter* arg =
      new (block) msg_parameter(name, std::strlen(name), copy, static_cast<std::uint32_t>(value_length),
                                static_cast<msg_parameter::kind_t>(kind));
  message_node& message = m_current->m_message;
  if (message.m_last != nullptr) {
    message.m_last->m_next = arg;
  } else {
    message.m_first = arg;
  }
  message.m_last = arg;
}

exception& exception::operator<<(const msgarg_text& arg) noexcept {
  add_argument(arg.name(), arg.value(), msg_parameter::argument);
  return *this;
}

exception& exception::operator<<(const msgrpl_text& arg) noexcept {
  add_argument(arg.name(), arg.value(), msg_parameter::replacement);
  return *this;
}

exception& exception::operator<<(const message_argument& arg) noexcept {
  add_argument(arg.name(), arg.value(), msg_parameter::argument);
  return *this;
}

exception& exception::operator<<(const msgarg_sysrc& arg) noexcept {
  char text[256];
  Diagnose::getSystemErrorMessage(arg.rc(), text, sizeof text);
  add_argument("sysrc", message_argument("sysrc", arg.rc()).value(), msg_parameter::argument);
  add_argument("sysmsg", text, msg_parameter::argument);
  return *this;
}

exception& exception::append_message(const char* file, int line, std::int32_t error_no,
                                      const char* message_template) noexcept {
  if (m_data == nullptr || m_current->m_status == exception_node::status_node_dropped)
    return *this;
  errno_guard keep_errno;
  const char* text = or_empty(message_template);
  const std::size_t length = std::strlen(text);
  void* block = m_data->alloc->allocate(sizeof(exception_node) + length + 1);
  if (block == nullptr) {
    m_current->m_status = exception_node::status_node_dropped;
    return *this;
  }
  char* copy = static_cast<char*>(block) + sizeof(exception_node);
  std::memcpy(copy, text, length + 1);
  exception_node* node = new (block) exception_node(file, line, error_no, copy, length);
  node->m_next = m_current->m_next;
  m_current->m_next = node;
  m_current = node;
  return *this;
}

exception& exception::append_message(const char* file, int line, const error_code& code) noexcept {
  return append_message(file, line, code.number(), code.message_template());
}

exception::const_iterator exception::begin() const noexcept {
  if (m_data == nullptr) return end();
  m_data->flags.fetch_or(impl::exception_data::kProcessed, std::memory_order_relaxed);
  return const_iterator(&m_data->first);
}

bool exception::processed() const noexcept {
  return m_data != nullptr &&
         (m_data->flags.load(std::memory_order_relaxed) & impl::exception_data::kProcessed) != 0;
}

void exception::dump() const noexcept {
  if (m_data != nullptr)
    m_data->flags.fetch_or(impl::exception_data::kProcessed, std::memory_order_relaxed);
}

void exception::expandAll(std::ostream& os) const {
  if (m_data == nullptr) {
    os << what();
    return;
  }
  for (const exception_node& node : *this) node.expand(os);
}

std::string expandedText(const exception& ex) {
  std::ostringstream text;
  ex.expandAll(text);
  return text.str();
}

void runtime_error::do_throw() const { throw *this; }

void runtime_error::store_type(std::ostream& os) const { os << "ltt::runtime_error"; }

void invalid_argument::do_throw() const { throw *this; }

void invalid_argument::store_type(std::ostream& os) const { os << "ltt::invalid_argument"; }

void tThrow(const exception& ex) {
  ex.register_on_thread();
  ex.do_throw();
  std::fputs("Throwing an exception returned, aborting\n", stderr);
  std::abort();
}

}  // namespace ltt
