#include "crypto/des_block_mode.h"

#include <cstring>

#include "crypto/des.h"
#include "crypto/secure_wipe.h"

namespace {

// Builds the schedule of the DES key made of key[offset..offset+8), as far
// as keyLength reaches, zero-padded.
void setPaddedKey(const unsigned char* key, uint32_t keyLength, uint32_t offset,
                  des::KeySchedule* schedule) {
  unsigned char padded[des::kKeySize] = {};
  if (keyLength > offset) {
    const uint32_t available = keyLength - offset;
    memcpy(padded, key + offset, available < des::kKeySize ? available : des::kKeySize);
  }
  des::setKey(padded, schedule);
  secureWipe(padded, sizeof padded);
}

// XORs the `count` (< 8) bytes at `tail` with the first bytes of the DES
// encryption of `last`, the last full block in the round domain (0 if none).
void terminateResidual(const des::KeySchedule& schedule, uint64_t last, unsigned char* tail,
                       unsigned count) {
  if (count == 0) return;
  unsigned char pad[des::kBlockSize];
  des::storeBlock(des::leaveRoundDomain(des::encryptRounds(schedule, last)), pad);
  for (unsigned i = 0; i < count; ++i) tail[i] ^= pad[i];
  secureWipe(pad, sizeof pad);
}

}  // namespace

void rsecebv1__encode_block_v1(const unsigned char* key, uint32_t keyLength, unsigned char* data,
                               uint32_t length) {
  if (length == 0) return;
  des::KeySchedule schedule;
  setPaddedKey(key, keyLength, 0, &schedule);
  // The chaining block, kept in the round domain.
  uint64_t chain = 0;
  const uint32_t fullBlocks = length / des::kBlockSize;
  for (uint32_t i = 0; i < fullBlocks; ++i) {
    unsigned char* block = data + i * des::kBlockSize;
    chain = des::encryptRounds(schedule, des::enterRoundDomain(des::loadBlock(block)) ^ chain);
    des::storeBlock(des::leaveRoundDomain(chain), block);
  }
  terminateResidual(schedule, chain, data + fullBlocks * des::kBlockSize, length % des::kBlockSize);
  secureWipe(&schedule, sizeof schedule);
}

void rsecdbv1__decode_block_v1(const unsigned char* key, uint32_t keyLength, unsigned char* data,
                               uint32_t length) {
  if (length == 0) return;
  des::KeySchedule schedule;
  setPaddedKey(key, keyLength, 0, &schedule);
  uint64_t chain = 0;
  const uint32_t fullBlocks = length / des::kBlockSize;
  for (uint32_t i = 0; i < fullBlocks; ++i) {
    unsigned char* block = data + i * des::kBlockSize;
    const uint64_t cipher = des::enterRoundDomain(des::loadBlock(block));
    des::storeBlock(des::leaveRoundDomain(des::decryptRounds(schedule, cipher) ^ chain), block);
    chain = cipher;
  }
  terminateResidual(schedule, chain, data + fullBlocks * des::kBlockSize, length % des::kBlockSize);
  secureWipe(&schedule, sizeof schedule);
}

void rsectd__t_decryptoC(const unsigned char* key, uint32_t keyLength, unsigned char* data,
                         uint32_t length) {
  if (length < des::kBlockSize) return;
  des::KeySchedule schedules[2];
  setPaddedKey(key, keyLength, 0, &schedules[0]);
  setPaddedKey(key, keyLength, des::kKeySize, &schedules[1]);
  uint64_t chain = 0;
  const uint32_t fullBlocks = length / des::kBlockSize;
  for (uint32_t i = 0; i < fullBlocks; ++i) {
    unsigned char* block = data + i * des::kBlockSize;
    const uint64_t cipher = des::enterRoundDomain(des::loadBlock(block));
    const uint64_t plain = des::decryptRounds(
        schedules[0], des::encryptRounds(schedules[1], des::decryptRounds(schedules[0], cipher)));
    des::storeBlock(des::leaveRoundDomain(plain ^ chain), block);
    chain = cipher;
  }
  secureWipe(schedules, sizeof schedules);
}
