// The user profile directory: everything the console keeps for a user lives
// in <home>/.orq/<host>, where <home> comes from the user database and <host>
// is a virtual host name or the machine's node name. Both levels are created
// with mode 0700 when missing; existing ones must be real directories (not
// links) that the effective user owns and that neither group nor others may
// write. Acting for another user is refused.
#pragma once

#include <cstddef>
#include <string>

namespace SecureStore {
namespace UserProfile {

// Replaces `path` with the profile directory of the effective user (no
// trailing "/"), creating missing levels. The identity in ORQ_USE_IDENT
// replaces the host part only when `allowOverrideByEnvironment` is set and
// `optionWasSpecified` is not; otherwise a non-empty `virtualhost` does.
// A host part that is not one ordinary path component (empty, ".", ".." or
// with a "/") throws ERR_SECSTORE_INVALID_HOST_NAME before any directory is
// made. Throws ltt::exception.
void getUserProfilePath(std::string& path, const std::string& virtualhost,
                        bool allowOverrideByEnvironment, bool optionWasSpecified);

// The profile directory of another user. Impersonation is not supported:
// always throws ERR_SECSTORE_USE_SUDO_FOR_IMPERSONATION.
void openUserProfilePath(std::string& path, const std::string& user, const std::string& virtualhost,
                         bool allowOverrideByEnvironment);
// Counterpart of openUserProfilePath; always throws the same error.
void closeUserProfilePath(const std::string& user, const std::string& virtualhost,
                          bool allowOverrideByEnvironment);
// Would hand a file to another account; always throws the same error.
void setOwner(const std::string& path, const std::string& account);

// An identity is non-empty and made of letters, digits, "_" and "-" only.
bool ident_is_valid(const char* ident);

// A component names files of the profile directory (<component>.shm,
// <component>.his) and the configuration records ORQ/<COMPONENT>/<key>, so
// it is a plain name that both can hold: 1 to MAX_COMPONENT_LENGTH letters,
// digits and "_". Never a path: no "/", never "." or "..". The bound lets the
// longest record key, ORQ/<COMPONENT>/TRACESHAREDMEMORY, fit the store's 64.
constexpr std::size_t MAX_COMPONENT_LENGTH = 42;
bool component_is_valid(const char* component);
// Throws ERR_SECSTORE_INVALID_COMPONENT_NAME for a component that is not
// valid; callers check before they make any directory or file.
void checkComponent(const char* component);
// Makes sure `path` is a directory, creating it with mode 0700 when missing.
// A path that exists as something else is printed on standard output before
// ERR_SECSTORE_DIRECTORY_UNAVAILABLE is thrown. A symbolic link, a directory
// of another owner and one that group or others may write are refused with
// ERR_SECSTORE_DIRECTORY_IS_LINK, _NOT_OWNED and _NOT_PRIVATE.
void checkDirectory(const std::string& path);
// Throws ERR_SECSTORE_SYSTEM_CALL_FAILED for `call`; an `rc` of 0 is replaced
// by the current system error number.
[[noreturn]] void throwSysCallFailed(const char* call, int rc);

}  // namespace UserProfile
}  // namespace SecureStore
