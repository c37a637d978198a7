#include "crypto/des.h"

#include <gtest/gtest.h>

#include "crypto/des_block_mode.h"
#include "des_oracle.h"

namespace {

// Published known answers: the textbook example, the "Now is t" block, and
// variable-plaintext, variable-key, permutation and S-box entries of the NBS
// validation tables; the last repeats one with every parity bit flipped.
TEST(Des, KnownAnswersAndOpenSslOnRandomBlocks) {
  const uint64_t cases[][3] = {
      {0x133457799BBCDFF1, 0x0123456789ABCDEF, 0x85E813540F0AB405},
      {0x0123456789ABCDEF, 0x4E6F772069732074, 0x3FA40E8A984D4815},
      {0x0101010101010101, 0x8000000000000000, 0x95F8A5E5DD31D900},
      {0x0101010101010101, 0x0000000000000001, 0x166B40B44ABA4BD6},
      {0x8001010101010101, 0x0000000000000000, 0x95A8D72813DAA94D},
      {0x0101010101010102, 0x0000000000000000, 0x869EFD7F9F265A09},
      {0x1046913489980131, 0x0000000000000000, 0x88D55E54F54C97B4},
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
    des::decryptBlock(schedule, block);
    EXPECT_EQ(des::loadBlock(block), c[1]) << std::hex << c[0] << " " << c[1];
  }
  std::mt19937 generator(46);
  for (int i = 0; i < 2000; ++i) {
    const std::vector<unsigned char> key = des_oracle::randomBytes(generator, 8);
    std::vector<unsigned char> ours = des_oracle::randomBytes(generator, 8), theirs = ours;
    des::setKey(key.data(), &schedule);
    const bool encrypt = i % 2 == 0;
    (encrypt ? des::encryptBlock : des::decryptBlock)(schedule, ours.data());
    des_oracle::des(key.data(), theirs.data(), 8, false, encrypt ? DES_ENCRYPT : DES_DECRYPT);
    ASSERT_EQ(ours, theirs) << "random block " << i;
  }
}

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
