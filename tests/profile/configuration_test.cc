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

using Getter = NEBRIX_Retcode (*)(const char*, const char*, const char*, char*, size_t, char*, size_t);
using Setter = NEBRIX_Retcode (*)(const char*, const char*, const char*, const char*, char*, size_t);

class ConfigurationTest : public testing::Test {
 protected:
  void SetUp() override { nebrix_test::removeTree(nebrix_test::privateHomeDirectory() + "/.orq"); }

  std::string profileDirectory() const {
    std::string path;
    SecureStore::UserProfile::getUserProfilePath(path, "", false, false);
    return path;
  }
  // The raw value of a record, or "<missing>".
  std::string record(const char* key) const {
    const std::string path = profileDirectory();
    MERO_RSecSSFsSetConfiguration("ORQ", path.c_str(), path.c_str());
    MERO_RSecSSFsGetRecordAPI* api = MERO_RSecSSFsGetRecordAPIGet();
    api->in_pKey = key;
    MERO_RSecSSFsGetRecord(api);
    std::string result = "<missing>";
    if (api->out_pProcessingInfo->rc == RSEC_SSFS_RC_OK) {
      result = api->out_pValue;
      EXPECT_TRUE(api->out_isStoredAsPlaintext);
    }
    MERO_RSecSSFsGetRecordAPIRelease(api);
    return result;
  }
  NEBRIX_Retcode get(Getter f, const char* component = "NEBRIX", char* out = nullptr, size_t size = 1024) {
    return f(nullptr, component, nullptr, out ? out : value, size, errortext, sizeof errortext);
  }
  NEBRIX_Retcode set(Setter f, const char* text) {
    return f(nullptr, "NEBRIX", nullptr, text, errortext, sizeof errortext);
  }

  char value[1024] = "";
  char errortext[512] = "";
};

TEST_F(ConfigurationTest, FirstReadsOfAFreshProfile) {
  EXPECT_EQ(get(Configuration::getTraceFlags), NEBRIX_OK);
  EXPECT_STREQ(value, "");
  EXPECT_FALSE(std::ifstream(profileDirectory() + "/SSFS_ORQ.DAT").good());  // nothing was written

  EXPECT_EQ(get(Configuration::getTraceFileName, nullptr), NEBRIX_OK);
  EXPECT_STREQ(value, "nebrixtrace-%p.prt");
  EXPECT_EQ(record("ORQ/NEBRIX/TRACEFILENAME"), "nebrixtrace-%p.prt");
  const char* sharedMemoryNames[][2] = {{"NEBRIX", "nebrixtrace.shm"}, {"", "nebrixtrace.shm"}, {"Client", "clienttrace.shm"}};
  for (const auto& c : sharedMemoryNames) {
    EXPECT_EQ(get(Configuration::getSharedMemoryName, c[0]), NEBRIX_OK);
    EXPECT_STREQ(value, c[1]);
  }
  EXPECT_EQ(record("ORQ/CLIENT/TRACESHAREDMEMORY"), "clienttrace.shm");
  // Only an absolute name is a full shared-memory name.
  EXPECT_EQ(get(Configuration::getFullSharedMemoryName, "Client"), NEBRIX_NOT_OK);
}

TEST_F(ConfigurationTest, ValuesAreStoredAsPlaintextRecords) {
  ASSERT_EQ(set(Configuration::setTraceFlags, "c:a"), NEBRIX_OK);
  EXPECT_EQ(record("ORQ/NEBRIX/TRACEFLAGS"), "c:a");
  // A value longer than the caller's buffer is cut and still read.
  char small[3] = "";
  EXPECT_EQ(get(Configuration::getTraceFlags, "NEBRIX", small, sizeof small), NEBRIX_OK);
  EXPECT_STREQ(small, "c:");
  // Names typed in UTF-8 are kept as they are; other 8-bit text becomes UTF-8.
  for (const char* typed : {"/tmp/j\xc3\xbcrgen.prt", "/tmp/j\xfcrgen.prt"}) {
    ASSERT_EQ(set(Configuration::setTraceFileName, typed), NEBRIX_OK);
    EXPECT_EQ(record("ORQ/NEBRIX/TRACEFILENAME"), "/tmp/j\xc3\xbcrgen.prt");
  }
}

TEST_F(ConfigurationTest, FileNameLengthLimit) {
  const std::string longest = "/" + std::string(1022, 'n');
  EXPECT_EQ(set(Configuration::setTraceFileName, longest.c_str()), NEBRIX_OK);
  strcpy(errortext, "untouched");
  EXPECT_EQ(set(Configuration::setProfileFileName, (longest + "n").c_str()), NEBRIX_NOT_OK);
  EXPECT_STREQ(errortext, "untouched");
  EXPECT_EQ(set(Configuration::setTraceFileName, nullptr), NEBRIX_NOT_OK);
  // The absolute name fits a 1024-byte buffer, not a smaller one.
  EXPECT_EQ(get(Configuration::getFullTraceFileName), NEBRIX_OK);
  EXPECT_EQ(value, longest);
  EXPECT_EQ(get(Configuration::getFullTraceFileName, "NEBRIX", value, 1000), NEBRIX_NOT_OK);
}

TEST_F(ConfigurationTest, MakingNamesAbsolute) {
  const std::string directory = nebrix_test::privateHomeDirectory();
  char previous[512];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir(directory.c_str()), 0);
  const struct {
    const char* name;
    size_t length;
    std::string expected;  // "" when it fails
  } cases[] = {
      {"/abs/p-%p.prt", 1024, "/abs/p-%p.prt"}, {"./prof.prt", 1024, directory + "/prof.prt"},
      {".\\prof.prt", 1024, directory + "/prof.prt"}, {"nebrixprofile-%p.prt", 1024, ""}, {"../up.prt", 1024, ""},
      {"./prof.prt", directory.size() + 10, ""},  // directory + name + 1 exceeds it
      {"/abs", 4, ""},
  };
  for (const auto& c : cases) {
    char full[1024] = "";
    EXPECT_EQ(Configuration::getFullFileName(nullptr, "NEBRIX", nullptr, c.name, full, c.length, errortext,
                                             sizeof errortext),
              c.expected.empty() ? NEBRIX_NOT_OK : NEBRIX_OK)
        << c.name;
    if (!c.expected.empty()) { EXPECT_EQ(full, c.expected); }
  }
  // The default profile file name is relative: no full name, no message.
  errortext[0] = '\0';
  EXPECT_EQ(get(Configuration::getFullProfileFileName), NEBRIX_NOT_OK);
  EXPECT_STREQ(errortext, "");
  ASSERT_EQ(chdir(previous), 0);
}

TEST_F(ConfigurationTest, FailuresAndTheirTexts) {
  // A missing record only reads as empty flags when its message fits.
  char tiny[10] = "";
  EXPECT_EQ(Configuration::getTraceFlags(nullptr, "NEBRIX", nullptr, value, sizeof value, tiny, sizeof tiny),
            NEBRIX_NOT_OK);
  EXPECT_STREQ(tiny, "error pro");
  // A data file that is no store: the low-level read fails with the store's words.
  std::ofstream(profileDirectory() + "/SSFS_ORQ.DAT") << std::string(200, 'x');
  tsp00_ErrTextc err = "";
  RTE_IniFileResult inires = 1;
  RTE_GetUserConfigString(nullptr, "dummy", "NEBRIX", "TRACEFLAGS", nullptr, value, sizeof value, err, inires);
  EXPECT_EQ(inires, 0);
  EXPECT_STREQ(err, "error getuser");
}

}  // namespace
}  // namespace NEBRIX
