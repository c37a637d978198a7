#include "base/error_code.h"

#include <gtest/gtest.h>

#include "base/error_code_table.h"

namespace {

// Nothing else in this program may touch ERR_SECSTORE_INVALID_KEY, so its
// number is unknown until the accessor runs here. Every call of an accessor
// hands out the same record.
TEST(ErrorCode, RegistryLearnsACodeWhenItsAccessorFirstRuns) {
  EXPECT_STREQ(ltt::error_code::error_no_to_text(91003), "Unknown");
  SecureStore__ERR_SECSTORE_INVALID_KEY();
  EXPECT_STREQ(ltt::error_code::error_no_to_text(91003), "Invalid secure store key");

  const ltt::impl::ErrorCodeImpl& first = NEBRIX__ERR_NEBRIX_TRACESHM_ALREADY_ATTACHED();
  EXPECT_EQ(&NEBRIX__ERR_NEBRIX_TRACESHM_ALREADY_ATTACHED(), &first);
  EXPECT_STREQ(first.name(), "ERR_NEBRIX_TRACESHM_ALREADY_ATTACHED");
  EXPECT_STREQ(ltt::error_code::error_no_to_text(200303), "Shared memory is already attached");
}

}  // namespace
