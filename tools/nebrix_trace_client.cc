// nebrix_trace_client: a client process of the NEBRIX trace library, to
// watch the trace console work. It asks the library for its trace settings
// every interval; the library notices a change of the shared-memory file,
// reads the settings again (its own part's flags, or the configured flags
// when it has no part or its part holds "R") and acknowledges them, and the
// program prints each change as one line. SIGTERM or SIGINT end it.
// With -r it also writes records into its trace, one per interval while the
// SQL trace is on, "record <n> of <count>", and says when all are written.
//
//   nebrix_trace_client [-i <milliseconds>] [-r <count>]
//                                               polling interval, default 100
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
  struct nbx_trace_settings settings = NBX_TRACE_SETTINGS_INIT;
  if (nbx_trace_get_settings(&settings) != NBX_OK) return;
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

const char kUsage[] = "Usage: nebrix_trace_client [-i <milliseconds>] [-r <count>]\n";

const char kHelp[] =
    "Maps the trace shared-memory file of the user as a client process of the NEBRIX\n"
    "library does, and prints a line whenever the trace settings it follows change.\n"
    "Options:\n"
    "  -i <milliseconds>  How often it looks for a change: 1 to 60000, default 100.\n"
    "  -r <count>         Writes <count> SQL trace records, one each time it looks\n"
    "                     while the SQL trace is on, then prints \"wrote <count> records\".\n"
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

// -i <milliseconds> and -r <count>, each at most once, in any order.
bool parseOptions(int argc, char** argv, long& milliseconds, long& records) {
  milliseconds = 100;
  records = 0;
  bool seen[2] = {false, false};
  for (int i = 1; i < argc; i += 2) {
    const int which = strcmp(argv[i], "-i") == 0 ? 0 : strcmp(argv[i], "-r") == 0 ? 1 : -1;
    if (which < 0 || seen[which] || i + 1 >= argc) return false;
    seen[which] = true;
    char* end = nullptr;
    const long value = strtol(argv[i + 1], &end, 10);
    const long maximum = which == 0 ? 60000 : 100000000;
    if (*end != '\0' || value < 1 || value > maximum) return false;
    (which == 0 ? milliseconds : records) = value;
  }
  return true;
}

// One record per call while the SQL trace is on, until `count` are written.
void writeRecord(long count, long& written) {
  if (written >= count || !nbx_trace_enabled(NBX_TRACE_SQL)) return;
  ++written;
  nbx_trace_printf(NBX_TRACE_SQL, "record %ld of %ld", written, count);
  if (written == count) std::cout << "wrote " << count << " records" << std::endl;
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
  long records = 0;
  long written = 0;
  if (!parseOptions(argc, argv, interval, records)) {
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
    nbx_trace_enabled(NBX_TRACE_SHORT);
    writeRecord(records, written);
  }
  std::cout << "process " << getpid() << " stopped" << std::endl;
  nbx_trace_close();
  return finishStandardOutput() ? 0 : 1;
}
