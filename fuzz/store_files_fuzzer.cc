// libFuzzer target: arbitrary bytes as the store's data, key and lock files,
// read with GetRecord and ListRecords, compacted on demand and written with
// PutRecord. The input is split as: 1 byte key file length, 1 byte lock
// file length (255: no lock file), the key file, the lock file, the rest as
// data file. What it looks for are crashes and sanitizer reports: every
// byte of these files may come from someone else.
#include "fuzz_target.h"
#include "securestore/get_record.h"
#include "securestore/rsecssfs.h"

namespace {

const std::string& storeDirectory() {
  static const std::string directory = [] {
    char pattern[] = "/tmp/nebrix-store-fuzz-XXXXXX";
    const std::string made = mkdtemp(pattern);
    rsecssfs_setRetryPauseMillisecondsForTesting(0);
    MERO_RSecSSFsSetConfiguration("ORQ", made.c_str(), made.c_str());
    return made;
  }();
  return directory;
}

void getRecord(const char* key) {
  MERO_RSecSSFsGetRecordAPI* api = MERO_RSecSSFsGetRecordAPIGet();
  if (api == nullptr) return;
  api->in_pKey = key;
  api->internalOpaque->in_noRepeatForCorruptFile = true;
  MERO_RSecSSFsGetRecord(api);
  MERO_RSecSSFsGetRecordAPIRelease(api);
}

void putRecord(const char* key, const char* value, bool plaintext) {
  MERO_RSecSSFsPutRecordAPI* api = MERO_RSecSSFsPutRecordAPIGet();
  if (api == nullptr) return;
  api->in_pKey = key;
  api->in_pValue = value;
  api->in_storePlaintext = plaintext;
  MERO_RSecSSFsPutRecord(api);
  MERO_RSecSSFsPutRecordAPIRelease(api);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  nebrix_fuzz::InputReader in(data, size);
  const uint8_t keyLength = in.byte();
  const uint8_t lockLength = in.byte();
  const std::string file = storeDirectory() + "/SSFS_ORQ.";
  unlink((file + "KEY").c_str());
  unlink((file + "LCK").c_str());
  if (keyLength > 0 && !in.empty()) nebrix_fuzz::writeWholeFile(file + "KEY", in.text(keyLength));
  if (lockLength != 255) nebrix_fuzz::writeWholeFile(file + "LCK", in.text(lockLength));
  nebrix_fuzz::writeWholeFile(file + "DAT", in.rest());

  getRecord("ORQ/NEBRIX/TRACEFLAGS");
  getRecord("ORQ/A");
  RSecSSFsListRecordsAPI* list = RSecSSFsListRecordsAPIGet();
  RSecSSFsListRecords(list);
  RSecSSFsListRecordsAPIRelease(list);
  RSecSSFsCompactAPI* compact = RSecSSFsCompactAPIGet();
  RSecSSFsCompact(compact);
  RSecSSFsCompactAPIRelease(compact);
  putRecord("ORQ/A", "abc", true);
  putRecord("ORQ/B", "secret", false);
  putRecord("ORQ/A", nullptr, true);
  getRecord("ORQ/B");
  return 0;
}
