// The version-1 block mode of single DES, and the two-key triple-DES
// decryption that deciphers the built-in default payload key.
//
// Version-1 block mode is cipher block chaining from an all-zero chaining
// block over the full 8-byte blocks. A final partial block of r bytes
// (1 to 7) is XORed with the first r bytes of the DES encryption of the last
// full ciphertext block, or of 8 zero bytes when the buffer is shorter than
// one block (residual block termination). Decryption undoes this tail with
// DES encryption too, so a buffer keeps its length in both directions.
//
// All routines work in place; a length of 0 leaves the buffer untouched.
#pragma once

#include <cstdint>

// Encrypts `length` bytes at `data` in place under the DES key formed by
// the first min(keyLength, 8) bytes at `key`, zero-padded to 8.
void rsecebv1__encode_block_v1(const unsigned char* key, uint32_t keyLength, unsigned char* data,
                               uint32_t length);

// The inverse of rsecebv1__encode_block_v1 for the same key.
void rsecdbv1__decode_block_v1(const unsigned char* key, uint32_t keyLength, unsigned char* data,
                               uint32_t length);

// Two-key triple-DES decryption in place: K1 is the first 8 key bytes, K2
// the next 8 (both zero-padded where keyLength is shorter; bytes past 16
// are ignored). Every full block X becomes D(K1, E(K2, D(K1, X))) XORed with
// the previous input block (zero for the first). A trailing partial block is
// left as it is.
void rsectd__t_decryptoC(const unsigned char* key, uint32_t keyLength, unsigned char* data,
                         uint32_t length);
