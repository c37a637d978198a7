// SHOW ...: the configuration, the per-process settings and the usage
// history (SHOW PROFILE is in show_profile.cc). Nothing is changed.
// Each command reads through the helpers below and then prints text or, with
// "-o json", builds its member of one document (json_output.h).
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "base/text_output.h"
#include "console/console.h"
#include "console/json_output.h"
#include "console/flag_words.h"
#include "profile/configuration.h"
#include "profile/console_history.h"
#include "trace/trace_flags.h"

namespace NEBRIX {

namespace {

// The file name the client library uses when none is configured: the
// working directory and "NEBRIX-%p.txt".
std::string defaultTraceFileName() {
  char directory[1024];
  if (getcwd(directory, sizeof directory) == nullptr) return "";
  std::string name = std::string(directory) + "/NEBRIX-%p.txt";
  if (name.size() > sizeof directory - 1) name.resize(sizeof directory - 1);  // as in a 1024-byte buffer
  return name;
}

// The trace file name as SHOW CONFIG shows it: the default in the working
// directory when the stored name is empty.
NEBRIX_Retcode readTraceFileName(const char* user, std::string& shown) {
  char filename[1024] = "";
  char errortext[512] = "";
  if (Configuration::getTraceFileName(user, Configuration::NEBRIX_COMPONENT, nullptr, filename, sizeof filename,
                                      errortext, sizeof errortext) != NEBRIX_OK) {
    return reportConfigurationError("Error getting trace file name", errortext);
  }
  shown = filename[0] != '\0' ? filename : defaultTraceFileName();
  return NEBRIX_OK;
}

NEBRIX_Retcode readTraceFlags(const char* user, std::string& flags) {
  char text[1024] = "";
  char errortext[512] = "";
  if (Configuration::getTraceFlags(user, Configuration::NEBRIX_COMPONENT, nullptr, text, sizeof text, errortext,
                                   sizeof errortext) != NEBRIX_OK) {
    return reportConfigurationError("Error getting trace flags", errortext);
  }
  flags = text;
  return NEBRIX_OK;
}

enum class HistoryRead { OK, UNREADABLE, NO_MEMORY };

// The used records of the usage history, each of its 120 bytes, oldest
// first by time stamp; entries with equal stamps keep their order in the
// file. A buffer that cannot be had is reported here.
HistoryRead readHistory(const char* user, std::vector<std::string>& records) {
  ConsoleHistory history;
  history.prepare("nebrix", nullptr, user, ConsoleHistory::PREPARE_READ);
  const size_t size = ConsoleHistory::FILE_SIZE;
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[size]());
  if (!buffer) {
    Text::err << "Error: Out of Memory." << Text::endl;
    return HistoryRead::NO_MEMORY;
  }
  int32_t count = 0;
  if (history.getHistory(buffer.get(), static_cast<int32_t>(size), count) != 0) return HistoryRead::UNREADABLE;
  for (int32_t i = 0; i < count; ++i) {
    const char* record = buffer.get() + i * ConsoleHistory::RECORD_SIZE;
    if (!ConsoleHistory::isEmptyRecord(record)) records.emplace_back(record, ConsoleHistory::RECORD_SIZE);
  }
  std::stable_sort(records.begin(), records.end(), [](const std::string& a, const std::string& b) {
    return memcmp(a.data(), b.data(), ConsoleHistory::TIMESTAMP_SIZE) < 0;
  });
  return HistoryRead::OK;
}

}  // namespace

NEBRIX_Retcode Console::showConfig() {
  std::string shownName;
  if (readTraceFileName(m_user, shownName) != NEBRIX_OK) return NEBRIX_NOT_OK;
  Text::out << "\nConfiguration:\n  Trace file name    : " << shownName << Text::endl;

  std::string flags;
  if (readTraceFlags(m_user, flags) != NEBRIX_OK) return NEBRIX_NOT_OK;
  Text::out << "  Trace flags        : " << (!flags.empty() ? flags : "(none set)") << "\n";
  if (flags.empty()) {
    Text::out.flush();
    return NEBRIX_OK;
  }
  for (const FlagWords& setting : describeTraceFlags(TraceFlags(flags.c_str()))) {
    if (setting.shownByShowConfig) Text::out << settingLinePrefix(setting.label) << setting.words << "\n";
  }
  Text::out.flush();
  return NEBRIX_OK;
}

NEBRIX_Retcode Console::showTracesettings() {
  TraceSharedMemory sharedMemory;
  if (attachToSharedMemory(sharedMemory) != NEBRIX_OK) return NEBRIX_NOT_OK;
  Text::out << "\nSettings:\n"
            << "  Update count : " << sharedMemory.getUpdateCount() << "\n"
            << "  Total size   : " << TraceSharedMemory::getTotalSize() << "\n"
            << "    equivalent to " << TraceSharedMemory::NUM_PARTS << " process-specific parts.\n"
            << "  Version flag : " << sharedMemory.getVersion() << "\n"
            << "  Forced re-read of global configuration with last update.\n"
            << "\n"
            << "  Process  Update count  Flags\n"
            << "  " << std::string(70, '-') << "\n";
  const TraceSharedMemory::Part* parts = sharedMemory.getAllParts();
  for (int i = 0; i < TraceSharedMemory::NUM_PARTS; ++i) {
    const int32_t pid = partProcessID(parts[i]);
    if (pid == 0) continue;
    char line[400];
    snprintf(line, sizeof line, "    %5.d         %5.d  %s", pid, partReadCount(parts[i]), partFlags(parts[i]).c_str());
    Text::out << line << "\n";
  }
  Text::out.flush();
  return NEBRIX_OK;
}

NEBRIX_Retcode Console::showHistory() {
  std::vector<std::string> records;
  switch (readHistory(m_user, records)) {
    case HistoryRead::NO_MEMORY: return NEBRIX_NOT_OK;
    case HistoryRead::UNREADABLE: Text::out << "Command history is empty." << Text::endl; return NEBRIX_NOT_OK;
    case HistoryRead::OK: break;
  }
  if (records.empty()) {
    Text::out << "Command history is empty.\n";
  } else {
    Text::out << "DATE                       USER                PROCESS     COMMAND\n"
              << std::string(ConsoleHistory::RECORD_SIZE, '-') << "\n";
  }
  for (const std::string& record : records) Text::out << record;
  Text::out << Text::endl;
  return NEBRIX_OK;
}

NEBRIX_Retcode Console::showJson() {
  nlohmann::json document = nlohmann::json::object();
  NEBRIX_Retcode rc = NEBRIX_NOT_OK;
  switch (m_command.action) {
    case Action::SHOW_CONFIG: rc = configJson(document); break;
    case Action::SHOW_TRACESETTINGS: rc = tracesettingsJson(document); break;
    case Action::SHOW_ALL:
      rc = configJson(document);
      if (rc == NEBRIX_OK) rc = tracesettingsJson(document);
      break;
    case Action::SHOW_PROFILE:
    case Action::SHOW_PROFILE_DETAILS: rc = profileJson(document); break;
    case Action::SHOW_HISTORY: rc = historyJson(document); break;
    case Action::SHOW_PROCESSES: rc = processesJson(document); break;
    default: break;  // SHOW FILE: nothing to show, as in text
  }
  if (rc == NEBRIX_OK) printJson(document);
  return rc;
}

NEBRIX_Retcode Console::configJson(nlohmann::json& document) {
  std::string name;
  std::string flags;
  if (readTraceFileName(m_user, name) != NEBRIX_OK || readTraceFlags(m_user, flags) != NEBRIX_OK) {
    return NEBRIX_NOT_OK;
  }
  nlohmann::json config = nlohmann::json::object();
  putText(config, "trace_file_name", name);
  putFlags(config, flags);
  document["config"] = config;
  return NEBRIX_OK;
}

NEBRIX_Retcode Console::tracesettingsJson(nlohmann::json& document) {
  TraceSharedMemory sharedMemory;
  if (attachToSharedMemory(sharedMemory) != NEBRIX_OK) return NEBRIX_NOT_OK;
  document["tracesettings"] = {{"header", sharedMemoryHeaderJson(sharedMemory)}, {"parts", partsJson(sharedMemory)}};
  return NEBRIX_OK;
}

// No history file fails as in text, but the message goes to standard error.
NEBRIX_Retcode Console::historyJson(nlohmann::json& document) {
  std::vector<std::string> records;
  switch (readHistory(m_user, records)) {
    case HistoryRead::NO_MEMORY: return NEBRIX_NOT_OK;
    case HistoryRead::UNREADABLE: Text::err << "Command history is empty." << Text::endl; return NEBRIX_NOT_OK;
    case HistoryRead::OK: break;
  }
  nlohmann::json entries = nlohmann::json::array();
  for (const std::string& record : records) entries.push_back(historyEntryJson(record.c_str()));
  document["history"] = entries;
  return NEBRIX_OK;
}

}  // namespace NEBRIX
