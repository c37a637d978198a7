// SHOW PROCESSES: the client processes of the user's trace shared-memory
// file, where their settings come from, whether they have taken up the last
// change and where their trace goes; then the parts kept for processes that
// have ended. Nothing is changed, and a missing file is not created.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "base/error_code_table.h"
#include "base/exception.h"
#include "base/text_output.h"
#include "console/console.h"
#include "console/json_output.h"
#include "console/process_list.h"
#include "profile/configuration.h"
#include "profile/user_profile.h"

namespace NEBRIX {

namespace {

const char* sourceText(const ClientProcess& client) { return client.ownSettings ? "own" : "configuration"; }

const char* shownFlags(const std::string& flags) { return flags.empty() ? "(none set)" : flags.c_str(); }

// The name the process published for its program, else the one it gave itself.
const std::string& programName(const ClientProcess& client) {
  return client.published && !client.status.program.empty() ? client.status.program : client.command;
}

void printClients(const ProcessList& list) {
  Text::out << "\nProcesses (update count " << list.updateCount << "):\n"
            << "  Process  Command          Source         Acknowledged  Flags\n"
            << "  " << std::string(70, '-') << "\n";
  for (const ClientProcess& client : list.clients) {
    char line[400];
    snprintf(line, sizeof line, "  %7d  %-15.15s  %-13s  %-12s  %s", client.pid, programName(client).c_str(),
             sourceText(client), acknowledgedText(client.acknowledged), shownFlags(client.effectiveFlags));
    Text::out << line << "\n           trace: " << traceFileText(client) << "\n";
  }
}

void printEndedParts(const ProcessList& list) {
  Text::out << "\nParts kept for processes that no longer run:\n"
            << "  Process  Flags\n"
            << "  " << std::string(70, '-') << "\n";
  for (const EndedProcessPart& part : list.endedParts) {
    char line[400];
    snprintf(line, sizeof line, "  %7d  %s", part.pid, shownFlags(part.flags));
    Text::out << line << "\n";
  }
  Text::out << "  A new process with one of these ids takes over its flags. To make it follow\n"
               "  the configuration instead: nebrix_cons -p <pid> TRACE REFRESH\n";
}

// Seconds since the epoch as ISO 8601 in UTC: "2026-12-07T10:15:02Z".
std::string utcTime(int64_t seconds) {
  const time_t time = static_cast<time_t>(seconds);
  struct tm parts;
  char text[64] = "";
  if (gmtime_r(&time, &parts) != nullptr) strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

// What the process published, each member null when it published nothing
// or the member does not apply to its state.
void putClientStatus(nlohmann::json& row, const ClientProcess& client) {
  const ClientStatus& status = client.status;
  const bool known = client.published;
  const bool cannotWrite = known && status.traceState == ClientStatus::TRACE_CANNOT_WRITE;
  row["published"] = known;
  for (const char* key : {"program", "trace_file", "trace_reason", "profile_file", "profile_reason"}) {
    row[key] = nullptr;
  }
  if (known) {
    putText(row, "program", status.program);
    if (!status.traceFile.empty()) putText(row, "trace_file", status.traceFile);
    if (cannotWrite) putText(row, "trace_reason", status.traceReason);
    if (!status.profileFile.empty()) putText(row, "profile_file", status.profileFile);
    if (status.profileState == ClientStatus::PROFILE_CANNOT_WRITE) putText(row, "profile_reason", status.profileReason);
  }
  row["update_count"] = known ? nlohmann::json(status.updateCount) : nlohmann::json();
  row["trace_state"] = known ? nlohmann::json(traceStateText(status.traceState)) : nlohmann::json();
  const std::string since = cannotWrite ? utcTime(status.traceSince) : "";  // "" also for a time beyond gmtime
  row["trace_since"] = since.empty() ? nlohmann::json() : nlohmann::json(since);
  row["trace_error"] =
      known && status.traceState == ClientStatus::TRACE_STOPPED ? nlohmann::json(status.traceError) : nlohmann::json();
  row["compressed"] = known ? nlohmann::json(status.compressed) : nlohmann::json();
  row["shared"] = known ? nlohmann::json(status.shared) : nlohmann::json();
  row["profile_state"] = known ? nlohmann::json(profileStateText(status.profileState)) : nlohmann::json();
}

}  // namespace

NEBRIX_Retcode Console::loadProcessList(TraceSharedMemory& sharedMemory, ProcessList& list, bool withFlags) {
  list = ProcessList();
  // Another user's file is refused with the message of every other command.
  if (m_user != nullptr) return attachToSharedMemory(sharedMemory);
  std::string path;
  try {
    SecureStore::UserProfile::getUserProfilePath(path, "", false, false);
  } catch (const ltt::exception& ex) {
    Text::err << "Error opening shared memory: " << ltt::expandedText(ex) << ", aborting." << Text::endl;
    return NEBRIX_NOT_OK;
  }
  path = path + "/" + Configuration::NEBRIX_COMPONENT + ".shm";
  System::FileIdentity file;
  int error = 0;
  if (!System::identifyFile(path, file, error) && error == ENOENT) return NEBRIX_OK;
  // Looking changes nothing: a file that is not fit to use is reported and
  // left as it is, for a change to replace. The one mapped is the one listed.
  try {
    sharedMemory.attachForReading(Configuration::NEBRIX_COMPONENT, nullptr);
  } catch (const ltt::exception& ex) {
    Text::err << "Error opening shared memory: " << ltt::expandedText(ex) << ", aborting." << Text::endl;
    if (ex.error_no() == NEBRIX__ERR_NEBRIX_TRACESHM_WRONG_SIZE().number()) {
      Text::err << "The file is left as it is; the next TRACE command replaces it with an empty one." << Text::endl;
    }
    return NEBRIX_NOT_OK;
  }
  if (!System::identifyDescriptor(sharedMemory.mappedDescriptor(), file, error)) {
    Text::err << "Error opening shared memory: cannot examine " << path << " (" << strerror(error) << ")."
              << Text::endl;
    return NEBRIX_NOT_OK;
  }
  collectProcessList(sharedMemory, file, list);
  if (!withFlags || list.followerCount() == 0) return NEBRIX_OK;
  char flags[1024] = "";
  char errortext[512] = "";
  if (Configuration::getTraceFlags(m_user, Configuration::NEBRIX_COMPONENT, nullptr, flags, sizeof flags, errortext,
                                   sizeof errortext) != NEBRIX_OK) {
    return reportConfigurationError("Error getting trace flags", errortext);
  }
  list.setConfiguredFlags(flags);
  return NEBRIX_OK;
}

NEBRIX_Retcode Console::showProcesses() {
  TraceSharedMemory sharedMemory;
  ProcessList list;
  if (loadProcessList(sharedMemory, list) != NEBRIX_OK) return NEBRIX_NOT_OK;
  if (list.clients.empty()) {
    Text::out << "No process is using the trace shared memory.\n";
  } else {
    printClients(list);
  }
  if (!list.endedParts.empty()) printEndedParts(list);
  Text::out.flush();
  return NEBRIX_OK;
}

// The rows as the text has them, with the part's own flags and read count
// beside the effective flags; without the file the header is null.
NEBRIX_Retcode Console::processesJson(nlohmann::json& document) {
  TraceSharedMemory sharedMemory;
  ProcessList list;
  if (loadProcessList(sharedMemory, list) != NEBRIX_OK) return NEBRIX_NOT_OK;
  nlohmann::json clients = nlohmann::json::array();
  for (const ClientProcess& client : list.clients) {
    nlohmann::json row = {{"pid", client.pid},
                          {"source", sourceText(client)},
                          {"acknowledged", acknowledgedText(client.acknowledged)},
                          {"read_count", client.hasPart ? nlohmann::json(client.readCount) : nlohmann::json()}};
    putText(row, "command", client.command);
    putFlags(row, client.effectiveFlags);
    if (client.hasPart) putText(row, "part_flags", client.partFlags);
    putClientStatus(row, client);
    clients.push_back(row);
  }
  nlohmann::json ended = nlohmann::json::array();
  for (const EndedProcessPart& part : list.endedParts) {
    nlohmann::json row = {{"pid", part.pid}, {"read_count", part.readCount}};
    putFlags(row, part.flags);
    ended.push_back(row);
  }
  const bool attached = sharedMemory.getAllParts() != nullptr;
  document["processes"] = {{"header", attached ? sharedMemoryHeaderJson(sharedMemory) : nlohmann::json()},
                           {"clients", clients},
                           {"ended_parts", ended}};
  return NEBRIX_OK;
}

}  // namespace NEBRIX
