// Reading the records of a trace file, for SHOW RECORDS.
//
// A trace file is text, or a series of gzip members (a file is never both:
// the writer moves a file of the other form aside first). Either form is
// read from its start as it grows; a gzip member that has no end yet, as
// the member of a process that still writes, is read up to its last byte.
// The bytes are taken as hostile: a damaged compressed stream is reported,
// and a line never grows without bound.
//
// A record starts with its writer's ids in brackets, after the time stamp
// when there is one: "[<tid>] " in a file of its own, "[<pid>:<tid>] " in a
// file that several processes write. A line that does not start that way
// (the hex dump of a packet, a newline in a program's own text) belongs to
// the record before it.
#pragma once

#include <sys/types.h>
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>

namespace NEBRIX {

class TraceFileReader {
 public:
  // Takes one whole line, without its end; false stops the reading.
  using LineSink = std::function<bool(const std::string& line)>;

  TraceFileReader() = default;
  ~TraceFileReader() { close(); }
  TraceFileReader(const TraceFileReader&) = delete;
  TraceFileReader& operator=(const TraceFileReader&) = delete;

  // Opens `path` for reading, without following a link and without waiting
  // on a FIFO; only a regular file is taken. 0, or the errno of the failure
  // (ELOOP for a link, EINVAL for a file that is not regular).
  int open(const std::string& path);
  void close();
  bool isOpen() const { return m_descriptor >= 0; }
  // True when `path` names another file than the open one, or none.
  bool replacedAt(const std::string& path) const;
  bool sameFile(const TraceFileReader& other) const;

  // Reads what was added since the last call and passes each line that is
  // whole. False, with `problem` set, when a read fails or the compressed
  // data is damaged; false with `problem` empty when the sink stopped.
  bool readAvailable(const LineSink& sink, std::string& problem);
  // Passes the unfinished last line, if any: for a file that grows no more.
  bool finish(const LineSink& sink);
  // True when the file is now shorter than what was read of it; reading
  // then starts again from its beginning.
  bool restartIfShrunk();

 private:
  enum class Form { kUnknown, kText, kGzip };

  bool takeBytes(const char* data, std::size_t size, const LineSink& sink, std::string& problem);
  bool inflateBytes(const char* data, std::size_t size, const LineSink& sink, std::string& problem);
  bool splitLines(const char* data, std::size_t size, const LineSink& sink);
  void endInflate();

  int m_descriptor = -1;
  dev_t m_device = 0;
  ino_t m_inode = 0;
  std::uint64_t m_offset = 0;  // bytes of the file taken so far
  Form m_form = Form::kUnknown;
  std::string m_head;  // the first bytes, until the form is known
  z_stream m_zlib{};
  bool m_inflating = false;
  std::string m_line;  // the unfinished line
};

// Lines to records. With a process id (a shared file), only the records of
// that process are taken, with their continuation lines. Without LAST, or
// for JSON, the records are kept in `records`; otherwise each taken line
// goes to the sink at once.
class RecordCollector {
 public:
  // `pid` 0 takes every record; `keep` -1 keeps none and passes each line
  // on, n >= 0 keeps the last n.
  RecordCollector(std::int32_t pid, long keep, TraceFileReader::LineSink sink)
      : m_pid(pid), m_keep(keep), m_sink(std::move(sink)), m_taking(pid == 0) {}

  // For reader.readAvailable and reader.finish.
  TraceFileReader::LineSink lineSink() {
    return [this](const std::string& line) { return take(line); };
  }
  // The process whose records a shared file holds; 0 for a file of its own.
  void takeOnly(std::int32_t pid) { m_pid = pid; }
  // At the start of each file: a continuation line there has no record.
  void startFile() { m_taking = m_pid == 0; }

  const std::deque<std::string>& records() const { return m_records; }
  // From now on each taken line goes to the sink; the kept records are the
  // caller's to print first.
  void streamFromNow() { m_keep = -1; }

 private:
  bool take(const std::string& line);

  std::int32_t m_pid;
  long m_keep;
  TraceFileReader::LineSink m_sink;
  bool m_taking;
  std::deque<std::string> m_records;
};

// The process id of a record's first line: the pid of "[<pid>:<tid>] ",
// 0 for "[<tid>] ", -1 when the line starts no record.
std::int64_t recordWriter(const std::string& line);

}  // namespace NEBRIX
