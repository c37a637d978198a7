// nebrix_trace_client: a stand-in for a client process of the NEBRIX
// library, to watch the trace console work. It maps the user's trace
// shared-memory file as a watcher and, whenever the update counter moves,
// reads its settings again: its own part's flags, or the configured flags
// when it has no part or its part holds "R". Each change is acknowledged and
// printed as one line. SIGTERM or SIGINT end it.
//
//   nebrix_trace_client [-i <milliseconds>]     polling interval, default 100
//   nebrix_trace_client -h|--help|--version
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "base/standard_streams.h"
#include "base/exception.h"
#include "profile/configuration.h"
#include "trace/trace_shared_memory.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void requestStop(int) { g_stop = 1; }

// The flags this process follows now, and where they come from.
std::string effectiveFlags(NEBRIX::TraceSharedMemory& sharedMemory, std::string& source) {
  const char* own = sharedMemory.getMyFlags();
  if (own != nullptr && strcmp(own, "R") != 0) {
    source = "own settings";
    return own;
  }
  source = "configuration";
  char flags[1024] = "";
  char errortext[512] = "";
  if (NEBRIX::Configuration::getTraceFlags(nullptr, NEBRIX::Configuration::NEBRIX_COMPONENT, nullptr, flags,
                                           sizeof flags, errortext, sizeof errortext) != NEBRIX_OK) {
    source = std::string("configuration unreadable: ") + errortext;
  }
  return flags;
}

void report(NEBRIX::TraceSharedMemory& sharedMemory) {
  sharedMemory.updateMyReadCount();
  std::string source;
  const std::string flags = effectiveFlags(sharedMemory, source);
  std::cout << "update " << sharedMemory.getUpdateCount() << ": flags \"" << flags << "\" (" << source << ")"
            << std::endl;
}

const char kUsage[] = "Usage: nebrix_trace_client [-i <milliseconds>]\n";

const char kHelp[] =
    "Maps the trace shared-memory file of the user as a client process of the NEBRIX\n"
    "library does, and prints a line whenever the trace settings it follows change.\n"
    "Options:\n"
    "  -i <milliseconds>  How often it looks for a change: 1 to 60000, default 100.\n"
    "  -h, --help         This help.\n"
    "  --version          Prints the version.\n";

// -h, --help or --version as the only argument: prints what it asks for.
bool answerRequest(int argc, char** argv) {
  if (argc != 2) return false;
  const std::string option = argv[1];
  if (option == "--version") {
    std::cout << "nebrix_trace_client " << NEBRIX_PROJECT_VERSION << std::endl;
  } else if (option == "-h" || option == "--help") {
    std::cout << kUsage << kHelp << std::flush;
  } else {
    return false;
  }
  return true;
}

bool parseInterval(int argc, char** argv, long& milliseconds) {
  milliseconds = 100;
  if (argc == 1) return true;
  if (argc != 3 || strcmp(argv[1], "-i") != 0) return false;
  char* end = nullptr;
  milliseconds = strtol(argv[2], &end, 10);
  return *end == '\0' && milliseconds >= 1 && milliseconds <= 60000;
}

}  // namespace

int main(int argc, char** argv) {
  Diagnose::occupyClosedStandardDescriptors();
  if (answerRequest(argc, argv)) return Diagnose::finishStandardOutput() ? 0 : 1;
  long interval = 0;
  if (!parseInterval(argc, argv, interval)) {
    std::cerr << kUsage << std::flush;
    return 1;
  }
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = requestStop;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  signal(SIGXFSZ, SIG_IGN);  // creating the shared-memory file fails instead

  NEBRIX::TraceSharedMemory sharedMemory;
  try {
    sharedMemory.attach(NEBRIX::Configuration::NEBRIX_COMPONENT, nullptr);
  } catch (const ltt::exception& ex) {
    std::cerr << "Error opening shared memory: ";
    ex.expandAll(std::cerr);
    std::cerr << std::endl;
    return 1;
  }
  std::cout << "process " << getpid() << " watching the trace settings" << std::endl;
  report(sharedMemory);
  while (!g_stop) {
    usleep(static_cast<useconds_t>(interval) * 1000);
    if (sharedMemory.isMyReadCountLower()) report(sharedMemory);
  }
  std::cout << "process " << getpid() << " stopped" << std::endl;
  return Diagnose::finishStandardOutput() ? 0 : 1;
}
