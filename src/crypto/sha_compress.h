// The block functions behind SHA-1 and SHA-256: a portable one for every
// machine and one for x86 processors with the SHA extensions, chosen once at
// run time. Each consumes `count` whole 64-byte blocks into `state`.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ha_internal {

// The 64 round constants of SHA-256 (FIPS 180-4, 4.2.2).
extern const uint32_t kSha256RoundConstants[64];

void sha1CompressPortable(uint32_t state[5], const uint8_t* blocks, size_t count);
void sha256CompressPortable(uint32_t state[8], const uint8_t* blocks, size_t count);

// True when the processor has the SHA extensions (and the SSE4.1 the
// accelerated functions also use). The accelerated functions must not be
// called otherwise.
bool cpuHasShaExtensions();
void sha1CompressShaNi(uint32_t state[5], const uint8_t* blocks, size_t count);
void sha256CompressShaNi(uint32_t state[8], const uint8_t* blocks, size_t count);

// The accelerated function where the processor has it, else the portable one.
void sha1Compress(uint32_t state[5], const uint8_t* blocks, size_t count);
void sha256Compress(uint32_t state[8], const uint8_t* blocks, size_t count);

}  // namespace ha_internal
