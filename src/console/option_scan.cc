// The options before the command words (-v, -p, -u, -H, -f, -o, -w, --all,
// -h, --help, --version): each checked, and refused with a message when it
// does not fit.
#include <strings.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "base/text_output.h"
#include "console/console.h"

namespace NEBRIX {

namespace {

// A process id is a whole decimal number (leading white space and a sign
// allowed) that fits a signed 32-bit value and is at least 1. A value that
// does not fit is refused rather than cut to its low 32 bits, which would
// address an unrelated process.
bool readProcessId(const char* text, int32_t& pid) {
  char* end = nullptr;
  errno = 0;
  const long value = strtol(text, &end, 10);
  if (*end != '\0' || errno == ERANGE || value < 1 || value > INT32_MAX) return false;
  pid = static_cast<int32_t>(value);
  return true;
}

// Seconds to wait: a whole decimal number from 0 to 3600, nothing around it.
bool readWaitSeconds(const char* text, int32_t& seconds) {
  if (*text < '0' || *text > '9') return false;
  char* end = nullptr;
  errno = 0;
  const long value = strtol(text, &end, 10);
  if (*end != '\0' || errno == ERANGE || value > 3600) return false;
  seconds = static_cast<int32_t>(value);
  return true;
}

}  // namespace

// The -H warning, one for each -H, is printed once the scan is over,
// whether it succeeded or not: with "-o json" standard output carries the
// document alone, and "-o" may come after "-H".
NEBRIX_Retcode Console::scanOptions(int argc, char** argv, int& next) {
  const NEBRIX_Retcode rc = scanOptionWords(argc, argv, next);
  for (int i = 0; i < m_hostwarnings; ++i) {
    Text::Output& stream = m_output == OUTPUT_JSON ? Text::err : Text::out;
    stream << "Warning: The -H option has been deprecated. The settings will be updated "
              "for the physical host instead."
           << Text::endl;
  }
  return rc;
}

NEBRIX_Retcode Console::scanOptionWords(int argc, char** argv, int& next) {
  if (argc <= 1) {
    usage(Text::err);
    return NEBRIX_NOT_OK;
  }
  int i = 1;
  while (i < argc) {
    const char* arg = argv[i];
    if (strcmp(arg, "-h") == 0 || strcmp(arg, "--help") == 0 || strcmp(arg, "--version") == 0) {
      m_command.route = Route::HELP;
      m_help = strcmp(arg, "-h") == 0 ? HELP_USAGE : strcmp(arg, "--help") == 0 ? HELP_FULL : HELP_VERSION;
      next = argc;
      return NEBRIX_OK;
    } else if (strcmp(arg, "-v") == 0) {
      m_verbose = true;
      ++i;
    } else if (strcmp(arg, "--all") == 0) {
      m_all = true;
      ++i;
    } else if (strcmp(arg, "-f") == 0) {
      ++i;
    } else if (strcmp(arg, "-p") == 0) {
      if (i + 1 >= argc) {
        Text::err << "Error: Option -p requires an argument." << Text::endl;
        return NEBRIX_NOT_OK;
      }
      if (!readProcessId(argv[i + 1], m_pid)) {
        Text::err << "Error: Invalid process id specified as argument to -p option." << Text::endl;
        return NEBRIX_NOT_OK;
      }
      m_pidpresent = true;
      i += 2;
    } else if (strcmp(arg, "-o") == 0) {
      if (i + 1 >= argc) {
        Text::err << "Error: Option -o requires an argument." << Text::endl;
        return NEBRIX_NOT_OK;
      }
      // Like the command words, the format is read without regard to case.
      if (strcasecmp(argv[i + 1], "json") == 0) {
        m_output = OUTPUT_JSON;
      } else if (strcasecmp(argv[i + 1], "text") == 0) {
        m_output = OUTPUT_TEXT;
      } else {
        Text::err << "Error: Invalid output format specified as argument to -o option, use json or text." << Text::endl;
        return NEBRIX_NOT_OK;
      }
      i += 2;
    } else if (strcmp(arg, "-w") == 0) {
      if (i + 1 >= argc) {
        Text::err << "Error: Option -w requires an argument." << Text::endl;
        return NEBRIX_NOT_OK;
      }
      if (!readWaitSeconds(argv[i + 1], m_waitseconds)) {
        Text::err << "Error: Invalid number of seconds specified as argument to -w option "
                     "(a whole number from 0 to 3600)."
                  << Text::endl;
        return NEBRIX_NOT_OK;
      }
      m_waitpresent = true;
      i += 2;
    } else if (strcmp(arg, "-H") == 0) {
      ++m_hostwarnings;
      // The host name after "-H" is skipped unused; a trailing "-H" ends the scan.
      i = (i + 2 < argc) ? i + 2 : argc;
    } else if (strcmp(arg, "-u") == 0) {
      if (i + 1 >= argc) {
        Text::err << "Error: Option -u requires an argument." << Text::endl;
        return NEBRIX_NOT_OK;
      }
      // An empty name is the calling user, as the configuration takes it; a
      // name kept as empty would be refused by some steps of a command after
      // others had already changed the configuration.
      m_user = argv[i + 1][0] != '\0' ? argv[i + 1] : nullptr;
      i += 2;
    } else if (arg[0] == '-') {
      Text::err << "Error: Unknown option " << arg << " given." << Text::endl;
      return NEBRIX_NOT_OK;
    } else {
      break;
    }
  }
  next = i;
  return NEBRIX_OK;
}

}  // namespace NEBRIX
