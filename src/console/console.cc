// Running one parsed command: the steps every command shares (the history
// entry, -v, -w) around the operation the command stands for.
#include "console/console.h"

#include <string>

#include "base/text_output.h"
#include "console/trace_setting.h"

namespace NEBRIX {

NEBRIX_Retcode Console::run() {
  if (m_command.route == Route::NONE) {
    Text::err << "Error: No command given, use the -h option for an overview \n"
                 "on commands and options."
              << Text::endl;
    return NEBRIX_NOT_OK;
  }
  if (m_command.route == Route::HELP) {
    help(Text::out);
    return NEBRIX_OK;
  }
  if (m_command.changes()) m_modification = true;
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
  switch (m_command.route) {
    case Route::SHOW: return runShow();
    case Route::CONFIG:
      if (m_command.action == Action::FILE_NAME) return configureFileName(false);
      return changeConfiguredFlags(settingOf(m_command));
    case Route::TRACE:
      if (m_command.action == Action::REFRESH) return traceRefresh();
      if (m_command.action == Action::OFF) return traceOff();
      return changeTraceSetting(settingOf(m_command));
    case Route::PROFILE:
      if (m_command.action == Action::FILE_NAME) return configureFileName(true);
      return changeTraceSetting(settingOf(m_command));
    default: return reportUnknownCommand();
  }
}

NEBRIX_Retcode Console::runShow() {
  if (m_command.action == Action::SHOW_RECORDS) return showRecords();  // its JSON too
  if (m_output == OUTPUT_JSON) return showJson();
  switch (m_command.action) {
    case Action::SHOW_CONFIG: return showConfig();
    case Action::SHOW_TRACESETTINGS: return showTracesettings();
    case Action::SHOW_PROFILE: return showProfile(false);
    case Action::SHOW_PROFILE_DETAILS: return showProfile(true);
    case Action::SHOW_ALL: {
      const NEBRIX_Retcode rc = showConfig();
      return rc == NEBRIX_OK ? showTracesettings() : rc;
    }
    case Action::SHOW_HISTORY: return showHistory();
    case Action::SHOW_PROCESSES: return showProcesses();
    case Action::SHOW_TRACEFILE: return NEBRIX_NOT_OK;  // nothing to show, and nothing said
    default: return reportUnknownCommand();
  }
}

NEBRIX_Retcode Console::reportUnknownCommand() const {
  Text::err << "Error: Internal error: no operation for command " << static_cast<int>(m_command.route) << "/"
            << static_cast<int>(m_command.action) << "; please report this." << Text::endl;
  return NEBRIX_NOT_OK;
}

}  // namespace NEBRIX
