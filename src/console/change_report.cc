// -v: what a changing command did, printed on standard output after it: the
// setting before and after, canonical and in words, and where the change
// goes. Without -p, the processes that follow the configuration take it up
// and those with their own settings do not (with --all, those it handed back
// to the configuration are named too); with -p, whether that one process
// runs and has acknowledged. With -w, each process that took the change up
// names its trace file and whether it is written.
#include <string>
#include <vector>

#include "base/exception.h"
#include "base/text_output.h"
#include "console/console.h"
#include "console/flag_words.h"
#include "console/process_list.h"
#include "profile/configuration.h"
#include "trace/trace_flags.h"

namespace NEBRIX {

namespace {

const char* shown(const std::string& value) { return value.empty() ? "(none set)" : value.c_str(); }

void printFlagChange(const std::string& before, const std::string& after) {
  const std::vector<FlagWords> was = describeTraceFlags(TraceFlags(before.c_str()));
  const std::vector<FlagWords> is = describeTraceFlags(TraceFlags(after.c_str()));
  bool changed = false;
  for (size_t i = 0; i < was.size(); ++i) {
    if (was[i].words == is[i].words) continue;
    Text::out << settingLinePrefix(was[i].label) << was[i].words << " -> " << is[i].words << "\n";
    changed = true;
  }
  if (!changed) Text::out << "    (no change)\n";
}

// The change made `target`; a count it or later proves it taken up.
bool tookChange(const ClientProcess& client, int32_t target, int32_t current) {
  return (client.hasPart && countReached(client.readCount, target, current)) ||
         (client.published && countReached(client.status.updateCount, target, current));
}

}  // namespace

bool Console::changesFileName() const {
  return m_command.action == Action::FILE_NAME;
}

bool Console::changesOneProcess() const { return m_pidpresent && m_command.reachesProcesses(); }

// Errors are left to the command itself: what cannot be read shows as empty.
std::string Console::currentSetting() {
  char value[1024] = "";
  char errortext[512] = "";
  if (m_command == Command{Route::CONFIG, Action::FILE_NAME}) {
    Configuration::getTraceFileName(m_user, Configuration::NEBRIX_COMPONENT, nullptr, value, sizeof value, errortext,
                                    sizeof errortext);
    return value;
  }
  if (m_command == Command{Route::PROFILE, Action::FILE_NAME}) {
    Configuration::getFullProfileFileName(m_user, Configuration::NEBRIX_COMPONENT, nullptr, value, sizeof value,
                                          errortext, sizeof errortext);
    return value;
  }
  if (changesOneProcess()) {
    TraceSharedMemory sharedMemory;
    std::string own;
    try {
      if (m_user == nullptr) sharedMemory.attach(Configuration::NEBRIX_COMPONENT, nullptr);
    } catch (const ltt::exception&) {
      // The command fails on the same attach and says why.
    }
    if (sharedMemory.getFlags(m_pid, own) && own != kFollowConfiguration) return TraceFlags(own.c_str()).toString();
  }
  Configuration::getTraceFlags(m_user, Configuration::NEBRIX_COMPONENT, nullptr, value, sizeof value, errortext,
                               sizeof errortext);
  return TraceFlags(value).toString();
}

void Console::reportChange(const std::string& before, const std::string& after) {
  if (changesFileName()) {
    Text::out << (m_command == Command{Route::PROFILE, Action::FILE_NAME} ? "Profile" : "Trace") << " file name : " << shown(before) << " -> "
              << shown(after) << "\n";
  } else {
    if (changesOneProcess()) {
      Text::out << "Trace flags of process " << m_pid;
    } else {
      Text::out << "Configured trace flags";
    }
    Text::out << " : " << shown(before) << " -> " << shown(after) << "\n";
    printFlagChange(before, after);
  }

  TraceSharedMemory sharedMemory;
  ProcessList list;
  if (loadProcessList(sharedMemory, list, false) != NEBRIX_OK) return;
  if (changesOneProcess()) {
    const ClientProcess* client = list.find(m_pid);
    Text::out << "Process " << m_pid << " : ";
    if (System::isProcessDead(m_pid)) {
      Text::out << "not running\n";
    } else if (client == nullptr) {
      Text::out << "running, not using the trace shared memory\n";
    } else {
      Text::out << "running, acknowledged: " << acknowledgedText(client->acknowledged) << "\n";
      if (m_waitpresent && tookChange(*client, m_changecount, list.updateCount)) {
        Text::out << "Process " << m_pid << " trace : " << traceFileText(*client) << "\n";
      }
    }
  } else {
    Text::out << "Processes following the configuration : " << list.followerCount();
    if (!m_command.reachesProcesses()) Text::out << " (they read it again with the next TRACE command)";
    Text::out << "\nProcesses keeping their own settings  :";
    size_t own = 0;
    for (const ClientProcess& client : list.clients) {
      if (!client.ownSettings) continue;
      Text::out << " " << client.pid;
      ++own;
    }
    Text::out << (own == 0 ? " none\n" : "\n");
    if (m_all) {
      Text::out << "Processes handed back                 :";
      for (const int32_t pid : m_handedback) Text::out << " " << pid;
      Text::out << (m_handedback.empty() ? " none\n" : "\n");
    }
    for (const ClientProcess& client : list.clients) {
      if (!m_waitpresent || client.ownSettings || !tookChange(client, m_changecount, list.updateCount)) continue;
      const std::string label = "Process " + std::to_string(client.pid) + " trace";
      Text::out << label << std::string(label.size() < 37 ? 37 - label.size() : 0, ' ') << " : "
                << traceFileText(client) << "\n";
    }
  }
  Text::out.flush();
}

}  // namespace NEBRIX
