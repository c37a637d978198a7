#include "client/gzip_stream.h"

#include <cerrno>

namespace NEBRIX::Client {
namespace {

// 15 bits of window, plus 16 for the gzip header and trailer instead of
// zlib's own.
constexpr int kGzipWindowBits = 15 + 16;
constexpr int kMemoryLevel = 8;

}  // namespace

GzipStream::~GzipStream() { reset(); }

void GzipStream::reset() {
  if (m_allocated) deflateEnd(&m_stream);
  m_stream = z_stream{};
  m_allocated = false;
  m_started = false;
}

bool GzipStream::append(const char* data, std::size_t size, std::string& out) {
  if (!m_allocated) {
    m_stream = z_stream{};
    const int rc = deflateInit2(&m_stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, kGzipWindowBits, kMemoryLevel,
                                Z_DEFAULT_STRATEGY);
    if (rc != Z_OK) {
      errno = rc == Z_MEM_ERROR ? ENOMEM : EINVAL;
      return false;
    }
    m_allocated = true;
  }
  m_started = true;
  return run(data, size, Z_SYNC_FLUSH, out);
}

// The state is kept for the next member: a member per record would
// otherwise allocate and free a quarter megabyte each time.
bool GzipStream::finish(std::string& out) {
  if (!m_started) return true;
  const bool ok = run(nullptr, 0, Z_FINISH, out);
  m_started = false;
  if (ok && deflateReset(&m_stream) != Z_OK) reset();
  return ok;
}

// Deflates until zlib has nothing more to give for `flush`: with output
// room left over after a call, everything is out.
bool GzipStream::run(const char* data, std::size_t size, int flush, std::string& out) {
  m_stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
  m_stream.avail_in = static_cast<uInt>(size);
  const std::size_t chunk = size / 2 + 256;
  int rc;
  do {
    const std::size_t used = out.size();
    out.resize(used + chunk);
    m_stream.next_out = reinterpret_cast<Bytef*>(&out[used]);
    m_stream.avail_out = static_cast<uInt>(chunk);
    rc = deflate(&m_stream, flush);
    out.resize(used + chunk - m_stream.avail_out);
    if (rc == Z_STREAM_ERROR) break;
  } while (m_stream.avail_out == 0);
  if (rc == Z_STREAM_ERROR || (flush == Z_FINISH && rc != Z_STREAM_END)) {
    reset();
    errno = EINVAL;
    return false;
  }
  return true;
}

}  // namespace NEBRIX::Client
