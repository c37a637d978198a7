// SHA-1 and SHA-256 block functions for x86 processors with the SHA
// extensions. The round instructions keep the working variables in two
// vector registers, the first word of a group in the highest lane:
//   SHA-1:   ABCD = {A, B, C, D} (A in lane 3), E added to the message lane 3
//   SHA-256: ABEF = {A, B, E, F} and CDGH = {C, D, G, H}
// Each round instruction does four (SHA-1) or two (SHA-256) rounds.
#include "crypto/sha_compress.h"

#if defined(__x86_64__) || defined(__i386__)

#include <cpuid.h>
#include <immintrin.h>

namespace ha_internal {

bool cpuHasShaExtensions() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid_max(0, nullptr) < 7) return false;
  __cpuid(1, eax, ebx, ecx, edx);
  const bool ssse3 = (ecx & (1u << 9)) != 0;
  const bool sse41 = (ecx & (1u << 19)) != 0;
  __cpuid_count(7, 0, eax, ebx, ecx, edx);
  const bool sha = (ebx & (1u << 29)) != 0;
  return ssse3 && sse41 && sha;
}

__attribute__((target("sha,sse4.1"))) void sha1CompressShaNi(uint32_t state[5], const uint8_t* blocks,
                                                             size_t count) {
  // Reverses all 16 bytes: the block's first big-endian word lands in lane 3.
  const __m128i kReverse = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
  __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
  __m128i eInitial = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);

  for (; count > 0; --count, blocks += 64) {
    const __m128i abcdSaved = abcd;
    const __m128i eSaved = eInitial;
    __m128i m[4];
    for (int i = 0; i < 4; ++i) {
      m[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * i)), kReverse);
    }
    __m128i e = _mm_add_epi32(eInitial, m[0]);
    __m128i groupStart = abcd;
    // Twenty groups of four rounds; m[g % 4] holds the words of group g.
#define NEBRIX_SHA1_GROUP(g)                                                                          \
  do {                                                                                                \
    groupStart = abcd;                                                                                \
    abcd = _mm_sha1rnds4_epu32(abcd, e, (g) / 5);                                                     \
    if ((g) < 19) {                                                                                   \
      if ((g) + 1 >= 4) {                                                                             \
        m[((g) + 1) & 3] = _mm_sha1msg2_epu32(                                                        \
            _mm_xor_si128(_mm_sha1msg1_epu32(m[((g) + 1) & 3], m[((g) + 2) & 3]), m[((g) + 3) & 3]),  \
            m[(g) & 3]);                                                                              \
      }                                                                                               \
      e = _mm_sha1nexte_epu32(groupStart, m[((g) + 1) & 3]);                                          \
    }                                                                                                 \
  } while (0)
    NEBRIX_SHA1_GROUP(0);
    NEBRIX_SHA1_GROUP(1);
    NEBRIX_SHA1_GROUP(2);
    NEBRIX_SHA1_GROUP(3);
    NEBRIX_SHA1_GROUP(4);
    NEBRIX_SHA1_GROUP(5);
    NEBRIX_SHA1_GROUP(6);
    NEBRIX_SHA1_GROUP(7);
    NEBRIX_SHA1_GROUP(8);
    NEBRIX_SHA1_GROUP(9);
    NEBRIX_SHA1_GROUP(10);
    NEBRIX_SHA1_GROUP(11);
    NEBRIX_SHA1_GROUP(12);
    NEBRIX_SHA1_GROUP(13);
    NEBRIX_SHA1_GROUP(14);
    NEBRIX_SHA1_GROUP(15);
    NEBRIX_SHA1_GROUP(16);
    NEBRIX_SHA1_GROUP(17);
    NEBRIX_SHA1_GROUP(18);
    NEBRIX_SHA1_GROUP(19);
#undef NEBRIX_SHA1_GROUP
    // E after the last group is A from its start rotated by 30, which
    // sha1nexte adds to the saved E.
    eInitial = _mm_sha1nexte_epu32(groupStart, eSaved);
    abcd = _mm_add_epi32(abcd, abcdSaved);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1B));
  state[4] = static_cast<uint32_t>(_mm_extract_epi32(eInitial, 3));
}

__attribute__((target("sha,sse4.1"))) void sha256CompressShaNi(uint32_t state[8], const uint8_t* blocks,
                                                               size_t count) {
  // Swaps the bytes of each 32-bit lane: big-endian words in memory order.
  const __m128i kSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
  // {a, b, c, d} and {e, f, g, h} (lane 0 first) to ABEF and CDGH.
  __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0xB1);  // b a d c
  __m128i efgh = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4)), 0x1B);  // h g f e
  __m128i abef = _mm_alignr_epi8(abcd, efgh, 8);   // f e b a
  __m128i cdgh = _mm_blend_epi16(efgh, abcd, 0xF0);  // h g d c
  const __m128i* k = reinterpret_cast<const __m128i*>(kSha256RoundConstants);

  for (; count > 0; --count, blocks += 64) {
    const __m128i abefSaved = abef;
    const __m128i cdghSaved = cdgh;
    __m128i m[4];
    for (int i = 0; i < 4; ++i) {
      m[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * i)), kSwap);
    }
    // Sixteen groups of four rounds; m[g % 4] holds the words of group g and
    // is replaced by those of group g + 4 once used.
#define NEBRIX_SHA256_GROUP(g)                                                                        \
  do {                                                                                                \
    __m128i wk = _mm_add_epi32(m[(g) & 3], _mm_loadu_si128(k + (g)));                                 \
    cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);                                                     \
    abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(wk, 0x0E));                            \
    if ((g) < 12) {                                                                                   \
      __m128i next = _mm_sha256msg1_epu32(m[(g) & 3], m[((g) + 1) & 3]);                              \
      next = _mm_add_epi32(next, _mm_alignr_epi8(m[((g) + 3) & 3], m[((g) + 2) & 3], 4));             \
      m[(g) & 3] = _mm_sha256msg2_epu32(next, m[((g) + 3) & 3]);                                      \
    }                                                                                                 \
  } while (0)
    NEBRIX_SHA256_GROUP(0);
    NEBRIX_SHA256_GROUP(1);
    NEBRIX_SHA256_GROUP(2);
    NEBRIX_SHA256_GROUP(3);
    NEBRIX_SHA256_GROUP(4);
    NEBRIX_SHA256_GROUP(5);
    NEBRIX_SHA256_GROUP(6);
    NEBRIX_SHA256_GROUP(7);
    NEBRIX_SHA256_GROUP(8);
    NEBRIX_SHA256_GROUP(9);
    NEBRIX_SHA256_GROUP(10);
    NEBRIX_SHA256_GROUP(11);
    NEBRIX_SHA256_GROUP(12);
    NEBRIX_SHA256_GROUP(13);
    NEBRIX_SHA256_GROUP(14);
    NEBRIX_SHA256_GROUP(15);
#undef NEBRIX_SHA256_GROUP
    abef = _mm_add_epi32(abef, abefSaved);
    cdgh = _mm_add_epi32(cdgh, cdghSaved);
  }
  const __m128i abefInOrder = _mm_shuffle_epi32(abef, 0x1B);  // a b e f
  const __m128i ghcd = _mm_shuffle_epi32(cdgh, 0xB1);          // g h c d
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(abefInOrder, ghcd, 0xF0));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(ghcd, abefInOrder, 8));
}

}  // namespace ha_internal

#else  // not x86: only the portable functions exist

namespace ha_internal {

bool cpuHasShaExtensions() { return false; }
void sha1CompressShaNi(uint32_t state[5], const uint8_t* blocks, size_t count) {
  sha1CompressPortable(state, blocks, count);
}
void sha256CompressShaNi(uint32_t state[8], const uint8_t* blocks, size_t count) {
  sha256CompressPortable(state, blocks, count);
}

}  // namespace ha_internal

#endif
