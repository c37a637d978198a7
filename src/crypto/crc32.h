// CRC-32 with the reflected polynomial of ISO 3309 (0xEDB88320), initial
// value all ones and final inversion, with the Reset/Input/Result interface
// and results of SHA-1 (see sha1.h). The 4-byte digest is the CRC, most
// significant byte first.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/hash_result.h"

enum { HA_CRC32_BLOCK_SIZE = 4, HA_CRC32_DIGEST_SIZE = 4 };

struct haCRC32Context {
  uint32_t crc;  // the running register; the final CRC once computed
  int Computed;
  int Corrupted;
};

int haCRC32Reset(haCRC32Context* context);
int haCRC32Input(haCRC32Context* context, const void* data, size_t length);
int haCRC32Result(haCRC32Context* context, uint8_t digest[HA_CRC32_DIGEST_SIZE]);
