// The trace settings a client process follows at one update count: its own
// part's flags in the trace shared-memory file, or the user's configuration
// when it has no part or the part holds "R". A Settings object never changes
// once published, so a thread that read the pointer sees one whole set.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "trace/trace_flags.h"

namespace NEBRIX {
class TraceSharedMemory;
}

namespace NEBRIX::Client {

struct Settings {
  TraceFlags flags;
  std::string text;         // the flags as read (canonical when own settings are absent)
  bool own = false;         // the console set them for this process
  std::int32_t count = 0;   // the update count they were read for
  std::string traceFile;    // absolute, %p replaced
  bool ownFile = false;     // the name has %p: no other process writes the file
  std::string profileFile;  // absolute, %p replaced
  // How often the stop-on-error code was reported under these settings.
  mutable std::atomic<std::int32_t> errorsSeen{0};

  // The category bits of nbx_category (bit n: category n on).
  std::uint32_t categoryBits() const { return flags.m_categories; }
};

// Reads the settings for `count`. `problem` gets a text when the
// configuration could not be read; the settings are then empty (no trace).
void readSettings(TraceSharedMemory& memory, const char* component, std::int32_t count, Settings& settings,
                  std::string& problem);

// `name` with every "%p" replaced by `pid`, relative names made absolute
// against the working directory.
std::string resolveFileName(const std::string& name, long pid);

}  // namespace NEBRIX::Client
