// libFuzzer target: arbitrary bytes as a counter file, which any
// process of the user's (or anyone, in a shared directory) may have written.
// Besides crashes and reads past the input, it checks that a file that is
// accepted is exactly the text of what was read: nothing in it was ignored.
#include <string>

#include "fuzz_target.h"
#include "trace/counter_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  NEBRIX::ProcessCounters parsed{0, {}};
  if (NEBRIX::parseCounterFile(bytes, parsed)) NEBRIX_FUZZ_CHECK(NEBRIX::formatCounterFile(parsed) == bytes);
  return 0;
}
