// The trace, the error text of a call, and the store's allocator.
#include "securestore/diagnostics.h"

#include "securestore/api_frame.h"
#include "securestore/checked_allocator.h"
#include "store_test_support.h"

namespace store_test {
namespace {

class TraceTest : public StoreTest {
 protected:
  void TearDown() override {
    rsecssfs_discardErrorText();
    rsecssfs_activateMemoryCheck(false);
    StoreTest::TearDown();
  }
  std::string errorText() { return rsecssfs_errorText() != nullptr ? rsecssfs_errorText() : ""; }
};

TEST_F(TraceTest, ErrorTextListsWholeMessagesNewestFirstWithoutRepeats) {
  rsecssfs_trace(RSECSSFS_TRC1, "not an error");
  EXPECT_EQ(rsecssfs_errorText(), nullptr);
  rsecssfs_trace(RSECSSFS_TRCERR, "first %d", 1);
  rsecssfs_trace(RSECSSFS_TRCERR, "first %d", 1);
  EXPECT_EQ(errorText(), "first 1");
  rsecssfs_trace(RSECSSFS_TRC2_RETURNED, "second");
  rsecssfs_trace(7, "third");
  EXPECT_EQ(errorText(), "third <-- second <-- first 1");

  captureTrace(3);
  const std::string message(5000, 'm');
  rsecssfs_setTraceLocation("f.cc", 1);
  rsecssfs_trace(RSECSSFS_TRCERR, "%s", message.c_str());
  ASSERT_EQ(g_trace.size(), 1u);
  EXPECT_EQ(g_trace[0], "0 RSecSSFs: " + message + " [f.cc 1]");
  EXPECT_EQ(errorText(), message + " <-- third <-- second <-- first 1");
}

TEST_F(TraceTest, CallbackGetsMappedLevelsUpToItsMaximum) {
  captureTrace(2);
  rsecssfs_setTraceLocation("/some/dir/file.cc", 42);
  rsecssfs_trace(RSECSSFS_TRC2_RETURNED, "returned");
  rsecssfs_trace(RSECSSFS_TRC3, "detail");
  rsecssfs_trace(-5, "odd level");
  EXPECT_EQ(g_trace, (std::vector<std::string>{"2 RSecSSFs: returned [file.cc 42]",
                                               "0 RSecSSFs: odd level [file.cc 42]"}));
}

TEST_F(TraceTest, HexDumpShowsSixteenBytesPerLineAndMasksRanges) {
  unsigned char bytes[20];
  for (int i = 0; i < 20; ++i) bytes[i] = static_cast<unsigned char>(0x3E + i);
  bytes[0] = 0x00;
  rsecssfs_hextrace(bytes, sizeof bytes, 0);  // no callback: nothing at all
  captureTrace(2);
  rsecssfs_hextrace(bytes, sizeof bytes, 0);
  EXPECT_TRUE(g_trace.empty());

  captureTrace(3);
  rsecssfs_setTraceLocation("f.cc", 9);
  rsecssfs_hextrace(bytes, sizeof bytes, 1, bytes + 2, bytes + 4);
  rsecssfs_hextrace(bytes, 0, 0);
  rsecssfs_hextrace(nullptr, 4, 0);
  EXPECT_EQ(g_trace, (std::vector<std::string>{"3 RSecSSFs:     00000000 00 3F ** ** 42 43 44 45 46 47 48 49 "
                                               "4A 4B 4C 4D  .?**BCDEFGHIJKLM [f.cc 9]",
                                               "3 RSecSSFs:     00000010 4E 4F 50 51                         "
                                               "             NOPQ             [f.cc 9]",
                                               "3 RSecSSFs: Binary dump: Incoming data are NULL [f.cc 9]"}));
}

TEST_F(TraceTest, MemoryCheckFindsDoubleFreesLeaksAndOverruns) {
  rsecssfs_activateMemoryCheck(true);
  void* block = RSECSSFS_ALLOC(8);
  RSECSSFS_FREE(block);
  EXPECT_FALSE(rsecssfs_checkMemoryState());
  RSECSSFS_FREE(block);  // the second time it is only noted
  EXPECT_TRUE(rsecssfs_checkMemoryState());

  rsecssfs_activateMemoryCheck(true);
  auto* text = static_cast<char*>(RSECSSFS_ALLOC_CHARS(4));
  text[4] = 'Y';  // over the guard
  RSECSSFS_FREE(text);
  EXPECT_TRUE(rsecssfs_checkMemoryState());

  rsecssfs_activateMemoryCheck(true);
  void* leaked = RSECSSFS_ALLOC(3);
  EXPECT_TRUE(rsecssfs_checkMemoryState());
  rsecssfs_activateMemoryCheck(false);
  RSECSSFS_FREE(leaked);
}

TEST_F(TraceTest, LowMemoryGivesTheStaticResultThatReleaseKeeps) {
  ASSERT_EQ(put("ORQ/A", "a").rc, RSEC_SSFS_RC_OK);
  for (unsigned n = 1;; ++n) {
    MERO_RSecSSFsGetRecordAPI* api = MERO_RSecSSFsGetRecordAPIGet();
    api->in_pKey = "ORQ/A";
    rsecssfs_failAllocationForTesting(n);
    MERO_RSecSSFsGetRecord(api);
    rsecssfs_failAllocationForTesting(0);
    RSecProcessingInfo* info = api->out_pProcessingInfo;
    const bool done = info->rc == RSEC_SSFS_RC_OK;
    if (!done) {
      EXPECT_EQ(info, rsecssfs_lowMemoryProcessingInfo()) << n;
      EXPECT_EQ(info->rc, RSEC_SSFS_RC_LOW_MEMORY);
      EXPECT_STREQ(info->pErrorText,
                   "A low-memory situation has occurred, therefore no call-specific error text is available; "
                   "information about the incident are recorded in the developer trace");
    }
    MERO_RSecSSFsGetRecordAPIRelease(api);
    if (done) break;
  }
  EXPECT_EQ(rsecssfs_lowMemoryProcessingInfo()->rc, RSEC_SSFS_RC_LOW_MEMORY);
}

}  // namespace
}  // namespace store_test
