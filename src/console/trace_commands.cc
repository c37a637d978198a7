// TRACE ... and PROFILE ...: changes for running client processes, through
// the trace shared-memory file. With "-p" one process's own flags change;
// without, the configuration changes and the update counter tells every
// process without settings of its own to read it again; with "--all", every
// process with settings of its own is first handed back to the
// configuration.
#include <string>

#include "base/exception.h"
#include "base/text_output.h"
#include "console/console.h"
#include "console/process_list.h"
#include "console/trace_setting.h"
#include "profile/configuration.h"
#include "trace/trace_flags.h"

namespace NEBRIX {

NEBRIX_Retcode Console::attachToSharedMemory(TraceSharedMemory& sharedMemory) {
  if (m_user != nullptr) {
    Text::err << "Change settings for other user not supported (use 'su' command)." << Text::endl;
    return NEBRIX_NOT_OK;
  }
  try {
    sharedMemory.attach(Configuration::NEBRIX_COMPONENT, nullptr);
  } catch (const ltt::exception& ex) {
    Text::err << "Error opening shared memory: " << ltt::expandedText(ex) << ", aborting." << Text::endl;
    return NEBRIX_NOT_OK;
  }
  return NEBRIX_OK;
}

NEBRIX_Retcode Console::attachForChange() {
  if (m_sharedMemory.mappedDescriptor() >= 0) return NEBRIX_OK;
  return attachToSharedMemory(m_sharedMemory);
}

NEBRIX_Retcode Console::getProcessTraceFlags(TraceSharedMemory& sharedMemory, TraceFlags& flags) {
  std::string text;
  if (sharedMemory.getFlags(m_pid, text) && text != kFollowConfiguration) {
    flags = TraceFlags(text.c_str());
    return NEBRIX_OK;
  }
  // No settings of its own: the process starts from the configured flags.
  char configured[256] = "";
  char errortext[512] = "";
  if (Configuration::getTraceFlags(m_user, Configuration::NEBRIX_COMPONENT, nullptr, configured, sizeof configured,
                                   errortext, sizeof errortext) != NEBRIX_OK) {
    flags = TraceFlags();
    return reportConfigurationError("Error getting configuration default", errortext);
  }
  flags = TraceFlags(configured);
  return NEBRIX_OK;
}

// The flags are written before the counter moves, so a process that sees
// the new count finds its new flags.
NEBRIX_Retcode Console::setProcessTraceFlags(TraceSharedMemory& sharedMemory, const TraceFlags& flags) {
  if (!storeProcessFlags(sharedMemory, flags.toString().c_str())) return NEBRIX_NOT_OK;
  announceChange(sharedMemory);
  return NEBRIX_OK;
}

// The file is attached for writing and canonical flags fit a part, so the
// one way to fail is a process without a part when every part belongs to a
// live process (those of ended ones are taken over).
bool Console::storeProcessFlags(TraceSharedMemory& sharedMemory, const char* flags) {
  if (sharedMemory.setFlags(m_pid, flags)) return true;
  Text::err << "Error: Every part of the trace shared-memory file is in use by a running process; none is left "
               "for process "
            << m_pid
            << ".\n\"nebrix_cons SHOW PROCESSES\" shows the clients that hold them; a part is reused as soon as "
               "its process has ended. Without -p the command changes the configuration, which process "
            << m_pid << " follows." << Text::endl;
  return false;
}

NEBRIX_Retcode Console::changeProcessFlags(const TraceSetting& setting) {
  if (attachForChange() != NEBRIX_OK) return NEBRIX_NOT_OK;
  {
    TraceFlags flags;
    TraceSharedMemory::LockedScope scope(m_sharedMemory);
    if (getProcessTraceFlags(m_sharedMemory, flags) != NEBRIX_OK) return NEBRIX_NOT_OK;
    setting.apply(flags);
    if (setProcessTraceFlags(m_sharedMemory, flags) != NEBRIX_OK) return NEBRIX_NOT_OK;
  }
  m_commandstring = setting.text;
  return NEBRIX_OK;
}

// The shared-memory file is attached before the configuration is read or
// written: one that cannot be used (a link, a FIFO or a directory in its
// place) fails the command with nothing changed, and once it is mapped,
// telling the processes cannot fail. Another user's configuration is
// refused by the store first, with its own message.
NEBRIX_Retcode Console::changeTraceSetting(const TraceSetting& setting) {
  if (m_pidpresent) return changeProcessFlags(setting);
  if (m_user == nullptr && attachForChange() != NEBRIX_OK) return NEBRIX_NOT_OK;
  const NEBRIX_Retcode rc = changeConfiguredFlags(setting);
  return rc == NEBRIX_OK ? traceRefresh() : rc;
}

// The second step of every configuration route, and TRACE REFRESH itself.
// A configuration step that ran before gets its own history entry now, so
// the history shows it even when the refresh fails.
NEBRIX_Retcode Console::traceRefresh() {
  if (!m_commandstring.empty()) logAction();
  m_commandstring = "TRACE REFRESH";
  if (attachForChange() != NEBRIX_OK) return NEBRIX_NOT_OK;
  TraceSharedMemory::LockedScope scope(m_sharedMemory);
  if (m_pidpresent && !storeProcessFlags(m_sharedMemory, kFollowConfiguration)) return NEBRIX_NOT_OK;
  if (m_all) handBackOwnSettings(m_sharedMemory);
  announceChange(m_sharedMemory);
  return NEBRIX_OK;
}

NEBRIX_Retcode Console::traceOff() {
  if (m_pidpresent) {
    if (attachForChange() != NEBRIX_OK) return NEBRIX_NOT_OK;
    {
      TraceSharedMemory::LockedScope scope(m_sharedMemory);
      if (setProcessTraceFlags(m_sharedMemory, TraceFlags()) != NEBRIX_OK) return NEBRIX_NOT_OK;
    }
    m_commandstring = "TRACE OFF";
    return NEBRIX_OK;
  }
  // As for every other setting: the file first (see changeTraceSetting).
  if (m_user == nullptr && attachForChange() != NEBRIX_OK) return NEBRIX_NOT_OK;
  // Every configured setting goes back to its default, sizes and stop on
  // error included.
  char errortext[512] = "";
  const NEBRIX_Retcode rc =
      Configuration::setTraceFlags(m_user, Configuration::NEBRIX_COMPONENT, nullptr, "", errortext, sizeof errortext);
  m_commandstring = "TRACE OFF";
  if (rc != NEBRIX_OK) return reportConfigurationError("Failed to write trace configuration", errortext);
  return traceRefresh();
}

}  // namespace NEBRIX
