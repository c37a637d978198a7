// main of test programs that use the profile directory: the tests run in a
// second process that sees a private home through nss_wrapper.
#include <gtest/gtest.h>

#include "private_home.h"

int main(int argc, char** argv) {
  const int status = nebrix_test::rerunUnderPrivateHome(argc, argv);
  if (status >= 0) return status;
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
