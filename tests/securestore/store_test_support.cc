#include "store_test_support.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "crypto/hmac.h"
#include "crypto/payload_cipher.h"
#include "securestore/checked_allocator.h"
#include "securestore/get_record.h"
#include "securestore/store_files.h"

namespace store_test {

std::vector<std::string> g_trace;

namespace {

std::string textOf(const RSecProcessingInfo* info) {
  return info != nullptr && info->pErrorText != nullptr ? info->pErrorText : "";
}

void collect(int level, const char* text) { g_trace.push_back(std::to_string(level) + " " + text); }

Result runPut(MERO_RSecSSFsPutRecordAPI* api) {
  MERO_RSecSSFsPutRecord(api);
  Result result{api->out_pProcessingInfo->rc, textOf(api->out_pProcessingInfo)};
  MERO_RSecSSFsPutRecordAPIRelease(api);
  return result;
}

}  // namespace

Result put(const char* key, const char* value, bool plaintext, bool keepLock) {
  MERO_RSecSSFsPutRecordAPI* api = MERO_RSecSSFsPutRecordAPIGet();
  api->in_pKey = key;
  api->in_pValue = value;
  api->in_storePlaintext = plaintext;
  api->internalOpaque->in_forgetLockRemoval = keepLock;
  return runPut(api);
}

Result putBinary(const char* key, const Bytes& value, bool plaintext) {
  MERO_RSecSSFsPutRecordAPI* api = MERO_RSecSSFsPutRecordAPIGet();
  api->in_pKey = key;
  api->in_isBinary = true;
  api->in_pValueX = value.data() != nullptr ? value.data() : reinterpret_cast<const unsigned char*>("");
  api->in_pValueXLen = value.size();
  api->in_storePlaintext = plaintext;
  return runPut(api);
}

Result erase(const char* key) { return put(key, nullptr); }

Value get(const char* key) {
  MERO_RSecSSFsGetRecordAPI* api = MERO_RSecSSFsGetRecordAPIGet();
  api->in_pKey = key;
  MERO_RSecSSFsGetRecord(api);
  Value value;
  value.rc = api->out_pProcessingInfo->rc;
  value.text = textOf(api->out_pProcessingInfo);
  if (api->out_pValue != nullptr) value.text_value = api->out_pValue;
  if (api->out_pValueX != nullptr)
    value.binary.assign(api->out_pValueX, api->out_pValueX + api->out_pValueXLen);
  value.isBinary = api->out_isBinary;
  value.isPlaintext = api->out_isStoredAsPlaintext;
  value.keySource = api->internalOpaque->out_keySource;
  MERO_RSecSSFsGetRecordAPIRelease(api);
  return value;
}

Result removeLock() {
  RSecSSFsRemoveLockAPI* api = RSecSSFsRemoveLockAPIGet();
  RSecSSFsRemoveLock(api);
  Result result{api->out_pProcessingInfo->rc, textOf(api->out_pProcessingInfo)};
  RSecSSFsRemoveLockAPIRelease(api);
  return result;
}

Bytes readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes recordChecksum(const Bytes& dataHeaderAndPayload) {
  // The store's checksum key, obscured. Pinned here on purpose: every stored
  // record depends on it, so it must never change.
  unsigned char key[16] = {0x5F, 0x24, 0x5C, 0xA8, 0xE4, 0x23, 0x82, 0xF8,
                           0xDB, 0xBB, 0x4D, 0xB4, 0xAC, 0x85, 0x48, 0x0C};
  rsecedv1_encode_default_v1(key, sizeof key);
  Bytes covered(dataHeaderAndPayload.begin(), dataHeaderAndPayload.begin() + 132);
  covered.insert(covered.end(), dataHeaderAndPayload.begin() + 152, dataHeaderAndPayload.end());
  Bytes digest(20);
  haHMACAll_SHA1(covered.data(), covered.size(), key, sizeof key, digest.data());
  return digest;
}

Bytes makeRecord(const std::string& key, bool plaintext, bool binary, const Bytes& payload) {
  Bytes record(176, 0);
  std::memcpy(record.data(), "RSecSSFsData", 12);
  const size_t length = 176 + payload.size();
  for (int i = 0; i < 4; ++i) record[12 + i] = static_cast<unsigned char>(length >> (24 - 8 * i));
  record[16] = 1;
  std::memset(&record[24], ' ', 64 + 56);
  std::memcpy(&record[24], key.data(), key.size());
  std::memset(&record[88], 0, 8);
  record[145] = plaintext;
  record[146] = binary;
  record.insert(record.end(), payload.begin(), payload.end());
  const Bytes checksum = recordChecksum(Bytes(record.begin() + 24, record.end()));
  std::copy(checksum.begin(), checksum.end(), record.begin() + 156);
  return record;
}

void captureTrace(int maxLevel) {
  g_trace.clear();
  RSecSSFsSetTraceCallback(collect, maxLevel);
}

void StoreTest::SetUp() {
  char name[] = "/tmp/securestore-test-XXXXXX";
  ASSERT_NE(mkdtemp(name), nullptr);
  dir_ = name;
  MERO_RSecSSFsSetConfiguration("TST", dir_.c_str(), dir_.c_str());
  rsecssfs_setRetryPauseMillisecondsForTesting(1);
  RSecSSFsSetTraceCallback(nullptr, 0);
}

void StoreTest::TearDown() {
  RSecSSFsSetTraceCallback(nullptr, 0);
  rsecssfs_failAllocationForTesting(0);
  rsecssfs_resetConfigurationForTesting();
  std::filesystem::remove_all(dir_);
}

}  // namespace store_test
