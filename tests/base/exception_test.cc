#include "base/exception.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <iterator>
#include <sstream>
#include <string>

#include "base/error_code_table.h"
#include "test_allocator.h"

namespace {

const ltt::error_code kOpenFailed = NEBRIX__ERR_NEBRIX_TRACESHM_CANNOT_OPEN_FILE();

std::string expand_all(const ltt::exception& ex) {
  std::ostringstream os;
  ex.expandAll(os);
  return os.str();
}

TEST(Exception, WhatIsTheRawTemplateAndSiteIsKept) {
  ltt::exception ex("shm.cc", 17, kOpenFailed);
  ex << ltt::msgarg_text("file", "/p/NEBRIX.shm") << ltt::msgarg_sysrc(ENOENT);
  EXPECT_STREQ(ex.what(), "Cannot open shared memory file $file$, rc=$sysrc$:$sysmsg$");
  EXPECT_EQ(ex.error_no(), 200302);
  EXPECT_STREQ(ex.file(), "shm.cc");
  EXPECT_EQ(ex.line(), 17);
  EXPECT_EQ(ltt::exception::get_first_registered(), nullptr);
}

TEST(Exception, AppendedNodeReceivesLaterArguments) {
  ltt::exception ex("a.cc", 1, ltt::error_code(10, "first $x$", ltt::generic_category()));
  ex << ltt::msgarg_text("x", "1");
  ex.append_message("b.cc", 2, 20, "|second $x$ $y$");
  ex << ltt::msgarg_text("y", "2");
  EXPECT_FALSE(ex.processed());
  EXPECT_EQ(expand_all(ex), "first 1|second $x$ 2");
  EXPECT_TRUE(ex.processed());

  EXPECT_EQ(std::distance(ex.begin(), ex.end()), 2);
  EXPECT_EQ(std::next(ex.begin())->error_no(), 20);
  EXPECT_STREQ(std::next(ex.begin())->file(), "b.cc");
  EXPECT_EQ(ex.error_no(), 10);
}

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
    assigned = assigned;
    EXPECT_EQ(std::string(assigned.what()), copy.what());
  }
  EXPECT_EQ(alloc.live, 0);
}

TEST(Exception, ThrowsTheMostDerivedKindSharingData) {
  TestAllocator alloc;
  try {
    ltt::runtime_error err("a.cc", 1, kOpenFailed, alloc);
    err << ltt::msgarg_text("file", "f");
    ltt::tThrow(err);
  } catch (const ltt::runtime_error& caught) {
    EXPECT_EQ(alloc.live, 2);
    std::ostringstream type;
    caught.store_type(type);
    EXPECT_EQ(type.str(), "ltt::runtime_error");
    EXPECT_EQ(expand_all(caught), "Cannot open shared memory file f, rc=$sysrc$:$sysmsg$");
  }
  EXPECT_EQ(alloc.live, 0);
}

TEST(Exception, FallbackTextWithoutDataBlock) {
  const std::string long_path = "/" + std::string(80, 'd') + "/src/trace/shared_memory.cc";
  const std::string tail = long_path.substr(long_path.size() - 63);
  const struct {
    std::string file;
    int line;
    std::string shown;
  } cases[] = {{"x.cc", 42, std::string(60, ' ') + "x.cc:    42"}, {long_path, 1234567, "*" + tail + ":1234567"}};
  for (const auto& c : cases) {
    TestAllocator alloc({}, true);
    errno = EACCES;
    ltt::exception ex(c.file.c_str(), c.line, kOpenFailed, alloc);
    EXPECT_EQ(errno, EACCES);
    ex << ltt::msgarg_text("file", "f");
    ex.append_message("a.cc", 1, kOpenFailed);
    const std::string expected = "exception: no.     200302 (" + c.shown +
                                 "). No further info because of bad allocation in exception object.";
    EXPECT_EQ(ex.what(), expected);
    EXPECT_TRUE(ex.begin() == ex.end());
    EXPECT_EQ(expand_all(ex), expected);
    ltt::exception copy(ex);
    EXPECT_EQ(copy.what(), expected);
  }
}

TEST(Exception, DroppedArgumentsAndNodesAreMarked) {
  // Allocation 0 is the data block.
  TestAllocator arg_fails({1});
  ltt::exception ex1("a.cc", 1, ltt::error_code(1, "$a$ $b$", ltt::generic_category()), arg_fails);
  errno = EPERM;
  ex1 << ltt::msgarg_text("a", "1") << ltt::msgarg_text("b", "2");
  EXPECT_EQ(errno, EPERM);
  EXPECT_EQ(ex1.begin()->status(), ltt::exception_node::status_argument_dropped);
  EXPECT_EQ(expand_all(ex1), "$a$ $b$");

  TestAllocator node_fails({2});
  ltt::exception ex2("a.cc", 1, ltt::error_code(1, "$a$", ltt::generic_category()), node_fails);
  ex2 << ltt::msgarg_text("a", "1");
  ex2.append_message("b.cc", 2, 2, "lost");
  ex2.append_message("c.cc", 3, 3, "ignored");
  ex2 << ltt::msgarg_text("b", "2");
  EXPECT_EQ(ex2.begin()->status(), ltt::exception_node::status_node_dropped);
  EXPECT_EQ(expand_all(ex2), "1");
}

}  // namespace
