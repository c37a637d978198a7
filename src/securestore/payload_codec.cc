#include "securestore/payload_codec.h"

#include <cstdint>
#include <cstring>

#include "crypto/payload_cipher.h"
#include "crypto/random_generator.h"
#include "crypto/secure_wipe.h"
#include "crypto/sha1.h"
#include "securestore/byte_fields.h"
#include "securestore/checked_allocator.h"
#include "securestore/diagnostics.h"
#include "securestore/record_format.h"
#include "securestore/utf8_conversion.h"

const unsigned char rsecssfsDefaultGlobalKey[kEncryptionKeySize] = {};

namespace {

constexpr size_t kRandomPrefixSize = 8;
constexpr size_t kLengthOffset = 8;
constexpr size_t kDigestOffset = 12;
// The cipher takes a 16-bit length.
constexpr size_t kMaxCipherLength = UINT16_MAX;

// SHA-1 of bytes 0..11 and 32..length-1: the prefix, the value data and the
// fill.
void payloadDigest(const unsigned char* payload, size_t length, unsigned char digest[HA_SHA1_DIGEST_SIZE]) {
  haSHA1Context context;
  haSHA1Reset(&context);
  haSHA1Input(&context, payload, kDigestOffset);
  if (length > kEncryptedHeaderSize)
    haSHA1Input(&context, payload + kEncryptedHeaderSize, length - kEncryptedHeaderSize);
  haSHA1Result(&context, digest);
  secureWipe(&context, sizeof context);
}

RSEC_SSFS_RC randomBytes(unsigned char* buffer, size_t length) {
  if (length == 0) return RSEC_SSFS_RC_OK;
  const int rc = Rng_PseudoRandomConvenience(buffer, length);
  if (rc == 0) return RSEC_SSFS_RC_OK;
  RSECSSFS_TRACE(RSECSSFS_TRCERR, "Random number generator return code %d", rc);
  return RSEC_SSFS_RC_SEE_TRACE_FILE;
}

// Places the value data at `out` (binary copied, text converted to UTF-8
// into `room` bytes) and sets *n.
RSEC_SSFS_RC placeValue(const rsecssfsApplicationPayload* payload, unsigned char* out, size_t room,
                        size_t* n) {
  if (payload->isBinary) {
    if (payload->length > 0) std::memcpy(out, payload->pValueX, payload->length);
    *n = payload->length;
    return RSEC_SSFS_RC_OK;
  }
  unsigned char* cursor = out;
  const char* in = payload->pValueC;
  const int rc = RSecSSFsUcnToUtf8n(&cursor, out + room, &in, in + std::strlen(in), 0, nullptr);
  if (rc != 0) {
    RSECSSFS_TRACE(RSECSSFS_TRCERR, "UTF8 conversion failed with returncode %d", rc);
    return RSEC_SSFS_RC_UTF8_CONVERSION;
  }
  *n = static_cast<size_t>(cursor - out);
  return RSEC_SSFS_RC_OK;
}

RSEC_SSFS_RC encodePlaintext(const rsecssfsApplicationPayload* payload, size_t room, size_t* length,
                             unsigned char** out) {
  auto* buffer = static_cast<unsigned char*>(RSECSSFS_ALLOC(room + 1));
  if (buffer == nullptr) return RSEC_SSFS_RC_LOW_MEMORY;
  size_t n = 0;
  const RSEC_SSFS_RC rc = placeValue(payload, buffer, room, &n);
  if (rc != RSEC_SSFS_RC_OK) {
    RSECSSFS_WIPE_AND_FREE(buffer, room + 1);
    return rc;
  }
  RSECSSFS_TRACE(RSECSSFS_TRC3,
                 payload->isBinary ? "Payload value::" : "Payload value after UTF-8 encoding::");
  RSECSSFS_HEXTRACE(buffer, n, 0);
  *length = n;
  *out = buffer;
  return RSEC_SSFS_RC_OK;
}

RSEC_SSFS_RC encodeEncrypted(const rsecssfsApplicationPayload* payload, const unsigned char* key, size_t room,
                             size_t* length, unsigned char** out) {
  const size_t areaSize = kEncryptedHeaderSize + room + kEncryptionBlock + 1;
  auto* area = static_cast<unsigned char*>(RSECSSFS_ALLOC(areaSize));
  if (area == nullptr) return RSEC_SSFS_RC_LOW_MEMORY;
  size_t n = 0;
  RSEC_SSFS_RC rc = placeValue(payload, area + kEncryptedHeaderSize, room, &n);
  const size_t total = rsecssfs_encryptedPayloadLength(n);
  if (rc == RSEC_SSFS_RC_OK && total > kMaxCipherLength) {
    RSECSSFS_TRACE(RSECSSFS_TRCERR, "Value of %lu bytes is too long for encryption",
                   static_cast<unsigned long>(n));
    rc = RSEC_SSFS_RC_VALUE_TOO_LONG;
  }
  if (rc == RSEC_SSFS_RC_OK) rc = randomBytes(area, kRandomPrefixSize);
  if (rc == RSEC_SSFS_RC_OK) {
    EncodeFixed32BE(area + kLengthOffset, static_cast<uint32_t>(n));
    rc = randomBytes(area + kEncryptedHeaderSize + n, total - kEncryptedHeaderSize - n);
  }
  if (rc != RSEC_SSFS_RC_OK) {
    RSECSSFS_WIPE_AND_FREE(area, areaSize);
    return rc;
  }
  payloadDigest(area, total, area + kDigestOffset);
  RSECSSFS_TRACE(RSECSSFS_TRC3, "Payload before encryption::");
  RSECSSFS_HEXTRACE(area, total, 1, area + kEncryptedHeaderSize, area + kEncryptedHeaderSize + n);
  RSecPEncrypt(key, kEncryptionKeySize, area, static_cast<uint16_t>(total), nullptr);
  RSECSSFS_TRACE(RSECSSFS_TRC3, "Payload after encryption::");
  RSECSSFS_HEXTRACE(area, total, 0);
  *length = total;
  *out = area;
  return RSEC_SSFS_RC_OK;
}

RSEC_SSFS_RC decodePlaintext(size_t length, const unsigned char* stored, bool isBinary,
                             rsecssfsApplicationPayload* out) {
  if (!isBinary) {
    char* text = nullptr;
    const RSEC_SSFS_RC rc = rsecssfs_getCHARforUTF8(stored, length, &text, 0);
    if (rc != RSEC_SSFS_RC_OK) return rc;
    RSECSSFS_TRACE(RSECSSFS_TRC3, "Payload value converted from UTF-8::");
    RSECSSFS_HEXTRACE(text, std::strlen(text), 0);
    out->pValueC = text;
    return RSEC_SSFS_RC_OK;
  }
  auto* value = static_cast<unsigned char*>(RSECSSFS_ALLOC(length + 1));
  if (value == nullptr) return RSEC_SSFS_RC_LOW_MEMORY;
  if (length > 0) std::memcpy(value, stored, length);
  RSECSSFS_TRACE(RSECSSFS_TRC3, "Payload value::");
  RSECSSFS_HEXTRACE(value, length, 0);
  out->pValueX = value;
  out->length = length;
  return RSEC_SSFS_RC_OK;
}

bool decryptsWith(const unsigned char* key, const unsigned char* stored, unsigned char* copy, size_t length) {
  std::memcpy(copy, stored, length);
  RSecPDecrypt(key, kEncryptionKeySize, copy, static_cast<uint16_t>(length), nullptr);
  return rsecssfs_checkEncryptedPayloadIsCorrect(copy, length);
}

// Tries the keys in their order on a fresh copy each; leaves the decrypted
// payload in `copy` and the key source in *source.
bool decryptWithAnyKey(const unsigned char* stored, unsigned char* copy, size_t length,
                       const unsigned char* current, const unsigned char* migration,
                       const unsigned char* newKey, rsecssfsKeySource* source) {
  const bool currentIsDefault = std::memcmp(current, rsecssfsDefaultGlobalKey, kEncryptionKeySize) == 0;
  *source = currentIsDefault ? RSECSSFS_KEYSOURCE_DEFAULT : RSECSSFS_KEYSOURCE_FILE;
  if (decryptsWith(current, stored, copy, length)) return true;
  RSECSSFS_TRACE(RSECSSFS_TRC3, "Decryption attempt with key from key file failed; trying default key");
  *source = RSECSSFS_KEYSOURCE_DEFAULT;
  if (decryptsWith(rsecssfsDefaultGlobalKey, stored, copy, length)) return true;
  if (migration != nullptr) {
    RSECSSFS_TRACE(RSECSSFS_TRC3, "Decryption attempt failed, but explicit migration key given; trying this");
    *source = RSECSSFS_KEYSOURCE_EXPLICIT;
    if (decryptsWith(migration, stored, copy, length)) return true;
  }
  if (newKey != nullptr) {
    RSECSSFS_TRACE(RSECSSFS_TRC3, "Decryption attempt failed, trying with new key");
    *source = RSECSSFS_KEYSOURCE_EXPLICIT;
    if (decryptsWith(newKey, stored, copy, length)) return true;
  }
  return false;
}

RSEC_SSFS_RC decodeEncrypted(size_t length, const unsigned char* stored, const unsigned char* identifier,
                             bool isBinary, const unsigned char* current, const unsigned char* migration,
                             const unsigned char* newKey, rsecssfsApplicationPayload* out,
                             rsecssfsKeySource* source) {
  if (length % kEncryptionBlock != 0) {
    RSECSSFS_TRACE(RSECSSFS_TRCERR, "Payload length of encrypted record is no multiple of 128");
    return RSEC_SSFS_RC_FILE_CORRUPTION;
  }
  if (length > kMaxCipherLength) {
    RSECSSFS_TRACE(RSECSSFS_TRCERR, "Payload length of encrypted record (%lu) exceeds the maximum (%lu)",
                   static_cast<unsigned long>(length), static_cast<unsigned long>(kMaxCipherLength));
    return RSEC_SSFS_RC_FILE_CORRUPTION;
  }
  auto* copy = static_cast<unsigned char*>(RSECSSFS_ALLOC(length + 1));
  if (copy == nullptr) return RSEC_SSFS_RC_LOW_MEMORY;
  RSEC_SSFS_RC rc = RSEC_SSFS_RC_OK;
  size_t n = 0;
  if (!decryptWithAnyKey(stored, copy, length, current, migration, newKey, source)) {
    char text[kRecordIdentifierSize + 1];
    rsecssfs_identifierText(identifier, text);
    RSECSSFS_TRACE(
        RSECSSFS_TRCERR,
        "Record \"%s\" was inserted with an encryption key that was different from the current one; "
        "when you still know the old one, you can try the \"migrate\" operation of the \"vaultadm\" "
        "utility",
        text);
    rc = RSEC_SSFS_RC_INCORRECT_KEY;
  } else if ((n = DecodeFixed32BE(copy + kLengthOffset)) > kMaxEncryptedDataLength) {
    RSECSSFS_TRACE(RSECSSFS_TRCERR, "Read data length %lu is bigger than the expected maximum value",
                   static_cast<unsigned long>(n));
    rc = RSEC_SSFS_RC_FILE_CORRUPTION;
  } else {
    unsigned char* data = copy + kEncryptedHeaderSize;
    RSECSSFS_TRACE(RSECSSFS_TRC3, "Decrypted payload::");
    RSECSSFS_HEXTRACE(copy, length, 1, data, data + n);
    if (isBinary) {
      auto* value = static_cast<unsigned char*>(RSECSSFS_ALLOC(n + 1));
      if (value == nullptr) {
        rc = RSEC_SSFS_RC_LOW_MEMORY;
      } else {
        if (n > 0) std::memcpy(value, data, n);
        out->pValueX = value;
        out->length = n;
      }
    } else {
      char* text = nullptr;
      rc = rsecssfs_getCHARforUTF8(data, n, &text, 0);
      out->pValueC = text;
    }
  }
  RSECSSFS_WIPE_AND_FREE(copy, length + 1);
  return rc;
}

}  // namespace

size_t rsecssfs_encryptedPayloadLength(size_t n) {
  return (n + kEncryptedHeaderSize - 1) / kEncryptionBlock * kEncryptionBlock + kEncryptionBlock;
}

void rsecssfs_releaseApplicationPayload(rsecssfsApplicationPayload* payload) {
  // Only decoded values get here; they were allocated by the codec.
  if (payload->pValueX != nullptr)
    RSECSSFS_WIPE_AND_FREE(const_cast<unsigned char*>(payload->pValueX), payload->length + 1);
  if (payload->pValueC != nullptr)
    RSECSSFS_WIPE_AND_FREE(const_cast<char*>(payload->pValueC), std::strlen(payload->pValueC) + 1);
  payload->pValueX = nullptr;
  payload->pValueC = nullptr;
  payload->length = 0;
}

bool rsecssfs_checkEncryptedPayloadIsCorrect(const unsigned char* pPayload, size_t payloadLength) {
  if (payloadLength < kEncryptedHeaderSize) return false;
  const auto n = static_cast<int64_t>(static_cast<int32_t>(DecodeFixed32BE(pPayload + kLengthOffset)));
  if (n < 0 || static_cast<uint64_t>(n) + kEncryptedHeaderSize > payloadLength) return false;
  unsigned char digest[HA_SHA1_DIGEST_SIZE];
  payloadDigest(pPayload, payloadLength, digest);
  return std::memcmp(digest, pPayload + kDigestOffset, sizeof digest) == 0;
}

RSEC_SSFS_RC rsecssfs_getPayloadRecordDataFromApplicationData(const rsecssfsApplicationPayload* payload,
                                                              const unsigned char* pEncryptionKey,
                                                              size_t* pPayloadLength,
                                                              unsigned char** ppPayload) {
  *pPayloadLength = 0;
  *ppPayload = nullptr;
  const size_t room =
      payload->isBinary ? payload->length : kUtf8BytesPerCharacter * std::strlen(payload->pValueC);
  return payload->isPlaintext ? encodePlaintext(payload, room, pPayloadLength, ppPayload)
                              : encodeEncrypted(payload, pEncryptionKey, room, pPayloadLength, ppPayload);
}

RSEC_SSFS_RC rsecssfs_getPayloadApplicationDataFromRecordData(
    size_t payloadLength, const unsigned char* pPayloadRead, const unsigned char* pRecordIdentifierA7,
    bool isStoredAsPlaintext, bool isStoredAsBinary, const unsigned char* pEncryptionKeyCurrent,
    const unsigned char* pEncryptionKeyForMigration, const unsigned char* pEncryptionKeyNew,
    rsecssfsApplicationPayload* pApplicationPayload, rsecssfsKeySource* pKeySource) {
  *pApplicationPayload =
      rsecssfsApplicationPayload{false, isStoredAsPlaintext, isStoredAsBinary, nullptr, 0, nullptr};
  if (isStoredAsPlaintext)
    return decodePlaintext(payloadLength, pPayloadRead, isStoredAsBinary, pApplicationPayload);
  return decodeEncrypted(payloadLength, pPayloadRead, pRecordIdentifierA7, isStoredAsBinary,
                         pEncryptionKeyCurrent, pEncryptionKeyForMigration, pEncryptionKeyNew,
                         pApplicationPayload, pKeySource);
}
