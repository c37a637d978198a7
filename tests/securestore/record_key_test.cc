// Which keys and values a writer accepts.
#include "store_test_support.h"

namespace store_test {
namespace {

class RecordKeyTest : public StoreTest {};

TEST_F(RecordKeyTest, InsertionChecksKeyCharactersAndNamespacePrefix) {
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
    if (c.rc == RSEC_SSFS_RC_OK) {
      EXPECT_EQ(get(c.key.c_str()).text_value, "v");
    }
  }
  EXPECT_FALSE(exists(lockFile()));
}

// A deletion only checks the length: a key it could never have been stored
// under is simply not found.
TEST_F(RecordKeyTest, DeletionChecksTheLengthOnly) {
  EXPECT_EQ(erase("orq/x").rc, RSEC_SSFS_RC_RECORD_NOT_FOUND);
  EXPECT_EQ(erase(("ORQ/" + std::string(61, 'X')).c_str()).rc, RSEC_SSFS_RC_RECORD_KEY_FORMAT);
}

Bytes der(size_t length, unsigned char second, unsigned char third) {
  Bytes value(length, 0x11);
  value[0] = 0x30, value[1] = second, value[2] = third;
  return value;
}

TEST_F(RecordKeyTest, ValueLimitsDependOnKindAndDerSequences) {
  const struct {
    const char* name;
    bool binary, plaintext;
    Bytes value;
    RSEC_SSFS_RC rc;
    const char* message;
  } cases[] = {
      {"DER 0x81 0xC5, 200 bytes", true, false, der(200, 0x81, 0xC5), RSEC_SSFS_RC_OK, ""},
      {"not DER 0x81 0xC4", true, false, der(200, 0x81, 0xC4), RSEC_SSFS_RC_VALUE_TOO_LONG,
       "Record data for key \"ORQ/V\" is longer than the permitted length of 128 bytes for encrypted binary "
       "data"},
      {"encrypted binary 128", true, false, Bytes(128, 1), RSEC_SSFS_RC_OK, ""},
      {"DER 0x82, 32769 bytes", true, false,
       [] {
         Bytes v = der(32769, 0x82, 0x7F);
         v[3] = 0xFD;
         return v;
       }(),
       RSEC_SSFS_RC_VALUE_TOO_LONG, "permitted length of 32768 bytes for encrypted PSE file"},
      {"empty encrypted binary", true, false, Bytes(), RSEC_SSFS_RC_OK, ""},
      {"plaintext binary 32768", true, true, Bytes(32768, 1), RSEC_SSFS_RC_OK, ""},
      {"plaintext binary 32769", true, true, Bytes(32769, 1), RSEC_SSFS_RC_VALUE_TOO_LONG,
       "permitted length of 32768 bytes for plaintext binary data"},
      {"encrypted text 128", false, false, Bytes(128, 'x'), RSEC_SSFS_RC_OK, ""},
      {"encrypted text 129", false, false, Bytes(129, 'x'), RSEC_SSFS_RC_VALUE_TOO_LONG,
       "permitted length of 128 characters for encrypted character data"},
      {"plaintext text 32768", false, true, Bytes(32768, 'x'), RSEC_SSFS_RC_OK, ""},
      {"plaintext text 32769", false, true, Bytes(32769, 'x'), RSEC_SSFS_RC_VALUE_TOO_LONG,
       "permitted length of 32768 characters for plaintext character data"},
  };
  for (const auto& c : cases) {
    const std::string text(c.value.begin(), c.value.end());
    const Result result =
        c.binary ? putBinary("ORQ/V", c.value, c.plaintext) : put("ORQ/V", text.c_str(), c.plaintext);
    EXPECT_EQ(result.rc, c.rc) << c.name;
    EXPECT_NE(result.text.find(c.message), std::string::npos) << c.name << ": " << result.text;
    if (c.rc != RSEC_SSFS_RC_OK) continue;
    const Value read = get("ORQ/V");
    if (c.binary) {
      EXPECT_EQ(read.binary, c.value) << c.name;
    } else {
      EXPECT_EQ(read.text_value, text) << c.name;
    }
  }
}

}  // namespace
}  // namespace store_test
