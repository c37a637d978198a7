// Operations whose subsystems are not part of this build yet. Each reports
// that plainly and fails, so no command pretends to have done its work.
#include <iostream>

#include "console/console.h"

namespace NEBRIX {

namespace {
NEBRIX_Retcode notAvailable() {
  std::cerr << "Error: command not available in this build." << std::endl;
  return NEBRIX_NOT_OK;
}
}  // namespace

NEBRIX_Retcode Console::configTraceShort() { return notAvailable(); }
NEBRIX_Retcode Console::configTraceLong() { return notAvailable(); }
NEBRIX_Retcode Console::configTracePacket() { return notAvailable(); }
NEBRIX_Retcode Console::configTraceSQL() { return notAvailable(); }
NEBRIX_Retcode Console::configTraceTimestamp() { return notAvailable(); }
NEBRIX_Retcode Console::configTraceSize() { return notAvailable(); }
NEBRIX_Retcode Console::configTraceFilename() { return notAvailable(); }
NEBRIX_Retcode Console::configTraceStopOnError() { return notAvailable(); }
NEBRIX_Retcode Console::configTraceCompress() { return notAvailable(); }
NEBRIX_Retcode Console::configTraceApi() { return notAvailable(); }
NEBRIX_Retcode Console::configTraceDistribution() { return notAvailable(); }
NEBRIX_Retcode Console::configTraceProfile(TraceSharedMemory::ProfileAction) { return notAvailable(); }
NEBRIX_Retcode Console::configProfileFilename() { return notAvailable(); }

NEBRIX_Retcode Console::traceShort() { return notAvailable(); }
NEBRIX_Retcode Console::traceLong() { return notAvailable(); }
NEBRIX_Retcode Console::tracePacket() { return notAvailable(); }
NEBRIX_Retcode Console::traceSQL() { return notAvailable(); }
NEBRIX_Retcode Console::traceTimestamp() { return notAvailable(); }
NEBRIX_Retcode Console::traceSize() { return notAvailable(); }
NEBRIX_Retcode Console::traceRefresh() { return notAvailable(); }
NEBRIX_Retcode Console::traceOff() { return notAvailable(); }
NEBRIX_Retcode Console::traceStopOnError() { return notAvailable(); }
NEBRIX_Retcode Console::traceApi() { return notAvailable(); }
NEBRIX_Retcode Console::traceDistribution() { return notAvailable(); }
NEBRIX_Retcode Console::traceProfile(TraceSharedMemory::ProfileAction) { return notAvailable(); }

NEBRIX_Retcode Console::showConfig() { return notAvailable(); }
NEBRIX_Retcode Console::showTracesettings() { return notAvailable(); }
NEBRIX_Retcode Console::showProfile(bool) { return notAvailable(); }
NEBRIX_Retcode Console::showHistory() { return notAvailable(); }

}  // namespace NEBRIX
