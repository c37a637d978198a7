// A secure file store in a fresh temporary directory for each test, with
// helpers that run one store call and return what a caller sees.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <string>
#include <vector>

#include "securestore/rsecssfs.h"

namespace store_test {

using Bytes = std::vector<unsigned char>;

struct Result {
  RSEC_SSFS_RC rc;
  std::string text;  // the call's error text, "" when none
};

struct Value : Result {
  std::string text_value;
  Bytes binary;
  bool isBinary = false;
  bool isPlaintext = false;
  rsecssfsKeySource keySource = RSECSSFS_KEYSOURCE_DEFAULT;
};

Result put(const char* key, const char* value, bool plaintext = true, bool keepLock = false);
Result putBinary(const char* key, const Bytes& value, bool plaintext = true);
Result erase(const char* key);
Value get(const char* key);
Result removeLock();

Bytes readFile(const std::string& path);
void writeFile(const std::string& path, const Bytes& bytes);
inline bool exists(const std::string& path) { return std::filesystem::exists(path); }

// The record checksum computed here independently, with the store's
// checksum key: a record a test builds by hand passes the reader's check.
Bytes recordChecksum(const Bytes& dataHeaderAndPayload);
// A whole record: headers as a writer makes them, with `payload`.
Bytes makeRecord(const std::string& key, bool plaintext, bool binary, const Bytes& payload);

// `call()` with files limited to `limit` bytes (0: no limit), as when the
// disk refuses to grow a file.
template <typename Call>
auto withFileSizeLimit(rlim_t limit, Call call) {
  struct rlimit saved;
  getrlimit(RLIMIT_FSIZE, &saved);
  const struct rlimit limited = {limit != 0 ? limit : saved.rlim_cur, saved.rlim_max};
  void (*handler)(int) = signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &limited);
  const auto result = call();
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, handler);
  return result;
}

// Trace lines received by the callback installed with captureTrace.
extern std::vector<std::string> g_trace;
void captureTrace(int maxLevel);

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::string path(const char* suffix) const { return dir_ + "/SSFS_TST" + suffix; }
  std::string dataFile() const { return path(".DAT"); }
  std::string lockFile() const { return path(".LCK"); }
  std::string keyFile() const { return path(".KEY"); }
  std::string dir_;
};

}  // namespace store_test
