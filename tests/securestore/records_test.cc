// The bytes a writer leaves in the data file, which keys and values it
// accepts, replacing and deleting records, what readers and writers do with
// a data file whose last record broke off or that is damaged, running out of
// memory, and the lock file between writers. (Where the store's files are:
// see the vaultadm tests, which choose them.)
#include <pwd.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <tuple>

#include "crypto/hash_algorithm.h"
#include "store_test_support.h"

namespace store_test {
namespace {

Bytes padded(std::string text, size_t width) {
  text.resize(width, ' ');
  return Bytes(text.begin(), text.end());
}

// Whether a captured trace line starts with `text`.
bool traced(const std::string& text) {
  return std::any_of(g_trace.begin(), g_trace.end(), [&](const std::string& line) { return line.find(text) == 0; });
}

using RecordsTest = StoreTest;

// A plaintext record A and an encrypted one, B: the payload of B carries
// random bytes, n, a SHA-1 and the value, and decrypted with the default key
// (24 zero bytes) it checks out. The trace shows what is written, B's value
// masked.
TEST_F(RecordsTest, WrittenRecordsHaveEveryFieldInPlace) {
  const int64_t before = time(nullptr);
  captureTrace(3);
  ASSERT_EQ(put("ORQ/A", "abc").rc, RSEC_SSFS_RC_OK);
  ASSERT_EQ(put("ORQ/B", "abc", false).rc, RSEC_SSFS_RC_OK);
  EXPECT_TRUE(traced("3 RSecSSFs:     00000000 52 53 65 63 53 53 46 73 44 61 74 61 00 00 00 B3  RSecSSFsData.... ["));
  EXPECT_TRUE(traced("3 RSecSSFs:     00000020 ** ** ** "));
  RSecSSFsListRecordsAPI* list = RSecSSFsListRecordsAPIGet();  // reads both, then gives all back
  RSecSSFsListRecords(list);
  EXPECT_EQ(resultOf(list, RSecSSFsListRecordsAPIRelease).rc, RSEC_SSFS_RC_OK);
  EXPECT_EQ(get("ORQ/B").text_value, "abc");
  EXPECT_TRUE(traced("2 RSecSSFs: Entering function \"RSecSSFsGetRecord\""));
  const Bytes file = readFile(dataFile());
  ASSERT_EQ(file.size(), 179u + 304);
  EXPECT_EQ(std::string(file.begin(), file.begin() + 12), "RSecSSFsData");
  EXPECT_EQ(slice(file, 12, 12), (Bytes{0, 0, 0, 0xB3, 1, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(slice(file, 24, 64), padded("ORQ/A", 64));
  int64_t stamp = 0;
  for (int i = 0; i < 8; ++i) stamp = stamp << 8 | file[88 + i];
  EXPECT_TRUE(stamp >= before && stamp <= time(nullptr)) << stamp;
  EXPECT_EQ(slice(file, 96, 24), padded(std::string(getpwuid(getuid())->pw_name).substr(0, 24), 24));
  struct utsname names;
  uname(&names);
  EXPECT_EQ(slice(file, 120, 24), padded(std::string(names.nodename).substr(0, 23), 24));
  EXPECT_EQ(slice(file, 144, 12), (Bytes{0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(slice(file, 156, 20), recordChecksum(slice(file, 24, 155)));
  EXPECT_EQ(slice(file, 176, 3), (Bytes{'a', 'b', 'c'}));

  EXPECT_EQ(slice(file, 179 + 12, 5), (Bytes{0, 0, 1, 0x30, 1}));
  EXPECT_EQ(slice(file, 179 + 144, 3), (Bytes{0, 0, 0}));
  EXPECT_EQ(slice(file, 179 + 156, 20), recordChecksum(slice(file, 179 + 24, 280)));
  Bytes payload = slice(file, 179 + 176, 128);
  const unsigned char zeroKey[24] = {};
  RSecPDecrypt(zeroKey, 24, payload.data(), 128, nullptr);
  EXPECT_EQ(slice(payload, 8, 4), (Bytes{0, 0, 0, 3}));
  EXPECT_EQ(slice(payload, 32, 3), (Bytes{'a', 'b', 'c'}));
  Bytes digested = slice(payload, 0, 12);
  digested.insert(digested.end(), payload.begin() + 32, payload.end());
  haxx_CTX sha;
  ASSERT_EQ(haHashAll(&sha, digested.data(), digested.size(), HA_ALG_SHA1, 0, 0), 0);
  EXPECT_EQ(slice(payload, 12, 20), Bytes(sha.digest, sha.digest + 20));
  // Random bytes in front and in the fill: the same value encrypts anew.
  ASSERT_EQ(put("ORQ/B", "abc", false).rc, RSEC_SSFS_RC_OK);
  EXPECT_NE(slice(readFile(dataFile()), 483 + 176, 128), slice(file, 179 + 176, 128));
}

Bytes der(size_t length, unsigned char second, unsigned char third, unsigned char fourth = 0x11) {
  Bytes value = {0x30, second, third, fourth};
  value.resize(length, 0x11);
  return value;
}

enum Kind { kText, kPlainText, kBinary, kPlainBinary, kErase };

// Insertions check the key and, by kind, the value's length; a deletion
// checks only the key's length. An accepted value is read back and its
// payload takes `stored` bytes: an encrypted one the next multiple of 128
// above its length plus 32; an encrypted DER sequence may be longer.
TEST_F(RecordsTest, KeysAndValueLengthsAreChecked) {
  const Result none = get("ORQ/A");
  EXPECT_EQ(none.rc, RSEC_SSFS_RC_RECORD_NOT_FOUND);
  EXPECT_EQ(none.text, "Data file \"" + dataFile() + "\" cannot be opened for read");
  const std::string tooLong = "ORQ/" + std::string(61, 'X'), key = "ORQ/V";
  const RSEC_SSFS_RC ok = RSEC_SSFS_RC_OK, format = RSEC_SSFS_RC_RECORD_KEY_FORMAT;
  const RSEC_SSFS_RC tooBig = RSEC_SSFS_RC_VALUE_TOO_LONG;
  // The key, the kind of call and the value; the bytes its payload takes, the result and a part of its message.
  const std::tuple<std::string, Kind, Bytes, size_t, RSEC_SSFS_RC, std::string> cases[] = {
      {"ORQ/", kPlainText, {'v'}, 1, ok, ""},
      {"ORQ/NEBRIX/TRACEFLAGS_2", kPlainText, {'v'}, 1, ok, ""},
      {"ORQ/" + std::string(60, 'X'), kPlainText, {'v'}, 1, ok, ""},
      {tooLong, kPlainText, {'v'}, 0, format,
       "Record key \"" + tooLong + "\" is longer than the permitted length of 64 characters"},
      {"/ORQ", kPlainText, {'v'}, 0, format,
       "Record key \"/ORQ\" either does not contain a \"/\" character at all or it contains it at the very "
       "first position."},
      {"ORQ", kPlainText, {'v'}, 0, format, "Record key \"ORQ\" either does not contain a \"/\" character"},
      {"orq/x", kPlainText, {'v'}, 0, format,
       "Record key \"orq/x\" contains illegal character at index 0. Allowed are only "
       "\"ABCDEFGHIJKLMNOPQRSTUVWXYZ_/0123456789\""},
      {"ORQ/A-B", kPlainText, {'v'}, 0, format, "contains illegal character at index 5."},
      {"orq/x", kErase, {}, 0, RSEC_SSFS_RC_RECORD_NOT_FOUND, "Record with key \"orq/x\" not found in secure storage"},
      {tooLong, kErase, {}, 0, format, "is longer than the permitted length of 64 characters"},
      {key, kBinary, der(200, 0x81, 0xC5), 256, ok, ""},
      {key, kBinary, der(200, 0x81, 0xC4), 0, tooBig,
       "Record data for key \"ORQ/V\" is longer than the permitted length of 128 bytes for encrypted binary data"},
      {key, kBinary, Bytes(96, 1), 128, ok, ""},
      {key, kBinary, Bytes(97, 1), 256, ok, ""},
      {key, kBinary, Bytes(128, 1), 256, ok, ""},
      {key, kBinary, der(32768, 0x82, 0x7F, 0xFC), 32896, ok, ""},
      {key, kBinary, der(32769, 0x82, 0x7F, 0xFD), 0, tooBig, "permitted length of 32768 bytes for encrypted PSE file"},
      {key, kBinary, Bytes(), 128, ok, ""},
      {key, kPlainBinary, Bytes(32768, 1), 32768, ok, ""},
      {key, kPlainBinary, Bytes(32769, 1), 0, tooBig, "permitted length of 32768 bytes for plaintext binary data"},
      {key, kText, Bytes(128, 'x'), 256, ok, ""},
      {key, kText, Bytes(129, 'x'), 0, tooBig, "permitted length of 128 characters for encrypted character data"},
      {key, kPlainText, Bytes(32768, 'x'), 32768, ok, ""},
      {key, kPlainText, Bytes(32769, 'x'), 0, tooBig,
       "permitted length of 32768 characters for plaintext character data"},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& [name, kind, value, stored, rc, message] = cases[i];
    const std::string text(value.begin(), value.end());
    std::filesystem::remove(dataFile());  // no compaction: each record stands alone
    const size_t before = readFile(dataFile()).size();
    const bool binary = kind == kBinary || kind == kPlainBinary;
    const Result result = put(name.c_str(), kind == kErase ? nullptr : text.c_str(),
                              kind == kPlainText || kind == kPlainBinary, false, binary ? &value : nullptr);
    EXPECT_EQ(result.rc, rc) << i;
    EXPECT_NE(result.text.find(message), std::string::npos) << i << ": " << result.text;
    if (rc != RSEC_SSFS_RC_OK) continue;
    EXPECT_EQ(readFile(dataFile()).size(), before + 176 + stored) << i;
    const Result read = get(name.c_str());
    EXPECT_EQ(read.rc, RSEC_SSFS_RC_OK) << i;
    EXPECT_EQ(binary ? read.binary : Bytes(read.text_value.begin(), read.text_value.end()), value) << i;
  }
  EXPECT_FALSE(exists(lockFile()));
}

// A replacement appends and marks the earlier record deleted. A writer that
// died between the two leaves two active records: readers keep the old
// value, and the next write of the key marks both. When the disk refuses the
// append (file size limit), the old value stays and the file is as it was.
TEST_F(RecordsTest, ReplacementAppendsThenMarksAndHealsAnInterruptedOne) {
  const auto deletedFlags = [this] {  // of each record, all of them 179 bytes long
    const Bytes file = readFile(dataFile());
    Bytes flags;
    for (size_t at = 0; at < file.size(); at += 179) flags.push_back(file[at + 144]);
    return flags;
  };
  ASSERT_EQ(put("ORQ/A", "one").rc, RSEC_SSFS_RC_OK);
  ASSERT_EQ(put("ORQ/A", "two").rc, RSEC_SSFS_RC_OK);
  EXPECT_EQ(deletedFlags(), (Bytes{1, 0}));
  EXPECT_EQ(get("ORQ/A").text_value, "two");
  Bytes file = readFile(dataFile());
  file[144] = 0;  // as if the marking never happened
  writeFile(dataFile(), file);
  EXPECT_EQ(get("ORQ/A").text_value, "one");
  ASSERT_EQ(put("ORQ/A", "six").rc, RSEC_SSFS_RC_OK);
  EXPECT_EQ(deletedFlags(), (Bytes{1, 1, 0}));
  EXPECT_EQ(get("ORQ/A").text_value, "six");

  const Bytes before = readFile(dataFile());
  EXPECT_EQ(erase("ORQ/B").rc, RSEC_SSFS_RC_RECORD_NOT_FOUND);
  const Result result = withFileSizeLimit(before.size() + 100, [] { return put("ORQ/A", "new"); });
  EXPECT_EQ(result.rc, RSEC_SSFS_RC_NO_WRITE_PERMISSION);
  EXPECT_NE(result.text.find("EOF at writing record data: File too large"), std::string::npos);
  EXPECT_EQ(readFile(dataFile()), before);
  EXPECT_FALSE(exists(lockFile()));
  EXPECT_EQ(get("ORQ/A").text_value, "six");
}

// A reader meets a data file whose last record, B's, broke off (`bytes`
// none: the file ends at `offset`) or that has `bytes` at `offset`. A's
// record has 177 bytes, B's 187; "ORQ/X" is not stored. Readers try again a
// few times, then report; the next writer cuts a broken last record off,
// but not one with another record behind it (a damaged length), refuses a
// damaged file (a bad checksum it does not look at) and never changes what
// was there before.
TEST_F(RecordsTest, DamagedDataFileForReadersAndWriters) {
  const RSEC_SSFS_RC ok = RSEC_SSFS_RC_OK, notFound = RSEC_SSFS_RC_RECORD_NOT_FOUND;
  const RSEC_SSFS_RC corrupt = RSEC_SSFS_RC_FILE_CORRUPTION;
  // The damage; what reading B and X and then writing C return, and the message of reading B.
  const std::tuple<size_t, Bytes, RSEC_SSFS_RC, RSEC_SSFS_RC, RSEC_SSFS_RC, std::string> cases[] = {
      {177 + 23, {}, notFound, notFound, ok, "Record with key \"ORQ/B\" not found in secure storage"},
      {177 + 100, {}, corrupt, corrupt, ok, "Premature end of file when reading data header"},
      {177 + 180, {}, corrupt, notFound, ok, "Premature end of file when reading 11 bytes of payload data"},
      {177 + 180, {'z'}, corrupt, notFound, ok, "Checksum over data header and payload incorrect"},
      {0, {'X'}, corrupt, corrupt, corrupt,
       "Record at file position 0 does not start with preamble; maybe file is no RSecSSFs file"},
      {12, {0, 1, 0x81, 0x51}, corrupt, corrupt, corrupt,
       "Record length read at file position 0 (98641) exceeds the maximum expected record length (98640)"},
      {12, {0xFF, 0xFF, 0xFF, 0xFF}, corrupt, corrupt, corrupt,
       "Record length read at file position 0 (18446744073709551615) exceeds the maximum expected record length "
       "(98640)"},
      {12, {0, 0, 0, 175}, corrupt, corrupt, corrupt,
       "Record length read at file position 0 (175) is below the minimum record length (176)"},
      {16, {2}, corrupt, corrupt, corrupt, "Record type indicator 2 read from header at file position 0 not supported"},
      // A's length says 433: its record seems to break off, but B follows.
      {12, {0, 0, 1, 0xB1}, notFound, notFound, corrupt, "Record with key \"ORQ/B\" not found in secure storage"},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& [offset, bytes, rcB, rcX, rcWriter, messageB] = cases[i];
    unlink(dataFile().c_str());
    ASSERT_EQ(put("ORQ/A", "a").rc, ok);
    ASSERT_EQ(put("ORQ/B", "hello world").rc, ok);
    Bytes file = readFile(dataFile());
    if (bytes.empty()) file.resize(offset);
    std::copy(bytes.begin(), bytes.end(), file.begin() + offset);
    writeFile(dataFile(), file);

    const Result b = get("ORQ/B");
    EXPECT_EQ(b.rc, rcB) << i;
    // Each attempt's message once, newest first.
    std::string text = messageB;
    for (int n = 1; n < 5 && b.rc == corrupt; ++n)
      text = messageB + " <-- Waiting cycle number " + std::to_string(n) + " for 600ms, then retrying <-- " + text;
    EXPECT_EQ(b.text, text) << i;
    EXPECT_EQ(get("ORQ/X").rc, rcX) << i;
    EXPECT_EQ(get("ORQ/A").text_value, offset >= 177 ? "a" : "") << i;

    captureTrace(1);
    const Result writer = put("ORQ/C", "c");
    EXPECT_EQ(writer.rc, rcWriter) << i;
    EXPECT_EQ(writer.text.rfind("Record at file position 0 of data file \"" + dataFile() + "\" is incomplete, but "
                                "another record follows it; the file is damaged and is left as it is", 0) == 0, i == 9);
    const size_t kept = bytes.empty() ? 177 : file.size();
    EXPECT_EQ(traced("1 RSecSSFs: Data file \"" + dataFile() + "\" ends inside an incomplete record at file position " +
                     "177; cutting off its " + std::to_string(offset - 177) + " bytes [put_record.cc "),
              bytes.empty())
        << i;
    const Bytes after = readFile(dataFile());
    EXPECT_EQ(slice(after, 0, kept), slice(file, 0, kept)) << i;
    EXPECT_EQ(after.size(), kept + (rcWriter == ok ? 177 : 0)) << i;
    EXPECT_EQ(get("ORQ/C").text_value, rcWriter == ok ? "c" : "") << i;
  }
  // A record of the largest accepted length is read.
  writeFile(dataFile(), makeRecord("ORQ/A", true, true, Bytes(98640 - 176, 0xAB)));
  EXPECT_EQ(get("ORQ/A").binary, Bytes(98640 - 176, 0xAB));
}

// Memory running out at any point of a replacement never loses the old
// value, and the caller gets the one static low-memory result.
TEST_F(RecordsTest, ReplacementFailingAtAnyAllocationKeepsAValue) {
  ASSERT_EQ(put("ORQ/A", "old").rc, RSEC_SSFS_RC_OK);
  Result result;
  unsigned n = 0;
  do {
    result = put("ORQ/A", "new", false, false, nullptr, ++n);
    const std::string value = get("ORQ/A").text_value;
    // The result record itself may be what ran out of memory.
    EXPECT_TRUE(value == "new" || (result.rc == RSEC_SSFS_RC_LOW_MEMORY && value == "old")) << n;
    EXPECT_EQ(result.text, result.rc == RSEC_SSFS_RC_OK ? ""
                                                        : "A low-memory situation has occurred, therefore no "
                                                          "call-specific error text is available; information "
                                                          "about the incident are recorded in the developer trace");
  } while (result.rc != RSEC_SSFS_RC_OK && n < 200);
  EXPECT_GT(n, 10u);
}

// A lock file by alice on host-x since 1973-03-03 09:46:40 UTC.
Bytes lockBytes(const char* preamble, char fileType, char lockType) {
  const std::string lock = preamble + std::string{fileType, lockType, 0, 0, 0, 0, 0x05, '\xF5', '\xE1', 0} + "alice" +
                           std::string(19, ' ') + "host-x" + std::string(18, ' ');
  return Bytes(lock.begin(), lock.end());
}

// Only a lock file of the right length and content can be removed by force:
// it cannot be told whose any other one is.
TEST_F(RecordsTest, ExistingLockFileStopsWritersAndOnlyAValidOneIsRemovedByForce) {
  // The lock file, what writers get and a part of their message.
  const std::tuple<Bytes, RSEC_SSFS_RC, std::string> cases[] = {
      {{}, RSEC_SSFS_RC_FILE_CORRUPTION, "\" has unexpected length 0 instead of 70"},
      {lockBytes("RSecSSFsLocK", 1, 1), RSEC_SSFS_RC_FILE_CORRUPTION, "\" has unexpected content"},
      {lockBytes("RSecSSFsLock", 2, 1), RSEC_SSFS_RC_FILE_CORRUPTION, "\" has unexpected content"},
      {lockBytes("RSecSSFsLock", 1, 1), RSEC_SSFS_RC_CONCURRENT_UPDATE,
       "Update of the secure storage is locked for update by user \"alice\" from host \"host-x\" since "
       "\"1973-03-03  09:46:40  UTC\""},
      {lockBytes("RSecSSFsLock", 1, 0), RSEC_SSFS_RC_CONCURRENT_UPDATE, "locked for read by user \"alice\""},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& [lock, putRc, message] = cases[i];
    writeFile(lockFile(), lock);
    for (const Result& result : {put("ORQ/A", "a"), erase("ORQ/A")}) {
      EXPECT_EQ(result.rc, putRc) << i;
      EXPECT_NE(result.text.find(message), std::string::npos) << i << ": " << result.text;
    }
    EXPECT_EQ(readFile(lockFile()), lock) << i;
    EXPECT_FALSE(exists(dataFile())) << i;
    const bool valid = putRc == RSEC_SSFS_RC_CONCURRENT_UPDATE;
    EXPECT_EQ(removeLock().rc, valid ? RSEC_SSFS_RC_OK : RSEC_SSFS_RC_FILE_CORRUPTION) << i;
    EXPECT_EQ(exists(lockFile()), !valid) << i;
  }
}

// The lock exists exactly while an update runs, unless the caller asks to
// keep it, as a writer that dies would leave it. A writer that cannot write
// the whole lock leaves no lock behind (a short one would block every later
// update), and taking the lock never leaves another file in the directory.
TEST_F(RecordsTest, LockAppearsWholeOrNotAtAll) {
  ASSERT_EQ(put("ORQ/A", "a", true, true).rc, RSEC_SSFS_RC_OK);
  ASSERT_EQ(readFile(lockFile()).size(), 70u);
  EXPECT_EQ(slice(readFile(lockFile()), 0, 14), slice(lockBytes("RSecSSFsLock", 1, 1), 0, 14));
  EXPECT_EQ(removeLock().rc, RSEC_SSFS_RC_OK);

  const Bytes data = readFile(dataFile());
  const Result failed = withFileSizeLimit(40, [] { return put("ORQ/A", "b"); });
  EXPECT_EQ(failed.rc, RSEC_SSFS_RC_NO_WRITE_PERMISSION);
  EXPECT_NE(failed.text.find("lockfile \"" + lockFile() + "\": File too large"), std::string::npos) << failed.text;
  EXPECT_EQ(readFile(dataFile()), data);
  ASSERT_EQ(put("ORQ/A", "c").rc, RSEC_SSFS_RC_OK);
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir_)) names.push_back(entry.path().filename());
  EXPECT_EQ(names, std::vector<std::string>{"SSFS_TST.DAT"});
}

}  // namespace
}  // namespace store_test
