#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "program_runner.h"

namespace nebrix_test {
namespace {

std::string expectedUsage() {
  std::ifstream in(std::string(NEBRIX_CLI_TEST_DIR) + "/usage.txt", std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  std::string usage = text.str();
  const std::string marker = "@VERSION@";
  usage.replace(usage.find(marker), marker.size(), NEBRIX_VERSION);
  return usage;
}

TEST(Usage, HelpOptionWritesUsageToStandardOutput) {
  for (const auto& args : {std::vector<std::string>{"-h"}, {"-h", "TRACE", "FOO"}, {"-v", "-h", "-x"}}) {
    const ProgramResult r = runConsole(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, expectedUsage());
    EXPECT_EQ(r.err, "");
  }
}

TEST(Usage, NoArgumentsWritesUsageToStandardErrorAndFails) {
  const ProgramResult r = runConsole({});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, expectedUsage());
}

}  // namespace
}  // namespace nebrix_test
