// The secure file store: an encrypted, integrity-protected key/value record
// store kept in a data file (SSFS_<system>.DAT), with a key file
// (SSFS_<system>.KEY), a lock file that exists exactly while an update runs
// (SSFS_<system>.LCK) and the backup files of a conversion (.DA_, .KE_).
//
// Every operation works on a call record: the Get function allocates it, the
// caller fills the in_ fields, the operation fills the out_ fields and
// out_pProcessingInfo, and the Release function frees the record and all it
// owns (values are overwritten with zeros first). Nothing is thrown; look at
// out_pProcessingInfo->rc first, its pErrorText holds the call's error
// messages, newest first, joined by " <-- ".
//
//   MERO_RSecSSFsSetConfiguration("ORQ", dir, dir);
//   MERO_RSecSSFsGetRecordAPI* api = MERO_RSecSSFsGetRecordAPIGet();
//   api->in_pKey = "ORQ/NEBRIX/TRACEFLAGS";
//   MERO_RSecSSFsGetRecord(api);
//   if (api->out_pProcessingInfo->rc == RSEC_SSFS_RC_OK) use(api->out_pValue);
//   MERO_RSecSSFsGetRecordAPIRelease(api);
//
// The store keeps process-wide state (configuration, trace, allocator flags)
// and is used from one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>

enum RSEC_SSFS_RC : int32_t {
  RSEC_SSFS_RC_OK = 0,
  RSEC_SSFS_RC_RECORD_NOT_FOUND = 1,      // no active record, no data file, or a deletion found nothing
  RSEC_SSFS_RC_VALUE_TOO_LONG = 2,        // a value exceeds its length limit
  RSEC_SSFS_RC_CONCURRENT_UPDATE = 3,     // another update holds the lock
  RSEC_SSFS_RC_RECORD_KEY_FORMAT = -1,    // key too long, bad character or no namespace prefix
  RSEC_SSFS_RC_ENVIRONMENT = -2,          // the configuration is incomplete
  RSEC_SSFS_RC_NO_WRITE_PERMISSION = -3,  // a file cannot be created, written or removed
  RSEC_SSFS_RC_UTF8_CONVERSION = -4,
  RSEC_SSFS_RC_INCORRECT_KEY = -5,    // no available key decrypts a record
  RSEC_SSFS_RC_FILE_CORRUPTION = -6,  // bad file content or checksum, a data or key file that is there but
                                      // cannot be opened or read, or a leftover backup file
  RSEC_SSFS_RC_VAULTADM_USAGE = -7,   // forced removal of a lock that does not exist
  RSEC_SSFS_RC_SEE_TRACE_FILE = -8,   // the random-number source failed
  RSEC_SSFS_RC_LOW_MEMORY = -9,
};

// The result of a call. A call that ran out of memory gets one static record
// with rc -9 and a fixed text; rsecssfs_ProcessingInfoFree leaves it alone.
struct RSecProcessingInfo {
  RSEC_SSFS_RC rc;
  char* pErrorText;  // null or NUL-terminated
};

void rsecssfs_ProcessingInfoFree(RSecProcessingInfo* processingInfo);

// When and by whom a record, key file or lock file was written: seconds since
// the epoch as a big-endian signed 64-bit number, user and host as UTF-8,
// blank-padded, without terminator.
struct rsecssfsEnvironmentInfo {
  unsigned char timestampBytes[8];
  unsigned char usernameUTF8[24];
  unsigned char hostnameUTF8[24];
};
static_assert(sizeof(rsecssfsEnvironmentInfo) == 56, "environment information is 56 bytes");

// Which key opened an encrypted record.
enum rsecssfsKeySource {
  RSECSSFS_KEYSOURCE_FILE = 1,
  RSECSSFS_KEYSOURCE_DEFAULT = 2,
  RSECSSFS_KEYSOURCE_EXPLICIT = 3,
};

enum TraceLevel {
  RSECSSFS_TRCERR = 0,  // error: also becomes part of the call's error text
  RSECSSFS_TRC1 = 1,
  RSECSSFS_TRC2 = 2,
  RSECSSFS_TRC3 = 3,            // most detailed, with hex dumps
  RSECSSFS_TRC2_RETURNED = -2,  // a condition returned as result; level 2, and error text
};

// Receives every message up to maxLevel as "RSecSSFs: <message> [<file> <line>]".
// A null function switches the trace off.
typedef void (*RSecSSFsTraceFunction)(int level, const char* text);
void RSecSSFsSetTraceCallback(RSecSSFsTraceFunction traceFunction, int maxLevel);

// ---- Configuration ----

// Selects the files of every following call: <datapath>/SSFS_<system>.DAT,
// .DA_ and .LCK, <keypath>/SSFS_<system>.KEY and .KE_. None may be null. Once
// set, the environment (VXRSYSTEMNAME, RSEC_SSFS_DATAPATH, RSEC_SSFS_KEYPATH)
// is no longer consulted.
void MERO_RSecSSFsSetConfiguration(const char* pVXRSYSTEMNAME, const char* pDatapath, const char* pKeypath);

// From now on, every file the store creates (data, key, lock and backup
// files, and the new files of a conversion or compaction) is given to the
// owner and group of the directory it is created in, instead of staying the
// process's user's. For an administrator who works on another user's store
// for that user; changing a file's owner needs the privilege to do so, and
// a file that cannot be given away fails the call as one that cannot be
// created.
void RSecSSFsGiveNewFilesToDirectoryOwner(bool enable);

// Stops the reading of environment variables for the rest of the process.
void rsecssfs_disableEnvironmentEvaluation();

// Identification text of the store module.
const char* getRSecSSFsVersion();

// The node name, cut to bufferLen - 1 characters and NUL-terminated. 0 on
// success, 1 when it cannot be determined.
int MERO_NiMyHostName(char* buffer, size_t bufferLen);

// ---- Reading a record ----

struct rsecssfsGetRecordOpaqueAPI {
  bool in_noRepeatForCorruptFile;                 // no retries after RC -6
  rsecssfsEnvironmentInfo* out_pEnvironmentInfo;  // copy of the record's
  rsecssfsKeySource out_keySource;                // 2 for plaintext records
};

struct MERO_RSecSSFsGetRecordAPI {
  const char* in_pKey;
  RSecProcessingInfo* out_pProcessingInfo;
  char* out_pValue;  // character value, NUL-terminated
  bool out_isStoredAsPlaintext;
  rsecssfsGetRecordOpaqueAPI* internalOpaque;
  bool out_isBinary;
  unsigned char* out_pValueX;  // binary value
  size_t out_pValueXLen;
};

MERO_RSecSSFsGetRecordAPI* MERO_RSecSSFsGetRecordAPIGet();
void MERO_RSecSSFsGetRecordAPIRelease(MERO_RSecSSFsGetRecordAPI* api);
// rc 0 with the value, 1 when there is no such record.
void MERO_RSecSSFsGetRecord(MERO_RSecSSFsGetRecordAPI* api);

// ---- Writing or deleting a record ----

struct rsecssfsPutRecordOpaqueAPI {
  bool in_forgetLockRemoval;  // leave the lock file in place afterwards
};

struct MERO_RSecSSFsPutRecordAPI {
  const char* in_pKey;
  const char* in_pValue;   // null: delete (when in_isBinary is false)
  bool in_storePlaintext;  // false: encrypt
  RSecProcessingInfo* out_pProcessingInfo;
  rsecssfsPutRecordOpaqueAPI* internalOpaque;
  bool in_isBinary;
  const unsigned char* in_pValueX;  // null: delete (when in_isBinary is true)
  size_t in_pValueXLen;
  // The key an encrypted value was stored under: the key file's, or the
  // built-in default key (RSECSSFS_KEYSOURCE_DEFAULT), which protects
  // nothing. 0 for a plaintext value, a deletion and a failure.
  rsecssfsKeySource out_keySource;
};

MERO_RSecSSFsPutRecordAPI* MERO_RSecSSFsPutRecordAPIGet();
// Does not touch the caller's input values.
void MERO_RSecSSFsPutRecordAPIRelease(MERO_RSecSSFsPutRecordAPI* api);
void MERO_RSecSSFsPutRecord(MERO_RSecSSFsPutRecordAPI* api);

// ---- Listing the records ----

enum RSecSSFsListRecordStatus {
  RSEC_SSFS_RECORD_STATUS_OK_TEXT_PLAIN = 1,
  RSEC_SSFS_RECORD_STATUS_OK_TEXT_ENCRYPTED = 2,
  RSEC_SSFS_RECORD_STATUS_OK_BINARY_PLAIN = 3,
  RSEC_SSFS_RECORD_STATUS_OK_BINARY_ENCRYPTED = 4,
  RSEC_SSFS_RECORD_STATUS_WRONG_KEY = 5,
  RSEC_SSFS_RECORD_STATUS_ERROR = 6,
};

struct RSecSSFsListRecordLine {
  char* pKey;
  RSecSSFsListRecordStatus status;
  int64_t lastUpdated;  // seconds since the epoch
};

struct RSecSSFsListRecordsAPI {
  RSecProcessingInfo* out_pProcessingInfo;
  char* out_pDatafile;
  char* out_pKeyfile;
  size_t out_numberActiveRecords;
  size_t out_numberDeletedRecords;
  RSecSSFsListRecordLine* out_pRecords;  // one line per active record, in file order
  // The key encrypted records are read with: the key file's, or the built-in
  // default key (RSECSSFS_KEYSOURCE_DEFAULT) when there is no key file or an
  // empty one. A key file that cannot be read fails the listing.
  rsecssfsKeySource out_keySource;
};

RSecSSFsListRecordsAPI* RSecSSFsListRecordsAPIGet();
void RSecSSFsListRecordsAPIRelease(RSecSSFsListRecordsAPI* api);
void RSecSSFsListRecords(RSecSSFsListRecordsAPI* api);

// ---- Forced removal of the lock ----

struct RSecSSFsRemoveLockAPI {
  RSecProcessingInfo* out_pProcessingInfo;
};

RSecSSFsRemoveLockAPI* RSecSSFsRemoveLockAPIGet();
void RSecSSFsRemoveLockAPIRelease(RSecSSFsRemoveLockAPI* api);
// rc 0 when a lock was removed, -7 when the store was not locked.
void RSecSSFsRemoveLock(RSecSSFsRemoveLockAPI* api);

// ---- Conversion of the whole store ----

// Re-encrypts every readable encrypted record, with in_pNewKey when given
// (which then becomes the key file's key) or with the current key, and drops
// deleted records. Records only in_pOldKey opens are migrated. The data file
// and, with a new key, the key file are backed up first; the backups are
// removed after complete success only.
struct RSecSSFsConvertAPI {
  const unsigned char* in_pOldKey;  // 24 bytes or null
  const unsigned char* in_pNewKey;  // 24 bytes or null
  RSecProcessingInfo* out_pProcessingInfo;
  int out_numberRecordsPlain;
  int out_numberRecordsSecureReadable;
  int out_numberRecordsSecureNotReadable;  // copied unchanged
};

RSecSSFsConvertAPI* RSecSSFsConvertAPIGet();
void RSecSSFsConvertAPIRelease(RSecSSFsConvertAPI* api);
void RSecSSFsConvert(RSecSSFsConvertAPI* api);

// ---- Compaction of the data file ----

// Drops the deleted records: the active ones are copied unchanged, byte for
// byte, to a new data file that takes the old one's place in one rename.
// Writers do the same on their own once deleted records make up more than
// three quarters of a data file above 64 KiB. Refused, like every update,
// while the lock or conversion backups exist. Without a data file 0 and no
// file.
struct RSecSSFsCompactAPI {
  RSecProcessingInfo* out_pProcessingInfo;
  int64_t out_sizeBefore;  // bytes
  int64_t out_sizeAfter;
  size_t out_recordsBefore;  // active and deleted
  size_t out_activeRecords;  // before and after: the records after
};

RSecSSFsCompactAPI* RSecSSFsCompactAPIGet();
void RSecSSFsCompactAPIRelease(RSecSSFsCompactAPI* api);
void RSecSSFsCompact(RSecSSFsCompactAPI* api);
