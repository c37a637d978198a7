#include "crypto/builtin_keys.h"

#include <cstring>

#include "crypto/des_block_mode.h"

namespace {

// These four values must never change. Every record encrypted under the
// default key, and every record checksum (its key is derived with the
// single-DES default key), can be read back only with exactly these bytes,
// by this and by every later version of the program.

// The default payload key, enciphered with two-key triple DES in cipher block
// chaining (see rsectd__t_decryptoC) under the key that follows.
constexpr unsigned char kDefaultPayloadKeyEnciphered[kDefaultPayloadKeySize] = {
    0xdb, 0xea, 0xf4, 0xa2, 0x12, 0x20, 0xc2, 0x06, 0x85, 0x57, 0x0e, 0x56,
    0xda, 0x3c, 0xa1, 0x9d, 0x3a, 0xfb, 0x15, 0x56, 0xec, 0x6e, 0xae, 0xd9};
constexpr unsigned char kDefaultPayloadKeyDecipheringKey[16] = {
    0x54, 0x84, 0x76, 0xee, 0x2c, 0x22, 0xde, 0x51,
    0x32, 0x51, 0xab, 0x45, 0xc3, 0xb1, 0x7b, 0xec};

// The single-DES default key, enciphered with one DES encryption under the
// key that follows.
constexpr unsigned char kDefaultDesKeyEnciphered[kDefaultDesKeySize] = {
    0x23, 0x5e, 0x7a, 0xf8, 0xfa, 0xa6, 0x4e, 0xb7};
constexpr unsigned char kDefaultDesKeyDecipheringKey[8] = {
    0x15, 0x26, 0xbf, 0x5b, 0x7e, 0xcf, 0x9a, 0xf8};

}  // namespace

void decipherDefaultPayloadKey(unsigned char* key) {
  memcpy(key, kDefaultPayloadKeyEnciphered, kDefaultPayloadKeySize);
  rsectd__t_decryptoC(kDefaultPayloadKeyDecipheringKey, sizeof kDefaultPayloadKeyDecipheringKey,
                      key, kDefaultPayloadKeySize);
}

void decipherDefaultDesKey(unsigned char* key) {
  memcpy(key, kDefaultDesKeyEnciphered, kDefaultDesKeySize);
  rsecdbv1__decode_block_v1(kDefaultDesKeyDecipheringKey, sizeof kDefaultDesKeyDecipheringKey, key,
                            kDefaultDesKeySize);
}
