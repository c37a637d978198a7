#include <cstring>

#include "crypto/hash_algorithm.h"

namespace {

struct AlgorithmInfo {
  haHashAlgorithm_e alg;
  const char* name;
  uint32_t blockSize;
  uint32_t digestSize;
};

const AlgorithmInfo kAlgorithms[] = {
    {HA_ALG_MD5, "MD5", HA_MD5_BLOCK_SIZE, HA_MD5_DIGEST_SIZE},
    {HA_ALG_SHA1, "SHA1", HA_SHA1_BLOCK_SIZE, HA_SHA1_DIGEST_SIZE},
    {HA_ALG_SHA256, "SHA256", HA_SHA256_BLOCK_SIZE, HA_SHA256_DIGEST_SIZE},
    {HA_ALG_SHA512, "SHA512", HA_SHA512_BLOCK_SIZE, HA_SHA512_DIGEST_SIZE},
    {HA_ALG_SHA384, "SHA384", HA_SHA384_BLOCK_SIZE, HA_SHA384_DIGEST_SIZE},
    {HA_ALG_CRC32, "CRC32", HA_CRC32_BLOCK_SIZE, HA_CRC32_DIGEST_SIZE},
};

const AlgorithmInfo* findAlgorithm(haHashAlgorithm_e alg) {
  for (const AlgorithmInfo& info : kAlgorithms) {
    if (info.alg == alg) return &info;
  }
  return nullptr;
}

void encodeHex(const uint8_t* data, size_t length, char* out) {
  static const char kDigits[] = "0123456789abcdef";
  for (size_t i = 0; i < length; ++i) {
    out[2 * i] = kDigits[data[i] >> 4];
    out[2 * i + 1] = kDigits[data[i] & 0x0F];
  }
  out[2 * length] = '\0';
}

// Returns the number of characters written before the NUL.
size_t encodeBase64(const uint8_t* data, size_t length, char* out) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  size_t n = 0;
  for (size_t i = 0; i < length; i += 3) {
    const size_t left = length - i;
    const uint32_t group = (uint32_t{data[i]} << 16) | (left > 1 ? uint32_t{data[i + 1]} << 8 : 0) |
                           (left > 2 ? uint32_t{data[i + 2]} : 0);
    out[n++] = kAlphabet[(group >> 18) & 0x3F];
    out[n++] = kAlphabet[(group >> 12) & 0x3F];
    out[n++] = left > 1 ? kAlphabet[(group >> 6) & 0x3F] : '=';
    out[n++] = left > 2 ? kAlphabet[group & 0x3F] : '=';
  }
  out[n] = '\0';
  return n;
}

}  // namespace

int haInit(haxx_CTX* ctx, haHashAlgorithm_e alg) {
  if (ctx == nullptr) return HA_NULL;
  memset(ctx, 0, sizeof *ctx);
  const AlgorithmInfo* info = findAlgorithm(alg);
  if (info == nullptr) return HA_UNKNOWN_ALGORITHM;
  ctx->blocksize = info->blockSize;
  ctx->hashsize = info->digestSize;
  ctx->alg = alg;
  switch (alg) {
    case HA_ALG_MD5: return haMD5Reset(&ctx->alg_ctx.md5);
    case HA_ALG_SHA1: return haSHA1Reset(&ctx->alg_ctx.sha1);
    case HA_ALG_SHA256: return haSHA256Reset(&ctx->alg_ctx.sha256);
    case HA_ALG_SHA512: return haSHA512Reset(&ctx->alg_ctx.sha512);
    case HA_ALG_SHA384: return haSHA384Reset(&ctx->alg_ctx.sha512);
    case HA_ALG_CRC32: return haCRC32Reset(&ctx->alg_ctx.crc32);
    case HA_ALG_INVALID: break;
  }
  return HA_UNKNOWN_ALGORITHM;
}

int haUpdate(haxx_CTX* ctx, const void* data, size_t length) {
  if (length == 0) return HA_SUCCESS;
  if (ctx == nullptr || data == nullptr) return HA_NULL;
  switch (ctx->alg) {
    case HA_ALG_MD5: return haMD5Input(&ctx->alg_ctx.md5, data, length);
    case HA_ALG_SHA1: return haSHA1Input(&ctx->alg_ctx.sha1, data, length);
    case HA_ALG_SHA256: return haSHA256Input(&ctx->alg_ctx.sha256, data, length);
    case HA_ALG_SHA512: return haSHA512Input(&ctx->alg_ctx.sha512, data, length);
    case HA_ALG_SHA384: return haSHA384Input(&ctx->alg_ctx.sha512, data, length);
    case HA_ALG_CRC32: return haCRC32Input(&ctx->alg_ctx.crc32, data, length);
    case HA_ALG_INVALID: break;
  }
  return HA_UNKNOWN_ALGORITHM;
}

int haFinal(haxx_CTX* ctx) {
  if (ctx == nullptr) return HA_NULL;
  const AlgorithmInfo* info = findAlgorithm(ctx->alg);
  if (info == nullptr) return HA_UNKNOWN_ALGORITHM;
  ctx->blocksize = info->blockSize;
  ctx->hashsize = info->digestSize;
  switch (ctx->alg) {
    case HA_ALG_MD5: return haMD5Result(&ctx->alg_ctx.md5, ctx->digest);
    case HA_ALG_SHA1: return haSHA1Result(&ctx->alg_ctx.sha1, ctx->digest);
    case HA_ALG_SHA256: return haSHA256Result(&ctx->alg_ctx.sha256, ctx->digest);
    case HA_ALG_SHA512: return haSHA512Result(&ctx->alg_ctx.sha512, ctx->digest);
    case HA_ALG_SHA384: return haSHA384Result(&ctx->alg_ctx.sha512, ctx->digest);
    case HA_ALG_CRC32: return haCRC32Result(&ctx->alg_ctx.crc32, ctx->digest);
    case HA_ALG_INVALID: break;
  }
  return HA_UNKNOWN_ALGORITHM;
}

int haHashAll(haxx_CTX* ctx, const void* data, size_t length, haHashAlgorithm_e alg, int hexFlag,
              int base64Flag) {
  int rc = haInit(ctx, alg);
  if (rc == HA_SUCCESS) rc = haUpdate(ctx, data, length);
  if (rc == HA_SUCCESS) rc = haFinal(ctx);
  if (rc == HA_SUCCESS) haEncodeDigest(ctx, hexFlag, base64Flag);
  return rc;
}

void haEncodeDigest(haxx_CTX* ctx, int hexFlag, int base64Flag) {
  if (ctx == nullptr || ctx->hashsize > HA_MAX_DIGEST_SIZE) return;
  if (hexFlag == 1) {
    encodeHex(ctx->digest, ctx->hashsize, ctx->hex_encoded_digest);
    ctx->hex_encoded_len = 2 * ctx->hashsize;
  }
  if (base64Flag == 1) {
    ctx->base64_encoded_len =
        static_cast<uint32_t>(encodeBase64(ctx->digest, ctx->hashsize, ctx->base64_encoded_digest));
  }
}

const char* haGetAlgorithmName(haHashAlgorithm_e alg) {
  const AlgorithmInfo* info = findAlgorithm(alg);
  return info == nullptr ? nullptr : info->name;
}
