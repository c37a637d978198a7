// Listing the records of the store.
#include <unistd.h>

#include <algorithm>
#include <ctime>

#include "store_test_support.h"

namespace store_test {
namespace {

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
