// vaultadm as a user runs it: usage, refused command lines and keys, the
// choice of the store, list, get, put, delete and unlock on the console's
// store, and rekey and migrate: where keys come from, what is printed, exit
// codes; and lost output, which both programs guard alike. It runs as the
// test user, whose home is a private directory: every test starts without a
// profile directory, so the console's store is empty.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "private_home.h"
#include "program_runner.h"

namespace nebrix_test {
namespace {

// Without a key file, values are encrypted with a key that is no secret.
const std::string kBuiltinKeyRisk = "which is public: encrypted records are not protected. Run \"vaultadm rekey\" to "
                                    "encrypt the store with a key of your own.\n";
const std::string kKeyWarning = "Warning: The value was stored under the built-in default key, " + kBuiltinKeyRisk;

class Vaultadm : public testing::Test {
 protected:
  void SetUp() override {
    removeTree(privateHomeDirectory() + "/.orq");
    removeTree(scratch(""));
    mkdir(scratch("").c_str(), 0700);
  }

  // `input` becomes standard input (the shell redirects it and hands the
  // arguments on untouched); `environment` adds to the inherited one.
  ProgramResult vaultadm(const std::vector<std::string>& args, const std::string& input = "",
                         const std::vector<std::string>& environment = {}) const {
    std::vector<std::string> env = inheritedTestEnvironment();
    env.insert(env.end(), environment.begin(), environment.end());
    writeFile(scratch("stdin"), input);
    std::vector<std::string> shellArgs = {"-c", "exec \"$0\" \"$@\" < '" + scratch("stdin") + "'", VAULTADM_BINARY};
    shellArgs.insert(shellArgs.end(), args.begin(), args.end());
    return runProgram("/bin/sh", shellArgs, env);
  }

  // Expects success with nothing on standard error but the warning of a
  // value stored under the built-in key; returns standard output.
  std::string vaultadmOk(const std::vector<std::string>& args, const std::string& input = "") const {
    const ProgramResult r = vaultadm(args, input);
    EXPECT_EQ(r.status, 0) << args[0] << ": " << r.err;
    EXPECT_EQ(r.err == kKeyWarning ? "" : r.err, "") << args[0];
    return r.out;
  }

  // SSFS_ORQ.<suffix> in the profile directory.
  std::string storeFile(const std::string& suffix) const { return privateProfileDirectory() + "/SSFS_ORQ." + suffix; }

  std::string scratch(const std::string& name) const { return privateHomeDirectory() + "/scratch/" + name; }
};

TEST_F(Vaultadm, UsageOnRequestOrWithoutArguments) {
  const std::string usage = vaultadmOk({"-h"});
  EXPECT_EQ(usage.find("Usage: vaultadm [-s SYSTEM -d DATAPATH -k KEYPATH] COMMAND"), 0u);
  EXPECT_NE(usage.find("KEEP IT"), std::string::npos);
  EXPECT_EQ(vaultadmOk({"rekey", "--help"}).find("Usage: vaultadm rekey [OPTIONS]\n"), 0u);
  EXPECT_EQ(vaultadm({}).err, usage);
}

// Refused with exit code 1, the store untouched; a key never shows in the
// reply. A row is the command line, the key text (in `file` and on standard
// input) and how the message starts.
TEST_F(Vaultadm, MistakesAndMalformedKeysAreRefused) {
  const std::string key = "0123456789abcdef0123456789ABCDEF0123456789abcdef", file = scratch("bad.key");
  const std::string onCommandLine = "Keys are not accepted on the command line, where other users";
  const std::string inFile = "The key in \"" + file + "\"", inStdin = "The key in standard input";
  const std::string must = " must be 24 bytes written as 48 hexadecimal digits; it has ";
  const std::tuple<std::vector<std::string>, std::string, std::string> cases[] = {
      {{"migrate", "--old-key-file", key}, "", onCommandLine},
      {{"rekey", "--new-key-file=" + key}, "", onCommandLine},
      {{"rekey", key}, "", onCommandLine},
      {{"rekey", "--new-key", key}, "", onCommandLine},
      {{"--key", key, "list"}, "", onCommandLine},
      {{"-k", key, "-s", "ORQ", "-d", "/tmp", "list"}, "", "-k names the directory of the key file, not the key."},
      {{"-s", "ORQ", "list"}, "", "The options -s, -d and -k select a store together; give all three, once each."},
      {{"-s", "", "-d", "/tmp", "-k", "/tmp", "list"}, "",
       "Not all configuration data (systemname, datapath, keypath) could be determined from profile or "
       "environment\n"},
      {{"put", "ORQ/A", "v", "--value-file", "-"}, "", "Give the value either on the command line or with"},
      {{"rekey", "--old-key-file", "-", "--new-key-file", "-"}, "", "Only one key can come from standard input;"},
      {{"frob"}, "", "Unknown command frob; vaultadm -h shows the commands."},
      {{"rekey", "--new-key-file", file}, key.substr(1) + "\n", inFile + must + "47 characters.\n"},
      {{"migrate", "--old-key-file", "-"}, key.substr(1) + "\n", inStdin + must + "47 characters.\n"},
      {{"rekey", "--new-key-file", file}, key.substr(0, 24) + " " + key.substr(24), inFile + must + "49 characters.\n"},
      {{"migrate", "--old-key-file", "-"}, "0x" + key.substr(2), inStdin + must + "other characters.\n"},
      {{"rekey", "--new-key-file", file}, std::string(2000, '0'), inFile + " is longer than 1024 bytes.\n"},
      {{"rekey", "--new-key-file", "-"}, std::string(48, '0'),
       "A key of 24 zero bytes is the store's built-in default key and protects nothing; choose another one.\n"},
      {{"migrate", "--old-key-file", file + "x"}, "",
       "Cannot read the key from \"" + file + "x\": No such file or directory.\n"},
  };
  vaultadmOk({"put", "ORQ/A", "alpha"});
  const std::string data = readFile(storeFile("DAT"));
  for (const auto& [args, keyText, err] : cases) {
    writeFile(file, keyText);
    const ProgramResult r = vaultadm(args, keyText);
    EXPECT_EQ(r.status, 1) << err;
    EXPECT_EQ(r.err.find("Error: " + err), 0u) << r.err;
    EXPECT_EQ((r.out + r.err).find(key), std::string::npos) << r.err;
  }
  EXPECT_EQ(readFile(storeFile("DAT")), data);
  EXPECT_EQ(fileMode(storeFile("KEY")), -1);
}

// The options win over the environment; without them, one variable set is
// enough to leave the choice to the store, which then needs all three.
TEST_F(Vaultadm, StoreChosenByOptionsEnvironmentOrProfile) {
  const std::string dir = scratch("");
  const std::vector<std::string> environment = {"VXRSYSTEMNAME=ABC", "RSEC_SSFS_DATAPATH=" + dir,
                                                "RSEC_SSFS_KEYPATH=" + dir + "keys"};
  EXPECT_EQ(vaultadm({"-s", "ABC", "-d", dir, "-k", dir + "keys", "put", "ABC/X", "v1"}, "", {"VXRSYSTEMNAME=ENV"}).err,
            kKeyWarning);
  EXPECT_EQ(fileMode(dir + "/SSFS_ABC.DAT"), 0600);  // the user's alone, whatever the directory
  // The environment of list and how its output starts.
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {environment, "Data file: " + dir + "/SSFS_ABC.DAT\nKey file:  " + dir + "keys/SSFS_ABC.KEY\n"},
      {{"VXRSYSTEMNAME="}, "Data file: " + storeFile("DAT") + "\nKey file:  " + storeFile("KEY") + "\n"},
      {{"VXRSYSTEMNAME=ABC"},
       "Error: VXR-Profile is not used; in this case, all three environment parameters VXRSYSTEMNAME, "
       "RSEC_SSFS_DATAPATH and RSEC_SSFS_KEYPATH must exist and have non-initial values\n"},
  };
  for (const auto& [variables, start] : cases) {
    const ProgramResult r = vaultadm({"list"}, "", variables);
    EXPECT_EQ((r.out + r.err).find(start), 0u) << r.out << r.err;
    EXPECT_EQ(r.status, start.find("Error") == 0 ? 1 : 0);
  }
}

// Values from the command line or standard input come back as they went in.
// The listing shows them beside what the console stored, with UTC times.
TEST_F(Vaultadm, ValuesRoundTripAndTheListingShowsThem) {
  const time_t before = time(nullptr);
  ASSERT_EQ(runConsole({"CONFIG", "TRACE", "SQL", "ON"}).status, 0);
  // The command line, standard input and the value stored.
  const std::tuple<std::vector<std::string>, std::string, std::string> puts[] = {
      {{"put", "ORQ/A", "s3cret"}, "", "s3cret"},
      {{"put", "ORQ/B", "plain text", "--plaintext"}, "", "plain text"},
      {{"put", "ORQ/C", "--plaintext", "--", "-5"}, "", "-5"},
      {{"put", "ORQ/D", "--value-file", "-"}, "from stdin\n", "from stdin"},
      {{"put", "--plaintext", "ORQ/E", "--value-file=-"}, "two\r\nlines\r\n", "two\r\nlines"},
      {{"put", "ORQ/A", "replaced"}, "", "replaced"},
  };
  for (const auto& [args, input, value] : puts) {
    vaultadmOk(args, input);
    const std::string& key = args[args[1] == "--plaintext" ? 2 : 1];
    EXPECT_EQ(vaultadmOk({"get", key}), value + "\n") << key;
  }
  // A time zone far from UTC shows that the times are UTC.
  const std::string listing = vaultadm({"list"}, "", {"TZ=XYZ-5"}).out;
  const std::regex stamp("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d");
  std::smatch first;
  ASSERT_TRUE(std::regex_search(listing, first, stamp)) << listing;
  struct tm utc = {};
  strptime(first.str().c_str(), "%Y-%m-%d %H:%M:%S", &utc);
  EXPECT_TRUE(timegm(&utc) >= before && timegm(&utc) <= time(nullptr)) << first.str();
  std::string lines = "Data file: " + storeFile("DAT") + "\nKey file:  " + storeFile("KEY") +
                      "\nKey:       built-in default key (no key file, or an empty one), " + kBuiltinKeyRisk + "\n";
  for (const char* line : {"Key                    Status            Last update (UTC)",
                           "ORQ/NEBRIX/TRACEFLAGS  plaintext         T", "ORQ/B                  plaintext         T",
                           "ORQ/C                  plaintext         T", "ORQ/D                  encrypted         T",
                           "ORQ/E                  plaintext         T", "ORQ/A                  encrypted         T"})
    lines += line + std::string("\n");
  EXPECT_EQ(std::regex_replace(listing, stamp, "T"), lines + "\nActive records:  6\nDeleted records: 1\n");
  // compact drops the replaced record (304 bytes) and changes nothing else.
  const size_t size = readFile(storeFile("DAT")).size();
  const std::string sizeBefore = std::to_string(size), sizeAfter = std::to_string(size - 304);
  EXPECT_EQ(vaultadmOk({"compact"}), "Before: " + sizeBefore + " bytes, 7 records (6 active, 1 deleted)\nAfter:  " +
                                         sizeAfter + " bytes, 6 records (6 active, 0 deleted)\n");
  EXPECT_EQ(vaultadm({"list"}, "", {"TZ=XYZ-5"}).out, listing.substr(0, listing.size() - 2) + "0\n");

  vaultadmOk({"delete", "ORQ/A"});
  for (const char* command : {"get", "delete"}) {
    const ProgramResult gone = vaultadm({command, "ORQ/A"});
    EXPECT_EQ(gone.out + gone.err, "Error: Record with key \"ORQ/A\" not found in secure storage\n");
    EXPECT_EQ(gone.status, 1);
  }
  // A file-size limit below the data file's size: the append fails with a
  // message, instead of a kill that would leave the store locked.
  const ProgramResult limited = runProgram("/bin/sh", {"-c", "ulimit -f 1; exec \"$0\" \"$@\"", VAULTADM_BINARY, "put",
                                                      "ORQ/F", "f"}, inheritedTestEnvironment());
  EXPECT_EQ(limited.out + limited.err, "Error: EOF at writing record data: File too large\n");
  EXPECT_EQ(limited.status, 1);
  EXPECT_EQ(fileMode(storeFile("LCK")), -1);
}

// A data, key, lock or backup file that is a symbolic link, a directory or
// a FIFO fails every command that opens it, at once and with the reason;
// nothing is written, and list never passes such a store off as empty.
TEST_F(Vaultadm, StoreFilesThatAreNoRegularFilesFailTheCommand) {
  vaultadmOk({"put", "ORQ/A", "alpha"});
  const std::string data = storeFile("DAT"), saved = data + ".saved", target = scratch("target");
  const std::string readData = "Data file \"" + data + "\" cannot be opened for read: ";
  // The file, by its suffix, a command that opens it and how the message starts.
  const std::tuple<std::string, std::vector<std::string>, std::string> cases[] = {
      {"DAT", {"list"}, readData},
      {"DAT", {"get", "ORQ/A"}, readData},
      {"DAT", {"put", "ORQ/B", "b"}, "Data file \"" + data + "\" cannot be opened for update/write: "},
      {"DAT", {"migrate", "--old-key-file", "-"}, "Data file \"" + data + "\" cannot be opened for write: "},
      {"KEY", {"get", "ORQ/A"}, "Key file \"" + storeFile("KEY") + "\" cannot be read: "},
      {"LCK", {"delete", "ORQ/A"}, "Unable to open lockfile \"" + storeFile("LCK") + "\" for write: "},
      {"DA_", {"put", "ORQ/B", "b"}, "The data file backup at location \"" + storeFile("DA_") + "\" exists."},
      {"DA_", {"compact"}, "The data file backup at location \"" + storeFile("DA_") + "\" exists."},
  };
  ASSERT_EQ(rename(data.c_str(), saved.c_str()), 0);
  const std::string before = readFile(saved);
  writeFile(target, "target");
  for (const std::string reason : {"Too many levels of symbolic links", "Is a directory", "Not a regular file"}) {
    for (const auto& [suffix, args, message] : cases) {
      const std::string file = storeFile(suffix);
      ASSERT_EQ(reason[0] == 'T' ? symlink(target.c_str(), file.c_str())
                : reason[0] == 'I' ? mkdir(file.c_str(), 0700)
                                   : mkfifo(file.c_str(), 0600),
                0);
      ASSERT_TRUE(suffix == "DAT" || link(saved.c_str(), data.c_str()) == 0);
      const ProgramResult r = vaultadm(args, std::string(48, '1'));
      EXPECT_EQ(r.status, 1) << reason << " " << args[0];
      const std::string expected = "Error: " + message + (suffix == "DA_" ? "" : reason + "\n");
      EXPECT_EQ(suffix == "DA_" ? r.err.substr(0, expected.size()) : r.err, expected) << r.out;
      std::filesystem::remove(file);
      unlink(data.c_str());
    }
  }
  EXPECT_EQ(readFile(target), "target");
  EXPECT_EQ(readFile(saved), before);
}

// Output that cannot be written fails the command of either program, even
// when it did its work: a rekey whose generated key was lost never ends with
// status 0. At a line end the reason is lost; the key is written straight.
TEST_F(Vaultadm, LostOutputFailsTheCommand) {
  const std::vector<std::vector<std::string>> commands = {
      {NEBRIX_CONS_BINARY, "SHOW", "CONFIG"}, {VAULTADM_BINARY, "list"}, {VAULTADM_BINARY, "rekey"}};
  for (const std::string redirection : {">&-", ">/dev/full"}) {
    for (const auto& command : commands) {
      std::vector<std::string> args = {"-c", "exec \"$0\" \"$@\" " + redirection};
      args.insert(args.end(), command.begin(), command.end());
      const ProgramResult r = runProgram("/bin/sh", args, inheritedTestEnvironment());
      const std::string reason = redirection == ">&-"        ? ": Bad file descriptor"
                                 : command[1] == "rekey" ? ": No space left on device"
                                                         : "";
      EXPECT_EQ(r.err, "Error: Standard output cannot be written" + reason + ".\n") << redirection << command[1];
      EXPECT_EQ(r.status, 1) << redirection << command[1];
    }
  }
}

// A data file above 8 MiB, as stores grew before writers compacted them,
// is compacted as any other; its second name, SSFS_ORQ.DAT.old, goes with
// another process, and one left behind with the next update. A reader that
// has the old file open still reads it whole.
TEST_F(Vaultadm, AGrownDataFileIsCompactedAndLetGoOf) {
  const auto goneSoon = [](const std::string& path) {
    for (int i = 0; i < 1000 && fileMode(path) != -1; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return fileMode(path) == -1;
  };
  vaultadmOk({"put", "ORQ/K", "a", "--plaintext"});
  vaultadmOk({"put", "ORQ/K", "b", "--plaintext"});
  const std::string two = readFile(storeFile("DAT"));
  const size_t length = two.size() / 2;
  std::string grown;
  size_t deleted = 0;
  for (; grown.size() < 8u * 1024 * 1024; ++deleted) grown += two.substr(0, length);
  writeFile(storeFile("DAT"), grown + two.substr(length));
  const int reader = open(storeFile("DAT").c_str(), O_RDONLY);
  EXPECT_EQ(vaultadmOk({"compact"}), "Before: " + std::to_string(grown.size() + length) + " bytes, " +
                                         std::to_string(deleted + 1) + " records (1 active, " +
                                         std::to_string(deleted) + " deleted)\nAfter:  " + std::to_string(length) +
                                         " bytes, 1 records (1 active, 0 deleted)\n");
  EXPECT_EQ(readFile("/proc/self/fd/" + std::to_string(reader)).size(), grown.size() + length);
  close(reader);
  EXPECT_TRUE(goneSoon(storeFile("DAT.old")));
  writeFile(storeFile("DAT.old"), "left");
  vaultadmOk({"put", "ORQ/K", "c", "--plaintext"});
  EXPECT_TRUE(goneSoon(storeFile("DAT.old")));
  EXPECT_EQ(vaultadmOk({"get", "ORQ/K"}), "c\n");
}

// unlock removes a lock that a dead update left behind and says whose it
// was; without a lock it has nothing to do.
TEST_F(Vaultadm, UnlockRemovesAStaleLock) {
  vaultadmOk({"put", "ORQ/X", "v"});
  // Locked for update since 2021-03-04 05:06:07 UTC.
  writeFile(storeFile("LCK"), std::string("RSecSSFsLock\1\1\0\0\0\0\x60\x40\x6A\xBF", 22) + "crashed" +
                                  std::string(17, ' ') + "deadhost" + std::string(16, ' '));
  const std::string lockMessage =
      "Update of the secure storage is locked for update by user \"crashed\" from host \"deadhost\" since "
      "\"2021-03-04  05:06:07  UTC\"";
  EXPECT_EQ(vaultadmOk({"unlock"}), "The lock has been removed (" + lockMessage + ").\n");
  const ProgramResult unlocked = vaultadm({"unlock"});
  EXPECT_EQ(unlocked.status, 1);
  EXPECT_EQ(unlocked.out + unlocked.err,
            "Error: The secure storage is currently not locked, therefore the operation for forced removal of "
            "the lock has no effect\n");
  EXPECT_EQ(fileMode(storeFile("LCK")), -1);
}

// Root is refused another user's store directory, whose owner the files it
// made would lock out; asked to, it gives what it creates to that owner.
TEST_F(Vaultadm, AnotherUsersStoreDirectoryIsRefusedUnlessFilesGoToTheOwner) {
  if (geteuid() != 0) GTEST_SKIP() << "only root can give a directory to another user";
  const std::string dir = scratch("other");
  ASSERT_EQ(mkdir(dir.c_str(), 0700) | chown(dir.c_str(), 12345, 12345), 0);
  const ProgramResult refused = vaultadm({"-s", "ORQ", "-d", dir, "-k", dir, "put", "ORQ/A", "a"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err.find("Error: The store directory \"" + dir + "\" belongs to uid 12345, not to user "), 0u)
      << refused.err;
  EXPECT_NE(refused.err.find("(sudo -u '#12345' vaultadm ...), or give --give-files-to-owner"), std::string::npos);
  vaultadmOk({"--give-files-to-owner", "-s", "ORQ", "-d", dir, "-k", dir, "put", "ORQ/A", "a"});
  vaultadmOk({"--give-files-to-owner", "-s", "ORQ", "-d", dir, "-k", dir, "rekey"});
  struct stat data {}, key {};
  EXPECT_EQ(stat((dir + "/SSFS_ORQ.DAT").c_str(), &data) | stat((dir + "/SSFS_ORQ.KEY").c_str(), &key), 0);
  EXPECT_EQ(std::vector<uid_t>({data.st_uid, data.st_gid, key.st_uid, key.st_gid}), std::vector<uid_t>(4, 12345));
}

// A given key is written to the key file as it is; a generated one is
// printed once. Once the key file is lost, migrate opens the records with the
// printed key; a wrong key leaves them, with a warning and exit code 2. Only
// values encrypted under the built-in key are warned of.
TEST_F(Vaultadm, RekeyThenMigrateAfterTheKeyFileIsLost) {
  EXPECT_EQ(vaultadm({"put", "ORQ/A", "alpha"}).err, kKeyWarning);
  EXPECT_EQ(vaultadm({"put", "ORQ/B", "beta", "--plaintext"}).err, "");
  const std::string converted = "Converted 1 plaintext and 1 encrypted records; deleted records were dropped.\n";
  writeFile(scratch("new.key"), "6162636465666768696A6B6C6D6E6F707172737475767778\n");  // a to x
  EXPECT_EQ(vaultadmOk({"rekey", "--new-key-file", scratch("new.key")}), converted);
  EXPECT_EQ(readFile(storeFile("KEY")).substr(12, 24), "abcdefghijklmnopqrstuvwx");
  EXPECT_EQ(vaultadm({"put", "ORQ/A", "alpha"}).err, "");
  EXPECT_EQ(vaultadmOk({"list"}).find("\nKey: "), std::string::npos);
  const std::string out = vaultadmOk({"rekey"});
  std::smatch printed;
  ASSERT_TRUE(std::regex_match(out, printed, std::regex(converted + "New key: ([0-9a-f]{48})\nKeep this key in a "
                                                                    "safe place\\. The key file holds it;[^]*")))
      << out;
  EXPECT_EQ(fileMode(storeFile("KEY")), 0600);

  ASSERT_EQ(unlink(storeFile("KEY").c_str()), 0);
  EXPECT_NE(vaultadmOk({"list"}).find("\nORQ/A  wrong key         "), std::string::npos);
  const ProgramResult wrong = vaultadm({"migrate", "--old-key-file", "-"}, std::string(48, '1'));
  EXPECT_EQ(wrong.status, 2);
  EXPECT_EQ(wrong.out, "Converted 1 plaintext and 0 encrypted records; deleted records were dropped.\n");
  EXPECT_EQ(wrong.err,
            "Warning: 1 encrypted records could not be opened with any key and were kept unchanged; \"vaultadm list\" "
            "shows them with the status \"wrong key\". Record \"ORQ/A\" was inserted with an encryption key that was "
            "different from the current one; when you still know the old one, you can try the \"migrate\" "
            "operation of the \"vaultadm\" utility\n");
  vaultadmOk({"migrate", "--old-key-file", "-"}, printed[1].str());
  EXPECT_EQ(vaultadmOk({"get", "ORQ/A"}), "alpha\n");
}

}  // namespace
}  // namespace nebrix_test
