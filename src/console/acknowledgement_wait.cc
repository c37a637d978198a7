// -w <seconds>: waiting until the running client processes have taken up a
// change. A client acknowledges a change by storing the update count into
// its part; one that follows the configuration without a part keeps its
// count to itself. So every such client gets a part holding "R", the marker
// that TRACE REFRESH with -p writes: the client goes on following the
// configuration, and from then on its acknowledgement can be seen.
//
// The parts are handed out under the file lock right before the counter
// moves, once everything else of the change has succeeded: a change that
// fails hands out no part. A client that maps the file while the change is
// made may have read the settings before it; after the change it is given a
// part too, and the counter moves once more for it. Then the console polls
// the parts until every live client with a part has acknowledged, or the
// time is up. A client that acknowledged but says it cannot write its trace
// file is named too: the change is in force, but no trace results there.
// Consoles map the file as well, but are no clients: every process that runs
// the console's own program is left out.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "base/text_output.h"
#include "console/console.h"
#include "console/process_list.h"
#include "profile/configuration.h"
#include "trace/client_status_files.h"

namespace NEBRIX {

namespace {

constexpr useconds_t kPollInterval = 50 * 1000;

struct PendingClient {
  ClientProcess client;
  int32_t target;  // the count whose acknowledgement is awaited
};

// False when the process no longer holds a part.
bool readCountOf(TraceSharedMemory& sharedMemory, System::ProcessID pid, int32_t& readCount) {
  const TraceSharedMemory::Part* part = findPart(sharedMemory.getAllParts(), pid);
  if (part != nullptr) readCount = partReadCount(*part);
  return part != nullptr;
}

std::string named(const ClientProcess& client) {
  return "Process " + std::to_string(client.pid) + " (" + client.command + ")";
}

// Gives every client without a part one holding "R". False for a client
// for which none is free: every part belongs to a live process.
bool givePart(TraceSharedMemory& sharedMemory, ClientProcess& client) {
  if (!client.hasPart) client.hasPart = sharedMemory.setFlags(client.pid, kFollowConfiguration);
  return client.hasPart;
}

// The clients that took the change up, whose status for it (or a later one)
// says their trace file cannot be written: what the user asked for does not
// happen there. The library publishes that status before it acknowledges.
// A client that published nothing, or nothing for the change yet, cannot be
// judged and is not named.
bool reportUnwritableTraces(TraceSharedMemory& sharedMemory, const std::vector<PendingClient>& taken) {
  const int32_t current = sharedMemory.getUpdateCount();
  bool any = false;
  const std::string directory = sharedMemory.profileDirectory();
  for (const ClientStatus& status : readClientStatuses(directory, Configuration::NEBRIX_COMPONENT)) {
    const auto entry = std::find_if(taken.begin(), taken.end(),
                                    [&status](const PendingClient& e) { return e.client.pid == status.pid; });
    if (entry == taken.end() || status.traceState != ClientStatus::TRACE_CANNOT_WRITE ||
        !countReached(status.updateCount, entry->target, current)) {
      continue;
    }
    Text::err << "Error: " << named(entry->client) << " took the change but cannot write its trace file "
              << status.traceFile << ": " << status.traceReason << "." << Text::endl;
    any = true;
  }
  return any;
}

}  // namespace

void Console::announceChange(TraceSharedMemory& sharedMemory) {
  if (m_waitpresent) {
    ProcessList list;
    collectClients(sharedMemory, list);
    for (ClientProcess& client : list.clients) givePart(sharedMemory, client);
  }
  m_changecount = sharedMemory.incUpdateCount();
}

// The mapping the change was announced through: a file replaced meanwhile
// cannot make the command fail after its change.
NEBRIX_Retcode Console::awaitAcknowledgement() {
  if (attachForChange() != NEBRIX_OK) return NEBRIX_NOT_OK;
  TraceSharedMemory& sharedMemory = m_sharedMemory;
  std::vector<PendingClient> pending;
  {
    TraceSharedMemory::LockedScope scope(sharedMemory);
    ProcessList list;
    collectClients(sharedMemory, list);
    std::vector<size_t> late;
    for (ClientProcess& client : list.clients) {
      const bool hadPart = client.hasPart;
      if (!givePart(sharedMemory, client)) {
        Text::err << "Warning: " << named(client)
                  << " has no part in the trace shared memory (all are in use); whether it took up the "
                     "change cannot be seen."
                  << Text::endl;
        continue;
      }
      if (!hadPart) late.push_back(pending.size());
      pending.push_back({client, m_changecount});
    }
    // A client that got its part only now mapped the file while the change
    // was made and may have read the settings before it: it is told again.
    if (!late.empty()) {
      const int32_t again = sharedMemory.incUpdateCount();
      for (size_t index : late) pending[index].target = again;
    }
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(m_waitseconds);
  std::vector<PendingClient> taken;
  for (;;) {
    const int32_t current = sharedMemory.getUpdateCount();
    std::vector<PendingClient> waiting;
    for (const PendingClient& entry : pending) {
      int32_t readCount = 0;
      if (!readCountOf(sharedMemory, entry.client.pid, readCount) || System::isProcessDead(entry.client.pid)) continue;
      (countReached(readCount, entry.target, current) ? taken : waiting).push_back(entry);
    }
    pending.swap(waiting);
    if (pending.empty() || std::chrono::steady_clock::now() >= deadline) break;
    usleep(kPollInterval);
  }
  // The library maps the file before it publishes: a process that holds a
  // status but maps no file is not the library's and will never acknowledge.
  // Only the late ones are looked at.
  System::FileIdentity file;
  int error = 0;
  if (!pending.empty() && System::identifyDescriptor(sharedMemory.mappedDescriptor(), file, error)) {
    const auto gone = [&file](const PendingClient& e) { return !System::processMapsFile(e.client.pid, file); };
    pending.erase(std::remove_if(pending.begin(), pending.end(), gone), pending.end());
  }
  for (const PendingClient& entry : pending) {
    Text::err << "Error: " << named(entry.client) << " did not acknowledge the change within " << m_waitseconds
              << (m_waitseconds == 1 ? " second." : " seconds.") << Text::endl;
  }
  const bool unwritable = reportUnwritableTraces(sharedMemory, taken);
  m_notacknowledged = !pending.empty() || unwritable;
  return m_notacknowledged ? NEBRIX_NOT_OK : NEBRIX_OK;
}

}  // namespace NEBRIX
