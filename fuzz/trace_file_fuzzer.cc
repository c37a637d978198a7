// libFuzzer target: arbitrary bytes as a trace file, read as SHOW RECORDS
// reads it, a piece at a time as a growing file is, and filtered for one
// process as a shared file is. Besides reads past the bytes and unbounded
// loops on a damaged stream, the target checks that a text file comes out
// as it is: its lines, in order, unchanged.
#include "console/trace_records.h"
#include "fuzz_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/nebrix_trace_file_fuzz_" + std::to_string(getpid());
  const int descriptor = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  NEBRIX_FUZZ_CHECK(descriptor >= 0);
  NEBRIX::TraceFileReader reader;
  NEBRIX_FUZZ_CHECK(reader.open(path) == 0);
  std::string text;
  NEBRIX::RecordCollector all(0, -1, [&text](const std::string& line) { return text.append(line + "\n"), true; });
  NEBRIX::RecordCollector shared(4711, 3, [](const std::string&) { return true; });
  bool damaged = false;
  std::string problem;
  for (size_t done = 0, piece = 1; done < size && !damaged; done += piece, piece = piece * 2 + 1) {
    piece = std::min(piece, size - done);
    NEBRIX_FUZZ_CHECK(write(descriptor, data + done, piece) == static_cast<ssize_t>(piece));
    damaged = !reader.readAvailable(all.lineSink(), problem);
    NEBRIX_FUZZ_CHECK(damaged == !problem.empty());
  }
  reader.finish(all.lineSink());
  NEBRIX::TraceFileReader again;
  NEBRIX_FUZZ_CHECK(again.open(path) == 0);
  again.readAvailable(shared.lineSink(), problem);
  NEBRIX_FUZZ_CHECK(shared.records().size() <= 3);
  close(descriptor);
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  if (size >= 2 && bytes.compare(0, 2, "\x1f\x8b") == 0) return 0;
  NEBRIX_FUZZ_CHECK(text == bytes || text == bytes + "\n");
  return 0;
}
