// OpenSSL's single DES, the reference our DES and block modes are checked
// against, and seeded random test data.
#pragma once

#include <openssl/des.h>

#include <cstring>
#include <random>
#include <vector>

namespace des_oracle {

inline std::vector<unsigned char> randomBytes(std::mt19937& generator, size_t count) {
  std::vector<unsigned char> bytes(count);
  for (unsigned char& byte : bytes) byte = static_cast<unsigned char>(generator());
  return bytes;
}

// One block in place with DES_ENCRYPT or DES_DECRYPT, or cipher block
// chaining from a zero block over a multiple of 8 bytes.
inline void des(const unsigned char* key, unsigned char* data, size_t length, bool chained,
                int direction = DES_ENCRYPT) {
  DES_cblock keyBlock, iv = {};
  memcpy(keyBlock, key, 8);
  DES_key_schedule schedule;
  DES_set_key_unchecked(&keyBlock, &schedule);
  if (chained) {
    DES_ncbc_encrypt(data, data, static_cast<long>(length), &schedule, &iv, direction);
  } else {
    memcpy(iv, data, 8);
    DES_ecb_encrypt(&iv, reinterpret_cast<DES_cblock*>(data), &schedule, direction);
  }
}

}  // namespace des_oracle
