// Replacing and deleting records, and what readers and writers do with a
// data file whose last record broke off.
#include <unistd.h>

#include "securestore/checked_allocator.h"
#include "store_test_support.h"

namespace store_test {
namespace {

class PutRecordTest : public StoreTest {
 protected:
  // isDeleted of the record that starts at `offset`.
  unsigned char deletedFlag(size_t offset) { return readFile(dataFile()).at(offset + 144); }
};

TEST_F(PutRecordTest, MissingDataFileOrKeyReadsAsNotFoundAndDeletesNothing) {
  const Value none = get("ORQ/A");
  EXPECT_EQ(none.rc, RSEC_SSFS_RC_RECORD_NOT_FOUND);
  EXPECT_EQ(none.text, "Data file \"" + dataFile() + "\" cannot be opened for read");
  ASSERT_EQ(put("ORQ/A", "a").rc, RSEC_SSFS_RC_OK);
  const Bytes before = readFile(dataFile());
  const Result result = erase("ORQ/B");
  EXPECT_EQ(result.rc, RSEC_SSFS_RC_RECORD_NOT_FOUND);
  EXPECT_EQ(result.text, "Record with key \"ORQ/B\" not found in secure storage");
  EXPECT_EQ(readFile(dataFile()), before);
  EXPECT_FALSE(exists(lockFile()));
}

// A replacement appends and marks the earlier record deleted. A writer that
// died between the two leaves two active records: readers keep the old
// value, and the next write of the key marks both.
TEST_F(PutRecordTest, ReplacementAppendsThenMarksAndHealsAnInterruptedOne) {
  ASSERT_EQ(put("ORQ/A", "one").rc, RSEC_SSFS_RC_OK);
  ASSERT_EQ(put("ORQ/A", "two").rc, RSEC_SSFS_RC_OK);
  ASSERT_EQ(readFile(dataFile()).size(), 2 * 179u);
  EXPECT_EQ(deletedFlag(0), 1);
  EXPECT_EQ(deletedFlag(179), 0);
  EXPECT_EQ(get("ORQ/A").text_value, "two");
  EXPECT_FALSE(exists(lockFile()));
  Bytes file = readFile(dataFile());
  file[144] = 0;  // as if the marking never happened
  writeFile(dataFile(), file);
  EXPECT_EQ(get("ORQ/A").text_value, "one");

  ASSERT_EQ(put("ORQ/A", "three").rc, RSEC_SSFS_RC_OK);
  EXPECT_EQ(deletedFlag(0), 1);
  EXPECT_EQ(deletedFlag(179), 1);
  EXPECT_EQ(deletedFlag(358), 0);
  EXPECT_EQ(get("ORQ/A").text_value, "three");
}

// The disk refuses the append (file size limit): the old value stays in
// force and the file is as it was.
TEST_F(PutRecordTest, FailedAppendLeavesTheOldValueReadable) {
  ASSERT_EQ(put("ORQ/A", "old").rc, RSEC_SSFS_RC_OK);
  const Bytes before = readFile(dataFile());
  const Result result = withFileSizeLimit(before.size() + 100, [] { return put("ORQ/A", "new"); });

  EXPECT_EQ(result.rc, RSEC_SSFS_RC_NO_WRITE_PERMISSION);
  EXPECT_NE(result.text.find("EOF at writing record data"), std::string::npos);
  EXPECT_EQ(readFile(dataFile()), before);
  EXPECT_FALSE(exists(lockFile()));
  EXPECT_EQ(get("ORQ/A").text_value, "old");
}

// Memory running out at any point of a replacement never loses the old value.
TEST_F(PutRecordTest, ReplacementFailingAtAnyAllocationKeepsAValue) {
  ASSERT_EQ(put("ORQ/A", "old").rc, RSEC_SSFS_RC_OK);
  RSEC_SSFS_RC rc = RSEC_SSFS_RC_LOW_MEMORY;
  for (unsigned n = 1; n < 200 && rc != RSEC_SSFS_RC_OK; ++n) {
    MERO_RSecSSFsPutRecordAPI* api = MERO_RSecSSFsPutRecordAPIGet();
    api->in_pKey = "ORQ/A";
    api->in_pValue = "new";
    api->in_storePlaintext = false;
    rsecssfs_failAllocationForTesting(n);
    MERO_RSecSSFsPutRecord(api);
    rsecssfs_failAllocationForTesting(0);
    rc = api->out_pProcessingInfo->rc;
    MERO_RSecSSFsPutRecordAPIRelease(api);
    EXPECT_TRUE(rc == RSEC_SSFS_RC_OK || rc == RSEC_SSFS_RC_LOW_MEMORY) << n;
    const Value read = get("ORQ/A");
    ASSERT_EQ(read.rc, RSEC_SSFS_RC_OK) << n;
    // The result record itself may be what ran out of memory.
    EXPECT_TRUE(read.text_value == "new" || (rc != RSEC_SSFS_RC_OK && read.text_value == "old")) << n;
    EXPECT_FALSE(exists(lockFile())) << n;
  }
  EXPECT_EQ(rc, RSEC_SSFS_RC_OK);
}

// Key A (a record of 177 bytes) lies before the broken record of key B;
// "ORQ/X" is not stored.
TEST_F(PutRecordTest, BrokenLastRecordForReadersAndTheWriterThatCutsItOff) {
  const struct {
    const char* name;
    size_t keep;  // bytes of B's 187-byte record left
    RSEC_SSFS_RC rcB, rcX;
    const char* messageB;
  } cases[] = {
      {"fewer than 24 bytes", 23, RSEC_SSFS_RC_RECORD_NOT_FOUND, RSEC_SSFS_RC_RECORD_NOT_FOUND, "not found"},
      {"inside the data header", 100, RSEC_SSFS_RC_FILE_CORRUPTION, RSEC_SSFS_RC_FILE_CORRUPTION,
       "Premature end of file when reading data header"},
      {"inside the payload", 180, RSEC_SSFS_RC_FILE_CORRUPTION, RSEC_SSFS_RC_RECORD_NOT_FOUND,
       "Premature end of file when reading 11 bytes of payload data"},
  };
  for (const auto& c : cases) {
    unlink(dataFile().c_str());
    ASSERT_EQ(put("ORQ/A", "a").rc, RSEC_SSFS_RC_OK);
    ASSERT_EQ(put("ORQ/B", "hello world").rc, RSEC_SSFS_RC_OK);
    Bytes file = readFile(dataFile());
    file.resize(177 + c.keep);
    writeFile(dataFile(), file);

    const Value b = get("ORQ/B");
    EXPECT_EQ(b.rc, c.rcB) << c.name;
    EXPECT_NE(b.text.find(c.messageB), std::string::npos) << c.name << ": " << b.text;
    if (b.rc == RSEC_SSFS_RC_FILE_CORRUPTION) {
      EXPECT_NE(b.text.find("Waiting cycle number 4 for 600ms, then retrying <-- "), std::string::npos);
    }
    EXPECT_EQ(get("ORQ/X").rc, c.rcX) << c.name;
    EXPECT_EQ(get("ORQ/A").text_value, "a") << c.name;

    captureTrace(1);
    ASSERT_EQ(put("ORQ/C", "c").rc, RSEC_SSFS_RC_OK) << c.name;
    ASSERT_EQ(g_trace.size(), 1u) << c.name;
    EXPECT_NE(g_trace[0].find("1 RSecSSFs: Data file \"" + dataFile() +
                              "\" ends inside an incomplete record at file position 177; cutting off its " +
                              std::to_string(c.keep) + " bytes"),
              std::string::npos);
    RSecSSFsSetTraceCallback(nullptr, 0);
    file.resize(177);
    const Bytes repaired = readFile(dataFile());
    EXPECT_EQ(Bytes(repaired.begin(), repaired.begin() + 177), file) << c.name;
    EXPECT_EQ(repaired.size(), 2 * 177u) << c.name;
    EXPECT_EQ(get("ORQ/C").text_value, "c") << c.name;
    EXPECT_EQ(get("ORQ/B").rc, RSEC_SSFS_RC_RECORD_NOT_FOUND) << c.name;
  }
}

TEST_F(PutRecordTest, CorruptRecordsAreReportedNotRepaired) {
  const struct {
    const char* name;
    size_t offset;
    Bytes bytes;
    const char* message;
  } cases[] = {
      {"preamble", 0, {'X'}, "Record at file position 0 does not start with preamble; maybe file is no RSecSSFs file"},
      {"length above the maximum", 12, {0, 1, 0x81, 0x51},
       "Record length read at file position 0 (98641) exceeds the maximum expected record length (98640)"},
      {"negative length", 12, {0xFF, 0xFF, 0xFF, 0xFF},
       "Record length read at file position 0 (18446744073709551615) exceeds the maximum"},
      {"length below the headers", 12, {0, 0, 0, 175},
       "Record length read at file position 0 (175) is below the minimum record length (176)"},
      {"record type", 16, {2}, "Record type indicator 2 read from header at file position 0 not supported"},
      {"checksum", 180, {'z'}, "Checksum over data header and payload incorrect"},
  };
  for (const auto& c : cases) {
    unlink(dataFile().c_str());
    ASSERT_EQ(put("ORQ/A", "abcdef").rc, RSEC_SSFS_RC_OK);
    Bytes file = readFile(dataFile());
    std::copy(c.bytes.begin(), c.bytes.end(), file.begin() + c.offset);
    writeFile(dataFile(), file);
    const Value read = get("ORQ/A");
    EXPECT_EQ(read.rc, RSEC_SSFS_RC_FILE_CORRUPTION) << c.name;
    EXPECT_NE(read.text.find(c.message), std::string::npos) << c.name << ": " << read.text;
    if (c.offset != 180) {
      EXPECT_EQ(put("ORQ/B", "b").rc, RSEC_SSFS_RC_FILE_CORRUPTION) << c.name;
    }
    EXPECT_EQ(readFile(dataFile()), file) << c.name;
  }
}

// A record of the largest accepted length is read; one byte more is not.
TEST_F(PutRecordTest, RecordLengthLimitIs98640) {
  writeFile(dataFile(), makeRecord("ORQ/A", true, true, Bytes(98640 - 176, 0xAB)));
  const Value read = get("ORQ/A");
  EXPECT_EQ(read.rc, RSEC_SSFS_RC_OK);
  EXPECT_EQ(read.binary.size(), 98640u - 176);
}

}  // namespace
}  // namespace store_test
