// The bytes a writer leaves in the data file, and what a reader makes of
// payloads and key files.
#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

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

TEST_F(RecordFormatTest, EncryptedPayloadSizeIsTheNextMultipleOf128AboveNPlus32) {
  const struct {
    size_t n;
    size_t stored;
  } cases[] = {{0, 128}, {96, 128}, {97, 256}, {32768, 32896}};
  size_t offset = 0;
  for (const auto& c : cases) {
    Bytes value(c.n, 0x41);
    if (c.n == 32768)
      value = [] {  // a DER sequence may be this long
        Bytes der(32768, 0x55);
        der[0] = 0x30, der[1] = 0x82, der[2] = 0x7F, der[3] = 0xFC;
        return der;
      }();
    ASSERT_EQ(putBinary("ORQ/V", value, false).rc, RSEC_SSFS_RC_OK) << c.n;
    const Bytes file = readFile(dataFile());
    EXPECT_EQ(file.size(), offset + 176 + c.stored) << c.n;
    offset = file.size();
    const Value read = get("ORQ/V");
    EXPECT_EQ(read.rc, RSEC_SSFS_RC_OK);
    EXPECT_TRUE(read.isBinary && !read.isPlaintext);
    EXPECT_EQ(read.binary, value) << c.n;
  }
}

TEST_F(RecordFormatTest, EncryptedPayloadOfNoMultipleOf128IsRejectedBeforeDecryption) {
  writeFile(dataFile(), makeRecord("ORQ/A", false, false, Bytes(200, 7)));
  captureTrace(3);
  const Value read = get("ORQ/A");
  EXPECT_EQ(read.rc, RSEC_SSFS_RC_FILE_CORRUPTION);
  EXPECT_NE(read.text.find("Payload length of encrypted record is no multiple of 128"), std::string::npos);
  for (const std::string& line : g_trace) EXPECT_EQ(line.find("Decryption attempt"), std::string::npos);
}

// A key file with `type` and `key`; `size` bytes of it are written.
Bytes keyFileBytes(size_t size, unsigned char type = 1, unsigned char keyByte = 0x3C,
                   const char* preamble = "RSecSSFsKey") {
  Bytes bytes(92, ' ');
  std::memcpy(bytes.data(), preamble, 11);
  bytes[11] = type;
  std::memset(&bytes[12], keyByte, 24);
  bytes.resize(size);
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
      {"longer, bytes after 92 ignored", true,
       [] {
         Bytes b = keyFileBytes(92);
         b.resize(200, 9);
         return b;
       }(),
       RSEC_SSFS_RC_OK, ""},
      {"wrong type", true, keyFileBytes(92, 2), RSEC_SSFS_RC_FILE_CORRUPTION, "has wrong type code"},
  };
  ASSERT_EQ(put("ORQ/A", "abc").rc, RSEC_SSFS_RC_OK);
  for (const auto& c : cases) {
    unlink(keyFile().c_str());
    if (c.present) writeFile(keyFile(), c.content);
    const Value read = get("ORQ/A");
    EXPECT_EQ(read.rc, c.rc) << c.name;
    EXPECT_NE(read.text.find(c.message), std::string::npos) << c.name << ": " << read.text;
    if (c.rc == RSEC_SSFS_RC_OK) {
      EXPECT_EQ(read.text_value, "abc") << c.name;
    }
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
    EXPECT_EQ(read.rc, RSEC_SSFS_RC_OK) << c.key;
    EXPECT_EQ(read.text_value, c.value);
    EXPECT_EQ(read.keySource, c.source) << c.key;
  }
  writeFile(keyFile(), keyFileBytes(92, 1, 0x77));
  const Value wrong = get("ORQ/NEW");
  EXPECT_EQ(wrong.rc, RSEC_SSFS_RC_INCORRECT_KEY);
  EXPECT_NE(wrong.text.find("Record \"ORQ/NEW\" was inserted with an encryption key that was different"),
            std::string::npos);
}

}  // namespace
}  // namespace store_test
