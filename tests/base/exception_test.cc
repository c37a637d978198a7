#include "base/exception.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <iterator>
#include <sstream>
#include <string>
#include <tuple>

#include "base/error_code_table.h"
#include "test_allocator.h"

namespace {

const ltt::error_code kOpenFailed = NEBRIX__ERR_NEBRIX_TRACESHM_CANNOT_OPEN_FILE();

std::string expand_all(const ltt::exception& ex) {
  std::ostringstream os;
  ex.expandAll(os);
  return os.str();
}

// what() is the raw template of the first node; arguments go to the node
// appended last.
TEST(Exception, AppendedNodeReceivesLaterArguments) {
  ltt::exception ex("a.cc", 1, ltt::error_code(10, "first $x$", ltt::generic_category()));
  ex << ltt::msgarg_text("x", "1");
  ex.append_message("b.cc", 2, 20, "|second $x$ $y$");
  ex << ltt::msgarg_text("y", "2");
  EXPECT_STREQ(ex.what(), "first $x$");
  EXPECT_EQ(ex.error_no(), 10);
  EXPECT_FALSE(ex.processed());
  EXPECT_EQ(expand_all(ex), "first 1|second $x$ 2");
  EXPECT_TRUE(ex.processed());
  EXPECT_EQ(std::next(ex.begin())->error_no(), 20);
}

// Copies and assignments share one data block, which goes with the last of
// them.
TEST(Exception, CopiesShareDataUntilTheLastIsGone) {
  TestAllocator alloc;
  {
    auto* original = new ltt::exception("a.cc", 1, kOpenFailed, alloc);
    ltt::exception copy(*original);
    ltt::exception assigned("b.cc", 2, kOpenFailed, alloc);
    assigned = copy;
    EXPECT_EQ(alloc.live, 1);  // the second block went with the assignment
    copy << ltt::msgarg_text("file", "f");
    delete original;
    EXPECT_EQ(alloc.live, 2);
    EXPECT_EQ(expand_all(assigned), "Cannot open shared memory file f, rc=$sysrc$:$sysmsg$");
  }
  EXPECT_EQ(alloc.live, 0);
}

// Without a data block the text is made from number, file and line; a file
// name too long for its field keeps its tail. Copies and assignments keep it,
// and errno stays as the thrower left it.
TEST(Exception, FallbackTextWithoutDataBlock) {
  const std::string long_path = "/" + std::string(80, 'd') + "/src/trace/shared_memory.cc";
  const std::tuple<std::string, int, std::string> cases[] = {
      {"x.cc", 42, std::string(60, ' ') + "x.cc:    42"},
      {long_path, 1234567, "*" + long_path.substr(long_path.size() - 63) + ":1234567"}};
  for (const auto& [file, line, shown] : cases) {
    TestAllocator alloc({}, true);
    errno = EACCES;
    ltt::exception ex(file.c_str(), line, kOpenFailed, alloc);
    EXPECT_EQ(errno, EACCES);
    ex << ltt::msgarg_text("file", "f");
    ex.append_message("a.cc", 1, kOpenFailed);
    const std::string expected =
        "exception: no.     200302 (" + shown + "). No further info because of bad allocation in exception object.";
    EXPECT_EQ(expand_all(ex), expected);
    ltt::exception copy(ex), assigned("b.cc", 2, kOpenFailed);
    assigned = ex;
    EXPECT_EQ(copy.what(), expected);
    EXPECT_EQ(assigned.what(), expected);
  }
}

}  // namespace
