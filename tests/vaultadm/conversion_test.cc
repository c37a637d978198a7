// rekey and migrate: the whole store encrypted again, with a new or an old key.
#include <unistd.h>

#include <regex>
#include <string>

#include "vault_session.h"

namespace nebrix_test {
namespace {

class VaultadmConversion : public VaultSession {
 protected:
  void SetUp() override {
    VaultSession::SetUp();
    for (const char* key : {"ORQ/A", "ORQ/C"}) vaultadmOk({"put", key, "old"});
    vaultadmOk({"put", "ORQ/B", "beta", "--plaintext"});
    vaultadmOk({"put", "ORQ/A", "alpha"});
  }

  void expectRecordsReadable() {
    EXPECT_EQ(vaultadmOk({"get", "ORQ/A"}) + vaultadmOk({"get", "ORQ/B"}) + vaultadmOk({"get", "ORQ/C"}),
              "alpha\nbeta\nold\n");
    EXPECT_NE(vaultadmOk({"list"}).find("Active records:  3\nDeleted records: 0\n"), std::string::npos);
    EXPECT_EQ(fileMode(storeFile("DA_")) + fileMode(storeFile("KE_")), -2);  // no backups left
  }

  // The key in the key file, as hexadecimal digits.
  std::string keyFileKey() {
    std::string hex;
    for (unsigned char byte : readFile(storeFile("KEY")).substr(12, 24)) {
      hex += "0123456789abcdef"[byte >> 4];
      hex += "0123456789abcdef"[byte & 0x0F];
    }
    return hex;
  }
};

std::string printedKey(const std::string& out) {
  std::smatch match;
  return std::regex_search(out, match, std::regex("\nNew key: ([0-9a-f]{48})\nKeep this key")) ? match[1].str() : "";
}

TEST_F(VaultadmConversion, RekeyWithAGeneratedOrAGivenKey) {
  const std::string out = vaultadmOk({"rekey"});
  EXPECT_EQ(out.find("Converted 1 plaintext and 2 encrypted records;"), 0u) << out;
  ASSERT_EQ(printedKey(out).size(), 48u) << out;
  EXPECT_EQ(keyFileKey(), printedKey(out));
  EXPECT_EQ(fileMode(storeFile("KEY")), 0600);
  expectRecordsReadable();

  writeFile(scratch("new.key"), "00112233445566778899AABBCCDDEEFF0011223344556677\n");
  EXPECT_EQ(vaultadmOk({"rekey", "--new-key-file", scratch("new.key")}).find("New key"), std::string::npos);
  EXPECT_EQ(keyFileKey(), "00112233445566778899aabbccddeeff0011223344556677");
  expectRecordsReadable();
}

TEST_F(VaultadmConversion, MigrateWithTheOldKeyAfterTheKeyFileIsLost) {
  const std::string key = printedKey(vaultadmOk({"rekey"}));
  ASSERT_EQ(unlink(storeFile("KEY").c_str()), 0);
  const ProgramResult lost = vaultadm({"get", "ORQ/A"});
  EXPECT_EQ(lost.status, 1);
  EXPECT_NE(lost.err.find("you can try the \"migrate\" operation"), std::string::npos) << lost.err;
  EXPECT_NE(vaultadmOk({"list"}).find("\nORQ/C  wrong key  "), std::string::npos);

  // No new key while no encrypted record can be read; a wrong old key opens nothing.
  EXPECT_EQ(vaultadm({"rekey"}).err.find("Error: No encrypted record in the secure storage could be successfully "
                                          "converted to the new key"),
            0u);
  EXPECT_EQ(fileMode(storeFile("KEY")), -1);
  const ProgramResult wrong = vaultadm({"migrate", "--old-key-file", "-"}, std::string(48, '1'));
  EXPECT_EQ(wrong.status, 2);
  EXPECT_NE(wrong.err.find("Warning: 2 encrypted records could not be opened"), std::string::npos) << wrong.err;

  vaultadmOk({"migrate", "--old-key-file", "-"}, key + "\n");
  expectRecordsReadable();
}

}  // namespace
}  // namespace nebrix_test
