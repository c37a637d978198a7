#include "commands.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <iomanip>
#include <iostream>
#include <memory>
#include <string>

#include "crypto/secure_wipe.h"
#include "hex_key.h"
#include "secret_text.h"
#include "securestore/rsecssfs.h"

namespace {

// The store limits plaintext values to 32768 characters; a little more is
// read so that its own message reports a value that is too long.
constexpr size_t kValueFileCapacity = 65536;

const char kOldKeyPrompt[] = "Old key (48 hexadecimal digits): ";
const char kNewKeyPrompt[] = "New key (48 hexadecimal digits): ";
// Without a key file the store encrypts with a key that every copy of it
// has: such a value is only encoded, and the user should know.
const char kBuiltinKeyRisk[] =
    "which is public: encrypted records are not protected. Run \"vaultadm rekey\" to encrypt the store with a key "
    "of your own.";

// A call record of the store, released with its Release function.
template <class Api>
using CallRecord = std::unique_ptr<Api, void (*)(Api*)>;

int fail(const std::string& message) {
  std::cerr << "Error: " << message << std::endl;
  return kExitFailure;
}

int outOfMemory() { return fail("Out of memory."); }

bool succeeded(const RSecProcessingInfo* info) { return info != nullptr && info->rc == RSEC_SSFS_RC_OK; }

// The messages of a failed store call, newest first.
int reportStoreFailure(const RSecProcessingInfo* info) {
  if (info == nullptr) return outOfMemory();
  if (info->pErrorText != nullptr && info->pErrorText[0] != '\0') return fail(info->pErrorText);
  return fail("The secure storage failed with return code " + std::to_string(info->rc) + ".");
}

int g_outputError = 0;  // of the first write to standard output that failed

// Secrets go straight to the descriptor, so that no stream buffer keeps a
// copy of them.
void writeSecret(const char* data, size_t length) {
  std::cout.flush();
  while (length > 0) {
    const ssize_t written = write(STDOUT_FILENO, data, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      if (g_outputError == 0) g_outputError = written < 0 ? errno : EIO;
      return;
    }
    data += written;
    length -= static_cast<size_t>(written);
  }
}

const char* statusWord(RSecSSFsListRecordStatus status) {
  switch (status) {
    case RSEC_SSFS_RECORD_STATUS_OK_TEXT_PLAIN:
      return "plaintext";
    case RSEC_SSFS_RECORD_STATUS_OK_TEXT_ENCRYPTED:
      return "encrypted";
    case RSEC_SSFS_RECORD_STATUS_OK_BINARY_PLAIN:
      return "plaintext binary";
    case RSEC_SSFS_RECORD_STATUS_OK_BINARY_ENCRYPTED:
      return "encrypted binary";
    case RSEC_SSFS_RECORD_STATUS_WRONG_KEY:
      return "wrong key";
    default:
      return "unreadable";
  }
}

std::string utcTime(int64_t seconds) {
  const auto t = static_cast<time_t>(seconds);
  struct tm utc;
  char text[64];
  if (gmtime_r(&t, &utc) == nullptr || strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &utc) == 0) {
    return std::to_string(seconds);
  }
  return text;
}

int listRecords() {
  CallRecord<RSecSSFsListRecordsAPI> api(RSecSSFsListRecordsAPIGet(), RSecSSFsListRecordsAPIRelease);
  if (api == nullptr) return outOfMemory();
  RSecSSFsListRecords(api.get());
  if (!succeeded(api->out_pProcessingInfo)) return reportStoreFailure(api->out_pProcessingInfo);

  std::cout << "Data file: " << api->out_pDatafile << "\n"
            << "Key file:  " << api->out_pKeyfile << "\n";
  if (api->out_keySource == RSECSSFS_KEYSOURCE_DEFAULT) {
    std::cout << "Key:       built-in default key (no key file, or an empty one), " << kBuiltinKeyRisk << "\n";
  }
  if (api->out_numberActiveRecords > 0) {
    size_t keyWidth = 3;
    for (size_t i = 0; i < api->out_numberActiveRecords; ++i) {
      keyWidth = std::max(keyWidth, strlen(api->out_pRecords[i].pKey));
    }
    std::cout << "\n" << std::left << std::setw(static_cast<int>(keyWidth)) << "Key" << "  " << std::setw(16)
              << "Status" << "  Last update (UTC)\n";
    for (size_t i = 0; i < api->out_numberActiveRecords; ++i) {
      const RSecSSFsListRecordLine& record = api->out_pRecords[i];
      std::cout << std::setw(static_cast<int>(keyWidth)) << record.pKey << "  " << std::setw(16)
                << statusWord(record.status) << "  " << utcTime(record.lastUpdated) << "\n";
    }
  }
  std::cout << "\nActive records:  " << api->out_numberActiveRecords << "\n"
            << "Deleted records: " << api->out_numberDeletedRecords << std::endl;
  return kExitSuccess;
}

int getRecord(const std::string& key) {
  CallRecord<MERO_RSecSSFsGetRecordAPI> api(MERO_RSecSSFsGetRecordAPIGet(), MERO_RSecSSFsGetRecordAPIRelease);
  if (api == nullptr) return outOfMemory();
  api->in_pKey = key.c_str();
  MERO_RSecSSFsGetRecord(api.get());
  if (!succeeded(api->out_pProcessingInfo)) return reportStoreFailure(api->out_pProcessingInfo);

  if (api->out_isBinary) {
    // Binary values are shown as hexadecimal digits, two per byte.
    static const char digits[] = "0123456789abcdef";
    char pair[2];
    for (size_t i = 0; i < api->out_pValueXLen; ++i) {
      pair[0] = digits[api->out_pValueX[i] >> 4];
      pair[1] = digits[api->out_pValueX[i] & 0x0F];
      writeSecret(pair, sizeof pair);
    }
    secureWipe(pair, sizeof pair);
  } else if (api->out_pValue != nullptr) {
    writeSecret(api->out_pValue, strlen(api->out_pValue));
  }
  writeSecret("\n", 1);
  return kExitSuccess;
}

// Stores `value`, or deletes the record when it is null.
int putRecord(const std::string& key, const char* value, bool plaintext) {
  CallRecord<MERO_RSecSSFsPutRecordAPI> api(MERO_RSecSSFsPutRecordAPIGet(), MERO_RSecSSFsPutRecordAPIRelease);
  if (api == nullptr) return outOfMemory();
  api->in_pKey = key.c_str();
  api->in_pValue = value;
  api->in_storePlaintext = plaintext;
  MERO_RSecSSFsPutRecord(api.get());
  if (!succeeded(api->out_pProcessingInfo)) return reportStoreFailure(api->out_pProcessingInfo);
  if (api->out_keySource == RSECSSFS_KEYSOURCE_DEFAULT) {
    std::cerr << "Warning: The value was stored under the built-in default key, " << kBuiltinKeyRisk << std::endl;
  }
  return kExitSuccess;
}

int putFromFile(const CommandLine& line) {
  SecretText value(kValueFileCapacity);
  std::string error;
  if (!value.read(line.valueFile, "value", "Value: ", error)) return fail(error);
  value.dropFinalLineEnd();
  if (strlen(value.data()) != value.size()) {
    return fail("The value in " + describeSource(line.valueFile) + " contains a NUL byte; values are text.");
  }
  return putRecord(line.recordKey, value.data(), line.plaintext);
}

int removeLock() {
  CallRecord<RSecSSFsRemoveLockAPI> api(RSecSSFsRemoveLockAPIGet(), RSecSSFsRemoveLockAPIRelease);
  if (api == nullptr) return outOfMemory();
  RSecSSFsRemoveLock(api.get());
  const RSecProcessingInfo* info = api->out_pProcessingInfo;
  if (!succeeded(info)) return reportStoreFailure(info);
  // The store reports whose lock it found before it removed it.
  std::cout << "The lock has been removed";
  if (info->pErrorText != nullptr && info->pErrorText[0] != '\0') std::cout << " (" << info->pErrorText << ")";
  std::cout << "." << std::endl;
  return kExitSuccess;
}

int compact() {
  CallRecord<RSecSSFsCompactAPI> api(RSecSSFsCompactAPIGet(), RSecSSFsCompactAPIRelease);
  if (api == nullptr) return outOfMemory();
  RSecSSFsCompact(api.get());
  if (!succeeded(api->out_pProcessingInfo)) return reportStoreFailure(api->out_pProcessingInfo);
  const size_t active = api->out_activeRecords;
  std::cout << "Before: " << api->out_sizeBefore << " bytes, " << api->out_recordsBefore << " records (" << active
            << " active, " << api->out_recordsBefore - active << " deleted)\n"
            << "After:  " << api->out_sizeAfter << " bytes, " << active << " records (" << active
            << " active, 0 deleted)" << std::endl;
  return kExitSuccess;
}

void printNewKey(const StoreKey& key) {
  char hex[kStoreKeyDigits + 1];
  key.toHex(hex);
  writeSecret("New key: ", 9);
  writeSecret(hex, kStoreKeyDigits);
  secureWipe(hex, sizeof hex);
  const char note[] =
      "\nKeep this key in a safe place. The key file holds it; if the key file is lost, only\n"
      "this key opens the records again (vaultadm migrate --old-key-file FILE|-).\n";
  writeSecret(note, sizeof note - 1);
}

int convert(const StoreKey* oldKey, const StoreKey* newKey, bool printGeneratedKey) {
  CallRecord<RSecSSFsConvertAPI> api(RSecSSFsConvertAPIGet(), RSecSSFsConvertAPIRelease);
  if (api == nullptr) return outOfMemory();
  api->in_pOldKey = oldKey != nullptr ? oldKey->bytes() : nullptr;
  api->in_pNewKey = newKey != nullptr ? newKey->bytes() : nullptr;
  RSecSSFsConvert(api.get());
  if (!succeeded(api->out_pProcessingInfo)) return reportStoreFailure(api->out_pProcessingInfo);

  std::cout << "Converted " << api->out_numberRecordsPlain << " plaintext and "
            << api->out_numberRecordsSecureReadable << " encrypted records; deleted records were dropped."
            << std::endl;
  if (printGeneratedKey) printNewKey(*newKey);
  if (api->out_numberRecordsSecureNotReadable == 0) return kExitSuccess;
  // The store names each of them in its messages.
  const char* details = api->out_pProcessingInfo->pErrorText;
  std::cerr << "Warning: " << api->out_numberRecordsSecureNotReadable
            << " encrypted records could not be opened with any key and were kept unchanged; "
               "\"vaultadm list\" shows them with the status \"wrong key\"."
            << (details != nullptr && details[0] != '\0' ? std::string(" ") + details : std::string())
            << std::endl;
  return kExitRecordsUnreadable;
}

int migrate(const CommandLine& line) {
  StoreKey oldKey;
  std::string error;
  if (!oldKey.read(line.oldKeyFile, kOldKeyPrompt, error)) return fail(error);
  return convert(&oldKey, nullptr, false);
}

int rekey(const CommandLine& line) {
  StoreKey oldKey;
  StoreKey newKey;
  std::string error;
  if (!line.oldKeyFile.empty() && !oldKey.read(line.oldKeyFile, kOldKeyPrompt, error)) return fail(error);
  const bool generated = line.newKeyFile.empty();
  if (generated ? !newKey.generate(error) : !newKey.read(line.newKeyFile, kNewKeyPrompt, error)) return fail(error);
  if (newKey.isZero()) {
    return fail("A key of 24 zero bytes is the store's built-in default key and protects nothing; "
                "choose another one.");
  }
  return convert(line.oldKeyFile.empty() ? nullptr : &oldKey, &newKey, generated);
}

}  // namespace

int lostOutputError() { return g_outputError; }

int runCommand(const CommandLine& line) {
  switch (line.command) {
    case Command::List:
      return listRecords();
    case Command::Get:
      return getRecord(line.recordKey);
    case Command::Put:
      return line.valueFile.empty() ? putRecord(line.recordKey, line.value.c_str(), line.plaintext)
                                    : putFromFile(line);
    case Command::Delete:
      return putRecord(line.recordKey, nullptr, false);
    case Command::Unlock:
      return removeLock();
    case Command::Compact:
      return compact();
    case Command::Migrate:
      return migrate(line);
    case Command::Rekey:
      return rekey(line);
    case Command::Help:
      break;
  }
  std::cout << usageText();
  return kExitSuccess;
}
