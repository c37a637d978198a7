// Single DES, its block modes and the payload cipher built on them, against
// published vectors and OpenSSL.
#include "crypto/des.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "crypto/builtin_keys.h"
#include "crypto/des_block_mode.h"
#include "crypto/payload_cipher.h"
#include "des_oracle.h"

namespace {

using Bytes = std::vector<unsigned char>;

// Published known answers: the textbook example, the "Now is t" block, and
// variable-key and S-box entries of the NBS validation tables; the last
// repeats one with every parity bit flipped. Then OpenSSL on random keys and
// blocks.
TEST(Des, KnownAnswersAndOpenSslOnRandomBlocks) {
  const uint64_t cases[][3] = {
      {0x133457799BBCDFF1, 0x0123456789ABCDEF, 0x85E813540F0AB405},
      {0x0123456789ABCDEF, 0x4E6F772069732074, 0x3FA40E8A984D4815},
      {0x8001010101010101, 0x0000000000000000, 0x95A8D72813DAA94D},
      {0x7CA110454A1A6E57, 0x01A1D6D039776742, 0x690F5B0D9A26939B},
      {0x7DA011444B1B6F56, 0x01A1D6D039776742, 0x690F5B0D9A26939B},
  };
  des::KeySchedule schedule;
  unsigned char key[8], block[8];
  for (const auto& c : cases) {
    des::storeBlock(c[0], key);
    des::storeBlock(c[1], block);
    des::setKey(key, &schedule);
    des::encryptBlock(schedule, block);
    EXPECT_EQ(des::loadBlock(block), c[2]) << std::hex << c[0] << " " << c[1];
  }
  std::mt19937 generator(46);
  for (int i = 0; i < 2000; ++i) {
    const Bytes randomKey = des_oracle::randomBytes(generator, 8);
    Bytes ours = des_oracle::randomBytes(generator, 8), theirs = ours;
    des::setKey(randomKey.data(), &schedule);
    const bool encrypt = i % 2 == 0;
    (encrypt ? des::encryptBlock : des::decryptBlock)(schedule, ours.data());
    des_oracle::des(randomKey.data(), theirs.data(), 8, false, encrypt ? DES_ENCRYPT : DES_DECRYPT);
    ASSERT_EQ(ours, theirs) << "random block " << i;
  }
}

// Every length around the block boundaries, every way of padding the key,
// against OpenSSL's CBC over the full blocks with the tail XORed with
// E(last ciphertext block, or zero).
TEST(DesBlockMode, MatchesCbcWithResidualTerminationAndDecodes) {
  std::mt19937 generator(1);
  const Bytes key = des_oracle::randomBytes(generator, 24);
  for (const uint32_t keyLength : {0u, 5u, 8u, 24u}) {
    unsigned char desKey[8] = {};
    memcpy(desKey, key.data(), keyLength < 8 ? keyLength : 8);
    for (uint32_t length = 0; length <= 41; ++length) {
      const Bytes plain = des_oracle::randomBytes(generator, length);
      Bytes expected = plain, buffer = plain;
      const uint32_t full = length / 8 * 8;
      des_oracle::des(desKey, expected.data(), full, true);
      unsigned char pad[8] = {};
      if (full > 0) memcpy(pad, expected.data() + full - 8, 8);
      des_oracle::des(desKey, pad, 8, false);
      for (uint32_t i = full; i < length; ++i) expected[i] ^= pad[i - full];
      rsecebv1__encode_block_v1(key.data(), keyLength, buffer.data(), length);
      ASSERT_EQ(buffer, expected) << "key length " << keyLength << ", length " << length;
      rsecdbv1__decode_block_v1(key.data(), keyLength, buffer.data(), length);
      ASSERT_EQ(buffer, plain) << "key length " << keyLength << ", length " << length;
    }
  }
}

// The payload cipher written out plainly: null key, key splitting, modifier,
// and three separate passes of the single-DES block mode.
Bytes reference(bool encrypt, const unsigned char* key, uint16_t keyLength, Bytes data, const unsigned char* m) {
  unsigned char defaultKey[24], k[24] = {};
  if (std::all_of(key, key + 24, [](unsigned char b) { return b == 0; })) {
    decipherDefaultPayloadKey(defaultKey);
    key = defaultKey;
  }
  std::copy(key, key + std::min<uint16_t>(keyLength, 24), k);
  // The key byte that the low and the high half of each modifier byte changes (-1: none).
  const int low[] = {6, 8 + 5, 16 + 4, -1, 16}, high[] = {1, 8 + 2, 16 + 3, 7, -1};
  for (int i = 0; m != nullptr && i < 5; ++i) {
    if (low[i] >= 0) k[low[i]] ^= m[i] & 0x0F;
    if (high[i] >= 0) k[high[i]] ^= m[i] & 0xF0;
  }
  const auto n = static_cast<uint32_t>(data.size());
  auto* forward = encrypt ? rsecebv1__encode_block_v1 : rsecdbv1__decode_block_v1;
  auto* backward = encrypt ? rsecdbv1__decode_block_v1 : rsecebv1__encode_block_v1;
  forward(encrypt ? k : k + 16, 8, data.data(), n);
  backward(k + 8, 8, data.data(), n);
  forward(encrypt ? k + 16 : k, 8, data.data(), n);
  return data;
}

// The one-pass computation gives the bytes of the three passes, both ways,
// for every length up to 300 and the largest, key lengths 0 to 25, with and
// without modifier; bytes past the length stay untouched. Some keys are zero
// as far as the key length reaches, some all zero: only 24 zero bytes select
// the default key.
TEST(PayloadCipher, OnePassEqualsThreeSeparatePasses) {
  std::vector<uint16_t> lengths = {32896, 65535};
  for (uint16_t length = 0; length <= 300; ++length) lengths.push_back(length);
  std::mt19937 generator(3);
  for (const uint16_t length : lengths) {
    Bytes key = des_oracle::randomBytes(generator, 24);
    if (length % 5 == 0) std::fill(key.begin(), key.begin() + (length % 3 == 0 ? 24 : 12), 0);
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

// The default keys are the values chosen once for all stores.
TEST(PayloadCipher, DefaultKeys) {
  Bytes defaultKey(24), defaultDesKey(8);
  decipherDefaultPayloadKey(defaultKey.data());
  decipherDefaultDesKey(defaultDesKey.data());
  EXPECT_EQ(defaultKey, Bytes({0x68, 0x7f, 0xc1, 0x13, 0xc8, 0x94, 0xef, 0x1a, 0x15, 0xc0, 0xe5, 0x53,
                               0x62, 0xeb, 0x9e, 0x68, 0xb9, 0xf9, 0xfc, 0x90, 0x11, 0x98, 0x9a, 0x2a}));
  EXPECT_EQ(defaultDesKey, Bytes({0xf1, 0x68, 0x59, 0xc8, 0xcd, 0xd5, 0xcd, 0x8b}));

  Bytes buffer = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}, expected = buffer;
  EXPECT_EQ(rsecedv1_encode_default_v1(buffer.data(), 7), 1);
  EXPECT_EQ(rsecedv1_encode_default_v1(buffer.data(), 16), 0);
  des_oracle::des(defaultDesKey.data(), expected.data(), 16, true);
  EXPECT_EQ(buffer, expected);
}

}  // namespace
