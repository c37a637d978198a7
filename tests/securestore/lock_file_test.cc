// The lock file between writers, and its forced removal.
#include <cstring>

#include "store_test_support.h"

namespace store_test {
namespace {

class LockFileTest : public StoreTest {};

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

TEST_F(LockFileTest, ExistingLockFileStopsWritersAndOnlyAValidOneIsRemovedByForce) {
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
      {"empty",
       {},
       RSEC_SSFS_RC_FILE_CORRUPTION,
       "\" has unexpected length 0 instead of 70",
       RSEC_SSFS_RC_FILE_CORRUPTION},
      {"wrong preamble", lockBytes("RSecSSFsLocK", 1, 1), RSEC_SSFS_RC_FILE_CORRUPTION,
       "\" has unexpected content", RSEC_SSFS_RC_FILE_CORRUPTION},
      {"wrong file type", lockBytes("RSecSSFsLock", 2, 1), RSEC_SSFS_RC_FILE_CORRUPTION,
       "\" has unexpected content", RSEC_SSFS_RC_FILE_CORRUPTION},
      {"held for update", lockBytes("RSecSSFsLock", 1, 1), RSEC_SSFS_RC_CONCURRENT_UPDATE, held,
       RSEC_SSFS_RC_OK},
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

TEST_F(LockFileTest, ForcedRemovalOnAnUnlockedStoreHasNoEffect) {
  const Result result = removeLock();
  EXPECT_EQ(result.rc, RSEC_SSFS_RC_VAULTADM_USAGE);
  EXPECT_EQ(result.text,
            "The secure storage is currently not locked, therefore the operation for forced removal of the "
            "lock has no effect");
  EXPECT_FALSE(exists(lockFile()));
}

// The lock exists exactly while an update runs, unless the caller asks to
// keep it; then it names this process's user and blocks the next writer.
TEST_F(LockFileTest, WriterTakesAndReleasesTheLock) {
  ASSERT_EQ(put("ORQ/A", "a").rc, RSEC_SSFS_RC_OK);
  EXPECT_FALSE(exists(lockFile()));
  ASSERT_EQ(put("ORQ/A", "b", true, true).rc, RSEC_SSFS_RC_OK);
  const Bytes lock = readFile(lockFile());
  ASSERT_EQ(lock.size(), 70u);
  Bytes expected = lockBytes("RSecSSFsLock", 1, 1);
  expected.resize(14);
  EXPECT_EQ(Bytes(lock.begin(), lock.begin() + 14), expected);
  EXPECT_EQ(put("ORQ/A", "c").rc, RSEC_SSFS_RC_CONCURRENT_UPDATE);
  EXPECT_EQ(get("ORQ/A").text_value, "b");
  EXPECT_EQ(removeLock().rc, RSEC_SSFS_RC_OK);
  EXPECT_EQ(put("ORQ/A", "c").rc, RSEC_SSFS_RC_OK);
}

}  // namespace
}  // namespace store_test
