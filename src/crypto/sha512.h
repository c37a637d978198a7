// SHA-512 and SHA-384 (the same function with other initial values and a
// shorter digest) with the Reset/Input/Result interface and results of SHA-1
// (see sha1.h). The message length is counted in 128 bits.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/hash_result.h"

enum {
  HA_SHA512_BLOCK_SIZE = 128,
  HA_SHA512_DIGEST_SIZE = 64,
  HA_SHA384_BLOCK_SIZE = 128,
  HA_SHA384_DIGEST_SIZE = 48,
};

struct haSHA512Context {
  uint64_t Intermediate_Hash[8];
  uint64_t Length_Low;  // message length in bits, low and high word
  uint64_t Length_High;
  uint32_t Message_Block_Index;
  uint8_t Message_Block[HA_SHA512_BLOCK_SIZE];
  int Computed;
  int Corrupted;
};
typedef haSHA512Context haSHA384Context;

int haSHA512Reset(haSHA512Context* context);
int haSHA512Input(haSHA512Context* context, const void* data, size_t length);
int haSHA512Result(haSHA512Context* context, uint8_t digest[HA_SHA512_DIGEST_SIZE]);

int haSHA384Reset(haSHA384Context* context);
int haSHA384Input(haSHA384Context* context, const void* data, size_t length);
int haSHA384Result(haSHA384Context* context, uint8_t digest[HA_SHA384_DIGEST_SIZE]);
