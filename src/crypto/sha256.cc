#include "crypto/sha256.h"

#include <cstring>

#include "crypto/block_hash.h"
#include "crypto/hash_byte_order.h"
#include "crypto/sha2_rounds.h"
#include "crypto/sha_compress.h"

namespace ha_internal {

const uint32_t kSha256RoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

void sha256CompressPortable(uint32_t state[8], const uint8_t* blocks, size_t count) {
  sha2Compress<Sha256Traits>(state, kSha256RoundConstants, blocks, count);
}

void sha256Compress(uint32_t state[8], const uint8_t* blocks, size_t count) {
  static const auto compress = cpuHasShaExtensions() ? sha256CompressShaNi : sha256CompressPortable;
  compress(state, blocks, count);
}

}  // namespace ha_internal

using namespace ha_internal;

int haSHA256Reset(haSHA256Context* context) {
  if (context == nullptr) return HA_NULL;
  memset(context, 0, sizeof *context);
  static const uint32_t kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                       0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  memcpy(context->Intermediate_Hash, kInitial, sizeof kInitial);
  return HA_SUCCESS;
}

int haSHA256Input(haSHA256Context* context, const void* data, size_t length) {
  return blockHashInput(context, data, length, sha256Compress);
}

int haSHA256Result(haSHA256Context* context, uint8_t digest[HA_SHA256_DIGEST_SIZE]) {
  if (const int rc = blockHashResultCheck(context, digest)) return rc;
  if (!context->Computed) {
    uint8_t tail[8];
    storeBE32(tail, context->Length_High);
    storeBE32(tail + 4, context->Length_Low);
    blockHashFinish(context, tail, sizeof tail, sha256Compress);
  }
  for (int i = 0; i < 8; ++i) storeBE32(digest + 4 * i, context->Intermediate_Hash[i]);
  return HA_SUCCESS;
}
