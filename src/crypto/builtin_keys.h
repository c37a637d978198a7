// The built-in default keys of the payload cipher. The program holds them
// only enciphered; each call deciphers a key into the caller's buffer, which
// the caller wipes with secureWipe as soon as it is done with it.
#pragma once

constexpr unsigned kDefaultPayloadKeySize = 24;
constexpr unsigned kDefaultDesKeySize = 8;

// The 24-byte key that replaces a payload key of 24 zero bytes.
void decipherDefaultPayloadKey(unsigned char* key);

// The 8-byte single-DES key of rsecedv1_encode_default_v1.
void decipherDefaultDesKey(unsigned char* key);
