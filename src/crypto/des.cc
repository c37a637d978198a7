#include "crypto/des.h"

namespace des {
namespace {

// The tables of FIPS 46-3. Bit positions count from 1 at the most
// significant end, as the standard does.

constexpr unsigned char kInitialPermutationBits[64] = {
    58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
    62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
    57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
    61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};

constexpr unsigned char kPermutationP[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23,
                                             26, 5, 18, 31, 10, 2,  8,  24, 14, 32, 27,
                                             3,  9, 19, 13, 30, 6,  22, 11, 4,  25};

constexpr unsigned char kSBoxes[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8,  3,  10, 6,  12, 5,  9,  0, 7,
     0,  15, 7,  4, 14, 2,  13, 1,  10, 6,  12, 11, 9,  5,  3, 8,
     4,  1,  14, 8, 13, 6,  2,  11, 15, 12, 9,  7,  3,  10, 5, 0,
     15, 12, 8,  2, 4,  9,  1,  7,  5,  11, 3,  14, 10, 0,  6, 13},
    {15, 1,  8,  14, 6,  11, 3,  4,  9,  7, 2,  13, 12, 0, 5,  10,
     3,  13, 4,  7,  15, 2,  8,  14, 12, 0, 1,  10, 6,  9, 11, 5,
     0,  14, 7,  11, 10, 4,  13, 1,  5,  8, 12, 6,  9,  3, 2,  15,
     13, 8,  10, 1,  3,  15, 4,  2,  11, 6, 7,  12, 0,  5, 14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7,  11, 4,  2,  8,
     13, 7,  0,  9,  3, 4,  6,  10, 2,  8,  5,  14, 12, 11, 15, 1,
     13, 6,  4,  9,  8, 15, 3,  0,  11, 1,  2,  12, 5,  10, 14, 7,
     1,  10, 13, 0,  6, 9,  8,  7,  4,  15, 14, 3,  11, 5,  2,  12},
    {7,  13, 14, 3, 0,  6,  9,  10, 1,  2, 8, 5,  11, 12, 4,  15,
     13, 8,  11, 5, 6,  15, 0,  3,  4,  7, 2, 12, 1,  10, 14, 9,
     10, 6,  9,  0, 12, 11, 7,  13, 15, 1, 3, 14, 5,  2,  8,  4,
     3,  15, 0,  6, 10, 1,  13, 8,  9,  4, 5, 11, 12, 7,  2,  14},
    {2,  12, 4,  1,  7,  10, 11, 6,  8,  5,  3,  15, 13, 0, 14, 9,
     14, 11, 2,  12, 4,  7,  13, 1,  5,  0,  15, 10, 3,  9, 8,  6,
     4,  2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,  6,  3, 0,  14,
     11, 8,  12, 7,  1,  14, 2,  13, 6,  15, 0,  9,  10, 4, 5,  3},
    {12, 1,  10, 15, 9, 2,  6,  8,  0,  13, 3,  4,  14, 7,  5,  11,
     10, 15, 4,  2,  7, 12, 9,  5,  6,  1,  13, 14, 0,  11, 3,  8,
     9,  14, 15, 5,  2, 8,  12, 3,  7,  0,  4,  10, 1,  13, 11, 6,
     4,  3,  2,  12, 9, 5,  15, 10, 11, 14, 1,  7,  6,  0,  8,  13},
    {4,  11, 2,  14, 15, 0, 8,  13, 3,  12, 9, 7,  5,  10, 6, 1,
     13, 0,  11, 7,  4,  9, 1,  10, 14, 3,  5, 12, 2,  15, 8, 6,
     1,  4,  11, 13, 12, 3, 7,  14, 10, 15, 6, 8,  0,  5,  9, 2,
     6,  11, 13, 8,  1,  4, 10, 7,  9,  5,  0, 15, 14, 2,  3, 12},
    {13, 2,  8,  4, 6,  15, 11, 1,  10, 9,  3,  14, 5,  0,  12, 7,
     1,  15, 13, 8, 10, 3,  7,  4,  12, 5,  6,  11, 0,  14, 9,  2,
     7,  11, 4,  1, 9,  12, 14, 2,  0,  6,  10, 13, 15, 3,  5,  8,
     2,  1,  14, 7, 4,  10, 8,  13, 15, 12, 9,  0,  3,  5,  6,  11}};

// Permuted choice 1: the first 28 entries form C, the others D.
constexpr unsigned char kPermutedChoice1[56] = {
    57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18, 10, 2,  59, 51, 43,
    35, 27, 19, 11, 3,  60, 52, 44, 36, 63, 55, 47, 39, 31, 23, 15, 7,  62, 54,
    46, 38, 30, 22, 14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};

// Permuted choice 2, over the 56 bits of C followed by D; entries 6i+1 to
// 6i+6 form the six-bit group that meets S-box i+1.
constexpr unsigned char kPermutedChoice2[48] = {
    14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,
    26, 8,  16, 7,  27, 20, 13, 2,  41, 52, 31, 37, 47, 55, 30, 40,
    51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};

constexpr unsigned char kLeftShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

// Where each S-box's group goes in KeySchedule::subkeys[round]: word, shift.
constexpr unsigned char kGroupWord[8] = {0, 1, 0, 1, 0, 1, 0, 1};
constexpr unsigned char kGroupShift[8] = {0, 0, 24, 24, 16, 16, 8, 8};

constexpr uint64_t bit64(unsigned position) { return uint64_t{1} << (64 - position); }
constexpr uint32_t bit32(unsigned position) { return uint32_t{1} << (32 - position); }

constexpr uint32_t rotateLeft(uint32_t value, unsigned count) {
  return count % 32 == 0 ? value : (value << count % 32) | (value >> (32 - count % 32));
}

// Rotates both halves of a 64-bit block by `count` bits (into the rotated
// form; 32 - count leaves it again).
constexpr uint64_t rotateHalves(uint64_t block, unsigned count) {
  return (uint64_t{rotateLeft(static_cast<uint32_t>(block >> 32), count)} << 32) |
         rotateLeft(static_cast<uint32_t>(block), count);
}

constexpr uint64_t initialPermutation(uint64_t block) {
  uint64_t result = 0;
  for (unsigned j = 1; j <= 64; ++j) {
    if (block & bit64(kInitialPermutationBits[j - 1])) result |= bit64(j);
  }
  return result;
}

// The inverse of the initial permutation: bit j goes back to where it came from.
constexpr uint64_t finalPermutation(uint64_t block) {
  uint64_t result = 0;
  for (unsigned j = 1; j <= 64; ++j) {
    if (block & bit64(j)) result |= bit64(kInitialPermutationBits[j - 1]);
  }
  return result;
}

// S-box `box` for the six input bits b1..b6 (b1 most significant): b1 b6
// choose the row, b2..b5 the column; the four output bits take positions
// 4 box + 1 to 4 box + 4 before P.
constexpr uint32_t spBox(unsigned box, unsigned input) {
  const unsigned row = ((input >> 4) & 2) | (input & 1);
  const unsigned column = (input >> 1) & 15;
  const uint32_t beforeP = uint32_t{kSBoxes[box][row * 16 + column]} << (28 - 4 * box);
  uint32_t result = 0;
  for (unsigned j = 1; j <= 32; ++j) {
    if (beforeP & bit32(kPermutationP[j - 1])) result |= bit32(j);
  }
  return result;
}

constexpr detail::Tables buildTables() {
  detail::Tables tables{};
  for (unsigned box = 0; box < 8; ++box) {
    for (unsigned input = 0; input < 64; ++input) {
      tables.spBoxes[box][input] = rotateLeft(spBox(box, input), detail::kHalfRotation);
    }
  }
  for (unsigned p = 0; p < 16; ++p) {
    for (unsigned v = 0; v < 16; ++v) {
      const uint64_t block = uint64_t{v} << (60 - 4 * p);
      tables.initialPermutation[p][v] =
          rotateHalves(initialPermutation(block), detail::kHalfRotation);
      tables.finalPermutation[p][v] =
          finalPermutation(rotateHalves(block, 32 - detail::kHalfRotation));
    }
  }
  return tables;
}

}  // namespace

namespace detail {
constexpr Tables kTables = buildTables();
}  // namespace detail

void setKey(const unsigned char* key, KeySchedule* schedule) {
  const uint64_t keyBits = loadBlock(key);
  uint32_t c = 0;
  uint32_t d = 0;
  for (unsigned i = 0; i < 28; ++i) {
    c = (c << 1) | ((keyBits & bit64(kPermutedChoice1[i])) != 0);
    d = (d << 1) | ((keyBits & bit64(kPermutedChoice1[28 + i])) != 0);
  }
  constexpr uint32_t kMask28 = (uint32_t{1} << 28) - 1;
  for (unsigned round = 0; round < 16; ++round) {
    const unsigned shift = kLeftShifts[round];
    c = ((c << shift) | (c >> (28 - shift))) & kMask28;
    d = ((d << shift) | (d >> (28 - shift))) & kMask28;
    // Bit 1 of C followed by D sits at bit 55 of this word.
    const uint64_t cd = (uint64_t{c} << 28) | d;
    uint32_t words[2] = {0, 0};
    for (unsigned group = 0; group < 8; ++group) {
      uint32_t value = 0;
      for (unsigned b = 0; b < 6; ++b) {
        const unsigned position = kPermutedChoice2[6 * group + b];
        value = (value << 1) | static_cast<uint32_t>((cd >> (56 - position)) & 1);
      }
      words[kGroupWord[group]] |= value << kGroupShift[group];
    }
    schedule->subkeys[round][0] = words[0];
    schedule->subkeys[round][1] = words[1];
  }
}

void encryptBlock(const KeySchedule& schedule, unsigned char* block) {
  storeBlock(leaveRoundDomain(encryptRounds(schedule, enterRoundDomain(loadBlock(block)))), block);
}

void decryptBlock(const KeySchedule& schedule, unsigned char* block) {
  storeBlock(leaveRoundDomain(decryptRounds(schedule, enterRoundDomain(loadBlock(block)))), block);
}

}  // namespace des
