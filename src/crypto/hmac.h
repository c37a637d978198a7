// HMAC (RFC 2104) over any algorithm of the dispatcher. The key block lives in
// the context's hmacKey0 while the HMAC runs and is wiped by haHMACFinal; the
// result is in the context's digest, hashsize bytes. Every function returns
// 0 on success or a haResult_e value.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/hash_algorithm.h"

// Computes the key block (a key longer than the block is replaced by its
// digest; shorter ones are padded with zeros) and feeds the inner pad. 1 for
// a null key or context or an empty key; else the results of haInit.
int haHMACInit(haHashAlgorithm_e alg, const void* key, size_t keyLength, haxx_CTX* ctx);

// Feeds message bytes. 1 for a null argument or an empty update; else the
// result of haUpdate.
int haHMACUpdate(const void* data, size_t length, haxx_CTX* ctx);

// Completes the HMAC; a flag equal to 1 also fills that text form.
int haHMACFinal(int hexFlag, int base64Flag, haxx_CTX* ctx);

// Init, Update (skipped for an empty message) and Final in turn.
int haHMACAll(haHashAlgorithm_e alg, const void* data, size_t length, const void* key, size_t keyLength,
              int hexFlag, int base64Flag, haxx_CTX* ctx);

// haHMACAll with a context of their own, which they wipe; the HMAC is
// copied to `out`.
int haHMACAll_SHA1(const void* data, size_t length, const void* key, size_t keyLength,
                   uint8_t out[HA_SHA1_DIGEST_SIZE]);
int haHMACAll_MD5(const void* data, size_t length, const void* key, size_t keyLength,
                  uint8_t out[HA_MD5_DIGEST_SIZE]);
int haHMACAll_SHA256(const void* data, size_t length, const void* key, size_t keyLength,
                     uint8_t out[HA_SHA256_DIGEST_SIZE]);
int haHMACAll_SHA384(const void* data, size_t length, const void* key, size_t keyLength,
                     uint8_t out[HA_SHA384_DIGEST_SIZE]);
int haHMACAll_SHA512(const void* data, size_t length, const void* key, size_t keyLength,
                     uint8_t out[HA_SHA512_DIGEST_SIZE]);
