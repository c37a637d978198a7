// The client processes of the user's trace shared-memory file, and the parts
// kept for processes that have ended: what SHOW PROCESSES lists and what -w
// and -v look at, kept apart from any way of printing it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "trace/process_scan.h"
#include "trace/trace_shared_memory.h"

namespace NEBRIX {

// The flags of a part that hands its process back to the configuration.
constexpr const char* kFollowConfiguration = "R";

struct ClientProcess {
  enum Acknowledged { ACKNOWLEDGED_YES, ACKNOWLEDGED_NO, ACKNOWLEDGED_UNKNOWN };

  System::ProcessID pid = 0;
  std::string command;
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

// Reads the parts of the attached `memory` and matches them with the
// processes that map `file`. Consoles are no clients: the calling process and
// every other that runs the same program are left out.
void collectProcessList(TraceSharedMemory& memory, const System::FileIdentity& file, ProcessList& list);
// The same for the file `memory` has mapped; an empty list when that cannot
// be examined.
void collectClients(TraceSharedMemory& memory, ProcessList& list);

// The flags of a part are written by others: at most FLAGS_SIZE - 1
// characters are taken.
std::string partFlags(const TraceSharedMemory::Part& part);
int32_t partProcessID(const TraceSharedMemory::Part& part);
int32_t partReadCount(const TraceSharedMemory::Part& part);

// The words SHOW PROCESSES, its JSON form and -v use: "yes", "no", "unknown".
const char* acknowledgedText(ClientProcess::Acknowledged acknowledged);

}  // namespace NEBRIX
