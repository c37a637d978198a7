#include "crypto/hmac.h"

#include <cstring>

#include "crypto/secure_wipe.h"

namespace {

// Fills `pad` with the key block XOR `value`, blocksize bytes.
void makePad(const haxx_CTX* ctx, uint8_t value, uint8_t* pad) {
  for (uint32_t i = 0; i < ctx->blocksize; ++i) pad[i] = ctx->hmacKey0[i] ^ value;
}

int hmacAllInto(haHashAlgorithm_e alg, const void* data, size_t length, const void* key, size_t keyLength,
                uint8_t* out, size_t outLength) {
  if (out == nullptr) return HA_NULL;
  haxx_CTX ctx;
  const int rc = haHMACAll(alg, data, length, key, keyLength, 0, 0, &ctx);
  if (rc == HA_SUCCESS) memcpy(out, ctx.digest, outLength);
  secureWipe(&ctx, sizeof ctx);
  return rc;
}

}  // namespace

int haHMACInit(haHashAlgorithm_e alg, const void* key, size_t keyLength, haxx_CTX* ctx) {
  if (key == nullptr || ctx == nullptr || keyLength == 0) return HA_NULL;
  int rc = haInit(ctx, alg);
  if (rc != HA_SUCCESS) return rc;

  if (keyLength > ctx->blocksize) {
    uint8_t hashedKey[HA_MAX_DIGEST_SIZE];
    rc = haHashAll(ctx, key, keyLength, alg, 0, 0);
    if (rc == HA_SUCCESS && ctx->hashsize > ctx->blocksize) rc = HA_KEY_TOO_LONG;
    if (rc != HA_SUCCESS) {
      secureWipe(ctx, sizeof *ctx);
      return rc;
    }
    const uint32_t hashedLength = ctx->hashsize;
    memcpy(hashedKey, ctx->digest, hashedLength);
    rc = haInit(ctx, alg);
    memcpy(ctx->hmacKey0, hashedKey, hashedLength);
    secureWipe(hashedKey, sizeof hashedKey);
  } else {
    memcpy(ctx->hmacKey0, key, keyLength);
  }

  uint8_t innerPad[HA_MAX_BLOCK_SIZE];
  makePad(ctx, 0x36, innerPad);
  if (rc == HA_SUCCESS) rc = haUpdate(ctx, innerPad, ctx->blocksize);
  secureWipe(innerPad, sizeof innerPad);
  return rc;
}

int haHMACUpdate(const void* data, size_t length, haxx_CTX* ctx) {
  if (data == nullptr || ctx == nullptr || length == 0) return HA_NULL;
  return haUpdate(ctx, data, length);
}

int haHMACFinal(int hexFlag, int base64Flag, haxx_CTX* ctx) {
  if (ctx == nullptr) return HA_NULL;
  int rc = haFinal(ctx);
  if (rc != HA_SUCCESS) {
    secureWipe(ctx->hmacKey0, sizeof ctx->hmacKey0);
    return rc;
  }
  const haHashAlgorithm_e alg = ctx->alg;
  const uint32_t innerLength = ctx->hashsize;
  uint8_t innerDigest[HA_MAX_DIGEST_SIZE];
  memcpy(innerDigest, ctx->digest, innerLength);
  uint8_t outerPad[HA_MAX_BLOCK_SIZE];
  makePad(ctx, 0x5C, outerPad);

  // Restarting the algorithm clears the whole context, the key block included.
  rc = haInit(ctx, alg);
  if (rc == HA_SUCCESS) rc = haUpdate(ctx, outerPad, ctx->blocksize);
  if (rc == HA_SUCCESS) rc = haUpdate(ctx, innerDigest, innerLength);
  if (rc == HA_SUCCESS) rc = haFinal(ctx);
  if (rc == HA_SUCCESS) haEncodeDigest(ctx, hexFlag, base64Flag);

  secureWipe(outerPad, sizeof outerPad);
  secureWipe(innerDigest, sizeof innerDigest);
  secureWipe(ctx->hmacKey0, sizeof ctx->hmacKey0);
  return rc;
}

int haHMACAll(haHashAlgorithm_e alg, const void* data, size_t length, const void* key, size_t keyLength,
              int hexFlag, int base64Flag, haxx_CTX* ctx) {
  int rc = haHMACInit(alg, key, keyLength, ctx);
  // The HMAC of an empty message is well defined; only the update refuses it.
  if (rc == HA_SUCCESS && length > 0) rc = haHMACUpdate(data, length, ctx);
  if (rc == HA_SUCCESS) rc = haHMACFinal(hexFlag, base64Flag, ctx);
  return rc;
}

int haHMACAll_SHA1(const void* data, size_t length, const void* key, size_t keyLength,
                   uint8_t out[HA_SHA1_DIGEST_SIZE]) {
  return hmacAllInto(HA_ALG_SHA1, data, length, key, keyLength, out, HA_SHA1_DIGEST_SIZE);
}

int haHMACAll_MD5(const void* data, size_t length, const void* key, size_t keyLength,
                  uint8_t out[HA_MD5_DIGEST_SIZE]) {
  return hmacAllInto(HA_ALG_MD5, data, length, key, keyLength, out, HA_MD5_DIGEST_SIZE);
}

int haHMACAll_SHA256(const void* data, size_t length, const void* key, size_t keyLength,
                     uint8_t out[HA_SHA256_DIGEST_SIZE]) {
  return hmacAllInto(HA_ALG_SHA256, data, length, key, keyLength, out, HA_SHA256_DIGEST_SIZE);
}

int haHMACAll_SHA384(const void* data, size_t length, const void* key, size_t keyLength,
                     uint8_t out[HA_SHA384_DIGEST_SIZE]) {
  return hmacAllInto(HA_ALG_SHA384, data, length, key, keyLength, out, HA_SHA384_DIGEST_SIZE);
}

int haHMACAll_SHA512(const void* data, size_t length, const void* key, size_t keyLength,
                     uint8_t out[HA_SHA512_DIGEST_SIZE]) {
  return hmacAllInto(HA_ALG_SHA512, data, length, key, keyLength, out, HA_SHA512_DIGEST_SIZE);
}
