// Converting the whole store: re-encryption, migration to a new key, and
// what a failed conversion leaves behind.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <tuple>

#include "store_test_support.h"

namespace store_test {
namespace {

const Bytes kKey1(24, 0x11), kKey2(24, 0x22);
using Counts = std::vector<int>;

class ConvertTest : public StoreTest {
 protected:
  // A conversion; on `reused`, if given, which is then not released.
  Result convert(const Bytes* oldKey, const Bytes* newKey, RSecSSFsConvertAPI* reused = nullptr) {
    RSecSSFsConvertAPI* api = reused != nullptr ? reused : RSecSSFsConvertAPIGet();
    api->in_pOldKey = oldKey != nullptr ? oldKey->data() : nullptr;
    api->in_pNewKey = newKey != nullptr ? newKey->data() : nullptr;
    RSecSSFsConvert(api);
    Result result;
    result.counts = {api->out_numberRecordsPlain, api->out_numberRecordsSecureReadable,
                     api->out_numberRecordsSecureNotReadable};
    return resultOf(api, reused != nullptr ? nullptr : RSecSSFsConvertAPIRelease, result);
  }
  bool backupsLeft() { return exists(path(".DA_")) || exists(path(".KE_")); }
};

// P (179 bytes) is plaintext with a NUL in its value, X (304) encrypted under
// key 1, D (304) under the default key, and G deleted; at each conversion
// there is no key file. G goes; the rest keep identifier, stamp and flags,
// and a payload is encrypted anew exactly when a key opens it. The key file
// is only written, its key masked in the trace. Source 0: unreadable.
TEST_F(ConvertTest, CountsMigratesAndRekeys) {
  captureTrace(3);
  ASSERT_EQ(convert(nullptr, &kKey1).rc, 0);  // a store without data file only gets its key file
  EXPECT_NE(g_trace.back().find("with return code 0 (message: <No message available>)"), std::string::npos);
  for (const std::string& line : g_trace) EXPECT_EQ(line.find("11 11 11"), std::string::npos) << line;
  EXPECT_FALSE(exists(dataFile()) || backupsLeft());
  const Bytes key1File = readFile(keyFile());
  ASSERT_EQ(key1File.size(), 92u);
  EXPECT_EQ(std::string(key1File.begin(), key1File.begin() + 36), "RSecSSFsKey\1" + std::string(24, 0x11));
  writeFile(dataFile(), makeRecord("ORQ/P", true, false, {'p', 0, 'd'}));
  const Bytes xValue = {7, 8};
  ASSERT_EQ(put("ORQ/X", nullptr, false, false, &xValue).rc, 0);
  unlink(keyFile().c_str());
  ASSERT_EQ(put("ORQ/D", "d", false).rc, 0);
  ASSERT_EQ(put("ORQ/G", "g").rc, 0);
  ASSERT_EQ(erase("ORQ/G").rc, 0);
  const Bytes store = readFile(dataFile());
  // The old and the new key; the counts, and which key opens X after it (0: none).
  const std::tuple<const Bytes*, const Bytes*, Counts, int> cases[] = {
      {nullptr, nullptr, {1, 1, 1}, 0}, {&kKey1, nullptr, {1, 2, 0}, 2}, {nullptr, &kKey2, {1, 1, 1}, 0},
      {nullptr, &kKey1, {1, 2, 0}, 1}, {&kKey1, &kKey2, {1, 2, 0}, 1}};
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& [oldKey, newKey, counts, sourceX] = cases[i];
    writeFile(dataFile(), store);
    unlink(keyFile().c_str());
    const Result out = convert(oldKey, newKey);
    EXPECT_EQ(out.rc, RSEC_SSFS_RC_OK) << i << out.text;
    EXPECT_EQ(out.counts, counts) << i;
    EXPECT_FALSE(backupsLeft() || exists(lockFile())) << i;
    const Bytes key = readFile(keyFile());
    EXPECT_EQ(key.size() == 92 ? slice(key, 12, 24) : key, newKey != nullptr ? *newKey : Bytes{}) << i;
    const Bytes now = readFile(dataFile());
    ASSERT_EQ(now.size(), 787u) << i;
    for (size_t at : {0, 179, 483}) EXPECT_EQ(slice(now, at + 24, 132), slice(store, at + 24, 132)) << i << at;
    EXPECT_EQ(slice(now, 0, 179), slice(store, 0, 179)) << i;
    EXPECT_EQ(slice(now, 179, 304) == slice(store, 179, 304), sourceX == 0) << i;
    EXPECT_NE(slice(now, 483 + 176, 128), slice(store, 483 + 176, 128)) << i;
    EXPECT_EQ(get("ORQ/P").text_value + get("ORQ/D").text_value, "pd") << i;
    const Result x = get("ORQ/X");
    EXPECT_EQ(x.keySource, sourceX == 0 ? RSECSSFS_KEYSOURCE_DEFAULT : sourceX) << i;
    EXPECT_EQ(x.text, sourceX != 0 ? ""
                                   : "Record \"ORQ/X\" was inserted with an encryption key that was different "
                                     "from the current one; when you still know the old one, you can try the "
                                     "\"migrate\" operation of the \"vaultadm\" utility");
  }
  // P and X alone, X moved to key 2 and the key file gone: no encrypted
  // record can be opened, so a new key is refused and the store stays as it
  // was. The call record served a conversion before; its counters grow, but
  // this call decides.
  RSecSSFsConvertAPI* api = RSecSSFsConvertAPIGet();
  writeFile(dataFile(), slice(store, 0, 483));
  ASSERT_EQ(convert(&kKey1, &kKey2, api).rc, 0);
  unlink(keyFile().c_str());
  const Bytes kept = readFile(dataFile());
  const Result refused = convert(nullptr, &kKey1, api);
  RSecSSFsConvertAPIRelease(api);
  EXPECT_EQ(refused.rc, RSEC_SSFS_RC_INCORRECT_KEY);
  EXPECT_EQ(refused.text.rfind("No encrypted record in the secure storage could be successfully converted", 0), 0u);
  EXPECT_EQ(refused.counts, (Counts{2, 1, 1}));
  EXPECT_EQ(readFile(dataFile()), kept);
  EXPECT_FALSE(exists(keyFile()) || backupsLeft() || exists(lockFile()));
}

// A conversion writes the new files beside the old ones and renames them
// into place only when everything is done: a failure at any step leaves the
// store as it was, without backups or new files. Each damage is certain to
// change the bytes: the encrypted payload of B, being random, is left alone.
TEST_F(ConvertTest, FailuresLeaveTheStoreAsItWas) {
  // An offset into record B (encrypted) of A, B and E (a malformed encrypted
  // payload) and the bytes put there (none: the file ends there); whether a
  // lock is left; a file size limit; the key file; a part of the message.
  const std::tuple<size_t, Bytes, bool, rlim_t, Bytes, const char*> cases[] = {
      // clang-format off
      {40, {0}, false, 0, {}, "Checksum over data header and payload incorrect"},  // in B's key
      {0, {}, false, 0, {}, "During conversion an error has occurred when reading the source "
          "record <-- Payload length of encrypted record is no multiple of 128"},
      {0, {}, true, 0, {}, "Update of the secure storage is locked for update by user"},
      {0, {}, false, 80, {}, "SSFS_TST.DA_\" cannot be written completely"},  // lock fits
      {0, {}, false, 0, Bytes(91, 1), "SSFS_TST.KEY\" has content that is shorter than the expected length"},
      {0, {}, false, 0, Bytes(92, 2), "SSFS_TST.KEY\" has wrong type code"},
      // clang-format on
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& [offset, bytes, lock, sizeLimit, keyBytes, message] = cases[i];
    for (const char* suffix : {".DAT", ".DA_", ".KE_", ".KEY"}) unlink(path(suffix).c_str());
    ASSERT_EQ(put("ORQ/A", "abc").rc, 0);
    ASSERT_EQ(put("ORQ/B", "secret", false, lock).rc, 0);
    Bytes file = readFile(dataFile());
    for (unsigned char byte : makeRecord("ORQ/E", false, false, Bytes(200, 1))) file.push_back(byte);
    std::copy(bytes.begin(), bytes.end(), &file[179 + offset]);
    if (bytes.empty() && offset != 0) file.resize(179 + offset);
    writeFile(dataFile(), file);
    writeFile(keyFile(), keyBytes);
    const Result out = withFileSizeLimit(sizeLimit, [this] { return convert(nullptr, &kKey1); });
    EXPECT_NE(out.text.find(message), std::string::npos) << i << out.text;
    EXPECT_EQ(readFile(keyFile()), keyBytes);
    EXPECT_EQ(exists(lockFile()), lock);
    if (lock) removeLock();
    EXPECT_EQ(readFile(dataFile()), file) << i;
    EXPECT_FALSE(backupsLeft() || exists(path(".DAT.new")) || exists(path(".KEY.new"))) << i;
  }
  // A backup that is left (a conversion that died between its renames)
  // blocks updates until a person has looked.
  writeFile(path(".KE_"), {});
  const Result next = put("ORQ/C", "c");
  EXPECT_EQ(next.text.rfind("The key file backup at location \"" + path(".KE_") + "\" exists.", 0), 0u);
  EXPECT_NE(next.text.find("by renaming it to \"" + keyFile() + "\" and check again."), std::string::npos);
  // A new key file that cannot be written completely is not left behind.
  for (const char* suffix : {".DAT", ".KEY", ".KE_"}) unlink(path(suffix).c_str());
  const Result out = withFileSizeLimit(80, [this] { return convert(nullptr, &kKey1); });  // the lock fits
  EXPECT_EQ(out.text, "Cannot write new key into key file \"" + keyFile() + "\"");
  EXPECT_FALSE(exists(keyFile()) || backupsLeft() || exists(lockFile()) || exists(path(".KEY.new")));
}

// A reader never misses a record while conversions run: the new data file
// takes the old one's place (another inode) in one rename.
TEST_F(ConvertTest, ReadersFindEveryRecordDuringConversions) {
  ASSERT_EQ(put("ORQ/A", "a").rc, 0);
  struct stat before, after;
  ASSERT_EQ(stat(dataFile().c_str(), &before), 0);
  const pid_t reader = fork();
  while (reader == 0)
    if (get("ORQ/A").rc != RSEC_SSFS_RC_OK) _exit(1);
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(convert(nullptr, i % 2 == 0 ? &kKey1 : &kKey2).rc, 0);
    // Made while the old file still existed, the new one has another inode;
    // a later file may get an earlier one's number again.
    ASSERT_EQ(stat(dataFile().c_str(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino) << i;
    before = after;
  }
  kill(reader, SIGKILL);
  int status = 0;
  waitpid(reader, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status)) << "a reader missed a record";
}

// A termination signal that arrives while an update holds the lock takes
// effect only after the lock is gone. The trace raises it at a message
// written under the lock.
volatile sig_atomic_t g_lockAtSignal = -1;  // whether the lock file existed then
const char* g_lockPath = nullptr;
const char* g_trigger = nullptr;

TEST_F(ConvertTest, SignalsWaitUntilTheLockIsRemoved) {
  const std::string lock = lockFile();
  g_lockPath = lock.c_str();
  signal(SIGTERM, [](int) { g_lockAtSignal = access(g_lockPath, F_OK) == 0; });
  RSecSSFsSetTraceCallback(
      [](int, const char* text) {
        if (g_trigger != nullptr && std::strstr(text, g_trigger) != nullptr && raise(SIGTERM) == 0) g_trigger = nullptr;
      },
      3);
  for (const char* trigger : {"opened for update", "Backup data file is"}) {
    g_trigger = trigger;
    g_lockAtSignal = -1;
    EXPECT_EQ((trigger[0] == 'o' ? put("ORQ/A", "a") : convert(nullptr, &kKey1)).rc, 0);
    EXPECT_EQ(g_lockAtSignal, 0) << trigger;
  }
  signal(SIGTERM, SIG_DFL);
}

}  // namespace
}  // namespace store_test
