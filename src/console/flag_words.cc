// The trace settings in words, for SHOW CONFIG and for what -v reports.
#include "console/flag_words.h"

#include <algorithm>
#include <utility>

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

// The settings that are not categories, ranked among the categories' SHOW
// ranks (trace/trace_categories.h).
constexpr int kTimestampRank = 50;
constexpr int kCompressionRank = 120;
constexpr int kFileSizeRank = 130;
constexpr int kStopOnErrorRank = 140;
constexpr int kProfileRank = 150;
constexpr int kShowConfigRanks = 100;  // the ranks SHOW CONFIG prints

std::vector<FlagWords> describeTraceFlags(const TraceFlags& f) {
  std::vector<std::pair<int, FlagWords>> ranked = {
      {kTimestampRank, {"Time stamp prefix", enabled(f.m_timestamp), true}},
      {kCompressionRank, {"Compression", enabled(f.m_compressed), false}},
      {kFileSizeRank, {"Trace file size", f.m_filesize < 0 ? "unlimited" : std::to_string(f.m_filesize) + " bytes", false}},
      {kStopOnErrorRank, {"Stop on error", stopOnErrorWords(f), false}},
      {kProfileRank,
       {"Profile",
        f.m_counterAction == COUNTERS_RESET     ? "reset"
        : f.m_counterAction == COUNTERS_COLLECT ? "collect"
                                         : "not set",
        false}},
  };
  for (const TraceCategoryInfo& row : kTraceCategories) {
    std::string words = enabled(f.traced(row.category));
    if (row.category == TraceCategory::PACKET && f.traced(row.category)) {
      words += ", size limit is " + std::to_string(f.m_packetsize);
    }
    ranked.push_back({row.showRank, {row.label, words, row.showRank < kShowConfigRanks}});
  }
  std::stable_sort(ranked.begin(), ranked.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<FlagWords> lines;
  for (auto& [rank, line] : ranked) lines.push_back(std::move(line));
  return lines;
}

std::string settingLinePrefix(const char* label) {
  std::string prefix = std::string("    ") + label;
  prefix.resize(4 + 19, ' ');
  return prefix + ": ";
}

}  // namespace NEBRIX
