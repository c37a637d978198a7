#include "client/settings.h"

#include <unistd.h>

#include <cstring>

#include "profile/configuration.h"
#include "trace/trace_shared_memory.h"

namespace NEBRIX::Client {

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
  const std::string traceName = Configuration::storedTraceFileName(component);
  settings.ownFile = traceName.find("%p") != std::string::npos;
  settings.traceFile = resolveFileName(traceName, pid);
  settings.profileFile = resolveFileName(Configuration::storedProfileFileName(component), pid);
}

}  // namespace NEBRIX::Client
