#include "console/process_list.h"

#include <unistd.h>

#include <algorithm>
#include <utility>

#include "profile/configuration.h"
#include "trace/client_status_files.h"
#include "trace/trace_flags.h"

namespace NEBRIX {

const char* acknowledgedText(ClientProcess::Acknowledged acknowledged) {
  switch (acknowledged) {
    case ClientProcess::ACKNOWLEDGED_YES: return "yes";
    case ClientProcess::ACKNOWLEDGED_NO: return "no";
    default: return "unknown";
  }
}

std::string traceFileText(const ClientProcess& client) {
  if (!client.published) return "unknown (no status published)";
  const ClientStatus& status = client.status;
  std::string text = status.traceFile.empty() ? "none" : status.traceFile;
  text += " (" + traceStateSummary(status);
  if (status.compressed && status.traceState == ClientStatus::TRACE_WRITING) text += ", compressed";
  return text + ")";
}

const ClientProcess* ProcessList::find(System::ProcessID pid) const {
  for (const ClientProcess& client : clients) {
    if (client.pid == pid) return &client;
  }
  return nullptr;
}

size_t ProcessList::followerCount() const {
  return std::count_if(clients.begin(), clients.end(), [](const ClientProcess& c) { return !c.ownSettings; });
}

void ProcessList::setConfiguredFlags(const std::string& flags) {
  const std::string canonical = TraceFlags(flags.c_str()).toString();
  for (ClientProcess& client : clients) {
    if (!client.ownSettings) client.effectiveFlags = canonical;
  }
}

namespace {

// The first part that names `client`'s process, if any.
void takePart(const TraceSharedMemory::Part* parts, int32_t updateCount, ClientProcess& client) {
  if (const TraceSharedMemory::Part* part = findPart(parts, client.pid)) {
    client.hasPart = true;
    client.readCount = partReadCount(*part);
    client.partFlags = partFlags(*part);
  }
  client.ownSettings = client.hasPart && client.partFlags != kFollowConfiguration;
  if (client.hasPart) {
    client.acknowledged =
        client.readCount == updateCount ? ClientProcess::ACKNOWLEDGED_YES : ClientProcess::ACKNOWLEDGED_NO;
  }
  if (client.ownSettings) client.effectiveFlags = TraceFlags(client.partFlags.c_str()).toString();
}

// The command name as /proc/<pid>/comm would show the published program:
// at most 15 bytes, every one that is not printable ASCII as '?'. Reading
// comm instead would cost a file per client.
std::string commandOf(const std::string& program) {
  std::string command = program.substr(0, 15);
  for (char& c : command) {
    if (c < 0x20 || c > 0x7e) c = '?';
  }
  return command;
}

bool isListed(const std::vector<ClientProcess>& clients, int32_t pid) {
  return std::any_of(clients.begin(), clients.end(), [pid](const ClientProcess& c) { return c.pid == pid; });
}

}  // namespace

void collectProcessList(TraceSharedMemory& memory, const System::FileIdentity& file, ProcessList& list) {
  list = ProcessList();
  list.updateCount = memory.getUpdateCount();
  const TraceSharedMemory::Part* parts = memory.getAllParts();
  if (parts == nullptr) return;
  const System::ProcessID self = getpid();
  for (ClientStatus& status : readClientStatuses(memory.profileDirectory(), Configuration::NEBRIX_COMPONENT)) {
    if (status.pid == self) continue;
    list.clients.emplace_back();
    ClientProcess& client = list.clients.back();
    client.pid = status.pid;
    client.command = status.program.empty() ? System::commandName(status.pid) : commandOf(status.program);
    client.published = true;
    client.status = std::move(status);
  }
  // A process that holds a part and published nothing may still be a client,
  // one on an earlier library: its maps tell.
  System::FileIdentity console;
  const bool consoleKnown = System::identifyOwnProgram(console);
  for (int i = 0; i < TraceSharedMemory::NUM_PARTS; ++i) {
    const int32_t pid = partProcessID(parts[i]);
    if (pid <= 0 || pid == self || isListed(list.clients, pid) || !System::processMapsFile(pid, file)) continue;
    if (consoleKnown && System::runsProgram(pid, console)) continue;
    ClientProcess client;
    client.pid = pid;
    client.command = System::commandName(pid);
    list.clients.push_back(client);
  }
  std::sort(list.clients.begin(), list.clients.end(),
            [](const ClientProcess& a, const ClientProcess& b) { return a.pid < b.pid; });
  for (ClientProcess& client : list.clients) takePart(parts, list.updateCount, client);
  for (int i = 0; i < TraceSharedMemory::NUM_PARTS; ++i) {
    const int32_t pid = partProcessID(parts[i]);
    // No process ever has a negative id; a listed client has just been seen alive.
    if (pid <= 0 || isListed(list.clients, pid) || !System::isProcessDead(pid)) continue;
    const std::string flags = partFlags(parts[i]);
    if (flags != kFollowConfiguration) list.endedParts.push_back({pid, flags, partReadCount(parts[i])});
  }
  std::sort(list.endedParts.begin(), list.endedParts.end(),
            [](const EndedProcessPart& a, const EndedProcessPart& b) { return a.pid < b.pid; });
}

void collectClients(TraceSharedMemory& memory, ProcessList& list) {
  System::FileIdentity file;
  int error = 0;
  if (System::identifyDescriptor(memory.mappedDescriptor(), file, error)) {
    collectProcessList(memory, file, list);
  } else {
    list = ProcessList();
  }
}

}  // namespace NEBRIX
