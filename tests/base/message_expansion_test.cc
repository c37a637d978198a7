#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "base/error_code_table.h"
#include "base/exception.h"
#include "test_allocator.h"

namespace {

using ltt::msgarg_text;

std::string expand_to_stream(const ltt::exception& ex) {
  std::ostringstream os;
  ex.begin()->expand(os);
  return os.str();
}
std::string expand_to_buffer(const ltt::exception& ex) {
  std::string buffer(4096, 'x');
  const std::size_t written = ex.begin()->expand(&buffer[0], buffer.size());
  EXPECT_EQ(written, std::strlen(buffer.c_str()));
  return buffer.substr(0, written);
}
// text must outlive the exception.
ltt::exception withTemplate(const char* text, ltt::allocator& alloc = ltt::default_allocator()) {
  return ltt::exception(__FILE__, __LINE__, ltt::error_code(1, text, ltt::generic_category()), alloc);
}

TEST(MessageExpansion, Templates) {
  using Args = std::vector<std::pair<const char*, const char*>>;  // text arguments in order
  // Template, arguments, expansion into a stream and into a buffer (null: the same).
  const std::tuple<const char*, Args, const char*, const char*> cases[] = {
      {"open $file$ now", {}, "open $file$ now", nullptr},         // missing argument stays
      {"v=$x$", {{"x", "1"}, {"y", "2"}}, "v=1; $y$=2", nullptr},  // left-over appended
      {"cost \\$5, a\\\\b, \\q", {}, "cost $5, a\\b, q", nullptr},
      {"abc $name tail", {{"a", "1"}}, "abc ; $a$=1", nullptr},  // unterminated placeholder stops
      {"x $$ y", {{"a", "1"}}, "x ; $a$=1", nullptr},            // empty placeholder stops
      {"$a$ $a$", {{"a", "1"}}, "1 $a$", nullptr},               // an argument is used once
      {"$a$", {{"a", nullptr}}, "$a$", nullptr},                 // a null value attaches nothing
      {"T", {{"m", "one\ntwo\n"}, {"n", "x"}, {"o", "y"}}, "T\n$m$=\none\ntwo\n$n$=x; $o$=y",
       "T; $m$=one\ntwo\n; $n$=x; $o$=y"},  // multi-line values on their own lines, in the stream only
      {"T", {{"v", "abc  \r\n"}}, "T; $v$=abc", "T; $v$=abc  \r\n"},  // trailing blanks trimmed in the stream
      {"T", {{"", "note"}}, "T. note", nullptr},
      {"T", {{"v", ""}, {"w", " \r\n "}, {"", " "}}, "T; $v$=; $w$=. ", "T; $v$=; $w$= \r\n .  "},  // nothing left
  };
  // Blocks filled with blanks: trimming a value must stop at its first byte.
  TestAllocator blanks({}, false, ' ');
  for (const auto& [text, args, stream, buffer] : cases) {
    ltt::exception ex = withTemplate(text, blanks);
    for (const auto& [name, value] : args) ex << msgarg_text(name, value);
    EXPECT_EQ(expand_to_stream(ex), stream) << text;
    EXPECT_EQ(expand_to_buffer(ex), buffer ? buffer : stream) << text;
    EXPECT_EQ(expand_to_stream(ex), stream) << text << " (expanding does not consume the arguments)";
  }
}

TEST(MessageExpansion, ReplacementsNumbersAndSystemCodes) {
  ltt::exception ex = withTemplate("[$a$] $s$ $u$ $big$ rc=$sysrc$:$sysmsg$");
  ex << msgarg_text("a", "plain") << ltt::msgrpl_text("a", "repl") << ltt::message_argument("s", -5)
     << ltt::message_argument("u", 4294967295u) << ltt::message_argument("big", static_cast<unsigned long long>(-1))
     << ltt::msgarg_sysrc(0);
  EXPECT_EQ(expand_to_stream(ex), "[repl] -5 4294967295 18446744073709551615 rc=0:[no error]");

  ltt::exception shm(__FILE__, __LINE__, NEBRIX__ERR_NEBRIX_TRACESHM_CANNOT_OPEN_FILE());
  shm << msgarg_text("call", "chmod") << ltt::msgarg_sysrc(EACCES);
  EXPECT_EQ(expand_to_stream(shm), "Cannot open shared memory file $file$, rc=13:Permission denied; $call$=chmod");
}

}  // namespace
