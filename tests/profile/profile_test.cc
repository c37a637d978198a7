// The profile directory, the configuration records in its store and the
// usage history file, at the level of their functions. What a user sees of
// them through nebrix_cons is the CLI tests'.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>

#include <gtest/gtest.h>

#include "base/exception.h"
#include "private_home.h"
#include "profile/configuration.h"
#include "profile/console_history.h"
#include "profile/user_profile.h"

namespace NEBRIX {
namespace {

using nebrix_test::fileMode;
using nebrix_test::privateHomeDirectory;
using nebrix_test::readFile;
using Getter = NEBRIX_Retcode (*)(const char*, const char*, const char*, char*, size_t, char*, size_t);
using Setter = NEBRIX_Retcode (*)(const char*, const char*, const char*, const char*, char*, size_t);

std::string stamp(int second) { return "2026-12-06 10:00:" + std::to_string(100 + second).substr(1) + ".000000"; }
std::string entry(int second, const char* text) { return formatHistoryRecord(stamp(second).c_str(), 0, nullptr, text); }

class ProfileTest : public testing::Test {
 protected:
  void SetUp() override {
    nebrix_test::removeTree(privateHomeDirectory() + "/.orq");
    SecureStore::UserProfile::getUserProfilePath(directory, "", false, false);
    history = directory + "/nebrix.his";
  }
  NEBRIX_Retcode get(Getter f, const char* component = "NEBRIX", size_t size = sizeof value) {
    return f(nullptr, component, nullptr, value, size, errortext, sizeof errortext);
  }
  NEBRIX_Retcode set(Setter f, const char* text) {
    return f(nullptr, "NEBRIX", nullptr, text, errortext, sizeof errortext);
  }
  void log(int second, const char* action, ConsoleHistory::Prepare_mode mode) {
    ConsoleHistory h;
    h.prepare("nebrix", nullptr, nullptr, mode);
    h.logAction(stamp(second).c_str(), 0, nullptr, action);
  }

  std::string directory, history;
  char value[1024] = "";
  char errortext[512] = "";
};

// Both levels of <home>/.orq/<host> are made for the user alone, and only a
// directory that is the user's alone is used. System calls that fail are
// named; a virtual host name is one directory below .orq, never a way out,
// and a component that names a file is a plain name.
TEST_F(ProfileTest, Directory) {
  const std::string orq = privateHomeDirectory() + "/.orq", profile = "Profile directory " + orq;
  EXPECT_EQ(fileMode(orq), 0700);
  EXPECT_EQ(fileMode(directory), 0700);

  std::ofstream(orq + "/plain") << "x";
  symlink(directory.c_str(), (orq + "/link").c_str());
  mkdir((orq + "/open").c_str(), 0700);
  chmod((orq + "/open").c_str(), 0702);
  const std::string theirs = orq + "/theirs";  // only root can give a directory away
  const bool given = mkdir(theirs.c_str(), 0700) == 0 && chown(theirs.c_str(), 4242, -1) == 0;
  // A directory to check, after a ":" a virtual host name or after a "*" a
  // component, and how its message begins.
  const std::pair<std::string, std::string> cases[] = {
      {orq + "/missing/level", "System call 'mkdir' failed, rc=2:No such file or directory"},
      {orq + "/plain/below", "System call 'stat' failed, rc=20:Not a directory"},
      {orq + "/link", profile + "/link is a symbolic link; remove it"},
      {orq + "/open",
       profile + "/open is writable by group or others; make it private with chmod 700 " + orq + "/open"},
      {theirs, given ? profile + "/theirs belongs to user id 4242, not to you" : ""},
      {":.", "Host name \".\" cannot"}, {":..", "Host name \"..\" cannot"}, {":a/b", "Host name \"a/b\" cannot"},
      {"*../nebrix", "Component \"../nebrix\" cannot name a profile file"}, {"*", "Component \"\" cannot"}};
  for (const auto& [argument, message] : cases) {
    std::ostringstream text;
    try {
      if (argument[0] == ':') {
        SecureStore::UserProfile::getUserProfilePath(directory, argument.substr(1), false, false);
      } else if (argument[0] == '*') {
        ConsoleHistory().prepare(argument.c_str() + 1, nullptr, nullptr, ConsoleHistory::PREPARE_CREATE_IF_NEEDED);
      } else {
        SecureStore::UserProfile::checkDirectory(argument);
      }
    } catch (const ltt::exception& ex) {
      ex.expandAll(text);
    }
    EXPECT_EQ(text.str().substr(0, message.size()), message);
  }
  EXPECT_EQ(fileMode(orq + "/nebrix.his"), -1);
}

// Missing flags read as none and store nothing, whatever room the caller
// has for a message. Other values read as their defaults, stored under the
// component's name in capitals; the store keeps plaintext.
TEST_F(ProfileTest, ConfigurationValues) {
  EXPECT_EQ(get(Configuration::getTraceFlags), NEBRIX_OK);
  EXPECT_STREQ(value, "");
  EXPECT_EQ(Configuration::getTraceFlags(nullptr, "NEBRIX", nullptr, value, sizeof value, errortext, 10), NEBRIX_OK);
  EXPECT_EQ(Configuration::getTraceFlags(nullptr, "NEBRIX", nullptr, value, sizeof value, nullptr, 0), NEBRIX_OK);
  EXPECT_EQ(readFile(directory + "/SSFS_ORQ.DAT"), "");
  EXPECT_EQ(get(Configuration::getSharedMemoryName, "Client"), NEBRIX_OK);
  EXPECT_STREQ(value, "clienttrace.shm");
  EXPECT_NE(readFile(directory + "/SSFS_ORQ.DAT").find("ORQ/CLIENT/TRACESHAREDMEMORY"), std::string::npos);

  ASSERT_EQ(set(Configuration::setTraceFlags, "c:a:p1000"), NEBRIX_OK);
  EXPECT_NE(readFile(directory + "/SSFS_ORQ.DAT").find("c:a:p1000"), std::string::npos);
  EXPECT_EQ(get(Configuration::getTraceFlags, "NEBRIX", 3), NEBRIX_OK);  // cut to the buffer, still read
  EXPECT_STREQ(value, "c:");
  // Names are kept byte for byte and cut only to the buffer, within a
  // character too. (Names in Latin-1 are the CLI tests'.)
  const std::string typed = "/tmp/j\xc3\xbcrgen.prt";
  ASSERT_EQ(set(Configuration::setTraceFileName, typed.c_str()), NEBRIX_OK);
  EXPECT_EQ(get(Configuration::getTraceFileName), NEBRIX_OK);
  EXPECT_EQ(value, typed);
  EXPECT_EQ(get(Configuration::getTraceFileName, "NEBRIX", 8), NEBRIX_OK);
  EXPECT_EQ(std::string(value), typed.substr(0, 7));
  // Names of up to 1023 bytes; a longer one fails with its length and the limit.
  const std::string longest = "/" + std::string(1022, 'n');
  EXPECT_EQ(set(Configuration::setTraceFileName, longest.c_str()), NEBRIX_OK);
  EXPECT_EQ(set(Configuration::setProfileFileName, (longest + "n").c_str()), NEBRIX_NOT_OK);
  EXPECT_STREQ(errortext, "file name too long: 1024 bytes, at most 1023");
  EXPECT_EQ(set(Configuration::setTraceFileName, nullptr), NEBRIX_NOT_OK);
}

TEST_F(ProfileTest, MakingNamesAbsolute) {
  char cwd[512];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  const std::string here = cwd;
  // The name, the caller's buffer size and the full name ("" when it fails).
  const std::tuple<const char*, size_t, std::string> cases[] = {
      {"/abs/p-%p.prt", 1024, "/abs/p-%p.prt"}, {"./prof.prt", 1024, here + "/prof.prt"},
      {".\\prof.prt", 1024, here + "/prof.prt"}, {"nebrixprofile-%p.prt", 1024, ""}, {"../up.prt", 1024, ""},
      {"./prof.prt", here.size() + 10, ""},  // directory + name + 1 exceeds it
      {"/abs", 4, ""},
  };
  for (const auto& [name, length, expected] : cases) {
    value[0] = '\0';
    EXPECT_EQ(Configuration::getFullFileName(nullptr, "NEBRIX", nullptr, name, value, length, errortext,
                                             sizeof errortext),
              expected.empty() ? NEBRIX_NOT_OK : NEBRIX_OK)
        << name;
    EXPECT_EQ(value, expected) << name;
  }
}

TEST_F(ProfileTest, HistoryRecordLayout) {
  EXPECT_EQ(formatHistoryRecord(stamp(1).c_str(), 4711, "bob", "TRACE SQL ON"),
            "2026-12-06 10:00:01.000000                  bob       4711 "
            "TRACE SQL ON                                                \n");
  // Over-long fields are cut to their column: the record keeps its newline.
  const std::string action = "CONFIG TRACE FILENAME /a/very/long/path/to/the/trace/file/trace-%p.txt";
  EXPECT_EQ(formatHistoryRecord(stamp(1).c_str(), 0, "a-user-name-of-25-chars!!", action.c_str()),
            stamp(1) + " a-user-name-of-25-ch " + std::string(10, ' ') + " " + action.substr(0, 60) + "\n");
}

// A missing history, or one of the wrong size, becomes 100 empty records for
// the user alone before the first entry is written; one of the right size is
// used as it is, whatever it holds. No record is lower than the initial
// minimum: the first slot is taken.
TEST_F(ProfileTest, OnlyAHistoryOfTheRightSizeIsKept) {
  std::string empty;
  for (int i = 1; i < 100; ++i) empty += ConsoleHistory::EMPTY_RECORD;
  const std::string odd(12001, 'z');
  for (int size : {11999, 12001, 0, 12000}) {
    std::ofstream(history, std::ios::binary) << odd.substr(0, size);
    chmod(history.c_str(), 0644);
    log(1, "TRACE OFF", ConsoleHistory::PREPARE_CREATE_IF_NEEDED);
    EXPECT_EQ(readFile(history), entry(1, "TRACE OFF") + (size == 12000 ? odd.substr(120, 11880) : empty)) << size;
    EXPECT_EQ(fileMode(history), size == 12000 ? 0644 : 0600) << size;
  }
  log(2, "TRACE SQL ON", ConsoleHistory::PREPARE_RECREATE);
  EXPECT_EQ(readFile(history), entry(2, "TRACE SQL ON") + empty);
  // Whole records only, and no fewer than asked for.
  ConsoleHistory reader;
  reader.prepare("nebrix", nullptr, nullptr, ConsoleHistory::PREPARE_READ);
  char buffer[1000];
  int32_t entries = -1;
  EXPECT_EQ(reader.getHistory(buffer, sizeof buffer, entries), 0);
  EXPECT_EQ(entries, 8);
  std::ofstream(history, std::ios::binary) << std::string(959, ' ');
  EXPECT_EQ(reader.getHistory(buffer, sizeof buffer, entries), 1);
}

TEST_F(ProfileTest, AFullHistoryReplacesTheOldestFirstOfEquals) {
  std::string content;
  for (int i = 0; i < 100; ++i) content += entry(i == 17 || i == 42 ? 0 : 1 + i % 50, "x");  // 17, 42 oldest
  std::ofstream(history, std::ios::binary) << content;
  log(59, "newest", ConsoleHistory::PREPARE_CREATE_IF_NEEDED);
  content.replace(17 * 120, 120, entry(59, "newest"));
  EXPECT_EQ(readFile(history), content);
  log(59, "next", ConsoleHistory::PREPARE_CREATE_IF_NEEDED);
  EXPECT_EQ(readFile(history).substr(42 * 120, 120), entry(59, "next"));
}

}  // namespace
}  // namespace NEBRIX
