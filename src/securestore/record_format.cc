#include "securestore/record_format.h"

#include <cstring>

#include "securestore/byte_fields.h"

void MERO_UcnToA7n(const char* in, unsigned char* out, size_t outLength) {
  WriteBlankPadded(out, outLength, in);
  for (size_t i = 0; i < outLength; ++i)
    if (out[i] >= 0x80) out[i] = '#';
}

void rsecssfs_makeRecordIdentifier(const char* key, unsigned char identifier[kRecordIdentifierSize]) {
  MERO_UcnToA7n(key, identifier, kRecordIdentifierSize);
}

void rsecssfs_identifierText(const unsigned char identifier[kRecordIdentifierSize],
                             char text[kRecordIdentifierSize + 1]) {
  const size_t length = TrimmedLength(identifier, kRecordIdentifierSize);
  for (size_t i = 0; i < length; ++i)
    text[i] = identifier[i] >= 0x80 ? '#' : static_cast<char>(identifier[i]);
  text[length] = '\0';
}

void rsecssfs_fillRecordHeader(rsecssfsRecordHeader* header, uint32_t recordLength) {
  std::memcpy(header->preamble, rsecssfsDataPreamble, sizeof header->preamble);
  EncodeFixed32BE(header->recordLengthBytes, recordLength);
  header->recordType = kRecordType;
  std::memset(header->spareBytes, 0, sizeof header->spareBytes);
}
