#include "profile/user_profile.h"

#include <pwd.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <iostream>

#include "base/error_code_table.h"
#include "base/exception.h"

namespace SecureStore {
namespace UserProfile {

namespace {

[[noreturn]] void throwImpersonationRefused() {
  ltt::tThrow(ltt::exception(__FILE__, __LINE__, SecureStore__ERR_SECSTORE_USE_SUDO_FOR_IMPERSONATION()));
}

// The identity from ORQ_USE_IDENT, or null when it is unset or not valid.
const char* identityFromEnvironment() {
  const char* ident = getenv("ORQ_USE_IDENT");
  return ident_is_valid(ident) ? ident : nullptr;
}

}  // namespace

bool ident_is_valid(const char* ident) {
  if (ident == nullptr || *ident == '\0') return false;
  for (const char* p = ident; *p != '\0'; ++p) {
    if (!isalnum(static_cast<unsigned char>(*p)) && *p != '_' && *p != '-') return false;
  }
  return true;
}

void throwSysCallFailed(const char* call, int rc) {
  if (rc == 0) rc = errno;
  ltt::tThrow(ltt::exception(__FILE__, __LINE__, SecureStore__ERR_SECSTORE_SYSTEM_CALL_FAILED())
              << ltt::msgarg_text("call", call) << ltt::msgarg_sysrc(rc));
}

void checkDirectory(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) return;
    std::cout << path << std::endl;
    ltt::tThrow(ltt::exception(__FILE__, __LINE__, SecureStore__ERR_SECSTORE_DIRECTORY_UNAVAILABLE())
                << ltt::msgarg_text("dir", path.c_str()));
  }
  if (errno != ENOENT) throwSysCallFailed("stat", errno);
  if (mkdir(path.c_str(), 0700) != 0) throwSysCallFailed("mkdir", errno);
}

void getUserProfilePath(std::string& path, const std::string& virtualhost,
                        bool allowOverrideByEnvironment, bool optionWasSpecified) {
  const char* ident = allowOverrideByEnvironment ? identityFromEnvironment() : nullptr;

  errno = 0;
  const struct passwd* entry = getpwuid(geteuid());
  if (entry == nullptr) throwSysCallFailed("getpwuid", 0);

  path.clear();
  if (entry->pw_dir != nullptr) path += entry->pw_dir;
  path += "/.orq";
  checkDirectory(path);

  struct utsname names;
  if (uname(&names) != 0) throwSysCallFailed("uname", errno);
  path += "/";
  if (!optionWasSpecified && ident != nullptr) {
    path += ident;
  } else if (!virtualhost.empty()) {
    path += virtualhost;
  } else {
    path += names.nodename;
  }
  checkDirectory(path);
}

void openUserProfilePath(std::string&, const std::string&, const std::string&,
                         bool allowOverrideByEnvironment) {
  if (allowOverrideByEnvironment) identityFromEnvironment();
  throwImpersonationRefused();
}

void closeUserProfilePath(const std::string&, const std::string&, bool allowOverrideByEnvironment) {
  if (allowOverrideByEnvironment) identityFromEnvironment();
  throwImpersonationRefused();
}

void setOwner(const std::string&, const std::string&) { throwImpersonationRefused(); }

}  // namespace UserProfile
}  // namespace SecureStore
