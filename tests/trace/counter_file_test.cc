#include "trace/counter_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "private_home.h"

namespace NEBRIX {
namespace {

const std::string kHead = "NEBRIX profile 1\npid 42\n";

// Each is refused whole, and the caller's data stays as it was.
TEST(CounterFile, RefusesEveryDamagedFile) {
  const std::string v = "NEBRIX profile ", h = kHead;
  const std::string inputs[] = {
      "", v + "1\n", v + "2\npid 42\n", v + "1 \npid 42\n", v + "1\r\npid 42\n", v + "1\npid 0\n", v + "1\npid -5\n",
      v + "1\npid 2147483648\n", v + "1\npid +42\n", v + "1\npid 42", v + "1\nq 1\n", h + "q 1", h + "q 1\n\n", h + "q\n",
      h + "q \n", h + " 1\n", h + "q  1\n", h + "q +1\n", h + "q 1 \n", h + "q 1\r\n", h + "q 0x10\n", h + "q 1e3\n", h + "q 01\n", h + "q -0\n", v + "1\npid 042\n",
      h + "q -\n", h + "q 9223372036854775808\n", h + "q -9223372036854775809\n", h + "q\t1\n", h + "q\xe9 1\n",
      h + std::string("q\0 1\n", 5), h + std::string(65, 'n') + " 1\n", h + "q 1\nr 2\nq 3\n",
      h + std::string(kMaxCounterFileSize, 'x'),
  };
  for (const std::string& input : inputs) {
    ProcessCounters data{7, {}};
    EXPECT_FALSE(parseCounterFile(input, data)) << input.substr(0, 80);
    EXPECT_EQ(data.pid, 7);
  }
}

TEST(CounterFile, RoundTripsTheLimits) {
  const ProcessCounters data{INT32_MAX, {{std::string(64, '~'), INT64_MIN}, {"!", INT64_MAX}, {"a.b/c", 0}}};
  const std::string text = formatCounterFile(data);
  ProcessCounters back{};
  EXPECT_TRUE(parseCounterFile(text, back) && formatCounterFile(back) == text);
  EXPECT_EQ(text, "NEBRIX profile 1\npid 2147483647\n" + std::string(64, '~') +
                      " -9223372036854775808\n! 9223372036854775807\na.b/c 0\n");
  EXPECT_TRUE(parseCounterFile(kHead, back) && back.counters.empty());
}

// The file is replaced whole, with mode 0600; a failed write leaves no file
// beside it, and data a reader would skip is not written.
TEST(CounterFile, WritesFindsAndReadsFiles) {
  const std::string dir = nebrix_test::privateHomeDirectory();
  int error = 0;
  const ProcessCounters data{4711, {{"q", 5}}};
  for (const char* name : {"/p-1.prt", "/p-4711.prt", "/p-.prt", "/p-12x.prt", "/q-1.prt", "/p-1.prt.1.tmp",
                           "/12-12.prt", "/12-13.prt"}) {
    ASSERT_TRUE(writeCounterFile(dir + name, data, error)) << error;
  }
  ASSERT_TRUE(writeCounterFile(dir + "/p-1.prt", {1, {{"r", -1}}}, error));
  ASSERT_EQ(symlink((dir + "/p-1.prt").c_str(), (dir + "/p-2.prt").c_str()), 0);
  ASSERT_EQ(mkdir((dir + "/p-3.prt").c_str(), 0700), 0);
  EXPECT_FALSE(writeCounterFile(dir + "/p-1.prt", {1, {{"r", 1}, {"r", 2}}}, error));
  EXPECT_EQ(error, EINVAL);
  EXPECT_FALSE(writeCounterFile(dir + "/p-3.prt", data, error));  // a directory is not replaced
  EXPECT_EQ(error, EISDIR);
  EXPECT_EQ(nebrix_test::fileMode(dir + "/p-3.prt." + std::to_string(getpid()) + ".tmp"), -1);
  EXPECT_EQ(findCounterFiles(dir, "p-%p.prt"), (std::vector<std::string>{dir + "/p-1.prt", dir + "/p-4711.prt"}));
  EXPECT_EQ(findCounterFiles(dir, "q-1.prt"), std::vector<std::string>{dir + "/q-1.prt"});
  EXPECT_EQ(findCounterFiles(dir, "%p-%p.prt"), std::vector<std::string>{dir + "/12-12.prt"});
  EXPECT_EQ(nebrix_test::fileMode(dir + "/p-1.prt"), 0600);
  ProcessCounters back{};
  std::string problem;
  EXPECT_FALSE(readCounterFile(dir + "/p-2.prt", back, problem));
  EXPECT_EQ(problem, "Too many levels of symbolic links");
  if (geteuid() == 0) {  // root can give a file away
    ASSERT_EQ(chown((dir + "/p-1.prt").c_str(), 1, 1), 0);
    EXPECT_FALSE(readCounterFile(dir + "/p-1.prt", back, problem));
    EXPECT_EQ(problem, "owned by another user");
  }
}

}  // namespace
}  // namespace NEBRIX
