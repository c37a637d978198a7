// Where the store's files come from: explicit configuration, environment,
// and the leftover backups of a conversion.
#include "securestore/configuration.h"

#include <cstdlib>

#include "store_test_support.h"

namespace store_test {
namespace {

class ConfigurationTest : public StoreTest {
 protected:
  void TearDown() override {
    for (const char* name : {"VXRSYSTEMNAME", "RSEC_SSFS_DATAPATH", "RSEC_SSFS_KEYPATH"}) unsetenv(name);
    StoreTest::TearDown();
  }
  void setEnvironment(const char* system, const std::string& data, const std::string& key) {
    setenv("VXRSYSTEMNAME", system, 1);
    setenv("RSEC_SSFS_DATAPATH", data.c_str(), 1);
    setenv("RSEC_SSFS_KEYPATH", key.c_str(), 1);
  }
};

const char* const kNotAll =
    "Not all configuration data (systemname, datapath, keypath) could be determined from profile or "
    "environment";
const char* const kNoProfile =
    "VXR-Profile is not used; in this case, all three environment parameters VXRSYSTEMNAME, "
    "RSEC_SSFS_DATAPATH and "
    "RSEC_SSFS_KEYPATH must exist and have non-initial values";

TEST_F(ConfigurationTest, ExplicitConfigurationWinsOverTheEnvironment) {
  setEnvironment("ENV", dir_, dir_);
  ASSERT_EQ(put("ORQ/A", "a").rc, RSEC_SSFS_RC_OK);
  EXPECT_TRUE(exists(dataFile()));
  EXPECT_FALSE(exists(dir_ + "/SSFS_ENV.DAT"));

  // Never completed from the environment.
  MERO_RSecSSFsSetConfiguration("TST", dir_.c_str(), "");
  const Result result = put("ORQ/A", "a");
  EXPECT_EQ(result.rc, RSEC_SSFS_RC_ENVIRONMENT);
  EXPECT_EQ(result.text, kNotAll);
  EXPECT_EQ(get("ORQ/A").text, kNotAll);
}

TEST_F(ConfigurationTest, WithoutExplicitConfigurationAllThreeVariablesAreNeeded) {
  rsecssfs_resetConfigurationForTesting();
  const struct {
    const char* name;
    const char* system;
    bool setData;
    RSEC_SSFS_RC rc;
  } cases[] = {
      {"all three", "ENV", true, RSEC_SSFS_RC_OK},
      {"empty system name", "", true, RSEC_SSFS_RC_ENVIRONMENT},
      {"no data path", "ENV", false, RSEC_SSFS_RC_ENVIRONMENT},
  };
  for (const auto& c : cases) {
    setEnvironment(c.system, dir_, dir_);
    if (!c.setData) unsetenv("RSEC_SSFS_DATAPATH");
    const Result result = put("ORQ/A", "a");
    EXPECT_EQ(result.rc, c.rc) << c.name;
    EXPECT_EQ(result.text, c.rc == RSEC_SSFS_RC_OK ? "" : kNoProfile) << c.name;
  }
  EXPECT_TRUE(exists(dir_ + "/SSFS_ENV.DAT"));

  rsecssfs_disableEnvironmentEvaluation();
  const Value read = get("ORQ/A");
  EXPECT_EQ(read.rc, RSEC_SSFS_RC_ENVIRONMENT);
  EXPECT_EQ(read.text, kNoProfile);
}

TEST_F(ConfigurationTest, FileNamesAreConcatenatedWithOneSlash) {
  MERO_RSecSSFsSetConfiguration("ABC", (dir_ + "/").c_str(), "/srv/keys");
  rsecssfsConfiguration* config = nullptr;
  ASSERT_EQ(rsecssfs_getConfiguration(&config), RSEC_SSFS_RC_OK);
  EXPECT_EQ(std::string(config->pDataFile), dir_ + "//SSFS_ABC.DAT");
  EXPECT_EQ(std::string(config->pDataFileBackup), dir_ + "//SSFS_ABC.DA_");
  EXPECT_EQ(std::string(config->pLockFile), dir_ + "//SSFS_ABC.LCK");
  EXPECT_EQ(std::string(config->pKeyFile), "/srv/keys/SSFS_ABC.KEY");
  EXPECT_EQ(std::string(config->pKeyFileBackup), "/srv/keys/SSFS_ABC.KE_");
  rsecssfs_releaseConfiguration(config, false);
}

TEST_F(ConfigurationTest, LeftoverBackupFilesStopUpdates) {
  ASSERT_EQ(put("ORQ/A", "a").rc, RSEC_SSFS_RC_OK);
  writeFile(path(".KE_"), {});
  Result result = put("ORQ/A", "b");
  EXPECT_EQ(result.rc, RSEC_SSFS_RC_FILE_CORRUPTION);
  EXPECT_EQ(result.text.rfind("The key file backup at location \"" + path(".KE_") + "\" exists.", 0), 0u);
  EXPECT_NE(result.text.find("by renaming it to \"" + keyFile() + "\" and check again."), std::string::npos);

  writeFile(path(".DA_"), {});
  result = put("ORQ/A", "b");
  EXPECT_EQ(result.rc, RSEC_SSFS_RC_FILE_CORRUPTION);
  EXPECT_EQ(result.text.rfind("The data file backup at location \"" + path(".DA_") + "\" exists.", 0), 0u);
  EXPECT_EQ(result.text.find("key file backup"), std::string::npos);
  EXPECT_FALSE(exists(lockFile()));
  EXPECT_EQ(get("ORQ/A").text_value, "a");  // readers go on
  EXPECT_TRUE(exists(path(".DA_")) && exists(path(".KE_")));
}

}  // namespace
}  // namespace store_test
