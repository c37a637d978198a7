#include "profile/configuration.h"

#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "private_home.h"
#include "profile/user_profile.h"
#include "securestore/rsecssfs.h"

namespace NEBRIX {
namespace {

class ConfigurationTest : public testing::Test {
 protected:
  void SetUp() override { nebrix_test::removeTree(nebrix_test::privateHomeDirectory() + "/.orq"); }

  std::string dataFile() const {
    std::string path;
    SecureStore::UserProfile::getUserProfilePath(path, "", false, false);
    return path + "/SSFS_ORQ.DAT";
  }
  // The raw value of a record, or "<missing>".
  std::string record(const char* key) const {
    std::string path;
    SecureStore::UserProfile::getUserProfilePath(path, "", false, false);
    MERO_RSecSSFsSetConfiguration("ORQ", path.c_str(), path.c_str());
    MERO_RSecSSFsGetRecordAPI* api = MERO_RSecSSFsGetRecordAPIGet();
    api->in_pKey = key;
    MERO_RSecSSFsGetRecord(api);
    std::string value = "<missing>";
    if (api->out_pProcessingInfo->rc == RSEC_SSFS_RC_OK) {
      value = api->out_pValue;
      EXPECT_TRUE(api->out_isStoredAsPlaintext);
    }
    MERO_RSecSSFsGetRecordAPIRelease(api);
    return value;
  }

  char value[1024] = "";
  char errortext[512] = "";
};

TEST_F(ConfigurationTest, FirstReadsOfAFreshProfile) {
  EXPECT_EQ(Configuration::getTraceFlags(nullptr, "NEBRIX", nullptr, value, sizeof value, errortext,
                                         sizeof errortext),
            NEBRIX_OK);
  EXPECT_STREQ(value, "");
  EXPECT_FALSE(std::ifstream(dataFile()).good());  // nothing was written

  EXPECT_EQ(Configuration::getTraceFileName(nullptr, nullptr, nullptr, value, sizeof value, errortext,
                                            sizeof errortext),
            NEBRIX_OK);
  EXPECT_STREQ(value, "nebrixtrace-%p.prt");
  EXPECT_EQ(record("ORQ/NEBRIX/TRACEFILENAME"), "nebrixtrace-%p.prt");

  const struct {
    const char* component;
    const char* expected;
  } sharedMemoryNames[] = {{"NEBRIX", "nebrixtrace.shm"}, {"", "nebrixtrace.shm"}, {"Client", "clienttrace.shm"}};
  for (const auto& c : sharedMemoryNames) {
    EXPECT_EQ(Configuration::getSharedMemoryName(nullptr, c.component, nullptr, value, sizeof value, errortext,
                                                 sizeof errortext),
              NEBRIX_OK);
    EXPECT_STREQ(value, c.expected);
  }
  EXPECT_EQ(record("ORQ/CLIENT/TRACESHAREDMEMORY"), "clienttrace.shm");
  // Only an absolute name is a full shared-memory name.
  EXPECT_EQ(Configuration::getFullSharedMemoryName(nullptr, "Client", nullptr, value, sizeof value, errortext,
                                                   sizeof errortext),
            NEBRIX_NOT_OK);
}

TEST_F(ConfigurationTest, ValuesAreStoredAsPlaintextRecords) {
  ASSERT_EQ(Configuration::setTraceFlags(nullptr, "NEBRIX", nullptr, "c:a", errortext, sizeof errortext), NEBRIX_OK);
  EXPECT_EQ(record("ORQ/NEBRIX/TRACEFLAGS"), "c:a");

  // A value longer than the caller's buffer is cut and still read.
  char small[3] = "";
  EXPECT_EQ(Configuration::getTraceFlags(nullptr, "NEBRIX", nullptr, small, sizeof small, errortext,
                                         sizeof errortext),
            NEBRIX_OK);
  EXPECT_STREQ(small, "c:");

  // Names typed in UTF-8 are kept as they are; other 8-bit text becomes UTF-8.
  const struct {
    const char* typed;
    const char* stored;
  } names[] = {{"/tmp/j\xc3\xbcrgen.prt", "/tmp/j\xc3\xbcrgen.prt"}, {"/tmp/j\xfcrgen.prt", "/tmp/j\xc3\xbcrgen.prt"}};
  for (const auto& n : names) {
    ASSERT_EQ(Configuration::setTraceFileName(nullptr, "NEBRIX", nullptr, n.typed, errortext, sizeof errortext),
              NEBRIX_OK);
    EXPECT_EQ(record("ORQ/NEBRIX/TRACEFILENAME"), n.stored);
  }
}

TEST_F(ConfigurationTest, FileNameLengthLimit) {
  const std::string longest = "/" + std::string(1022, 'n');
  EXPECT_EQ(Configuration::setTraceFileName(nullptr, "NEBRIX", nullptr, longest.c_str(), errortext,
                                            sizeof errortext),
            NEBRIX_OK);
  strcpy(errortext, "untouched");
  EXPECT_EQ(Configuration::setProfileFileName(nullptr, "NEBRIX", nullptr, (longest + "n").c_str(), errortext,
                                              sizeof errortext),
            NEBRIX_NOT_OK);
  EXPECT_STREQ(errortext, "untouched");
  EXPECT_EQ(Configuration::setTraceFileName(nullptr, "NEBRIX", nullptr, nullptr, errortext, sizeof errortext),
            NEBRIX_NOT_OK);

  // The absolute name fits a 1024-byte buffer, not a smaller one.
  EXPECT_EQ(Configuration::getFullTraceFileName(nullptr, "NEBRIX", nullptr, value, sizeof value, errortext,
                                                sizeof errortext),
            NEBRIX_OK);
  EXPECT_EQ(value, longest);
  char shorter[1000];
  EXPECT_EQ(Configuration::getFullTraceFileName(nullptr, "NEBRIX", nullptr, shorter, sizeof shorter, errortext,
                                                sizeof errortext),
            NEBRIX_NOT_OK);
}

TEST_F(ConfigurationTest, MakingNamesAbsolute) {
  const std::string directory = nebrix_test::privateHomeDirectory();
  char previous[512];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir(directory.c_str()), 0);
  const struct {
    const char* name;
    size_t length;
    NEBRIX_Retcode rc;
    std::string expected;
  } cases[] = {
      {"/abs/p-%p.prt", 1024, NEBRIX_OK, "/abs/p-%p.prt"},
      {"./prof.prt", 1024, NEBRIX_OK, directory + "/prof.prt"},
      {".\\prof.prt", 1024, NEBRIX_OK, directory + "/prof.prt"},
      {"nebrixprofile-%p.prt", 1024, NEBRIX_NOT_OK, ""},
      {"../up.prt", 1024, NEBRIX_NOT_OK, ""},
      {"./prof.prt", directory.size() + 10, NEBRIX_NOT_OK, ""},  // directory + name + 1 exceeds it
      {"/abs", 4, NEBRIX_NOT_OK, ""},
  };
  for (const auto& c : cases) {
    char full[1024] = "";
    EXPECT_EQ(Configuration::getFullFileName(nullptr, "NEBRIX", nullptr, c.name, full, c.length, errortext,
                                             sizeof errortext),
              c.rc)
        << c.name;
    if (c.rc == NEBRIX_OK) {
      EXPECT_EQ(full, c.expected);
    }
  }
  // The default profile file name is relative: no full name, no message.
  errortext[0] = '\0';
  EXPECT_EQ(Configuration::getFullProfileFileName(nullptr, "NEBRIX", nullptr, value, sizeof value, errortext,
                                                  sizeof errortext),
            NEBRIX_NOT_OK);
  EXPECT_STREQ(errortext, "");
  ASSERT_EQ(chdir(previous), 0);
}

TEST_F(ConfigurationTest, FailuresAndTheirTexts) {
  const std::string refused = "profile path error: Impersonation not supported, use sudo on this platform";
  EXPECT_EQ(Configuration::getTraceFlags("other", "NEBRIX", nullptr, value, sizeof value, errortext,
                                         sizeof errortext),
            NEBRIX_NOT_OK);
  EXPECT_EQ(errortext, refused);
  EXPECT_EQ(Configuration::setTraceFlags("other", "NEBRIX", nullptr, "a", errortext, sizeof errortext),
            NEBRIX_NOT_OK);
  EXPECT_EQ(errortext, refused);

  // A missing record only reads as empty flags when its message fits.
  char tiny[10] = "";
  EXPECT_EQ(Configuration::getTraceFlags(nullptr, "NEBRIX", nullptr, value, sizeof value, tiny, sizeof tiny),
            NEBRIX_NOT_OK);
  EXPECT_STREQ(tiny, "error pro");

  // A data file that is no store: reads and writes fail with the store's words.
  std::ofstream(dataFile()) << std::string(200, 'x');
  EXPECT_EQ(Configuration::setTraceFlags(nullptr, "NEBRIX", nullptr, "a", errortext, sizeof errortext),
            NEBRIX_NOT_OK);
  EXPECT_STREQ(errortext, "error putuser");
  tsp00_ErrTextc err = "";
  RTE_IniFileResult inires = 1;
  RTE_GetUserConfigString(nullptr, "dummy", "NEBRIX", "TRACEFLAGS", nullptr, value, sizeof value, err, inires);
  EXPECT_EQ(inires, 0);
  EXPECT_STREQ(err, "error getuser");

  // A plain file where the profile directory should be.
  nebrix_test::removeTree(nebrix_test::privateHomeDirectory() + "/.orq");
  std::ofstream(nebrix_test::privateHomeDirectory() + "/.orq") << "x";
  testing::internal::CaptureStdout();
  EXPECT_EQ(Configuration::setTraceFlags(nullptr, "NEBRIX", nullptr, "a", errortext, sizeof errortext),
            NEBRIX_NOT_OK);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(std::string(errortext), "profile path error: File " + nebrix_test::privateHomeDirectory() +
                                        "/.orq exists and is not a directory, cannot read or store profile data");
  nebrix_test::removeTree(nebrix_test::privateHomeDirectory() + "/.orq");
}

}  // namespace
}  // namespace NEBRIX
