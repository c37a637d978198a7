// What this process tells the console about itself (trace/client_status.h):
// its file in the profile directory is written again whenever something in
// it changes, and removed when the library is closed or the process ends.
//
// Only the slow paths publish: attaching, taking up a change, a trace file
// that starts or stops failing, a stop on error, a profile write. The record
// path looks at one atomic word to learn that nothing changed.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "trace/client_status.h"
#include "trace/client_status_files.h"

namespace NEBRIX::Client {

struct Settings;

class StatusPublisher {
 public:
  // Who this process is, once attached to the files of `profileDirectory`;
  // the files of ended processes are cleared away on the way. Nothing is
  // published before.
  void begin(const std::string& profileDirectory, const std::string& component, long pid);
  // The settings in force and how their trace file fared (`error` 0: it
  // was written, or nothing was asked of it).
  void settingsTaken(const Settings& settings, int error);
  // A record reached the trace file, or did not.
  void traceWritten() {
    if (m_failing.load(std::memory_order_acquire) != 0) traceFared(0);
  }
  void traceFailed(int error) {
    if (m_failing.load(std::memory_order_acquire) != error) traceFared(error);
  }
  void traceStopped(int code);
  // A write of the profile file: `error` 0 when it succeeded.
  void counterFileWritten(int error);
  // Removes the file; with `wait` false, only when no other thread is
  // publishing (at the end of the process).
  void withdraw(bool wait);

 private:
  void traceFared(int error);
  void faredLocked(int error);
  void publishLocked();

  std::mutex m_mutex;
  bool m_begun = false;
  std::string m_directory;
  ClientStatus m_status;
  ClientStatus m_published;
  StatusFileLock m_lock;  // says that this process still runs
  // The errno the trace file last failed with, 0 while it is written.
  std::atomic<int> m_failing{0};
};

}  // namespace NEBRIX::Client
