// Digests, the hash dispatcher and HMAC: published vectors, result codes, and
// OpenSSL as the oracle on random input.
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "crypto/hash_algorithm.h"
#include "crypto/hmac.h"
#include "crypto/sha_compress.h"
#include "des_oracle.h"

namespace {

using Bytes = std::vector<unsigned char>;

std::string toHex(const uint8_t* data, size_t length) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (size_t i = 0; i < length; ++i) hex += {kDigits[data[i] >> 4], kDigits[data[i] & 0x0F]};
  return hex;
}

// Every algorithm with its identifier (stored with digests), its name, its
// OpenSSL counterpart (CRC-32 has none, nor an HMAC), and a published
// digest: FIPS 180 and RFC 1321 of "abc", and the CRC-32 check value of
// "123456789", written most significant byte first, in hexadecimal and in
// Base64 (RFC 4648, padded: the lengths leave 0, 1 and 2 bytes over).
const std::tuple<haHashAlgorithm_e, uint32_t, const char*, const EVP_MD* (*)(), const char*, const char*> kAlgorithms[] = {
    {HA_ALG_MD5, 42241, "MD5", EVP_md5, "900150983cd24fb0d6963f7d28e17f72", "kAFQmDzST7DWlj99KOF/cg=="},
    {HA_ALG_SHA1, 42242, "SHA1", EVP_sha1, "a9993e364706816aba3e25717850c26c9cd0d89d", "qZk+NkcGgWq6PiVxeFDCbJzQ2J0="},
    {HA_ALG_SHA256, 42243, "SHA256", EVP_sha256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
     "ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0="},
    {HA_ALG_SHA512, 42244, "SHA512", EVP_sha512,
     "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd"
     "454d4423643ce80e2a9ac94fa54ca49f",
     "3a81oZNherrMQXNJriBBMRLm+k6JqX6iCp7u5ktV05ohkpkqJ0/BqDa6PCOj/uu9RU1EI2Q86A4qmslPpUyknw=="},
    {HA_ALG_SHA384, 42245, "SHA384", EVP_sha384,
     "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7",
     "ywB1P0WjXou1oD1pmsZQBycsMqsO3tFjGotgWkP/W+2AhgcroefMI1i67KE0yCWn"},
    {HA_ALG_CRC32, 49952, "CRC32", nullptr, "cbf43926", "y/Q5Jg=="},
};

// Feeds `message` to `update` in random pieces of 1 to 300 bytes.
template <class Update>
void feedInPieces(std::mt19937& rng, const Bytes& message, Update update) {
  for (size_t at = 0, piece = 0; at < message.size(); at += piece) {
    piece = std::min<size_t>(message.size() - at, 1 + rng() % 300);
    ASSERT_EQ(update(message.data() + at, piece), 0);
  }
}

// The published digest in its text forms; random messages in
// random pieces against the one-call digest and OpenSSL; HMACs with random
// keys, often longer than the block, in random pieces. Input after the
// digest is refused, and so is a null pointer.
TEST(Digest, PublishedVectorsAndOpenSslOnRandomMessages) {
  std::mt19937 rng(20240611);
  for (const auto& [alg, id, name, openssl, published, base64] : kAlgorithms) {
    SCOPED_TRACE(name);
    EXPECT_EQ(static_cast<uint32_t>(alg), id);
    EXPECT_STREQ(haGetAlgorithmName(alg), name);
    const std::string text = alg == HA_ALG_CRC32 ? "123456789" : "abc";
    haxx_CTX ctx, whole;
    ASSERT_EQ(haHashAll(&ctx, text.data(), text.size(), alg, 1, 1), 0);
    EXPECT_STREQ(ctx.hex_encoded_digest, published);
    EXPECT_EQ(std::string(ctx.base64_encoded_digest, ctx.base64_encoded_len), base64);
    EXPECT_EQ(haUpdate(&ctx, "x", 1), 3);
    EXPECT_EQ(haFinal(&ctx), 3);
    EXPECT_EQ(haUpdate(&ctx, nullptr, 1), 1);

    for (int round = 0; round < 100; ++round) {
      const Bytes message = des_oracle::randomBytes(rng, round == 0 ? 0 : rng() % 5001);
      SCOPED_TRACE(std::to_string(message.size()) + " bytes");
      ASSERT_EQ(haInit(&ctx, alg), 0);
      feedInPieces(rng, message, [&](const uint8_t* p, size_t n) { return haUpdate(&ctx, p, n); });
      ASSERT_EQ(haFinal(&ctx), 0);
      ASSERT_EQ(haHashAll(&whole, message.data(), message.size(), alg, 0, 0), 0);
      ASSERT_EQ(toHex(ctx.digest, ctx.hashsize), toHex(whole.digest, whole.hashsize));
      if (openssl == nullptr) continue;
      uint8_t expected[EVP_MAX_MD_SIZE];
      unsigned int length = 0;
      EVP_Digest(message.data(), message.size(), expected, &length, openssl(), nullptr);
      ASSERT_EQ(toHex(ctx.digest, ctx.hashsize), toHex(expected, length));

      const Bytes key = des_oracle::randomBytes(rng, 1 + rng() % 200);
      HMAC(openssl(), key.data(), static_cast<int>(key.size()), message.data(), message.size(), expected, &length);
      if (message.empty()) continue;  // an HMAC update refuses it
      ASSERT_EQ(haHMACInit(alg, key.data(), key.size(), &ctx), 0);
      feedInPieces(rng, message, [&](const uint8_t* p, size_t n) { return haHMACUpdate(p, n, &ctx); });
      ASSERT_EQ(haHMACFinal(0, 0, &ctx), 0);
      ASSERT_EQ(toHex(ctx.digest, ctx.hashsize), toHex(expected, length)) << "key of " << key.size() << " bytes";
      ASSERT_EQ(std::count(ctx.hmacKey0, ctx.hmacKey0 + HA_MAX_BLOCK_SIZE, 0), HA_MAX_BLOCK_SIZE) << "key block kept";
    }
  }
}

// The dispatcher takes the SHA instructions where the processor has them, so
// this is what checks the portable block functions on such a machine. The
// detection must agree with the kernel's flags: a wrong "no" would only skip
// the comparison, a wrong "yes" would crash on a processor without them.
TEST(Digest, AcceleratedAndPortableBlockFunctionsAgree) {
  std::ifstream cpuinfo("/proc/cpuinfo");
  const std::string info{std::istreambuf_iterator<char>(cpuinfo), {}};
  const auto has = [&](const std::string& flag) { return std::regex_search(info, std::regex("\nflags\t*:.* " + flag + "\\b")); };
  EXPECT_EQ(ha_internal::cpuHasShaExtensions(), has("sha_ni") && has("ssse3") && has("sse4_1"));
  if (!ha_internal::cpuHasShaExtensions()) GTEST_SKIP() << "no SHA extensions on this processor";
  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    const size_t blocks = 1 + rng() % 8;
    const Bytes data = des_oracle::randomBytes(rng, blocks * 64);
    uint32_t portable1[5], accelerated1[5], portable256[8], accelerated256[8];
    for (uint32_t& word : portable1) word = rng();
    for (uint32_t& word : portable256) word = rng();
    std::memcpy(accelerated1, portable1, sizeof portable1);
    std::memcpy(accelerated256, portable256, sizeof portable256);
    ha_internal::sha1CompressPortable(portable1, data.data(), blocks);
    ha_internal::sha1CompressShaNi(accelerated1, data.data(), blocks);
    ha_internal::sha256CompressPortable(portable256, data.data(), blocks);
    ha_internal::sha256CompressShaNi(accelerated256, data.data(), blocks);
    ASSERT_EQ(std::memcmp(portable1, accelerated1, sizeof portable1), 0) << "SHA-1, round " << round;
    ASSERT_EQ(std::memcmp(portable256, accelerated256, sizeof portable256), 0) << "SHA-256, round " << round;
  }
}

}  // namespace
