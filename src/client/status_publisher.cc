#include "client/status_publisher.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include "client/own_process.h"
#include "client/settings.h"
#include "trace/client_status_files.h"

namespace NEBRIX::Client {

void StatusPublisher::begin(const std::string& profileDirectory, const std::string& component, long pid) {
  std::lock_guard<std::mutex> guard(m_mutex);
  m_directory = profileDirectory;
  m_status = ClientStatus();
  m_status.component = component;
  m_status.pid = static_cast<std::int32_t>(pid);
  m_status.program = programName();
  // Without its start time the file could not be told from a later
  // process's with the same id: such a process publishes nothing.
  m_begun = processStartTime(m_status.pid, m_status.started);
  if (m_begun) removeEndedClientStatuses(m_directory);
}

void StatusPublisher::settingsTaken(const Settings& settings, int error) {
  std::lock_guard<std::mutex> guard(m_mutex);
  m_status.updateCount = settings.count;
  m_status.traceFile = settings.traceFile;
  m_status.compressed = settings.flags.m_compressed;
  m_status.shared = !settings.ownFile;
  // A new profile file has not been written yet (a reason goes only with
  // cannot_write, and each write sets it).
  if (m_status.profileFile != settings.profileFile) m_status.profileState = ClientStatus::PROFILE_NONE;
  m_status.profileFile = settings.profileFile;
  m_status.traceError = 0;
  m_status.traceReason.clear();
  m_status.traceSince = 0;
  m_status.traceState = settings.categoryBits() == 0 ? ClientStatus::TRACE_OFF : ClientStatus::TRACE_WRITING;
  m_failing.store(0, std::memory_order_release);
  if (error != 0 && m_status.traceState == ClientStatus::TRACE_WRITING) {
    faredLocked(error);  // publishes
    return;
  }
  publishLocked();
}

void StatusPublisher::traceFared(int error) {
  std::lock_guard<std::mutex> guard(m_mutex);
  faredLocked(error);
}

void StatusPublisher::faredLocked(int error) {
  m_failing.store(error, std::memory_order_release);
  if (error != 0) {
    if (m_status.traceState != ClientStatus::TRACE_CANNOT_WRITE) m_status.traceSince = std::time(nullptr);
    m_status.traceState = ClientStatus::TRACE_CANNOT_WRITE;
    m_status.traceReason = std::strerror(error);
  } else if (m_status.traceState == ClientStatus::TRACE_CANNOT_WRITE) {
    m_status.traceState = ClientStatus::TRACE_WRITING;
    m_status.traceReason.clear();
    m_status.traceSince = 0;
  }
  publishLocked();
}

// A reason and a time go only with cannot_write: what a failure left of
// them is not written.
void StatusPublisher::traceStopped(int code) {
  std::lock_guard<std::mutex> guard(m_mutex);
  m_status.traceState = ClientStatus::TRACE_STOPPED;
  m_status.traceError = code;
  publishLocked();
}

void StatusPublisher::counterFileWritten(int error) {
  std::lock_guard<std::mutex> guard(m_mutex);
  m_status.profileState = error == 0 ? ClientStatus::PROFILE_WRITTEN : ClientStatus::PROFILE_CANNOT_WRITE;
  m_status.profileReason = error == 0 ? std::string() : std::strerror(error);
  publishLocked();
}

void StatusPublisher::withdraw(bool wait) {
  std::unique_lock<std::mutex> lock(m_mutex, std::defer_lock);
  if (wait) {
    lock.lock();
  } else if (!lock.try_lock()) {
    return;
  }
  if (m_begun && !m_published.component.empty()) withdrawClientStatus(m_directory, m_published, m_lock);
  m_begun = false;
}

void StatusPublisher::publishLocked() {
  if (!m_begun || m_status == m_published) return;
  // A folder that cannot be written leaves the process unseen by the
  // console, nothing worse: it is tried again with the next change.
  if (publishClientStatus(m_directory, m_status, m_lock) == 0) m_published = m_status;
}

}  // namespace NEBRIX::Client
