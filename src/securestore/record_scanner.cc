#include "securestore/record_scanner.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstring>

#include "securestore/byte_fields.h"
#include "securestore/trace.h"

namespace {

RSEC_SSFS_RC callAtEnd(FILE* file, long position, bool insideRecord, rsecssfsLooperCallbackComm* comm,
                       rsecssfsLooperCallback callback) {
  comm->recordStart = position;
  comm->endsInsideRecord = insideRecord;
  bool exit = false;
  RSEC_SSFS_RC rc = RSEC_SSFS_RC_OK;
  callback(file, nullptr, 0, true, comm, &exit, &rc);
  return rc;
}

// Skips bytes by reading them through the stream's buffer: seeking would
// cost a system call for every record.
size_t skipBytes(FILE* file, size_t length) {
  // Short payloads (most configuration values) are passed byte by byte
  // inside the buffer, which is cheaper than a call that copies them out.
  if (length <= 64) {
    size_t skipped = 0;
    while (skipped < length && getc_unlocked(file) != EOF) ++skipped;
    return skipped;
  }
  char scratch[4096];
  size_t skipped = 0;
  while (skipped < length) {
    const size_t chunk = length - skipped < sizeof scratch ? length - skipped : sizeof scratch;
    const size_t n = fread_unlocked(scratch, 1, chunk, file);
    if (n == 0) break;
    skipped += n;
  }
  return skipped;
}

long fileSize(FILE* file) {
  struct stat status;
  return fstat(fileno(file), &status) == 0 ? static_cast<long>(status.st_size) : -1;
}

}  // namespace

namespace {

// The store runs one call at a time and has at most two data file streams
// open (a conversion reads a backup while it writes the data file); a
// stream that finds no free buffer keeps the default one.
struct StreamBuffer {
  char bytes[64 * 1024];
  FILE* owner;
};
StreamBuffer g_streamBuffers[2];

}  // namespace

void rsecssfs_prepareDataFileStream(FILE* file) {
  for (StreamBuffer& buffer : g_streamBuffers) {
    if (buffer.owner != nullptr) continue;
    if (std::setvbuf(file, buffer.bytes, _IOFBF, sizeof buffer.bytes) == 0) buffer.owner = file;
    return;
  }
}

void rsecssfs_closeDataFileStream(FILE* file) {
  std::fclose(file);
  for (StreamBuffer& buffer : g_streamBuffers) {
    if (buffer.owner == file) buffer.owner = nullptr;
  }
}

RSEC_SSFS_RC rsecssfs_genericLooper(FILE* file, rsecssfsLooperCallbackComm* comm,
                                    rsecssfsLooperCallback callback) {
  // Under the lock nobody else appends, so the size stays put during the scan.
  const long size = comm->endsAtIncompleteRecord ? fileSize(file) : -1;
  // The position is kept here rather than asked of the stream, which would
  // cost a system call for every record.
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
    const size_t headersRead = fread_unlocked(&headers, 1, sizeof headers, file);
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
      if (comm->endsAtIncompleteRecord) return callAtEnd(file, position, true, comm, callback);
      RSECSSFS_TRACE(RSECSSFS_TRCERR, "Premature end of file when reading data header");
      return RSEC_SSFS_RC_FILE_CORRUPTION;
    }

    comm->recordStart = position;
    comm->endsInsideRecord = false;
    comm->payloadConsumed = false;
    bool exit = false;
    RSEC_SSFS_RC rc = RSEC_SSFS_RC_OK;
    const size_t payloadLength = static_cast<size_t>(recordLength) - kRecordOverhead;
    callback(file, &dataHeader, payloadLength, false, comm, &exit, &rc);
    if (rc != RSEC_SSFS_RC_OK || exit) return rc;
    if (comm->payloadConsumed) {
      position = std::ftell(file);
      if (position != end && std::fseek(file, end, SEEK_SET) == 0) position = end;
    } else {
      position += static_cast<long>(kRecordOverhead + skipBytes(file, payloadLength));
    }
  }
}
