#include "console/console.h"

#include <string>

#include "base/text_output.h"
#include "profile/configuration.h"

namespace NEBRIX {

// The short text of the first line ("error putuser") cannot tell a full disk
// from a read-only directory; the store's own reason on a second line can.
// A lock file that blocks every update needs a remedy that the store's text
// does not name: "vaultadm unlock" for a lock left by another update; a
// damaged one, which that refuses since it cannot tell whose it is, goes by
// hand.
NEBRIX_Retcode reportConfigurationError(const char* what, const char* errortext, const char* end) {
  Text::err << what << " (" << errortext << ")" << end << Text::endl;
  const Configuration::StoreFailure failure = Configuration::lastStoreFailure();
  if (failure.locked) {
    Text::err << failure.reason
              << ". When no nebrix_cons or vaultadm is running, remove the lock with \"vaultadm unlock\"."
              << Text::endl;
  } else if (failure.damagedLock) {
    Text::err << failure.reason
              << ". When no nebrix_cons or vaultadm is running, delete that file by hand; \"vaultadm unlock\" "
                 "removes only a lock that names its holder."
              << Text::endl;
  } else if (!failure.reason.empty()) {
    Text::err << failure.reason << Text::endl;
  }
  return NEBRIX_NOT_OK;
}

bool Console::isChangingCommand(Command command) {
  return command >= C_CONFIG_TRACE_SHORT && command <= C_PROFILE_FILENAME &&
         command != C_CONFIG_TRACE_PROFILE && command != C_TRACE_PROFILE && command != C_TRACE_COMPRESS;
}

bool Console::isShowCommand(Command command) {
  return (command >= C_SHOW_CONFIG && command <= C_SHOW_HISTORY) || command == C_SHOW_PROCESSES ||
         command == C_SHOW_RECORDS;
}

bool Console::isDynamicCommand(Command command) {
  return command >= C_TRACE_SHORT && command <= C_PROFILE_COLLECT_OFF && isChangingCommand(command);
}

NEBRIX_Retcode Console::run() {
  if (m_command < C_NONE || (m_command > C_SHOW_HISTORY && !isShowCommand(m_command))) return NEBRIX_NOT_OK;
  if (m_command == C_NONE) {
    Text::err << "Error: No command given, use the -h option for an overview \n"
                 "on commands and options."
              << Text::endl;
    return NEBRIX_NOT_OK;
  }
  if (m_command == C_HELP) {
    help(Text::out);
    return NEBRIX_OK;
  }
  if (isChangingCommand(m_command)) m_modification = true;
  const bool report = m_verbose && m_modification;
  const std::string before = report ? currentSetting() : "";
  const NEBRIX_Retcode rc = runOperation();
  if (rc != NEBRIX_OK) return rc;
  if (m_modification) logAction();
  // The change stays, and is reported, whether or not it was acknowledged.
  // A -p process that cannot take it up has not acknowledged it.
  const bool targetMissing = changesOneProcess() && !warnAboutTargetProcess();
  NEBRIX_Retcode waited = m_waitpresent ? awaitAcknowledgement() : NEBRIX_OK;
  if (targetMissing && m_waitpresent) {
    m_notacknowledged = true;
    waited = NEBRIX_NOT_OK;
  }
  if (report) reportChange(before, currentSetting());
  return waited;
}

NEBRIX_Retcode Console::runOperation() {
  if (m_command == C_SHOW_RECORDS) return showRecords();  // its JSON too
  if (m_output == OUTPUT_JSON) return showJson();  // the parser let it through with SHOW only
  switch (m_command) {
    case C_CONFIG_TRACE_SHORT: return configTraceShort();
    case C_CONFIG_TRACE_LONG: return configTraceLong();
    case C_CONFIG_TRACE_PACKET: return configTracePacket();
    case C_CONFIG_TRACE_SQL: return configTraceSQL();
    case C_CONFIG_TRACE_TIMESTAMP: return configTraceTimestamp();
    case C_CONFIG_TRACE_SIZE: return configTraceSize();
    case C_CONFIG_TRACE_FILENAME: return configTraceFilename();
    case C_CONFIG_TRACE_STOP_ON_ERROR: return configTraceStopOnError();
    case C_CONFIG_TRACE_COMPRESS: return configTraceCompress();
    case C_CONFIG_TRACE_API: return configTraceApi();
    case C_CONFIG_TRACE_DISTRIBUTION: return configTraceDistribution();
    case C_TRACE_SHORT: return traceShort();
    case C_TRACE_LONG: return traceLong();
    case C_TRACE_PACKET: return tracePacket();
    case C_TRACE_SQL: return traceSQL();
    case C_TRACE_TIMESTAMP: return traceTimestamp();
    case C_TRACE_SIZE: return traceSize();
    case C_TRACE_REFRESH: return traceRefresh();
    case C_TRACE_OFF: return traceOff();
    case C_TRACE_STOP_ON_ERROR: return traceStopOnError();
    case C_TRACE_API: return traceApi();
    case C_TRACE_DISTRIBUTION: return traceDistribution();
    case C_PROFILE_RESET: return traceProfile(TraceSharedMemory::PROFILE_RESET);
    case C_PROFILE_COLLECT_ON: return traceProfile(TraceSharedMemory::PROFILE_COLLECT);
    case C_PROFILE_COLLECT_OFF: return traceProfile(TraceSharedMemory::PROFILE_NOTSET);
    case C_PROFILE_FILENAME: return configProfileFilename();
    case C_SHOW_CONFIG: return showConfig();
    case C_SHOW_TRACESETTINGS: return showTracesettings();
    case C_SHOW_PROFILE: return showProfile(false);
    case C_SHOW_PROFILE_DETAIL: return showProfile(true);
    case C_SHOW_ALL: {
      const NEBRIX_Retcode rc = showConfig();
      return rc == NEBRIX_OK ? showTracesettings() : rc;
    }
    case C_SHOW_HISTORY: return showHistory();
    case C_SHOW_PROCESSES: return showProcesses();
    default: return NEBRIX_NOT_OK;  // a code without an operation
  }
}

}  // namespace NEBRIX
