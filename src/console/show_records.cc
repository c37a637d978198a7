// SHOW RECORDS: the records of the trace file of one process (-p), found
// through the status the process publishes, both files of a rotation in
// order ("<name>.1", then "<name>"), decompressed; the last n with LAST n.
// FOLLOW then keeps printing new records as they are written, across
// rotations, until it is interrupted or the process ends.
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/text_output.h"
#include "console/console.h"
#include "console/json_output.h"
#include "console/trace_records.h"
#include "profile/configuration.h"
#include "profile/user_profile.h"
#include "trace/client_status_files.h"

namespace NEBRIX {

namespace {

// How long FOLLOW waits at most between two looks at the file; a change of
// the file's folder wakes it at once.
constexpr int kFollowPollMilliseconds = 100;
// How many looks at the file pass between two looks at what the process
// published: a change of its trace file's name is followed within a second.
constexpr int kStatusRounds = 10;

volatile std::sig_atomic_t g_stopRequested = 0;

void requestStop(int) { g_stopRequested = 1; }

bool outputLost() { return std::fflush(stdout) != 0 || std::ferror(stdout) != 0; }

bool printLine(const std::string& line) {
  Text::out << line << '\n';
  return std::ferror(stdout) == 0;
}

std::string openProblem(int error) {
  if (error == ELOOP) return "it is a symbolic link";
  if (error == EINVAL) return "it is not a regular file";
  return strerror(error);
}

bool processRuns(const ClientStatus& status) {
  std::uint64_t started = 0;
  return processStartTime(status.pid, started) && started == status.started;
}

NEBRIX_Retcode cannotRead(const std::string& path, const std::string& problem) {
  Text::err << "Error: Cannot read the trace file " << path << ": " << problem << "." << Text::endl;
  return NEBRIX_NOT_OK;
}

// What the process published, or why there is nothing to read.
NEBRIX_Retcode findClient(std::int32_t pid, ClientStatus& found) {
  std::string directory;
  SecureStore::UserProfile::getUserProfilePath(directory, "", false, false);
  for (const ClientStatus& status : readClientStatuses(directory, Configuration::NEBRIX_COMPONENT)) {
    if (status.pid != pid) continue;
    found = status;
    return NEBRIX_OK;
  }
  if (kill(pid, 0) != 0 && errno == ESRCH) {
    Text::err << "Error: Process " << pid << " is not running." << Text::endl;
  } else {
    Text::err << "Error: Process " << pid
              << " has published no trace status: it does not use the NEBRIX trace library, or has not called it yet."
              << Text::endl;
  }
  return NEBRIX_NOT_OK;
}

// What the process of `status` publishes now; false when it has ended or
// publishes nothing.
bool republished(const ClientStatus& status, ClientStatus& now) {
  std::string directory;
  SecureStore::UserProfile::getUserProfilePath(directory, "", false, false);
  for (const ClientStatus& current : readClientStatuses(directory, Configuration::NEBRIX_COMPONENT)) {
    if (current.pid != status.pid || current.started != status.started) continue;
    now = current;
    return true;
  }
  return false;
}

class FollowWatch;

// The files of one trace: "<name>.1", when there is one, then "<name>".
class TraceFiles {
 public:
  explicit TraceFiles(const ClientStatus& status)
      : m_status(status), m_path(status.traceFile), m_current(new TraceFileReader) {}

  // The name is opened before "<name>.1": a rotation in between then shows
  // as the same file under both names, which is read once.
  NEBRIX_Retcode open() {
    const int error = m_path.empty() ? ENOENT : m_current->open(m_path);
    const int olderError = m_path.empty() ? ENOENT : m_older.open(m_path + ".1");
    if (olderError == 0 && m_older.sameFile(*m_current)) m_older.close();
    if (error == ENOENT && olderError == ENOENT) return missing();
    if (error != 0 && error != ENOENT) return cannotRead(m_path, openProblem(error));
    if (olderError != 0 && olderError != ENOENT) return cannotRead(m_path + ".1", openProblem(olderError));
    if (m_status.traceState == ClientStatus::TRACE_OFF) {
      Text::err << "Note: The trace of process " << m_status.pid << " is off; these are the records it wrote before."
                << Text::endl;
    } else if (m_status.traceState == ClientStatus::TRACE_STOPPED) {
      Text::err << "Note: The trace of process " << m_status.pid << " " << traceStateSummary(m_status) << "."
                << Text::endl;
    }
    return NEBRIX_OK;
  }

  std::vector<std::string> names() const {
    std::vector<std::string> names;
    if (m_older.isOpen()) names.push_back(m_path + ".1");
    if (m_current->isOpen()) names.push_back(m_path);
    return names;
  }

  // Everything there is now. The unfinished last line of a file that may
  // still grow is left for FOLLOW.
  NEBRIX_Retcode readAll(RecordCollector& records) {
    if (m_older.isOpen()) {
      records.startFile();
      if (!read(m_older, m_path + ".1", records) || !m_older.finish(records.lineSink())) return NEBRIX_NOT_OK;
      m_older.close();
    }
    records.startFile();
    if (!m_current->isOpen()) return NEBRIX_OK;
    if (!read(*m_current, m_path, records)) return NEBRIX_NOT_OK;
    return processRuns(m_status) || m_current->finish(records.lineSink()) ? NEBRIX_OK : NEBRIX_NOT_OK;
  }

  NEBRIX_Retcode follow(RecordCollector& records);

 private:
  NEBRIX_Retcode missing() const {
    if (m_status.traceState == ClientStatus::TRACE_CANNOT_WRITE) {
      Text::err << "Error: The trace file " << m_path << " of process " << m_status.pid
                << " cannot be written: " << m_status.traceReason << "." << Text::endl;
    } else if (m_status.traceState == ClientStatus::TRACE_OFF) {
      Text::err << "Error: The trace of process " << m_status.pid << " is off." << Text::endl;
    } else {
      Text::err << "Error: Process " << m_status.pid << " has no trace file yet: " << m_path << " does not exist."
                << Text::endl;
    }
    return NEBRIX_NOT_OK;
  }

  // False when the output is lost, or the file cannot be read (reported).
  static bool read(TraceFileReader& reader, const std::string& path, RecordCollector& records) {
    std::string problem;
    if (reader.readAvailable(records.lineSink(), problem)) return true;
    if (!problem.empty()) cannotRead(path, problem);
    return false;
  }

  bool takeNewFile(RecordCollector& records);
  bool takeNewName(RecordCollector& records, std::unique_ptr<FollowWatch>& watch);

  const ClientStatus m_status;
  std::string m_path;
  std::unique_ptr<TraceFileReader> m_current;
  TraceFileReader m_older;
};

// A rotation renamed the file and started a new one under the name: the old
// one is read to its end, then the new one from its start. Until the new
// one exists the old one is watched.
bool TraceFiles::takeNewFile(RecordCollector& records) {
  if (m_current->isOpen() && !m_current->replacedAt(m_path)) return true;
  std::unique_ptr<TraceFileReader> next(new TraceFileReader);
  if (next->open(m_path) != 0) return true;
  if (m_current->isOpen()) {
    if (!read(*m_current, m_path, records) || !m_current->finish(records.lineSink())) return false;
  }
  // After two rotations the file between the old one and the new one is
  // "<name>.1" now; only a third one would take it away unread.
  TraceFileReader between;
  if (m_current->isOpen() && between.open(m_path + ".1") == 0 && !between.sameFile(*m_current) &&
      !between.sameFile(*next)) {
    records.startFile();
    if (!read(between, m_path + ".1", records) || !between.finish(records.lineSink())) return false;
  }
  m_current.swap(next);
  records.startFile();
  return read(*m_current, m_path, records);
}

class FollowWatch {
 public:
  explicit FollowWatch(const std::string& path) : m_descriptor(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    const std::string::size_type slash = path.rfind('/');
    const std::string folder = slash == 0 ? "/" : path.substr(0, slash);
    const uint32_t events = IN_MODIFY | IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_CLOSE_WRITE;
    if (m_descriptor >= 0 && inotify_add_watch(m_descriptor, folder.c_str(), events) < 0) {
      ::close(m_descriptor);
      m_descriptor = -1;
    }
  }
  ~FollowWatch() {
    if (m_descriptor >= 0) ::close(m_descriptor);
  }
  // Returns on a change in the folder, after the poll interval, or on a
  // signal. Without inotify (its limits reached) it only polls.
  void wait() {
    pollfd watch = {m_descriptor, POLLIN, 0};
    if (::poll(&watch, m_descriptor >= 0 ? 1 : 0, kFollowPollMilliseconds) <= 0) return;
    char events[4096];
    while (::read(m_descriptor, events, sizeof events) > 0) {
    }
  }

 private:
  int m_descriptor;
};

// A process told to write its trace elsewhere (CONFIG TRACE FILENAME, then
// a refresh) is followed there: the old file is read to its end, then the
// new one from its start.
bool TraceFiles::takeNewName(RecordCollector& records, std::unique_ptr<FollowWatch>& watch) {
  ClientStatus now;
  if (!republished(m_status, now) || now.traceFile.empty() || now.traceFile == m_path) return true;
  const std::string& name = now.traceFile;
  if (m_current->isOpen() && (!read(*m_current, m_path, records) || !m_current->finish(records.lineSink()))) {
    return false;
  }
  if (outputLost()) return false;
  Text::err << "Note: Process " << m_status.pid << " now writes its trace to " << name << "." << Text::endl;
  m_path = name;
  records.takeOnly(now.shared ? now.pid : 0);
  m_current->close();
  watch.reset(new FollowWatch(m_path));
  return takeNewFile(records);
}

// Ends on SIGINT or SIGTERM (status 0: the user asked for it), when the
// process has ended (what it wrote last is printed first; status 0), or on
// lost output or a damaged file (status 1).
NEBRIX_Retcode TraceFiles::follow(RecordCollector& records) {
  std::unique_ptr<FollowWatch> watch(new FollowWatch(m_path));
  for (int round = 1; !g_stopRequested; ++round) {
    const bool ended = !processRuns(m_status);
    if (!ended && round % kStatusRounds == 0 && !takeNewName(records, watch)) return NEBRIX_NOT_OK;
    if (m_current->isOpen() && !read(*m_current, m_path, records)) return NEBRIX_NOT_OK;
    if (m_current->restartIfShrunk()) {
      Text::err << "Note: " << m_path << " was cut short; reading it again from its start." << Text::endl;
      records.startFile();
    }
    if (!takeNewFile(records)) return NEBRIX_NOT_OK;
    if (ended) {
      if (!m_current->finish(records.lineSink()) || outputLost()) return NEBRIX_NOT_OK;
      Text::err << "Process " << m_status.pid << " has ended." << Text::endl;
      return NEBRIX_OK;
    }
    if (outputLost()) return NEBRIX_NOT_OK;
    watch->wait();
  }
  return outputLost() ? NEBRIX_NOT_OK : NEBRIX_OK;
}

// The document of "-o json": the process, the files read and the records.
void printRecordsJson(const ClientStatus& status, const std::vector<std::string>& files,
                      const std::deque<std::string>& records) {
  nlohmann::json trace = {{"pid", status.pid}};
  putText(trace, "program", status.program);
  putText(trace, "trace_file", status.traceFile);
  trace["files"] = nlohmann::json::array();
  for (const std::string& file : files) {
    nlohmann::json name = nlohmann::json::object();
    putText(name, "path", file);
    trace["files"].push_back(name);
  }
  trace["records"] = nlohmann::json::array();
  for (const std::string& record : records) {
    nlohmann::json text = nlohmann::json::object();
    putText(text, "text", record);
    trace["records"].push_back(text);
  }
  printJson({{"trace", trace}});
}

}  // namespace

NEBRIX_Retcode Console::showRecords() {
  if (!m_pidpresent) {
    Text::err << "Error: SHOW RECORDS needs -p <pid>, the process whose trace to print." << Text::endl;
    return NEBRIX_NOT_OK;
  }
  if (m_user != nullptr) {
    Text::err << "Error: SHOW RECORDS is not applicable with -u option." << Text::endl;
    return NEBRIX_NOT_OK;
  }
  if (m_follow && m_output == OUTPUT_JSON) {
    Text::err << "Error: Option -o json does not apply to SHOW RECORDS FOLLOW, whose output never ends." << Text::endl;
    return NEBRIX_NOT_OK;
  }
  ClientStatus status;
  if (findClient(m_pid, status) != NEBRIX_OK) return NEBRIX_NOT_OK;
  TraceFiles files(status);
  if (files.open() != NEBRIX_OK) return NEBRIX_NOT_OK;
  // A reader that went away ends the command with an error, not the signal.
  signal(SIGPIPE, SIG_IGN);
  if (m_follow) {
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = requestStop;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
  }
  const bool json = m_output == OUTPUT_JSON;
  const long keep = m_last >= 0 ? m_last : json ? LONG_MAX : -1;
  RecordCollector records(status.shared ? status.pid : 0, keep, printLine);
  const std::vector<std::string> names = files.names();
  if (files.readAll(records) != NEBRIX_OK) return NEBRIX_NOT_OK;
  if (json) {
    printRecordsJson(status, names, records.records());
    return NEBRIX_OK;
  }
  for (const std::string& record : records.records()) {
    if (!printLine(record)) return NEBRIX_NOT_OK;
  }
  if (outputLost()) return NEBRIX_NOT_OK;
  if (!m_follow) return NEBRIX_OK;
  records.streamFromNow();
  return files.follow(records);
}

}  // namespace NEBRIX
