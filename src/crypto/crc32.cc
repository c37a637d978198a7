#include "crypto/crc32.h"

#include <array>

#include "crypto/hash_byte_order.h"

namespace {

constexpr std::array<uint32_t, 256> makeTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}

constexpr std::array<uint32_t, 256> kTable = makeTable();

}  // namespace

int haCRC32Reset(haCRC32Context* context) {
  if (context == nullptr) return HA_NULL;
  context->crc = 0xFFFFFFFFu;
  context->Computed = 0;
  context->Corrupted = 0;
  return HA_SUCCESS;
}

int haCRC32Input(haCRC32Context* context, const void* data, size_t length) {
  if (length == 0) return HA_SUCCESS;
  if (context == nullptr || data == nullptr) return HA_NULL;
  if (context->Computed) {
    context->Corrupted = HA_STATE_ERROR;
    return HA_STATE_ERROR;
  }
  if (context->Corrupted) return context->Corrupted;
  const uint8_t* p = static_cast<const uint8_t*>(data);
  uint32_t crc = context->crc;
  for (size_t i = 0; i < length; ++i) crc = kTable[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  context->crc = crc;
  return HA_SUCCESS;
}

int haCRC32Result(haCRC32Context* context, uint8_t digest[HA_CRC32_DIGEST_SIZE]) {
  if (context == nullptr || digest == nullptr) return HA_NULL;
  if (context->Corrupted) return context->Corrupted;
  if (!context->Computed) {
    context->crc ^= 0xFFFFFFFFu;
    context->Computed = 1;
  }
  ha_internal::storeBE32(digest, context->crc);
  return HA_SUCCESS;
}
