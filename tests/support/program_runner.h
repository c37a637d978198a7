// Runs a program with arguments and an environment and collects what it
// writes to standard output and standard error, and its exit status.
#pragma once

#include <string>
#include <vector>

namespace nebrix_test {

struct ProgramResult {
  std::string out;
  std::string err;
  int status = -1;  // exit status, or -1 when the program did not exit normally
};

// `environment` entries are "NAME=value"; the program gets exactly these. A
// non-empty `workingDirectory` is where the program starts.
ProgramResult runProgram(const std::string& path, const std::vector<std::string>& args,
                         const std::vector<std::string>& environment, const std::string& workingDirectory = "");

// The environment of a program started by a test that runs under a private
// home: the same user database, the same home, the same sanitizer settings.
std::vector<std::string> inheritedTestEnvironment();

// Runs the built nebrix_cons as the user this test program runs as (with a
// private home when the program runs under one).
ProgramResult runConsole(const std::vector<std::string>& args, const std::string& workingDirectory = "");

}  // namespace nebrix_test
