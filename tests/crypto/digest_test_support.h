// Helpers shared by the digest, HMAC and generator tests.
#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "crypto/hash_algorithm.h"

namespace digest_test {

inline std::string toHex(const uint8_t* data, size_t length) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (size_t i = 0; i < length; ++i) {
    hex += kDigits[data[i] >> 4];
    hex += kDigits[data[i] & 0x0F];
  }
  return hex;
}

inline std::vector<uint8_t> randomBytes(std::mt19937& rng, size_t length) {
  std::vector<uint8_t> bytes(length);
  for (auto& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

// The dispatcher's digest of `text`, as lower-case hex.
inline std::string digestHex(haHashAlgorithm_e alg, const std::string& text) {
  haxx_CTX ctx;
  if (haHashAll(&ctx, text.data(), text.size(), alg, 0, 0) != 0) return "failed";
  return toHex(ctx.digest, ctx.hashsize);
}

// OpenSSL's implementation of an algorithm of the table; null for CRC-32.
inline const EVP_MD* opensslDigest(haHashAlgorithm_e alg) {
  switch (alg) {
    case HA_ALG_MD5: return EVP_md5();
    case HA_ALG_SHA1: return EVP_sha1();
    case HA_ALG_SHA256: return EVP_sha256();
    case HA_ALG_SHA384: return EVP_sha384();
    case HA_ALG_SHA512: return EVP_sha512();
    default: return nullptr;
  }
}

constexpr haHashAlgorithm_e kOracleAlgorithms[] = {HA_ALG_MD5, HA_ALG_SHA1, HA_ALG_SHA256, HA_ALG_SHA384,
                                                   HA_ALG_SHA512};

}  // namespace digest_test
