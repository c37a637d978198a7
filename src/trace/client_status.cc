#include "trace/client_status.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace NEBRIX {

namespace {

const char* const kTraceStates[] = {"off", "writing", "cannot_write", "stopped"};
const char* const kProfileStates[] = {"none", "written", "cannot_write"};

bool printable(const char* text, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    if (static_cast<unsigned char>(text[i]) < 0x20 || text[i] == 0x7f) return false;
  }
  return true;
}

std::string fit(const std::string& value) {
  return value.size() <= kClientStatusMaxValue && printable(value.data(), value.size()) ? value : std::string();
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

enum Key {
  COMPONENT, PID, STARTED, PROGRAM, UPDATE_COUNT, TRACE_FILE, TRACE_STATE, TRACE_REASON, TRACE_SINCE,
  TRACE_ERROR, COMPRESSED, SHARED, PROFILE_FILE, PROFILE_STATE, PROFILE_REASON, KEYS
};
const char* const kKeys[KEYS] = {"component",   "pid",         "started",      "program",       "update_count",
                                 "trace_file",  "trace_state", "trace_reason", "trace_since",   "trace_error",
                                 "compressed",  "shared",      "profile_file", "profile_state", "profile_reason"};

// KEYS for a key of a later version.
Key keyOf(const char* text, std::size_t length) {
  for (int key = 0; key < KEYS; ++key) {
    if (std::strlen(kKeys[key]) == length && std::memcmp(kKeys[key], text, length) == 0) return static_cast<Key>(key);
  }
  return KEYS;
}

bool toInt32(const std::string& text, std::int32_t low, std::int32_t& value) {
  long long number = 0;
  if (!toInteger(text, low, std::numeric_limits<std::int32_t>::max(), number)) return false;
  value = static_cast<std::int32_t>(number);
  return true;
}

// Takes one line's value; false for a value that is not valid for `key`.
bool take(Key key, const std::string& value, ClientStatus& status) {
  long long number = 0;
  switch (key) {
    case COMPONENT:
      status.component = value;
      return isComponent(value);
    case PID:
      return toInt32(value, 1, status.pid);
    case STARTED:
      return toUnsigned(value, status.started);
    case PROGRAM:
      status.program = value;
      return true;
    case UPDATE_COUNT:
      return toInt32(value, std::numeric_limits<std::int32_t>::min(), status.updateCount);
    case TRACE_FILE:
      status.traceFile = value;
      return isPath(value);
    case TRACE_STATE:
      return toState(value, kTraceStates, status.traceState);
    case TRACE_REASON:
      status.traceReason = value;
      return true;
    case TRACE_SINCE:
      if (!toInteger(value, 0, std::numeric_limits<std::int64_t>::max(), number)) return false;
      status.traceSince = number;
      return true;
    case TRACE_ERROR:
      return toInt32(value, std::numeric_limits<std::int32_t>::min(), status.traceError);
    case COMPRESSED:
    case SHARED:
      if (value != "0" && value != "1") return false;
      (key == COMPRESSED ? status.compressed : status.shared) = value == "1";
      return true;
    case PROFILE_FILE:
      status.profileFile = value;
      return isPath(value);
    case PROFILE_STATE:
      return toState(value, kProfileStates, status.profileState);
    case PROFILE_REASON:
      status.profileReason = value;
      return true;
    default:
      return true;  // a key of a later version
  }
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
  std::uint32_t seen = 0;
  std::size_t at = first.size();
  while (at < bytes.size()) {
    const std::size_t end = bytes.find('\n', at);
    if (end == std::string::npos) {
      problem = "cut short";
      return false;
    }
    const std::size_t blank = bytes.find(' ', at);
    if (blank >= end || blank == at || end - blank - 1 > kClientStatusMaxValue ||
        !printable(bytes.data() + at, end - at)) {
      problem = "damaged line";
      return false;
    }
    const Key key = keyOf(bytes.data() + at, blank - at);
    const std::string value = bytes.substr(blank + 1, end - blank - 1);
    at = end + 1;
    if (key == KEYS) continue;
    if ((seen & (1u << key)) != 0) {
      problem = std::string("\"") + kKeys[key] + "\" twice";
      return false;
    }
    seen |= 1u << key;
    if (!take(key, value, status)) {
      problem = std::string("invalid \"") + kKeys[key] + "\"";
      return false;
    }
  }
  for (const Key key : {COMPONENT, PID, STARTED}) {
    if ((seen & (1u << key)) == 0) {
      problem = std::string("no \"") + kKeys[key] + "\"";
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
