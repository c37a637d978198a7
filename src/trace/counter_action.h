// What a client process is asked to do with its counters (PROFILE RESET,
// PROFILE COLLECT ON|OFF). It travels inside the trace flags string as "G"
// and the number, so its values are part of that format.
#pragma once

namespace NEBRIX {

enum CounterAction : int {
  COUNTERS_NOTSET = 0,
  COUNTERS_RESET = 1,
  COUNTERS_COLLECT = 2,
};

}  // namespace NEBRIX
