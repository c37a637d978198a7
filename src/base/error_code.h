// Error codes: the public ltt::error_code value, its categories, and the
// registered record ltt::impl::ErrorCodeImpl with the process-wide registry
// that maps numbers back to message templates.
#pragma once

#include <cstdint>
#include <iosfwd>

namespace ltt {

class error_category {
 public:
  explicit constexpr error_category(const char* name) noexcept : m_name(name) {}
  error_category(const error_category&) = delete;
  error_category& operator=(const error_category&) = delete;

  const char* name() const noexcept { return m_name; }

 private:
  const char* m_name;
};

// The three singleton categories. Every code of this program is generic.
const error_category& generic_category() noexcept;
const error_category& iostream_category() noexcept;
const error_category& system_category() noexcept;

class error_code {
 public:
  // Number 0 with the text of ERR_LTT_NO_ERROR in the generic category.
  error_code() noexcept;
  error_code(std::int32_t number, const char* message_template,
             const error_category& category) noexcept;

  std::int32_t number() const noexcept { return m_number; }
  const char* message_template() const noexcept { return m_template; }
  const error_category& category() const noexcept { return *m_category; }

  // Back to the default code.
  void clear() noexcept;

  // The template of the most recently registered code with this number, or
  // "Unknown". A code counts as registered once its accessor has run.
  static const char* error_no_to_text(std::int32_t number) noexcept;

 private:
  std::int32_t m_number;
  const char* m_template;
  const error_category* m_category;
};

// Writes "template:number". A code without a template writes ":number" and
// then marks the stream failed, so the caller can tell the text is missing.
std::ostream& operator<<(std::ostream& os, const error_code& code);

namespace impl {

// The static record behind each accessor. Its leading part is the public
// error_code, so accessors can hand it out wherever an error_code is wanted.
class ErrorCodeImpl : public error_code {
 public:
  // Fills the record and links it into the registry. Records live in
  // function-local statics, so this runs once per code.
  ErrorCodeImpl(std::int32_t number, const char* message_template,
                const error_category& category, const char* name) noexcept;
  ErrorCodeImpl(const ErrorCodeImpl&) = delete;
  ErrorCodeImpl& operator=(const ErrorCodeImpl&) = delete;

  const char* name() const noexcept { return m_name; }
  // The record registered before this one; null for the first.
  const ErrorCodeImpl* link() const noexcept { return m_link; }

  // Makes the record the registry's head and returns the former head, which
  // also becomes the record's link.
  static const ErrorCodeImpl* register_error(ErrorCodeImpl& record) noexcept;
  // The most recently registered record; null before any registration.
  static const ErrorCodeImpl* registry_head() noexcept;

 private:
  const char* m_name;
  const ErrorCodeImpl* m_link = nullptr;
};

}  // namespace impl
}  // namespace ltt
