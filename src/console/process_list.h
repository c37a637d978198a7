// The client processes of the user's trace shared-memory file, and the parts
// kept for processes that have ended: what SHOW PROCESSES lists and what -w
// and -v look at, kept apart from any way of printing it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "trace/client_status.h"
#include "trace/process_scan.h"
#include "trace/trace_shared_memory.h"

namespace NEBRIX {

struct ClientProcess {
  enum Acknowledged { ACKNOWLEDGED_YES, ACKNOWLEDGED_NO, ACKNOWLEDGED_UNKNOWN };

  System::ProcessID pid = 0;
  std::string command;  // /proc/<pid>/comm
  // What the process published about itself; a process on a library that
  // publishes nothing is found by its part alone, and `status` stays empty.
  bool published = false;
  ClientStatus status;
  bool hasPart = false;
  // A part with flags other than "R": the process does not follow the
  // configuration.
  bool ownSettings = false;
  std::string partFlags;  // as stored in the part; "" without one
  int32_t readCount = 0;  // the part's; 0 without one
  // Without a part a process keeps its acknowledged count to itself.
  Acknowledged acknowledged = ACKNOWLEDGED_UNKNOWN;
  // Canonical; for a process that follows the configuration, the configured
  // flags (filled in by ProcessList::setConfiguredFlags).
  std::string effectiveFlags;
};

// A part whose process no longer runs: a new process with that id takes it
// over, flags and all. Parts holding "R" are not kept here, as a process that
// inherits one simply follows the configuration.
struct EndedProcessPart {
  System::ProcessID pid = 0;
  std::string flags;  // as stored
  int32_t readCount = 0;
};

struct ProcessList {
  int32_t updateCount = 0;
  std::vector<ClientProcess> clients;        // sorted by pid
  std::vector<EndedProcessPart> endedParts;  // sorted by pid

  const ClientProcess* find(System::ProcessID pid) const;
  size_t followerCount() const;
  // The effective flags of the processes that follow the configuration.
  void setConfiguredFlags(const std::string& flags);
};

// Reads the parts of the attached `memory` and finds its clients: the
// processes that published a status in the profile directory of `memory`,
// and those that hold a part, published nothing and map `file` (a program on
// an earlier library). No other process is looked at, so the cost follows
// the clients, not the processes on the machine. Consoles are no clients: the
// calling process and every other that runs the same program are left out.
void collectProcessList(TraceSharedMemory& memory, const System::FileIdentity& file, ProcessList& list);
// The same for the file `memory` has mapped; an empty list when that cannot
// be examined.
void collectClients(TraceSharedMemory& memory, ProcessList& list);

// Where the trace of a client goes, as SHOW PROCESSES and -v say it:
// "/home/ann/trace-4711.txt (writing)", "(cannot write: Permission denied)",
// "unknown (no status published)".
std::string traceFileText(const ClientProcess& client);

// The words SHOW PROCESSES, its JSON form and -v use: "yes", "no", "unknown".
const char* acknowledgedText(ClientProcess::Acknowledged acknowledged);

}  // namespace NEBRIX
