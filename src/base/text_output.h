// Text to standard output and standard error through C stdio.
//
// The programs once wrote through std::cout and std::cerr, which are
// synchronised with stdio: every byte went through `stdout` and `stderr`
// already. Writing there directly keeps the buffering and the order of the
// two streams as they were, and spares every run the C++ locale and the
// standard stream objects that the first use of iostreams builds.
//
//   Text::out << "Update count : " << count << "\n";
//   Text::err << "Error: " << message << Text::endl;
#pragma once

#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>
#include <type_traits>

namespace Text {

class Output {
 public:
  // `tied` is flushed before each write, as std::cerr flushed std::cout:
  // what was printed on standard output before an error comes before it.
  constexpr Output(std::FILE* const* stream, std::FILE* const* tied) noexcept : m_stream(stream), m_tied(tied) {}
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  Output& operator<<(std::string_view text) noexcept;
  Output& operator<<(const std::string& text) noexcept { return *this << std::string_view(text); }
  // A null text writes nothing.
  Output& operator<<(const char* text) noexcept {
    return *this << (text != nullptr ? std::string_view(text) : std::string_view());
  }
  Output& operator<<(char c) noexcept { return *this << std::string_view(&c, 1); }
  // Integers in decimal, as std::ostream writes them.
  template <class Integer,
            std::enable_if_t<std::is_integral_v<Integer> && !std::is_same_v<Integer, bool> &&
                                 !std::is_same_v<Integer, char> && !std::is_same_v<Integer, signed char> &&
                                 !std::is_same_v<Integer, unsigned char>,
                             int> = 0>
  Output& operator<<(Integer value) noexcept {
    char digits[24];
    const std::to_chars_result end = std::to_chars(digits, digits + sizeof digits, value);
    return *this << std::string_view(digits, static_cast<std::size_t>(end.ptr - digits));
  }
  Output& operator<<(Output& (*manipulator)(Output&)) { return manipulator(*this); }

  Output& flush() noexcept;

 private:
  std::FILE* const* m_stream;
  std::FILE* const* m_tied;
};

// Standard output, and standard error tied to it.
extern Output out;
extern Output err;

// A line end that flushes, as std::endl.
Output& endl(Output& output) noexcept;

}  // namespace Text
