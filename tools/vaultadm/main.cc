// vaultadm: the administration utility of the secure file store. One
// command per invocation; see usageText() and docs/vaultadm.md.
#include <sys/prctl.h>
#include <sys/stat.h>

#include <csignal>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "base/standard_streams.h"
#include "command_line.h"
#include "commands.h"

namespace {

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
    std::cout << line.reply;
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
  Diagnose::occupyClosedStandardDescriptors();
  // The store gives the files it creates the process's default mode. Data
  // and key files are nobody else's business, wherever -d and -k put them.
  umask(077);
  // A file-size limit makes a write fail, which every update reports and
  // recovers from; the default action would kill the program mid-update
  // and leave the store locked.
  signal(SIGXFSZ, SIG_IGN);
  const int status = run(argc, argv);
  // std::cout writes through stdout, whose error flag tells of a lost write.
  std::cout.flush();
  // The results must have reached standard output: a listing cut short, or a
  // generated key that nobody saw, is a failure, whatever the command did.
  return Diagnose::finishStandardOutput(lostOutputError()) ? status : kExitFailure;
}
