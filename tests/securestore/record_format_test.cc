// The bytes a writer leaves in the data file, which keys and values it
// accepts, and what readers and the listing make of records and key files.
#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>

#include "crypto/payload_cipher.h"
#include "crypto/sha1.h"
#include "store_test_support.h"

namespace store_test {
namespace {

class RecordFormatTest : public StoreTest {};

Bytes slice(const Bytes& bytes, size_t from, size_t length) {
  return Bytes(bytes.begin() + from, bytes.begin() + from + length);
}

Bytes padded(std::string text, size_t width) {
  text.resize(width, ' ');
  return Bytes(text.begin(), text.end());
}

TEST_F(RecordFormatTest, PlaintextCharacterRecordHasEveryFieldInPlace) {
  const int64_t before = time(nullptr);
  ASSERT_EQ(put("ORQ/A", "abc").rc, RSEC_SSFS_RC_OK);
  const int64_t after = time(nullptr);
  const Bytes file = readFile(dataFile());
  ASSERT_EQ(file.size(), 179u);
  EXPECT_EQ(std::string(file.begin(), file.begin() + 12), "RSecSSFsData");
  EXPECT_EQ(slice(file, 12, 12), (Bytes{0, 0, 0, 0xB3, 1, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(slice(file, 24, 64), padded("ORQ/A", 64));
  int64_t stamp = 0;
  for (int i = 0; i < 8; ++i) stamp = stamp << 8 | file[88 + i];
  EXPECT_GE(stamp, before);
  EXPECT_LE(stamp, after);
  EXPECT_EQ(slice(file, 96, 24), padded(std::string(getpwuid(getuid())->pw_name).substr(0, 24), 24));
  struct utsname names;
  uname(&names);
  EXPECT_EQ(slice(file, 120, 24), padded(std::string(names.nodename).substr(0, 23), 24));
  EXPECT_EQ(slice(file, 144, 12), (Bytes{0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(slice(file, 156, 20), recordChecksum(slice(file, 24, 155)));
  EXPECT_EQ(slice(file, 176, 3), (Bytes{'a', 'b', 'c'}));
}

// The payload carries random bytes, n, a SHA-1 and the value; decrypted with
// the default key (24 zero bytes) it checks out.
TEST_F(RecordFormatTest, EncryptedCharacterRecordDecryptsWithTheDefaultKey) {
  ASSERT_EQ(put("ORQ/A", "abc", false).rc, RSEC_SSFS_RC_OK);
  const Bytes file = readFile(dataFile());
  ASSERT_EQ(file.size(), 304u);
  EXPECT_EQ(slice(file, 12, 5), (Bytes{0, 0, 1, 0x30, 1}));
  EXPECT_EQ(slice(file, 144, 3), (Bytes{0, 0, 0}));
  EXPECT_EQ(slice(file, 156, 20), recordChecksum(slice(file, 24, 280)));
  Bytes payload = slice(file, 176, 128);
  const unsigned char zeroKey[24] = {};
  RSecPDecrypt(zeroKey, 24, payload.data(), 128, nullptr);
  EXPECT_EQ(slice(payload, 8, 4), (Bytes{0, 0, 0, 3}));
  EXPECT_EQ(slice(payload, 32, 3), (Bytes{'a', 'b', 'c'}));
  haSHA1Context sha;
  Bytes digest(20);
  haSHA1Reset(&sha);
  haSHA1Input(&sha, payload.data(), 12);
  haSHA1Input(&sha, payload.data() + 32, 96);
  haSHA1Result(&sha, digest.data());
  EXPECT_EQ(slice(payload, 12, 20), digest);

  // Random bytes in front and in the fill: the same value encrypts anew.
  ASSERT_EQ(put("ORQ/A", "abc", false).rc, RSEC_SSFS_RC_OK);
  EXPECT_NE(slice(readFile(dataFile()), 304 + 176, 128), slice(file, 176, 128));
}

TEST_F(RecordFormatTest, EncryptedPayloadOfNoMultipleOf128IsRejectedBeforeDecryption) {
  writeFile(dataFile(), makeRecord("ORQ/A", false, false, Bytes(200, 7)));
  captureTrace(3);
  const Value read = get("ORQ/A");
  EXPECT_EQ(read.rc, RSEC_SSFS_RC_FILE_CORRUPTION);
  EXPECT_NE(read.text.find("Payload length of encrypted record is no multiple of 128"), std::string::npos);
  for (const std::string& line : g_trace) EXPECT_EQ(line.find("Decryption attempt"), std::string::npos);
}

// A key file with `type` and `key`, cut or filled with 9s to `size` bytes.
Bytes keyFileBytes(size_t size, unsigned char type = 1, unsigned char keyByte = 0x3C,
                   const char* preamble = "RSecSSFsKey") {
  Bytes bytes(92, ' ');
  std::memcpy(bytes.data(), preamble, 11);
  bytes[11] = type;
  std::memset(&bytes[12], keyByte, 24);
  bytes.resize(size, 9);
  return bytes;
}

TEST_F(RecordFormatTest, KeyFileIsReadOrRejected) {
  const struct {
    const char* name;
    bool present;
    Bytes content;
    RSEC_SSFS_RC rc;
    const char* message;
  } cases[] = {
      {"absent", false, {}, RSEC_SSFS_RC_OK, ""},
      {"empty", true, {}, RSEC_SSFS_RC_OK, ""},
      {"91 bytes", true, keyFileBytes(91), RSEC_SSFS_RC_FILE_CORRUPTION,
       "has content that is shorter than the expected length"},
      {"92 bytes", true, keyFileBytes(92), RSEC_SSFS_RC_OK, ""},
      {"wrong preamble", true, keyFileBytes(92, 1, 0x3C, "XXXXXXXXXXX"), RSEC_SSFS_RC_OK, ""},
      {"longer, bytes after 92 ignored", true, keyFileBytes(200), RSEC_SSFS_RC_OK, ""},
      {"wrong type", true, keyFileBytes(92, 2), RSEC_SSFS_RC_FILE_CORRUPTION, "has wrong type code"},
  };
  ASSERT_EQ(put("ORQ/A", "abc").rc, RSEC_SSFS_RC_OK);
  for (const auto& c : cases) {
    unlink(keyFile().c_str());
    if (c.present) writeFile(keyFile(), c.content);
    const Value read = get("ORQ/A");
    EXPECT_EQ(read.rc, c.rc) << c.name;
    EXPECT_NE(read.text.find(c.message), std::string::npos) << c.name << ": " << read.text;
    EXPECT_EQ(read.text_value, c.rc == RSEC_SSFS_RC_OK ? "abc" : "") << c.name;
  }
}

TEST_F(RecordFormatTest, KeySourceTellsWhichKeyOpenedTheRecord) {
  ASSERT_EQ(put("ORQ/OLD", "written under the default key", false).rc, RSEC_SSFS_RC_OK);
  writeFile(keyFile(), keyFileBytes(92));
  ASSERT_EQ(put("ORQ/NEW", "written under the file key", false).rc, RSEC_SSFS_RC_OK);
  ASSERT_EQ(put("ORQ/PLAIN", "plain").rc, RSEC_SSFS_RC_OK);

  const struct {
    const char* key;
    const char* value;
    rsecssfsKeySource source;
  } cases[] = {{"ORQ/OLD", "written under the default key", RSECSSFS_KEYSOURCE_DEFAULT},
               {"ORQ/NEW", "written under the file key", RSECSSFS_KEYSOURCE_FILE},
               {"ORQ/PLAIN", "plain", RSECSSFS_KEYSOURCE_DEFAULT}};
  for (const auto& c : cases) {
    const Value read = get(c.key);
    EXPECT_EQ(read.text_value, c.value) << read.text;
    EXPECT_EQ(read.keySource, c.source) << c.key;
  }
  writeFile(keyFile(), keyFileBytes(92, 1, 0x77));
  const Value wrong = get("ORQ/NEW");
  EXPECT_EQ(wrong.rc, RSEC_SSFS_RC_INCORRECT_KEY);
  EXPECT_NE(wrong.text.find("Record \"ORQ/NEW\" was inserted with an encryption key that was different"),
            std::string::npos);
}

TEST_F(RecordFormatTest, InsertionChecksKeyCharactersAndNamespacePrefix) {
  const std::string tooLong = "ORQ/" + std::string(61, 'X');
  const struct {
    std::string key;
    RSEC_SSFS_RC rc;
    std::string message;
  } cases[] = {
      {"ORQ/", RSEC_SSFS_RC_OK, ""},
      {"ORQ/NEBRIX/TRACEFLAGS_2", RSEC_SSFS_RC_OK, ""},
      {"ORQ/" + std::string(60, 'X'), RSEC_SSFS_RC_OK, ""},
      {tooLong, RSEC_SSFS_RC_RECORD_KEY_FORMAT,
       "Record key \"" + tooLong + "\" is longer than the permitted length of 64 characters"},
      {"/ORQ", RSEC_SSFS_RC_RECORD_KEY_FORMAT,
       "Record key \"/ORQ\" either does not contain a \"/\" character at all or it contains it at the very "
       "first position."},
      {"ORQ", RSEC_SSFS_RC_RECORD_KEY_FORMAT, "Record key \"ORQ\" either does not contain a \"/\" character"},
      {"orq/x", RSEC_SSFS_RC_RECORD_KEY_FORMAT,
       "Record key \"orq/x\" contains illegal character at index 0. Allowed are only "
       "\"ABCDEFGHIJKLMNOPQRSTUVWXYZ_/0123456789\""},
      {"ORQ/A-B", RSEC_SSFS_RC_RECORD_KEY_FORMAT, "contains illegal character at index 5."},
  };
  for (const auto& c : cases) {
    const Result result = put(c.key.c_str(), "v");
    EXPECT_EQ(result.rc, c.rc) << c.key;
    EXPECT_NE(result.text.find(c.message), std::string::npos) << c.key << ": " << result.text;
  }
  EXPECT_FALSE(exists(lockFile()));
}

// A deletion only checks the length: a key it could never have been stored
// under is simply not found.
TEST_F(RecordFormatTest, DeletionChecksTheLengthOnly) {
  EXPECT_EQ(erase("orq/x").rc, RSEC_SSFS_RC_RECORD_NOT_FOUND);
  EXPECT_EQ(erase(("ORQ/" + std::string(61, 'X')).c_str()).rc, RSEC_SSFS_RC_RECORD_KEY_FORMAT);
}

Bytes der(size_t length, unsigned char second, unsigned char third, unsigned char fourth = 0x11) {
  Bytes value(length, 0x11);
  value[0] = 0x30, value[1] = second, value[2] = third, value[3] = fourth;
  return value;
}

// An accepted value is read back and its payload takes `stored` bytes: an
// encrypted one the next multiple of 128 above its length plus 32.
TEST_F(RecordFormatTest, ValueLimitsDependOnKindAndDerSequences) {
  const struct {
    const char* name;
    bool binary, plaintext;
    Bytes value;
    size_t stored;  // 0: refused with `message`
    const char* message;
  } cases[] = {
      {"DER 0x81 0xC5, 200 bytes", true, false, der(200, 0x81, 0xC5), 256, ""},
      {"not DER 0x81 0xC4", true, false, der(200, 0x81, 0xC4), 0,
       "Record data for key \"ORQ/V\" is longer than the permitted length of 128 bytes for encrypted binary "
       "data"},
      {"encrypted binary 96", true, false, Bytes(96, 1), 128, ""},
      {"encrypted binary 97", true, false, Bytes(97, 1), 256, ""},
      {"encrypted binary 128", true, false, Bytes(128, 1), 256, ""},
      {"DER 0x82, 32768 bytes", true, false, der(32768, 0x82, 0x7F, 0xFC), 32896, ""},
      {"DER 0x82, 32769 bytes", true, false, der(32769, 0x82, 0x7F, 0xFD), 0,
       "permitted length of 32768 bytes for encrypted PSE file"},
      {"empty encrypted binary", true, false, Bytes(), 128, ""},
      {"plaintext binary 32768", true, true, Bytes(32768, 1), 32768, ""},
      {"plaintext binary 32769", true, true, Bytes(32769, 1), 0,
       "permitted length of 32768 bytes for plaintext binary data"},
      {"encrypted text 128", false, false, Bytes(128, 'x'), 256, ""},
      {"encrypted text 129", false, false, Bytes(129, 'x'), 0,
       "permitted length of 128 characters for encrypted character data"},
      {"plaintext text 32768", false, true, Bytes(32768, 'x'), 32768, ""},
      {"plaintext text 32769", false, true, Bytes(32769, 'x'), 0,
       "permitted length of 32768 characters for plaintext character data"},
  };
  for (const auto& c : cases) {
    const std::string text(c.value.begin(), c.value.end());
    const size_t before = readFile(dataFile()).size();
    const Result result =
        c.binary ? putBinary("ORQ/V", c.value, c.plaintext) : put("ORQ/V", text.c_str(), c.plaintext);
    EXPECT_EQ(result.rc, c.stored != 0 ? RSEC_SSFS_RC_OK : RSEC_SSFS_RC_VALUE_TOO_LONG) << c.name;
    EXPECT_NE(result.text.find(c.message), std::string::npos) << c.name << ": " << result.text;
    if (c.stored == 0) continue;
    EXPECT_EQ(readFile(dataFile()).size(), before + 176 + c.stored) << c.name;
    const Value read = get("ORQ/V");
    EXPECT_EQ(read.isBinary ? read.binary : Bytes(read.text_value.begin(), read.text_value.end()), c.value);
    EXPECT_EQ(read.isBinary, c.binary) << c.name;
    EXPECT_EQ(read.isPlaintext, c.plaintext) << c.name;
  }
}

class ListRecordsTest : public StoreTest {
 protected:
  // (key, status) of every line, after checking the counts.
  std::vector<std::pair<std::string, int>> list(size_t active, size_t deleted) {
    RSecSSFsListRecordsAPI* api = RSecSSFsListRecordsAPIGet();
    RSecSSFsListRecords(api);
    EXPECT_EQ(api->out_pProcessingInfo->rc, RSEC_SSFS_RC_OK);
    EXPECT_EQ(std::string(api->out_pDatafile), dataFile());
    EXPECT_EQ(std::string(api->out_pKeyfile), keyFile());
    EXPECT_EQ(api->out_numberActiveRecords, active);
    EXPECT_EQ(api->out_numberDeletedRecords, deleted);
    std::vector<std::pair<std::string, int>> lines;
    for (size_t i = 0; i < api->out_numberActiveRecords; ++i) {
      EXPECT_GE(api->out_pRecords[i].lastUpdated, start_);
      EXPECT_LE(api->out_pRecords[i].lastUpdated, time(nullptr));
      lines.emplace_back(api->out_pRecords[i].pKey, api->out_pRecords[i].status);
    }
    RSecSSFsListRecordsAPIRelease(api);
    return lines;
  }
  const int64_t start_ = time(nullptr);
};

TEST_F(ListRecordsTest, ActiveRecordsInFileOrderWithStatusAndCounts) {
  ASSERT_EQ(put("ORQ/A", "first").rc, RSEC_SSFS_RC_OK);
  ASSERT_EQ(put("ORQ/B", "secret", false).rc, RSEC_SSFS_RC_OK);
  ASSERT_EQ(put("ORQ/A", "second").rc, RSEC_SSFS_RC_OK);
  ASSERT_EQ(putBinary("ORQ/C", {1, 2}).rc, RSEC_SSFS_RC_OK);
  ASSERT_EQ(putBinary("ORQ/D", {3}, false).rc, RSEC_SSFS_RC_OK);
  ASSERT_EQ(erase("ORQ/D").rc, RSEC_SSFS_RC_OK);
  using Lines = std::vector<std::pair<std::string, int>>;
  EXPECT_EQ(list(3, 2), (Lines{{"ORQ/B", RSEC_SSFS_RECORD_STATUS_OK_TEXT_ENCRYPTED},
                               {"ORQ/A", RSEC_SSFS_RECORD_STATUS_OK_TEXT_PLAIN},
                               {"ORQ/C", RSEC_SSFS_RECORD_STATUS_OK_BINARY_PLAIN}}));

  // A record under a key file that is gone again, and C with a bad checksum.
  Bytes key(92, ' ');
  key[11] = 1;
  writeFile(keyFile(), key);
  ASSERT_EQ(putBinary("ORQ/E", {4}, false).rc, RSEC_SSFS_RC_OK);
  unlink(keyFile().c_str());
  ASSERT_EQ(putBinary("ORQ/F", {5}, false).rc, RSEC_SSFS_RC_OK);
  Bytes file = readFile(dataFile());
  const std::string c = "ORQ/C ";
  file[std::search(file.begin(), file.end(), c.begin(), c.end()) - file.begin() - 24 + 176] ^= 1;
  writeFile(dataFile(), file);
  EXPECT_EQ(list(5, 2), (Lines{{"ORQ/B", RSEC_SSFS_RECORD_STATUS_OK_TEXT_ENCRYPTED},
                               {"ORQ/A", RSEC_SSFS_RECORD_STATUS_OK_TEXT_PLAIN},
                               {"ORQ/C", RSEC_SSFS_RECORD_STATUS_ERROR},
                               {"ORQ/E", RSEC_SSFS_RECORD_STATUS_WRONG_KEY},
                               {"ORQ/F", RSEC_SSFS_RECORD_STATUS_OK_BINARY_ENCRYPTED}}));
}

}  // namespace
}  // namespace store_test
