#include "trace/trace_flags.h"

#include <cstring>

#include "trace/strtosize.h"

namespace NEBRIX {

namespace {

// Reads the stop-on-error value "<code>[/<count>]". The token replaces an
// earlier one whole: its count too, when it gives none.
void parseStopOnError(TraceFlags& f, const std::string& value) {
  f.m_errorcount = 0;
  const size_t slash = value.find('/');
  f.m_errorcode = strtoint32(value.substr(0, slash).c_str());
  f.m_stop_on_error = f.m_errorcode != 0;
  if (slash != std::string::npos && f.m_stop_on_error) {
    const int32_t count = strtoint32(value.c_str() + slash + 1);
    f.m_errorcount = count < 0 ? 0 : count;
  }
}

}  // namespace

TraceFlags::TraceFlags(const char* flags) {
  if (flags == nullptr) return;
  const std::string input(flags, strnlen(flags, MAX_PARSED_LENGTH));

  size_t start = 0;
  while (start <= input.size()) {
    size_t stop = input.find(':', start);
    if (stop == std::string::npos) stop = input.size();
    const std::string token = input.substr(start, stop - start);
    start = stop + 1;
    if (token.empty()) continue;

    const std::string value = token.substr(1);
    const bool hasValue = !value.empty();
    if (const TraceCategoryInfo* row = categoryOfLetter(token[0])) {
      setTraced(row->category, true);
      if (row->category == TraceCategory::PACKET && hasValue) {
        const int32_t size = strtosize(value.c_str(), value.size());
        m_packetsize = size <= 0 ? DEFAULT_PACKET_SIZE : size;
      }
      continue;
    }
    switch (token[0]) {
      case 'T': m_timestamp = true; break;
      case 'z': m_compressed = true; break;
      case 'G':
        if (hasValue) {
          const int32_t action = strtosize(value.c_str(), value.size());
          m_counterAction = action == COUNTERS_RESET || action == COUNTERS_COLLECT ? static_cast<CounterAction>(action)
                                                                           : COUNTERS_NOTSET;
        }
        break;
      case 's':
        if (hasValue) {
          const int32_t size = strtosize(value.c_str(), value.size());
          m_filesize = (size == -1 || size >= MIN_FILE_SIZE) ? size : MIN_FILE_SIZE;
        }
        break;
      case 'e':
        parseStopOnError(*this, value);
        break;
      default:
        break;  // not a letter of the format
    }
  }
}

std::string TraceFlags::toString() const {
  std::string out;
  auto token = [&out](const std::string& t) {
    if (!out.empty()) out += ':';
    out += t;
  };
  // The packet trace comes later, with its size.
  for (const TraceCategoryInfo& row : kTraceCategories) {
    if (row.category != TraceCategory::PACKET && traced(row.category)) token(std::string(1, row.letter));
  }
  if (m_compressed) token("z");
  if (m_counterAction != COUNTERS_NOTSET) token("G" + std::to_string(m_counterAction));
  if (m_timestamp) token("T");
  if (traced(TraceCategory::PACKET)) token("p" + std::to_string(m_packetsize));
  if (m_filesize > 0) token("s" + std::to_string(m_filesize));
  if (m_stop_on_error) {
    std::string e = "e" + std::to_string(m_errorcode);
    if (m_errorcount != 0) e += "/" + std::to_string(m_errorcount);
    token(e);
  }
  return out;
}

}  // namespace NEBRIX
