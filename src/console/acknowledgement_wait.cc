// -w <seconds>: waiting until the running client processes have taken up a
// change. A client acknowledges a change by storing the update count into
// its part; one that follows the configuration without a part keeps its
// count to itself. So before the change every such client gets a part
// holding "R", the marker that TRACE REFRESH with -p writes: the client goes
// on following the configuration, and from then on its acknowledgement can
// be seen. After the change the console polls the parts until every live
// client with a part has acknowledged, or the time is up.
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "base/text_output.h"
#include "console/console.h"
#include "console/process_list.h"
#include "trace/process_scan.h"

namespace NEBRIX {

namespace {

constexpr useconds_t kPollInterval = 50 * 1000;

// The count a part holds has reached `target` when it is the target or a
// later one: a client that took up a change made after this one has also
// taken up this one. The counter wraps, so the difference decides.
bool reached(int32_t readCount, int32_t target) {
  return static_cast<int32_t>(static_cast<uint32_t>(readCount) - static_cast<uint32_t>(target)) >= 0;
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

}  // namespace

// A part is claimed for every client without one; a client for which none is
// free is left as it is and named after the change.
NEBRIX_Retcode Console::giveClientsParts() {
  TraceSharedMemory sharedMemory;
  ProcessList list;
  if (loadProcessList(sharedMemory, list, false) != NEBRIX_OK) return NEBRIX_NOT_OK;
  TraceSharedMemory::LockedScope scope(sharedMemory);
  for (const ClientProcess& client : list.clients) {
    std::string flags;
    if (!sharedMemory.getFlags(client.pid, flags)) sharedMemory.setFlags(client.pid, kFollowConfiguration);
  }
  return NEBRIX_OK;
}

NEBRIX_Retcode Console::awaitAcknowledgement() {
  TraceSharedMemory sharedMemory;
  ProcessList list;
  if (loadProcessList(sharedMemory, list, false) != NEBRIX_OK) return NEBRIX_NOT_OK;
  const int32_t target = list.updateCount;
  std::vector<ClientProcess> pending;
  for (const ClientProcess& client : list.clients) {
    if (client.hasPart) {
      pending.push_back(client);
    } else {
      Text::err << "Warning: " << named(client)
                << " has no part in the trace shared memory (all are in use); whether it took up the "
                   "change cannot be seen."
                << Text::endl;
    }
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(m_waitseconds);
  for (;;) {
    std::vector<ClientProcess> waiting;
    for (const ClientProcess& client : pending) {
      int32_t readCount = 0;
      if (!readCountOf(sharedMemory, client.pid, readCount) || System::isProcessDead(client.pid)) continue;
      if (!reached(readCount, target)) waiting.push_back(client);
    }
    pending.swap(waiting);
    if (pending.empty() || std::chrono::steady_clock::now() >= deadline) break;
    usleep(kPollInterval);
  }
  for (const ClientProcess& client : pending) {
    Text::err << "Error: " << named(client) << " did not acknowledge the change within " << m_waitseconds
              << (m_waitseconds == 1 ? " second." : " seconds.") << Text::endl;
  }
  return pending.empty() ? NEBRIX_OK : NEBRIX_NOT_OK;
}

}  // namespace NEBRIX
