// A fixture for tests that run nebrix_cons as the test user, whose home is a
// private directory: every test starts with an empty profile, and the files
// the console leaves behind (history, shared memory, configuration) can be
// inspected byte for byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "program_runner.h"

namespace nebrix_test {

struct ShmPart {
  int32_t processID = 0;
  int32_t readCount = 0;
  std::string flags;
};

// The whole content of a file, "" when it cannot be read.
std::string readFile(const std::string& path);

class ConsoleSession : public testing::Test {
 protected:
  void SetUp() override;

  ProgramResult run(const std::vector<std::string>& args, const std::string& workingDirectory = "");
  // Runs and expects success with nothing on standard error.
  void runOk(const std::vector<std::string>& args);

  std::string profileDirectory() const;
  // The configured trace flags, read with the configuration functions.
  std::string configuredFlags() const;
  // History actions (blanks trimmed) oldest first, with the process field.
  std::vector<std::string> historyActions() const;
  std::vector<std::string> historyProcesses() const;
  // The trace shared-memory file as the console left it.
  int32_t updateCount() const;
  std::vector<ShmPart> parts() const;
  // Writes one part into the file directly, as a client process would.
  void writePart(int index, int32_t processID, int32_t readCount, const std::string& flags) const;
};

}  // namespace nebrix_test
