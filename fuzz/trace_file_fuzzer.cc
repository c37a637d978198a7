// libFuzzer target: arbitrary bytes as a trace file, read as SHOW RECORDS
// reads it: a piece at a time, as a growing file is, and filtered for one
// process, as a shared file is. Besides reads past the bytes and loops on a
// damaged stream, it checks that a text file comes out line for line.
#include "console/trace_records.h"
#include "fuzz_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = "/tmp/nebrix_trace_file_fuzz_" + std::to_string(getpid());
  const int descriptor = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  NEBRIX::TraceFileReader reader;
  NEBRIX_FUZZ_CHECK(descriptor >= 0 && reader.open(path) == 0);
  unlink(path.c_str());  // both descriptors keep it
  std::string text;
  NEBRIX::RecordCollector records(size % 2 == 0 ? 0 : 4711, -1, [&](const std::string& line) {
    text += line + "\n";
    return true;
  });
  std::string problem;
  for (size_t done = 0, piece = 1; done < size && problem.empty(); done += piece, piece = piece * 2 + 1) {
    piece = std::min(piece, size - done);
    NEBRIX_FUZZ_CHECK(write(descriptor, data + done, piece) == static_cast<ssize_t>(piece));
    NEBRIX_FUZZ_CHECK(reader.readAvailable(records.lineSink(), problem) == problem.empty());
  }
  reader.finish(records.lineSink());
  close(descriptor);
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  if (size % 2 == 0 && (size < 2 || bytes.compare(0, 2, "\x1f\x8b") != 0)) {
    NEBRIX_FUZZ_CHECK(text == bytes || text == bytes + "\n");
  }
  return 0;
}
