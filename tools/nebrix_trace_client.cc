// nebrix_trace_client: a client process of the NEBRIX trace library, to
// watch the trace console work. It asks the library for its trace settings
// every interval; the library notices a change of the shared-memory file,
// reads the settings again (its own part's flags, or the configured flags
// when it has no part or its part holds "R") and acknowledges them, and the
// program prints each change as one line. SIGTERM or SIGINT end it.
//
//   nebrix_trace_client [-i <milliseconds>]     polling interval, default 100
//   nebrix_trace_client -h|--help|--version
#include <fcntl.h>
#include <nebrix/trace.h>
#include <unistd.h>

#include <csignal>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

namespace {

volatile std::sig_atomic_t g_stop = 0;

void requestStop(int) { g_stop = 1; }

void report(void*) {
  struct nbx_trace_settings settings;
  if (nbx_trace_settings(&settings) != NBX_OK) return;
  std::cout << "update " << nbx_trace_update_count() << ": flags \"" << settings.flags << "\" ("
            << (settings.own_settings ? "own settings" : "configuration") << ")" << std::endl;
}

void printDiagnostic(const char* text, void*) { std::cerr << text << std::endl; }

// Standard output that fails is reported: a watcher whose lines are lost
// must not look as if it worked.
bool finishStandardOutput() {
  std::cout.flush();
  if (!std::cout || std::fflush(stdout) != 0 || std::fclose(stdout) != 0) {
    std::fprintf(stderr, "Error: Standard output cannot be written: %s.\n", std::strerror(errno));
    return false;
  }
  return true;
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
    std::cout << "nebrix_trace_client " << nbx_version() << std::endl;
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

// A standard descriptor that was closed at start would be taken by the first
// file opened, the trace file or the shared-memory file, and the program's
// output would land there.
static void occupyClosedStandardDescriptors() {
  for (int descriptor = 0; descriptor <= 2; ++descriptor) {
    if (fcntl(descriptor, F_GETFD) == -1 && open("/dev/null", descriptor == 0 ? O_RDONLY : O_WRONLY) == -1) return;
  }
}

int main(int argc, char** argv) {
  occupyClosedStandardDescriptors();
  if (answerRequest(argc, argv)) return finishStandardOutput() ? 0 : 1;
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

  nbx_trace_set_diagnostic(printDiagnostic, nullptr);
  if (nbx_trace_open(nullptr) != NBX_OK) return 1;
  std::cout << "process " << getpid() << " watching the trace settings" << std::endl;
  report(nullptr);
  nbx_trace_on_change(report, nullptr);
  while (!g_stop) {
    usleep(static_cast<useconds_t>(interval) * 1000);
    nbx_trace_enabled(NBX_TRACE_CALL);
  }
  std::cout << "process " << getpid() << " stopped" << std::endl;
  nbx_trace_close();
  return finishStandardOutput() ? 0 : 1;
}
