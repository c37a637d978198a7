#include "store_growth.h"

#include <cstdint>
#include <fstream>
#include <iterator>
#include <vector>

#include "securestore/rsecssfs.h"

namespace nebrix_bench {

namespace {

constexpr size_t kLengthOffset = 12;
constexpr size_t kDeletedOffset = 144;

uint32_t recordLength(const std::vector<char>& bytes, size_t start) {
  uint32_t length = 0;
  for (size_t i = 0; i < 4; ++i) {
    length = (length << 8) | static_cast<unsigned char>(bytes[start + kLengthOffset + i]);
  }
  return length;
}

}  // namespace

bool putRecord(const std::string& directory, const char* key, const char* value) {
  MERO_RSecSSFsSetConfiguration("ORQ", directory.c_str(), directory.c_str());
  MERO_RSecSSFsPutRecordAPI* api = MERO_RSecSSFsPutRecordAPIGet();
  if (api == nullptr) return false;
  api->in_pKey = key;
  api->in_pValue = value;
  api->in_storePlaintext = true;
  MERO_RSecSSFsPutRecord(api);
  const bool ok = api->out_pProcessingInfo != nullptr && api->out_pProcessingInfo->rc == RSEC_SSFS_RC_OK;
  MERO_RSecSSFsPutRecordAPIRelease(api);
  return ok;
}

bool supersedeLastRecord(const std::string& directory, size_t copies) {
  const std::string path = directory + "/SSFS_ORQ.DAT";
  std::vector<char> bytes;
  {
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  size_t last = 0;
  for (size_t start = 0; start + kDeletedOffset < bytes.size();) {
    const uint32_t length = recordLength(bytes, start);
    if (length < 176 || start + length > bytes.size()) return false;
    last = start;
    start += length;
  }
  if (bytes.empty()) return false;
  const std::vector<char> active(bytes.begin() + static_cast<std::ptrdiff_t>(last), bytes.end());
  std::vector<char> deleted = active;
  deleted[kDeletedOffset] = 1;

  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(last));
  for (size_t i = 0; i < copies; ++i) out.write(deleted.data(), static_cast<std::streamsize>(deleted.size()));
  out.write(active.data(), static_cast<std::streamsize>(active.size()));
  return static_cast<bool>(out);
}

}  // namespace nebrix_bench
