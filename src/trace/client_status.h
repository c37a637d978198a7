// What a client process tells about itself: the program, where its trace
// goes and whether it is written, its profile file, and the update count of
// the settings in force. The library writes it, the console reads it (SHOW
// PROCESSES, -v, -w, SHOW PROFILE, SHOW RECORDS).
//
// The form is text, one "<key> <value>" line each, after a first line that
// names the form and its version:
//
//   NEBRIX client status 1
//   component NEBRIX
//   pid 4711
//   started 8312455
//   program sqlite_demo
//   update_count 12
//   trace_file /home/ann/trace-4711.txt
//   trace_state writing
//   compressed 0
//   shared 0
//   profile_file /home/ann/profile-4711.prf
//   profile_state written
//
// `trace_state` is one of off, writing, cannot_write (with `trace_reason`,
// the system's text, and `trace_since`, seconds since the epoch) and stopped
// (with `trace_error`, the code that stopped it). `profile_state` is one of
// none (not written yet), written and cannot_write (with `profile_reason`).
// `shared` is 1 when the trace file's name has no %p, so that other
// processes may write the same file. `started` is the process's start time
// in clock ticks after boot (/proc/<pid>/stat), which keeps apart the files
// of two processes that had the same id.
//
// A reader takes keys it does not know as added by a later version and skips
// them; everything else is checked, as anybody who can write the file can
// put anything into it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace NEBRIX {

struct ClientStatus {
  enum TraceState { TRACE_OFF, TRACE_WRITING, TRACE_CANNOT_WRITE, TRACE_STOPPED };
  enum ProfileState { PROFILE_NONE, PROFILE_WRITTEN, PROFILE_CANNOT_WRITE };

  std::string component;
  std::int32_t pid = 0;
  std::uint64_t started = 0;
  std::string program;
  std::int32_t updateCount = 0;
  std::string traceFile;  // absolute, %p replaced; "" before any settings
  TraceState traceState = TRACE_OFF;
  std::string traceReason;      // cannot_write
  std::int64_t traceSince = 0;  // cannot_write
  std::int32_t traceError = 0;  // stopped
  bool compressed = false;
  bool shared = false;
  std::string profileFile;  // absolute, %p replaced; "" before any settings
  ProfileState profileState = PROFILE_NONE;
  std::string profileReason;  // cannot_write

  bool operator==(const ClientStatus& other) const;
  bool operator!=(const ClientStatus& other) const { return !(*this == other); }
};

constexpr const char* kClientStatusFirstLine = "NEBRIX client status 1";
// No status is longer: a reader refuses a larger file unread.
constexpr std::size_t kClientStatusMaxSize = 16384;
// The longest value of a line; a longer path is published as "".
constexpr std::size_t kClientStatusMaxValue = 4096;

// The file's bytes. Values are written as given; a value longer than
// kClientStatusMaxValue, or one holding a control character, is written as "".
std::string formatClientStatus(const ClientStatus& status);
// False, with `problem` saying why, unless `bytes` is a whole status: the
// first line, each known key at most once with a valid value, the component,
// pid and started present, and paths absolute.
bool parseClientStatus(const std::string& bytes, ClientStatus& status, std::string& problem);

// The words of the text and JSON forms: "off", "writing", "cannot write",
// "stopped"; "none", "written", "cannot write".
const char* traceStateText(ClientStatus::TraceState state);
const char* profileStateText(ClientStatus::ProfileState state);
// How SHOW PROCESSES says it: "writing", "cannot write: Permission denied",
// "stopped after error 4711", "off".
std::string traceStateSummary(const ClientStatus& status);

}  // namespace NEBRIX
