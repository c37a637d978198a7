#include "base/system_error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <string>

#include "base/message_argument.h"

namespace {

TEST(SystemError, MessageTexts) {
  struct Case {
    int rc;
    std::size_t size;
    const char* expected;
  } cases[] = {
      {0, 256, "[no error]"},
      {ENOENT, 256, "No such file or directory"},
      {99999, 256, "[unknown error code 99999]"},
      {-5, 256, "[unknown error code -5]"},
      {0, 5, "[no "},  // cut, still terminated
      {ENOENT, 1, ""},
  };
  for (const Case& c : cases) {
    char buffer[256];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(Diagnose::getSystemErrorMessage(c.rc, buffer, c.size), buffer);
    EXPECT_STREQ(buffer, c.expected) << "rc " << c.rc << " size " << c.size;
  }
}

TEST(SystemError, LeavesErrnoAlone) {
  char buffer[64];
  errno = EACCES;
  Diagnose::getSystemErrorMessage(99999, buffer, sizeof buffer);
  EXPECT_EQ(Diagnose::getSystemError(), EACCES);
}

TEST(SystemError, SysrcArgumentPrintsNumberAndText) {
  std::ostringstream os;
  os << ltt::msgarg_sysrc(ENOENT) << '|' << ltt::msgarg_sysrc(0);
  EXPECT_EQ(os.str(), "2 (No such file or directory)|0 ([no error])");
}

}  // namespace
