// libFuzzer target: arbitrary bytes as the trace shared-memory file, used by
// TraceSharedMemory (attach with its checks and re-creation, parts, flags,
// update counter, dead parts, the watcher side) and by the console's
// dynamic "-p" commands and SHOW TRACESETTINGS, in a private profile
// directory.
//
// Input: one control byte, the file, then operations until the input ends.
//   control bits 0-1  0, 3: a file image (below); 1: the rest of the input
//                     is the whole file (any other size is replaced);
//                     2: no file
//   control bit 2     the file has mode 0644 instead of 0600
//   image  six 32-bit header words (machine order), a count n and n parts:
//          <slot><processID: 4><readCount: 4><length><flags>; the other
//          parts stay zero. A length of 255 fills all 256 bytes of the
//          field, so that it has no terminating NUL.
//   operation  one byte (modulo 10) and its arguments:
//     0 setFlags <pid: 4><length><flags>   5 clearDeadParts
//     1 getFlags <pid: 4>                  6 detach and attach again
//     2 setFlags of this process <length><flags>
//     3 watcher: updateMyReadCount, isMyReadCountLower, getMyFlags
//     4 incUpdateCount                     7 setFlags <pid: 4> of 256 characters
//     8 SHOW TRACESETTINGS                 9 "-p <pid: 4>" and a dynamic command <which>
//
// Process ids in the file are only ever probed with signal 0, which sends
// nothing. Besides crashes, the target checks that flags never come out
// longer than their field, that a failed setFlags changes nothing, that the
// counter moves by exactly one, that the console writes back only canonical
// flags, and that SHOW TRACESETTINGS lists exactly the parts in use.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/exception.h"
#include "captured_output.h"
#include "console/console.h"
#include "input_reader.h"
#include "private_home.h"
#include "trace/trace_flags.h"
#include "trace/trace_shared_memory.h"

namespace {

using NEBRIX::TraceFlags;
using NEBRIX::TraceSharedMemory;

constexpr size_t kFileSize = 26656;
constexpr size_t kPartSize = sizeof(TraceSharedMemory::Part);
constexpr size_t kMaxFlags = TraceSharedMemory::FLAGS_SIZE - 1;
constexpr int kMaxConsoleRuns = 4;

std::string path() { return nebrix_fuzz::profileDirectory() + "/NEBRIX.shm"; }

std::string imageFrom(nebrix_fuzz::InputReader& in) {
  std::string image(kFileSize, '\0');
  for (size_t offset = 0; offset < 24; offset += 4) {
    const int32_t value = in.word();
    memcpy(&image[offset], &value, 4);
  }
  const int parts = in.byte();
  for (int i = 0; i < parts && !in.empty(); ++i) {
    const size_t at = TraceSharedMemory::HEADER_SIZE + (in.byte() % TraceSharedMemory::NUM_PARTS) * kPartSize;
    const int32_t pid = in.word();
    const int32_t readCount = in.word();
    memcpy(&image[at], &pid, 4);
    memcpy(&image[at + 4], &readCount, 4);
    const uint8_t length = in.byte();
    std::string flags = in.text(length);
    if (length == 255) flags.resize(TraceSharedMemory::FLAGS_SIZE, 'x');
    image.replace(at + 8, TraceSharedMemory::FLAGS_SIZE, std::string(TraceSharedMemory::FLAGS_SIZE, '\0'));
    image.replace(at + 8, flags.size(), flags);
  }
  return image;
}

int32_t wordAt(const std::string& file, size_t offset) {
  int32_t value;
  memcpy(&value, file.data() + offset, 4);
  return value;
}

// The flags text of part i of a file image: up to its NUL, at most 255.
std::string flagsAt(const std::string& file, int i) {
  const char* field = file.data() + TraceSharedMemory::HEADER_SIZE + i * kPartSize + 8;
  return std::string(field, strnlen(field, kMaxFlags));
}

std::string fileFromMapping(TraceSharedMemory& memory) {
  const char* parts = reinterpret_cast<const char*>(memory.getAllParts());
  return std::string(parts - TraceSharedMemory::HEADER_SIZE, kFileSize);
}

mode_t fileMode() {
  struct stat status;
  return stat(path().c_str(), &status) == 0 ? status.st_mode & 0777 : 0;
}

// Attaching initializes a header whose version is not 1 and leaves the
// counter, the lock word and the parts alone; a file of the wrong size
// starts as zeros.
void checkAttached(TraceSharedMemory& memory, std::string before) {
  NEBRIX_FUZZ_CHECK(memory.getAllParts() != nullptr);
  NEBRIX_FUZZ_CHECK(memory.getVersion() == TraceSharedMemory::VERSION);
  if (before.size() != kFileSize) before.assign(kFileSize, '\0');
  if (wordAt(before, 8) != TraceSharedMemory::VERSION) {
    const int32_t initialized[4] = {static_cast<int32_t>(kFileSize), TraceSharedMemory::VERSION, 1, 1};
    memcpy(&before[4], initialized, sizeof initialized);
  }
  NEBRIX_FUZZ_CHECK(fileFromMapping(memory) == before);
}

bool hasPart(const std::string& file, int32_t pid) {
  for (int i = 0; i < TraceSharedMemory::NUM_PARTS; ++i) {
    if (wordAt(file, TraceSharedMemory::HEADER_SIZE + i * kPartSize) == pid) return true;
  }
  return false;
}

void checkGetFlags(TraceSharedMemory& memory, int32_t pid) {
  const std::string before = fileFromMapping(memory);
  std::string flags = "unchanged";
  const bool found = memory.getFlags(pid, flags);
  NEBRIX_FUZZ_CHECK(found == (pid != 0 && hasPart(before, pid)));
  NEBRIX_FUZZ_CHECK(fileFromMapping(memory) == before);  // never claims a part
  if (!found) return;
  NEBRIX_FUZZ_CHECK(flags.size() <= kMaxFlags);
  for (int i = 0; i < TraceSharedMemory::NUM_PARTS; ++i) {
    if (wordAt(before, TraceSharedMemory::HEADER_SIZE + i * kPartSize) == pid) {
      NEBRIX_FUZZ_CHECK(flags == flagsAt(before, i));
      break;
    }
  }
}

void checkSetFlags(TraceSharedMemory& memory, int32_t pid, const std::string& flags) {
  const std::string before = fileFromMapping(memory);
  bool stored;
  {
    TraceSharedMemory::LockedScope scope(memory);
    stored = memory.setFlags(pid, flags.c_str());
  }
  const size_t length = strlen(flags.c_str());
  if (!stored) {
    NEBRIX_FUZZ_CHECK(fileFromMapping(memory) == before);
    return;
  }
  NEBRIX_FUZZ_CHECK(pid != 0 && length <= kMaxFlags);
  std::string read;
  NEBRIX_FUZZ_CHECK(memory.getFlags(pid, read) && read == flags.c_str());
  NEBRIX_FUZZ_CHECK(wordAt(fileFromMapping(memory), 0) == wordAt(before, 0));
}

void checkWatcher(TraceSharedMemory& memory) {
  memory.updateMyReadCount();
  NEBRIX_FUZZ_CHECK(!memory.isMyReadCountLower());
  const char* mine = memory.getMyFlags();
  if (mine != nullptr) NEBRIX_FUZZ_CHECK(strlen(mine) <= kMaxFlags);
}

void checkIncrement(TraceSharedMemory& memory) {
  const uint32_t before = static_cast<uint32_t>(memory.getUpdateCount());
  memory.incUpdateCount();
  NEBRIX_FUZZ_CHECK(static_cast<uint32_t>(memory.getUpdateCount()) == before + 1u);
}

NEBRIX_Retcode runConsole(std::vector<std::string> words, std::string& out) {
  words.insert(words.begin(), "nebrix_cons");
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(&word[0]);
  argv.push_back(nullptr);
  nebrix_fuzz::CapturedOutput output;
  NEBRIX::Console console;
  NEBRIX_Retcode rc = console.parseArguments(static_cast<int>(words.size()), argv.data());
  NEBRIX_FUZZ_CHECK(rc == NEBRIX_OK);
  rc = console.run();
  NEBRIX_FUZZ_CHECK(nebrix_fuzz::CapturedOutput::streamsGood());
  out = output.out();
  return rc;
}

// A dynamic command for one process: on success its part holds canonical
// flags (or the marker "R" after a refresh), and the counter moved once.
void checkDynamicCommand(TraceSharedMemory& memory, int32_t pid, uint8_t which) {
  static const std::vector<std::vector<std::string>> kCommands = {
      {"TRACE", "SQL", "ON"},       {"TRACE", "DEBUG", "OFF"},   {"TRACE", "PACKET", "4096"},
      {"TRACE", "SIZE", "16384"},   {"TRACE", "STOP", "ON", "ERROR", "-10", "COUNT", "3"},
      {"TRACE", "OFF"},             {"TRACE", "REFRESH"},        {"PROFILE", "COLLECT", "ON"},
      {"TRACE", "TIMESTAMP", "ON"}, {"TRACE", "API", "OFF"},
  };
  if (pid < 1) return;  // not a process id the console accepts
  const std::vector<std::string>& command = kCommands[which % kCommands.size()];
  std::vector<std::string> words = {"-p", std::to_string(pid)};
  words.insert(words.end(), command.begin(), command.end());
  const uint32_t before = static_cast<uint32_t>(memory.getUpdateCount());
  std::string out;
  if (runConsole(words, out) != NEBRIX_OK) return;
  NEBRIX_FUZZ_CHECK(static_cast<uint32_t>(memory.getUpdateCount()) == before + 1u);
  std::string flags;
  NEBRIX_FUZZ_CHECK(memory.getFlags(pid, flags));
  if (command[1] == "REFRESH") {
    NEBRIX_FUZZ_CHECK(flags == "R");
  } else {
    NEBRIX_FUZZ_CHECK(TraceFlags(flags.c_str()).toString() == flags);
  }
}

// The rows of SHOW TRACESETTINGS: one per part in use, in slot order, with
// the part's flags up to their NUL, never more than the field holds.
void checkShown(const std::string& file, const std::string& out) {
  const std::string table = "  Process  Update count  Flags\n  " + std::string(70, '-') + "\n";
  const size_t start = out.find(table);
  NEBRIX_FUZZ_CHECK(start != std::string::npos);
  NEBRIX_FUZZ_CHECK(out.find("  Update count : " + std::to_string(wordAt(file, 0)) + "\n") !=
                    std::string::npos);
  NEBRIX_FUZZ_CHECK(out.find("  Version flag : 1\n") != std::string::npos);
  std::string rows;
  for (int i = 0; i < TraceSharedMemory::NUM_PARTS; ++i) {
    const size_t part = TraceSharedMemory::HEADER_SIZE + i * kPartSize;
    if (wordAt(file, part) == 0) continue;
    char counts[64];
    snprintf(counts, sizeof counts, "    %5.d         %5.d  ", wordAt(file, part), wordAt(file, part + 4));
    rows += counts + flagsAt(file, i) + "\n";
  }
  NEBRIX_FUZZ_CHECK(out.compare(start + table.size(), std::string::npos, rows) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char*** argv) {
  nebrix_fuzz::runUnderPrivateHome(*argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  nebrix_fuzz::InputReader in(data, size);
  const uint8_t control = in.byte();
  const int layout = control & 3;
  const mode_t mode = (control & 4) != 0 ? 0644 : 0600;

  std::string file;
  if (layout == 1) {
    file = in.rest();
  } else if (layout != 2) {
    file = imageFrom(in);
  }
  // Rewritten in place: creating a file anew costs more than the run.
  if (layout == 2) {
    unlink(path().c_str());
  } else {
    nebrix_fuzz::writeWholeFile(path(), file.data(), file.size());
    chmod(path().c_str(), mode);
  }

  TraceSharedMemory memory;
  memory.attach("NEBRIX", nullptr);
  checkAttached(memory, file);
  NEBRIX_FUZZ_CHECK(fileMode() == (file.size() == kFileSize ? mode : 0600));

  int consoleRuns = 0;
  while (!in.empty()) {
    switch (in.byte() % 10) {
      case 0: {
        const int32_t pid = in.word();
        checkSetFlags(memory, pid, in.text(in.byte()));
        break;
      }
      case 1: checkGetFlags(memory, in.word()); break;
      case 2: checkSetFlags(memory, getpid(), in.text(in.byte())); break;
      case 3: checkWatcher(memory); break;
      case 4: checkIncrement(memory); break;
      case 5: {
        TraceSharedMemory::LockedScope scope(memory);
        memory.clearDeadParts();
        break;
      }
      case 6: {
        const std::string before = fileFromMapping(memory);
        memory.detach();
        memory.attach("NEBRIX", nullptr);
        checkAttached(memory, before);
        break;
      }
      case 7: checkSetFlags(memory, in.word(), std::string(TraceSharedMemory::FLAGS_SIZE, 'c')); break;
      case 8: {
        if (++consoleRuns > kMaxConsoleRuns) break;
        std::string out;
        NEBRIX_FUZZ_CHECK(runConsole({"SHOW", "TRACESETTINGS"}, out) == NEBRIX_OK);
        checkShown(fileFromMapping(memory), out);
        break;
      }
      case 9: {
        const int32_t pid = in.word();
        const uint8_t which = in.byte();
        if (++consoleRuns <= kMaxConsoleRuns) checkDynamicCommand(memory, pid, which);
        break;
      }
    }
  }
  memory.detach();

  std::string out;
  NEBRIX_FUZZ_CHECK(runConsole({"SHOW", "TRACESETTINGS"}, out) == NEBRIX_OK);
  file = nebrix_fuzz::readWholeFile(path());
  NEBRIX_FUZZ_CHECK(file.size() == kFileSize);
  checkShown(file, out);
  return 0;
}
