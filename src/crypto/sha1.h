// SHA-1 with the Reset/Input/Result interface of RFC 3174.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/hash_result.h"

enum { HA_SHA1_BLOCK_SIZE = 64, HA_SHA1_DIGEST_SIZE = 20 };

struct haSHA1Context {
  uint32_t Intermediate_Hash[5];
  uint32_t Length_Low;  // message length in bits, low and high word
  uint32_t Length_High;
  uint32_t Message_Block_Index;  // bytes waiting in Message_Block
  uint8_t Message_Block[HA_SHA1_BLOCK_SIZE];
  int Computed;   // the digest is final; more input is refused
  int Corrupted;  // 0, or the result every later call returns
};

// Starts a new message. 1 for a null context.
int haSHA1Reset(haSHA1Context* context);

// Feeds `length` bytes. 0 at once for length 0; 1 for a null argument or a
// message longer than 2^64 - 1 bits (the context is then corrupted); 3 after
// the result was computed (the context is then corrupted).
int haSHA1Input(haSHA1Context* context, const void* data, size_t length);

// Completes the message, if not done yet, and writes the 20-byte digest; it
// may be called again for the same digest. 1 for a null argument, else the
// context's corruption mark.
int haSHA1Result(haSHA1Context* context, uint8_t digest[HA_SHA1_DIGEST_SIZE]);
