#include "crypto/payload_cipher.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "crypto/builtin_keys.h"
#include "crypto/des_block_mode.h"
#include "des_oracle.h"

namespace {

using Bytes = std::vector<unsigned char>;

// The payload cipher written out plainly: null key, key splitting, modifier,
// and three separate passes of the single-DES block mode.
Bytes reference(bool encrypt, const unsigned char* key, uint16_t keyLength, Bytes data,
                const unsigned char* m) {
  unsigned char defaultKey[24], k[24] = {};
  if (std::all_of(key, key + 24, [](unsigned char b) { return b == 0; })) {
    decipherDefaultPayloadKey(defaultKey);
    key = defaultKey;
  }
  std::copy(key, key + std::min<uint16_t>(keyLength, 24), k);
  if (m != nullptr) {
    k[6] ^= m[0] & 0x0F, k[1] ^= m[0] & 0xF0, k[8 + 5] ^= m[1] & 0x0F, k[8 + 2] ^= m[1] & 0xF0;
    k[16 + 4] ^= m[2] & 0x0F, k[16 + 3] ^= m[2] & 0xF0, k[7] ^= m[3] & 0xF0, k[16] ^= m[4] & 0x0F;
  }
  const auto n = static_cast<uint32_t>(data.size());
  auto* forward = encrypt ? rsecebv1__encode_block_v1 : rsecdbv1__decode_block_v1;
  auto* backward = encrypt ? rsecdbv1__decode_block_v1 : rsecebv1__encode_block_v1;
  forward(encrypt ? k : k + 16, 8, data.data(), n);
  backward(k + 8, 8, data.data(), n);
  forward(encrypt ? k + 16 : k, 8, data.data(), n);
  return data;
}

Bytes encrypted(const Bytes& key, uint16_t keyLength, Bytes data,
                const unsigned char* m = nullptr) {
  RSecPEncrypt(key.data(), keyLength, data.data(), static_cast<uint16_t>(data.size()), m);
  return data;
}

// The one-pass computation gives the bytes of the three passes for every
// length, key lengths 0 to 25 and with or without modifier, both ways; the
// bytes past the length stay untouched.
TEST(PayloadCipher, OnePassEqualsThreeSeparatePasses) {
  std::mt19937 generator(3);
  for (uint16_t length = 0; length <= 300; ++length) {
    const Bytes key = des_oracle::randomBytes(generator, 24);
    const Bytes modifier = des_oracle::randomBytes(generator, 5);
    const unsigned char* m = length % 2 ? modifier.data() : nullptr;
    const auto keyLength = static_cast<uint16_t>(length % 26);
    const Bytes data = des_oracle::randomBytes(generator, length);
    for (const bool encrypt : {true, false}) {
      Bytes buffer = data, expected = reference(encrypt, key.data(), keyLength, data, m);
      buffer.resize(length + 8, 0x5A);
      expected.resize(length + 8, 0x5A);
      (encrypt ? RSecPEncrypt : RSecPDecrypt)(key.data(), keyLength, buffer.data(), length, m);
      ASSERT_EQ(buffer, expected) << "length " << length << (encrypt ? " encrypt" : " decrypt");
    }
  }
}

TEST(PayloadCipher, DecryptUndoesEncrypt) {
  std::vector<uint16_t> lengths = {4103, 9999, 32768, 32895, 32896, 40000, 65534, 65535};
  for (uint16_t i = 0; i <= 4096; ++i) lengths.push_back(i);
  std::mt19937 generator(4);
  for (const uint16_t length : lengths) {
    const Bytes key = des_oracle::randomBytes(generator, 24);
    const Bytes modifier = des_oracle::randomBytes(generator, 5);
    const unsigned char* m = length % 3 ? modifier.data() : nullptr;
    const auto keyLength = static_cast<uint16_t>(length % 25);
    const Bytes plain = des_oracle::randomBytes(generator, length);
    Bytes buffer = encrypted(key, keyLength, plain, m);
    RSecPDecrypt(key.data(), keyLength, buffer.data(), length, m);
    ASSERT_EQ(buffer, plain) << "length " << length;
  }
}

// Identical blocks at two positions thus encrypt differently.
TEST(PayloadCipher, EqualKeysReduceToSingleDesCbc) {
  std::mt19937 generator(5);
  const Bytes desKey = des_oracle::randomBytes(generator, 8);
  Bytes key;
  for (int i = 0; i < 3; ++i) key.insert(key.end(), desKey.begin(), desKey.end());
  for (const size_t length : {8, 16, 64, 32896}) {
    Bytes expected = des_oracle::randomBytes(generator, length);
    const Bytes ours = encrypted(key, 24, expected);
    des_oracle::des(desKey.data(), expected.data(), length, true);
    EXPECT_EQ(ours, expected) << "length " << length;
  }
}

// The default keys are the values chosen once for all stores. 24 zero bytes
// select the payload key whatever the key length; a key that is zero only as
// far as the key length reaches is used as it is.
TEST(PayloadCipher, DefaultKeys) {
  Bytes defaultKey(24), defaultDesKey(8);
  decipherDefaultPayloadKey(defaultKey.data());
  decipherDefaultDesKey(defaultDesKey.data());
  EXPECT_EQ(defaultKey,
            Bytes({0x68, 0x7f, 0xc1, 0x13, 0xc8, 0x94, 0xef, 0x1a, 0x15, 0xc0, 0xe5, 0x53,
                   0x62, 0xeb, 0x9e, 0x68, 0xb9, 0xf9, 0xfc, 0x90, 0x11, 0x98, 0x9a, 0x2a}));
  EXPECT_EQ(defaultDesKey, Bytes({0xf1, 0x68, 0x59, 0xc8, 0xcd, 0xd5, 0xcd, 0x8b}));

  const Bytes plain(40, 0x11);
  Bytes zeroUpToLength(24, 0), zeroDesKey = plain;
  zeroUpToLength[23] = 1;
  rsecebv1__encode_block_v1(zeroUpToLength.data(), 8, zeroDesKey.data(), 40);
  EXPECT_EQ(encrypted(Bytes(24, 0), 24, plain), encrypted(defaultKey, 24, plain));
  EXPECT_EQ(encrypted(Bytes(24, 0), 8, plain), encrypted(defaultKey, 8, plain));
  EXPECT_EQ(encrypted(zeroUpToLength, 8, plain), zeroDesKey);
  EXPECT_NE(zeroDesKey, encrypted(defaultKey, 8, plain));

  Bytes buffer = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}, expected = buffer;
  EXPECT_EQ(rsecedv1_encode_default_v1(buffer.data(), 0), 1);
  EXPECT_EQ(rsecedv1_encode_default_v1(buffer.data(), 7), 1);
  EXPECT_EQ(buffer, expected);
  EXPECT_EQ(rsecedv1_encode_default_v1(buffer.data(), 16), 0);
  des_oracle::des(defaultDesKey.data(), expected.data(), 16, true);
  EXPECT_EQ(buffer, expected);
}

}  // namespace
