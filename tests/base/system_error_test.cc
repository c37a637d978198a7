#include "base/system_error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <string>

#include "base/message_argument.h"

namespace {

TEST(SystemError, MessageTextsLeaveErrnoAlone) {
  const struct {
    int rc;
    std::size_t size;
    const char* expected;
  } cases[] = {
      {0, 256, "[no error]"}, {ENOENT, 256, "No such file or directory"}, {99999, 256, "[unknown error code 99999]"},
      {-5, 256, "[unknown error code -5]"}, {0, 5, "[no "},  // cut, still terminated
      {ENOENT, 1, ""},
  };
  for (const auto& c : cases) {
    char buffer[256];
    std::memset(buffer, 'x', sizeof buffer);
    errno = EACCES;
    EXPECT_EQ(Diagnose::getSystemErrorMessage(c.rc, buffer, c.size), buffer);
    EXPECT_EQ(Diagnose::getSystemError(), EACCES);
    EXPECT_STREQ(buffer, c.expected) << "rc " << c.rc << " size " << c.size;
  }
  std::ostringstream os;
  os << ltt::msgarg_sysrc(ENOENT) << '|' << ltt::msgarg_sysrc(0);
  EXPECT_EQ(os.str(), "2 (No such file or directory)|0 ([no error])");
}

}  // namespace
