// The profile counter action a client process is asked to take. It travels
// inside the trace flags string as "G" and the number, so its values are
// part of that format.
#pragma once

namespace NEBRIX {

enum ProfileAction : int {
  PROFILE_NOTSET = 0,
  PROFILE_RESET = 1,
  PROFILE_COLLECT = 2,
};

}  // namespace NEBRIX
