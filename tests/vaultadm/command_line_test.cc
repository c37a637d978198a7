// Usage, refused command lines and keys, and the choice of the store.
#include <string>
#include <vector>

#include "vault_session.h"

namespace nebrix_test {
namespace {

class VaultadmCommandLine : public VaultSession {};

const std::string kKey = "0123456789abcdef0123456789ABCDEF0123456789abcdef";

TEST_F(VaultadmCommandLine, UsageOnRequestOrWithoutArguments) {
  const std::string usage = vaultadmOk({"-h"});
  EXPECT_EQ(usage.find("Usage: vaultadm [-s SYSTEM -d DATAPATH -k KEYPATH] COMMAND"), 0u);
  EXPECT_NE(usage.find("KEEP IT"), std::string::npos);
  EXPECT_EQ(vaultadmOk({"rekey", "--help"}), usage);
  EXPECT_EQ(vaultadm({}).err, usage);
}

TEST_F(VaultadmCommandLine, KeysOnTheCommandLineAndOtherMistakesAreRefused) {
  const std::string onCommandLine = "Keys are not accepted on the command line";
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"migrate", "--old-key-file", kKey}, onCommandLine},
      {{"rekey", "--new-key-file=" + kKey}, onCommandLine},
      {{"rekey", kKey}, onCommandLine},
      {{"rekey", "--new-key", kKey}, onCommandLine},
      {{"--key", kKey, "list"}, onCommandLine},
      {{"-k", kKey, "-s", "ORQ", "-d", "/tmp", "list"}, "-k names the directory of the key file"},
      {{"-s", "ORQ", "list"}, "The options -s, -d and -k select a store together"},
      {{"put", "ORQ/A", "v", "--value-file", "-"}, "Give the value either on the command line or with"},
      {{"rekey", "--old-key-file", "-", "--new-key-file", "-"}, "Only one key can come from standard input"},
  };
  for (const auto& c : cases) {
    const ProgramResult r = vaultadm(c.args);
    EXPECT_EQ(r.status, 1) << c.err;
    EXPECT_EQ(r.err.find("Error: " + c.err), 0u) << r.err;
    EXPECT_EQ((r.out + r.err).find(kKey), std::string::npos) << r.err;
  }
  EXPECT_EQ(fileMode(privateHomeDirectory() + "/.orq"), -1);
}

TEST_F(VaultadmCommandLine, MalformedKeysAreRefused) {
  const std::string must = " must be 24 bytes written as 48 hexadecimal digits; it has ";
  const struct {
    std::string text;
    std::string err;  // after "The key in <source>"
  } cases[] = {
      {kKey.substr(1) + "\n", must + "47 characters."},
      {kKey.substr(0, 24) + " " + kKey.substr(24), must + "49 characters."},
      {"0x" + kKey.substr(2), must + "other characters."},
      {std::string(2000, '0'), " is longer than 1024 bytes."},
  };
  vaultadmOk({"put", "ORQ/A", "alpha"});
  const std::string data = readFile(storeFile("DAT"));
  const std::string file = scratch("bad.key");
  for (const auto& c : cases) {
    writeFile(file, c.text);
    EXPECT_EQ(vaultadm({"rekey", "--new-key-file", file}).err, "Error: The key in \"" + file + "\"" + c.err + "\n");
    EXPECT_EQ(vaultadm({"migrate", "--old-key-file", "-"}, c.text).err,
              "Error: The key in standard input" + c.err + "\n");
  }
  EXPECT_EQ(vaultadm({"rekey", "--new-key-file", "-"}, std::string(48, '0')).err,
            "Error: A key of 24 zero bytes is the store's built-in default key and protects nothing; choose "
            "another one.\n");
  EXPECT_EQ(vaultadm({"migrate", "--old-key-file", file + "x"}).err,
            "Error: Cannot read the key from \"" + file + "x\": No such file or directory.\n");
  EXPECT_EQ(readFile(storeFile("DAT")), data);
  EXPECT_EQ(fileMode(storeFile("KEY")), -1);
}

TEST_F(VaultadmCommandLine, StoreChosenByOptionsEnvironmentOrProfile) {
  const std::string dir = scratch("");
  vaultadmOk({"-s", "ABC", "-d", dir, "-k", dir + "keys", "put", "ABC/X", "v1"});
  EXPECT_EQ(fileMode(dir + "/SSFS_ABC.DAT"), 0600);  // the user's alone, whatever the directory
  const std::vector<std::string> environment = {"VXRSYSTEMNAME=ABC", "RSEC_SSFS_DATAPATH=" + dir,
                                                "RSEC_SSFS_KEYPATH=" + dir + "keys"};
  EXPECT_EQ(vaultadm({"get", "ABC/X"}, "", environment).out, "v1\n");
  const struct {
    std::vector<std::string> environment;
    std::string start;
  } cases[] = {
      {environment, "Data file: " + dir + "/SSFS_ABC.DAT\nKey file:  " + dir + "keys/SSFS_ABC.KEY\n"},
      {{"VXRSYSTEMNAME="}, "Data file: " + storeFile("DAT") + "\nKey file:  " + storeFile("KEY") + "\n"},
      {{"VXRSYSTEMNAME=ABC"}, "Error: VXR-Profile is not used; in this case, all three environment"},
  };
  for (const auto& c : cases) {
    const ProgramResult r = vaultadm({"list"}, "", c.environment);
    EXPECT_EQ((r.out + r.err).find(c.start), 0u) << r.out << r.err;
    EXPECT_EQ(r.status, c.start.find("Error") == 0 ? 1 : 0);
  }
}

}  // namespace
}  // namespace nebrix_test
