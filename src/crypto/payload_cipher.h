// The payload cipher of the secure store: three-key triple DES in an
// encrypt-decrypt-encrypt arrangement whose three stages each run over the
// whole buffer in the version-1 block mode (des_block_mode.h), each with its
// own chaining from zero:
//
//   encryption:  encrypt under K1, decrypt under K2, encrypt under K3
//   decryption:  decrypt under K3, encrypt under K2, decrypt under K1
//
// Key. `key` must point to 24 readable bytes. If all 24 are zero (whatever
// keyLength says) the built-in default key takes their place. Of the key,
// min(keyLength, 24) bytes are used: K1 = bytes 0-7, K2 = 8-15, K3 = 16-23,
// and bytes past the key length are zero (keyLength 5 gives K1 of five key
// bytes and three zeros, K2 = K3 = 0).
//
// Modifier. `modifier` is null or points to 5 bytes m0..m4 that are XORed
// into the keys before use:
//
//   K1[6] ^= m0 & 0x0F   K1[1] ^= m0 & 0xF0   K2[5] ^= m1 & 0x0F
//   K2[2] ^= m1 & 0xF0   K3[4] ^= m2 & 0x0F   K3[3] ^= m2 & 0xF0
//   K1[7] ^= m3 & 0xF0   K3[0] ^= m4 & 0x0F
//
// Both work in place and keep the length; a length of 0 changes nothing.
// A wrong key is not detected: the caller checks what it decrypted.
#pragma once

#include <cstdint>

void RSecPEncrypt(const unsigned char* key, uint16_t keyLength, unsigned char* data,
                  uint16_t dataLength, const unsigned char* modifier);

// The exact inverse of RSecPEncrypt for the same key, key length and
// modifier.
void RSecPDecrypt(const unsigned char* key, uint16_t keyLength, unsigned char* data,
                  uint16_t dataLength, const unsigned char* modifier);

// Encrypts `length` bytes in place with single DES in the version-1 block
// mode under the built-in single-DES default key. Returns 1 and leaves the
// data alone when length is below 8, else 0. The secure store turns its
// obscured record checksum key into the real one with it.
int rsecedv1_encode_default_v1(unsigned char* data, uint32_t length);
