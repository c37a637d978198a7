// Collects what the console writes to std::cout and std::cerr while it
// lives, so that a target can check it and the fuzzer's own output stays
// readable. The streams get their buffers back when it ends.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>

namespace nebrix_fuzz {

class CapturedOutput {
 public:
  CapturedOutput() : m_oldOut(std::cout.rdbuf(m_out.rdbuf())), m_oldErr(std::cerr.rdbuf(m_err.rdbuf())) {}
  ~CapturedOutput() {
    std::cout.clear();
    std::cerr.clear();
    std::cout.rdbuf(m_oldOut);
    std::cerr.rdbuf(m_oldErr);
  }
  CapturedOutput(const CapturedOutput&) = delete;
  CapturedOutput& operator=(const CapturedOutput&) = delete;

  std::string out() const { return m_out.str(); }
  std::string err() const { return m_err.str(); }
  // False once something could not be written, such as a null text.
  static bool streamsGood() { return !std::cout.bad() && !std::cerr.bad(); }

 private:
  std::ostringstream m_out;
  std::ostringstream m_err;
  std::streambuf* m_oldOut;
  std::streambuf* m_oldErr;
};

// A broken property: reported like a crash, with the input saved.
#define NEBRIX_FUZZ_CHECK(condition)                                             \
  do {                                                                           \
    if (!(condition)) {                                                          \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      abort();                                                                   \
    }                                                                            \
  } while (0)

}  // namespace nebrix_fuzz
