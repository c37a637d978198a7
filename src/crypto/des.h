// DES (FIPS 46-3) on 8-byte blocks under 8-byte keys.
//
// Byte 0 of a block or key holds bits 1 to 8 in the standard's numbering,
// most significant bit first. The lowest bit of every key byte (parity) does
// not take part; parity is neither checked nor set.
//
// Besides whole-block encryption and decryption this header offers the
// round domain: a block after the initial permutation, held as one 64-bit
// word. Both permutations move bits without combining them, so XOR commutes
// with them: a chained mode can keep its chaining values in the round domain,
// XOR there, and pay for the initial and final permutation once per block
// however many DES operations it chains (see payload_cipher.cc).
//
// All tables are computed at compile time; nothing is set up at run time, so
// every routine may be called from any thread at any moment.
#pragma once

#include <cstdint>

namespace des {

constexpr unsigned kBlockSize = 8;
constexpr unsigned kKeySize = 8;

// The 16 subkeys of one key. Each round's eight six-bit groups are packed
// into two words at the places where the round function meets them: word 0
// holds the groups of S-boxes 1, 7, 5, 3 (bits 0, 8, 16, 24), word 1 those
// of S-boxes 2, 8, 6, 4. A schedule is key material: wipe it after use.
struct KeySchedule {
  uint32_t subkeys[16][2];
};

// Builds the schedule of the 8-byte key at `key`.
void setKey(const unsigned char* key, KeySchedule* schedule);

// Encrypt or decrypt the 8 bytes at `block` in place.
void encryptBlock(const KeySchedule& schedule, unsigned char* block);
void decryptBlock(const KeySchedule& schedule, unsigned char* block);

inline uint64_t loadBlock(const unsigned char* bytes) {
  uint64_t value = 0;
  for (unsigned i = 0; i < kBlockSize; ++i) value = (value << 8) | bytes[i];
  return value;
}

inline void storeBlock(uint64_t value, unsigned char* bytes) {
  for (unsigned i = kBlockSize; i-- > 0;) {
    bytes[i] = static_cast<unsigned char>(value);
    value >>= 8;
  }
}

namespace detail {

// The round domain holds each half rotated left by this many bits: then the
// first six-bit group of the expansion sits in the low bits of the word and
// the round function needs one rotation for the other four groups.
constexpr unsigned kHalfRotation = 5;

// All lookup tables of DES, computed at compile time (des.cc).
struct Tables {
  // S-box i combined with the permutation P, output in the rotated form.
  uint32_t spBoxes[8][64];
  // Initial and final permutation by nibbles: entry [p][v] is the image of
  // the block that holds the value v in nibble p (counted from the most
  // significant end) and zeros elsewhere; a block's image is the OR of its 16
  // nibble images. Both include the rotation of the halves.
  uint64_t initialPermutation[16][16];
  uint64_t finalPermutation[16][16];
};
extern const Tables kTables;

inline uint32_t rotateLeft(uint32_t value, unsigned count) {
  count &= 31;
  return count == 0 ? value : (value << count) | (value >> (32 - count));
}

inline uint64_t permuteByNibbles(const uint64_t (&table)[16][16], uint64_t block) {
  uint64_t result = 0;
  for (unsigned p = 0; p < 16; ++p) result |= table[p][(block >> (60 - 4 * p)) & 15];
  return result;
}

// The cipher function f of one round, for the right half in rotated form.
inline uint32_t feistel(uint32_t right, const uint32_t* subkey) {
  const uint32_t(&sp)[8][64] = kTables.spBoxes;
  const uint32_t u = right ^ subkey[0];
  const uint32_t t = rotateLeft(right, 4) ^ subkey[1];
  return sp[0][u & 63] ^ sp[6][(u >> 8) & 63] ^ sp[4][(u >> 16) & 63] ^ sp[2][(u >> 24) & 63] ^
         sp[1][t & 63] ^ sp[7][(t >> 8) & 63] ^ sp[5][(t >> 16) & 63] ^ sp[3][(t >> 24) & 63];
}

}  // namespace detail

// Into the round domain (the initial permutation) and out of it (the final
// permutation). leaveRoundDomain(enterRoundDomain(b)) == b.
inline uint64_t enterRoundDomain(uint64_t block) {
  return detail::permuteByNibbles(detail::kTables.initialPermutation, block);
}
inline uint64_t leaveRoundDomain(uint64_t state) {
  return detail::permuteByNibbles(detail::kTables.finalPermutation, state);
}

// The 16 rounds and the final swap of the halves, without the permutations:
// enterRoundDomain(E(b)) == encryptRounds(schedule, enterRoundDomain(b)).
inline uint64_t encryptRounds(const KeySchedule& schedule, uint64_t state) {
  uint32_t left = static_cast<uint32_t>(state >> 32);
  uint32_t right = static_cast<uint32_t>(state);
  for (unsigned round = 0; round < 16; round += 2) {
    left ^= detail::feistel(right, schedule.subkeys[round]);
    right ^= detail::feistel(left, schedule.subkeys[round + 1]);
  }
  return (static_cast<uint64_t>(right) << 32) | left;
}

// The same with the subkeys in reverse order, for decryption.
inline uint64_t decryptRounds(const KeySchedule& schedule, uint64_t state) {
  uint32_t left = static_cast<uint32_t>(state >> 32);
  uint32_t right = static_cast<uint32_t>(state);
  for (unsigned round = 16; round > 0; round -= 2) {
    left ^= detail::feistel(right, schedule.subkeys[round - 1]);
    right ^= detail::feistel(left, schedule.subkeys[round - 2]);
  }
  return (static_cast<uint64_t>(right) << 32) | left;
}

}  // namespace des
