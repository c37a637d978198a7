// libFuzzer target: arbitrary bytes as the usage history file, read and
// written by ConsoleHistory (prepare, getHistory, logAction) and shown by the
// console's SHOW HISTORY, in a private profile directory.
//
// Input: one control byte, then (with bit 4) the fields of an entry to log,
// then the file bytes.
//   bits 0-1  the file: 0 the bytes as they are, 1 the bytes repeated to
//             12000, 2 a fresh file with the bytes written over it at the
//             offset in the first two of them and its size changed by the
//             third one less 128, 3 no file
//   bits 2-3  prepare mode: 0 create if needed, 1 recreate, 2 read; 3 read,
//             and SHOW HISTORY runs with "-u" (refused)
//   bit  4    log an entry: <len><timestamp><len><user><len><action><pid: 4>
//   bits 5-6  getHistory buffer: 12000, 1000, 119 bytes, or a size of -1
//
// Besides crashes, the target checks the ring's promises: prepare leaves a
// file of 12000 bytes (or none, when only reading), getHistory copies the
// records exactly, a logged entry replaces only the oldest record, and SHOW
// HISTORY prints every non-empty record once, oldest first.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base/exception.h"
#include "captured_output.h"
#include "console/console.h"
#include "input_reader.h"
#include "private_home.h"
#include "profile/console_history.h"

namespace {

using NEBRIX::ConsoleHistory;
constexpr size_t kRecord = ConsoleHistory::RECORD_SIZE;
constexpr size_t kFileSize = ConsoleHistory::FILE_SIZE;
constexpr size_t kKeySize = ConsoleHistory::TIMESTAMP_SIZE + 1;  // stamp and blank

const char* const kHeader =
    "DATE                       USER                PROCESS     COMMAND\n";
const char* const kEmpty = "Command history is empty.\n";

bool fileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

const std::string& emptyFile() {
  static const std::string file = [] {
    std::string f;
    for (size_t i = 0; i < ConsoleHistory::RECORD_COUNT; ++i) f += ConsoleHistory::EMPTY_RECORD;
    return f;
  }();
  return file;
}

std::string fileFor(int layout, const std::string& bytes) {
  switch (layout) {
    case 0: return bytes;
    case 1: {
      if (bytes.empty()) return "";
      std::string file;
      while (file.size() < kFileSize) file += bytes;
      return file.substr(0, kFileSize);
    }
    default: {
      std::string file = emptyFile();
      if (bytes.size() < 3) return file;
      const size_t offset = ((uint8_t(bytes[0]) << 8) | uint8_t(bytes[1])) % kFileSize;
      const std::string over = bytes.substr(3, kFileSize - offset);
      file.replace(offset, over.size(), over);
      file.resize(kFileSize - 128 + uint8_t(bytes[2]), '\n');  // 128: the size stays
      return file;
    }
  }
}

void checkPrepared(int mode, bool existed, const std::string& before, const std::string& after,
                   bool existsAfter) {
  if (mode == ConsoleHistory::PREPARE_READ) {
    NEBRIX_FUZZ_CHECK(existsAfter == existed && after == before);
  } else if (mode == ConsoleHistory::PREPARE_RECREATE || !existed || before.size() != kFileSize) {
    NEBRIX_FUZZ_CHECK(after == emptyFile());
  } else {
    NEBRIX_FUZZ_CHECK(after == before);
  }
}

void checkGetHistory(ConsoleHistory& history, int variant, const std::string& file, bool exists) {
  const int32_t sizes[] = {static_cast<int32_t>(kFileSize), 1000, 119, -1};
  const int32_t size = sizes[variant];
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 1);
  int32_t entries = -1;
  const int rc = history.getHistory(buffer.data(), size, entries);
  const size_t wanted = size < 0 ? 0 : std::min<size_t>(size / kRecord, ConsoleHistory::RECORD_COUNT);
  if (rc == 0) {
    NEBRIX_FUZZ_CHECK(size >= 0 && exists && static_cast<size_t>(entries) == wanted);
    NEBRIX_FUZZ_CHECK(file.compare(0, wanted * kRecord, buffer.data(), wanted * kRecord) == 0);
  } else {
    NEBRIX_FUZZ_CHECK(rc == 1 && entries == 0);
    NEBRIX_FUZZ_CHECK(size < 0 || !exists || file.size() < wanted * kRecord);
  }
}

// The entry goes over the first record with the smallest key, searched from
// a start value of 27 "X": with no key below that, over the first record.
void checkLogged(const std::string& before, const std::string& after, const std::string& record) {
  const size_t needed = (ConsoleHistory::RECORD_COUNT - 1) * kRecord + kKeySize;
  if (before.size() < needed) {
    NEBRIX_FUZZ_CHECK(after == before);
    return;
  }
  std::string minimum(kKeySize, 'X');
  size_t slot = 0;
  for (size_t i = 0; i < ConsoleHistory::RECORD_COUNT; ++i) {
    const std::string key = before.substr(i * kRecord, kKeySize);
    if (key < minimum) minimum = key, slot = i * kRecord;
  }
  std::string expected = before;
  if (expected.size() < slot + kRecord) expected.resize(slot + kRecord);
  expected.replace(slot, kRecord, record);
  NEBRIX_FUZZ_CHECK(after == expected);
}

// Every non-empty record of the file once, in the order of the time stamps.
void checkShown(const std::string& file, NEBRIX_Retcode rc, const std::string& out) {
  if (file.size() < kFileSize) {
    NEBRIX_FUZZ_CHECK(rc == NEBRIX_NOT_OK && out == kEmpty);
    return;
  }
  NEBRIX_FUZZ_CHECK(rc == NEBRIX_OK);
  std::vector<std::string> records;
  for (size_t i = 0; i < ConsoleHistory::RECORD_COUNT; ++i) {
    if (file[i * kRecord + kKeySize] != '-') records.push_back(file.substr(i * kRecord, kRecord));
  }
  if (records.empty()) {
    NEBRIX_FUZZ_CHECK(out == std::string(kEmpty) + "\n");
    return;
  }
  const std::string head = std::string(kHeader) + std::string(kRecord, '-') + "\n";
  NEBRIX_FUZZ_CHECK(out.size() == head.size() + records.size() * kRecord + 1);
  NEBRIX_FUZZ_CHECK(out.compare(0, head.size(), head) == 0 && out.back() == '\n');
  std::vector<std::string> shown;
  for (size_t i = 0; i < records.size(); ++i) shown.push_back(out.substr(head.size() + i * kRecord, kRecord));
  for (size_t i = 1; i < shown.size(); ++i) {
    NEBRIX_FUZZ_CHECK(memcmp(shown[i - 1].data(), shown[i].data(), ConsoleHistory::TIMESTAMP_SIZE) <= 0);
  }
  std::sort(shown.begin(), shown.end());
  std::sort(records.begin(), records.end());
  NEBRIX_FUZZ_CHECK(shown == records);
}

NEBRIX_Retcode showHistory(bool otherUser, std::string& out) {
  std::vector<std::string> words = {"nebrix_cons", "SHOW", "HISTORY"};
  if (otherUser) words.insert(words.begin() + 1, {"-u", "someone"});
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(&word[0]);
  argv.push_back(nullptr);
  nebrix_fuzz::CapturedOutput output;
  NEBRIX::Console console;
  NEBRIX_Retcode rc = console.parseArguments(static_cast<int>(words.size()), argv.data());
  NEBRIX_FUZZ_CHECK(rc == NEBRIX_OK);
  try {
    rc = console.run();
    NEBRIX_FUZZ_CHECK(!otherUser);
  } catch (const ltt::exception&) {
    NEBRIX_FUZZ_CHECK(otherUser);  // acting for another user is refused
    rc = NEBRIX_NOT_OK;
  }
  NEBRIX_FUZZ_CHECK(nebrix_fuzz::CapturedOutput::streamsGood());
  out = output.out();
  return rc;
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
  const int modeBits = (control >> 2) & 3;
  const bool otherUser = modeBits == 3;
  const int mode = otherUser ? ConsoleHistory::PREPARE_READ : modeBits;
  const bool log = (control & 0x10) != 0;
  const int bufferVariant = (control >> 5) & 3;

  std::string timestamp, user, action;
  int32_t pid = 0;
  if (log) {
    timestamp = in.text(in.byte());
    user = in.text(in.byte());
    action = in.text(in.byte());
    for (int i = 0; i < 4; ++i) pid = static_cast<int32_t>((static_cast<uint32_t>(pid) << 8) | in.byte());
  }

  const std::string path = nebrix_fuzz::profileDirectory() + "/nebrix.his";
  // Rewritten in place: creating a file anew costs more than the run.
  if (layout == 3) {
    unlink(path.c_str());
  } else {
    const std::string bytes = fileFor(layout, in.rest());
    nebrix_fuzz::writeWholeFile(path, bytes.data(), bytes.size());
  }
  const bool existed = fileExists(path);
  const std::string initial = nebrix_fuzz::readWholeFile(path);

  ConsoleHistory history;
  history.prepare("nebrix", nullptr, nullptr, static_cast<ConsoleHistory::Prepare_mode>(mode));
  NEBRIX_FUZZ_CHECK(history.fileName() == path);
  std::string file = nebrix_fuzz::readWholeFile(path);
  bool exists = fileExists(path);
  checkPrepared(mode, existed, initial, file, exists);

  checkGetHistory(history, bufferVariant, file, exists);

  if (log) {
    history.logAction(timestamp.c_str(), pid, user.empty() ? nullptr : user.c_str(), action.c_str());
    const std::string logged = nebrix_fuzz::readWholeFile(path);
    const std::string record =
        NEBRIX::formatHistoryRecord(timestamp.c_str(), pid, user.c_str(), action.c_str());
    NEBRIX_FUZZ_CHECK(record.size() == kRecord && record.back() == '\n');
    if (exists) checkLogged(file, logged, record);
    file = logged;
    exists = fileExists(path);
  }

  std::string out;
  const NEBRIX_Retcode rc = showHistory(otherUser, out);
  if (otherUser) {
    NEBRIX_FUZZ_CHECK(out.empty());
  } else {
    checkShown(exists ? file : "", rc, out);
  }
  return 0;
}
