// The calling process's id and whether another process still exists.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace System {

// The platform's process id, a signed 32-bit number; 0 is never a process.
using ProcessID = pid_t;
static_assert(sizeof(ProcessID) == sizeof(std::int32_t), "process ids are stored in 32 bits");

struct ProcessInformation {
  static ProcessID getProcessID() noexcept;
};

// True only when `pid` names no process any more: signal 0 fails with ESRCH,
// or the process has exited and waits to be reaped by its parent (a zombie
// still answers signal 0, but will never read or acknowledge anything). A
// process we may not signal (EPERM) exists, so it counts as alive; 0 is
// never dead. A negative number is no process at all (kill would read it as
// a process group), so it counts as dead.
bool isProcessDead(ProcessID pid) noexcept;

// The fields of /proc/<pid>/stat from the state on, read into `text`; null
// with errno set when the process cannot be looked at.
const char* processStatFields(ProcessID pid, char* text, std::size_t size) noexcept;

}  // namespace System
