// The digests behind one interface: numeric algorithm identifiers, a context
// that holds the state of any of them, and the digest with its optional text
// forms. Every function returns 0 on success or a haResult_e value.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/crc32.h"
#include "crypto/hash_result.h"
#include "crypto/md5.h"
#include "crypto/sha1.h"
#include "crypto/sha256.h"
#include "crypto/sha512.h"

enum haHashAlgorithm_e : uint32_t {
  HA_ALG_INVALID = 0x0000,
  HA_ALG_MD5 = 0xA501,
  HA_ALG_SHA1 = 0xA502,
  HA_ALG_SHA256 = 0xA503,
  HA_ALG_SHA512 = 0xA504,
  HA_ALG_SHA384 = 0xA505,
  HA_ALG_CRC32 = 0xC320,
};

enum {
  HA_MAX_DIGEST_SIZE = 64,
  HA_MAX_BLOCK_SIZE = 128,
  HA_HEX_DIGEST_SIZE = 2 * HA_MAX_DIGEST_SIZE + 1,         // with the terminating NUL
  HA_BASE64_DIGEST_SIZE = (HA_MAX_DIGEST_SIZE + 2) / 3 * 4 + 1,
};

union haAlgorithmContext_u {
  haMD5Context md5;
  haSHA1Context sha1;
  haSHA256Context sha256;
  haSHA512Context sha512;  // also SHA-384
  haCRC32Context crc32;
};

struct haxx_CTX {
  uint32_t blocksize;  // of the algorithm, set by haInit and haFinal
  uint32_t hashsize;   // digest bytes
  haHashAlgorithm_e alg;
  haAlgorithmContext_u alg_ctx;
  uint8_t digest[HA_MAX_DIGEST_SIZE];  // after haFinal, the first hashsize bytes
  // Text forms of the digest, NUL-terminated, filled only on request:
  // lower-case hexadecimal and Base64 with padding.
  char hex_encoded_digest[HA_HEX_DIGEST_SIZE];
  uint32_t hex_encoded_len;
  char base64_encoded_digest[HA_BASE64_DIGEST_SIZE];
  uint32_t base64_encoded_len;
  uint8_t hmacKey0[HA_MAX_BLOCK_SIZE];  // the HMAC key block while an HMAC runs
};

// Clears the whole context and starts a digest of `alg`. 1 for a null
// context; 4 for an unknown identifier, which leaves `alg` 0.
int haInit(haxx_CTX* ctx, haHashAlgorithm_e alg);

// Feeds `length` bytes. 0 at once when `length` is 0; 1 for a null argument;
// 4 for an unknown algorithm; 3 once the digest was computed.
int haUpdate(haxx_CTX* ctx, const void* data, size_t length);

// Completes the digest into `digest` and sets `blocksize` and `hashsize`
// again. 1 for a null context; 4 for an unknown algorithm; the context's
// corruption mark when input was refused.
int haFinal(haxx_CTX* ctx);

// haInit, haUpdate and haFinal in turn, stopping at the first failure; a flag
// equal to 1 also fills the corresponding text form.
int haHashAll(haxx_CTX* ctx, const void* data, size_t length, haHashAlgorithm_e alg, int hexFlag,
              int base64Flag);

// Fills the text forms of the `hashsize` digest bytes whose flag equals 1.
void haEncodeDigest(haxx_CTX* ctx, int hexFlag, int base64Flag);

// "MD5", "SHA1", "SHA256", "SHA512", "SHA384", "CRC32"; null for any other
// value.
const char* haGetAlgorithmName(haHashAlgorithm_e alg);
