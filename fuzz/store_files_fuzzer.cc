// libFuzzer target: arbitrary bytes as the store's data, key and lock files,
// read with GetRecord and ListRecords and written with PutRecord. The input
// is split as: 1 byte key file length, 1 byte lock file length (255: no
// lock file), the key file, the lock file, the rest as data file.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "securestore/get_record.h"
#include "securestore/rsecssfs.h"

namespace {

const std::string& storeDirectory() {
  static const std::string directory = [] {
    char pattern[] = "/tmp/nebrix-store-fuzz-XXXXXX";
    return std::string(mkdtemp(pattern));
  }();
  return directory;
}

void writeFile(const std::string& name, const uint8_t* data, size_t size) {
  std::ofstream(storeDirectory() + "/" + name, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

void getRecord(const char* key) {
  MERO_RSecSSFsGetRecordAPI* api = MERO_RSecSSFsGetRecordAPIGet();
  if (api == nullptr) return;
  api->in_pKey = key;
  api->internalOpaque->in_noRepeatForCorruptFile = true;
  MERO_RSecSSFsGetRecord(api);
  MERO_RSecSSFsGetRecordAPIRelease(api);
}

void listRecords() {
  RSecSSFsListRecordsAPI* api = RSecSSFsListRecordsAPIGet();
  if (api == nullptr) return;
  RSecSSFsListRecords(api);
  RSecSSFsListRecordsAPIRelease(api);
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
  static const bool configured = [] {
    rsecssfs_setRetryPauseMillisecondsForTesting(0);
    MERO_RSecSSFsSetConfiguration("ORQ", storeDirectory().c_str(), storeDirectory().c_str());
    return true;
  }();
  (void)configured;

  size_t keyLength = data[0];
  size_t lockLength = data[1];
  data += 2;
  size -= 2;
  const std::string dir = storeDirectory();
  unlink((dir + "/SSFS_ORQ.KEY").c_str());
  unlink((dir + "/SSFS_ORQ.LCK").c_str());
  if (keyLength > size) keyLength = size;
  if (keyLength > 0) writeFile("SSFS_ORQ.KEY", data, keyLength);
  data += keyLength;
  size -= keyLength;
  if (lockLength != 255) {
    if (lockLength > size) lockLength = size;
    writeFile("SSFS_ORQ.LCK", data, lockLength);
    data += lockLength;
    size -= lockLength;
  }
  writeFile("SSFS_ORQ.DAT", data, size);

  getRecord("ORQ/NEBRIX/TRACEFLAGS");
  getRecord("ORQ/A");
  listRecords();
  putRecord("ORQ/A", "abc", true);
  putRecord("ORQ/B", "secret", false);
  putRecord("ORQ/A", nullptr, true);
  getRecord("ORQ/B");
  return 0;
}
