// The data file: a plain sequence of records, no file header; an empty or
// absent data file holds no record. Integers are big-endian, text fields are
// blank-padded without terminator, flags are written as 0 or 1 and only 1
// counts as set.
//
// Record (record header, data header, payload):
//   offset  size
//        0    12  preamble "RSecSSFsData"
//       12     4  recordLength: 176 + payload length, unsigned
//       16     1  recordType: 1
//       17     7  zero
//       24    64  record identifier: the key, 7-bit ASCII, blank-padded
//       88     8  time of the write: seconds since the epoch, signed
//       96    24  user who wrote it (UTF-8)
//      120    24  host it was written on (UTF-8)
//      144     1  isDeleted
//      145     1  isStoredAsPlaintext (0: encrypted payload)
//      146     1  isBinaryData (0: character value)
//      147     9  zero
//      156    20  HMAC-SHA-1 over bytes 24..155 and the payload
//      176     n  payload (payload_codec.h)
//
// Readers accept a recordLength from 176 to 98640 and recordType 1 only.
// Two records have the same key when all 64 identifier bytes are equal; the
// first active one counts. A replacement appends the new record and then sets
// isDeleted of the earlier ones; deleted records stay until a compaction
// (compaction.h) or a conversion drops them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "securestore/rsecssfs.h"

constexpr char rsecssfsDataPreamble[] = "RSecSSFsData";
constexpr size_t kRecordHeaderSize = 24;
constexpr size_t kDataHeaderSize = 152;
constexpr size_t kRecordOverhead = kRecordHeaderSize + kDataHeaderSize;
constexpr uint32_t kMaxRecordLength = 98640;
constexpr size_t kRecordIdentifierSize = 64;
constexpr size_t kChecksummedHeaderBytes = 132;  // the data header up to its checksum
constexpr unsigned char kRecordType = 1;

struct rsecssfsRecordHeader {
  char preamble[12];
  unsigned char recordLengthBytes[4];
  unsigned char recordType;
  unsigned char spareBytes[7];
};
static_assert(sizeof(rsecssfsRecordHeader) == kRecordHeaderSize, "record header layout");

struct rsecssfsDataHeader {
  unsigned char recordIdentifierA7[kRecordIdentifierSize];
  rsecssfsEnvironmentInfo environmentInfo;
  unsigned char isDeleted;
  unsigned char isStoredAsPlaintext;
  unsigned char isBinaryData;
  unsigned char spareBytes[9];
  unsigned char hmacSHA1DataHeaderAndPayload[20];
};
static_assert(sizeof(rsecssfsDataHeader) == kDataHeaderSize, "data header layout");

// Copies `in` into a field of `outLength` bytes, cut and blank-padded, with
// every byte of 0x80 and above replaced by "#".
void MERO_UcnToA7n(const char* in, unsigned char* out, size_t outLength);

// The 64-byte identifier of a record key.
void rsecssfs_makeRecordIdentifier(const char* key, unsigned char identifier[kRecordIdentifierSize]);

// The identifier as text: "#" for bytes of 0x80 and above, trailing blanks
// removed, NUL-terminated.
void rsecssfs_identifierText(const unsigned char identifier[kRecordIdentifierSize],
                             char text[kRecordIdentifierSize + 1]);

void rsecssfs_fillRecordHeader(rsecssfsRecordHeader* header, uint32_t recordLength);
