// Converting the whole store: re-encryption, migration to a new key, and
// what a failed conversion leaves behind.
#include <unistd.h>

#include "securestore/checked_allocator.h"
#include "store_test_support.h"

namespace store_test {
namespace {

const Bytes kKey1(24, 0x11), kKey2(24, 0x22);
using Counts = std::vector<int>;  // plaintext, readable, not readable

struct Outcome : Result {
  Counts counts;
};

class ConvertTest : public StoreTest {
 protected:
  Outcome convert(const Bytes* oldKey, const Bytes* newKey, RSecSSFsConvertAPI* api = nullptr) {
    RSecSSFsConvertAPI* call = api != nullptr ? api : RSecSSFsConvertAPIGet();
    call->in_pOldKey = oldKey != nullptr ? oldKey->data() : nullptr;
    call->in_pNewKey = newKey != nullptr ? newKey->data() : nullptr;
    RSecSSFsConvert(call);
    const RSecProcessingInfo* info = call->out_pProcessingInfo;
    Outcome out{{info->rc, info->pErrorText != nullptr ? info->pErrorText : ""},
                {call->out_numberRecordsPlain, call->out_numberRecordsSecureReadable,
                 call->out_numberRecordsSecureNotReadable}};
    if (api == nullptr) RSecSSFsConvertAPIRelease(call);
    return out;
  }
  // Each record of the data file: data header up to its checksum, payload.
  std::vector<std::pair<Bytes, Bytes>> records() {
    const Bytes file = readFile(dataFile());
    std::vector<std::pair<Bytes, Bytes>> out;
    for (size_t at = 0, length; at < file.size(); at += length) {
      length = size_t{file[at + 12]} << 24 | file[at + 13] << 16 | file[at + 14] << 8 | file[at + 15];
      out.emplace_back(Bytes(&file[at + 24], &file[at + 156]), Bytes(&file[at + 176], &file[at] + length));
    }
    return out;
  }
  bool backupsLeft() { return exists(path(".DA_")) || exists(path(".KE_")); }
  Outcome convertLimited(rlim_t sizeLimit) {
    return withFileSizeLimit(sizeLimit, [this] { return convert(nullptr, &kKey1); });
  }
};

// Twice without keys: deleted records go, the rest keep identifier, stamp
// and flags; encrypted payloads get fresh random bytes, nothing else does.
TEST_F(ConvertTest, DropsDeletedRecordsAndRenewsEncryptedPayloadsOnly) {
  writeFile(dataFile(), makeRecord("ORQ/OLD", true, false, {'o', 0, 'd'}));  // stamped 1970, by nobody
  for (const char* key : {"ORQ/A", "ORQ/S", "ORQ/A"}) ASSERT_EQ(put(key, key, key[4] != 'S').rc, 0);
  ASSERT_EQ(putBinary("ORQ/X", {1}, false).rc, 0);
  ASSERT_EQ(erase("ORQ/X").rc, 0);
  auto kept = records();
  ASSERT_EQ(kept.size(), 5u);
  kept.erase(kept.begin() + 4);
  kept.erase(kept.begin() + 1);
  for (int round = 0; round < 2; ++round) {
    const Outcome out = convert(nullptr, nullptr);
    EXPECT_EQ(out.rc, RSEC_SSFS_RC_OK) << out.text;
    EXPECT_EQ(out.counts, (Counts{2, 1, 0}));
    const auto now = records();
    ASSERT_EQ(now.size(), 3u);
    for (size_t i = 0; i < now.size(); ++i) {
      EXPECT_EQ(now[i].first, kept[i].first) << round << i;
      EXPECT_EQ(now[i].second.size(), kept[i].second.size());
      EXPECT_EQ(now[i].second == kept[i].second, now[i].first[121] == 1) << round << i;
    }
    kept = now;
    EXPECT_FALSE(backupsLeft() || exists(lockFile()));
  }
  EXPECT_EQ(get("ORQ/S").text_value, "ORQ/S");
  EXPECT_TRUE(get("ORQ/A").isPlaintext);
}

// P is plaintext, D encrypted under the default key, X under key 1; at each
// conversion there is no key file. keySource 0: the record is unreadable.
TEST_F(ConvertTest, CountsMigratesAndRekeys) {
  captureTrace(3);
  ASSERT_EQ(convert(nullptr, &kKey1).rc, 0);  // a store without data file only gets its key file
  RSecSSFsSetTraceCallback(nullptr, 0);
  EXPECT_FALSE(exists(dataFile()) || backupsLeft());
  const Bytes key1File = readFile(keyFile());
  ASSERT_EQ(key1File.size(), 92u);
  EXPECT_EQ(std::string(key1File.begin(), key1File.begin() + 12), "RSecSSFsKey\1");
  for (const std::string& line : g_trace) EXPECT_EQ(line.find("11 11 11"), std::string::npos) << line;
  ASSERT_EQ(putBinary("ORQ/X", {7, 8}, false).rc, 0);
  unlink(keyFile().c_str());
  ASSERT_EQ(put("ORQ/P", "p").rc, 0);
  ASSERT_EQ(put("ORQ/D", "d", false).rc, 0);
  const Bytes store = readFile(dataFile());
  const struct {
    const Bytes *oldKey, *newKey;
    Counts counts;
    int sourceD, sourceX;
  } cases[] = {{nullptr, nullptr, {1, 1, 1}, 2, 0}, {&kKey1, nullptr, {1, 2, 0}, 2, 2},
               {nullptr, &kKey2, {1, 1, 1}, 1, 0}, {nullptr, &kKey1, {1, 2, 0}, 1, 1},
               {&kKey1, &kKey2, {1, 2, 0}, 1, 1}};
  for (const auto& c : cases) {
    const int i = static_cast<int>(&c - cases);
    writeFile(dataFile(), store);
    unlink(keyFile().c_str());
    const Outcome out = convert(c.oldKey, c.newKey);
    EXPECT_EQ(out.rc, RSEC_SSFS_RC_OK) << i << out.text;
    EXPECT_EQ(out.counts, c.counts) << i;
    const Bytes key = readFile(keyFile());
    EXPECT_EQ(key.size() == 92 ? Bytes(&key[12], &key[36]) : key, c.newKey != nullptr ? *c.newKey : Bytes{});
    EXPECT_TRUE(get("ORQ/P").isPlaintext) << i;
    for (const auto& [name, source] : {std::pair{"ORQ/D", c.sourceD}, std::pair{"ORQ/X", c.sourceX}}) {
      const Value read = get(name);
      EXPECT_EQ(read.rc, source == 0 ? RSEC_SSFS_RC_INCORRECT_KEY : RSEC_SSFS_RC_OK) << i << name;
      EXPECT_EQ(read.keySource, source == 0 ? RSECSSFS_KEYSOURCE_DEFAULT : source) << i << name;
    }
  }
}

// Every encrypted record is under a key that is not at hand: the new key is
// refused and the store stays as it was. The call record served a conversion
// before; its counters grow, but the refusal looks at this call only.
TEST_F(ConvertTest, RefusesANewKeyThatWouldOpenNoEncryptedRecord) {
  RSecSSFsConvertAPI* api = RSecSSFsConvertAPIGet();
  ASSERT_EQ(convert(nullptr, &kKey1, api).rc, 0);
  const Bytes key1File = readFile(keyFile());
  ASSERT_EQ(put("ORQ/S", "secret", false).rc, 0);
  ASSERT_EQ(putBinary("ORQ/B", {9}, false).rc, 0);
  ASSERT_EQ(put("ORQ/P", "plain").rc, 0);
  ASSERT_EQ(convert(nullptr, nullptr, api).rc, 0);
  Bytes otherKeyFile = key1File;
  std::fill(&otherKeyFile[12], &otherKeyFile[36], 0x33);
  writeFile(keyFile(), otherKeyFile);
  const Bytes store = readFile(dataFile());

  const Outcome out = convert(nullptr, &kKey2, api);
  RSecSSFsConvertAPIRelease(api);
  EXPECT_EQ(out.rc, RSEC_SSFS_RC_INCORRECT_KEY);
  EXPECT_EQ(out.text.rfind("No encrypted record in the secure storage could be successfully", 0), 0u);
  EXPECT_EQ(out.counts, (Counts{2, 2, 2}));
  EXPECT_EQ(readFile(keyFile()), otherKeyFile);
  EXPECT_EQ(readFile(dataFile()), store);
  EXPECT_FALSE(backupsLeft() || exists(lockFile()));
  writeFile(keyFile(), key1File);
  EXPECT_EQ(get("ORQ/S").text_value, "secret");
}

// A failure after the data file was touched leaves the backups, which then
// block updates; a failure before that leaves the store as it was.
TEST_F(ConvertTest, FailuresLeaveBackupsExactlyWhenSomethingChanged) {
  const struct {
    size_t offset;  // into record B (encrypted) of A, B and E (malformed encrypted payload)
    Bytes bytes;
    bool cut, lock;
    rlim_t sizeLimit;
    size_t keyFileSize;
    bool changed;
    const char* message;
  } cases[] = {
      // clang-format off
      {200, {0}, false, false, 0, 0, true, "Checksum over data header and payload incorrect"},
      {200, {}, true, false, 0, 0, true, "Premature end of file when reading 128 bytes of payload data"},
      {12, {0, 1, 0x81, 0x51}, false, false, 0, 0, true, "exceeds the maximum expected record length"},
      {0, {}, false, false, 0, 0, true, "During conversion an error has occurred when reading the source "
          "record <-- Payload length of encrypted record is no multiple of 128"},
      {0, {}, false, true, 0, 0, false, "Update of the secure storage is locked for update by user"},
      {0, {}, false, false, 80, 0, false, "SSFS_TST.DA_\" cannot be written completely"},  // lock fits
      {0, {}, false, false, 0, 50, false, "SSFS_TST.KEY\" has content that is shorter than the expected"},
      // clang-format on
  };
  for (const auto& c : cases) {
    const int i = static_cast<int>(&c - cases);
    for (const char* suffix : {".DAT", ".DA_", ".KE_", ".KEY"}) unlink(path(suffix).c_str());
    ASSERT_EQ(put("ORQ/A", "abc").rc, 0);
    ASSERT_EQ(put("ORQ/B", "secret", false, c.lock).rc, 0);
    Bytes file = readFile(dataFile());
    for (unsigned char byte : makeRecord("ORQ/E", false, false, Bytes(200, 1))) file.push_back(byte);
    std::copy(c.bytes.begin(), c.bytes.end(), &file[179 + c.offset]);
    if (c.cut) file.resize(179 + c.offset);
    writeFile(dataFile(), file);
    writeFile(keyFile(), Bytes(c.keyFileSize, 1));
    const Outcome out = convertLimited(c.sizeLimit);
    EXPECT_NE(out.rc, RSEC_SSFS_RC_OK) << i;
    EXPECT_NE(out.text.find(c.message), std::string::npos) << i << out.text;
    EXPECT_EQ(readFile(keyFile()), Bytes(c.keyFileSize, 1));
    EXPECT_EQ(exists(lockFile()), c.lock);
    if (c.lock) removeLock();
    EXPECT_EQ(readFile(c.changed ? path(".DA_") : dataFile()), file) << i;
    EXPECT_EQ(exists(path(".KE_")), c.changed) << i;
    const Result next = put("ORQ/C", "c");
    EXPECT_EQ(next.text.find("The data file backup at location"), c.changed ? 0 : std::string::npos) << i;
  }
  // A new key file that cannot be written completely is not left behind.
  for (const char* suffix : {".DAT", ".KEY"}) unlink(path(suffix).c_str());
  const Outcome out = convertLimited(80);  // the lock file fits
  EXPECT_EQ(out.text, "Cannot write new key into key file \"" + keyFile() + "\"");
  EXPECT_FALSE(exists(keyFile()) || backupsLeft() || exists(lockFile()));
}

}  // namespace
}  // namespace store_test
