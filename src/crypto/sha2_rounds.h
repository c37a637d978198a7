// The compression of SHA-256 and SHA-512: one algorithm over 32- or 64-bit
// words, differing only in word size, number of rounds, round constants and
// rotation amounts, which the traits supply.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/hash_byte_order.h"
#include "crypto/secure_wipe.h"

namespace ha_internal {

struct Sha256Traits {
  using Word = uint32_t;
  static constexpr int kRounds = 64;
  static Word load(const uint8_t* p) { return loadBE32(p); }
  static Word rotr(Word x, unsigned n) { return rotr32(x, n); }
  static Word smallSigma0(Word x) { return rotr(x, 7) ^ rotr(x, 18) ^ (x >> 3); }
  static Word smallSigma1(Word x) { return rotr(x, 17) ^ rotr(x, 19) ^ (x >> 10); }
  static Word bigSigma0(Word x) { return rotr(x, 2) ^ rotr(x, 13) ^ rotr(x, 22); }
  static Word bigSigma1(Word x) { return rotr(x, 6) ^ rotr(x, 11) ^ rotr(x, 25); }
};

struct Sha512Traits {
  using Word = uint64_t;
  static constexpr int kRounds = 80;
  static Word load(const uint8_t* p) { return loadBE64(p); }
  static Word rotr(Word x, unsigned n) { return rotr64(x, n); }
  static Word smallSigma0(Word x) { return rotr(x, 1) ^ rotr(x, 8) ^ (x >> 7); }
  static Word smallSigma1(Word x) { return rotr(x, 19) ^ rotr(x, 61) ^ (x >> 6); }
  static Word bigSigma0(Word x) { return rotr(x, 28) ^ rotr(x, 34) ^ rotr(x, 39); }
  static Word bigSigma1(Word x) { return rotr(x, 14) ^ rotr(x, 18) ^ rotr(x, 41); }
};

// Runs `count` blocks of 16 words through the eight state words.
template <typename Traits>
void sha2Compress(typename Traits::Word state[8], const typename Traits::Word* roundConstants,
                  const uint8_t* blocks, size_t count) {
  using Word = typename Traits::Word;
  Word w[Traits::kRounds];
  for (; count > 0; --count, blocks += 16 * sizeof(Word)) {
    for (int t = 0; t < 16; ++t) w[t] = Traits::load(blocks + sizeof(Word) * t);
    for (int t = 16; t < Traits::kRounds; ++t) {
      w[t] = w[t - 16] + Traits::smallSigma0(w[t - 15]) + w[t - 7] + Traits::smallSigma1(w[t - 2]);
    }
    Word a = state[0], b = state[1], c = state[2], d = state[3];
    Word e = state[4], f = state[5], g = state[6], h = state[7];
    for (int t = 0; t < Traits::kRounds; ++t) {
      const Word t1 = h + Traits::bigSigma1(e) + (g ^ (e & (f ^ g))) + roundConstants[t] + w[t];
      const Word t2 = Traits::bigSigma0(a) + ((a & b) | (c & (a | b)));
      h = g;
      g = f;
      f = e;
      e = d + t1;
      d = c;
      c = b;
      b = a;
      a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
  }
  secureWipe(w, sizeof w);
}

}  // namespace ha_internal
