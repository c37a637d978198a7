// Compaction by a writer: when it runs, and that the file it leaves holds
// the active records exactly as they were.
#include <fcntl.h>
#include <unistd.h>

#include "securestore/compaction.h"
#include "securestore/store_files.h"
#include "store_test_support.h"

namespace store_test {
namespace {

using CompactionTest = StoreTest;

// Changes of one key (256-byte records) after `others` encrypted records
// (304 bytes): up to the threshold every record stays; one change more, and
// the file holds the active records only, byte for byte as a reader that
// had the old file open still finds them there. A file that a compaction
// which died left behind goes with the next change. No compaction while
// conversion backups exist.
TEST_F(CompactionTest, WriterCompactsAboveTheThresholdKeepingRecordsAsTheyWere) {
  const struct { int others, changes; size_t sizeAtThreshold; } cases[] = {
      {0, 256, 65536},   // 64 KiB, not above it
      {64, 232, 78848},  // three quarters deleted, not more
  };
  for (const auto& c : cases) {
    std::filesystem::remove(dataFile());
    for (int i = 0; i < c.others; ++i)
      ASSERT_EQ(put(("ORQ/E" + std::to_string(i)).c_str(), std::to_string(i).c_str(), false).rc, RSEC_SSFS_RC_OK);
    for (int i = 0; i < c.changes; ++i) {
      if (i == c.changes - 1) writeFile(dataFile() + ".new", Bytes(3, 'x'));
      ASSERT_EQ(put("ORQ/K", (std::to_string(1000000 + i) + std::string(73, 'v')).c_str()).rc, RSEC_SSFS_RC_OK);
    }
    EXPECT_FALSE(exists(dataFile() + ".new"));
    const int reader = open(dataFile().c_str(), O_RDONLY);
    ASSERT_EQ(put("ORQ/K", "last").rc, RSEC_SSFS_RC_OK);
    const Bytes old = readFile("/proc/self/fd/" + std::to_string(reader));
    close(reader);
    ASSERT_EQ(old.size(), c.sizeAtThreshold + 180);  // no compaction up to the threshold
    Bytes active = slice(old, 0, c.others * 304);
    for (unsigned char byte : slice(old, c.sizeAtThreshold, 180)) active.push_back(byte);
    EXPECT_EQ(readFile(dataFile()), active) << c.others;
    for (int i = 0; i < c.others; ++i)
      EXPECT_EQ(get(("ORQ/E" + std::to_string(i)).c_str()).text_value, std::to_string(i));
    EXPECT_EQ(get("ORQ/K").text_value, "last");
  }
  // A conversion that left its backups after the writer looked for them
  // finds its data file as it was: with either backup there, nothing is
  // compacted, not even to the empty file that keeping nothing would leave.
  const Bytes before = readFile(dataFile());
  rsecssfsConfiguration* config = nullptr;
  ASSERT_EQ(rsecssfs_getConfiguration(&config), RSEC_SSFS_RC_OK);
  const rsecssfsKeptRecords nothing = {};
  bool superseded = false;
  const int fd = open(dataFile().c_str(), O_RDONLY);
  for (const char* backup : {".DA_", ".KE_"}) {
    writeFile(path(backup), Bytes(3, 'x'));
    EXPECT_EQ(rsecssfs_compactDataFile(fd, config, &nothing, true, &superseded) + superseded, 0) << backup;
    EXPECT_EQ(readFile(dataFile()), before) << backup;
    std::filesystem::remove(path(backup));
  }
  close(fd);
  rsecssfs_releaseConfiguration(config, true);
}

}  // namespace
}  // namespace store_test
