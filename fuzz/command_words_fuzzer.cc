// libFuzzer target: arbitrary command lines through the console's option scan
// and keyword parser (Console::parseArguments). The input is split into
// argument words at every newline or NUL; an empty line is an empty word,
// and a final separator ends the last word. Only parsing runs: run() is never
// called, and parsing touches no file.
//
// Besides crashes, the target checks what a caller of the parser relies on:
// a failure is always reported on standard error and a success never is,
// the argument words stay unchanged, and an accepted command carries only
// values its operation can use.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "captured_output.h"
#include "console/console.h"

namespace {

using NEBRIX::Console;

std::vector<std::string> splitWords(const uint8_t* data, size_t size) {
  std::vector<std::string> words;
  std::string word;
  bool open = false;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == '\n' || data[i] == '\0') {
      words.push_back(word);
      word.clear();
      open = false;
    } else {
      word += static_cast<char>(data[i]);
      open = true;
    }
  }
  if (open) words.push_back(word);
  return words;
}

bool pointsToWord(const char* text, const std::vector<char*>& argv) {
  for (const char* word : argv) {
    if (word != nullptr && text == word) return true;
  }
  return false;
}

bool isConfigCommand(Console::Command c) {
  return c >= Console::C_CONFIG_TRACE_SHORT && c <= Console::C_CONFIG_TRACE_DISTRIBUTION;
}

void checkAccepted(const Console& console, const std::vector<char*>& argv) {
  const Console::Command c = console.command();
  NEBRIX_FUZZ_CHECK(c >= Console::C_NONE && c <= Console::C_SHOW_HISTORY);
  NEBRIX_FUZZ_CHECK(c != Console::C_CONFIG_TRACE_PROFILE && c != Console::C_TRACE_PROFILE &&
                    c != Console::C_TRACE_COMPRESS);
  NEBRIX_FUZZ_CHECK(console.pidPresent() == (console.pid() != 0));
  NEBRIX_FUZZ_CHECK(console.pid() >= 0);
  if (isConfigCommand(c)) NEBRIX_FUZZ_CHECK(!console.pidPresent());
  if (console.user() != nullptr) NEBRIX_FUZZ_CHECK(pointsToWord(console.user(), argv));

  switch (c) {
    case Console::C_CONFIG_TRACE_SIZE:
    case Console::C_TRACE_SIZE:
      NEBRIX_FUZZ_CHECK(console.size() == -1 || console.size() >= 8192);
      break;
    case Console::C_CONFIG_TRACE_PACKET:
    case Console::C_TRACE_PACKET:
      if (console.on()) NEBRIX_FUZZ_CHECK(console.size() >= 1);
      break;
    case Console::C_CONFIG_TRACE_STOP_ON_ERROR:
    case Console::C_TRACE_STOP_ON_ERROR:
      if (console.stopOnError()) {
        NEBRIX_FUZZ_CHECK(console.errorCode() != 0 && console.errorCount() >= 0);
      } else {
        NEBRIX_FUZZ_CHECK(console.errorCode() == 0 && console.errorCount() == 0);
      }
      break;
    case Console::C_CONFIG_TRACE_FILENAME:
    case Console::C_PROFILE_FILENAME:
      NEBRIX_FUZZ_CHECK(console.filename() != nullptr && pointsToWord(console.filename(), argv));
      break;
    default:
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> words = splitWords(data, size);
  words.insert(words.begin(), "nebrix_cons");
  const std::vector<std::string> original = words;
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(&word[0]);
  argv.push_back(nullptr);

  Console console;
  NEBRIX_Retcode rc;
  std::string errors;
  {
    nebrix_fuzz::CapturedOutput output;
    rc = console.parseArguments(static_cast<int>(words.size()), argv.data());
    NEBRIX_FUZZ_CHECK(nebrix_fuzz::CapturedOutput::streamsGood());
    errors = output.err();
  }

  NEBRIX_FUZZ_CHECK(rc == NEBRIX_OK || rc == NEBRIX_NOT_OK);
  NEBRIX_FUZZ_CHECK((rc == NEBRIX_OK) == errors.empty());
  NEBRIX_FUZZ_CHECK(words == original);
  if (rc == NEBRIX_OK) checkAccepted(console, argv);
  return 0;
}
