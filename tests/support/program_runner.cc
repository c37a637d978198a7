#include "program_runner.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "private_home.h"

namespace nebrix_test {

namespace {

// The content of a capture file, which is removed.
std::string takeAll(const char* path) {
  const std::string text = readFile(path);
  unlink(path);
  return text;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> result;
  for (auto& s : strings) result.push_back(&s[0]);
  result.push_back(nullptr);
  return result;
}

}  // namespace

ProgramResult runProgram(const std::string& path, const std::vector<std::string>& args,
                         const std::vector<std::string>& environment, const std::string& workingDirectory) {
  char outName[] = "/tmp/nebrix-cli-out-XXXXXX";
  char errName[] = "/tmp/nebrix-cli-err-XXXXXX";
  const int outFd = mkstemp(outName);
  const int errFd = mkstemp(errName);
  if (outFd < 0 || errFd < 0) throw std::runtime_error("cannot create capture files");
  std::vector<std::string> argStrings = {path};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<std::string> envStrings = environment;
  std::vector<char*> argv = pointers(argStrings);
  std::vector<char*> envp = pointers(envStrings);

  const pid_t child = fork();
  if (child == 0) {
    dup2(open("/dev/null", O_RDONLY), 0);
    dup2(outFd, 1);
    dup2(errFd, 2);
    if (!workingDirectory.empty() && chdir(workingDirectory.c_str()) != 0) _exit(126);
    execve(path.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  int waitStatus = 0;
  waitpid(child, &waitStatus, 0);
  close(outFd);
  close(errFd);
  ProgramResult result;
  result.out = takeAll(outName);
  result.err = takeAll(errName);
  result.status = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1;
  return result;
}

std::vector<std::string> inheritedTestEnvironment() {
  std::vector<std::string> environment = {"PATH=/usr/bin:/bin", "LANG=C"};
  for (const char* name :
       {"LD_PRELOAD", "NSS_WRAPPER_PASSWD", "NSS_WRAPPER_GROUP", "NEBRIX_TEST_HOME", "ASAN_OPTIONS", "UBSAN_OPTIONS",
        "TSAN_OPTIONS"}) {
    if (const char* value = getenv(name)) environment.push_back(std::string(name) + "=" + value);
  }
  return environment;
}

ProgramResult runConsole(const std::vector<std::string>& args, const std::string& workingDirectory) {
  return runProgram(NEBRIX_CONS_BINARY, args, inheritedTestEnvironment(), workingDirectory);
}

}  // namespace nebrix_test
