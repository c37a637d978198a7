// What the fuzz targets share: taking an input apart, running the console as
// the program would with its output captured, the files of the profile
// directory, and a broken property reported like a crash.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "console/console.h"
#include "private_home.h"
#include "profile/user_profile.h"

// The input is saved as for a crash.
#define NEBRIX_FUZZ_CHECK(condition)                                                \
  do {                                                                              \
    if (!(condition)) {                                                             \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      abort();                                                                      \
    }                                                                               \
  } while (0)

namespace nebrix_fuzz {

// Takes an input apart front to back. Reading past the end gives zero bytes
// and short texts, so every input is a complete one.
class InputReader {
 public:
  InputReader(const uint8_t* data, size_t size) : m_data(data), m_end(data + size) {}

  bool empty() const { return m_data == m_end; }
  uint8_t byte() { return m_data == m_end ? 0 : *m_data++; }
  // Four bytes in the machine's byte order.
  int32_t word() {
    const uint8_t bytes[4] = {byte(), byte(), byte(), byte()};
    int32_t value;
    memcpy(&value, bytes, sizeof value);
    return value;
  }
  std::string text(size_t length) {
    const uint8_t* start = m_data;
    m_data += std::min<size_t>(length, m_end - m_data);
    return std::string(start, m_data);
  }
  std::string rest() { return text(m_end - m_data); }

 private:
  const uint8_t* m_data;
  const uint8_t* m_end;
};

// Sends what is written to `stream` (stdout or stderr, through which the
// console writes) while it lives to `text`, also when an exception ends it,
// so that a target can check it and the fuzzer's own output stays readable.
class Capture {
 public:
  Capture(std::FILE*& stream, std::string& text) : m_stream(stream), m_text(text), m_old(stream) {
    std::fflush(m_old);
    m_stream = open_memstream(&m_buffer, &m_size);
    NEBRIX_FUZZ_CHECK(m_stream != nullptr);
  }
  ~Capture() {
    // A stream that could not write something is in error.
    NEBRIX_FUZZ_CHECK(std::ferror(m_stream) == 0);
    std::fclose(m_stream);
    m_stream = m_old;
    m_text.assign(m_buffer, m_size);
    std::free(m_buffer);
  }

 private:
  std::FILE*& m_stream;
  std::string& m_text;
  std::FILE* m_old;
  char* m_buffer = nullptr;
  std::size_t m_size = 0;
};

// Runs the console on `words` as the program would, what it writes to
// standard output going to `out`; the words must parse. What run() throws
// passes on.
inline NEBRIX_Retcode runConsole(std::vector<std::string> words, std::string& out) {
  words.insert(words.begin(), "nebrix_cons");
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(&word[0]);
  argv.push_back(nullptr);
  std::string errors;
  Capture captureOut(stdout, out);
  Capture captureErr(stderr, errors);
  NEBRIX::Console console;
  NEBRIX_FUZZ_CHECK(console.parseArguments(static_cast<int>(words.size()), argv.data()) == NEBRIX_OK);
  return console.run();
}

// <private home>/.orq/<node name>, made by the first call.
inline const std::string& profileDirectory() {
  static const std::string directory = [] {
    std::string path;
    SecureStore::UserProfile::getUserProfilePath(path, "", false, false);
    NEBRIX_FUZZ_CHECK(path.rfind(nebrix_test::privateHomeDirectory() + "/.orq/", 0) == 0);
    return path;
  }();
  return directory;
}

// Rewritten in place, mode 0600 if new: creating a file anew costs more than
// the run.
inline void writeWholeFile(const std::string& path, const std::string& bytes) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  NEBRIX_FUZZ_CHECK(fd >= 0 && write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()));
  close(fd);
}

}  // namespace nebrix_fuzz
