#include "console/process_list.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "trace/trace_flags.h"

namespace NEBRIX {

std::string partFlags(const TraceSharedMemory::Part& part) {
  return std::string(part.flags, strnlen(part.flags, TraceSharedMemory::FLAGS_SIZE - 1));
}

int32_t partProcessID(const TraceSharedMemory::Part& part) {
  return __atomic_load_n(&part.processID, __ATOMIC_ACQUIRE);
}

const char* acknowledgedText(ClientProcess::Acknowledged acknowledged) {
  switch (acknowledged) {
    case ClientProcess::ACKNOWLEDGED_YES: return "yes";
    case ClientProcess::ACKNOWLEDGED_NO: return "no";
    default: return "unknown";
  }
}

int32_t partReadCount(const TraceSharedMemory::Part& part) {
  return __atomic_load_n(&part.readCount, __ATOMIC_ACQUIRE);
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

void collectProcessList(TraceSharedMemory& memory, const System::FileIdentity& file, ProcessList& list) {
  list = ProcessList();
  list.updateCount = memory.getUpdateCount();
  const TraceSharedMemory::Part* parts = memory.getAllParts();
  if (parts == nullptr) return;
  System::FileIdentity console;
  const System::FileIdentity* program = System::identifyOwnProgram(console) ? &console : nullptr;
  for (const System::MappingProcess& process : System::findProcessesMapping(file, getpid(), program)) {
    ClientProcess client;
    client.pid = process.pid;
    client.command = process.command;
    for (int i = 0; i < TraceSharedMemory::NUM_PARTS && !client.hasPart; ++i) {
      if (partProcessID(parts[i]) != process.pid) continue;
      client.hasPart = true;
      client.readCount = partReadCount(parts[i]);
      client.partFlags = partFlags(parts[i]);
    }
    client.ownSettings = client.hasPart && client.partFlags != kFollowConfiguration;
    if (client.hasPart) {
      client.acknowledged =
          client.readCount == list.updateCount ? ClientProcess::ACKNOWLEDGED_YES : ClientProcess::ACKNOWLEDGED_NO;
    }
    if (client.ownSettings) client.effectiveFlags = TraceFlags(client.partFlags.c_str()).toString();
    list.clients.push_back(client);
  }
  for (int i = 0; i < TraceSharedMemory::NUM_PARTS; ++i) {
    const int32_t pid = partProcessID(parts[i]);
    if (pid <= 0 || !System::isProcessDead(pid)) continue;  // no process ever has a negative id
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
