// --all: the emergency brake. Besides the configuration, every live process
// that keeps settings of its own is handed back to it, so that one TRACE OFF
// reaches them all. The parts are rewritten under the file lock of the
// change and before its one increment of the update count, so every client
// reads its "R" together with the new configuration. A process that holds a
// part but has not mapped the file yet is handed back too: it would take up
// its settings as soon as it does. Parts of ended processes stay as they are
// ("-p <pid> TRACE REFRESH" is there for them), and so does a console that
// was given settings with -p, as consoles are no clients.
#include <algorithm>

#include "console/console.h"
#include "console/process_list.h"
#include "trace/process_scan.h"

namespace NEBRIX {

void Console::handBackOwnSettings(TraceSharedMemory& sharedMemory) {
  m_handedback.clear();
  const TraceSharedMemory::Part* parts = sharedMemory.getAllParts();
  if (parts == nullptr) return;
  System::FileIdentity console;
  const bool consoleKnown = System::identifyOwnProgram(console);
  for (int i = 0; i < TraceSharedMemory::NUM_PARTS; ++i) {
    const int32_t pid = partProcessID(parts[i]);
    if (pid <= 0 || partFlags(parts[i]) == kFollowConfiguration || System::isProcessDead(pid)) continue;
    if (consoleKnown && System::runsProgram(pid, console)) continue;
    m_handedback.push_back(pid);
  }
  // A process id is written by others and may stand in two parts; its
  // process reads the first, which is the one setFlags rewrites.
  std::sort(m_handedback.begin(), m_handedback.end());
  m_handedback.erase(std::unique(m_handedback.begin(), m_handedback.end()), m_handedback.end());
  for (const int32_t pid : m_handedback) sharedMemory.setFlags(pid, kFollowConfiguration);
}

}  // namespace NEBRIX
