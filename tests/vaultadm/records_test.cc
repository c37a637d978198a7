// list, get, put and delete on the console's store.
#include <ctime>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "vault_session.h"

namespace nebrix_test {
namespace {

class VaultadmRecords : public VaultSession {};

// Key -> status of every line of a listing; each time must lie in [from, to].
std::map<std::string, std::string> statuses(const std::string& listing, time_t from = 0, time_t to = 0) {
  static const std::regex line("\n(\\S+) +(\\S+(?: binary| key)?) +(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d)(?=\n)");
  std::map<std::string, std::string> result;
  for (std::sregex_iterator it(listing.begin(), listing.end(), line), end; it != end; ++it) {
    result[(*it)[1]] = (*it)[2];
    struct tm utc = {};
    strptime((*it)[3].str().c_str(), "%Y-%m-%d %H:%M:%S", &utc);
    EXPECT_TRUE(from == 0 || (timegm(&utc) >= from && timegm(&utc) <= to)) << (*it)[0];
  }
  return result;
}

TEST_F(VaultadmRecords, ListShowsWhatTheConsoleStored) {
  const time_t before = time(nullptr);
  ASSERT_EQ(runConsole({"CONFIG", "TRACE", "SQL", "ON"}).status, 0);
  ASSERT_EQ(runConsole({"CONFIG", "TRACE", "FILENAME", "/tmp/t-%p.txt"}).status, 0);
  ASSERT_EQ(runConsole({"CONFIG", "TRACE", "SQL", "OFF"}).status, 0);
  // A time zone far from UTC shows that the times are UTC.
  const ProgramResult r = vaultadm({"list"}, "", {"TZ=XYZ-5"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.find("Data file: " + storeFile("DAT") + "\nKey file:  " + storeFile("KEY") + "\n\nKey  "), 0u);
  EXPECT_EQ(statuses(r.out, before, time(nullptr)),
            (std::map<std::string, std::string>{{"ORQ/NEBRIX/TRACEFLAGS", "plaintext"},
                                                {"ORQ/NEBRIX/TRACEFILENAME", "plaintext"}}));
  EXPECT_NE(r.out.find("\n\nActive records:  2\nDeleted records: 1\n"), std::string::npos) << r.out;
}

TEST_F(VaultadmRecords, ValuesRoundTripEncryptedOrPlaintext) {
  const ProgramResult noStore = vaultadm({"get", "ORQ/A"});
  EXPECT_EQ(noStore.err, "Error: Data file \"" + storeFile("DAT") + "\" cannot be opened for read\n");
  const struct {
    std::vector<std::string> args;
    std::string input;
    std::string key, value, status;
  } puts[] = {
      {{"put", "ORQ/A", "s3cret"}, "", "ORQ/A", "s3cret", "encrypted"},
      {{"put", "ORQ/B", "plain text", "--plaintext"}, "", "ORQ/B", "plain text", "plaintext"},
      {{"put", "ORQ/C", "--plaintext", "--", "-5"}, "", "ORQ/C", "-5", "plaintext"},
      {{"put", "ORQ/D", "--value-file", "-"}, "from stdin\n", "ORQ/D", "from stdin", "encrypted"},
      {{"put", "--plaintext", "ORQ/E", "--value-file=-"}, "two\r\nlines\r\n", "ORQ/E", "two\r\nlines", "plaintext"},
      {{"put", "ORQ/A", "replaced"}, "", "ORQ/A", "replaced", "encrypted"},
  };
  std::map<std::string, std::string> expected;
  for (const auto& put : puts) {
    vaultadmOk(put.args, put.input);
    EXPECT_EQ(vaultadmOk({"get", put.key}), put.value + "\n") << put.key;
    expected[put.key] = put.status;
    // An encrypted value cannot be found in the file.
    const bool inFile = readFile(storeFile("DAT")).find(put.value) != std::string::npos;
    EXPECT_TRUE(put.value.size() < 3 || inFile == (put.status == "plaintext")) << put.key;
  }
  const std::string listing = vaultadmOk({"list"});
  EXPECT_EQ(statuses(listing), expected);
  EXPECT_NE(listing.find("Active records:  5\nDeleted records: 1\n"), std::string::npos) << listing;

  vaultadmOk({"delete", "ORQ/A"});
  for (const char* command : {"get", "delete"}) {
    const ProgramResult r = vaultadm({command, "ORQ/A"});
    EXPECT_EQ(r.out + r.err, "Error: Record with key \"ORQ/A\" not found in secure storage\n");
    EXPECT_EQ(r.status, 1);
  }
}

}  // namespace
}  // namespace nebrix_test
