#include <sys/time.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include "console/console.h"
#include "profile/console_history.h"

namespace NEBRIX {

void currentTimeStamp(char* buffer) {
  strcpy(buffer, "0000-00-00 00:00:00.000000");
  struct timeval now;
  struct tm local;
  if (gettimeofday(&now, nullptr) != 0 || localtime_r(&now.tv_sec, &local) == nullptr) return;
  char text[64];
  snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%06d", local.tm_year + 1900,
           local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
           static_cast<int>(now.tv_usec));
  // A year beyond 9999 would not fit its column; the stamp keeps its width.
  memcpy(buffer, text, ConsoleHistory::TIMESTAMP_SIZE);
  buffer[ConsoleHistory::TIMESTAMP_SIZE] = '\0';
}

void Console::logAction() {
  char timestamp[ConsoleHistory::TIMESTAMP_SIZE + 1];
  currentTimeStamp(timestamp);
  ConsoleHistory history;
  history.prepare("nebrix", nullptr, m_user, ConsoleHistory::PREPARE_CREATE_IF_NEEDED);
  // A second warning would only repeat the first: same file, same cause.
  if (history.logAction(timestamp, m_pid, m_user, m_commandstring.c_str(), !m_historyEntryLost) != 0) {
    m_historyEntryLost = true;
  }
}

}  // namespace NEBRIX
