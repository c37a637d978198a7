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
  bool shownByShowConfig;  // else only the flags string shows it there
};

// Every setting of `flags` in the order SHOW CONFIG prints its lines (short,
// debug, SQL, distribution trace, time stamp prefix, packet trace), then
// those only the flags string carries.
std::vector<FlagWords> describeTraceFlags(const TraceFlags& flags);

// "    <label>: " with the label padded, as SHOW CONFIG indents its settings.
std::string settingLinePrefix(const char* label);

}  // namespace NEBRIX
