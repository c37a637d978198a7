#include "trace/client_status.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <set>

namespace NEBRIX {

namespace {

const char* const kTraceStates[] = {"off", "writing", "cannot_write", "stopped"};
const char* const kProfileStates[] = {"none", "written", "cannot_write"};

bool printable(const std::string& value) {
  for (const char c : value) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
  }
  return true;
}

std::string fit(const std::string& value) {
  return value.size() <= kClientStatusMaxValue && printable(value) ? value : std::string();
}

void line(std::string& out, const char* key, const std::string& value) {
  out += key;
  out += ' ';
  out += fit(value);
  out += '\n';
}

bool toInteger(const std::string& text, long long low, long long high, long long& value) {
  if (text.empty() || text.size() > 20 || !(text[0] == '-' || (text[0] >= '0' && text[0] <= '9'))) return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtoll(text.c_str(), &end, 10);
  return errno == 0 && *end == '\0' && value >= low && value <= high;
}

bool toUnsigned(const std::string& text, std::uint64_t& value) {
  if (text.empty() || text.size() > 20 || text[0] < '0' || text[0] > '9') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long parsed = std::strtoull(text.c_str(), &end, 10);
  value = parsed;
  return errno == 0 && *end == '\0';
}

template <typename State, std::size_t N>
bool toState(const std::string& text, const char* const (&names)[N], State& state) {
  for (std::size_t i = 0; i < N; ++i) {
    if (text == names[i]) {
      state = static_cast<State>(i);
      return true;
    }
  }
  return false;
}

bool isComponent(const std::string& text) {
  if (text.empty() || text.size() > 42) return false;
  for (const char c : text) {
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) return false;
  }
  return true;
}

// An empty path is no path yet; any other must be absolute.
bool isPath(const std::string& text) { return text.empty() || text[0] == '/'; }

// Takes one line's value; false for a value that is not valid for `key`.
bool take(const std::string& key, const std::string& value, ClientStatus& status) {
  long long number = 0;
  if (key == "component") {
    status.component = value;
    return isComponent(value);
  }
  if (key == "pid") {
    if (!toInteger(value, 1, std::numeric_limits<std::int32_t>::max(), number)) return false;
    status.pid = static_cast<std::int32_t>(number);
    return true;
  }
  if (key == "started") return toUnsigned(value, status.started);
  if (key == "program") {
    status.program = value;
    return true;
  }
  if (key == "update_count") {
    if (!toInteger(value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max(),
                   number)) {
      return false;
    }
    status.updateCount = static_cast<std::int32_t>(number);
    return true;
  }
  if (key == "trace_file") {
    status.traceFile = value;
    return isPath(value);
  }
  if (key == "trace_state") return toState(value, kTraceStates, status.traceState);
  if (key == "trace_reason") {
    status.traceReason = value;
    return true;
  }
  if (key == "trace_since") {
    if (!toInteger(value, 0, std::numeric_limits<std::int64_t>::max(), number)) return false;
    status.traceSince = number;
    return true;
  }
  if (key == "trace_error") {
    if (!toInteger(value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max(),
                   number)) {
      return false;
    }
    status.traceError = static_cast<std::int32_t>(number);
    return true;
  }
  if (key == "compressed" || key == "shared") {
    if (value != "0" && value != "1") return false;
    (key == "compressed" ? status.compressed : status.shared) = value == "1";
    return true;
  }
  if (key == "profile_file") {
    status.profileFile = value;
    return isPath(value);
  }
  if (key == "profile_state") return toState(value, kProfileStates, status.profileState);
  if (key == "profile_reason") {
    status.profileReason = value;
    return true;
  }
  return true;  // a key of a later version
}

}  // namespace

bool ClientStatus::operator==(const ClientStatus& other) const {
  return component == other.component && pid == other.pid && started == other.started &&
         program == other.program && updateCount == other.updateCount && traceFile == other.traceFile &&
         traceState == other.traceState && traceReason == other.traceReason && traceSince == other.traceSince &&
         traceError == other.traceError && compressed == other.compressed && shared == other.shared &&
         profileFile == other.profileFile && profileState == other.profileState &&
         profileReason == other.profileReason;
}

std::string formatClientStatus(const ClientStatus& status) {
  std::string out = kClientStatusFirstLine;
  out += '\n';
  line(out, "component", status.component);
  line(out, "pid", std::to_string(status.pid));
  line(out, "started", std::to_string(status.started));
  line(out, "program", status.program);
  line(out, "update_count", std::to_string(status.updateCount));
  line(out, "trace_file", status.traceFile);
  line(out, "trace_state", kTraceStates[status.traceState]);
  if (status.traceState == ClientStatus::TRACE_CANNOT_WRITE) {
    line(out, "trace_reason", status.traceReason);
    line(out, "trace_since", std::to_string(status.traceSince));
  }
  if (status.traceState == ClientStatus::TRACE_STOPPED) line(out, "trace_error", std::to_string(status.traceError));
  line(out, "compressed", status.compressed ? "1" : "0");
  line(out, "shared", status.shared ? "1" : "0");
  line(out, "profile_file", status.profileFile);
  line(out, "profile_state", kProfileStates[status.profileState]);
  if (status.profileState == ClientStatus::PROFILE_CANNOT_WRITE) line(out, "profile_reason", status.profileReason);
  return out;
}

bool parseClientStatus(const std::string& bytes, ClientStatus& status, std::string& problem) {
  status = ClientStatus();
  if (bytes.size() > kClientStatusMaxSize) {
    problem = "too large";
    return false;
  }
  const std::string first = std::string(kClientStatusFirstLine) + "\n";
  if (bytes.compare(0, first.size(), first) != 0) {
    problem = "not a client status";
    return false;
  }
  std::set<std::string> seen;
  std::size_t at = first.size();
  while (at < bytes.size()) {
    const std::size_t end = bytes.find('\n', at);
    if (end == std::string::npos) {
      problem = "cut short";
      return false;
    }
    const std::string text = bytes.substr(at, end - at);
    at = end + 1;
    const std::size_t blank = text.find(' ');
    const std::string key = text.substr(0, blank);
    const std::string value = blank == std::string::npos ? std::string() : text.substr(blank + 1);
    if (blank == std::string::npos || key.empty() || !printable(text) || value.size() > kClientStatusMaxValue) {
      problem = "damaged line";
      return false;
    }
    if (!seen.insert(key).second) {
      problem = "\"" + key + "\" twice";
      return false;
    }
    if (!take(key, value, status)) {
      problem = "invalid \"" + key + "\"";
      return false;
    }
  }
  for (const char* key : {"component", "pid", "started"}) {
    if (seen.count(key) == 0) {
      problem = std::string("no \"") + key + "\"";
      return false;
    }
  }
  return true;
}

const char* traceStateText(ClientStatus::TraceState state) {
  static const char* const texts[] = {"off", "writing", "cannot write", "stopped"};
  return texts[state];
}

const char* profileStateText(ClientStatus::ProfileState state) {
  static const char* const texts[] = {"none", "written", "cannot write"};
  return texts[state];
}

std::string traceStateSummary(const ClientStatus& status) {
  switch (status.traceState) {
    case ClientStatus::TRACE_CANNOT_WRITE:
      return "cannot write: " + status.traceReason;
    case ClientStatus::TRACE_STOPPED:
      return "stopped after error " + std::to_string(status.traceError);
    default:
      return traceStateText(status.traceState);
  }
}

}  // namespace NEBRIX
