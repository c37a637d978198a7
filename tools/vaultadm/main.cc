// vaultadm: the administration utility of the secure file store. One
// command per invocation; see usageText() and docs/vaultadm.md.
#include <sys/stat.h>

#include <csignal>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "command_line.h"
#include "commands.h"

int main(int argc, char** argv) {
  // The store gives the files it creates the process's default mode. Data
  // and key files are nobody else's business, wherever -d and -k put them.
  umask(077);
  // A file-size limit makes a write fail, which every update reports and
  // recovers from; the default action would kill the program mid-update
  // and leave the store locked.
  signal(SIGXFSZ, SIG_IGN);
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
