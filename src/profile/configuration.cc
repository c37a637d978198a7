#include "profile/configuration.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <sstream>
#include <string>

#include "base/error_code_table.h"
#include "base/exception.h"
#include "base/exception_allocator.h"
#include "encoding/encoded_string.h"
#include "encoding/unicode_conversion.h"
#include "profile/file_lock.h"
#include "profile/user_profile.h"
#include "securestore/rsecssfs.h"

namespace {

using NEBRIX::EncodedString;
using Encoding = NEBRIX_StringEncodingType::Encoding;

// A missing record travels to the callers as this error text, not as a code:
// the low-level functions have only the text to report with, and the
// readers below tell "nothing configured" from a real failure by it.
const char* const kNotFound = "error profile not found";
constexpr size_t kNameBufferSize = 1024;

const char* componentOrDefault(const char* component) {
  return component != nullptr && *component != '\0' ? component : NEBRIX::Configuration::NEBRIX_COMPONENT;
}

// Copies `text` into a caller's buffer, cut to fit and always terminated.
void copyText(char* target, size_t size, const char* text) {
  if (target == nullptr || size == 0) return;
  strncpy(target, text, size - 1);
  target[size - 1] = '\0';
}

// Key text is taken as UTF-8 when it is valid UTF-8; any other byte sequence
// is 8-bit text and converted. The text is checked once, here, on its way in.
void appendText(EncodedString& target, const char* text) {
  const bool utf8 = support::UC::isValidText(support::UC::CHAR_ENCODING_UTF8, text, strlen(text));
  target.append(text, utf8 ? NEBRIX_StringEncodingType::UTF8 : NEBRIX_StringEncodingType::Ascii);
}

// "ORQ/<COMPONENT>/<key>" as UTF-8. The store takes only upper-case letters
// in keys, so the component is upper-cased: a component such as "Client"
// could not be stored at all otherwise.
void buildRecordKey(EncodedString& key, const char* component, const char* regKey) {
  key.append("ORQ/", NEBRIX_StringEncodingType::Ascii);
  std::string upper = component != nullptr ? component : "";
  for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  appendText(key, upper.c_str());
  key.append("/", NEBRIX_StringEncodingType::Ascii);
  appendText(key, regKey != nullptr ? regKey : "");
}

// The update lock of this thread: how many UpdateLocks it holds, and the
// descriptor of the profile directory it has locked (-1: none yet). Each
// thread opens the directory on its own, so threads exclude each other
// through flock as processes do. Once the wait has been given up, every
// further store call under the same UpdateLock fails at once.
thread_local int t_updateDepth = 0;
thread_local int t_lockedDirectory = -1;
thread_local bool t_gaveUpWaiting = false;
// Why the last store call of this thread failed.
thread_local NEBRIX::Configuration::StoreFailure t_storeFailure;

// How long a console waits for another one's change: a change takes a
// fraction of a second, so a holder that takes longer is stuck, and waiting
// on would make every console hang behind it.
constexpr int kLockWaitSeconds = 10;

[[noreturn]] void throwConfigurationBusy(const std::string& path) {
  ltt::tThrow(ltt::exception(__FILE__, __LINE__, NEBRIX__ERR_NEBRIX_CONFIGURATION_BUSY())
              << ltt::msgarg_text("dir", path.c_str())
              << ltt::msgarg_text("seconds", std::to_string(kLockWaitSeconds).c_str()));
}

// Best effort: a directory that cannot be opened or locked leaves the update
// unlocked rather than failing it. The store's own lock file still keeps
// two writes apart; what is lost is only that a read, change and write of
// one value stays whole against another console. A lock that another holds
// for too long fails the call.
void lockProfileDirectory(const std::string& path) {
  if (t_updateDepth == 0 || t_lockedDirectory >= 0) return;
  if (t_gaveUpWaiting) throwConfigurationBusy(path);
  const int descriptor = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0) return;
  const int error = NEBRIX::lockExclusiveWithin(descriptor, kLockWaitSeconds);
  if (error != 0) {
    close(descriptor);
    if (error != EWOULDBLOCK) return;
    t_gaveUpWaiting = true;
    throwConfigurationBusy(path);
  }
  t_lockedDirectory = descriptor;
}

// Points the store at the profile directory of the calling user; another
// user's profile cannot be opened and throws.
void setUpStore(const char* user, const char* vhost) {
  const std::string host = vhost != nullptr ? vhost : "";
  std::string path;
  if (user != nullptr && *user != '\0') {
    SecureStore::UserProfile::openUserProfilePath(path, user, host, false);
  } else {
    SecureStore::UserProfile::getUserProfilePath(path, host, false, false);
  }
  lockProfileDirectory(path);
  MERO_RSecSSFsSetConfiguration("ORQ", path.c_str(), path.c_str());
}

// A busy configuration is not a problem of the path: its message stands alone.
void reportException(const ltt::exception& ex, tsp00_ErrTextc err) {
  std::ostringstream text;
  auto first = ex.begin();
  if (first != ex.end()) first->expand(text);
  const std::string message = text.str();
  if (first != ex.end() && first->error_no() == NEBRIX__ERR_NEBRIX_CONFIGURATION_BUSY().number()) {
    return copyText(err, sizeof(tsp00_ErrTextc), message.c_str());
  }
  copyText(err, sizeof(tsp00_ErrTextc),
           ("profile path error: " + (message.empty() ? std::string("Unknown error (no message)") : message)).c_str());
}

void failWith(tsp00_ErrTextc err, RTE_IniFileResult& inires, const char* text) {
  copyText(err, sizeof(tsp00_ErrTextc), text);
  inires = 0;
}

// Keeps the store's reason for a failed call. A record that is not there is
// no failure: the readers store a default then.
void noteStoreResult(const RSecProcessingInfo* info) {
  if (info == nullptr) {
    t_storeFailure = {"The secure storage ran out of memory", false};
    return;
  }
  if (info->rc == RSEC_SSFS_RC_OK || info->rc == RSEC_SSFS_RC_RECORD_NOT_FOUND) return;
  // The newest message is the cause; the older ones repeat it for each
  // retry of a read, or say what led to it.
  std::string text = info->pErrorText != nullptr ? info->pErrorText : "";
  text = text.substr(0, text.find(" <-- "));
  if (text.empty()) text = "The secure storage failed with return code " + std::to_string(info->rc);
  // Damaged data and key files are reported with the same code; only the
  // lock file's messages begin so.
  const bool damagedLock = info->rc == RSEC_SSFS_RC_FILE_CORRUPTION && text.rfind("Lockfile at ", 0) == 0;
  t_storeFailure = {text, info->rc == RSEC_SSFS_RC_CONCURRENT_UPDATE, damagedLock};
}

}  // namespace

NEBRIX::Configuration::UpdateLock::UpdateLock() { ++t_updateDepth; }

NEBRIX::Configuration::UpdateLock::~UpdateLock() {
  if (--t_updateDepth != 0) return;
  t_gaveUpWaiting = false;
  if (t_lockedDirectory >= 0) {
    close(t_lockedDirectory);
    t_lockedDirectory = -1;
  }
}

void RTE_PutUserConfigString(const char* user, const char*, const char* component, const char* regKey,
                             const char* vhost, const char* value, tsp00_ErrTextc err, RTE_IniFileResult& inires) {
  inires = 1;
  t_storeFailure = {};
  try {
    EncodedString key(NEBRIX_StringEncodingType::UTF8, ltt::default_allocator());
    buildRecordKey(key, component, regKey);
    setUpStore(user, vhost);
    MERO_RSecSSFsPutRecordAPI* api = MERO_RSecSSFsPutRecordAPIGet();
    if (api == nullptr) {
      noteStoreResult(nullptr);
      return failWith(err, inires, "error putuser");
    }
    api->in_pKey = key.buffer();
    // A value (a file name) is stored byte for byte as the caller gave it:
    // the name of a file is its bytes, whatever encoding they were typed in.
    api->in_pValue = value != nullptr ? value : "";
    api->in_storePlaintext = true;
    MERO_RSecSSFsPutRecord(api);
    noteStoreResult(api->out_pProcessingInfo);
    if (api->out_pProcessingInfo == nullptr || api->out_pProcessingInfo->rc != RSEC_SSFS_RC_OK) {
      failWith(err, inires, "error putuser");
    }
    MERO_RSecSSFsPutRecordAPIRelease(api);
  } catch (const ltt::exception& ex) {
    inires = 0;
    reportException(ex, err);
  } catch (...) {
    failWith(err, inires, "profile path error: Unknown error (no message)");
  }
}

void RTE_GetUserConfigString(const char* user, const char*, const char* component, const char* regKey,
                             const char* vhost, char* filename, int32_t len, tsp00_ErrTextc err,
                             RTE_IniFileResult& inires) {
  inires = 1;
  t_storeFailure = {};
  try {
    EncodedString key(NEBRIX_StringEncodingType::UTF8, ltt::default_allocator());
    buildRecordKey(key, component, regKey);
    setUpStore(user, vhost);
    MERO_RSecSSFsGetRecordAPI* api = MERO_RSecSSFsGetRecordAPIGet();
    if (api == nullptr) {
      noteStoreResult(nullptr);
      return failWith(err, inires, "error getuser");
    }
    api->in_pKey = key.buffer();
    MERO_RSecSSFsGetRecord(api);
    noteStoreResult(api->out_pProcessingInfo);
    const RSEC_SSFS_RC rc = api->out_pProcessingInfo != nullptr ? api->out_pProcessingInfo->rc
                                                               : RSEC_SSFS_RC_LOW_MEMORY;
    if (rc == RSEC_SSFS_RC_OK && api->out_pValue != nullptr) {
      // A value longer than the buffer is cut and still counts as read; UTF-8
      // is cut between characters. Other bytes are the caller's as stored,
      // handed back byte for byte.
      const char* stored = api->out_pValue;
      if (!support::UC::isValidText(support::UC::CHAR_ENCODING_UTF8, stored, strlen(stored))) {
        copyText(filename, filename != nullptr && len > 0 ? static_cast<size_t>(len) : 0, stored);
      } else if (filename != nullptr && len > 0) {
        const EncodedString value(stored, NEBRIX_StringEncodingType::UTF8, ltt::default_allocator());
        std::int64_t written = 0;
        value.convert(filename, NEBRIX_StringEncodingType::UTF8, static_cast<size_t>(len), written, nullptr, true);
      }
    } else if (rc == RSEC_SSFS_RC_RECORD_NOT_FOUND) {
      failWith(err, inires, kNotFound);
    } else {
      failWith(err, inires, "error getuser");
    }
    MERO_RSecSSFsGetRecordAPIRelease(api);
  } catch (const ltt::exception& ex) {
    inires = 0;
    reportException(ex, err);
  } catch (...) {
    failWith(err, inires, "profile path error: Unknown error (no message)");
  }
}

namespace NEBRIX {

namespace {

// The configuration is kept in the store, never in a file of its own: the
// low-level functions ignore their file argument.
constexpr const char* kNoConfigFile = "dummy";

int32_t bufferLength(size_t length) {
  return length > static_cast<size_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(length);
}

NEBRIX_Retcode writeValue(const char* user, const char* component, const char* vhost, const char* key,
                          const char* value, char* errortext, size_t errortextlength) {
  Configuration::UpdateLock lock;
  tsp00_ErrTextc err = "";
  RTE_IniFileResult inires = 0;
  RTE_PutUserConfigString(user, kNoConfigFile, componentOrDefault(component), key, vhost, value, err, inires);
  if (inires == 1) return NEBRIX_OK;
  copyText(errortext, errortextlength, err);
  return NEBRIX_NOT_OK;
}

NEBRIX_Retcode readValue(const char* user, const char* component, const char* vhost, const char* key,
                         char* value, size_t length, char* errortext, size_t errortextlength) {
  tsp00_ErrTextc err = "";
  RTE_IniFileResult inires = 0;
  RTE_GetUserConfigString(user, kNoConfigFile, componentOrDefault(component), key, vhost, value, bufferLength(length),
                          err, inires);
  if (inires == 1) return NEBRIX_OK;
  copyText(errortext, errortextlength, err);
  return NEBRIX_NOT_OK;
}

std::string storedOrDefault(const char* component, const char* key, const char* defaultValue) {
  char value[1024] = "";
  char ignored[sizeof(tsp00_ErrTextc)] = "";
  if (readValue(nullptr, component, nullptr, key, value, sizeof value, ignored, sizeof ignored) != NEBRIX_OK ||
      value[0] == '\0') {
    return defaultValue;
  }
  return value;
}

// The first read of a missing value stores its default in the user's
// configuration and reads it back. A value that is there but cannot be read
// (a damaged record, a store left inconsistent by a broken conversion) is
// reported instead: writing the default would replace the user's setting.
NEBRIX_Retcode readWithDefault(const char* user, const char* component, const char* vhost, const char* key,
                               const char* defaultValue, char* value, size_t length, char* errortext,
                               size_t errortextlength, bool reportSecondRead) {
  if (length != 0 && value != nullptr) value[0] = '\0';
  char ignored[sizeof(tsp00_ErrTextc)] = "";
  char firstError[sizeof(tsp00_ErrTextc)] = "";
  if (readValue(user, component, vhost, key, value, length, ignored, sizeof ignored) == NEBRIX_OK) return NEBRIX_OK;
  // Another console may store the value between the read and the write of
  // the default; under the lock, the value is looked for once more.
  Configuration::UpdateLock lock;
  if (readValue(user, component, vhost, key, value, length, firstError, sizeof firstError) == NEBRIX_OK) {
    return NEBRIX_OK;
  }
  if (strcmp(firstError, kNotFound) != 0) {  // only a missing value gets its default
    copyText(errortext, errortextlength, firstError);
    return NEBRIX_NOT_OK;
  }
  if (writeValue(user, component, vhost, key, defaultValue, errortext, errortextlength) != NEBRIX_OK) {
    return NEBRIX_NOT_OK;
  }
  return reportSecondRead ? readValue(user, component, vhost, key, value, length, errortext, errortextlength)
                          : readValue(user, component, vhost, key, value, length, ignored, sizeof ignored);
}

bool fitsWithTerminator(size_t textLength, size_t bufferSize) { return textLength + 1 <= bufferSize; }

// A name must fit the readers' buffers. One that does not is refused with
// its length and the limit, so that the user knows what to shorten.
bool storableName(const char* name, char* errortext, size_t errortextlength) {
  if (name == nullptr) return false;
  const size_t length = strlen(name);
  if (fitsWithTerminator(length, kNameBufferSize)) return true;
  copyText(errortext, errortextlength,
           ("file name too long: " + std::to_string(length) + " bytes, at most " +
            std::to_string(kNameBufferSize - 1))
               .c_str());
  return false;
}

// An absolute name is copied when it fits the caller's buffer.
NEBRIX_Retcode copyAbsoluteName(const char* name, char* filename, size_t length) {
  if (name[0] != '/' || filename == nullptr || !fitsWithTerminator(strlen(name), length)) return NEBRIX_NOT_OK;
  memcpy(filename, name, strlen(name) + 1);
  return NEBRIX_OK;
}

std::string sharedMemoryDefault(const char* component) {
  const std::string name = componentOrDefault(component);
  if (name == Configuration::NEBRIX_COMPONENT) return "nebrixtrace.shm";
  std::string lower;
  for (size_t i = 0; i < name.size() && i < 118; ++i) {
    lower += static_cast<char>(tolower(static_cast<unsigned char>(name[i])));
  }
  return lower + "trace.shm";
}

}  // namespace

Configuration::StoreFailure Configuration::lastStoreFailure() { return t_storeFailure; }

NEBRIX_Retcode Configuration::setTraceFlags(const char* user, const char* component, const char* virtualhostname,
                                            const char* flags, char* errortext, size_t errortextlength) {
  return writeValue(user, component, virtualhostname, "TRACEFLAGS", flags, errortext, errortextlength);
}

NEBRIX_Retcode Configuration::getTraceFlags(const char* user, const char* component, const char* virtualhostname,
                                            char* flags, size_t length, char* errortext, size_t errortextlength) {
  // A missing record is no error: nothing is configured. It is known only
  // by its text, so the text is read whole, whatever room the caller has.
  char error[sizeof(tsp00_ErrTextc)] = "";
  if (readValue(user, component, virtualhostname, "TRACEFLAGS", flags, length, error, sizeof error) == NEBRIX_OK) {
    return NEBRIX_OK;
  }
  if (strcmp(error, kNotFound) == 0) {
    if (flags != nullptr && length != 0) flags[0] = '\0';
    return NEBRIX_OK;
  }
  copyText(errortext, errortextlength, error);
  return NEBRIX_NOT_OK;
}

NEBRIX_Retcode Configuration::setTraceFileName(const char* user, const char* component,
                                               const char* virtualhostname, const char* filename,
                                               char* errortext, size_t errortextlength) {
  if (!storableName(filename, errortext, errortextlength)) return NEBRIX_NOT_OK;
  return writeValue(user, component, virtualhostname, "TRACEFILENAME", filename, errortext, errortextlength);
}

NEBRIX_Retcode Configuration::setProfileFileName(const char* user, const char* component,
                                                 const char* virtualhostname, const char* filename,
                                                 char* errortext, size_t errortextlength) {
  if (!storableName(filename, errortext, errortextlength)) return NEBRIX_NOT_OK;
  return writeValue(user, component, virtualhostname, "PROFILEFILENAME", filename, errortext, errortextlength);
}

std::string Configuration::storedTraceFileName(const char* component) {
  return storedOrDefault(component, "TRACEFILENAME", DEFAULT_TRACE_FILE_NAME);
}

std::string Configuration::storedProfileFileName(const char* component) {
  return storedOrDefault(component, "PROFILEFILENAME", DEFAULT_PROFILE_FILE_NAME);
}

NEBRIX_Retcode Configuration::getTraceFileName(const char* user, const char* component,
                                               const char* virtualhostname, char* filename, size_t length,
                                               char* errortext, size_t errortextlength) {
  return readWithDefault(user, component, virtualhostname, "TRACEFILENAME", DEFAULT_TRACE_FILE_NAME, filename,
                         length, errortext, errortextlength, false);
}

NEBRIX_Retcode Configuration::getFullTraceFileName(const char* user, const char* component,
                                                   const char* virtualhostname, char* filename, size_t length,
                                                   char* errortext, size_t errortextlength) {
  char name[kNameBufferSize] = {};
  if (getTraceFileName(user, component, virtualhostname, name, sizeof name, errortext, errortextlength) !=
      NEBRIX_OK) {
    return NEBRIX_NOT_OK;
  }
  return getFullFileName(user, component, virtualhostname, name, filename, length, errortext, errortextlength);
}

NEBRIX_Retcode Configuration::getProfileFileName(const char* user, const char* component,
                                                 const char* virtualhostname, char* filename, size_t length,
                                                 char* errortext, size_t errortextlength) {
  return readWithDefault(user, component, virtualhostname, "PROFILEFILENAME", DEFAULT_PROFILE_FILE_NAME, filename,
                         length, errortext, errortextlength, false);
}

NEBRIX_Retcode Configuration::getFullProfileFileName(const char* user, const char* component,
                                                     const char* virtualhostname, char* filename, size_t length,
                                                     char* errortext, size_t errortextlength) {
  char name[kNameBufferSize] = {};
  if (getProfileFileName(user, component, virtualhostname, name, sizeof name, errortext, errortextlength) !=
      NEBRIX_OK) {
    return NEBRIX_NOT_OK;
  }
  return getFullFileName(user, component, virtualhostname, name, filename, length, errortext, errortextlength);
}

NEBRIX_Retcode Configuration::getSharedMemoryName(const char* user, const char* component,
                                                  const char* virtualhostname, char* filename, size_t length,
                                                  char* errortext, size_t errortextlength) {
  return readWithDefault(user, component, virtualhostname, "TRACESHAREDMEMORY",
                         sharedMemoryDefault(component).c_str(), filename, length, errortext, errortextlength, true);
}

NEBRIX_Retcode Configuration::getFullSharedMemoryName(const char* user, const char* component,
                                                      const char* virtualhostname, char* sharedmemoryname,
                                                      size_t length, char* errortext, size_t errortextlength) {
  char name[kNameBufferSize] = {};
  if (getSharedMemoryName(user, component, virtualhostname, name, sizeof name, errortext, errortextlength) !=
      NEBRIX_OK) {
    return NEBRIX_NOT_OK;
  }
  return copyAbsoluteName(name, sharedmemoryname, length);
}

NEBRIX_Retcode Configuration::getFullFileName(const char*, const char*, const char*, const char* tmpfilename,
                                              char* filename, size_t length, char*, size_t) {
  if (tmpfilename == nullptr || filename == nullptr) return NEBRIX_NOT_OK;
  if (tmpfilename[0] == '/') return copyAbsoluteName(tmpfilename, filename, length);
  if (tmpfilename[0] != '.' || (tmpfilename[1] != '/' && tmpfilename[1] != '\\')) return NEBRIX_NOT_OK;

  char directory[512];
  if (getcwd(directory, sizeof directory) == nullptr) return NEBRIX_NOT_OK;
  const size_t directoryLength = strlen(directory);
  if (directoryLength + strlen(tmpfilename) + 1 > length) return NEBRIX_NOT_OK;
  std::string name = directory;
  if (name.empty() || name.back() != '/') name += '/';
  name += tmpfilename + 2;
  memcpy(filename, name.c_str(), name.size() + 1);
  return NEBRIX_OK;
}

}  // namespace NEBRIX
