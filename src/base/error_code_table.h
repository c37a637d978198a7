// Accessors for every error code of the program. Each accessor is named
// component + "__" + code name, returns the code's single static record, and
// registers that record on its first call only.
#pragma once

#include "base/error_code.h"

// X(component, name, number, message template)
#define NEBRIX_ERROR_CODE_TABLE(X)                                                              \
  X(NEBRIX, ERR_NEBRIX_INVALID_PROPKEY, 200001, "Invalid argument: key is NULL or empty")       \
  X(NEBRIX, ERR_NEBRIX_INVALID_COMMUNICATIONURI, 200100, "Invalid communication URI: $uri$")    \
  X(NEBRIX, ERR_NEBRIX_SESSION_ALREADY_CONNECTED, 200101, "Session already connected")          \
  X(NEBRIX, ERR_NEBRIX_SESSION_NOT_CONNECTED, 200102, "Session not connected")                  \
  X(NEBRIX, ERR_NEBRIX_INVALID_SESSIONID, 200103, "Session ID $sessionid$ is not valid")        \
  X(NEBRIX, ERR_NEBRIX_PROTOCOL_ERROR, 200104, "Protocol error")                                \
  X(NEBRIX, ERR_NEBRIX_TARGET_NOT_ONE_LANDSCAPE, 200105,                                        \
    "Connection targets are not in one landscape")                                              \
  X(NEBRIX, ERR_NEBRIX_PROTOCOL_ERROR_AUTHENTICATION, 200106,                                   \
    "Protocol error, invalid authentication packet")                                            \
  X(NEBRIX, ERR_NEBRIX_LOGON_CREDENTIAL_MISSING, 200107, "Missing logon credential")            \
  X(NEBRIX, ERR_NEBRIX_REPLY_TOO_LARGE, 200108, "Server reply too large")                       \
  X(NEBRIX, ERR_NEBRIX_CONNECT_TIMEOUT, 200109, "Connect timeout")                              \
  X(NEBRIX, ERR_NEBRIX_TRACESHM_CANNOT_OPEN_FILE, 200302,                                       \
    "Cannot open shared memory file $file$, rc=$sysrc$:$sysmsg$")                               \
  X(NEBRIX, ERR_NEBRIX_TRACESHM_ALREADY_ATTACHED, 200303, "Shared memory is already attached")  \
  X(NEBRIX, ERR_NEBRIX_TRACESHM_WRONG_SIZE, 200304,                                             \
    "Shared memory file $file$ has $size$ bytes instead of $expected$")                         \
  X(NEBRIX, ERR_NEBRIX_HISTORY_WRITE_FAILED, 200401,                                            \
    "Cannot write history file $file$, rc=$sysrc$:$sysmsg$")                                    \
  X(NEBRIX, ERR_NEBRIX_CONFIGURATION_BUSY, 200402,                                              \
    "Another nebrix_cons is changing the configuration in $dir$; "                              \
    "gave up after $seconds$ seconds")                                                          \
  X(NEBRIX, ERR_NEBRIX_TRANSACTION_STARTED_ON_OTHER_CONNECTION, 200501,                         \
    "Write transaction already started on other connection")                                    \
  X(NEBRIX, ERR_NEBRIX_NO_TRANSACTION_STARTED, 200502, "Expected started transaction")          \
  X(NEBRIX, ERR_NEBRIX_NO_PRIMARY_CONNECTION_SET, 200503, "No primary connection set")          \
  X(NEBRIX, ERR_NEBRIX_NO_XA_TRANSACTION_STARTED, 200504,                                       \
    "Expected started distributed transaction")                                                 \
  X(NEBRIX, ERR_NEBRIX_CONNECTION_NOT_MEMBER_OF_TRANSACTION, 200505,                            \
    "Connection $id$ is not member of distributed transaction")                                 \
  X(support, ERR_SUPPORT_INVALID_CHARACTER_ENCODING, 200901, "Invalid character encoding")      \
  X(SecureStore, ERR_SECSTORE_SYSTEM_CALL_FAILED, 91001,                                        \
    "System call '$call$' failed, rc=$sysrc$:$sysmsg$")                                         \
  X(SecureStore, ERR_SECSTORE_DIRECTORY_UNAVAILABLE, 91002,                                     \
    "File $dir$ exists and is not a directory, cannot read or store profile data")              \
  X(SecureStore, ERR_SECSTORE_INVALID_KEY, 91003, "Invalid secure store key")                   \
  X(SecureStore, ERR_SECSTORE_GETAPI_INITIALIZATION_FAILED, 91004,                              \
    "API initialization failed for read access of secure store")                                \
  X(SecureStore, ERR_SECSTORE_SECURESTORE_CALL_FAILED, 91005, "Secure store call failed: $msg$") \
  X(SecureStore, ERR_SECSTORE_MUST_BE_ADMIN, 91006, "Administrative privileges required")       \
  X(SecureStore, ERR_SECSTORE_USE_SUDO_FOR_IMPERSONATION, 91007,                                \
    "Impersonation not supported, use sudo on this platform")                                   \
  X(SecureStore, ERR_SECSTORE_RNG_FAILED, 91008, "Random number generator failed")              \
  X(SecureStore, ERR_SECSTORE_DIRECTORY_IS_LINK, 91009,                                         \
    "Profile directory $dir$ is a symbolic link; "                                              \
    "remove it or put a directory of your own in its place")                                    \
  X(SecureStore, ERR_SECSTORE_DIRECTORY_NOT_OWNED, 91010,                                       \
    "Profile directory $dir$ belongs to user id $owner$, not to you; "                          \
    "remove it or put a directory of your own in its place")                                    \
  X(SecureStore, ERR_SECSTORE_DIRECTORY_NOT_PRIVATE, 91011,                                     \
    "Profile directory $dir$ is writable by group or others; "                                  \
    "make it private with chmod 700 $dir$")                                                     \
  X(SecureStore, ERR_SECSTORE_INVALID_HOST_NAME, 91012,                                         \
    "Host name \"$host$\" cannot name a profile directory: it must be one path component, "     \
    "not empty, \".\" or \"..\" and without \"/\"")                                             \
  X(SecureStore, ERR_SECSTORE_INVALID_COMPONENT_NAME, 91013,                                    \
    "Component \"$component$\" cannot name a profile file: it must be 1 to $max$ letters, "     \
    "digits or \"_\"")                                                                          \
  X(SecureStore, ERR_SECSTORE_USER_OPTION_NEEDS_VALUE, 91101, "Option -u needs an argument")    \
  X(SecureStore, ERR_SECSTORE_UNKNOWN_OPTION, 91102, "Unknown option $option$")                 \
  X(SecureStore, ERR_SECSTORE_UNKNOWN_COMMAND, 91104, "Unknown command $command$")              \
  X(SecureStore, ERR_SECSTORE_KEY_MISSING, 91105, "Profile key missing for command $command$")  \
  X(SecureStore, ERR_SECSTORE_ENV_MISSING, 91106,                                               \
    "Connection environment argument missing for command $command$")                            \
  X(SecureStore, ERR_SECSTORE_USERNAME_MISSING, 91107,                                          \
    "Username argument missing for command $command$")                                          \
  X(SecureStore, ERR_SECSTORE_TOO_MANY_ARGUMENTS, 91108, "Too many arguments for command $command$") \
  X(SecureStore, ERR_SECSTORE_INVALID_CHAR_IN_KEY, 91109,                                       \
    "Invalid character in connection profile key $key$")                                        \
  X(SecureStore, ERR_SECSTORE_HOST_OPTION_NEEDS_VALUE, 91111, "Option -H needs an argument")    \
  X(SecureStore, ERR_SECSTORE_PASSWORD_MISSING, 91112,                                          \
    "Password argument missing for command $command$ in non-interactive mode")                  \
  X(SecureStore, ERR_SECSTORE_HOST_OPTION_INVALID_WIN32, 91113, "Option -H is invalid for Windows") \
  X(GetPassword, ERR_GETPASSWD_SYSTEM_CALL_FAILED, 91201,                                       \
    "System call '$call$' failed, rc=$sysrc$:$sysmsg$")                                         \
  X(System, ERR_SYS_MEMORYMAP_OPEN_ERR, 2050030,                                                \
    "Error open memory mapping $name$, rc=$sysrc$: $sysmsg$")                                   \
  X(System, ERR_SYS_MEMORYMAP_FLUSH_ERR, 2050032,                                               \
    "Error flush memory mapping $base$ $length$, rc=$sysrc$: $sysmsg$")                         \
  X(System, ERR_SYS_MEMORYMAP_FLUSHINVALID_ERR, 2050033,                                        \
    "Error try to flush private or not writeable memory mapping $base$ , $length$ , $flags$")

// Codes of the runtime's lower components. Nothing in this program raises
// them; they are defined so their numbers stay reserved and resolvable.
#define NEBRIX_RUNTIME_ERROR_CODE_TABLE(X)                                                      \
  X(ltt, ERR_LTT_NO_ERROR, 0, "Default constructed empty exception object")                     \
  X(ltt, ERR_LTT_BAD_ARGUMENT, 1000010, "Invalid argument")                                     \
  X(File, ERR_FILE_GENERIC_ERROR, 2000001, "File error")                                        \
  X(Synchronization, ERR_SYS_MTX_GENERIC, 2010001, "Mutex error")                               \
  X(Synchronization, ERR_SYS_MTX_INIT, 2010002, "Mutex initialization failed")                  \
  X(Synchronization, ERR_SYS_MTX_LOCK, 2010003, "Mutex lock failed")                            \
  X(Synchronization, ERR_SYS_MTX_UNLOCK, 2010004, "Mutex unlock failed")                        \
  X(Synchronization, ERR_SYS_MTX_LOCKED_BY_OTHER, 2010005, "Mutex locked by other thread")      \
  X(Synchronization, ERR_SYS_MTX_TIMEDLOCK, 2010006, "Mutex timed lock failed")                 \
  X(Synchronization, ERR_SYS_MTX_RECURSIVELOCK, 2010007, "Mutex locked recursively")            \
  X(Synchronization, ERR_SYS_SEM_GENERIC, 2010011, "Semaphore error")                           \
  X(Synchronization, ERR_SYS_SEM_INIT, 2010012, "Semaphore initialization failed")              \
  X(Synchronization, ERR_SYS_SEM_DESTROY, 2010013, "Semaphore destruction failed")              \
  X(Synchronization, ERR_SYS_SEM_WAIT, 2010014, "Semaphore wait failed")                        \
  X(Synchronization, ERR_SYS_SEM_SIGNAL, 2010015, "Semaphore signal failed")                    \
  X(Synchronization, ERR_SYS_CONDVAR_INIT, 2010016, "Condition variable initialization failed") \
  X(Synchronization, ERR_SYS_CONDVAR_DESTROY, 2010017, "Condition variable destruction failed") \
  X(Synchronization, ERR_SYS_CONDVAR_WAIT, 2010018, "Condition variable wait failed")           \
  X(Synchronization, ERR_SYS_CONDVAR_SIGNAL, 2010019, "Condition variable signal failed")       \
  X(Synchronization, ERR_MUTEX_LOCKED_UNEXPECTED, 2010025, "Mutex locked unexpectedly")         \
  X(Synchronization, ERR_RWLOCK_NOTINTEND, 2010043, "Read-write lock not in intend mode")       \
  X(Synchronization, ERR_RWLOCK_NOTEXCLUSIVE, 2010044, "Read-write lock not exclusive")         \
  X(Synchronization, ERR_RWLOCK_LOCKED_UNEXPECTED, 2010046, "Read-write lock locked unexpectedly") \
  X(Synchronization, ERR_RWLOCK_NOTENOUGH_SHARED, 2010047, "Read-write lock not enough shared") \
  X(Synchronization, ERR_RWLOCK_TOOMANY_SHARED, 2010048, "Read-write lock too many shared")     \
  X(Synchronization, ERR_SYS_RW_LOCK, 2010080, "Read-write lock failed")                        \
  X(Synchronization, ERR_SYS_RW_LOCKED_UNEXPECTED, 2010081, "Read-write lock locked unexpectedly") \
  X(Synchronization, ERR_SYS_EVENT_LOCK, 2010090, "Event lock failed")                          \
  X(Execution, ERR_EXEC_THREAD_JOIN_ERR, 2040002, "Thread join failed")                         \
  X(System, ERR_SYS_GENERIC, 2050001, "System error")                                           \
  X(Basis, ERR_BASE_CRASH, 2100002, "Crash")                                                    \
  X(Basis, ERR_BASE_CRASH_DETAIL, 2100003, "Crash details")                                     \
  X(Basis, ERR_BASE_TIMESTAMP, 2100004, "Timestamp")                                            \
  X(Diagnose, ERR_DIAGNOSE_FILE_CANNOT_OPEN, 2120002, "Cannot open trace file")                 \
  X(Diagnose, ERR_DIAGNOSE_DUP_TOPIC_ERROR, 2120003, "Duplicate trace topic")                   \
  X(Diagnose, ERR_DIAGNOSE_UNKNOWN_TRACE_LEVEL_ERROR, 2120004, "Unknown trace level")           \
  X(Diagnose, ERR_DIAGNOSE_UNKNOWN_TRACE_LEVEL_STR_ERROR, 2120005, "Unknown trace level text")  \
  X(Diagnose, ERR_DIAGNOSE_UNKNOWN_TRACE_TOPIC_ERROR, 2120006, "Unknown trace topic")

#define NEBRIX_DECLARE_ERROR_ACCESSOR(component, name, number, text) \
  const ltt::impl::ErrorCodeImpl& component##__##name();
NEBRIX_ERROR_CODE_TABLE(NEBRIX_DECLARE_ERROR_ACCESSOR)
NEBRIX_RUNTIME_ERROR_CODE_TABLE(NEBRIX_DECLARE_ERROR_ACCESSOR)
#undef NEBRIX_DECLARE_ERROR_ACCESSOR
