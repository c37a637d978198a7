#include "securestore/environment_info.h"

#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstring>
#include <ctime>

#include "securestore/byte_fields.h"

namespace {

constexpr char kUnknown[] = "<Determination failed>";

}  // namespace

int MERO_NiMyHostName(char* buffer, size_t bufferLen) {
  if (buffer == nullptr || bufferLen == 0) return 1;
  struct utsname names;
  if (uname(&names) != 0) {
    buffer[0] = '\0';
    return 1;
  }
  const size_t length = strnlen(names.nodename, bufferLen - 1);
  std::memcpy(buffer, names.nodename, length);
  buffer[length] = '\0';
  return 0;
}

void rsecssfs_getEnvironmentInfo(rsecssfsEnvironmentInfo* info) {
  EncodeFixed64BE(info->timestampBytes, static_cast<uint64_t>(static_cast<int64_t>(std::time(nullptr))));

  char host[sizeof info->hostnameUTF8];
  WriteBlankPadded(info->hostnameUTF8, sizeof info->hostnameUTF8,
                   MERO_NiMyHostName(host, sizeof host) == 0 ? host : kUnknown);

  // The user database may have no entry for the real user id.
  const struct passwd* entry = getpwuid(getuid());
  WriteBlankPadded(info->usernameUTF8, sizeof info->usernameUTF8,
                   entry != nullptr && entry->pw_name != nullptr ? entry->pw_name : kUnknown);
}
