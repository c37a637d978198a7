// Error codes, categories and the registry of error code records.
#include "base/error_code.h"

#include <atomic>
#include <ostream>

namespace ltt {
namespace {

constexpr const char* kNoErrorText = "Default constructed empty exception object";

// Registration only ever pushes at the head, and records are never removed,
// so a lock-free push keeps two accessors racing on different threads from
// losing a record, and readers may walk the list at any time.
std::atomic<const impl::ErrorCodeImpl*> g_registry_head{nullptr};

}  // namespace

const error_category& generic_category() noexcept {
  static const error_category instance("generic");
  return instance;
}

const error_category& iostream_category() noexcept {
  static const error_category instance("iostream");
  return instance;
}

const error_category& system_category() noexcept {
  static const error_category instance("system");
  return instance;
}

error_code::error_code() noexcept
    : m_number(0), m_template(kNoErrorText), m_category(&generic_category()) {}

error_code::error_code(std::int32_t number, const char* message_template,
                       const error_category& category) noexcept
    : m_number(number), m_template(message_template), m_category(&category) {}

void error_code::clear() noexcept { *this = error_code(); }

const char* error_code::error_no_to_text(std::int32_t number) noexcept {
  for (const impl::ErrorCodeImpl* rec = impl::ErrorCodeImpl::registry_head(); rec != nullptr;
       rec = rec->link()) {
    if (rec->number() == number) return rec->message_template();
  }
  return "Unknown";
}

std::ostream& operator<<(std::ostream& os, const error_code& code) {
  if (code.message_template() == nullptr) {
    os << ':' << code.number();
    os.setstate(std::ios_base::failbit);
    return os;
  }
  return os << code.message_template() << ':' << code.number();
}

namespace impl {

ErrorCodeImpl::ErrorCodeImpl(std::int32_t number, const char* message_template,
                             const error_category& category, const char* name) noexcept
    : error_code(number, message_template, category), m_name(name) {
  register_error(*this);
}

const ErrorCodeImpl* ErrorCodeImpl::register_error(ErrorCodeImpl& record) noexcept {
  const ErrorCodeImpl* head = g_registry_head.load(std::memory_order_acquire);
  do {
    // The link is set before the record becomes visible as the head.
    record.m_link = head;
  } while (!g_registry_head.compare_exchange_weak(head, &record, std::memory_order_acq_rel,
                                                  std::memory_order_acquire));
  return head;
}

const ErrorCodeImpl* ErrorCodeImpl::registry_head() noexcept {
  return g_registry_head.load(std::memory_order_acquire);
}

}  // namespace impl
}  // namespace ltt
