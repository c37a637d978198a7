// nebrix_cons: one command of the trace console per invocation.
#include <sys/stat.h>

#include <csignal>
#include <exception>

#include "base/exception.h"
#include "base/standard_streams.h"
#include "base/text_output.h"
#include "console/console.h"

namespace {

// A change that is made, but that some client did not take up within the
// time of -w: a script can tell it from a change that was not made (1).
constexpr int kNotAcknowledged = 2;

int parseAndRun(int argc, char** argv) {
  NEBRIX::Console console;
  NEBRIX_Retcode rc = console.parseArguments(argc, argv);
  if (rc == NEBRIX_OK) rc = console.run();
  if (rc == NEBRIX_OK) return 0;
  return console.changeNotAcknowledged() ? kNotAcknowledged : 1;
}

// The operations report their own failures; an exception that still arrives
// here (the profile directory cannot be had, say) is reported in full, and
// the program ends normally with status 1.
int runCommand(int argc, char** argv) {
  try {
    return parseAndRun(argc, argv);
  } catch (const ltt::exception& ex) {
    Text::err << "Error: " << ltt::expandedText(ex) << Text::endl;
  } catch (const std::exception& ex) {
    Text::err << "Error: " << ex.what() << Text::endl;
  }
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  Diagnose::occupyClosedStandardDescriptors();
  // The store creates its data, key and lock files with the process's
  // default mode; the console's files are for its user alone.
  umask(077);
  // A file-size limit makes a write fail, which every update reports and
  // recovers from; the default action would kill the program mid-update
  // and leave the store locked.
  signal(SIGXFSZ, SIG_IGN);
  const int status = runCommand(argc, argv);
  // What was shown is part of the result: output that was lost is a failure.
  return Diagnose::finishStandardOutput() ? status : 1;
}
