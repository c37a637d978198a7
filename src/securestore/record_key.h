// What a record key and a value may look like when a record is inserted or
// replaced. A key has at most 64 characters from "A-Z _ / 0-9" and a
// non-empty namespace prefix before its first "/" (such as "ORQ/..."). A
// value is limited by its kind; lengths count characters (bytes of the
// text) or bytes before any encoding:
//   character, plaintext   32768     binary, plaintext                  32768
//   character, encrypted     128     binary, encrypted, DER sequence    32768
//                                    binary, encrypted, other             128
#pragma once

#include <cstddef>

#include "securestore/rsecssfs.h"

constexpr size_t kMaxRecordKeyLength = 64;
constexpr size_t kMaxPlaintextValueLength = 32768;
constexpr size_t kMaxEncryptedBinaryDerLength = 32768;
constexpr size_t kMaxEncryptedValueLength = 128;
constexpr char kRecordKeyCharacters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ_/0123456789";

// RC -1 with a message when the key is longer than 64 characters.
RSEC_SSFS_RC rsecssfs_checkRecordKeyLength(const char* key);

// The character rule, then the slash rule: RC -1 with a message.
RSEC_SSFS_RC rsecssfs_checkRecordKeyFormat(const char* key);

// Whether `length` bytes form exactly one DER sequence (0x30, then a
// definite length of up to three bytes that accounts for every byte).
bool rsecssfs_isDerSequence(const unsigned char* value, size_t length);

// RC 2 with a message when the value exceeds the limit of its kind; pass
// the character value or the binary value (the other is ignored).
RSEC_SSFS_RC rsecssfs_checkValueLength(const char* key, bool isBinary, bool isPlaintext, const char* valueC,
                                       const unsigned char* valueX, size_t valueXLength);
