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

// `environment` entries are "NAME=value"; the program gets exactly these.
ProgramResult runProgram(const std::string& path, const std::vector<std::string>& args,
                         const std::vector<std::string>& environment);

// Runs the built nebrix_cons with a minimal environment.
ProgramResult runConsole(const std::vector<std::string>& args);

class PrivateHome;
// Runs the built nebrix_cons as the user whose home is `home`.
ProgramResult runConsole(const PrivateHome& home, const std::vector<std::string>& args);

}  // namespace nebrix_test
