// SHA-256 with the Reset/Input/Result interface and results of SHA-1
// (see sha1.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/hash_result.h"

enum { HA_SHA256_BLOCK_SIZE = 64, HA_SHA256_DIGEST_SIZE = 32 };

struct haSHA256Context {
  uint32_t Intermediate_Hash[8];
  uint32_t Length_Low;  // message length in bits, low and high word
  uint32_t Length_High;
  uint32_t Message_Block_Index;
  uint8_t Message_Block[HA_SHA256_BLOCK_SIZE];
  int Computed;
  int Corrupted;
};

int haSHA256Reset(haSHA256Context* context);
int haSHA256Input(haSHA256Context* context, const void* data, size_t length);
int haSHA256Result(haSHA256Context* context, uint8_t digest[HA_SHA256_DIGEST_SIZE]);
