#include "crypto/des.h"

#include <gtest/gtest.h>

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

}  // namespace
