// Digests, the hash dispatcher and HMAC: published vectors, result codes, and
// OpenSSL's digests as the oracle on random input.
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstring>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "crypto/hash_algorithm.h"
#include "crypto/hmac.h"
#include "crypto/sha1.h"
#include "crypto/sha_compress.h"
#include "des_oracle.h"

namespace {

using des_oracle::randomBytes;

std::string toHex(const uint8_t* data, size_t length) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (size_t i = 0; i < length; ++i) {
    hex += kDigits[data[i] >> 4];
    hex += kDigits[data[i] & 0x0F];
  }
  return hex;
}

// The dispatcher's digest of `text`, as lower-case hex.
std::string digestHex(haHashAlgorithm_e alg, const std::string& text) {
  haxx_CTX ctx;
  if (haHashAll(&ctx, text.data(), text.size(), alg, 0, 0) != 0) return "failed";
  return toHex(ctx.digest, ctx.hashsize);
}

// OpenSSL's implementation of an algorithm; null for CRC-32.
const EVP_MD* opensslDigest(haHashAlgorithm_e alg) {
  switch (alg) {
    case HA_ALG_MD5: return EVP_md5();
    case HA_ALG_SHA1: return EVP_sha1();
    case HA_ALG_SHA256: return EVP_sha256();
    case HA_ALG_SHA384: return EVP_sha384();
    case HA_ALG_SHA512: return EVP_sha512();
    default: return nullptr;
  }
}


constexpr haHashAlgorithm_e kAllAlgorithms[] = {HA_ALG_MD5,    HA_ALG_SHA1,   HA_ALG_SHA256,
                                                HA_ALG_SHA512, HA_ALG_SHA384, HA_ALG_CRC32};

const std::string k448 = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
const std::string k896 =
    "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrst"
    "nopqrstu";
const std::string kMillionA(1000000, 'a');

// FIPS 180 examples, RFC 1321's suite, and CRC-32 check values written most
// significant byte first.
TEST(Digest, PublishedVectorsThroughTheDispatcher) {
  const struct {
    haHashAlgorithm_e alg;
    std::string message;
    const char* digest;
  } cases[] = {
      {HA_ALG_SHA1, "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {HA_ALG_SHA1, "", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {HA_ALG_SHA1, k448, "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {HA_ALG_SHA1, k896, "a49b2446a02c645bf419f995b67091253a04a259"},
      {HA_ALG_SHA1, kMillionA, "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
      {HA_ALG_SHA256, "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {HA_ALG_SHA256, k448, "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {HA_ALG_SHA256, k896, "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {HA_ALG_SHA256, kMillionA, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      {HA_ALG_SHA384, "abc",
       "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7"},
      {HA_ALG_SHA384, k896,
       "09330c33f71147e83d192fc782cd1b4753111b173b3b05d22fa08086e3b0f712fcc7c71a557e2db966c3e9fa91746039"},
      {HA_ALG_SHA512, "abc",
       "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd"
       "454d4423643ce80e2a9ac94fa54ca49f"},
      {HA_ALG_SHA512, k896,
       "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018501d289e4900f7e4331b99dec4b5433a"
       "c7d329eeb6dd26545e96e55b874be909"},
      {HA_ALG_SHA512, kMillionA,
       "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973ebde0ff244877ea60a4cb0432ce577c31b"
       "eb009c5c2c49aa2e4eadb217ad8cc09b"},
      {HA_ALG_MD5, "", "d41d8cd98f00b204e9800998ecf8427e"},
      {HA_ALG_MD5, "a", "0cc175b9c0f1b6a831c399e269772661"},
      {HA_ALG_MD5, "abc", "900150983cd24fb0d6963f7d28e17f72"},
      {HA_ALG_MD5, "message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {HA_ALG_MD5, "abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {HA_ALG_MD5, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {HA_ALG_MD5, "12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
      {HA_ALG_CRC32, "123456789", "cbf43926"},
      {HA_ALG_CRC32, "", "00000000"},
      {HA_ALG_CRC32, "a", "e8b7be43"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(digestHex(c.alg, c.message), c.digest)
        << haGetAlgorithmName(c.alg) << " of " << c.message.substr(0, 20) << " (" << c.message.size() << " bytes)";
  }
}

// CRC-32 has no OpenSSL oracle; split the message at every position instead.
TEST(Crc32, PiecesGiveTheSameCrcAsTheWhole) {
  const std::string text = "The quick brown fox jumps over the lazy dog";
  for (size_t split = 0; split <= text.size(); ++split) {
    haxx_CTX ctx;
    haInit(&ctx, HA_ALG_CRC32);
    haUpdate(&ctx, text.data(), split);
    haUpdate(&ctx, text.data() + split, text.size() - split);
    ASSERT_EQ(haFinal(&ctx), 0);
    EXPECT_EQ(toHex(ctx.digest, 4), "414fa339") << "split at " << split;
  }
}

TEST(Sha1, ResultCodesAndLengthOverflow) {
  haSHA1Context ctx;
  uint8_t digest[20];
  const char byte = 'x';
  EXPECT_EQ(haSHA1Reset(nullptr), 1);
  EXPECT_EQ(haSHA1Input(nullptr, &byte, 0), 0);
  EXPECT_EQ(haSHA1Input(nullptr, &byte, 1), 1);
  EXPECT_EQ(haSHA1Result(nullptr, digest), 1);
  haSHA1Reset(&ctx);
  EXPECT_EQ(haSHA1Input(&ctx, nullptr, 1), 1);
  EXPECT_EQ(haSHA1Result(&ctx, nullptr), 1);

  // The largest message length that padding can encode is 2^64 - 8 bits.
  // (Input after the result is checked for every algorithm in HashDispatch.ResultCodes.)
  ctx.Length_High = 0xFFFFFFFF;
  ctx.Length_Low = 0xFFFFFFF0;
  EXPECT_EQ(haSHA1Input(&ctx, &byte, 1), 0);
  EXPECT_EQ(ctx.Corrupted, 0);
  EXPECT_EQ(haSHA1Input(&ctx, &byte, 1), 1);
  EXPECT_EQ(ctx.Corrupted, 1);
  EXPECT_EQ(haSHA1Result(&ctx, digest), 1);
}

TEST(Sha, AcceleratedAndPortableBlockFunctionsAgree) {
  if (!ha_internal::cpuHasShaExtensions()) GTEST_SKIP() << "no SHA extensions on this processor";
  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    const size_t blocks = 1 + rng() % 8;
    const auto data = randomBytes(rng, blocks * 64);
    uint32_t portable1[5], accelerated1[5], portable256[8], accelerated256[8];
    for (auto& w : portable1) w = rng();
    for (auto& w : portable256) w = rng();
    memcpy(accelerated1, portable1, sizeof portable1);
    memcpy(accelerated256, portable256, sizeof portable256);
    ha_internal::sha1CompressPortable(portable1, data.data(), blocks);
    ha_internal::sha1CompressShaNi(accelerated1, data.data(), blocks);
    ha_internal::sha256CompressPortable(portable256, data.data(), blocks);
    ha_internal::sha256CompressShaNi(accelerated256, data.data(), blocks);
    ASSERT_EQ(memcmp(portable1, accelerated1, sizeof portable1), 0) << "SHA-1, round " << round;
    ASSERT_EQ(memcmp(portable256, accelerated256, sizeof portable256), 0) << "SHA-256, round " << round;
  }
}


// Identifiers and names; block and digest sizes are covered by the OpenSSL
// comparisons of digests and HMACs (whose keys exceed a block).
TEST(HashDispatch, AlgorithmIdentifiersAndNames) {
  const struct {
    haHashAlgorithm_e alg;
    uint32_t id;
    const char* name;
  } cases[] = {{HA_ALG_MD5, 42241, "MD5"},       {HA_ALG_SHA1, 42242, "SHA1"},     {HA_ALG_SHA256, 42243, "SHA256"},
               {HA_ALG_SHA512, 42244, "SHA512"}, {HA_ALG_SHA384, 42245, "SHA384"}, {HA_ALG_CRC32, 49952, "CRC32"}};
  for (const auto& c : cases) {
    EXPECT_EQ(static_cast<uint32_t>(c.alg), c.id);
    EXPECT_STREQ(haGetAlgorithmName(c.alg), c.name);
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
  for (const haHashAlgorithm_e alg : kAllAlgorithms) {
    if (opensslDigest(alg) == nullptr) continue;
    SCOPED_TRACE(haGetAlgorithmName(alg));
    for (int round = 0; round < 120; ++round) {
      const auto message = randomBytes(rng, rng() % 5001);
      haxx_CTX ctx;
      ASSERT_EQ(haInit(&ctx, alg), 0);
      for (size_t at = 0; at < message.size();) {
        const size_t piece = std::min<size_t>(message.size() - at, rng() % 300);
        ASSERT_EQ(haUpdate(&ctx, message.data() + at, piece), 0);
        at += piece;
      }
      ASSERT_EQ(haFinal(&ctx), 0);

      uint8_t expected[EVP_MAX_MD_SIZE];
      unsigned int length = 0;
      EVP_Digest(message.data(), message.size(), expected, &length, opensslDigest(alg), nullptr);
      ASSERT_EQ(toHex(ctx.digest, ctx.hashsize), toHex(expected, length)) << message.size() << " bytes";
    }
  }
}

std::string opensslHmacHex(haHashAlgorithm_e alg, const std::string& key, const std::string& message) {
  uint8_t out[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  HMAC(opensslDigest(alg), key.data(), static_cast<int>(key.size()),
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

// Incremental in random pieces and in one call; the one-call forms also
// take the empty message, which an update refuses.
TEST(Hmac, AgreesWithOpenSslForRandomKeysAndMessages) {
  const struct {
    haHashAlgorithm_e alg;
    int (*all)(const void*, size_t, const void*, size_t, uint8_t*);
  } algorithms[] = {{HA_ALG_MD5, haHMACAll_MD5},       {HA_ALG_SHA1, haHMACAll_SHA1},
                    {HA_ALG_SHA256, haHMACAll_SHA256}, {HA_ALG_SHA384, haHMACAll_SHA384},
                    {HA_ALG_SHA512, haHMACAll_SHA512}};
  std::mt19937 rng(4711);
  for (const auto& a : algorithms) {
    SCOPED_TRACE(haGetAlgorithmName(a.alg));
    for (int round = 0; round < 60; ++round) {
      const auto keyBytes = randomBytes(rng, 1 + rng() % 200);
      const auto messageBytes = randomBytes(rng, round == 0 ? 0 : rng() % 5001);
      const std::string key(keyBytes.begin(), keyBytes.end());
      const std::string message(messageBytes.begin(), messageBytes.end());
      const std::string expected = opensslHmacHex(a.alg, key, message);
      SCOPED_TRACE("key " + std::to_string(key.size()) + " bytes, message " + std::to_string(message.size()));

      uint8_t out[HA_MAX_DIGEST_SIZE];
      ASSERT_EQ(a.all(message.data(), message.size(), key.data(), key.size(), out), 0);
      ASSERT_EQ(toHex(out, expected.size() / 2), expected);
      if (message.empty()) continue;
      haxx_CTX ctx;
      ASSERT_EQ(haHMACInit(a.alg, key.data(), key.size(), &ctx), 0);
      for (size_t at = 0; at < message.size();) {
        const size_t piece = std::min<size_t>(message.size() - at, 1 + rng() % 300);
        ASSERT_EQ(haHMACUpdate(message.data() + at, piece, &ctx), 0);
        at += piece;
      }
      ASSERT_EQ(haHMACFinal(0, 0, &ctx), 0);
      ASSERT_EQ(toHex(ctx.digest, ctx.hashsize), expected);
    }
  }
}

}  // namespace
