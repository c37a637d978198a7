#include "securestore/record_key.h"

#include <cstring>

#include "securestore/diagnostics.h"

RSEC_SSFS_RC rsecssfs_checkRecordKeyLength(const char* key) {
  if (std::strlen(key) <= kMaxRecordKeyLength) return RSEC_SSFS_RC_OK;
  RSECSSFS_TRACE(RSECSSFS_TRCERR, "Record key \"%s\" is longer than the permitted length of %d characters",
                 key, static_cast<int>(kMaxRecordKeyLength));
  return RSEC_SSFS_RC_RECORD_KEY_FORMAT;
}

RSEC_SSFS_RC rsecssfs_checkRecordKeyFormat(const char* key) {
  const size_t valid = std::strspn(key, kRecordKeyCharacters);
  if (key[valid] != '\0') {
    RSECSSFS_TRACE(RSECSSFS_TRCERR,
                   "Record key \"%s\" contains illegal character at index %d. Allowed are only \"%s\"", key,
                   static_cast<int>(valid), kRecordKeyCharacters);
    return RSEC_SSFS_RC_RECORD_KEY_FORMAT;
  }
  const char* slash = std::strchr(key, '/');
  if (slash == nullptr || slash == key) {
    RSECSSFS_TRACE(
        RSECSSFS_TRCERR,
        "Record key \"%s\" either does not contain a \"/\" character at all or it contains it at the "
        "very first position. Valid record keys start with a non-initial namespace prefix, followed "
        "by the slash character, followed by other characters.",
        key);
    return RSEC_SSFS_RC_RECORD_KEY_FORMAT;
  }
  return RSEC_SSFS_RC_OK;
}

bool rsecssfs_isDerSequence(const unsigned char* value, size_t length) {
  if (length < 2 || value[0] != 0x30) return false;
  const unsigned b = value[1];
  if (b <= 0x7F) return length == b + 2;
  switch (b) {
    case 0x81:
      return length == 2 || (length >= 3 && length == value[2] + 3u);
    case 0x82:
      return length >= 4 && length == 256u * value[2] + value[3] + 4u;
    case 0x83:
      return length >= 5 && length == 65536u * value[2] + 256u * value[3] + value[4] + 5u;
    default:
      return false;
  }
}

RSEC_SSFS_RC rsecssfs_checkValueLength(const char* key, bool isBinary, bool isPlaintext, const char* valueC,
                                       const unsigned char* valueX, size_t valueXLength) {
  size_t length = valueXLength;
  size_t limit = kMaxPlaintextValueLength;
  const char* kind = nullptr;
  if (!isBinary) {
    length = std::strlen(valueC);
    if (!isPlaintext) limit = kMaxEncryptedValueLength;
    kind =
        isPlaintext ? "characters for plaintext character data" : "characters for encrypted character data";
  } else if (isPlaintext) {
    kind = "bytes for plaintext binary data";
  } else if (rsecssfs_isDerSequence(valueX, valueXLength)) {
    limit = kMaxEncryptedBinaryDerLength;
    kind = "bytes for encrypted PSE file";
  } else {
    limit = kMaxEncryptedValueLength;
    kind = "bytes for encrypted binary data";
  }
  if (length <= limit) return RSEC_SSFS_RC_OK;
  RSECSSFS_TRACE(RSECSSFS_TRCERR, "Record data for key \"%s\" is longer than the permitted length of %d %s",
                 key, static_cast<int>(limit), kind);
  return RSEC_SSFS_RC_VALUE_TOO_LONG;
}
