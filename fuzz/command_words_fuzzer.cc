// libFuzzer target: arbitrary command lines through the console's option scan
// and keyword parser (Console::parseArguments). The input is split into
// argument words at every newline or NUL; an empty line is an empty word,
// and a final separator ends the last word. Only parsing runs, and it touches
// no file.
//
// Besides crashes, the target checks what a caller of the parser relies on:
// a failure is always reported on standard error and a success never is,
// the argument words stay unchanged, and an accepted command carries only
// values its operation can use.
#include "fuzz_target.h"

namespace {

using NEBRIX::Console;

bool pointsToWord(const char* text, const std::vector<char*>& argv) {
  return text != nullptr && std::find(argv.begin(), argv.end(), text) != argv.end();
}

void checkAccepted(const Console& console, const std::vector<char*>& argv) {
  const Console::Command c = console.command();
  NEBRIX_FUZZ_CHECK(c >= Console::C_NONE && c <= Console::C_SHOW_HISTORY);
  NEBRIX_FUZZ_CHECK(c != Console::C_CONFIG_TRACE_PROFILE && c != Console::C_TRACE_PROFILE &&
                    c != Console::C_TRACE_COMPRESS);
  NEBRIX_FUZZ_CHECK(console.pidPresent() == (console.pid() != 0) && console.pid() >= 0);
  // Configuration commands are not sent to a process.
  if (c >= Console::C_CONFIG_TRACE_SHORT && c <= Console::C_CONFIG_TRACE_DISTRIBUTION) {
    NEBRIX_FUZZ_CHECK(!console.pidPresent());
  }
  if (console.user() != nullptr) NEBRIX_FUZZ_CHECK(pointsToWord(console.user(), argv));

  // What each operation uses: a file size, a packet size, an error to stop on, a file name.
  const auto is = [c](Console::Command config, Console::Command other) { return c == config || c == other; };
  if (is(Console::C_CONFIG_TRACE_SIZE, Console::C_TRACE_SIZE)) {
    NEBRIX_FUZZ_CHECK(console.size() == -1 || console.size() >= 8192);
  }
  if (is(Console::C_CONFIG_TRACE_PACKET, Console::C_TRACE_PACKET)) {
    NEBRIX_FUZZ_CHECK(!console.on() || console.size() >= 1);
  }
  if (is(Console::C_CONFIG_TRACE_STOP_ON_ERROR, Console::C_TRACE_STOP_ON_ERROR)) {
    NEBRIX_FUZZ_CHECK(console.stopOnError() ? console.errorCode() != 0 && console.errorCount() >= 0
                                            : console.errorCode() == 0 && console.errorCount() == 0);
  }
  if (is(Console::C_CONFIG_TRACE_FILENAME, Console::C_PROFILE_FILENAME)) {
    NEBRIX_FUZZ_CHECK(pointsToWord(console.filename(), argv));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> words = {"nebrix_cons"};
  std::string word;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == '\n' || data[i] == '\0') {
      words.push_back(word);
      word.clear();
    } else {
      word += static_cast<char>(data[i]);
    }
  }
  if (!word.empty()) words.push_back(word);
  const std::vector<std::string> original = words;
  std::vector<char*> argv = nebrix_fuzz::argvOf(words);

  Console console;
  NEBRIX_Retcode rc;
  std::string out, errors;
  {
    nebrix_fuzz::Capture captureOut(std::cout, out);
    nebrix_fuzz::Capture captureErr(std::cerr, errors);
    rc = console.parseArguments(static_cast<int>(words.size()), argv.data());
  }
  NEBRIX_FUZZ_CHECK(rc == NEBRIX_OK || rc == NEBRIX_NOT_OK);
  NEBRIX_FUZZ_CHECK((rc == NEBRIX_OK) == errors.empty());
  NEBRIX_FUZZ_CHECK(words == original);
  if (rc == NEBRIX_OK) checkAccepted(console, argv);
  return 0;
}
