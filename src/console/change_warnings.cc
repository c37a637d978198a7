// Changes that are made but will not do what their user most likely wants.
// The change stands as it is; a warning on standard error says what will
// happen instead: a file name that each process takes relative to its own
// working directory, or whose directory no process can write in; settings
// for a process that does not run, or that does not use the trace library,
// and so wait in its part until a process with that id takes them up.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "base/exception.h"
#include "base/text_output.h"
#include "console/console.h"
#include "console/process_list.h"
#include "profile/configuration.h"
#include "profile/user_profile.h"
#include "trace/client_status_files.h"

namespace NEBRIX {

namespace {

// What a process will make of the file `name`, or "" when that is what the
// user asked for. A directory that holds "%p" differs from process to
// process, so it is not looked at.
std::string fileNameProblem(const std::string& name, const char* kind, const char* example) {
  if (name.empty() || name[0] != '/') {
    return "The " + std::string(kind) + " name is relative: each process writes the file in its own working "
           "directory. Use an absolute name, such as " + example + ", to find the files in one place.";
  }
  const std::string directory = name.substr(0, std::max<size_t>(name.rfind('/'), 1));
  if (directory.find("%p") != std::string::npos) return "";
  struct stat info = {};
  if (stat(directory.c_str(), &info) != 0) {
    return "The directory " + directory + " does not exist: processes cannot write the " + kind +
           " until it exists.";
  }
  if (!S_ISDIR(info.st_mode)) {
    return directory + " is not a directory: processes cannot write the " + std::string(kind) + ".";
  }
  if (access(directory.c_str(), W_OK | X_OK) != 0) {
    return "You cannot write in the directory " + directory + ": your processes cannot create the " + kind +
           " there.";
  }
  return "";
}

}  // namespace

void Console::warnAboutFileName(bool profile) const {
  const std::string problem = profile ? fileNameProblem(m_filename, "profile file", "~/nebrixprofile-%p.prt")
                                      : fileNameProblem(m_filename, "trace file", "~/nebrixtrace-%p.prt");
  if (!problem.empty()) Text::err << "Warning: " << problem << Text::endl;
}

// A client publishes its status when it first calls the library; one that
// maps the trace shared-memory file without publishing (a library of an
// older version) uses it too.
bool Console::targetUsesLibrary() {
  std::string directory;
  try {
    SecureStore::UserProfile::getUserProfilePath(directory, "", false, false);
  } catch (const ltt::exception&) {
    // The change went through this directory; without it only the scan is left.
  }
  if (!directory.empty()) {
    for (const ClientStatus& status : readClientStatuses(directory, Configuration::NEBRIX_COMPONENT)) {
      if (status.pid == m_pid) return true;
    }
  }
  ProcessList list;
  collectClients(m_sharedMemory, list);
  return list.find(m_pid) != nullptr;
}

// With -w such a process cannot acknowledge the change: the command ends as
// for a process that did not acknowledge it in time.
bool Console::warnAboutTargetProcess() {
  const bool running = !System::isProcessDead(m_pid);
  if (running && targetUsesLibrary()) return true;
  Text::err << (m_waitpresent ? "Error: " : "Warning: ") << "Process " << m_pid
            << (running ? " does not use the trace library" : " is not running")
            << (m_waitpresent ? " and cannot acknowledge the change; it" : "; the change") << " waits in the trace "
            << (running ? "shared memory until the process does." : "shared memory for a process with that id.")
            << Text::endl;
  return false;
}

}  // namespace NEBRIX
