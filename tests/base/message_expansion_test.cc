#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>

#include "base/error_codes.h"
#include "base/exception.h"

namespace {

std::string expand_to_stream(const ltt::exception& ex) {
  std::ostringstream os;
  ex.begin()->expand(os);
  return os.str();
}

std::string expand_to_buffer(const ltt::exception& ex, std::size_t size = 4096) {
  std::string buffer(size, 'x');
  const std::size_t written = ex.begin()->expand(&buffer[0], size);
  EXPECT_EQ(written, std::strlen(buffer.c_str()));
  return buffer.substr(0, written);
}

struct Case {
  const char* name;
  const char* text;
  std::function<void(ltt::exception&)> attach;
  const char* stream;
  const char* buffer;  // null: same as stream
};

TEST(MessageExpansion, Templates) {
  using ltt::msgarg_text;
  const Case cases[] = {
      {"missing argument stays", "open $file$ now", [](ltt::exception&) {}, "open $file$ now",
       nullptr},
      {"left-over appended", "v=$x$", [](ltt::exception& e) {
         e << msgarg_text("x", "1") << msgarg_text("y", "2");
       }, "v=1; $y$=2", nullptr},
      {"escapes", "cost \\$5, a\\\\b, \\q", [](ltt::exception&) {}, "cost $5, a\\b, q", nullptr},
      {"unterminated placeholder stops", "abc $name tail",
       [](ltt::exception& e) { e << msgarg_text("a", "1"); }, "abc ; $a$=1", nullptr},
      {"empty placeholder stops", "x $$ y", [](ltt::exception& e) { e << msgarg_text("a", "1"); },
       "x ; $a$=1", nullptr},
      {"argument used once", "$a$ $a$", [](ltt::exception& e) { e << msgarg_text("a", "1"); },
       "1 $a$", nullptr},
      {"same name twice", "$a$ $a$", [](ltt::exception& e) {
         e << msgarg_text("a", "1") << msgarg_text("a", "2");
       }, "1 2", nullptr},
      {"names are case-sensitive", "$A$", [](ltt::exception& e) { e << msgarg_text("a", "1"); },
       "$A$; $a$=1", nullptr},
      {"replacement wins", "[$a$]", [](ltt::exception& e) {
         e << msgarg_text("a", "plain") << ltt::msgrpl_text("a", "repl");
       }, "[repl]", nullptr},
      {"null value attaches nothing", "$a$", [](ltt::exception& e) {
         e << msgarg_text("a", nullptr);
       }, "$a$", nullptr},
      {"integers", "$s$ $u$ $big$", [](ltt::exception& e) {
         e << ltt::message_argument("s", -5) << ltt::message_argument("u", 4294967295u)
           << ltt::message_argument("big", static_cast<unsigned long long>(-1));
       }, "-5 4294967295 18446744073709551615", nullptr},
      {"sysrc 0", "rc=$sysrc$:$sysmsg$", [](ltt::exception& e) { e << ltt::msgarg_sysrc(0); },
       "rc=0:[no error]", nullptr},
      {"multi-line value on own lines", "T", [](ltt::exception& e) {
         e << msgarg_text("m", "one\ntwo\n") << msgarg_text("n", "x") << msgarg_text("o", "y");
       }, "T\n$m$=\none\ntwo\n$n$=x; $o$=y", "T; $m$=one\ntwo\n; $n$=x; $o$=y"},
      {"trailing blanks trimmed in stream only", "T",
       [](ltt::exception& e) { e << msgarg_text("v", "abc  \r\n"); }, "T; $v$=abc",
       "T; $v$=abc  \r\n"},
      {"nameless argument", "T", [](ltt::exception& e) { e << msgarg_text("", "note"); },
       "T. note", nullptr},
  };
  for (const Case& c : cases) {
    ltt::exception ex(__FILE__, __LINE__, ltt::error_code(1, c.text, ltt::generic_category()));
    c.attach(ex);
    EXPECT_EQ(expand_to_stream(ex), c.stream) << c.name;
    EXPECT_EQ(expand_to_buffer(ex), c.buffer ? c.buffer : c.stream) << c.name;
    // Expanding does not consume the arguments.
    EXPECT_EQ(expand_to_stream(ex), c.stream) << c.name << " (again)";
  }
}

TEST(MessageExpansion, SharedMemoryExample) {
  ltt::exception ex(__FILE__, __LINE__, NEBRIX__ERR_NEBRIX_TRACESHM_CANNOT_OPEN_FILE());
  ex << ltt::msgarg_text("call", "chmod") << ltt::msgarg_sysrc(EACCES);
  EXPECT_EQ(expand_to_stream(ex),
            "Cannot open shared memory file $file$, rc=13:Permission denied; $call$=chmod");
  EXPECT_STREQ(ex.what(), "Cannot open shared memory file $file$, rc=$sysrc$:$sysmsg$");
}

// The buffer keeps whole pieces only, never cuts one with its terminator,
// and after a refused piece writes nothing more.
TEST(MessageExpansion, BufferKeepsWholePieces) {
  const std::string long_text(300, 'a');
  ltt::exception ex1(__FILE__, __LINE__,
                     ltt::error_code(1, long_text.c_str(), ltt::generic_category()));
  EXPECT_EQ(expand_to_buffer(ex1, 256), std::string(255, 'a'));

  const std::string head(245, 'a');
  const std::string with_value = head + "$v$b";
  ltt::exception ex2(__FILE__, __LINE__,
                     ltt::error_code(1, with_value.c_str(), ltt::generic_category()));
  ex2 << ltt::msgarg_text("v", "01234567890123456789") << ltt::msgarg_text("z", "1");
  EXPECT_EQ(expand_to_buffer(ex2, 256), head);

  const std::string exact = std::string(248, 'a') + "$v$";
  ltt::exception ex3(__FILE__, __LINE__, ltt::error_code(1, exact.c_str(), ltt::generic_category()));
  ex3 << ltt::msgarg_text("v", "1234567");
  EXPECT_EQ(expand_to_buffer(ex3, 256), std::string(248, 'a') + "1234567");

  EXPECT_EQ(expand_to_buffer(ex3, 1), "");
  EXPECT_EQ(ex3.begin()->expand(nullptr, 0), 0u);
}

}  // namespace
