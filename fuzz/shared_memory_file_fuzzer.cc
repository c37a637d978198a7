// libFuzzer target: arbitrary bytes as the trace shared-memory file, used by
// TraceSharedMemory (attach with its checks and re-creation, parts, flags,
// update counter, dead parts, the watcher side) and by the console's SHOW
// TRACESETTINGS, in a private profile directory.
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
//   operation  one byte (modulo 9) and its arguments:
//     0 setFlags <pid: 4><length><flags>   5 clearDeadParts
//     1 getFlags <pid: 4>                  6 detach and attach again
//     2 setFlags of this process <length><flags>
//     3 watcher: updateMyReadCount, isMyReadCountLower, getMyFlags
//     4 incUpdateCount                     7 setFlags <pid: 4> of 256 characters
//     8 SHOW TRACESETTINGS
//
// Process ids in the file are only ever probed with signal 0, which sends
// nothing. Besides crashes, the target checks that flags never come out
// longer than their field, that a failed setFlags changes nothing, that the
// counter moves by exactly one, and that SHOW TRACESETTINGS lists exactly
// the parts in use.
#include "fuzz_target.h"
#include "trace/trace_shared_memory.h"

namespace {

using NEBRIX::TraceSharedMemory;

constexpr size_t kFileSize = 26656;
constexpr size_t kFlagsSize = TraceSharedMemory::FLAGS_SIZE;
constexpr int kParts = TraceSharedMemory::NUM_PARTS;
constexpr int kMaxConsoleRuns = 4;

std::string path() { return nebrix_fuzz::profileDirectory() + "/NEBRIX.shm"; }

size_t partAt(int i) { return TraceSharedMemory::HEADER_SIZE + i * sizeof(TraceSharedMemory::Part); }

int32_t wordAt(const std::string& file, size_t offset) {
  int32_t value;
  memcpy(&value, file.data() + offset, 4);
  return value;
}

// The flags text of part i of a file image: up to its NUL, at most 255.
std::string flagsAt(const std::string& file, int i) {
  const char* field = file.data() + partAt(i) + 8;
  return std::string(field, strnlen(field, kFlagsSize - 1));
}

// Writes `bytes` into the field of `size` bytes at `at`, padded with `pad`.
void fill(std::string& image, size_t at, size_t size, std::string bytes, char pad = '\0') {
  bytes.resize(size, pad);
  image.replace(at, size, bytes);
}

std::string imageFrom(nebrix_fuzz::InputReader& in) {
  std::string image(kFileSize, '\0');
  fill(image, 0, 24, in.text(24));
  const int parts = in.byte();
  for (int i = 0; i < parts && !in.empty(); ++i) {
    const size_t at = partAt(in.byte() % kParts);
    fill(image, at, 8, in.text(8));  // process id and read count
    const uint8_t length = in.byte();
    fill(image, at + 8, kFlagsSize, in.text(length), length == 255 ? 'x' : '\0');
  }
  return image;
}

std::string fileFromMapping(TraceSharedMemory& memory) {
  return std::string(reinterpret_cast<const char*>(memory.getAllParts()) - TraceSharedMemory::HEADER_SIZE, kFileSize);
}

// Attaching initializes a header whose version is not 1 and leaves the
// counter, the lock word and the parts alone; a file of the wrong size
// starts as zeros.
void checkAttached(TraceSharedMemory& memory, std::string before) {
  NEBRIX_FUZZ_CHECK(memory.getAllParts() != nullptr && memory.getVersion() == TraceSharedMemory::VERSION);
  if (before.size() != kFileSize) before.assign(kFileSize, '\0');
  if (wordAt(before, 8) != TraceSharedMemory::VERSION) {
    const int32_t initialized[4] = {static_cast<int32_t>(kFileSize), TraceSharedMemory::VERSION, 1, 1};
    memcpy(&before[4], initialized, sizeof initialized);
  }
  NEBRIX_FUZZ_CHECK(fileFromMapping(memory) == before);
}

void checkGetFlags(TraceSharedMemory& memory, int32_t pid) {
  const std::string before = fileFromMapping(memory);
  int slot = 0;
  while (slot < kParts && wordAt(before, partAt(slot)) != pid) ++slot;
  std::string flags = "unchanged";
  const bool found = memory.getFlags(pid, flags);
  NEBRIX_FUZZ_CHECK(found == (pid != 0 && slot < kParts));
  NEBRIX_FUZZ_CHECK(fileFromMapping(memory) == before);  // never claims a part
  if (found) NEBRIX_FUZZ_CHECK(flags.size() < kFlagsSize && flags == flagsAt(before, slot));
}

void checkSetFlags(TraceSharedMemory& memory, int32_t pid, const std::string& flags) {
  const std::string before = fileFromMapping(memory);
  bool stored;
  {
    TraceSharedMemory::LockedScope scope(memory);
    stored = memory.setFlags(pid, flags.c_str());
  }
  if (!stored) {
    NEBRIX_FUZZ_CHECK(fileFromMapping(memory) == before);
    return;
  }
  NEBRIX_FUZZ_CHECK(pid != 0 && strlen(flags.c_str()) < kFlagsSize);
  std::string read;
  NEBRIX_FUZZ_CHECK(memory.getFlags(pid, read) && read == flags.c_str());
  NEBRIX_FUZZ_CHECK(wordAt(fileFromMapping(memory), 0) == wordAt(before, 0));
}

// The counter wraps as an unsigned number would.
uint32_t updateCount(TraceSharedMemory& memory) { return static_cast<uint32_t>(memory.getUpdateCount()); }

// SHOW TRACESETTINGS shows the file as it leaves it (`memory` attached, or
// on disk): one row per part in use, in slot order, with the part's flags up
// to their NUL, never more than the field holds.
void checkShown(TraceSharedMemory* memory) {
  std::string out;
  NEBRIX_FUZZ_CHECK(nebrix_fuzz::runConsole({"SHOW", "TRACESETTINGS"}, out) == NEBRIX_OK);
  const std::string file = memory != nullptr ? fileFromMapping(*memory) : nebrix_test::readFile(path());
  NEBRIX_FUZZ_CHECK(file.size() == kFileSize);
  const std::string table = "  Process  Update count  Flags\n  " + std::string(70, '-') + "\n";
  const size_t start = out.find(table);
  NEBRIX_FUZZ_CHECK(start != std::string::npos);
  NEBRIX_FUZZ_CHECK(out.find("  Update count : " + std::to_string(wordAt(file, 0)) + "\n") != std::string::npos);
  NEBRIX_FUZZ_CHECK(out.find("  Version flag : 1\n") != std::string::npos);
  std::string rows;
  for (int i = 0; i < kParts; ++i) {
    if (wordAt(file, partAt(i)) == 0) continue;
    char counts[64];
    snprintf(counts, sizeof counts, "    %5.d         %5.d  ", wordAt(file, partAt(i)), wordAt(file, partAt(i) + 4));
    rows += counts + flagsAt(file, i) + "\n";
  }
  NEBRIX_FUZZ_CHECK(out.compare(start + table.size(), std::string::npos, rows) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  const int status = nebrix_test::rerunUnderPrivateHome(*argc, *argv);
  if (status >= 0) _exit(status);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  nebrix_fuzz::InputReader in(data, size);
  const uint8_t control = in.byte();
  const int layout = control & 3;
  const mode_t mode = (control & 4) != 0 ? 0644 : 0600;
  const std::string file = layout == 1 ? in.rest() : layout == 2 ? "" : imageFrom(in);
  if (layout == 2) {
    unlink(path().c_str());
  } else {
    nebrix_fuzz::writeWholeFile(path(), file);
    chmod(path().c_str(), mode);
  }

  TraceSharedMemory memory;
  memory.attach("NEBRIX", nullptr);
  checkAttached(memory, file);
  struct stat status;
  NEBRIX_FUZZ_CHECK(stat(path().c_str(), &status) == 0);
  NEBRIX_FUZZ_CHECK((status.st_mode & 0777) == (file.size() == kFileSize ? mode : 0600));

  int consoleRuns = 0;
  while (!in.empty()) {
    switch (in.byte() % 9) {
      case 0: {
        const int32_t pid = in.word();
        checkSetFlags(memory, pid, in.text(in.byte()));
        break;
      }
      case 1: checkGetFlags(memory, in.word()); break;
      case 2: checkSetFlags(memory, getpid(), in.text(in.byte())); break;
      case 3: {
        memory.updateMyReadCount();
        NEBRIX_FUZZ_CHECK(!memory.isMyReadCountLower());
        const char* mine = memory.getMyFlags();
        NEBRIX_FUZZ_CHECK(mine == nullptr || strlen(mine) < kFlagsSize);
        break;
      }
      case 4: {
        const uint32_t before = updateCount(memory);
        memory.incUpdateCount();
        NEBRIX_FUZZ_CHECK(updateCount(memory) == before + 1u);
        break;
      }
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
      case 7: checkSetFlags(memory, in.word(), std::string(kFlagsSize, 'c')); break;
      case 8:
        if (++consoleRuns <= kMaxConsoleRuns) checkShown(&memory);
        break;
    }
  }
  memory.detach();
  checkShown(nullptr);
  return 0;
}
