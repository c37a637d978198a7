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
#include <memory>
#include <tuple>

#include "fuzz_target.h"
#include "trace/strtosize.h"
#include "trace/trace_flags.h"

namespace {

using NEBRIX::TraceFlags;
using NEBRIX::TraceSharedMemory;

// The settings a canonical text keeps.
auto settings(const TraceFlags& f) {
  return std::make_tuple(f.m_call, f.m_api, f.m_debug, f.m_profile, f.m_packet, f.m_sql, f.m_distribution, f.m_filesize,
                         f.m_timestamp, f.m_stop_on_error, f.m_compressed, f.m_packet ? f.m_packetsize : 0,
                         f.m_stop_on_error ? f.m_errorcode : 0, f.m_stop_on_error ? f.m_errorcount : 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  // What a parsed string can hold.
  const TraceFlags parsed(text.c_str());
  NEBRIX_FUZZ_CHECK(parsed.m_profile == TraceSharedMemory::PROFILE_NOTSET ||
                    parsed.m_profile == TraceSharedMemory::PROFILE_RESET ||
                    parsed.m_profile == TraceSharedMemory::PROFILE_COLLECT);
  NEBRIX_FUZZ_CHECK(parsed.m_packetsize >= 1 && parsed.m_errorcount >= 0);
  NEBRIX_FUZZ_CHECK(parsed.m_filesize == -1 || parsed.m_filesize >= TraceFlags::MIN_FILE_SIZE);
  NEBRIX_FUZZ_CHECK(parsed.m_stop_on_error == (parsed.m_errorcode != 0));

  const std::string canonical = parsed.toString();
  NEBRIX_FUZZ_CHECK(canonical.size() <= TraceSharedMemory::FLAGS_SIZE - 1);
  const TraceFlags reparsed(canonical.c_str());
  NEBRIX_FUZZ_CHECK(settings(reparsed) == settings(parsed));
  NEBRIX_FUZZ_CHECK(reparsed.toString() == canonical);

  // An exact-size copy: the readers must stop at the length they are given.
  std::unique_ptr<char[]> exact(new char[size == 0 ? 1 : size]);
  if (size > 0) memcpy(exact.get(), data, size);
  NEBRIX_FUZZ_CHECK(NEBRIX::strtosize(exact.get(), size) == NEBRIX::strtosize(text.c_str(), text.size()));
  for (size_t prefix = 0; prefix < size && prefix < 8; ++prefix) (void)NEBRIX::strtosize(exact.get(), prefix);
  (void)NEBRIX::strtoint32(text.c_str());
  return 0;
}
