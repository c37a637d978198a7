// The user's persistent client configuration: a few named string values per
// user, host and component, each one plaintext record of the secure file
// store in the profile directory, under the key "ORQ/<component>/<key>".
//
// Every function sets the store up afresh (system name "ORQ", data and key
// path both the profile directory), returns NEBRIX_OK or NEBRIX_NOT_OK and
// copies a short message into `errortext` (cut to `errortextlength`, always
// terminated) on failure. No exception leaves them. Acting for another user
// is refused.
#pragma once

#include <string>

#include <cstddef>
#include <cstdint>

#include "base/retcode.h"

namespace NEBRIX {

class Configuration {
 public:
  // The component whose settings the console and the client library share;
  // also the default when a caller names none.
  static constexpr const char* NEBRIX_COMPONENT = "NEBRIX";
  // The trace file name a missing TRACEFILENAME value stands for.
  static constexpr const char* DEFAULT_TRACE_FILE_NAME = "nebrixtrace-%p.prt";
  static constexpr const char* DEFAULT_PROFILE_FILE_NAME = "nebrixprofile-%p.prt";

  // Why the last read or write of a value by this thread failed in the
  // store: the store's own text, with the system error where there is one.
  // The callers' error texts stay as they are ("error putuser"); this is
  // what a user needs to mend it. Empty when that call succeeded, found no
  // record, or failed before it reached the store (its error text then
  // says why). `locked`: another update held the store's lock, and `reason`
  // is the store's text naming the lock's user, host and time.
  // `damagedLock`: a lock file of the wrong length or content stands in the
  // way of every update; the store cannot tell whose it is.
  struct StoreFailure {
    std::string reason;
    bool locked = false;
    bool damagedLock = false;
  };
  static StoreFailure lastStoreFailure();

  // Consoles of one user exclude each other from the configuration while
  // one of them holds an UpdateLock: a change that reads a value, alters it
  // and writes it back loses no concurrent change. The first store call of
  // the holding thread locks the profile directory (flock, waiting for the
  // holder before); the last UpdateLock of the thread to end unlocks it.
  // Locks nest. Every write of a value takes one by itself. A console that
  // has waited 10 seconds gives up: that call and every later one under the
  // same lock fail with "Another nebrix_cons is changing the configuration
  // in <dir>; gave up after 10 seconds" as their error text.
  class UpdateLock {
   public:
    UpdateLock();
    ~UpdateLock();
    UpdateLock(const UpdateLock&) = delete;
    UpdateLock& operator=(const UpdateLock&) = delete;
  };

  static NEBRIX_Retcode setTraceFlags(const char* user, const char* component, const char* virtualhostname,
                                      const char* flags, char* errortext, size_t errortextlength);
  // A missing record reads as the empty string.
  static NEBRIX_Retcode getTraceFlags(const char* user, const char* component, const char* virtualhostname,
                                      char* flags, size_t length, char* errortext, size_t errortextlength);
  // A null name fails without a message; one longer than 1023 bytes fails
  // with its length and that limit in errortext.
  static NEBRIX_Retcode setTraceFileName(const char* user, const char* component,
                                         const char* virtualhostname, const char* filename,
                                         char* errortext, size_t errortextlength);
  static NEBRIX_Retcode setProfileFileName(const char* user, const char* component,
                                           const char* virtualhostname, const char* filename,
                                           char* errortext, size_t errortextlength);
  // The reads below store the default value on the first read of a missing one.
  static NEBRIX_Retcode getTraceFileName(const char* user, const char* component,
                                         const char* virtualhostname, char* filename, size_t length,
                                         char* errortext, size_t errortextlength);
  static NEBRIX_Retcode getProfileFileName(const char* user, const char* component,
                                           const char* virtualhostname, char* filename, size_t length,
                                           char* errortext, size_t errortextlength);
  // The names as stored, for a client process, which never writes the
  // configuration: a missing or unreadable name stands for its default,
  // which is not stored.
  static std::string storedTraceFileName(const char* component);
  static std::string storedProfileFileName(const char* component);
  static NEBRIX_Retcode getFullTraceFileName(const char* user, const char* component,
                                             const char* virtualhostname, char* filename, size_t length,
                                             char* errortext, size_t errortextlength);
  static NEBRIX_Retcode getFullProfileFileName(const char* user, const char* component,
                                               const char* virtualhostname, char* filename,
                                               size_t length, char* errortext, size_t errortextlength);
  static NEBRIX_Retcode getSharedMemoryName(const char* user, const char* component,
                                            const char* virtualhostname, char* filename, size_t length,
                                            char* errortext, size_t errortextlength);
  static NEBRIX_Retcode getFullSharedMemoryName(const char* user, const char* component,
                                                const char* virtualhostname, char* sharedmemoryname,
                                                size_t length, char* errortext, size_t errortextlength);
  // Makes `tmpfilename` absolute: "/..." as it is, "./..." relative to the
  // working directory; any other name fails without a message.
  static NEBRIX_Retcode getFullFileName(const char* user, const char* component,
                                        const char* virtualhostname, const char* tmpfilename,
                                        char* filename, size_t length, char* errortext,
                                        size_t errortextlength);
};

}  // namespace NEBRIX

// Result flag of the low-level functions: 1 on entry, 0 after any failure.
typedef int RTE_IniFileResult;
// Error text buffer of the low-level functions.
typedef char tsp00_ErrTextc[256];

// Stores `value` as the record ORQ/<component>/<regKey> (plaintext). The
// configuration file argument is ignored.
void RTE_PutUserConfigString(const char* user, const char* configfile, const char* component,
                             const char* regKey, const char* vhost, const char* value,
                             tsp00_ErrTextc err, RTE_IniFileResult& inires);
// Reads the record into `filename` (at most `len` - 1 bytes and a NUL; a
// longer value is cut and still succeeds).
void RTE_GetUserConfigString(const char* user, const char* configfile, const char* component,
                             const char* regKey, const char* vhost, char* filename, int32_t len,
                             tsp00_ErrTextc err, RTE_IniFileResult& inires);
