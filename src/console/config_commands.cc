// CONFIG TRACE ... and PROFILE FILENAME: changes of the user's persistent
// configuration. Running processes see them after the next refresh.

#include "console/console.h"
#include "console/trace_setting.h"
#include "profile/configuration.h"
#include "trace/trace_flags.h"

namespace NEBRIX {

TraceSetting Console::settingOf(Command command) const {
  switch (command) {
    case C_CONFIG_TRACE_SHORT: case C_TRACE_SHORT: return onOffSetting("SHORT", &TraceFlags::m_call, m_on);
    case C_CONFIG_TRACE_LONG: case C_TRACE_LONG: return onOffSetting("DEBUG", &TraceFlags::m_debug, m_on);
    case C_CONFIG_TRACE_SQL: case C_TRACE_SQL: return onOffSetting("SQL", &TraceFlags::m_sql, m_on);
    case C_CONFIG_TRACE_DISTRIBUTION: case C_TRACE_DISTRIBUTION:
      return onOffSetting("DISTRIBUTION", &TraceFlags::m_distribution, m_on);
    case C_CONFIG_TRACE_TIMESTAMP: case C_TRACE_TIMESTAMP:
      return onOffSetting("TIMESTAMP", &TraceFlags::m_timestamp, m_on);
    case C_CONFIG_TRACE_COMPRESS: return onOffSetting("COMPRESS", &TraceFlags::m_compressed, m_on);
    case C_CONFIG_TRACE_API: case C_TRACE_API: return onOffSetting("API", &TraceFlags::m_api, m_on);
    case C_CONFIG_TRACE_PACKET: case C_TRACE_PACKET: return packetSetting(m_on, m_size);
    case C_CONFIG_TRACE_SIZE: case C_TRACE_SIZE: return fileSizeSetting(m_size);
    case C_CONFIG_TRACE_STOP_ON_ERROR: case C_TRACE_STOP_ON_ERROR:
      return stopOnErrorSetting(m_stop_on_error, m_errorcode, m_errorcount);
    case C_PROFILE_RESET: return profileSetting(TraceSharedMemory::PROFILE_RESET);
    case C_PROFILE_COLLECT_ON: return profileSetting(TraceSharedMemory::PROFILE_COLLECT);
    default: return profileSetting(TraceSharedMemory::PROFILE_NOTSET);
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

NEBRIX_Retcode Console::configTraceShort() { return changeConfiguredFlags(settingOf(C_CONFIG_TRACE_SHORT)); }
NEBRIX_Retcode Console::configTraceLong() { return changeConfiguredFlags(settingOf(C_CONFIG_TRACE_LONG)); }
NEBRIX_Retcode Console::configTracePacket() { return changeConfiguredFlags(settingOf(C_CONFIG_TRACE_PACKET)); }
NEBRIX_Retcode Console::configTraceSQL() { return changeConfiguredFlags(settingOf(C_CONFIG_TRACE_SQL)); }
NEBRIX_Retcode Console::configTraceTimestamp() {
  return changeConfiguredFlags(settingOf(C_CONFIG_TRACE_TIMESTAMP));
}
NEBRIX_Retcode Console::configTraceSize() { return changeConfiguredFlags(settingOf(C_CONFIG_TRACE_SIZE)); }
NEBRIX_Retcode Console::configTraceStopOnError() {
  return changeConfiguredFlags(settingOf(C_CONFIG_TRACE_STOP_ON_ERROR));
}
NEBRIX_Retcode Console::configTraceCompress() { return changeConfiguredFlags(settingOf(C_CONFIG_TRACE_COMPRESS)); }
NEBRIX_Retcode Console::configTraceApi() { return changeConfiguredFlags(settingOf(C_CONFIG_TRACE_API)); }
NEBRIX_Retcode Console::configTraceDistribution() {
  return changeConfiguredFlags(settingOf(C_CONFIG_TRACE_DISTRIBUTION));
}
NEBRIX_Retcode Console::configTraceProfile(TraceSharedMemory::ProfileAction action) {
  return changeConfiguredFlags(profileSetting(action));
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

NEBRIX_Retcode Console::configTraceFilename() { return configureFileName(false); }
NEBRIX_Retcode Console::configProfileFilename() { return configureFileName(true); }

}  // namespace NEBRIX
