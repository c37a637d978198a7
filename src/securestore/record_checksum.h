// The keyed checksum of every record: HMAC-SHA-1 over the first 132 bytes of
// the data header (identifier, environment information, flags, spare bytes)
// and the payload. The record header and the checksum field are not covered.
#pragma once

#include <cstddef>

#include "securestore/record_format.h"

constexpr size_t kRecordChecksumSize = 20;

void rsecssfs_computeRecordChecksum(const rsecssfsDataHeader* header, const unsigned char* payload,
                                    size_t payloadLength, unsigned char checksum[kRecordChecksumSize]);

// 0 when the stored checksum matches, else RC -6 with a message.
RSEC_SSFS_RC rsecssfs_verifyRecordChecksum(const rsecssfsDataHeader* header, const unsigned char* payload,
                                           size_t payloadLength);
