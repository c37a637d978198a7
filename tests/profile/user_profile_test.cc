#include "profile/user_profile.h"

#include <sys/stat.h>
#include <sys/utsname.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "base/error_code_table.h"
#include "base/exception.h"
#include "private_home.h"

namespace SecureStore {
namespace UserProfile {
namespace {

using nebrix_test::privateHomeDirectory;

std::string nodeName() {
  struct utsname names;
  uname(&names);
  return names.nodename;
}
mode_t modeOf(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}
// The error number and expanded message of what call throws; {0, ""} when it does not throw.
std::pair<int, std::string> failureOf(const std::function<void()>& call) {
  std::ostringstream text;
  try {
    call();
  } catch (const ltt::exception& ex) {
    ex.expandAll(text);
    return {ex.error_no(), text.str()};
  }
  return {0, ""};
}
std::string profilePath(const char* virtualhost = "", bool allowOverride = false, bool optionGiven = false) {
  std::string path = "old content";
  getUserProfilePath(path, virtualhost, allowOverride, optionGiven);
  return path;
}

class UserProfileTest : public testing::Test {
 protected:
  void SetUp() override {
    nebrix_test::removeTree(privateHomeDirectory() + "/.orq");
    unsetenv("ORQ_USE_IDENT");
  }
};

TEST_F(UserProfileTest, CreatesBothLevelsPrivately) {
  const std::string path = profilePath();
  EXPECT_EQ(path, privateHomeDirectory() + "/.orq/" + nodeName());
  EXPECT_EQ(modeOf(privateHomeDirectory() + "/.orq"), 0700u);
  EXPECT_EQ(modeOf(path), 0700u);
  // Existing directories are used whatever their mode.
  chmod(path.c_str(), 0755);
  EXPECT_EQ(profilePath(), path);
  EXPECT_EQ(modeOf(path), 0755u);
}

TEST_F(UserProfileTest, HostPartChoice) {
  setenv("ORQ_USE_IDENT", "team_a-1", 1);
  const struct {
    const char* virtualhost;
    bool allowOverride, optionGiven;
    std::string host;
  } cases[] = {
      {"", false, false, nodeName()},   {"vhost", false, false, "vhost"}, {"", true, false, "team_a-1"},
      {"vhost", true, false, "team_a-1"}, {"vhost", true, true, "vhost"},   {"", true, true, nodeName()},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(profilePath(c.virtualhost, c.allowOverride, c.optionGiven), privateHomeDirectory() + "/.orq/" + c.host)
        << c.virtualhost << " " << c.allowOverride << " " << c.optionGiven;
  }
  setenv("ORQ_USE_IDENT", "team.a", 1);  // not a valid identity: ignored
  EXPECT_EQ(profilePath("", true, false), privateHomeDirectory() + "/.orq/" + nodeName());
}

TEST_F(UserProfileTest, IdentityRule) {
  for (const char* valid : {"team_a-1", "A"}) EXPECT_TRUE(ident_is_valid(valid)) << valid;
  EXPECT_FALSE(ident_is_valid(nullptr));
  for (const char* invalid : {"", "team.a", "a/b", "a b", "\xe4"}) EXPECT_FALSE(ident_is_valid(invalid)) << invalid;
}

TEST_F(UserProfileTest, PlainFileInsteadOfDirectoryIsPrintedAndRefused) {
  const std::string orq = privateHomeDirectory() + "/.orq";
  std::ofstream(orq) << "not a directory";
  testing::internal::CaptureStdout();
  EXPECT_EQ(failureOf([] { profilePath(); }),
            std::make_pair(SecureStore__ERR_SECSTORE_DIRECTORY_UNAVAILABLE().number(),
                           "File " + orq + " exists and is not a directory, cannot read or store profile data"));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), orq + "\n");
}

TEST_F(UserProfileTest, FailingSystemCallsNameTheCall) {
  const std::string file = privateHomeDirectory() + "/plain";
  std::ofstream(file) << "x";
  const struct {
    std::string path, call;
    int rc;
  } cases[] = {{privateHomeDirectory() + "/missing/level", "mkdir", ENOENT}, {file + "/below", "stat", ENOTDIR}};
  for (const auto& c : cases) {
    EXPECT_EQ(failureOf([&] { checkDirectory(c.path); }),
              std::make_pair(SecureStore__ERR_SECSTORE_SYSTEM_CALL_FAILED().number(),
                             "System call '" + c.call + "' failed, rc=" + std::to_string(c.rc) + ":" + strerror(c.rc)));
  }
  std::remove(file.c_str());
}

TEST_F(UserProfileTest, ImpersonationIsAlwaysRefused) {
  const int impersonation = SecureStore__ERR_SECSTORE_USE_SUDO_FOR_IMPERSONATION().number();
  std::string path;
  for (bool allow : {false, true}) {
    EXPECT_EQ(failureOf([&] { openUserProfilePath(path, "other", "", allow); }).first, impersonation);
    EXPECT_EQ(failureOf([&] { closeUserProfilePath("other", "", allow); }).first, impersonation);
  }
  EXPECT_EQ(failureOf([] { setOwner("/tmp/x", "other"); }).first, impersonation);
  EXPECT_EQ(modeOf(privateHomeDirectory() + "/.orq"), 0u);  // nothing was created
}

}  // namespace
}  // namespace UserProfile
}  // namespace SecureStore
