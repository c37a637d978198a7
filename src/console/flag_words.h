// The trace settings in words: the lines SHOW CONFIG prints for the
// configured flags, and those -v prints for what a change did.
#pragma once

#include <string>
#include <vector>

#include "trace/trace_flags.h"

namespace NEBRIX {

struct FlagWords {
  const char* label;
  std::string words;
};

// Every setting of `flags`: first the six that SHOW CONFIG shows (short,
// debug, SQL, distribution trace, time stamp prefix, packet trace), then
// those only the flags string carries.
std::vector<FlagWords> describeTraceFlags(const TraceFlags& flags);
constexpr size_t kSettingsShownByShowConfig = 6;

// "    <label>: " with the label padded, as SHOW CONFIG indents its settings.
std::string settingLinePrefix(const char* label);

}  // namespace NEBRIX
