#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstring>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "crypto/hmac.h"
#include "digest_test_support.h"

namespace {

using digest_test::toHex;

std::string opensslHmacHex(haHashAlgorithm_e alg, const std::string& key, const std::string& message) {
  uint8_t out[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  HMAC(digest_test::opensslDigest(alg), key.data(), static_cast<int>(key.size()),
       reinterpret_cast<const uint8_t*>(message.data()), message.size(), out, &length);
  return toHex(out, length);
}

TEST(Hmac, Rfc2202Sha1Cases) {
  std::string key4;
  for (int i = 1; i <= 25; ++i) key4 += static_cast<char>(i);
  const struct {
    std::string key;
    std::string data;
    const char* digest;
  } cases[] = {
      {std::string(20, '\x0b'), "Hi There", "b617318655057264e28bc0b6fb378c8ef146be00"},
      {"Jefe", "what do ya want for nothing?", "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
      {std::string(20, '\xaa'), std::string(50, '\xdd'), "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
      {key4, std::string(50, '\xcd'), "4c9007f4026250c6bc8414f9bf50c86c2d7235da"},
      {std::string(20, '\x0c'), "Test With Truncation", "4c1a03424b55e07fe7f27be1d58bb9324a9a5a04"},
      {std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
       "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
      {std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
       "e8e99d0f45237d786d6bbaa7965c7808bbff1a91"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.data);
    haxx_CTX ctx;
    ASSERT_EQ(haHMACInit(HA_ALG_SHA1, c.key.data(), c.key.size(), &ctx), 0);
    ASSERT_EQ(haHMACUpdate(c.data.data(), c.data.size(), &ctx), 0);
    ASSERT_EQ(haHMACFinal(0, 0, &ctx), 0);
    EXPECT_EQ(toHex(ctx.digest, ctx.hashsize), c.digest);
    // The key block is gone once the HMAC is complete.
    const uint8_t zeros[HA_MAX_BLOCK_SIZE] = {};
    EXPECT_EQ(memcmp(ctx.hmacKey0, zeros, sizeof zeros), 0);

    uint8_t out[20];
    ASSERT_EQ(haHMACAll_SHA1(c.data.data(), c.data.size(), c.key.data(), c.key.size(), out), 0);
    EXPECT_EQ(toHex(out, 20), c.digest);
  }
}

TEST(Hmac, ResultCodes) {
  haxx_CTX ctx;
  const char key[] = "key";
  EXPECT_EQ(haHMACInit(HA_ALG_SHA1, nullptr, 3, &ctx), 1);
  EXPECT_EQ(haHMACInit(HA_ALG_SHA1, key, 0, &ctx), 1);
  EXPECT_EQ(haHMACInit(HA_ALG_SHA1, key, 3, nullptr), 1);
  EXPECT_EQ(haHMACInit(static_cast<haHashAlgorithm_e>(7), key, 3, &ctx), 4);
  EXPECT_EQ(haHMACFinal(0, 0, nullptr), 1);
  ASSERT_EQ(haHMACInit(HA_ALG_SHA1, key, 3, &ctx), 0);
  // Unlike haUpdate, an empty HMAC update is an error.
  EXPECT_EQ(haHMACUpdate(key, 0, &ctx), 1);
  EXPECT_EQ(haHMACUpdate(nullptr, 3, &ctx), 1);
  EXPECT_EQ(haHMACUpdate(key, 3, nullptr), 1);
  EXPECT_EQ(haHMACAll_SHA1(key, 3, key, 3, nullptr), 1);
}

TEST(Hmac, AgreesWithOpenSslForRandomKeysAndMessages) {
  std::mt19937 rng(4711);
  for (const haHashAlgorithm_e alg : digest_test::kOracleAlgorithms) {
    SCOPED_TRACE(haGetAlgorithmName(alg));
    for (int round = 0; round < 60; ++round) {
      const auto keyBytes = digest_test::randomBytes(rng, 1 + rng() % 200);
      const auto messageBytes = digest_test::randomBytes(rng, rng() % 5001);
      const std::string key(keyBytes.begin(), keyBytes.end());
      const std::string message(messageBytes.begin(), messageBytes.end());

      haxx_CTX ctx;
      ASSERT_EQ(haHMACInit(alg, key.data(), key.size(), &ctx), 0);
      for (size_t at = 0; at < message.size();) {
        const size_t piece = std::min<size_t>(message.size() - at, 1 + rng() % 300);
        ASSERT_EQ(haHMACUpdate(message.data() + at, piece, &ctx), 0);
        at += piece;
      }
      ASSERT_EQ(haHMACFinal(0, 0, &ctx), 0);
      ASSERT_EQ(toHex(ctx.digest, ctx.hashsize), opensslHmacHex(alg, key, message))
          << "key " << key.size() << " bytes, message " << message.size() << " bytes";
    }
  }
}

TEST(Hmac, OneCallFormsIncludingTheEmptyMessage) {
  const std::string key = "a key of some length";
  for (const std::string& message : {std::string(), std::string("payload")}) {
    const struct {
      haHashAlgorithm_e alg;
      int (*all)(const void*, size_t, const void*, size_t, uint8_t*);
    } cases[] = {
        {HA_ALG_MD5, haHMACAll_MD5},       {HA_ALG_SHA1, haHMACAll_SHA1},
        {HA_ALG_SHA256, haHMACAll_SHA256}, {HA_ALG_SHA384, haHMACAll_SHA384},
        {HA_ALG_SHA512, haHMACAll_SHA512},
    };
    for (const auto& c : cases) {
      SCOPED_TRACE(haGetAlgorithmName(c.alg));
      uint8_t out[HA_MAX_DIGEST_SIZE];
      ASSERT_EQ(c.all(message.data(), message.size(), key.data(), key.size(), out), 0);
      const std::string expected = opensslHmacHex(c.alg, key, message);
      EXPECT_EQ(toHex(out, expected.size() / 2), expected);
    }
  }
}

}  // namespace
