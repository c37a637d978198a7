#include "profile/user_profile.h"

#include <pwd.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "base/error_code_table.h"
#include "base/exception.h"
#include "base/text_output.h"

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

[[noreturn]] void throwDirectoryError(const ltt::error_code& code, const std::string& path) {
  ltt::tThrow(ltt::exception(__FILE__, __LINE__, code) << ltt::msgarg_text("dir", path.c_str()));
}

// The home directory of the effective user and the name of the host.
struct Identity {
  uid_t uid = 0;
  std::string home;
  std::string nodename;
  bool known = false;
};

// Looked up once per thread and effective user: neither changes while a
// command runs, and the user database may sit behind a slow name service.
// The directories below the home are checked on every call all the same.
const Identity& ownIdentity() {
  thread_local Identity identity;
  const uid_t uid = geteuid();
  if (identity.known && identity.uid == uid) return identity;
  identity.known = false;
  errno = 0;
  const struct passwd* entry = getpwuid(uid);
  if (entry == nullptr) throwSysCallFailed("getpwuid", 0);
  identity.home = entry->pw_dir != nullptr ? entry->pw_dir : "";
  struct utsname names;
  if (uname(&names) != 0) throwSysCallFailed("uname", errno);
  identity.nodename = names.nodename;
  identity.uid = uid;
  identity.known = true;
  return identity;
}

}  // namespace

bool ident_is_valid(const char* ident) {
  if (ident == nullptr || *ident == '\0') return false;
  for (const char* p = ident; *p != '\0'; ++p) {
    if (!isalnum(static_cast<unsigned char>(*p)) && *p != '_' && *p != '-') return false;
  }
  return true;
}

bool component_is_valid(const char* component) {
  if (component == nullptr || *component == '\0') return false;
  std::size_t length = 0;
  for (const char* p = component; *p != '\0'; ++p, ++length) {
    if (length == MAX_COMPONENT_LENGTH) return false;
    if (!isalnum(static_cast<unsigned char>(*p)) && *p != '_') return false;
  }
  return true;
}

void checkComponent(const char* component) {
  if (component_is_valid(component)) return;
  ltt::tThrow(ltt::exception(__FILE__, __LINE__, SecureStore__ERR_SECSTORE_INVALID_COMPONENT_NAME())
              << ltt::msgarg_text("component", component != nullptr ? component : "")
              << ltt::msgarg_text("max", std::to_string(MAX_COMPONENT_LENGTH).c_str()));
}

void throwSysCallFailed(const char* call, int rc) {
  if (rc == 0) rc = errno;
  ltt::tThrow(ltt::exception(__FILE__, __LINE__, SecureStore__ERR_SECSTORE_SYSTEM_CALL_FAILED())
              << ltt::msgarg_text("call", call) << ltt::msgarg_sysrc(rc));
}

// A directory of the profile path is the user's alone: a link could lead
// anywhere, and a directory that someone else owns or may write into lets
// them plant or swap the files that hold the user's secrets.
// Another process may create the directory between the look and the
// mkdir; then what it made is looked at as any existing directory is.
void checkDirectory(const std::string& path) {
  struct stat info;
  if (lstat(path.c_str(), &info) != 0) {
    if (errno != ENOENT) throwSysCallFailed("stat", errno);
    if (mkdir(path.c_str(), 0700) == 0) return;
    if (errno != EEXIST) throwSysCallFailed("mkdir", errno);
    if (lstat(path.c_str(), &info) != 0) throwSysCallFailed("stat", errno);
  }
  if (S_ISLNK(info.st_mode)) throwDirectoryError(SecureStore__ERR_SECSTORE_DIRECTORY_IS_LINK(), path);
  if (!S_ISDIR(info.st_mode)) {
    Text::out << path << Text::endl;
    throwDirectoryError(SecureStore__ERR_SECSTORE_DIRECTORY_UNAVAILABLE(), path);
  }
  if (info.st_uid != geteuid()) {
    ltt::tThrow(ltt::exception(__FILE__, __LINE__, SecureStore__ERR_SECSTORE_DIRECTORY_NOT_OWNED())
                << ltt::msgarg_text("dir", path.c_str())
                << ltt::msgarg_text("owner", std::to_string(info.st_uid).c_str()));
  }
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    // The remedy names the directory too.
    ltt::tThrow(ltt::exception(__FILE__, __LINE__, SecureStore__ERR_SECSTORE_DIRECTORY_NOT_PRIVATE())
                << ltt::msgarg_text("dir", path.c_str()) << ltt::msgarg_text("dir", path.c_str()));
  }
}

void getUserProfilePath(std::string& path, const std::string& virtualhost,
                        bool allowOverrideByEnvironment, bool optionWasSpecified) {
  const char* ident = allowOverrideByEnvironment ? identityFromEnvironment() : nullptr;

  const Identity& identity = ownIdentity();
  std::string host;
  if (!optionWasSpecified && ident != nullptr) {
    host = ident;
  } else if (!virtualhost.empty()) {
    host = virtualhost;
  } else {
    host = identity.nodename;
  }
  // The host part is one directory below .orq, never a way out of it.
  if (host.empty() || host == "." || host == ".." || host.find('/') != std::string::npos) {
    ltt::tThrow(ltt::exception(__FILE__, __LINE__, SecureStore__ERR_SECSTORE_INVALID_HOST_NAME())
                << ltt::msgarg_text("host", host.c_str()));
  }

  path = identity.home;
  path += "/.orq";
  checkDirectory(path);
  path += "/" + host;
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
