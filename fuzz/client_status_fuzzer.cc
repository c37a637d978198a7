// libFuzzer target: arbitrary bytes as a client's status file, read as the
// console reads it. Besides reads past the bytes, the target checks that
// whatever is taken is what a writer could have written: formatted again it
// reads back as the same status.
#include "fuzz_target.h"
#include "trace/client_status.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  NEBRIX::ClientStatus status;
  std::string problem;
  if (!NEBRIX::parseClientStatus(bytes, status, problem)) {
    NEBRIX_FUZZ_CHECK(!problem.empty());
    return 0;
  }
  NEBRIX::ClientStatus again;
  NEBRIX_FUZZ_CHECK(NEBRIX::parseClientStatus(NEBRIX::formatClientStatus(status), again, problem));
  NEBRIX_FUZZ_CHECK(again.component == status.component && again.pid == status.pid &&
                    again.started == status.started && again.traceFile == status.traceFile &&
                    again.traceState == status.traceState && again.profileState == status.profileState);
  NEBRIX_FUZZ_CHECK(!NEBRIX::traceStateSummary(status).empty());
  return 0;
}
