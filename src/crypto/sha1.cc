#include "crypto/sha1.h"

#include <cstring>

#include "crypto/block_hash.h"
#include "crypto/hash_byte_order.h"
#include "crypto/sha_compress.h"

namespace ha_internal {

void sha1CompressPortable(uint32_t state[5], const uint8_t* blocks, size_t count) {
  uint32_t w[80];
  for (; count > 0; --count, blocks += 64) {
    for (int t = 0; t < 16; ++t) w[t] = loadBE32(blocks + 4 * t);
    for (int t = 16; t < 80; ++t) w[t] = rotl32(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);

    uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
    auto round = [&](uint32_t f, uint32_t k, uint32_t wt) {
      const uint32_t temp = rotl32(a, 5) + f + e + k + wt;
      e = d;
      d = c;
      c = rotl32(b, 30);
      b = a;
      a = temp;
    };
    for (int t = 0; t < 20; ++t) round(d ^ (b & (c ^ d)), 0x5A827999, w[t]);
    for (int t = 20; t < 40; ++t) round(b ^ c ^ d, 0x6ED9EBA1, w[t]);
    for (int t = 40; t < 60; ++t) round((b & c) | (d & (b | c)), 0x8F1BBCDC, w[t]);
    for (int t = 60; t < 80; ++t) round(b ^ c ^ d, 0xCA62C1D6, w[t]);

    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
  }
  // The schedule is derived from the message, which may be a key block.
  secureWipe(w, sizeof w);
}

void sha1Compress(uint32_t state[5], const uint8_t* blocks, size_t count) {
  static const auto compress = cpuHasShaExtensions() ? sha1CompressShaNi : sha1CompressPortable;
  compress(state, blocks, count);
}

}  // namespace ha_internal

using namespace ha_internal;

int haSHA1Reset(haSHA1Context* context) {
  if (context == nullptr) return HA_NULL;
  memset(context, 0, sizeof *context);
  static const uint32_t kInitial[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  memcpy(context->Intermediate_Hash, kInitial, sizeof kInitial);
  return HA_SUCCESS;
}

int haSHA1Input(haSHA1Context* context, const void* data, size_t length) {
  return blockHashInput(context, data, length, sha1Compress);
}

int haSHA1Result(haSHA1Context* context, uint8_t digest[HA_SHA1_DIGEST_SIZE]) {
  if (const int rc = blockHashResultCheck(context, digest)) return rc;
  if (!context->Computed) {
    uint8_t tail[8];
    storeBE32(tail, context->Length_High);
    storeBE32(tail + 4, context->Length_Low);
    blockHashFinish(context, tail, sizeof tail, sha1Compress);
  }
  for (int i = 0; i < 5; ++i) storeBE32(digest + 4 * i, context->Intermediate_Hash[i]);
  return HA_SUCCESS;
}
