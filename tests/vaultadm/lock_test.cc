// Forced removal of a lock that an update left behind.
#include <cstdint>
#include <string>

#include "vault_session.h"

namespace nebrix_test {
namespace {

class VaultadmLocks : public VaultSession {};

// The lock file as a writer leaves it when it dies during an update.
std::string lockRecord(const std::string& user, const std::string& host, int64_t seconds) {
  std::string record = "RSecSSFsLock\1\1";  // file type 1, locked for update
  for (int shift = 56; shift >= 0; shift -= 8) record += static_cast<char>(static_cast<uint64_t>(seconds) >> shift);
  return record + user + std::string(24 - user.size(), ' ') + host + std::string(24 - host.size(), ' ');
}

TEST_F(VaultadmLocks, StaleLockIsRemovedAndUpdatesWorkAgain) {
  ASSERT_EQ(runConsole({"CONFIG", "TRACE", "SQL", "ON"}).status, 0);
  writeFile(storeFile("LCK"), lockRecord("crashed", "deadhost", 1614834367));
  const std::string lockMessage =
      "Update of the secure storage is locked for update by user \"crashed\" from host \"deadhost\" since "
      "\"2021-03-04  05:06:07  UTC\"";
  EXPECT_EQ(runConsole({"CONFIG", "TRACE", "SQL", "OFF"}).status, 1);
  const ProgramResult put = vaultadm({"put", "ORQ/X", "v"});
  EXPECT_EQ(put.status, 1);
  EXPECT_EQ(put.err, "Error: " + lockMessage + "\n");

  EXPECT_EQ(vaultadmOk({"unlock"}), "The lock has been removed (" + lockMessage + ").\n");
  EXPECT_EQ(fileMode(storeFile("LCK")), -1);
  EXPECT_EQ(runConsole({"CONFIG", "TRACE", "SQL", "OFF"}).status, 0);
  EXPECT_EQ(vaultadmOk({"get", "ORQ/NEBRIX/TRACEFLAGS"}), "\n");

  const ProgramResult unlocked = vaultadm({"unlock"});
  EXPECT_EQ(unlocked.status, 1);
  EXPECT_EQ(unlocked.out + unlocked.err,
            "Error: The secure storage is currently not locked, therefore the operation for forced removal of "
            "the lock has no effect\n");
  EXPECT_EQ(fileMode(storeFile("LCK")), -1);
}

}  // namespace
}  // namespace nebrix_test
