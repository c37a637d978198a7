// Where the store's files come from (explicit configuration, environment),
// the lock file between writers, and the leftover backups of a conversion.
#include "securestore/store_files.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "store_test_support.h"

namespace store_test {
namespace {

class StoreFilesTest : public StoreTest {
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
    "RSEC_SSFS_DATAPATH and RSEC_SSFS_KEYPATH must exist and have non-initial values";

TEST_F(StoreFilesTest, ExplicitConfigurationWinsOverTheEnvironment) {
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

TEST_F(StoreFilesTest, WithoutExplicitConfigurationAllThreeVariablesAreNeeded) {
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

TEST_F(StoreFilesTest, FileNamesAreConcatenatedWithOneSlash) {
  MERO_RSecSSFsSetConfiguration("ABC", (dir_ + "/").c_str(), "/srv/keys");
  rsecssfsConfiguration* config = nullptr;
  ASSERT_EQ(rsecssfs_getConfiguration(&config), RSEC_SSFS_RC_OK);
  // The other suffixes are used through the StoreTest paths everywhere.
  EXPECT_EQ(std::string(config->pDataFile), dir_ + "//SSFS_ABC.DAT");
  EXPECT_EQ(std::string(config->pKeyFileBackup), "/srv/keys/SSFS_ABC.KE_");
  rsecssfs_releaseConfiguration(config, false);
}

TEST_F(StoreFilesTest, LeftoverBackupFilesStopUpdates) {
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

Bytes lockBytes(const char* preamble, unsigned char fileType, unsigned char lockType) {
  Bytes bytes(70, ' ');
  std::memcpy(bytes.data(), preamble, 12);
  bytes[12] = fileType;
  bytes[13] = lockType;
  const unsigned char stamp[8] = {0, 0, 0, 0, 0x05, 0xF5, 0xE1, 0x00};  // 1973-03-03 09:46:40 UTC
  std::memcpy(&bytes[14], stamp, 8);
  std::memcpy(&bytes[22], "alice", 5);
  std::memcpy(&bytes[46], "host-x", 6);
  return bytes;
}

TEST_F(StoreFilesTest, ExistingLockFileStopsWritersAndOnlyAValidOneIsRemovedByForce) {
  const std::string held =
      "Update of the secure storage is locked for update by user \"alice\" from host \"host-x\" "
      "since \"1973-03-03  09:46:40  UTC\"";
  const struct {
    const char* name;
    Bytes lock;
    RSEC_SSFS_RC putRc;
    std::string message;
    RSEC_SSFS_RC removeRc;
  } cases[] = {
      {"empty", {}, RSEC_SSFS_RC_FILE_CORRUPTION, "\" has unexpected length 0 instead of 70",
       RSEC_SSFS_RC_FILE_CORRUPTION},
      {"wrong preamble", lockBytes("RSecSSFsLocK", 1, 1), RSEC_SSFS_RC_FILE_CORRUPTION,
       "\" has unexpected content", RSEC_SSFS_RC_FILE_CORRUPTION},
      {"wrong file type", lockBytes("RSecSSFsLock", 2, 1), RSEC_SSFS_RC_FILE_CORRUPTION,
       "\" has unexpected content", RSEC_SSFS_RC_FILE_CORRUPTION},
      {"held for update", lockBytes("RSecSSFsLock", 1, 1), RSEC_SSFS_RC_CONCURRENT_UPDATE, held, RSEC_SSFS_RC_OK},
      {"held for read", lockBytes("RSecSSFsLock", 1, 0), RSEC_SSFS_RC_CONCURRENT_UPDATE,
       "locked for read by user \"alice\"", RSEC_SSFS_RC_OK},
  };
  for (const auto& c : cases) {
    writeFile(lockFile(), c.lock);
    for (const Result& result : {put("ORQ/A", "a"), erase("ORQ/A")}) {
      EXPECT_EQ(result.rc, c.putRc) << c.name;
      EXPECT_NE(result.text.find(c.message), std::string::npos) << c.name << ": " << result.text;
    }
    EXPECT_EQ(readFile(lockFile()), c.lock) << c.name;
    EXPECT_FALSE(exists(dataFile())) << c.name;
    EXPECT_EQ(removeLock().rc, c.removeRc) << c.name;
    EXPECT_EQ(exists(lockFile()), c.removeRc != RSEC_SSFS_RC_OK) << c.name;
  }
}

TEST_F(StoreFilesTest, ForcedRemovalOnAnUnlockedStoreHasNoEffect) {
  const Result result = removeLock();
  EXPECT_EQ(result.rc, RSEC_SSFS_RC_VAULTADM_USAGE);
  EXPECT_EQ(result.text,
            "The secure storage is currently not locked, therefore the operation for forced removal of the "
            "lock has no effect");
  EXPECT_FALSE(exists(lockFile()));
}

// The lock exists exactly while an update runs, unless the caller asks to
// keep it; then it names this process's user and blocks the next writer.
TEST_F(StoreFilesTest, WriterTakesAndReleasesTheLock) {
  ASSERT_EQ(put("ORQ/A", "a").rc, RSEC_SSFS_RC_OK);
  EXPECT_FALSE(exists(lockFile()));
  ASSERT_EQ(put("ORQ/A", "b", true, true).rc, RSEC_SSFS_RC_OK);
  const Bytes lock = readFile(lockFile()), expected = lockBytes("RSecSSFsLock", 1, 1);
  ASSERT_EQ(lock.size(), 70u);
  EXPECT_TRUE(std::equal(&lock[0], &lock[14], &expected[0]));
  EXPECT_EQ(put("ORQ/A", "c").rc, RSEC_SSFS_RC_CONCURRENT_UPDATE);
  EXPECT_EQ(get("ORQ/A").text_value, "b");
  EXPECT_EQ(removeLock().rc, RSEC_SSFS_RC_OK);
  EXPECT_EQ(put("ORQ/A", "c").rc, RSEC_SSFS_RC_OK);
}

// A writer that cannot write the whole lock leaves no lock behind (a short
// one would block every later update), and taking the lock never leaves
// another file in the directory.
TEST_F(StoreFilesTest, LockAppearsWholeOrNotAtAll) {
  ASSERT_EQ(put("ORQ/A", "a").rc, RSEC_SSFS_RC_OK);
  const Bytes data = readFile(dataFile());
  const Result failed = withFileSizeLimit(40, [] { return put("ORQ/A", "b"); });
  EXPECT_EQ(failed.rc, RSEC_SSFS_RC_NO_WRITE_PERMISSION);
  EXPECT_NE(failed.text.find("Unable to write content to lockfile"), std::string::npos) << failed.text;
  EXPECT_EQ(readFile(dataFile()), data);
  ASSERT_EQ(put("ORQ/A", "c").rc, RSEC_SSFS_RC_OK);
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir_))
    names.push_back(entry.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"SSFS_TST.DAT"});
}

}  // namespace
}  // namespace store_test
