// MD5 (RFC 1321) with the Reset/Input/Result interface and results of SHA-1
// (see sha1.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/hash_result.h"

enum { HA_MD5_BLOCK_SIZE = 64, HA_MD5_DIGEST_SIZE = 16 };

struct haMD5Context {
  uint32_t Intermediate_Hash[4];
  uint32_t Length_Low;  // message length in bits, low and high word
  uint32_t Length_High;
  uint32_t Message_Block_Index;
  uint8_t Message_Block[HA_MD5_BLOCK_SIZE];
  int Computed;
  int Corrupted;
};

int haMD5Reset(haMD5Context* context);
int haMD5Input(haMD5Context* context, const void* data, size_t length);
int haMD5Result(haMD5Context* context, uint8_t digest[HA_MD5_DIGEST_SIZE]);
