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
// time is up. Consoles map the file as well, but are no clients: every
// process that runs the console's own program is left out.
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "base/text_output.h"
#include "console/console.h"
#include "console/process_list.h"

namespace NEBRIX {

namespace {

constexpr useconds_t kPollInterval = 50 * 1000;

struct PendingClient {
  ClientProcess client;
  int32_t target;  // the count whose acknowledgement is awaited
};

// A read count acknowledges the change that made `target` when it is that
// count or one made since, up to the `current` one: the counter wraps, so the
// differences decide, and a count beyond what has been counted (one left from
// before the counter was reset) proves nothing.
bool reached(int32_t readCount, int32_t target, int32_t current) {
  const uint32_t made = static_cast<uint32_t>(current) - static_cast<uint32_t>(target);
  if (static_cast<int32_t>(made) < 0) return false;
  return static_cast<uint32_t>(readCount) - static_cast<uint32_t>(target) <= made;
}

// False when the process no longer holds a part.
bool readCountOf(TraceSharedMemory& sharedMemory, System::ProcessID pid, int32_t& readCount) {
  const TraceSharedMemory::Part* parts = sharedMemory.getAllParts();
  for (int i = 0; parts != nullptr && i < TraceSharedMemory::NUM_PARTS; ++i) {
    if (partProcessID(parts[i]) != pid) continue;
    readCount = partReadCount(parts[i]);
    return true;
  }
  return false;
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
  for (;;) {
    const int32_t current = sharedMemory.getUpdateCount();
    std::vector<PendingClient> waiting;
    for (const PendingClient& entry : pending) {
      int32_t readCount = 0;
      if (!readCountOf(sharedMemory, entry.client.pid, readCount) || System::isProcessDead(entry.client.pid)) continue;
      if (!reached(readCount, entry.target, current)) waiting.push_back(entry);
    }
    pending.swap(waiting);
    if (pending.empty() || std::chrono::steady_clock::now() >= deadline) break;
    usleep(kPollInterval);
  }
  for (const PendingClient& entry : pending) {
    Text::err << "Error: " << named(entry.client) << " did not acknowledge the change within " << m_waitseconds
              << (m_waitseconds == 1 ? " second." : " seconds.") << Text::endl;
  }
  m_notacknowledged = !pending.empty();
  return pending.empty() ? NEBRIX_OK : NEBRIX_NOT_OK;
}

}  // namespace NEBRIX
