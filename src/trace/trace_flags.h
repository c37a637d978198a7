// The trace flags string: one set of trace settings as a short text of tokens
// separated by ":" ("c:a:p2048:s1000000:e-100/3"), and its parsed form.
//
// Tokens, each one letter with an optional value written directly after it:
//   the letter of a trace category (trace_categories.h: c, A, d, D, a, p)
//                          that category on; "p<size>" also limits traced
//                          packets to <size> bytes (1000)
//   z  compressed output   T  time stamp prefix
//   G<n>  counter action (1 reset, 2 collect)
//   s<size>    trace file limited to <size> bytes (at least 8192)
//   e<code>[/<count>]  stop tracing after error <code> happened <count> times
// Letters are case-sensitive; unknown tokens are ignored; later tokens win.
// The empty string means no trace at all. Client processes read this text from
// the configuration and from their part of the trace shared-memory file.
#pragma once

#include <cstdint>
#include <string>

#include "trace/counter_action.h"
#include "trace/trace_categories.h"

namespace NEBRIX {

struct TraceFlags {
  TraceFlags() = default;
  // Parses `flags` (NUL-terminated, may be null). Never fails: whatever does
  // not fit the format is ignored, and values are corrected to their limits.
  explicit TraceFlags(const char* flags);

  // The canonical text of the settings, tokens in a fixed order.
  std::string toString() const;

  bool traced(TraceCategory category) const { return (m_categories & categoryBit(category)) != 0; }
  void setTraced(TraceCategory category, bool on) {
    m_categories = on ? m_categories | categoryBit(category) : m_categories & ~categoryBit(category);
  }

  uint32_t m_categories = 0;  // categoryBit of each category traced
  CounterAction m_counterAction = COUNTERS_NOTSET;
  int32_t m_packetsize = DEFAULT_PACKET_SIZE;
  int32_t m_filesize = -1;  // -1: unlimited
  bool m_timestamp = false;
  bool m_stop_on_error = false;
  int32_t m_errorcode = 0;
  int32_t m_errorcount = 0;  // 0: not given
  bool m_compressed = false;

  static constexpr int32_t DEFAULT_PACKET_SIZE = 1000;
  static constexpr int32_t MIN_FILE_SIZE = 8192;
  // Longer input is cut to this many characters before it is parsed.
  static constexpr size_t MAX_PARSED_LENGTH = 4095;
};

}  // namespace NEBRIX
