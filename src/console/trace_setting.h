// One trace setting that a command changes: how it changes the parsed flags,
// and the command text recorded in the usage history. The same setting serves
// the configuration command ("CONFIG TRACE SQL ON") and the dynamic command
// for one process ("TRACE SQL ON").
#pragma once

#include <functional>
#include <string>

#include "trace/trace_flags.h"

namespace NEBRIX {

struct TraceSetting {
  std::function<void(TraceFlags&)> apply;
  std::string text;        // history text of the dynamic command
  std::string configText;  // history text of the configuration step
};

// SHORT, DEBUG, SQL, DISTRIBUTION, TIMESTAMP, COMPRESS, API: "TRACE <name> ON|OFF".
TraceSetting onOffSetting(const char* name, bool TraceFlags::*field, bool on);
// The size is kept only when switching on; it is not part of the text.
TraceSetting packetSetting(bool on, int32_t size);
// -1 means unlimited; the text carries the number ("TRACE SIZE -1").
TraceSetting fileSizeSetting(int32_t size);
// The count appears in the text only when it is greater than 1.
TraceSetting stopOnErrorSetting(bool stop, int32_t code, int32_t count);
// PROFILE RESET, COLLECT ON, COLLECT OFF: the same text in both routes.
TraceSetting profileSetting(ProfileAction action);

}  // namespace NEBRIX
