#include "console/json_output.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <ctime>
#include <tuple>

#include "base/text_output.h"
#include "console/process_list.h"
#include "profile/console_history.h"
#include "trace/trace_flags.h"

namespace NEBRIX {

namespace {

// The length of the valid UTF-8 sequence at text[at] (RFC 3629: no overlong
// forms, no surrogates, nothing above U+10FFFF), or 0 when there is none.
size_t utf8SequenceLength(const std::string& text, size_t at) {
  const unsigned char lead = static_cast<unsigned char>(text[at]);
  if (lead < 0x80) return 1;
  size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    const unsigned char next = static_cast<unsigned char>(text[at + i]);
    if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF)) return 0;
  }
  return length;
}

std::string base64(const std::string& bytes) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t group = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 2]);
    out += kDigits[(group >> 18) & 63];
    out += kDigits[(group >> 12) & 63];
    out += i + 1 < bytes.size() ? kDigits[(group >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? kDigits[group & 63] : '=';
  }
  return out;
}

const char* counterActionName(CounterAction action) {
  switch (action) {
    case COUNTERS_RESET: return "reset";
    case COUNTERS_COLLECT: return "collect";
    default: return "none";
  }
}

// A blank-padded field of a history record without its blanks. A NUL byte
// in a damaged record is part of its field, as the text form shows it.
std::string trimmedField(const char* record, size_t offset, size_t size) {
  std::string field(record + offset, size);
  const size_t first = field.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return field.substr(first, field.find_last_not_of(' ') - first + 1);
}

// The history stamps local time without its offset. It is read in the time
// zone of this process (TZ), which is the zone the console wrote it in
// unless TZ differs between the runs; a stamp that is not a local time there
// (malformed, or in the hour skipped when the clocks go forward) gives null.
nlohmann::json isoTimeStamp(const std::string& stamp) {
  static const char kShape[] = "0000-00-00 00:00:00.000000";
  if (stamp.size() != sizeof kShape - 1) return nullptr;
  for (size_t i = 0; i < stamp.size(); ++i) {
    const bool digit = isdigit(static_cast<unsigned char>(stamp[i])) != 0;
    if (kShape[i] == '0' ? !digit : stamp[i] != kShape[i]) return nullptr;
  }
  auto number = [&stamp](size_t at, size_t length) { return std::stoi(stamp.substr(at, length)); };
  struct tm wanted = {};
  wanted.tm_year = number(0, 4) - 1900;
  wanted.tm_mon = number(5, 2) - 1;
  wanted.tm_mday = number(8, 2);
  wanted.tm_hour = number(11, 2);
  wanted.tm_min = number(14, 2);
  wanted.tm_sec = number(17, 2);
  wanted.tm_isdst = -1;
  struct tm local = wanted;
  // mktime normalizes the fields and fills tm_gmtoff: a changed field means
  // that there is no such local time.
  auto fields = [](const struct tm& t) {
    return std::make_tuple(t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  };
  if (mktime(&local) == static_cast<time_t>(-1) || fields(local) != fields(wanted)) return nullptr;
  const int offset = static_cast<int>(local.tm_gmtoff < 0 ? -local.tm_gmtoff : local.tm_gmtoff);
  const char sign = local.tm_gmtoff < 0 ? '-' : '+';
  char zone[32];
  if (offset % 60 == 0) {
    snprintf(zone, sizeof zone, "%c%02d:%02d", sign, offset / 3600, offset / 60 % 60);
  } else {  // a local mean time of old, in seconds
    snprintf(zone, sizeof zone, "%c%02d:%02d:%02d", sign, offset / 3600, offset / 60 % 60, offset % 60);
  }
  return stamp.substr(0, 10) + "T" + stamp.substr(11) + zone;
}

}  // namespace

void putText(nlohmann::json& object, const std::string& key, const std::string& bytes) {
  std::string text;
  bool valid = true;
  for (size_t at = 0; at < bytes.size();) {
    const size_t length = utf8SequenceLength(bytes, at);
    if (length == 0) {
      text += "\xEF\xBF\xBD";  // U+FFFD
      valid = false;
      ++at;
    } else {
      text.append(bytes, at, length);
      at += length;
    }
  }
  object[key] = text;
  // Many readers end a string at a NUL: its bytes are given whole beside it.
  if (!valid || bytes.find('\0') != std::string::npos) object[key + "_base64"] = base64(bytes);
}

nlohmann::json settingsJson(const TraceFlags& f) {
  nlohmann::json settings = {
      {"timestamp", f.m_timestamp},
      {"compression", f.m_compressed},
      {"packet_size", nullptr},
      {"trace_file_size", nullptr},
      {"stop_on_error", nullptr},
      {"profile_action", counterActionName(f.m_counterAction)},
  };
  for (const TraceCategoryInfo& row : kTraceCategories) settings[row.json] = f.traced(row.category);
  if (f.traced(TraceCategory::PACKET)) settings["packet_size"] = f.m_packetsize;
  if (f.m_filesize > 0) settings["trace_file_size"] = f.m_filesize;
  if (f.m_stop_on_error) {
    settings["stop_on_error"] = {{"code", f.m_errorcode}, {"count", nullptr}};
    if (f.m_errorcount != 0) settings["stop_on_error"]["count"] = f.m_errorcount;
  }
  return settings;
}

void putFlags(nlohmann::json& object, const std::string& flags) {
  putText(object, "flags", flags);
  const bool followsConfiguration = flags == kFollowConfiguration;
  object["settings"] = followsConfiguration ? nlohmann::json(nullptr) : settingsJson(TraceFlags(flags.c_str()));
}

nlohmann::json sharedMemoryHeaderJson(const TraceSharedMemory& sharedMemory) {
  return {
      {"update_count", sharedMemory.getUpdateCount()},
      {"total_size", TraceSharedMemory::getTotalSize()},
      {"parts_count", TraceSharedMemory::NUM_PARTS},
      {"version", sharedMemory.getVersion()},
  };
}

nlohmann::json partsJson(TraceSharedMemory& sharedMemory) {
  nlohmann::json parts = nlohmann::json::array();
  const TraceSharedMemory::Part* all = sharedMemory.getAllParts();
  for (int i = 0; all != nullptr && i < TraceSharedMemory::NUM_PARTS; ++i) {
    const TraceSharedMemory::Part& part = all[i];
    const int32_t pid = partProcessID(part);
    if (pid == 0) continue;
    nlohmann::json row = {{"pid", pid}, {"read_count", partReadCount(part)}};
    putFlags(row, partFlags(part));
    parts.push_back(row);
  }
  return parts;
}

nlohmann::json historyEntryJson(const char* record) {
  const std::string stamp(record, ConsoleHistory::TIMESTAMP_SIZE);
  nlohmann::json entry = {{"time", isoTimeStamp(stamp)}};
  putText(entry, "local_time", stamp);
  const std::string user = trimmedField(record, 27, 20);
  entry["user"] = nullptr;  // the calling user
  if (!user.empty()) putText(entry, "user", user);
  const std::string pid = trimmedField(record, 48, 10);
  entry["pid"] = nullptr;
  if (!pid.empty() && pid.size() <= 10 && pid.find_first_not_of("0123456789") == std::string::npos &&
      std::stoll(pid) <= INT32_MAX) {
    entry["pid"] = std::stoll(pid);
  }
  putText(entry, "action", trimmedField(record, 59, 60));
  return entry;
}

void printJson(const nlohmann::json& document) {
  Text::out << document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << Text::endl;
}

}  // namespace NEBRIX
