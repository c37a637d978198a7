// CONFIG TRACE ... and PROFILE FILENAME: changes of the user's persistent
// configuration. Running processes see them after the next refresh.

#include "console/console.h"
#include "console/trace_setting.h"
#include "profile/configuration.h"
#include "trace/trace_flags.h"

namespace NEBRIX {

TraceSetting Console::settingOf(Command command) const {
  switch (command.action) {
    case Action::CATEGORY: return categorySetting(categoryInfo(command.category), m_on, m_size);
    case Action::TIMESTAMP: return onOffSetting("TIMESTAMP", &TraceFlags::m_timestamp, m_on);
    case Action::COMPRESS: return onOffSetting("COMPRESS", &TraceFlags::m_compressed, m_on);
    case Action::FILE_SIZE: return fileSizeSetting(m_size);
    case Action::STOP_ON_ERROR: return stopOnErrorSetting(m_stop_on_error, m_errorcode, m_errorcount);
    case Action::PROFILE_RESET: return counterSetting(COUNTERS_RESET);
    case Action::PROFILE_COLLECT_ON: return counterSetting(COUNTERS_COLLECT);
    default: return counterSetting(COUNTERS_NOTSET);  // PROFILE COLLECT OFF
  }
}

// Every other setting of the configured string survives; the string is
// written back in its canonical form.
NEBRIX_Retcode Console::changeConfiguredFlags(const TraceSetting& setting) {
  Configuration::UpdateLock lock;  // no other console changes the flags in between
  char flags[1024] = "";
  char errortext[512] = "";
  if (Configuration::getTraceFlags(m_user, Configuration::NEBRIX_COMPONENT, nullptr, flags, sizeof flags, errortext,
                                   sizeof errortext) != NEBRIX_OK) {
    return reportConfigurationError("Error getting trace flags", errortext);
  }
  TraceFlags traceFlags(flags);
  setting.apply(traceFlags);
  m_commandstring = setting.configText;
  errortext[0] = '\0';
  const NEBRIX_Retcode rc = Configuration::setTraceFlags(m_user, Configuration::NEBRIX_COMPONENT, nullptr,
                                                         traceFlags.toString().c_str(), errortext, sizeof errortext);
  if (rc != NEBRIX_OK) return reportConfigurationError("Error setting trace flags", errortext);
  return NEBRIX_OK;
}

// The name is stored as typed: a "%p" in it is replaced by each client
// process when it opens the file. A stored name that processes cannot use
// as the user likely means it is warned about, not refused.
NEBRIX_Retcode Console::configureFileName(bool profile) {
  char errortext[512] = "";
  const NEBRIX_Retcode rc = profile
                                ? Configuration::setProfileFileName(m_user, Configuration::NEBRIX_COMPONENT, nullptr,
                                                                    m_filename, errortext, sizeof errortext)
                                : Configuration::setTraceFileName(m_user, Configuration::NEBRIX_COMPONENT, nullptr,
                                                                  m_filename, errortext, sizeof errortext);
  if (rc != NEBRIX_OK) reportConfigurationError("Error setting trace file name", errortext, "");
  if (rc == NEBRIX_OK) warnAboutFileName(profile);
  m_commandstring = std::string(profile ? "PROFILE FILENAME " : "CONFIG TRACE FILENAME ") + m_filename;
  return rc;
}

}  // namespace NEBRIX
