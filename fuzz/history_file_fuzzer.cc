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
//
// Besides crashes, the target checks the ring's promises: prepare leaves a
// file of 12000 bytes (or none, when only reading), a logged entry replaces only the oldest record, and SHOW
// HISTORY prints every non-empty record once, oldest first (those of one time
// stamp in file order), and with -o json one document with an entry for each.
#include <nlohmann/json.hpp>

#include "base/exception.h"
#include "fuzz_target.h"
#include "profile/console_history.h"

namespace {

using NEBRIX::ConsoleHistory;
constexpr size_t kRecord = ConsoleHistory::RECORD_SIZE;
constexpr size_t kFileSize = ConsoleHistory::FILE_SIZE;
constexpr size_t kKeySize = ConsoleHistory::TIMESTAMP_SIZE + 1;  // stamp and blank
const std::string kEmpty = "Command history is empty.\n";

std::string emptyFile() {
  std::string file;
  while (file.size() < kFileSize) file += ConsoleHistory::EMPTY_RECORD;
  return file;
}

std::string fileFor(int layout, const std::string& bytes) {
  std::string file;
  if (layout == 0) return bytes;
  if (layout == 1) {
    while (!bytes.empty() && file.size() < kFileSize) file += bytes;
    return file.substr(0, kFileSize);
  }
  file = emptyFile();
  if (bytes.size() < 3) return file;
  const size_t offset = ((uint8_t(bytes[0]) << 8) | uint8_t(bytes[1])) % kFileSize;
  const std::string over = bytes.substr(3, kFileSize - offset);
  file.replace(offset, over.size(), over);
  file.resize(kFileSize - 128 + uint8_t(bytes[2]), '\n');  // 128: the size stays
  return file;
}

// The file after an entry is logged: the entry goes over the first record
// with the smallest key, searched from a start value of 27 "X" (with no key
// below that, over the first record). A file too short for that is left.
std::string logged(std::string file, const std::string& record) {
  if (file.size() < kFileSize - kRecord + kKeySize) return file;
  std::string minimum(kKeySize, 'X');
  size_t slot = 0;
  for (size_t at = 0; at < kFileSize; at += kRecord) {
    if (file.compare(at, kKeySize, minimum) < 0) {
      minimum = file.substr(at, kKeySize);
      slot = at;
    }
  }
  file.resize(std::max(file.size(), slot + kRecord));
  return file.replace(slot, kRecord, record);
}

// What SHOW HISTORY prints: every non-empty record once, oldest first, those
// of one time stamp in file order.
std::string shown(const std::string& file) {
  std::vector<std::string> records;
  for (size_t at = 0; at < kFileSize; at += kRecord) {
    if (file[at + kKeySize] != '-') records.push_back(file.substr(at, kRecord));
  }
  std::stable_sort(records.begin(), records.end(), [](const std::string& a, const std::string& b) {
    return a.compare(0, ConsoleHistory::TIMESTAMP_SIZE, b, 0, ConsoleHistory::TIMESTAMP_SIZE) < 0;
  });
  if (records.empty()) return kEmpty + "\n";
  std::string out = "DATE                       USER                PROCESS     COMMAND\n";
  out += std::string(kRecord, '-') + "\n";
  for (const std::string& record : records) out += record;
  return out + "\n";
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
  const bool otherUser = ((control >> 2) & 3) == 3;
  const int mode = otherUser ? ConsoleHistory::PREPARE_READ : (control >> 2) & 3;
  const bool log = (control & 0x10) != 0;
  std::string timestamp, user, action;
  int32_t pid = 0;
  if (log) {
    timestamp = in.text(in.byte());
    user = in.text(in.byte());
    action = in.text(in.byte());
    for (int i = 0; i < 4; ++i) pid = static_cast<int32_t>((static_cast<uint32_t>(pid) << 8) | in.byte());
  }

  const std::string path = nebrix_fuzz::profileDirectory() + "/nebrix.his";
  if (layout == 3) unlink(path.c_str());
  if (layout != 3) nebrix_fuzz::writeWholeFile(path, fileFor(layout, in.rest()));
  const bool existed = access(path.c_str(), F_OK) == 0;
  const std::string before = nebrix_test::readFile(path);

  // Reading leaves the file alone; otherwise one of the wrong size, or any
  // when asked to, is made anew.
  ConsoleHistory history;
  history.prepare("nebrix", nullptr, nullptr, static_cast<ConsoleHistory::Prepare_mode>(mode));
  NEBRIX_FUZZ_CHECK(history.fileName() == path);
  std::string file = nebrix_test::readFile(path);
  const bool exists = access(path.c_str(), F_OK) == 0;
  if (mode == ConsoleHistory::PREPARE_RECREATE ||
      (mode == ConsoleHistory::PREPARE_CREATE_IF_NEEDED && before.size() != kFileSize)) {
    NEBRIX_FUZZ_CHECK(file == emptyFile());
  } else {
    NEBRIX_FUZZ_CHECK(file == before && exists == existed);
  }

  if (log) {
    history.logAction(timestamp.c_str(), pid, user.empty() ? nullptr : user.c_str(), action.c_str());
    const std::string record = NEBRIX::formatHistoryRecord(timestamp.c_str(), pid, user.c_str(), action.c_str());
    NEBRIX_FUZZ_CHECK(record.size() == kRecord && record.back() == '\n');
    const std::string after = nebrix_test::readFile(path);
    NEBRIX_FUZZ_CHECK(!exists || after == logged(file, record));
    file = access(path.c_str(), F_OK) == 0 ? after : "";
  }

  // Acting for another user is refused, before anything is shown.
  std::vector<std::string> words = {"SHOW", "HISTORY"};
  if (otherUser) words.insert(words.begin(), {"-u", "someone"});
  std::string out;
  try {
    const NEBRIX_Retcode rc = nebrix_fuzz::runConsole(words, out);
    NEBRIX_FUZZ_CHECK(!otherUser);
    NEBRIX_FUZZ_CHECK(file.size() < kFileSize ? rc == NEBRIX_NOT_OK && out == kEmpty
                                              : rc == NEBRIX_OK && out == shown(file));
    if (rc == NEBRIX_OK) {
      std::string json;
      NEBRIX_FUZZ_CHECK(nebrix_fuzz::runConsole({"-o", "json", "SHOW", "HISTORY"}, json) == NEBRIX_OK);
      size_t used = 0;
      for (size_t at = 0; at < kFileSize; at += kRecord) used += file[at + kKeySize] != '-';
      NEBRIX_FUZZ_CHECK(nlohmann::json::parse(json).at("history").size() == used);
    }
  } catch (const ltt::exception&) {
    NEBRIX_FUZZ_CHECK(otherUser && out.empty());
  }
  return 0;
}
