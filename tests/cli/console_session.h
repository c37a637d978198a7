// A fixture for tests that run nebrix_cons as the test user, whose home is a
// private directory: every test starts with an empty profile, and the files
// the console leaves behind (history, shared memory, configuration) can be
// inspected byte for byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "private_home.h"
#include "program_runner.h"

namespace nebrix_test {

// A process id that no process ever has, and what a change for it warns.
inline const std::string kNoProcess = "2147483646";
inline const std::string kNoProcessWarning = "Warning: Process " + kNoProcess +
                                             " is not running; the change waits in the trace shared memory for a "
                                             "process with that id.\n";

// What a relative name of the "trace" or "profile" file warns.
inline std::string relativeNameWarning(const std::string& kind) {
  return "Warning: The " + kind + " file name is relative: each process writes the file in its own working "
         "directory. Use an absolute name, such as ~/nebrix" + kind + "-%p.prt, to find the files in one place.\n";
}

// One run of the console and what it is to print and return.
struct Expected {
  std::vector<std::string> args;
  std::string out;
  std::string err;
  int status;
  std::string workingDirectory = "";
};

class ConsoleSession : public testing::Test {
 protected:
  void SetUp() override;

  // Runs each in turn and compares.
  void check(const std::vector<Expected>& runs) const;
  // What the console prints on standard error, and its exit status, run by
  // the shell after `shell` (such as "chmod 0 file;"); root runs it without its
  // power to bypass file permissions, as any other user would.
  static std::string errorAndStatus(const std::vector<std::string>& args, const std::string& shell = "");
  // Runs and expects success without output.
  void runOk(const std::vector<std::string>& args) const { check({{args, "", "", 0}}); }

  std::string profileDirectory() const;
  // The configured trace flags, read and written with the configuration functions.
  std::string configuredFlags() const;
  void setConfiguredFlags(const char* flags) const;
  // The actions of the history records (blanks trimmed), oldest first: the
  // console fills the slots in order until all are used.
  std::vector<std::string> historyActions() const;
  // The update counter of the trace shared-memory file, -1 without a file.
  int32_t updateCount() const;
  // The used parts of the shared-memory file: "<process> <read count> <flags>".
  std::vector<std::string> parts() const;
  // Writes one part into the file directly, as a client process would.
  void writePart(int index, int32_t processID, int32_t readCount, const std::string& flags) const;
  // Leaves the store locked, as an update of user "alice" on "host-x" that
  // ended without unlocking would.
  void lockStore() const;
};

}  // namespace nebrix_test
