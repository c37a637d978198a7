// A secure file store in a fresh temporary directory for each test, with
// helpers that run one store call and return what a caller sees.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "crypto/hmac.h"
#include "crypto/payload_cipher.h"
#include "securestore/checked_allocator.h"
#include "securestore/store_files.h"
#include "securestore/get_record.h"
#include "securestore/rsecssfs.h"

namespace store_test {

using Bytes = std::vector<unsigned char>;

// What a call returned and, of a read, the value.
struct Result {
  RSEC_SSFS_RC rc;
  std::string text;  // the call's error text, "" when none
  std::string text_value;
  Bytes binary;
  rsecssfsKeySource keySource = RSECSSFS_KEYSOURCE_DEFAULT;
  std::vector<int> counts;  // of a conversion: plaintext, readable, not readable records
};

// `result` with what the call made on `api` returned; `api` is then
// released unless `release` is null.
template <typename Api>
Result resultOf(Api* api, void (*release)(Api*), Result result = {}) {
  result.rc = api->out_pProcessingInfo->rc;
  result.text = api->out_pProcessingInfo->pErrorText != nullptr ? api->out_pProcessingInfo->pErrorText : "";
  if (release != nullptr) release(api);
  return result;
}

// Stores `value`, or `binary` when given; deletes the record when both are
// null. With `keepLock` the lock stays, as after a writer that died; with
// `failingAllocation` n the call's n-th allocation fails.
inline Result put(const char* key, const char* value, bool plaintext = true, bool keepLock = false,
                  const Bytes* binary = nullptr, unsigned failingAllocation = 0) {
  MERO_RSecSSFsPutRecordAPI* api = MERO_RSecSSFsPutRecordAPIGet();
  api->in_pKey = key;
  api->in_pValue = value;
  api->in_isBinary = binary != nullptr;
  static const unsigned char empty = 0;  // an empty value still has an address
  api->in_pValueX = binary == nullptr ? nullptr : binary->empty() ? &empty : binary->data();
  api->in_pValueXLen = api->in_isBinary ? binary->size() : 0;
  api->in_storePlaintext = plaintext;
  api->internalOpaque->in_forgetLockRemoval = keepLock;
  rsecssfs_failAllocationForTesting(failingAllocation);
  MERO_RSecSSFsPutRecord(api);
  rsecssfs_failAllocationForTesting(0);
  return resultOf(api, MERO_RSecSSFsPutRecordAPIRelease);
}

inline Result erase(const char* key) { return put(key, nullptr); }

inline Result get(const char* key) {
  MERO_RSecSSFsGetRecordAPI* api = MERO_RSecSSFsGetRecordAPIGet();
  api->in_pKey = key;
  MERO_RSecSSFsGetRecord(api);
  Result value;
  value.text_value = api->out_pValue != nullptr ? api->out_pValue : "";
  if (api->out_pValueX != nullptr) value.binary.assign(api->out_pValueX, api->out_pValueX + api->out_pValueXLen);
  value.keySource = api->internalOpaque->out_keySource;
  return resultOf(api, MERO_RSecSSFsGetRecordAPIRelease, value);
}

inline Result removeLock() {
  RSecSSFsRemoveLockAPI* api = RSecSSFsRemoveLockAPIGet();
  RSecSSFsRemoveLock(api);
  return resultOf(api, RSecSSFsRemoveLockAPIRelease);
}

inline Bytes readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

inline bool exists(const std::string& path) { return std::filesystem::exists(path); }

inline Bytes slice(const Bytes& bytes, size_t from, size_t length) {
  return Bytes(bytes.begin() + from, bytes.begin() + from + length);
}

// The record checksum computed here independently, with the store's
// checksum key: a record a test builds by hand passes the reader's check.
inline Bytes recordChecksum(const Bytes& dataHeaderAndPayload) {
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

// A whole record as a writer makes it, stamped 1970 by nobody, with `payload`.
inline Bytes makeRecord(const std::string& key, bool plaintext, bool binary, const Bytes& payload) {
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

// `call()` with files limited to `limit` bytes (0: no limit), as when the
// disk refuses to grow a file.
template <typename Call>
auto withFileSizeLimit(rlim_t limit, Call call) {
  struct rlimit saved;
  getrlimit(RLIMIT_FSIZE, &saved);
  const struct rlimit limited = {limit != 0 ? limit : saved.rlim_cur, saved.rlim_max};
  setrlimit(RLIMIT_FSIZE, &limited);
  const auto result = call();
  setrlimit(RLIMIT_FSIZE, &saved);
  return result;
}

// Trace lines received by the callback installed with captureTrace.
inline std::vector<std::string> g_trace;
inline void captureTrace(int maxLevel) {
  g_trace.clear();
  RSecSSFsSetTraceCallback([](int level, const char* text) { g_trace.push_back(std::to_string(level) + " " + text); },
                           maxLevel);
}

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/securestore-test-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir_ = name;
    MERO_RSecSSFsSetConfiguration("TST", dir_.c_str(), dir_.c_str());
    rsecssfs_setRetryPauseMillisecondsForTesting(1);
    signal(SIGXFSZ, SIG_IGN);  // a write beyond the file size limit fails, see withFileSizeLimit
    rsecssfs_activateMemoryCheck(true);
    openFiles_ = openFiles();
  }
  // Whatever a test did, its calls gave back all the memory and files they took.
  void TearDown() override {
    EXPECT_FALSE(rsecssfs_checkMemoryState());
    EXPECT_EQ(openFiles(), openFiles_);
    RSecSSFsSetTraceCallback(nullptr, 0);
    rsecssfs_activateMemoryCheck(false);
    rsecssfs_resetConfigurationForTesting();
    std::filesystem::remove_all(dir_);
  }
  std::string path(const char* suffix) const { return dir_ + "/SSFS_TST" + suffix; }
  std::string dataFile() const { return path(".DAT"); }
  std::string lockFile() const { return path(".LCK"); }
  std::string keyFile() const { return path(".KEY"); }
  static long openFiles() {
    const auto entries = std::filesystem::directory_iterator("/proc/self/fd");
    return std::distance(begin(entries), end(entries));
  }
  std::string dir_;
  long openFiles_ = 0;
};

}  // namespace store_test
