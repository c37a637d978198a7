#include <openssl/evp.h>

#include <cstring>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "crypto/hash_algorithm.h"
#include "digest_test_support.h"

namespace {

using digest_test::toHex;

constexpr haHashAlgorithm_e kAllAlgorithms[] = {HA_ALG_MD5,    HA_ALG_SHA1,   HA_ALG_SHA256,
                                                HA_ALG_SHA512, HA_ALG_SHA384, HA_ALG_CRC32};

TEST(HashDispatch, AlgorithmTable) {
  const struct {
    haHashAlgorithm_e alg;
    uint32_t id;
    const char* name;
    uint32_t blocksize;
    uint32_t hashsize;
  } cases[] = {
      {HA_ALG_MD5, 42241, "MD5", 64, 16},          {HA_ALG_SHA1, 42242, "SHA1", 64, 20},
      {HA_ALG_SHA256, 42243, "SHA256", 64, 32},    {HA_ALG_SHA512, 42244, "SHA512", 128, 64},
      {HA_ALG_SHA384, 42245, "SHA384", 128, 48},   {HA_ALG_CRC32, 49952, "CRC32", 4, 4},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(static_cast<uint32_t>(c.alg), c.id);
    ASSERT_NE(haGetAlgorithmName(c.alg), nullptr);
    EXPECT_STREQ(haGetAlgorithmName(c.alg), c.name);
    haxx_CTX ctx;
    ASSERT_EQ(haInit(&ctx, c.alg), 0) << c.name;
    EXPECT_EQ(ctx.alg, c.alg);
    EXPECT_EQ(ctx.blocksize, c.blocksize) << c.name;
    EXPECT_EQ(ctx.hashsize, c.hashsize) << c.name;
  }
  EXPECT_EQ(haGetAlgorithmName(HA_ALG_INVALID), nullptr);
  EXPECT_EQ(haGetAlgorithmName(static_cast<haHashAlgorithm_e>(0xA506)), nullptr);
}

TEST(HashDispatch, ResultCodes) {
  const char byte = 'x';
  haxx_CTX ctx;
  EXPECT_EQ(haInit(nullptr, HA_ALG_SHA1), 1);
  EXPECT_EQ(haFinal(nullptr), 1);
  EXPECT_EQ(haUpdate(nullptr, &byte, 0), 0);
  EXPECT_EQ(haUpdate(nullptr, &byte, 1), 1);
  EXPECT_EQ(haHashAll(nullptr, &byte, 1, HA_ALG_SHA1, 0, 0), 1);

  // An unknown identifier leaves the context without an algorithm.
  memset(&ctx, 0x55, sizeof ctx);
  EXPECT_EQ(haInit(&ctx, static_cast<haHashAlgorithm_e>(0x1234)), 4);
  EXPECT_EQ(ctx.alg, HA_ALG_INVALID);
  EXPECT_EQ(ctx.hashsize, 0u);
  EXPECT_EQ(haUpdate(&ctx, &byte, 1), 4);
  EXPECT_EQ(haFinal(&ctx), 4);
  EXPECT_EQ(haHashAll(&ctx, &byte, 1, HA_ALG_INVALID, 0, 0), 4);

  for (const haHashAlgorithm_e alg : kAllAlgorithms) {
    SCOPED_TRACE(haGetAlgorithmName(alg));
    ASSERT_EQ(haInit(&ctx, alg), 0);
    EXPECT_EQ(haUpdate(&ctx, nullptr, 1), 1);
    EXPECT_EQ(haUpdate(&ctx, &byte, 0), 0);
    ASSERT_EQ(haUpdate(&ctx, &byte, 1), 0);
    ASSERT_EQ(haFinal(&ctx), 0);
    const std::string first = toHex(ctx.digest, ctx.hashsize);
    // Final may be repeated; input after it is refused, for every algorithm.
    ASSERT_EQ(haFinal(&ctx), 0);
    EXPECT_EQ(toHex(ctx.digest, ctx.hashsize), first);
    EXPECT_EQ(haUpdate(&ctx, &byte, 1), 3);
    EXPECT_EQ(haFinal(&ctx), 3);
  }
}

TEST(HashDispatch, TextForms) {
  for (const haHashAlgorithm_e alg : kAllAlgorithms) {
    SCOPED_TRACE(haGetAlgorithmName(alg));
    haxx_CTX ctx;
    ASSERT_EQ(haHashAll(&ctx, "abc", 3, alg, 1, 1), 0);
    EXPECT_EQ(ctx.hex_encoded_digest, toHex(ctx.digest, ctx.hashsize));
    EXPECT_EQ(ctx.hex_encoded_len, 2 * ctx.hashsize);
    unsigned char base64[HA_BASE64_DIGEST_SIZE];
    const int base64Length = EVP_EncodeBlock(base64, ctx.digest, static_cast<int>(ctx.hashsize));
    EXPECT_STREQ(ctx.base64_encoded_digest, reinterpret_cast<const char*>(base64));
    EXPECT_EQ(ctx.base64_encoded_len, static_cast<uint32_t>(base64Length));
  }
  // Flags other than 1 leave the text forms empty.
  haxx_CTX ctx;
  ASSERT_EQ(haHashAll(&ctx, "abc", 3, HA_ALG_SHA1, 0, 2), 0);
  EXPECT_EQ(ctx.hex_encoded_len, 0u);
  EXPECT_EQ(ctx.base64_encoded_len, 0u);
}

TEST(HashDispatch, AgreesWithOpenSslOnRandomMessagesInRandomPieces) {
  std::mt19937 rng(20240611);
  for (const haHashAlgorithm_e alg : digest_test::kOracleAlgorithms) {
    SCOPED_TRACE(haGetAlgorithmName(alg));
    for (int round = 0; round < 120; ++round) {
      const auto message = digest_test::randomBytes(rng, rng() % 5001);
      haxx_CTX ctx;
      ASSERT_EQ(haInit(&ctx, alg), 0);
      for (size_t at = 0; at < message.size();) {
        const size_t piece = std::min<size_t>(message.size() - at, rng() % 300);
        ASSERT_EQ(haUpdate(&ctx, message.data() + at, piece), 0);
        at += piece;
      }
      ASSERT_EQ(haFinal(&ctx), 0);

      uint8_t expected[EVP_MAX_MD_SIZE];
      unsigned int expectedLength = 0;
      ASSERT_EQ(EVP_Digest(message.data(), message.size(), expected, &expectedLength,
                           digest_test::opensslDigest(alg), nullptr),
                1);
      ASSERT_EQ(ctx.hashsize, expectedLength);
      ASSERT_EQ(toHex(ctx.digest, ctx.hashsize), toHex(expected, expectedLength))
          << message.size() << " bytes, round " << round;
    }
  }
}

}  // namespace
