// libFuzzer target: arbitrary text as a trace flags string (TraceFlags) and
// as a size (strtosize, strtoint32).
//
// Flags strings come from the configuration and from the shared-memory
// file, both written by other programs. The canonical text is what the
// console writes back, so it must hold what was parsed:
//   - parsing the printed text gives the same settings, except the values
//     the text leaves out (the packet size while packet trace is off, the
//     error code and count while stop on error is off);
//   - printing that again gives the same text;
//   - the text fits a part of the shared-memory file (255 characters).
// The size readers get the input without a terminating NUL, so reading past
// the length they are given is an overflow.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "captured_output.h"
#include "trace/strtosize.h"
#include "trace/trace_flags.h"

namespace {

using NEBRIX::TraceFlags;
using NEBRIX::TraceSharedMemory;

// What a parsed string can hold.
void checkParsed(const TraceFlags& f) {
  NEBRIX_FUZZ_CHECK(f.m_profile == TraceSharedMemory::PROFILE_NOTSET ||
                    f.m_profile == TraceSharedMemory::PROFILE_RESET ||
                    f.m_profile == TraceSharedMemory::PROFILE_COLLECT);
  NEBRIX_FUZZ_CHECK(f.m_packetsize >= 1);
  NEBRIX_FUZZ_CHECK(f.m_filesize == -1 || f.m_filesize >= TraceFlags::MIN_FILE_SIZE);
  NEBRIX_FUZZ_CHECK(f.m_stop_on_error == (f.m_errorcode != 0));
  NEBRIX_FUZZ_CHECK(f.m_errorcount >= 0);
}

void checkSameSettings(const TraceFlags& a, const TraceFlags& b) {
  NEBRIX_FUZZ_CHECK(a.m_call == b.m_call);
  NEBRIX_FUZZ_CHECK(a.m_api == b.m_api);
  NEBRIX_FUZZ_CHECK(a.m_debug == b.m_debug);
  NEBRIX_FUZZ_CHECK(a.m_profile == b.m_profile);
  NEBRIX_FUZZ_CHECK(a.m_packet == b.m_packet);
  NEBRIX_FUZZ_CHECK(a.m_sql == b.m_sql);
  NEBRIX_FUZZ_CHECK(a.m_distribution == b.m_distribution);
  NEBRIX_FUZZ_CHECK(a.m_filesize == b.m_filesize);
  NEBRIX_FUZZ_CHECK(a.m_timestamp == b.m_timestamp);
  NEBRIX_FUZZ_CHECK(a.m_stop_on_error == b.m_stop_on_error);
  NEBRIX_FUZZ_CHECK(a.m_compressed == b.m_compressed);
  if (a.m_packet) NEBRIX_FUZZ_CHECK(a.m_packetsize == b.m_packetsize);
  if (a.m_stop_on_error) {
    NEBRIX_FUZZ_CHECK(a.m_errorcode == b.m_errorcode);
    NEBRIX_FUZZ_CHECK(a.m_errorcount == b.m_errorcount);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  const TraceFlags parsed(text.c_str());
  checkParsed(parsed);
  const std::string canonical = parsed.toString();
  NEBRIX_FUZZ_CHECK(canonical.size() <= TraceSharedMemory::FLAGS_SIZE - 1);
  const TraceFlags reparsed(canonical.c_str());
  checkSameSettings(parsed, reparsed);
  NEBRIX_FUZZ_CHECK(reparsed.toString() == canonical);

  // An exact-size copy: the readers must stop at the length they are given.
  std::unique_ptr<char[]> exact(new char[size == 0 ? 1 : size]);
  if (size > 0) memcpy(exact.get(), data, size);
  const int32_t value = NEBRIX::strtosize(exact.get(), size);
  NEBRIX_FUZZ_CHECK(value == NEBRIX::strtosize(text.c_str(), text.size()));
  for (size_t prefix = 0; prefix < size && prefix < 8; ++prefix) {
    (void)NEBRIX::strtosize(exact.get(), prefix);
  }
  (void)NEBRIX::strtoint32(text.c_str());
  return 0;
}
