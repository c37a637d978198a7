// libFuzzer target: arbitrary bytes as the 256-byte flags field of a part of
// the trace shared-memory file (or of the configuration record), read as a
// client reads it: at most 255 characters, up to a NUL if there is one. The
// input fills the field from its start; a shorter one is repeated, so that a
// field without any NUL is as likely as one with.
//
// Besides reads past the field, the target checks the rules of the flags
// text: the canonical text of what was read fits a field, reads back as the
// same settings and prints as itself, and a token of it written after the
// text wins over whatever the text said for that setting.
#include <memory>
#include <tuple>

#include "fuzz_target.h"
#include "trace/trace_flags.h"

namespace {

using NEBRIX::TraceFlags;
constexpr size_t kFieldSize = 256;

auto settings(const TraceFlags& f) {
  return std::make_tuple(f.m_categories, f.m_counterAction,
                         f.m_packetsize, f.m_filesize, f.m_timestamp, f.m_stop_on_error, f.m_errorcode,
                         f.m_errorcount, f.m_compressed);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A heap block of exactly the field's size, so that a read past it faults.
  std::unique_ptr<char[]> field(new char[kFieldSize]());
  for (size_t i = 0; size > 0 && i < kFieldSize; ++i) field[i] = static_cast<char>(data[i % size]);
  field[kFieldSize - 1] = '\0';  // as the client terminates its part before reading
  const TraceFlags read(field.get());
  const std::string canonical = read.toString();
  NEBRIX_FUZZ_CHECK(canonical.size() < kFieldSize && canonical.find('\0') == std::string::npos);
  const TraceFlags again(canonical.c_str());
  NEBRIX_FUZZ_CHECK(settings(again) == settings(read) && again.toString() == canonical);
  const std::string text(field.get());
  const TraceFlags later((text + ":" + canonical).c_str());
  NEBRIX_FUZZ_CHECK(settings(later) == settings(read));
  return 0;
}
