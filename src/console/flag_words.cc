#include "console/flag_words.h"

namespace NEBRIX {

namespace {

std::string enabled(bool on) { return on ? "enabled" : "disabled"; }

std::string stopOnErrorWords(const TraceFlags& f) {
  if (!f.m_stop_on_error) return "disabled";
  std::string words = "after error " + std::to_string(f.m_errorcode);
  if (f.m_errorcount > 1) words += ", " + std::to_string(f.m_errorcount) + " times";
  return words;
}

}  // namespace

std::vector<FlagWords> describeTraceFlags(const TraceFlags& f) {
  return {
      {"Short trace", enabled(f.m_call)},
      {"Debug trace", enabled(f.m_debug)},
      {"SQL trace", enabled(f.m_sql)},
      {"Distribution trace", enabled(f.m_distribution)},
      {"Time stamp prefix", enabled(f.m_timestamp)},
      {"Packet trace", f.m_packet ? "enabled, size limit is " + std::to_string(f.m_packetsize) : "disabled"},
      {"API trace", enabled(f.m_api)},
      {"Compression", enabled(f.m_compressed)},
      {"Trace file size", f.m_filesize < 0 ? "unlimited" : std::to_string(f.m_filesize) + " bytes"},
      {"Stop on error", stopOnErrorWords(f)},
      {"Profile", f.m_profile == PROFILE_RESET     ? "reset"
                  : f.m_profile == PROFILE_COLLECT ? "collect"
                                                   : "not set"},
  };
}

std::string settingLinePrefix(const char* label) {
  std::string prefix = std::string("    ") + label;
  prefix.resize(4 + 19, ' ');
  return prefix + ": ";
}

}  // namespace NEBRIX
