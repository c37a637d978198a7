// Appends records to the trace file. Each record goes out with one write(2)
// on a descriptor opened with O_APPEND, so the records of threads and of
// processes sharing the file never interleave.
//
// With a size limit the file never grows past it: a record that would pass
// the limit first moves the file to "<name>.1" (replacing an older one) and
// starts a new one. Processes sharing the file take turns with flock(2) on
// it; a process that finds the name moved to another file follows it. A
// record longer than the whole limit is cut to fit.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

namespace NEBRIX::Client {

class TraceWriter {
 public:
  TraceWriter() = default;
  ~TraceWriter();
  TraceWriter(const TraceWriter&) = delete;
  TraceWriter& operator=(const TraceWriter&) = delete;

  // Writes `record` to `path`, limited to `limit` bytes (-1: unlimited).
  // False with errno set when the file cannot be opened or written.
  bool write(const std::string& path, std::int64_t limit, const std::string& record);
  void close();

 private:
  bool openFile(const std::string& path);
  bool followCurrentFile(const std::string& path);
  bool rotate(const std::string& path);

  std::mutex m_mutex;
  int m_descriptor = -1;
  std::string m_path;
};

}  // namespace NEBRIX::Client
