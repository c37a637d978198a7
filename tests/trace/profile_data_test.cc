#include "trace/profile_data.h"

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

TEST(ProfileData, RefusesEveryDamagedFile) {
  const std::string name64(64, 'n');
  const char* const damaged[] = {
      "", "NEBRIX profile 1\n", "NEBRIX profile 2\npid 42\n", "NEBRIX profile 1 \npid 42\n",
      "NEBRIX profile 1\r\npid 42\n", "NEBRIX profile 1\npid 0\n", "NEBRIX profile 1\npid -5\n",
      "NEBRIX profile 1\npid 2147483648\n", "NEBRIX profile 1\npid +42\n", "NEBRIX profile 1\npid 42",
      "NEBRIX profile 1\nqueries 1\n",
  };
  const std::string counters[] = {
      "q 1",  // not ended
      "q 1\n\n", "q\n", "q \n", " 1\n", "q  1\n", "q +1\n", "q 1 \n", "q 1\r\n", "q 0x10\n", "q 1e3\n", "q -\n",
      "q 9223372036854775808\n", "q -9223372036854775809\n", "q\t1\n", "q\xe9 1\n", std::string("q\0 1\n", 5),
      name64 + "x 1\n", "q 1\nr 2\nq 3\n",
  };
  std::vector<std::string> inputs(std::begin(damaged), std::end(damaged));
  for (const std::string& tail : counters) inputs.push_back(kHead + tail);
  inputs.push_back(kHead + std::string(kMaxProfileFileSize, 'x'));
  for (const std::string& input : inputs) {
    ProfileData data{7, {{"kept", 1}}};
    EXPECT_FALSE(parseProfileData(input, data)) << input.substr(0, 80);
    EXPECT_EQ(data.pid, 7);  // untouched
  }
}

TEST(ProfileData, RoundTripsTheLimits) {
  const ProfileData data{INT32_MAX, {{std::string(64, '~'), INT64_MIN}, {"!", INT64_MAX}, {"a.b/c", 0}}};
  const std::string text = formatProfileData(data);
  ProfileData back{};
  std::string problem;
  ASSERT_TRUE(parseProfileData(text, back, &problem)) << problem;
  EXPECT_EQ(formatProfileData(back), text);
  EXPECT_EQ(text, "NEBRIX profile 1\npid 2147483647\n" + std::string(64, '~') +
                      " -9223372036854775808\n! 9223372036854775807\na.b/c 0\n");
  EXPECT_TRUE(parseProfileData(kHead, back) && back.counters.empty());
  EXPECT_FALSE(parseProfileData(kHead + "q 1\nq 2\n", back, &problem));
  EXPECT_EQ(problem, "line 4: the counter name appears twice");
}

TEST(ProfileData, CounterNamesAreMadeValid) {
  const std::string longName(70, 'x');
  const std::pair<const char*, std::string> cases[] = {
      {nullptr, "_"}, {"", "_"}, {"rows read", "rows_read"}, {"caf\xc3\xa9\t~", "caf___~"},
      {longName.c_str(), longName.substr(0, 64)},
  };
  for (const auto& [name, valid] : cases) EXPECT_EQ(profileCounterName(name), valid);
}

// The file is replaced whole, with mode 0600 and no file left beside it;
// data a reader would skip is not written.
TEST(ProfileData, WritesFindsAndReadsFiles) {
  const std::string dir = nebrix_test::privateHomeDirectory();
  int error = 0;
  const ProfileData data{4711, {{"q", 5}}};
  for (const char* name : {"/p-1.prt", "/p-4711.prt", "/p-.prt", "/p-12x.prt", "/q-1.prt", "/p-1.prt.1.tmp",
                           "/12-12.prt", "/12-13.prt"}) {
    ASSERT_TRUE(writeProfileFile(dir + name, data, error)) << error;
  }
  ASSERT_TRUE(writeProfileFile(dir + "/p-1.prt", {1, {{"r", -1}}}, error));
  ASSERT_EQ(symlink((dir + "/p-1.prt").c_str(), (dir + "/p-2.prt").c_str()), 0);
  ASSERT_EQ(mkdir((dir + "/p-3.prt").c_str(), 0700), 0);
  EXPECT_FALSE(writeProfileFile(dir + "/p-1.prt", {1, {{"r", 1}, {"r", 2}}}, error));
  EXPECT_EQ(error, EINVAL);
  EXPECT_FALSE(writeProfileFile(dir + "/p-3.prt", data, error));
  EXPECT_EQ(error, EISDIR);

  EXPECT_EQ(findProfileFiles(dir, "p-%p.prt"), (std::vector<std::string>{dir + "/p-1.prt", dir + "/p-4711.prt"}));
  EXPECT_EQ(findProfileFiles(dir, "q-1.prt"), std::vector<std::string>{dir + "/q-1.prt"});
  EXPECT_EQ(findProfileFiles(dir, "%p-%p.prt"), std::vector<std::string>{dir + "/12-12.prt"});
  EXPECT_EQ(nebrix_test::fileMode(dir + "/p-1.prt"), 0600);
  EXPECT_EQ(nebrix_test::fileMode(dir + "/p-1.prt." + std::to_string(getpid()) + ".tmp"), -1);
  ProfileData back{};
  std::string problem;
  ASSERT_TRUE(readProfileFile(dir + "/p-1.prt", back, problem)) << problem;
  EXPECT_EQ(formatProfileData(back), "NEBRIX profile 1\npid 1\nr -1\n");
  EXPECT_FALSE(readProfileFile(dir + "/p-2.prt", back, problem));
  EXPECT_EQ(problem, "Too many levels of symbolic links");
}

}  // namespace
}  // namespace NEBRIX
