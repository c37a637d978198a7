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
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}
std::string record(const std::string& content, size_t index) {
  return content.substr(index * ConsoleHistory::RECORD_SIZE, ConsoleHistory::RECORD_SIZE);
}
std::string stamp(int second) {
  char text[32];
  snprintf(text, sizeof text, "2026-12-06 10:00:%02d.000000", second);
  return text;
}
std::string entry(int second, const char* action, int32_t pid = 0) {
  return formatHistoryRecord(stamp(second).c_str(), pid, nullptr, action);
}
mode_t modeOf(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? info.st_mode & 0777 : 0;
}

class ConsoleHistoryTest : public testing::Test {
 protected:
  void SetUp() override {
    nebrix_test::removeTree(nebrix_test::privateHomeDirectory() + "/.orq");
    history.prepare("nebrix", nullptr, nullptr, ConsoleHistory::PREPARE_READ);
    path = history.fileName();
  }
  void log(int second, const char* action, int32_t pid = 0) {
    ConsoleHistory h;
    h.prepare("nebrix", nullptr, nullptr, ConsoleHistory::PREPARE_CREATE_IF_NEEDED);
    h.logAction(stamp(second).c_str(), pid, nullptr, action);
  }
  void writeFile(const std::string& content) { std::ofstream(path, std::ios::binary) << content; }

  ConsoleHistory history;
  std::string path;
};

TEST_F(ConsoleHistoryTest, RecordLayout) {
  EXPECT_EQ(formatHistoryRecord(stamp(1).c_str(), 4711, "bob", "TRACE SQL ON"),
            "2026-12-06 10:00:01.000000                  bob       4711 "
            "TRACE SQL ON                                                \n");
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
  log(1, "CONFIG TRACE SQL ON");
  log(2, "TRACE REFRESH", 4711);
  const std::string content = readFile(path);
  ASSERT_EQ(content.size(), 12000u);
  EXPECT_EQ(record(content, 0), entry(1, "CONFIG TRACE SQL ON"));
  EXPECT_EQ(record(content, 1), entry(2, "TRACE REFRESH", 4711));
  for (size_t i = 2; i < 100; ++i) EXPECT_EQ(record(content, i), ConsoleHistory::EMPTY_RECORD);
  EXPECT_EQ(modeOf(path), 0600u);
}

TEST_F(ConsoleHistoryTest, OnlyAFileOfTheRightSizeIsKept) {
  const std::string odd(12001, 'z');  // right size, any content: used as it is
  for (size_t size : {11999u, 12001u, 0u, 12000u}) {
    writeFile(odd.substr(0, size));
    chmod(path.c_str(), 0644);
    log(1, "TRACE OFF");
    const std::string content = readFile(path);
    ASSERT_EQ(content.size(), 12000u) << size;
    EXPECT_EQ(record(content, 0), entry(1, "TRACE OFF"));
    // No record is lower than the initial minimum: the first slot is taken.
    EXPECT_EQ(record(content, 1), size == 12000 ? odd.substr(0, 120) : ConsoleHistory::EMPTY_RECORD) << size;
    EXPECT_EQ(modeOf(path), size == 12000 ? 0644u : 0600u) << size;
  }
}

TEST_F(ConsoleHistoryTest, AFullRingReplacesTheOldestFirstOfEquals) {
  std::string content;
  for (int i = 0; i < 100; ++i) content += entry(i == 17 || i == 42 ? 0 : 1 + i % 50, "x");  // 17, 42 oldest
  writeFile(content);
  log(59, "newest");
  EXPECT_EQ(record(readFile(path), 17), entry(59, "newest"));
  EXPECT_EQ(record(readFile(path), 42), record(content, 42));
  log(59, "next");
  EXPECT_EQ(record(readFile(path), 42), entry(59, "next"));
}

TEST_F(ConsoleHistoryTest, GetHistoryCopiesWholeRecordsInFileOrder) {
  char buffer[13000];
  int32_t entries = -1;
  EXPECT_EQ(history.getHistory(buffer, sizeof buffer, entries), 1);  // no file yet
  EXPECT_EQ(entries, 0);
  log(1, "first");
  const int32_t cases[][2] = {{1000, 8}, {12000, 100}, {13000, 100}, {119, 0}, {0, 0}};  // size, entries
  for (const auto& c : cases) {
    EXPECT_EQ(history.getHistory(buffer, c[0], entries), 0) << c[0];
    EXPECT_EQ(entries, c[1]) << c[0];
  }
  EXPECT_EQ(std::string(buffer, 120), entry(1, "first"));
  EXPECT_EQ(history.getHistory(buffer, -1, entries), 1);
  writeFile(std::string(11999, ' '));  // fewer records than asked for
  EXPECT_EQ(history.getHistory(buffer, 12000, entries), 1);
  EXPECT_EQ(entries, 0);
}

TEST_F(ConsoleHistoryTest, RecreateStartsAFreshFileAndAnotherUserTouchesNone) {
  log(1, "first");
  ConsoleHistory h;
  h.prepare("nebrix", nullptr, nullptr, ConsoleHistory::PREPARE_RECREATE);
  EXPECT_EQ(record(readFile(path), 0), ConsoleHistory::EMPTY_RECORD);
  nebrix_test::removeTree(path);
  ConsoleHistory other;
  EXPECT_THROW(other.prepare("nebrix", nullptr, "other", ConsoleHistory::PREPARE_CREATE_IF_NEEDED), ltt::exception);
  EXPECT_FALSE(std::ifstream(path).good());
}

}  // namespace
}  // namespace NEBRIX
