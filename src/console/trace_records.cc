#include "console/trace_records.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace NEBRIX {

namespace {

constexpr std::size_t kChunk = 65536;
// A longer line is passed on in pieces of this size: a file without line
// ends must not take all memory.
constexpr std::size_t kMaxLine = 16 * 1024 * 1024;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// "2026-12-07 10:15:02.123456 ": digits where the pattern has '9'.
bool startsWithTimeStamp(const std::string& line) {
  static const char kPattern[] = "9999-99-99 99:99:99.999999 ";
  const std::size_t length = sizeof kPattern - 1;
  if (line.size() < length) return false;
  for (std::size_t i = 0; i < length; ++i) {
    if (kPattern[i] == '9' ? !isDigit(line[i]) : line[i] != kPattern[i]) return false;
  }
  return true;
}

// Reads 1 to 10 digits at `at`; -1 without any.
std::int64_t readNumber(const std::string& line, std::size_t& at) {
  std::int64_t value = 0;
  const std::size_t start = at;
  while (at < line.size() && isDigit(line[at]) && at - start < 10) value = value * 10 + (line[at++] - '0');
  return at == start ? -1 : value;
}

}  // namespace

std::int64_t recordWriter(const std::string& line) {
  std::size_t at = startsWithTimeStamp(line) ? 27 : 0;
  if (at >= line.size() || line[at++] != '[') return -1;
  const std::int64_t first = readNumber(line, at);
  if (first < 0) return -1;
  std::int64_t pid = 0;
  if (at < line.size() && line[at] == ':') {
    ++at;
    if (readNumber(line, at) < 0) return -1;
    pid = first;
  }
  return line.compare(at, 2, "] ") == 0 ? pid : -1;
}

int TraceFileReader::open(const std::string& path) {
  close();
  const int descriptor = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) return errno;
  struct stat status;
  if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
    const int error = S_ISREG(status.st_mode) ? errno : EINVAL;
    ::close(descriptor);
    return error;
  }
  m_descriptor = descriptor;
  m_device = status.st_dev;
  m_inode = status.st_ino;
  return 0;
}

void TraceFileReader::close() {
  if (m_descriptor >= 0) ::close(m_descriptor);
  m_descriptor = -1;
  m_offset = 0;
  m_form = Form::kUnknown;
  m_head.clear();
  m_line.clear();
  endInflate();
}

void TraceFileReader::endInflate() {
  if (m_inflating) inflateEnd(&m_zlib);
  m_inflating = false;
}

bool TraceFileReader::replacedAt(const std::string& path) const {
  struct stat status;
  if (::lstat(path.c_str(), &status) != 0) return true;
  return status.st_dev != m_device || status.st_ino != m_inode;
}

bool TraceFileReader::sameFile(const TraceFileReader& other) const {
  return isOpen() && other.isOpen() && m_device == other.m_device && m_inode == other.m_inode;
}

bool TraceFileReader::restartIfShrunk() {
  struct stat status;
  if (m_descriptor < 0 || ::fstat(m_descriptor, &status) != 0) return false;
  if (static_cast<std::uint64_t>(status.st_size) >= m_offset) return false;
  const int descriptor = m_descriptor;
  m_descriptor = -1;
  close();
  m_descriptor = descriptor;
  return true;
}

bool TraceFileReader::readAvailable(const LineSink& sink, std::string& problem) {
  problem.clear();
  char buffer[kChunk];
  while (m_descriptor >= 0) {
    const ssize_t got = ::pread(m_descriptor, buffer, sizeof buffer, static_cast<off_t>(m_offset));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      problem = strerror(errno);
      return false;
    }
    if (got == 0) return true;
    m_offset += static_cast<std::uint64_t>(got);
    if (!takeBytes(buffer, static_cast<std::size_t>(got), sink, problem)) return false;
  }
  return true;
}

// The form is told by the gzip magic bytes at the start of the file.
bool TraceFileReader::takeBytes(const char* data, std::size_t size, const LineSink& sink, std::string& problem) {
  if (m_form == Form::kUnknown) {
    m_head.append(data, size);
    if (m_head.size() < 2 && m_head != "\x1f") m_form = Form::kText;
    if (m_head.size() >= 2) m_form = m_head.compare(0, 2, "\x1f\x8b") == 0 ? Form::kGzip : Form::kText;
    if (m_form == Form::kUnknown) return true;
    std::string head;
    head.swap(m_head);
    return takeBytes(head.data(), head.size(), sink, problem);
  }
  if (m_form == Form::kText) return splitLines(data, size, sink);
  return inflateBytes(data, size, sink, problem);
}

// Each member ends with Z_STREAM_END, and the next one starts right after
// it. A member without its end yet leaves zlib waiting for more input.
bool TraceFileReader::inflateBytes(const char* data, std::size_t size, const LineSink& sink, std::string& problem) {
  if (!m_inflating) {
    m_zlib = z_stream{};
    if (inflateInit2(&m_zlib, 15 + 32) != Z_OK) {
      problem = "out of memory for decompression";
      return false;
    }
    m_inflating = true;
  }
  m_zlib.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
  m_zlib.avail_in = static_cast<uInt>(size);
  char out[kChunk];
  while (true) {
    m_zlib.next_out = reinterpret_cast<Bytef*>(out);
    m_zlib.avail_out = sizeof out;
    const int rc = inflate(&m_zlib, Z_NO_FLUSH);
    const std::size_t produced = sizeof out - m_zlib.avail_out;
    if (produced > 0 && !splitLines(out, produced, sink)) return false;
    if (rc == Z_STREAM_END) {
      if (inflateReset(&m_zlib) != Z_OK) {
        problem = "decompression failed";
        return false;
      }
      if (m_zlib.avail_in == 0) return true;
      continue;
    }
    if (rc == Z_BUF_ERROR || (rc == Z_OK && m_zlib.avail_in == 0 && m_zlib.avail_out != 0)) return true;
    if (rc != Z_OK) {
      const std::uint64_t at = m_offset - m_zlib.avail_in;
      problem = std::string("damaged compressed data (") + (m_zlib.msg != nullptr ? m_zlib.msg : "inflate failed") +
                ") before byte " + std::to_string(at);
      endInflate();
      ::close(m_descriptor);
      m_descriptor = -1;
      return false;
    }
  }
}

bool TraceFileReader::splitLines(const char* data, std::size_t size, const LineSink& sink) {
  const char* end = data + size;
  while (data < end) {
    const char* newline = static_cast<const char*>(memchr(data, '\n', static_cast<std::size_t>(end - data)));
    const char* stop = newline != nullptr ? newline : end;
    m_line.append(data, static_cast<std::size_t>(stop - data));
    data = newline != nullptr ? newline + 1 : end;
    if (newline == nullptr && m_line.size() < kMaxLine) break;
    std::string line;
    line.swap(m_line);
    if (!sink(line)) return false;
  }
  return true;
}

bool TraceFileReader::finish(const LineSink& sink) {
  if (m_line.empty()) return true;
  std::string line;
  line.swap(m_line);
  return sink(line);
}

bool RecordCollector::take(const std::string& line) {
  const std::int64_t writer = recordWriter(line);
  const bool starts = writer >= 0;
  if (starts) m_taking = m_pid == 0 || writer == m_pid;
  if (!m_taking || m_keep == 0) return true;
  if (m_keep < 0) return m_sink(line);
  if (starts || m_records.empty()) {
    m_records.push_back(line);
    if (m_keep > 0 && m_records.size() > static_cast<std::size_t>(m_keep)) m_records.pop_front();
  } else {
    m_records.back() += '\n';
    m_records.back() += line;
  }
  return true;
}

}  // namespace NEBRIX
