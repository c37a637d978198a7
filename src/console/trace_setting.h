// One trace setting that a command changes: how it changes the parsed flags,
// and the command text recorded in the usage history. The same setting serves
// the configuration command ("CONFIG TRACE SQL ON") and the dynamic command
// for one process ("TRACE SQL ON").
#pragma once

#include <functional>
#include <string>

#include "trace/trace_categories.h"
#include "trace/trace_flags.h"

namespace NEBRIX {

struct TraceSetting {
  std::function<void(TraceFlags&)> apply;
  std::string text;        // history text of the dynamic command
  std::string configText;  // history text of the configuration step
};

// TIMESTAMP, COMPRESS: "TRACE <name> ON|OFF".
TraceSetting onOffSetting(const char* name, bool TraceFlags::*field, bool on);
// A category: "TRACE <keyword> ON|OFF". The packet size is kept only when
// the packet trace is switched on; it is not part of the text.
TraceSetting categorySetting(const TraceCategoryInfo& category, bool on, int32_t packetSize);
// -1 means unlimited; the text carries the number ("TRACE SIZE -1").
TraceSetting fileSizeSetting(int32_t size);
// The count appears in the text only when it is greater than 1.
TraceSetting stopOnErrorSetting(bool stop, int32_t code, int32_t count);
// PROFILE RESET, COLLECT ON, COLLECT OFF: the same text in both routes.
TraceSetting counterSetting(CounterAction action);

}  // namespace NEBRIX
