#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "trace/trace_categories.h"

namespace NEBRIX {
namespace {

std::string sourceFile(const std::string& name) {
  std::ifstream in(std::string(NEBRIX_SOURCE_ROOT) + "/" + name);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

size_t occurrences(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// What is written by hand beside the table names each category as the
// table does: the completion's CONFIG TRACE and TRACE tables (keyword,
// shortest abbreviation, what follows), the manual pages, the README, the
// JSON members and the letters of the flags string.
TEST(TraceCategories, CompletionManualPagesAndReadmeFollowTheTable) {
  const std::string completion = sourceFile("completion/nebrix_cons.bash");
  const std::string console = sourceFile("man/nebrix_cons.1.in");
  const std::string library = sourceFile("man/nebrix_trace.3.in") + sourceFile("docs/client-library.md");
  const std::string readme = sourceFile("README.md");
  const std::string json = sourceFile("docs/json-output.md");
  const std::string flags = sourceFile("docs/trace-flags.md");
  ASSERT_FALSE(completion.empty() || console.empty() || library.empty() || readme.empty() || json.empty() ||
               flags.empty());
  for (const TraceCategoryInfo& row : kTraceCategories) {
    const std::string entry = std::string(row.keyword) + ":" + std::to_string(row.abbreviation) + ":" +
                              (row.category == TraceCategory::PACKET ? "packet" : "on_off");
    EXPECT_EQ(occurrences(completion, " " + entry) + occurrences(completion, "\"" + entry), 2u) << entry;
    EXPECT_NE(console.find(std::string(".BR ") + row.keyword + " \" \" ON | OFF"), std::string::npos) << row.word;
    EXPECT_NE(library.find(std::string("NBX_TRACE_") + row.word), std::string::npos) << row.word;
    EXPECT_NE(readme.find(std::string("TRACE ") + row.keyword + " ON\\|OFF"), std::string::npos) << row.word;
    EXPECT_NE(json.find(std::string("| `") + row.json + "` | boolean | "), std::string::npos) << row.word;
    EXPECT_NE(flags.find(std::string("| `") + row.letter), std::string::npos) << row.word;
  }
}

}  // namespace
}  // namespace NEBRIX
