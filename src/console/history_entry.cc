// The history entry of a command that changed something: the command's text,
// with the time, the console's process and the user, added to the user's
// console history (SHOW HISTORY lists it).
#include "base/time_stamp.h"
#include "console/console.h"
#include "profile/console_history.h"

namespace NEBRIX {

// The history file's column holds the stamp as it is made.
static_assert(ConsoleHistory::TIMESTAMP_SIZE == kTimeStampLength);

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
