#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "crypto/hash_algorithm.h"
#include "digest_test_support.h"

namespace {

using digest_test::digestHex;

TEST(Md5, Rfc1321Suite) {
  const struct {
    const char* message;
    const char* digest;
  } cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& c : cases) EXPECT_EQ(digestHex(HA_ALG_MD5, c.message), c.digest) << '"' << c.message << '"';
}

TEST(Crc32, CheckValuesMostSignificantByteFirst) {
  const struct {
    const char* message;
    const char* digest;
  } cases[] = {
      {"123456789", "cbf43926"},
      {"", "00000000"},
      {"a", "e8b7be43"},
      {"The quick brown fox jumps over the lazy dog", "414fa339"},
  };
  for (const auto& c : cases) EXPECT_EQ(digestHex(HA_ALG_CRC32, c.message), c.digest) << '"' << c.message << '"';

  haxx_CTX ctx;
  ASSERT_EQ(haHashAll(&ctx, "123456789", 9, HA_ALG_CRC32, 0, 0), 0);
  const uint8_t expected[4] = {0xCB, 0xF4, 0x39, 0x26};
  EXPECT_EQ(memcmp(ctx.digest, expected, 4), 0);
}

TEST(Crc32, PiecesGiveTheSameCrcAsTheWhole) {
  const std::string text = "The quick brown fox jumps over the lazy dog";
  for (size_t split = 0; split <= text.size(); ++split) {
    haxx_CTX ctx;
    haInit(&ctx, HA_ALG_CRC32);
    haUpdate(&ctx, text.data(), split);
    haUpdate(&ctx, text.data() + split, text.size() - split);
    ASSERT_EQ(haFinal(&ctx), 0);
    EXPECT_EQ(digest_test::toHex(ctx.digest, 4), "414fa339") << "split at " << split;
  }
}

}  // namespace
