#include "crypto/des_block_mode.h"

#include <gtest/gtest.h>

#include "des_oracle.h"

namespace {

using Bytes = std::vector<unsigned char>;

// Every length around the block boundaries, every way of padding the key,
// against OpenSSL's CBC over the full blocks with the tail XORed with
// E(last ciphertext block, or zero); bytes past the length stay untouched.
TEST(DesBlockMode, MatchesCbcWithResidualTerminationAndDecodes) {
  std::mt19937 generator(1);
  const Bytes key = des_oracle::randomBytes(generator, 24);
  for (const uint32_t keyLength : {0u, 1u, 5u, 8u, 24u}) {
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
      expected.resize(length + 8, 0xA5);
      buffer.resize(length + 8, 0xA5);
      rsecebv1__encode_block_v1(key.data(), keyLength, buffer.data(), length);
      ASSERT_EQ(buffer, expected) << "key length " << keyLength << ", length " << length;
      rsecdbv1__decode_block_v1(key.data(), keyLength, buffer.data(), length);
      buffer.resize(length);
      ASSERT_EQ(buffer, plain) << "key length " << keyLength << ", length " << length;
    }
  }
}

// A third key part and a trailing partial block are ignored.
TEST(DesBlockMode, TwoKeyTripleDesDecryptionChainsAroundTheTripleOperation) {
  std::mt19937 generator(2);
  const Bytes key = des_oracle::randomBytes(generator, 24);
  const Bytes input = des_oracle::randomBytes(generator, 27);
  Bytes expected = input, buffer = input;
  for (size_t offset = 0; offset + 8 <= expected.size(); offset += 8) {
    unsigned char* block = expected.data() + offset;
    des_oracle::des(key.data(), block, 8, false, DES_DECRYPT);
    des_oracle::des(key.data() + 8, block, 8, false, DES_ENCRYPT);
    des_oracle::des(key.data(), block, 8, false, DES_DECRYPT);
    for (size_t i = 0; i < 8 && offset > 0; ++i) block[i] ^= input[offset - 8 + i];
  }
  rsectd__t_decryptoC(key.data(), 24, buffer.data(), static_cast<uint32_t>(buffer.size()));
  EXPECT_EQ(buffer, expected);
}

}  // namespace
