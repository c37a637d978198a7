// The trace shared-memory file through which the console changes the trace
// settings of running client processes.
#pragma once

namespace NEBRIX {

class TraceSharedMemory {
 public:
  // Profile counter action a process is asked to take; carried inside the
  // trace flags string as "G" and the number.
  enum ProfileAction : int {
    PROFILE_NOTSET = 0,
    PROFILE_RESET = 1,
    PROFILE_COLLECT = 2,
  };
};

}  // namespace NEBRIX
