#include "profile/console_history.h"

#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "base/exception.h"
#include "private_home.h"

namespace NEBRIX {
namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

std::string record(const std::string& content, size_t index) {
  return content.substr(index * ConsoleHistory::RECORD_SIZE, ConsoleHistory::RECORD_SIZE);
}

std::string stamp(int second) {
  char text[32];
  snprintf(text, sizeof text, "2026-12-06 10:00:%02d.000000", second);
  return text;
}

class ConsoleHistoryTest : public testing::Test {
 protected:
  void SetUp() override {
    nebrix_test::removeTree(nebrix_test::privateHomeDirectory() + "/.orq");
    history.prepare("nebrix", nullptr, nullptr, ConsoleHistory::PREPARE_READ);
    path = history.fileName();
  }

  void log(const std::string& timestamp, int32_t pid, const char* action) {
    ConsoleHistory h;
    h.prepare("nebrix", nullptr, nullptr, ConsoleHistory::PREPARE_CREATE_IF_NEEDED);
    h.logAction(timestamp.c_str(), pid, nullptr, action);
  }

  ConsoleHistory history;
  std::string path;
};

TEST_F(ConsoleHistoryTest, RecordLayout) {
  const struct {
    int32_t pid;
    const char* user;
    const char* action;
    const char* expected;
  } cases[] = {
      {0, nullptr, "CONFIG TRACE SQL ON",
       "2026-12-06 10:00:01.000000                                 "
       "CONFIG TRACE SQL ON                                         \n"},
      {4711, "bob", "TRACE SQL ON",
       "2026-12-06 10:00:01.000000                  bob       4711 "
       "TRACE SQL ON                                                \n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(formatHistoryRecord(stamp(1).c_str(), c.pid, c.user, c.action), c.expected);
  }
  // Over-long fields are cut to their column: the record keeps its newline.
  const std::string longAction = "CONFIG TRACE FILENAME /a/very/long/path/to/the/trace/file/trace-%p.txt";
  const std::string cut = formatHistoryRecord(stamp(1).c_str(), 0, "a-user-name-of-25-chars!!", longAction.c_str());
  ASSERT_EQ(cut.size(), 120u);
  EXPECT_EQ(cut.substr(59, 60), longAction.substr(0, 60));
  EXPECT_EQ(cut.substr(27, 20), "a-user-name-of-25-ch");
  EXPECT_EQ(cut.back(), '\n');
}

TEST_F(ConsoleHistoryTest, FirstEntryCreatesAPrivateFileOfEmptyRecords) {
  EXPECT_FALSE(std::ifstream(path).good());  // reading does not create
  log(stamp(1), 0, "CONFIG TRACE SQL ON");
  log(stamp(2), 4711, "TRACE REFRESH");
  const std::string content = readFile(path);
  ASSERT_EQ(content.size(), 12000u);
  EXPECT_EQ(record(content, 0), formatHistoryRecord(stamp(1).c_str(), 0, nullptr, "CONFIG TRACE SQL ON"));
  EXPECT_EQ(record(content, 1), formatHistoryRecord(stamp(2).c_str(), 4711, nullptr, "TRACE REFRESH"));
  for (size_t i = 2; i < 100; ++i) EXPECT_EQ(record(content, i), ConsoleHistory::EMPTY_RECORD);
  struct stat info;
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(ConsoleHistoryTest, OnlyAFileOfTheRightSizeIsKept) {
  const std::string odd(12000, 'z');  // right size, any content: used as it is
  for (size_t size : {11999u, 12001u, 0u, 12000u}) {
    writeFile(path, odd.substr(0, size) + (size > 12000 ? "z" : ""));
    chmod(path.c_str(), 0644);
    log(stamp(1), 0, "TRACE OFF");
    const std::string content = readFile(path);
    ASSERT_EQ(content.size(), 12000u) << size;
    struct stat info;
    stat(path.c_str(), &info);
    if (size == 12000) {
      // No record is lower than the initial minimum: the first slot is taken.
      EXPECT_EQ(record(content, 1), odd.substr(0, 120));
      EXPECT_EQ(info.st_mode & 0777, 0644u);
    } else {
      EXPECT_EQ(record(content, 1), ConsoleHistory::EMPTY_RECORD) << size;
      EXPECT_EQ(info.st_mode & 0777, 0600u) << size;
    }
    EXPECT_EQ(record(content, 0), formatHistoryRecord(stamp(1).c_str(), 0, nullptr, "TRACE OFF"));
  }
}

TEST_F(ConsoleHistoryTest, AFullRingReplacesTheOldestFirstOfEquals) {
  std::string content;
  for (int i = 0; i < 100; ++i) {
    // Slots 17 and 42 share the oldest stamp.
    const int second = (i == 17 || i == 42) ? 0 : 1 + i % 50;
    content += formatHistoryRecord(stamp(second).c_str(), 0, nullptr, "x");
  }
  writeFile(path, content);
  log(stamp(59), 0, "newest");
  std::string after = readFile(path);
  EXPECT_EQ(record(after, 17), formatHistoryRecord(stamp(59).c_str(), 0, nullptr, "newest"));
  EXPECT_EQ(record(after, 42), record(content, 42));
  log(stamp(59), 0, "next");
  after = readFile(path);
  EXPECT_EQ(record(after, 42), formatHistoryRecord(stamp(59).c_str(), 0, nullptr, "next"));
}

TEST_F(ConsoleHistoryTest, GetHistoryCopiesWholeRecordsInFileOrder) {
  char buffer[13000];
  int32_t entries = -1;
  EXPECT_EQ(history.getHistory(buffer, sizeof buffer, entries), 1);  // no file yet
  EXPECT_EQ(entries, 0);

  log(stamp(1), 0, "first");
  const struct {
    int32_t size;
    int32_t entries;
  } cases[] = {{1000, 8}, {12000, 100}, {13000, 100}, {119, 0}, {0, 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(history.getHistory(buffer, c.size, entries), 0) << c.size;
    EXPECT_EQ(entries, c.entries) << c.size;
  }
  EXPECT_EQ(std::string(buffer, 120), formatHistoryRecord(stamp(1).c_str(), 0, nullptr, "first"));
  EXPECT_EQ(history.getHistory(buffer, -1, entries), 1);

  writeFile(path, std::string(11999, ' '));  // fewer records than asked for
  EXPECT_EQ(history.getHistory(buffer, 12000, entries), 1);
  EXPECT_EQ(entries, 0);
}

TEST_F(ConsoleHistoryTest, RecreateStartsAFreshFile) {
  log(stamp(1), 0, "first");
  ConsoleHistory h;
  h.prepare("nebrix", nullptr, nullptr, ConsoleHistory::PREPARE_RECREATE);
  EXPECT_EQ(record(readFile(path), 0), ConsoleHistory::EMPTY_RECORD);
}

TEST_F(ConsoleHistoryTest, AnotherUserIsRefusedBeforeAnyFileIsTouched) {
  ConsoleHistory h;
  EXPECT_THROW(h.prepare("nebrix", nullptr, "other", ConsoleHistory::PREPARE_CREATE_IF_NEEDED), ltt::exception);
  EXPECT_FALSE(std::ifstream(path).good());
}

}  // namespace
}  // namespace NEBRIX
