#include "client/settings.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "profile/configuration.h"
#include "trace/trace_shared_memory.h"

namespace NEBRIX::Client {

namespace {

// Read only: a client process never writes the user's configuration (the
// console's read would store the default, waiting for the store's lock). A
// name that cannot be read stands for the default.
std::string configuredName(const char* component, const char* key, const char* fallback) {
  char name[1024] = "";
  tsp00_ErrTextc err = "";
  RTE_IniFileResult inires = 0;
  RTE_GetUserConfigString(nullptr, "dummy", component, key, nullptr, name, sizeof name, err, inires);
  return inires == 1 && name[0] != '\0' ? name : fallback;
}

}  // namespace

std::uint32_t Settings::categoryBits() const {
  // The order of nbx_category.
  const bool on[] = {flags.m_call, flags.m_api, flags.m_debug, flags.m_distribution, flags.m_sql, flags.m_packet};
  std::uint32_t bits = 0;
  for (std::uint32_t i = 0; i < sizeof on / sizeof on[0]; ++i) {
    if (on[i]) bits |= 1u << i;
  }
  return bits;
}

std::string resolveFileName(const std::string& name, long pid) {
  std::string resolved;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (name[i] == '%' && i + 1 < name.size() && name[i + 1] == 'p') {
      resolved += std::to_string(pid);
      ++i;
    } else {
      resolved += name[i];
    }
  }
  if (resolved.empty() || resolved[0] == '/') return resolved;
  char directory[4096];
  if (::getcwd(directory, sizeof directory) == nullptr) return resolved;
  std::string absolute = directory;
  if (absolute.back() != '/') absolute += '/';
  return absolute + (resolved.compare(0, 2, "./") == 0 ? resolved.substr(2) : resolved);
}

void readSettings(TraceSharedMemory& memory, const char* component, std::int32_t count, Settings& settings,
                  std::string& problem) {
  settings.count = count;
  char errortext[512] = "";
  const char* own = memory.getMyFlags();
  if (own != nullptr && std::strcmp(own, kFollowConfiguration) != 0) {
    settings.own = true;
    settings.text = own;
  } else {
    char flags[1024] = "";
    if (Configuration::getTraceFlags(nullptr, component, nullptr, flags, sizeof flags, errortext,
                                     sizeof errortext) != NEBRIX_OK) {
      problem = std::string("The trace configuration cannot be read: ") + errortext;
      return;
    }
    settings.text = flags;
  }
  settings.flags = TraceFlags(settings.text.c_str());
  const long pid = static_cast<long>(::getpid());
  const std::string traceName = configuredName(component, "TRACEFILENAME", Configuration::DEFAULT_TRACE_FILE_NAME);
  settings.ownFile = traceName.find("%p") != std::string::npos;
  settings.traceFile = resolveFileName(traceName, pid);
  settings.profileFile =
      resolveFileName(configuredName(component, "PROFILEFILENAME", Configuration::DEFAULT_PROFILE_FILE_NAME), pid);
}

}  // namespace NEBRIX::Client
