#include "crypto/md5.h"

#include <cstring>

#include "crypto/block_hash.h"
#include "crypto/hash_byte_order.h"

using namespace ha_internal;

namespace {

// The round functions, written so that as much as possible is computed
// before `b`, the result of the previous step, is known. G is split into two
// disjoint bit sets whose sum equals their OR.
#define MD5_F(a, b, c, d, x, s, k) a += (d ^ (b & (c ^ d))) + (x) + (k), a = rotl32(a, s) + b
#define MD5_G(a, b, c, d, x, s, k) a += (c & ~d) + (x) + (k), a += (b & d), a = rotl32(a, s) + b
#define MD5_H(a, b, c, d, x, s, k) a += (b ^ c ^ d) + (x) + (k), a = rotl32(a, s) + b
#define MD5_I(a, b, c, d, x, s, k) a += (c ^ (b | ~d)) + (x) + (k), a = rotl32(a, s) + b

void md5Compress(uint32_t state[4], const uint8_t* blocks, size_t count) {
  uint32_t x[16];
  for (; count > 0; --count, blocks += 64) {
    for (int i = 0; i < 16; ++i) x[i] = loadLE32(blocks + 4 * i);
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];

    MD5_F(a, b, c, d, x[0], 7, 0xd76aa478);
    MD5_F(d, a, b, c, x[1], 12, 0xe8c7b756);
    MD5_F(c, d, a, b, x[2], 17, 0x242070db);
    MD5_F(b, c, d, a, x[3], 22, 0xc1bdceee);
    MD5_F(a, b, c, d, x[4], 7, 0xf57c0faf);
    MD5_F(d, a, b, c, x[5], 12, 0x4787c62a);
    MD5_F(c, d, a, b, x[6], 17, 0xa8304613);
    MD5_F(b, c, d, a, x[7], 22, 0xfd469501);
    MD5_F(a, b, c, d, x[8], 7, 0x698098d8);
    MD5_F(d, a, b, c, x[9], 12, 0x8b44f7af);
    MD5_F(c, d, a, b, x[10], 17, 0xffff5bb1);
    MD5_F(b, c, d, a, x[11], 22, 0x895cd7be);
    MD5_F(a, b, c, d, x[12], 7, 0x6b901122);
    MD5_F(d, a, b, c, x[13], 12, 0xfd987193);
    MD5_F(c, d, a, b, x[14], 17, 0xa679438e);
    MD5_F(b, c, d, a, x[15], 22, 0x49b40821);

    MD5_G(a, b, c, d, x[1], 5, 0xf61e2562);
    MD5_G(d, a, b, c, x[6], 9, 0xc040b340);
    MD5_G(c, d, a, b, x[11], 14, 0x265e5a51);
    MD5_G(b, c, d, a, x[0], 20, 0xe9b6c7aa);
    MD5_G(a, b, c, d, x[5], 5, 0xd62f105d);
    MD5_G(d, a, b, c, x[10], 9, 0x02441453);
    MD5_G(c, d, a, b, x[15], 14, 0xd8a1e681);
    MD5_G(b, c, d, a, x[4], 20, 0xe7d3fbc8);
    MD5_G(a, b, c, d, x[9], 5, 0x21e1cde6);
    MD5_G(d, a, b, c, x[14], 9, 0xc33707d6);
    MD5_G(c, d, a, b, x[3], 14, 0xf4d50d87);
    MD5_G(b, c, d, a, x[8], 20, 0x455a14ed);
    MD5_G(a, b, c, d, x[13], 5, 0xa9e3e905);
    MD5_G(d, a, b, c, x[2], 9, 0xfcefa3f8);
    MD5_G(c, d, a, b, x[7], 14, 0x676f02d9);
    MD5_G(b, c, d, a, x[12], 20, 0x8d2a4c8a);

    MD5_H(a, b, c, d, x[5], 4, 0xfffa3942);
    MD5_H(d, a, b, c, x[8], 11, 0x8771f681);
    MD5_H(c, d, a, b, x[11], 16, 0x6d9d6122);
    MD5_H(b, c, d, a, x[14], 23, 0xfde5380c);
    MD5_H(a, b, c, d, x[1], 4, 0xa4beea44);
    MD5_H(d, a, b, c, x[4], 11, 0x4bdecfa9);
    MD5_H(c, d, a, b, x[7], 16, 0xf6bb4b60);
    MD5_H(b, c, d, a, x[10], 23, 0xbebfbc70);
    MD5_H(a, b, c, d, x[13], 4, 0x289b7ec6);
    MD5_H(d, a, b, c, x[0], 11, 0xeaa127fa);
    MD5_H(c, d, a, b, x[3], 16, 0xd4ef3085);
    MD5_H(b, c, d, a, x[6], 23, 0x04881d05);
    MD5_H(a, b, c, d, x[9], 4, 0xd9d4d039);
    MD5_H(d, a, b, c, x[12], 11, 0xe6db99e5);
    MD5_H(c, d, a, b, x[15], 16, 0x1fa27cf8);
    MD5_H(b, c, d, a, x[2], 23, 0xc4ac5665);

    MD5_I(a, b, c, d, x[0], 6, 0xf4292244);
    MD5_I(d, a, b, c, x[7], 10, 0x432aff97);
    MD5_I(c, d, a, b, x[14], 15, 0xab9423a7);
    MD5_I(b, c, d, a, x[5], 21, 0xfc93a039);
    MD5_I(a, b, c, d, x[12], 6, 0x655b59c3);
    MD5_I(d, a, b, c, x[3], 10, 0x8f0ccc92);
    MD5_I(c, d, a, b, x[10], 15, 0xffeff47d);
    MD5_I(b, c, d, a, x[1], 21, 0x85845dd1);
    MD5_I(a, b, c, d, x[8], 6, 0x6fa87e4f);
    MD5_I(d, a, b, c, x[15], 10, 0xfe2ce6e0);
    MD5_I(c, d, a, b, x[6], 15, 0xa3014314);
    MD5_I(b, c, d, a, x[13], 21, 0x4e0811a1);
    MD5_I(a, b, c, d, x[4], 6, 0xf7537e82);
    MD5_I(d, a, b, c, x[11], 10, 0xbd3af235);
    MD5_I(c, d, a, b, x[2], 15, 0x2ad7d2bb);
    MD5_I(b, c, d, a, x[9], 21, 0xeb86d391);

    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
  }
  secureWipe(x, sizeof x);
}

#undef MD5_F
#undef MD5_G
#undef MD5_H
#undef MD5_I

}  // namespace

int haMD5Reset(haMD5Context* context) {
  if (context == nullptr) return HA_NULL;
  memset(context, 0, sizeof *context);
  static const uint32_t kInitial[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
  memcpy(context->Intermediate_Hash, kInitial, sizeof kInitial);
  return HA_SUCCESS;
}

int haMD5Input(haMD5Context* context, const void* data, size_t length) {
  return blockHashInput(context, data, length, md5Compress);
}

int haMD5Result(haMD5Context* context, uint8_t digest[HA_MD5_DIGEST_SIZE]) {
  if (const int rc = blockHashResultCheck(context, digest)) return rc;
  if (!context->Computed) {
    // The bit count goes in little-endian, low word first.
    uint8_t tail[8];
    storeLE32(tail, context->Length_Low);
    storeLE32(tail + 4, context->Length_High);
    blockHashFinish(context, tail, sizeof tail, md5Compress);
  }
  for (int i = 0; i < 4; ++i) storeLE32(digest + 4 * i, context->Intermediate_Hash[i]);
  return HA_SUCCESS;
}
