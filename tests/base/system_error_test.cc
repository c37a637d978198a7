#include "base/system_error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <tuple>

namespace {

// System error texts are the platform's, in a form of our own for numbers it
// does not know, cut to the buffer and always terminated; errno stays.
TEST(SystemError, MessageTextsLeaveErrnoAlone) {
  const std::tuple<int, std::size_t, const char*> cases[] = {
      {0, 256, "[no error]"}, {ENOENT, 256, "No such file or directory"}, {99999, 256, "[unknown error code 99999]"},
      {-5, 256, "[unknown error code -5]"}, {0, 5, "[no "}, {ENOENT, 1, ""}};
  for (const auto& [rc, size, expected] : cases) {
    char buffer[256];
    std::memset(buffer, 'x', sizeof buffer);
    errno = EACCES;
    EXPECT_EQ(Diagnose::getSystemErrorMessage(rc, buffer, size), buffer);
    EXPECT_EQ(Diagnose::getSystemError(), EACCES);
    EXPECT_STREQ(buffer, expected) << "rc " << rc << " size " << size;
  }
}

}  // namespace
