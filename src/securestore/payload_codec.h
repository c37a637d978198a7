// The payload of a record, the bytes after its data header.
//
// Plaintext: the binary value's bytes, or the character value as UTF-8
// without terminator; n bytes, n possibly 0.
//
// Encrypted: T bytes, T the smallest multiple of 128 that holds n + 32,
// encrypted as a whole with the payload cipher under a 24-byte key (24 zero
// bytes select the cipher's built-in key). Before encryption:
//   offset  size
//        0     8  random bytes
//        8     4  n, the length of the value data, big-endian
//       12    20  SHA-1 of bytes 0..11, then bytes 32..T-1
//       32     n  value data (binary, or the characters as UTF-8)
//   32 + n   ...  random fill up to T
// A decryption is taken as right only when n + 32 fits and the SHA-1 matches.
// Reading tries the current key, then the default key, then the migration
// key and the new key when given.
#pragma once

#include <cstddef>

#include "securestore/rsecssfs.h"

constexpr size_t kEncryptionKeySize = 24;
constexpr size_t kEncryptedHeaderSize = 32;
constexpr size_t kEncryptionBlock = 128;
constexpr size_t kMaxEncryptedDataLength = 32768;

// The key when there is no key file: 24 zero bytes.
extern const unsigned char rsecssfsDefaultGlobalKey[kEncryptionKeySize];

// The value as the application sees it. A decoded value (pValueX or pValueC)
// belongs to the payload; rsecssfs_releaseApplicationPayload wipes and
// frees it.
struct rsecssfsApplicationPayload {
  bool isRemoval;
  bool isPlaintext;
  bool isBinary;
  const unsigned char* pValueX;
  size_t length;
  const char* pValueC;
};

void rsecssfs_releaseApplicationPayload(rsecssfsApplicationPayload* payload);

// The stored length of an encrypted value of n bytes.
size_t rsecssfs_encryptedPayloadLength(size_t n);

// Encodes a value into payload bytes, allocated for the caller. On failure
// (-4 conversion, -8 random source, -9 memory) the output is null and 0.
RSEC_SSFS_RC rsecssfs_getPayloadRecordDataFromApplicationData(const rsecssfsApplicationPayload* payload,
                                                              const unsigned char* pEncryptionKey,
                                                              size_t* pPayloadLength,
                                                              unsigned char** ppPayload);

// Decodes stored payload bytes; the migration key and the new key may be
// null. RC -6 for a malformed encrypted payload, -5 when no key opens it.
RSEC_SSFS_RC rsecssfs_getPayloadApplicationDataFromRecordData(
    size_t payloadLength, const unsigned char* pPayloadRead, const unsigned char* pRecordIdentifierA7,
    bool isStoredAsPlaintext, bool isStoredAsBinary, const unsigned char* pEncryptionKeyCurrent,
    const unsigned char* pEncryptionKeyForMigration, const unsigned char* pEncryptionKeyNew,
    rsecssfsApplicationPayload* pApplicationPayload, rsecssfsKeySource* pKeySource);

// Whether a decrypted payload carries a consistent length and digest.
bool rsecssfs_checkEncryptedPayloadIsCorrect(const unsigned char* pPayload, size_t payloadLength);
