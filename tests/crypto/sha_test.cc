#include <openssl/evp.h>

#include <cstring>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "crypto/hash_algorithm.h"
#include "crypto/sha1.h"
#include "crypto/sha_compress.h"
#include "digest_test_support.h"

namespace {

using digest_test::digestHex;
using digest_test::toHex;

const std::string k448 = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
const std::string k896 =
    "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrst"
    "nopqrstu";
const std::string kMillionA(1000000, 'a');

TEST(Sha, PublishedVectorsThroughTheDispatcher) {
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
  };
  for (const auto& c : cases) {
    EXPECT_EQ(digestHex(c.alg, c.message), c.digest)
        << haGetAlgorithmName(c.alg) << " of " << c.message.substr(0, 20) << " (" << c.message.size() << " bytes)";
  }
}

TEST(Sha1, PublishedVectorsThroughTheDirectInterface) {
  // The million "a" arrives in pieces of 1000 so that the block buffer works.
  const struct {
    std::string piece;
    int repeat;
    const char* digest;
  } cases[] = {
      {"abc", 1, "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {k448, 1, "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {std::string(1000, 'a'), 1000, "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
  };
  for (const auto& c : cases) {
    haSHA1Context ctx;
    ASSERT_EQ(haSHA1Reset(&ctx), 0);
    for (int i = 0; i < c.repeat; ++i) ASSERT_EQ(haSHA1Input(&ctx, c.piece.data(), c.piece.size()), 0);
    uint8_t digest[20];
    ASSERT_EQ(haSHA1Result(&ctx, digest), 0);
    EXPECT_EQ(toHex(digest, 20), c.digest);
    // The result may be asked for again.
    uint8_t again[20];
    ASSERT_EQ(haSHA1Result(&ctx, again), 0);
    EXPECT_EQ(memcmp(digest, again, 20), 0);
  }
}

TEST(Sha1, ResultCodesAndCorruption) {
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

  // Input after the result is refused and corrupts the context for good.
  haSHA1Reset(&ctx);
  ASSERT_EQ(haSHA1Result(&ctx, digest), 0);
  EXPECT_EQ(haSHA1Input(&ctx, &byte, 1), 3);
  EXPECT_EQ(ctx.Corrupted, 3);
  EXPECT_EQ(haSHA1Result(&ctx, digest), 3);
  EXPECT_EQ(haSHA1Input(&ctx, &byte, 1), 3);

  // The largest message length that padding can encode is 2^64 - 8 bits.
  haSHA1Reset(&ctx);
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
    const auto data = digest_test::randomBytes(rng, blocks * 64);
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

}  // namespace
