#include "base/error_code.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "base/error_code_table.h"

namespace {

// Nothing else in this program may touch ERR_SECSTORE_INVALID_KEY, so its
// number is unknown until the accessor runs here.
TEST(ErrorCode, NumberBecomesKnownOnlyWhenItsAccessorRuns) {
  EXPECT_STREQ(ltt::error_code::error_no_to_text(91003), "Unknown");
  SecureStore__ERR_SECSTORE_INVALID_KEY();
  EXPECT_STREQ(ltt::error_code::error_no_to_text(91003), "Invalid secure store key");
}

TEST(ErrorCode, AccessorRegistersItsRecordOnce) {
  const ltt::impl::ErrorCodeImpl& first = NEBRIX__ERR_NEBRIX_TRACESHM_ALREADY_ATTACHED();
  const ltt::impl::ErrorCodeImpl* head = ltt::impl::ErrorCodeImpl::registry_head();
  const ltt::impl::ErrorCodeImpl& second = NEBRIX__ERR_NEBRIX_TRACESHM_ALREADY_ATTACHED();
  EXPECT_EQ(&first, &second);
  EXPECT_EQ(ltt::impl::ErrorCodeImpl::registry_head(), head);
  EXPECT_STREQ(first.name(), "ERR_NEBRIX_TRACESHM_ALREADY_ATTACHED");
  EXPECT_STREQ(first.category().name(), "generic");
  EXPECT_STREQ(ltt::error_code::error_no_to_text(200303), "Shared memory is already attached");
}

TEST(ErrorCode, StreamOutputAndDefault) {
  std::ostringstream os;
  os << NEBRIX__ERR_NEBRIX_TRACESHM_ALREADY_ATTACHED();
  EXPECT_EQ(os.str(), "Shared memory is already attached:200303");
  std::ostringstream missing;
  missing << ltt::error_code(42, nullptr, ltt::generic_category());
  EXPECT_EQ(missing.str(), ":42");
  EXPECT_TRUE(missing.fail());

  ltt::error_code code = System__ERR_SYS_MEMORYMAP_OPEN_ERR();
  code.clear();
  EXPECT_EQ(code.number(), 0);
  EXPECT_STREQ(code.message_template(), "Default constructed empty exception object");
  EXPECT_EQ(&code.category(), &ltt::generic_category());
}

}  // namespace
