// What this process writes to the trace file: the header of a file new to
// it, the line where tracing begins or changes, and the records, each after
// the line prefix of a time stamp and the writer's ids.
#include "client/client_state.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "base/time_stamp.h"
#include "client/callbacks.h"
#include "client/own_process.h"

namespace NEBRIX::Client {
namespace {

// The settings as a line says them.
std::string settingsText(const Settings& settings) {
  return "update count " + std::to_string(settings.count) + ", settings " +
         (settings.text.empty() ? std::string("(none)") : settings.text);
}

}  // namespace

TraceTarget ClientState::traceTarget(const Settings& settings, long pid) {
  TraceTarget target;
  target.header = "=== " + programName() + ", process " + std::to_string(pid) +
                  ", library " + NEBRIX_PROJECT_VERSION + ", " + settingsText(settings);
  target.path = settings.traceFile;
  target.limit = settings.flags.m_filesize;
  if (settings.flags.m_compressed) {
    target.encoding = settings.ownFile ? Encoding::kGzipStream : Encoding::kGzipMembers;
  }
  return target;
}

// Under m_refreshMutex: a line in the trace file where tracing begins or
// changes (the header, in a file new to the process), when the new settings
// trace, or the old ones traced into the same file. 0, or the errno of a
// file that cannot be written.
int ClientState::writeChangeLine(const Settings* old, const Settings& settings) {
  const bool traced = old != nullptr && old->categoryBits() != 0 && old->traceFile == settings.traceFile;
  if (settings.categoryBits() == 0 && !traced) return 0;
  const std::string line = "=== change taken up: " + settingsText(settings) + "\n";
  const LinePrefix prefix = linePrefix(settings);
  return m_writer.write(prefix.view(), line, true) ? 0 : errno;
}

// What every line of this process starts with: the time stamp when asked
// for, and the thread's id, after the process's own in a file that other
// processes may write too.
LinePrefix ClientState::linePrefix(const Settings& settings) const {
  LinePrefix prefix;
  char* out = prefix.text;
  if (settings.flags.m_timestamp) {
    currentTimeStamp(out);
    out[kTimeStampLength] = ' ';
    out += kTimeStampLength + 1;
  }
  // Put together by hand, as it goes before every record; two longs fit
  // with room to spare.
  char* const end = prefix.text + sizeof prefix.text;
  *out++ = '[';
  if (!settings.ownFile) {
    out = std::to_chars(out, end, m_pid).ptr;
    *out++ = ':';
  }
  out = std::to_chars(out, end, ownThreadID()).ptr;
  *out++ = ']';
  *out++ = ' ';
  prefix.length = static_cast<std::size_t>(out - prefix.text);
  return prefix;
}

bool ClientState::write(const Settings& settings, std::string_view record) {
  if (record.empty() || record.back() != '\n') return write(settings, std::string(record) + '\n');
  const LinePrefix prefix = linePrefix(settings);
  if (m_writer.write(prefix.view(), record)) {
    m_status.traceWritten();
    return true;
  }
  const int error = errno;
  m_status.traceFailed(error);
  if (!m_reportedWrite.exchange(true)) {
    diagnose("The trace file " + settings.traceFile + " cannot be written: " + std::strerror(error));
  }
  errno = error;
  return false;
}

}  // namespace NEBRIX::Client
