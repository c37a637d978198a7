#include "profile/user_profile.h"

#include <sys/stat.h>
#include <sys/utsname.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "base/error_codes.h"
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

std::string expanded(const ltt::exception& ex) {
  std::ostringstream text;
  ex.expandAll(text);
  return text.str();
}

class UserProfileTest : public testing::Test {
 protected:
  void SetUp() override {
    nebrix_test::removeTree(privateHomeDirectory() + "/.orq");
    unsetenv("ORQ_USE_IDENT");
  }
};

TEST_F(UserProfileTest, CreatesBothLevelsPrivately) {
  std::string path = "old content";
  getUserProfilePath(path, "", false, false);
  EXPECT_EQ(path, privateHomeDirectory() + "/.orq/" + nodeName());
  EXPECT_EQ(modeOf(privateHomeDirectory() + "/.orq"), 0700u);
  EXPECT_EQ(modeOf(path), 0700u);

  // Existing directories are used whatever their mode.
  chmod(path.c_str(), 0755);
  std::string again;
  getUserProfilePath(again, "", false, false);
  EXPECT_EQ(again, path);
  EXPECT_EQ(modeOf(path), 0755u);
}

TEST_F(UserProfileTest, HostPartChoice) {
  setenv("ORQ_USE_IDENT", "team_a-1", 1);
  const struct {
    const char* virtualhost;
    bool allowOverride;
    bool optionGiven;
    std::string host;
  } cases[] = {
      {"", false, false, nodeName()},
      {"vhost", false, false, "vhost"},
      {"", true, false, "team_a-1"},
      {"vhost", true, false, "team_a-1"},
      {"vhost", true, true, "vhost"},
      {"", true, true, nodeName()},
  };
  for (const auto& c : cases) {
    std::string path;
    getUserProfilePath(path, c.virtualhost, c.allowOverride, c.optionGiven);
    EXPECT_EQ(path, privateHomeDirectory() + "/.orq/" + c.host)
        << c.virtualhost << " " << c.allowOverride << " " << c.optionGiven;
  }
  setenv("ORQ_USE_IDENT", "team.a", 1);  // not a valid identity: ignored
  std::string path;
  getUserProfilePath(path, "", true, false);
  EXPECT_EQ(path, privateHomeDirectory() + "/.orq/" + nodeName());
}

TEST_F(UserProfileTest, IdentityRule) {
  const struct {
    const char* ident;
    bool valid;
  } cases[] = {{"team_a-1", true}, {"A", true}, {nullptr, false}, {"", false},
               {"team.a", false}, {"a/b", false}, {"a b", false}, {"\xe4", false}};
  for (const auto& c : cases) EXPECT_EQ(ident_is_valid(c.ident), c.valid) << (c.ident ? c.ident : "null");
}

TEST_F(UserProfileTest, PlainFileInsteadOfDirectoryIsPrintedAndRefused) {
  const std::string orq = privateHomeDirectory() + "/.orq";
  std::ofstream(orq) << "not a directory";
  testing::internal::CaptureStdout();
  try {
    std::string path;
    getUserProfilePath(path, "", false, false);
    ADD_FAILURE() << "no exception";
  } catch (const ltt::exception& ex) {
    EXPECT_EQ(ex.error_no(), SecureStore__ERR_SECSTORE_DIRECTORY_UNAVAILABLE().number());
    EXPECT_EQ(expanded(ex),
              "File " + orq + " exists and is not a directory, cannot read or store profile data");
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(), orq + "\n");
}

TEST_F(UserProfileTest, FailingSystemCallsNameTheCall) {
  const std::string file = privateHomeDirectory() + "/plain";
  std::ofstream(file) << "x";
  const struct {
    std::string path;
    std::string call;
    int rc;
  } cases[] = {
      {privateHomeDirectory() + "/missing/level", "mkdir", ENOENT},
      {file + "/below", "stat", ENOTDIR},
  };
  for (const auto& c : cases) {
    try {
      checkDirectory(c.path);
      ADD_FAILURE() << c.path;
    } catch (const ltt::exception& ex) {
      EXPECT_EQ(ex.error_no(), SecureStore__ERR_SECSTORE_SYSTEM_CALL_FAILED().number());
      EXPECT_EQ(expanded(ex), "System call '" + c.call + "' failed, rc=" + std::to_string(c.rc) + ":" +
                                  strerror(c.rc));
    }
  }
  std::remove(file.c_str());
}

TEST_F(UserProfileTest, ImpersonationIsAlwaysRefused) {
  const int impersonation = SecureStore__ERR_SECSTORE_USE_SUDO_FOR_IMPERSONATION().number();
  std::string path;
  for (bool allow : {false, true}) {
    try {
      openUserProfilePath(path, "other", "", allow);
      ADD_FAILURE();
    } catch (const ltt::exception& ex) {
      EXPECT_EQ(ex.error_no(), impersonation);
      EXPECT_STREQ(ex.what(), "Impersonation not supported, use sudo on this platform");
    }
    EXPECT_THROW(closeUserProfilePath("other", "", allow), ltt::exception);
  }
  EXPECT_THROW(setOwner("/tmp/x", "other"), ltt::exception);
  EXPECT_EQ(modeOf(privateHomeDirectory() + "/.orq"), 0u);  // nothing was created
}

}  // namespace
}  // namespace UserProfile
}  // namespace SecureStore
