// One gzip member (RFC 1952) written a piece at a time. Every piece is
// deflated with Z_SYNC_FLUSH, so the bytes produced so far end on a byte
// boundary and hold every piece whole: a reader such as zcat gets them all
// back even when the member never receives its end, as after a crash (it
// then only complains that the trailer is missing).
#pragma once

#include <zlib.h>

#include <cstddef>
#include <string>

namespace NEBRIX::Client {

class GzipStream {
 public:
  GzipStream() = default;
  ~GzipStream();
  GzipStream(const GzipStream&) = delete;
  GzipStream& operator=(const GzipStream&) = delete;

  // Appends to `out` the compressed bytes of `data`; the first piece of a
  // member is preceded by the gzip header. False (errno set) when zlib fails;
  // the member is then forgotten.
  bool append(const char* data, std::size_t size, std::string& out);
  // Appends the member's end (last block and trailer) if one was begun; the
  // next append begins a new member.
  bool finish(std::string& out);
  // Forgets the member without ending it, and frees zlib's state.
  void reset();
  bool started() const { return m_started; }

  // At most what the pieces of `size` bytes in all produce, header and
  // trailer included: zlib's worst case for incompressible data (stored
  // blocks) plus room for the header, the sync markers and the trailer.
  static constexpr std::size_t bound(std::size_t size) {
    return size + (size >> 12) + (size >> 14) + (size >> 25) + 64;
  }

 private:
  bool run(const char* data, std::size_t size, int flush, std::string& out);

  z_stream m_stream{};
  bool m_allocated = false;
  bool m_started = false;
};

}  // namespace NEBRIX::Client
