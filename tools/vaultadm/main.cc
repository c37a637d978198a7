// vaultadm: the administration utility of the secure file store. One
// command per invocation; see usageText() and docs/vaultadm.md.
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "command_line.h"
#include "commands.h"

namespace {

// Set when standard output was closed at the start.
bool g_outputWasClosed = false;

// Descriptors 0 to 2 that are closed get a stand-in: a store file opened
// later would otherwise take their number, and a message or a value would
// be written into it. Standard output gets one on which every write fails,
// so that output that has nowhere to go is reported as lost.
void occupyClosedStandardDescriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    const int standIn = open(fd == STDOUT_FILENO ? "/dev/full" : "/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (standIn >= 0 && standIn != fd) {
      dup2(standIn, fd);
      close(standIn);
    }
    if (fd == STDOUT_FILENO) g_outputWasClosed = true;
  }
}

// The results must have reached standard output: a listing cut short, or a
// generated key that nobody saw, is a failure, whatever the command did.
int checkedExit(int status) {
  int error = errno;  // of the last write, should that have failed
  errno = 0;
  const bool streamFailed = !std::cout.flush() || std::fflush(stdout) != 0 || std::ferror(stdout) != 0;
  if (errno != 0) error = errno;
  if (lostOutputError() != 0) {
    error = lostOutputError();
  } else if (!streamFailed) {
    error = close(STDOUT_FILENO) == 0 || errno == EBADF ? 0 : errno;
  } else if (error == 0) {
    error = EIO;
  }
  if (error == 0) return status;
  std::cerr << "Error: Standard output cannot be written: " << std::strerror(g_outputWasClosed ? EBADF : error)
            << "." << std::endl;
  return kExitFailure;
}

int run(int argc, char** argv) {
  const std::vector<std::string> words(argv + 1, argv + argc);
  if (words.empty()) {
    std::cerr << usageText();
    return kExitFailure;
  }
  CommandLine line;
  std::string error;
  if (!parseCommandLine(words, line, error)) {
    std::cerr << "Error: " << error << std::endl;
    return kExitFailure;
  }
  if (line.command == Command::Help) {
    std::cout << usageText();
    return kExitSuccess;
  }
  try {
    if (!selectStore(line, error)) {
      std::cerr << "Error: " << error << std::endl;
      return kExitFailure;
    }
    return runCommand(line);
  } catch (const std::exception& ex) {
    std::cerr << "Error: " << ex.what() << std::endl;
  }
  return kExitFailure;
}

}  // namespace

int main(int argc, char** argv) {
  // Keys and values pass through this process's memory: no core dump, and
  // no other process of the user, may see it.
  prctl(PR_SET_DUMPABLE, 0);
  occupyClosedStandardDescriptors();
  // The store gives the files it creates the process's default mode. Data
  // and key files are nobody else's business, wherever -d and -k put them.
  umask(077);
  // A file-size limit makes a write fail, which every update reports and
  // recovers from; the default action would kill the program mid-update
  // and leave the store locked.
  signal(SIGXFSZ, SIG_IGN);
  return checkedExit(run(argc, argv));
}
