#include "crypto/payload_cipher.h"

#include <cstring>

#include "crypto/builtin_keys.h"
#include "crypto/des.h"
#include "crypto/des_block_mode.h"
#include "crypto/secure_wipe.h"

// The three stages are computed in one pass, block by block, which gives the
// same bytes as three passes over the buffer: block i of a stage depends only
// on blocks 0..i of its input. Every chaining value is held in the round
// domain (des.h), so a block costs one initial and one final permutation
// instead of three of each. The partial block at the end is XORed with the
// three stages' termination pads after the pass; XOR commutes, so their order
// does not matter.

namespace {

constexpr unsigned kPayloadKeySize = 24;

struct PayloadKeys {
  des::KeySchedule k1;
  des::KeySchedule k2;
  des::KeySchedule k3;
};

bool isNullKey(const unsigned char* key) {
  unsigned char any = 0;
  for (unsigned i = 0; i < kPayloadKeySize; ++i) any |= key[i];
  return any == 0;
}

struct ModifierTap {
  unsigned keyByte;       // 0..23 across K1, K2, K3
  unsigned modifierByte;  // 0..4
  unsigned char mask;
};

constexpr ModifierTap kModifierTaps[] = {
    {0 + 6, 0, 0x0F},  {0 + 1, 0, 0xF0},  {8 + 5, 1, 0x0F}, {8 + 2, 1, 0xF0},
    {16 + 4, 2, 0x0F}, {16 + 3, 2, 0xF0}, {0 + 7, 3, 0xF0}, {16 + 0, 4, 0x0F},
};

// The key schedules of K1, K2 and K3 for a caller's key, key length and
// modifier.
void preparePayloadKeys(const unsigned char* key, uint16_t keyLength, const unsigned char* modifier,
                        PayloadKeys* keys) {
  unsigned char defaultKey[kDefaultPayloadKeySize];
  if (isNullKey(key)) {
    decipherDefaultPayloadKey(defaultKey);
    key = defaultKey;
  }
  // Longer keys have nothing to fill beyond K3; reading on would leave the
  // 24 bytes the caller vouches for.
  const unsigned used = keyLength < kPayloadKeySize ? keyLength : kPayloadKeySize;
  unsigned char material[kPayloadKeySize] = {};
  memcpy(material, key, used);
  if (modifier != nullptr) {
    for (const ModifierTap& tap : kModifierTaps) {
      material[tap.keyByte] ^= modifier[tap.modifierByte] & tap.mask;
    }
  }
  des::setKey(material, &keys->k1);
  des::setKey(material + 8, &keys->k2);
  des::setKey(material + 16, &keys->k3);
  secureWipe(material, sizeof material);
  secureWipe(defaultKey, sizeof defaultKey);
}

// XORs the `count` bytes at `tail` with the first bytes of the block whose
// round-domain form is `pad`.
void xorTail(uint64_t pad, unsigned char* tail, unsigned count) {
  unsigned char bytes[des::kBlockSize];
  des::storeBlock(des::leaveRoundDomain(pad), bytes);
  for (unsigned i = 0; i < count; ++i) tail[i] ^= bytes[i];
  secureWipe(bytes, sizeof bytes);
}

void encryptPayload(const PayloadKeys& keys, unsigned char* data, uint16_t length) {
  // c1, the last block of stage 1 (encrypt K1), chains stages 1 and 2
  // (decrypt K2); c3, the last block of stage 3 (encrypt K3), chains stage 3.
  uint64_t chain[2] = {0, 0};
  uint64_t& c1 = chain[0];
  uint64_t& c3 = chain[1];
  const unsigned fullBlocks = length / des::kBlockSize;
  for (unsigned i = 0; i < fullBlocks; ++i) {
    unsigned char* block = data + i * des::kBlockSize;
    const uint64_t stage1 =
        des::encryptRounds(keys.k1, des::enterRoundDomain(des::loadBlock(block)) ^ c1);
    const uint64_t stage2 = des::decryptRounds(keys.k2, stage1) ^ c1;
    c1 = stage1;
    c3 = des::encryptRounds(keys.k3, stage2 ^ c3);
    des::storeBlock(des::leaveRoundDomain(c3), block);
  }
  if (const unsigned rest = length % des::kBlockSize) {
    // Stages 1 and 2 both terminate with the last block of stage 1 (the
    // output of one, the input of the other), stage 3 with its own.
    xorTail(des::encryptRounds(keys.k1, c1) ^ des::encryptRounds(keys.k2, c1) ^
                des::encryptRounds(keys.k3, c3),
            data + fullBlocks * des::kBlockSize, rest);
  }
  secureWipe(chain, sizeof chain);
}

void decryptPayload(const PayloadKeys& keys, unsigned char* data, uint16_t length) {
  // previousInput chains stage 1 (decrypt K3); previousMiddle, the last block
  // of stage 2 (encrypt K2), chains both stage 2 and stage 3 (decrypt K1).
  uint64_t chain[2] = {0, 0};
  uint64_t& previousInput = chain[0];
  uint64_t& previousMiddle = chain[1];
  const unsigned fullBlocks = length / des::kBlockSize;
  for (unsigned i = 0; i < fullBlocks; ++i) {
    unsigned char* block = data + i * des::kBlockSize;
    const uint64_t input = des::enterRoundDomain(des::loadBlock(block));
    const uint64_t stage1 = des::decryptRounds(keys.k3, input) ^ previousInput;
    previousInput = input;
    const uint64_t stage2 = des::encryptRounds(keys.k2, stage1 ^ previousMiddle);
    const uint64_t stage3 = des::decryptRounds(keys.k1, stage2) ^ previousMiddle;
    previousMiddle = stage2;
    des::storeBlock(des::leaveRoundDomain(stage3), block);
  }
  if (const unsigned rest = length % des::kBlockSize) {
    xorTail(des::encryptRounds(keys.k3, previousInput) ^
                des::encryptRounds(keys.k2, previousMiddle) ^
                des::encryptRounds(keys.k1, previousMiddle),
            data + fullBlocks * des::kBlockSize, rest);
  }
  secureWipe(chain, sizeof chain);
}

}  // namespace

void RSecPEncrypt(const unsigned char* key, uint16_t keyLength, unsigned char* data,
                  uint16_t dataLength, const unsigned char* modifier) {
  if (dataLength == 0) return;
  PayloadKeys keys;
  preparePayloadKeys(key, keyLength, modifier, &keys);
  encryptPayload(keys, data, dataLength);
  secureWipe(&keys, sizeof keys);
}

void RSecPDecrypt(const unsigned char* key, uint16_t keyLength, unsigned char* data,
                  uint16_t dataLength, const unsigned char* modifier) {
  if (dataLength == 0) return;
  PayloadKeys keys;
  preparePayloadKeys(key, keyLength, modifier, &keys);
  decryptPayload(keys, data, dataLength);
  secureWipe(&keys, sizeof keys);
}

int rsecedv1_encode_default_v1(unsigned char* data, uint32_t length) {
  if (length < des::kBlockSize) return 1;
  unsigned char key[kDefaultDesKeySize];
  decipherDefaultDesKey(key);
  rsecebv1__encode_block_v1(key, sizeof key, data, length);
  secureWipe(key, sizeof key);
  return 0;
}
