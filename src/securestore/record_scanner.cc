#include "securestore/record_scanner.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "securestore/byte_fields.h"
#include "securestore/diagnostics.h"
#include "securestore/regular_file.h"

namespace {

// The scan reads the data file ahead in large blocks and takes record
// headers and payloads from its own buffer: reading or seeking record by
// record through the stream would cost a call into the C library, or a
// system call, for every record. Payloads that a callback reads come from
// the same buffer through rsecssfs_readPayload. One scan runs at a time.
struct ScanReader {
  FILE* file = nullptr;
  unsigned char buffer[64 * 1024];
  size_t begin = 0;
  size_t end = 0;
  size_t payloadLeft = 0;  // bytes of the current record's payload not yet taken
  int error = 0;           // of a read that failed: the file did not end there
};

void noteReadError(ScanReader& r) {
  if (r.error == 0 && std::ferror(r.file)) r.error = errno != 0 ? errno : EIO;
}
ScanReader g_reader;

size_t available(const ScanReader& r) { return r.end - r.begin; }

// Makes `want` bytes (at most the buffer's size) available unless the file
// ends first; returns what is available.
size_t fill(ScanReader& r, size_t want) {
  if (available(r) >= want) return available(r);
  std::memmove(r.buffer, r.buffer + r.begin, available(r));
  r.end -= r.begin;
  r.begin = 0;
  while (r.end < want) {
    // Whole 4 KiB blocks go straight from the file into this buffer; any
    // other amount would also pass through the stream's own buffer.
    size_t room = (sizeof r.buffer - r.end) / 4096 * 4096;
    if (room == 0) room = sizeof r.buffer - r.end;
    const size_t n = fread_unlocked(r.buffer + r.end, 1, room, r.file);
    if (n == 0) {
      noteReadError(r);
      break;
    }
    r.end += n;
  }
  return available(r);
}

// Copies up to `length` bytes to `target`: first from the buffer, the rest,
// as with a payload larger than the buffer, straight from the file.
size_t take(ScanReader& r, unsigned char* target, size_t length) {
  size_t taken = length < available(r) ? length : available(r);
  std::memcpy(target, r.buffer + r.begin, taken);
  r.begin += taken;
  if (taken < length) taken += fread_unlocked(target + taken, 1, length - taken, r.file);
  if (taken < length) noteReadError(r);
  return taken;
}

size_t skip(ScanReader& r, size_t length) {
  size_t skipped = 0;
  while (skipped < length && fill(r, 1) > 0) {
    const size_t n = length - skipped < available(r) ? length - skipped : available(r);
    r.begin += n;
    skipped += n;
  }
  return skipped;
}

// Ends the reader's scan on every way out of the scanner.
struct ScanInProgress {
  explicit ScanInProgress(FILE* file) {
    g_reader.file = file;
    g_reader.begin = g_reader.end = g_reader.payloadLeft = 0;
    g_reader.error = 0;
  }
  ~ScanInProgress() { g_reader.file = nullptr; }
};

// A read error is no end of the file: nobody may take what was read so far
// for all records, least of all a writer that would cut the file there.
RSEC_SSFS_RC callAtEnd(FILE* file, long position, bool insideRecord, rsecssfsLooperCallbackComm* comm,
                       rsecssfsLooperCallback callback) {
  if (g_reader.error != 0) {
    RSECSSFS_TRACE(RSECSSFS_TRCERR, "Data file cannot be read at file position %lu: %s",
                   static_cast<unsigned long>(position), rsecssfs_fileErrorText(g_reader.error));
    return RSEC_SSFS_RC_FILE_CORRUPTION;
  }
  comm->recordStart = position;
  comm->endsInsideRecord = insideRecord;
  bool exit = false;
  RSEC_SSFS_RC rc = RSEC_SSFS_RC_OK;
  callback(file, nullptr, 0, true, comm, &exit, &rc);
  return rc;
}

long fileSize(FILE* file) {
  struct stat status;
  return fstat(fileno(file), &status) == 0 ? static_cast<long>(status.st_size) : -1;
}

}  // namespace

size_t rsecssfs_readPayload(FILE* file, unsigned char* target, size_t length) {
  if (g_reader.file != file) return std::fread(target, 1, length, file);
  if (length > g_reader.payloadLeft) length = g_reader.payloadLeft;
  const size_t taken = take(g_reader, target, length);
  g_reader.payloadLeft -= taken;
  return taken;
}

RSEC_SSFS_RC rsecssfs_readWholePayload(FILE* file, unsigned char* payload, size_t length) {
  if (rsecssfs_readPayload(file, payload, length) == length) return RSEC_SSFS_RC_OK;
  RSECSSFS_TRACE(RSECSSFS_TRCERR, "Premature end of file when reading %d bytes of payload data",
                 static_cast<int>(length));
  return RSEC_SSFS_RC_FILE_CORRUPTION;
}

RSEC_SSFS_RC rsecssfs_genericLooper(FILE* file, rsecssfsLooperCallbackComm* comm,
                                    rsecssfsLooperCallback callback) {
  // Under the lock nobody else appends, so the size stays put during the scan.
  const long size = comm->endsAtIncompleteRecord ? fileSize(file) : -1;
  ScanInProgress scan(file);
  ScanReader& reader = g_reader;
  long position = std::ftell(file);
  for (;;) {
    if (position < 0) {
      RSECSSFS_TRACE(RSECSSFS_TRCERR, "Position in the data file cannot be determined");
      return RSEC_SSFS_RC_FILE_CORRUPTION;
    }
    const auto p = static_cast<unsigned long>(position);
    // Both headers in one read; the record header is checked before the
    // data header counts as missing.
    struct {
      rsecssfsRecordHeader header;
      rsecssfsDataHeader dataHeader;
    } headers;
    static_assert(sizeof headers == kRecordOverhead, "the two headers are contiguous");
    const size_t headersRead = std::min(fill(reader, sizeof headers), sizeof headers);
    std::memcpy(&headers, reader.buffer + reader.begin, headersRead);
    if (headersRead < sizeof headers.header) return callAtEnd(file, position, headersRead > 0, comm, callback);
    const rsecssfsRecordHeader& header = headers.header;
    const rsecssfsDataHeader& dataHeader = headers.dataHeader;

    if (std::memcmp(header.preamble, rsecssfsDataPreamble, sizeof header.preamble) != 0) {
      RSECSSFS_TRACE(
          RSECSSFS_TRCERR,
          "Record at file position %lu does not start with preamble; maybe file is no RSecSSFs file", p);
      return RSEC_SSFS_RC_FILE_CORRUPTION;
    }
    const auto recordLength =
        static_cast<int64_t>(static_cast<int32_t>(DecodeFixed32BE(header.recordLengthBytes)));
    if (static_cast<uint64_t>(recordLength) > kMaxRecordLength) {
      RSECSSFS_TRACE(
          RSECSSFS_TRCERR,
          "Record length read at file position %lu (%lu) exceeds the maximum expected record length (%lu)", p,
          static_cast<unsigned long>(recordLength), static_cast<unsigned long>(kMaxRecordLength));
      return RSEC_SSFS_RC_FILE_CORRUPTION;
    }
    if (recordLength < static_cast<int64_t>(kRecordOverhead)) {
      RSECSSFS_TRACE(RSECSSFS_TRCERR,
                     "Record length read at file position %lu (%lu) is below the minimum record length (%lu)",
                     p, static_cast<unsigned long>(recordLength),
                     static_cast<unsigned long>(kRecordOverhead));
      return RSEC_SSFS_RC_FILE_CORRUPTION;
    }
    if (header.recordType != kRecordType) {
      RSECSSFS_TRACE(RSECSSFS_TRCERR,
                     "Record type indicator %d read from header at file position %lu not supported",
                     static_cast<int>(header.recordType), p);
      return RSEC_SSFS_RC_FILE_CORRUPTION;
    }
    const long end = position + static_cast<long>(recordLength);
    if (comm->endsAtIncompleteRecord && size >= 0 && end > size)
      return callAtEnd(file, position, true, comm, callback);

    if (headersRead < sizeof headers) {
      if (comm->endsAtIncompleteRecord || reader.error != 0) return callAtEnd(file, position, true, comm, callback);
      RSECSSFS_TRACE(RSECSSFS_TRCERR, "Premature end of file when reading data header");
      return RSEC_SSFS_RC_FILE_CORRUPTION;
    }

    reader.begin += sizeof headers;
    comm->recordStart = position;
    comm->endsInsideRecord = false;
    bool exit = false;
    RSEC_SSFS_RC rc = RSEC_SSFS_RC_OK;
    const size_t payloadLength = static_cast<size_t>(recordLength) - kRecordOverhead;
    reader.payloadLeft = payloadLength;
    callback(file, &dataHeader, payloadLength, false, comm, &exit, &rc);
    if (rc != RSEC_SSFS_RC_OK || exit) return rc;
    const size_t payloadRead = payloadLength - reader.payloadLeft;
    position += static_cast<long>(kRecordOverhead + payloadRead + skip(reader, reader.payloadLeft));
    reader.payloadLeft = 0;
  }
}
