// SHOW ...: the configuration, the per-process settings, the place where
// profile data is looked for, and the usage history. Nothing is changed.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "console/console.h"
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

}  // namespace

NEBRIX_Retcode Console::showConfig() {
  char filename[1024] = "";
  char errortext[512] = "";
  if (Configuration::getTraceFileName(m_user, Configuration::NEBRIX_COMPONENT, nullptr, filename, sizeof filename,
                                      errortext, sizeof errortext) != NEBRIX_OK) {
    return reportConfigurationError("Error getting trace file name", errortext);
  }
  const std::string shownName = filename[0] != '\0' ? filename : defaultTraceFileName();
  std::cout << "\nConfiguration:\n  Trace file name    : " << shownName << std::endl;

  char flags[1024] = "";
  errortext[0] = '\0';
  if (Configuration::getTraceFlags(m_user, Configuration::NEBRIX_COMPONENT, nullptr, flags, sizeof flags, errortext,
                                   sizeof errortext) != NEBRIX_OK) {
    return reportConfigurationError("Error getting trace flags", errortext);
  }
  std::cout << "  Trace flags        : " << (flags[0] != '\0' ? flags : "(none set)") << "\n";
  if (flags[0] == '\0') {
    std::cout.flush();
    return NEBRIX_OK;
  }
  const std::vector<FlagWords> settings = describeTraceFlags(TraceFlags(flags));
  for (size_t i = 0; i < kSettingsShownByShowConfig; ++i) {
    std::cout << settingLinePrefix(settings[i].label) << settings[i].words << "\n";
  }
  std::cout.flush();
  return NEBRIX_OK;
}

NEBRIX_Retcode Console::showTracesettings() {
  TraceSharedMemory sharedMemory;
  if (attachToSharedMemory(sharedMemory) != NEBRIX_OK) return NEBRIX_NOT_OK;
  std::cout << "\nSettings:\n"
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
    const TraceSharedMemory::Part& part = parts[i];
    if (part.processID == 0) continue;
    // The flags field comes from a file others write: never read past it.
    char line[400];
    snprintf(line, sizeof line, "    %5.d         %5.d  %.*s", part.processID, part.readCount,
             static_cast<int>(TraceSharedMemory::FLAGS_SIZE - 1), part.flags);
    std::cout << line << "\n";
  }
  std::cout.flush();
  return NEBRIX_OK;
}

// SHOW PROFILE and SHOW PROFILE DETAILS behave alike: profile data itself is
// not read by this program.
NEBRIX_Retcode Console::showProfile(bool) {
  char filename[1024] = "";
  char errortext[512] = "";
  if (Configuration::getFullProfileFileName(m_user, Configuration::NEBRIX_COMPONENT, nullptr, filename, sizeof filename,
                                            errortext, sizeof errortext) != NEBRIX_OK) {
    return reportConfigurationError("Error getting profile file name", errortext);
  }
  const std::string name = filename;
  const size_t slash = name.rfind('/');
  const std::string directory = slash == std::string::npos ? "" : name.substr(0, slash);
  const std::string pattern = slash == std::string::npos ? name : name.substr(slash + 1);
  if (m_verbose) {
    std::cout << "\nsearch path:" << directory << "\n\nsearch name pattern:" << pattern << "\n";
  }
  std::cout << "no profile data found." << std::endl;
  return NEBRIX_OK;
}

NEBRIX_Retcode Console::showHistory() {
  ConsoleHistory history;
  history.prepare("nebrix", nullptr, m_user, ConsoleHistory::PREPARE_READ);
  const size_t size = ConsoleHistory::FILE_SIZE;
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[size]());
  if (!buffer) {
    std::cerr << "Error: Out of Memory." << std::endl;
    return NEBRIX_NOT_OK;
  }
  int32_t count = 0;
  if (history.getHistory(buffer.get(), static_cast<int32_t>(size), count) != 0) {
    std::cout << "Command history is empty." << std::endl;
    return NEBRIX_NOT_OK;
  }

  // Oldest first by time stamp; entries with equal stamps keep their order
  // in the file.
  std::vector<const char*> records;
  for (int32_t i = 0; i < count; ++i) records.push_back(buffer.get() + i * ConsoleHistory::RECORD_SIZE);
  std::stable_sort(records.begin(), records.end(), [](const char* a, const char* b) {
    return memcmp(a, b, ConsoleHistory::TIMESTAMP_SIZE) < 0;
  });

  bool printed = false;
  for (const char* record : records) {
    if (ConsoleHistory::isEmptyRecord(record)) continue;
    if (!printed) {
      std::cout << "DATE                       USER                PROCESS     COMMAND\n"
                << std::string(ConsoleHistory::RECORD_SIZE, '-') << "\n";
      printed = true;
    }
    std::cout.write(record, ConsoleHistory::RECORD_SIZE);
  }
  if (!printed) std::cout << "Command history is empty.\n";
  std::cout << std::endl;
  return NEBRIX_OK;
}

}  // namespace NEBRIX
