// The keyword language after the options: CONFIG TRACE ..., TRACE ...,
// SHOW ... and PROFILE .... Each position has a table of keywords tried in
// order; a word selects the first keyword it abbreviates (case-insensitive,
// at least the keyword's minimum length).
#include <climits>
#include <cstring>

#include "base/text_output.h"
#include "console/console.h"
#include "trace/strtosize.h"

namespace NEBRIX {

namespace {

// What follows a keyword.
enum class Arguments {
  NOTHING,       // the command is complete; further words are extra
  ENDS_PARSING,  // the command is complete; further words are ignored
  ON_OFF,
  PACKET,
  FILE_SIZE,
  FILE_NAME,
  STOP_ON_ERROR,
  BRANCH,  // a further keyword follows; handled by the caller
};

using Action = Console::Action;
using Route = Console::Route;

struct Keyword {
  const char* name;
  int minLength;
  Action action;
  Arguments arguments;
};

constexpr Keyword kFirstWords[] = {
    {"CONFIG", 1, Action::NONE, Arguments::BRANCH},
    {"TRACE", 1, Action::NONE, Arguments::BRANCH},
    {"SHOW", 1, Action::NONE, Arguments::BRANCH},
    {"PROFILE", 1, Action::NONE, Arguments::BRANCH},
};
constexpr Route kFirstRoutes[] = {Route::CONFIG, Route::TRACE, Route::SHOW, Route::PROFILE};

// Beside the trace categories, which every TRACE table accepts first.
constexpr Keyword kConfigTraceWords[] = {
    {"TIMESTAMP", 1, Action::TIMESTAMP, Arguments::ON_OFF},
    {"SIZE", 2, Action::FILE_SIZE, Arguments::FILE_SIZE},
    {"FILENAME", 1, Action::FILE_NAME, Arguments::FILE_NAME},
    {"COMPRESS", 1, Action::COMPRESS, Arguments::ON_OFF},
    {"STOP", 2, Action::STOP_ON_ERROR, Arguments::STOP_ON_ERROR},
};

constexpr Keyword kTraceWords[] = {
    {"REFRESH", 1, Action::REFRESH, Arguments::NOTHING},
    {"SIZE", 2, Action::FILE_SIZE, Arguments::FILE_SIZE},
    {"OFF", 1, Action::OFF, Arguments::ENDS_PARSING},
    {"STOP", 2, Action::STOP_ON_ERROR, Arguments::STOP_ON_ERROR},
    {"TIMESTAMP", 1, Action::TIMESTAMP, Arguments::ON_OFF},
};

const Keyword kShowWords[] = {
    {"CONFIG", 1, Action::SHOW_CONFIG, Arguments::NOTHING},
    {"TRACESETTINGS", 1, Action::SHOW_TRACESETTINGS, Arguments::ENDS_PARSING},
    {"FILE", 1, Action::SHOW_TRACEFILE, Arguments::ENDS_PARSING},
    {"ALL", 1, Action::SHOW_ALL, Arguments::ENDS_PARSING},
    {"HISTORY", 1, Action::SHOW_HISTORY, Arguments::NOTHING},
    {"PROFILE", 1, Action::SHOW_PROFILE, Arguments::BRANCH},
    // "PRO" stays PROFILE: PROCESSES needs four letters.
    {"PROCESSES", 4, Action::SHOW_PROCESSES, Arguments::NOTHING},
    // Three letters, so that "R" and "RE" stay free for later words.
    {"RECORDS", 3, Action::SHOW_RECORDS, Arguments::BRANCH},
};

const Keyword kProfileWords[] = {
    {"RESET", 1, Action::PROFILE_RESET, Arguments::NOTHING},
    {"COLLECT", 1, Action::NONE, Arguments::BRANCH},
    {"FILENAME", 1, Action::FILE_NAME, Arguments::FILE_NAME},
};

// The lists of words the messages name, as users have always read them;
// they name fewer words than are accepted.
constexpr const char kExpectedFirst[] = "one of CONFIG,TRACE,PROFILE,SHOW";
constexpr const char kExpectedConfigTrace[] = "one of SHORT,DEBUG,PROFILE,PACKET,DISTRIBUTION,SIZE,FILENAME,SQL";
constexpr const char kExpectedConfigTraceFound[] =
    "one of SHORT,DEBUG,PROFILE,PACKET,DISTRIBUTION,SIZE,FILENAME,SQL,STOP";
constexpr const char kExpectedTrace[] = "one of SHORT,SQL,PACKET,DISTRIBUTION,DEBUG,REFRESH,OFF";
constexpr const char kExpectedTraceFound[] = "one of SHORT,DEBUG,PACKET,DISTRIBUTION,REFRESH,OFF,SQL,STOP";

constexpr Keyword categoryKeyword(const TraceCategoryInfo& row) {
  return {row.keyword, row.abbreviation, Action::CATEGORY,
          row.category == TraceCategory::PACKET ? Arguments::PACKET : Arguments::ON_OFF};
}

// A word selects the first keyword it abbreviates, so two keywords of one
// table must not both take a word: their common start must be shorter than
// the longer of their minimum lengths.
constexpr bool ambiguous(const Keyword& a, const Keyword& b) {
  int common = 0;
  while (a.name[common] != '\0' && a.name[common] == b.name[common]) ++common;
  return common >= (a.minLength > b.minLength ? a.minLength : b.minLength);
}

template <size_t N>
constexpr bool categoriesFit(const Keyword (&words)[N]) {
  for (size_t i = 0; i < kTraceCategoryCount; ++i) {
    const Keyword category = categoryKeyword(kTraceCategories[i]);
    for (const Keyword& word : words) {
      if (ambiguous(category, word)) return false;
    }
    for (size_t j = 0; j < i; ++j) {
      if (ambiguous(category, categoryKeyword(kTraceCategories[j]))) return false;
    }
  }
  return true;
}

static_assert(categoriesFit(kConfigTraceWords) && categoriesFit(kTraceWords),
              "a category keyword takes abbreviations of another word of TRACE");

template <size_t N>
const Keyword* lookup(const Keyword (&table)[N], const char* word) {
  for (const Keyword& keyword : table) {
    if (matchKeyword(word, keyword.name, keyword.minLength)) return &keyword;
  }
  return nullptr;
}

// The category a TRACE word names, or null.
const TraceCategoryInfo* lookupCategory(const char* word) {
  for (const TraceCategoryInfo& row : kTraceCategories) {
    if (matchKeyword(word, row.keyword, row.abbreviation)) return &row;
  }
  return nullptr;
}

}  // namespace

class Console::CommandParser {
 public:
  CommandParser(Console& console, char** words, int count)
      : m_console(console), m_words(words), m_count(count) {}

  NEBRIX_Retcode parse() {
    const char* word = take(kExpectedFirst);
    if (word == nullptr) return NEBRIX_NOT_OK;
    const Keyword* first = lookup(kFirstWords, word);
    if (first == nullptr) return reportSyntaxError(Text::err, kExpectedFirst, word);
    m_route = kFirstRoutes[first - kFirstWords];
    switch (m_route) {
      case Route::CONFIG: return parseConfig();
      case Route::TRACE: return parseTrace();
      case Route::SHOW: return parseShow();
      default: return parseProfile();
    }
  }

 private:
  NEBRIX_Retcode parseConfig() {
    if (m_console.m_pidpresent) {
      Text::err << "Error: CONFIG command is not applicable with -p option." << Text::endl;
      return NEBRIX_NOT_OK;
    }
    const char* word = take("TRACE");
    if (word == nullptr) return NEBRIX_NOT_OK;
    if (!matchKeyword(word, "TRACE", 1)) return reportSyntaxError(Text::err, "TRACE", word);
    word = take(kExpectedConfigTrace);
    if (word == nullptr) return NEBRIX_NOT_OK;
    m_sizesWithUnits = true;
    return selectTraceWord(kConfigTraceWords, word, kExpectedConfigTraceFound);
  }

  NEBRIX_Retcode parseTrace() {
    const char* word = take(kExpectedTrace);
    if (word == nullptr) return NEBRIX_NOT_OK;
    return selectTraceWord(kTraceWords, word, kExpectedTraceFound);
  }

  // A category, or a word of `others`.
  template <size_t N>
  NEBRIX_Retcode selectTraceWord(const Keyword (&others)[N], const char* word, const char* expected) {
    if (const TraceCategoryInfo* category = lookupCategory(word)) {
      m_console.m_command.category = category->category;
      return select(categoryKeyword(*category));
    }
    const Keyword* keyword = lookup(others, word);
    if (keyword == nullptr) return reportSyntaxError(Text::err, expected, word);
    return select(*keyword);
  }

  NEBRIX_Retcode parseShow() {
    const char* word = take("one of CONFIG,TRACESETTINGS,ALL");
    if (word == nullptr) return NEBRIX_NOT_OK;
    const Keyword* keyword = lookup(kShowWords, word);
    if (keyword == nullptr) return reportSyntaxError(Text::err, "one of CONFIG,TRACESETTINGS,ALL", word);
    if (keyword->arguments != Arguments::BRANCH) return select(*keyword);
    if (keyword->action == Action::SHOW_RECORDS) return parseRecords();

    // SHOW PROFILE [DETAILS]
    setCommand(Action::SHOW_PROFILE);
    if (atEnd()) return NEBRIX_OK;
    word = take("DETAILS");
    if (!matchKeyword(word, "DETAILS", 1)) return reportSyntaxError(Text::err, "DETAILS", word);
    setCommand(Action::SHOW_PROFILE_DETAILS);
    return expectEnd();
  }

  // SHOW RECORDS [LAST <n>] [FOLLOW], in either order.
  NEBRIX_Retcode parseRecords() {
    setCommand(Action::SHOW_RECORDS);
    while (!atEnd()) {
      const char* word = take("one of LAST,FOLLOW");
      if (matchKeyword(word, "FOLLOW", 1) && !m_console.m_follow) {
        m_console.m_follow = true;
      } else if (matchKeyword(word, "LAST", 1) && m_console.m_last < 0) {
        word = take("<number of records>");
        if (word == nullptr) return NEBRIX_NOT_OK;
        if (!readCount(word, m_console.m_last)) return reportSyntaxError(Text::err, "a number of records", word);
      } else {
        return reportSyntaxError(Text::err, "one of LAST,FOLLOW", word);
      }
    }
    return NEBRIX_OK;
  }

  // Digits only, at most INT32_MAX.
  static bool readCount(const char* word, int32_t& count) {
    long long value = 0;
    for (const char* c = word; *c != '\0'; ++c) {
      if (*c < '0' || *c > '9' || (value = value * 10 + (*c - '0')) > INT32_MAX) return false;
    }
    if (*word == '\0') return false;
    count = static_cast<int32_t>(value);
    return true;
  }

  NEBRIX_Retcode parseProfile() {
    const char* word = take("one of RESET,COLLECT,FILENAME");
    if (word == nullptr) return NEBRIX_NOT_OK;
    const Keyword* keyword = lookup(kProfileWords, word);
    if (keyword == nullptr) return reportSyntaxError(Text::err, "one of RESET,COLLECT,FILENAME", word);
    if (keyword->arguments != Arguments::BRANCH) return select(*keyword);

    // PROFILE COLLECT ON|OFF
    word = take("one of ON, OFF");
    if (word == nullptr) return NEBRIX_NOT_OK;
    if (matchKeyword(word, "ON", 2)) {
      setCommand(Action::PROFILE_COLLECT_ON);
    } else if (matchKeyword(word, "OFF", 2)) {
      setCommand(Action::PROFILE_COLLECT_OFF);
    } else {
      return reportSyntaxError(Text::err, "one of ON, OFF", word);
    }
    return expectEnd();
  }

  void setCommand(Action action) {
    m_console.m_command.route = m_route;
    m_console.m_command.action = action;
  }

  // Sets the keyword's command and reads what follows it.
  NEBRIX_Retcode select(const Keyword& keyword) {
    setCommand(keyword.action);
    NEBRIX_Retcode rc = NEBRIX_OK;
    switch (keyword.arguments) {
      case Arguments::ENDS_PARSING: return NEBRIX_OK;
      case Arguments::NOTHING: break;
      case Arguments::ON_OFF: rc = parseOnOff(); break;
      case Arguments::PACKET: rc = parsePacket(); break;
      case Arguments::FILE_SIZE: rc = parseFileSize(); break;
      case Arguments::FILE_NAME: rc = parseFileName(); break;
      case Arguments::STOP_ON_ERROR: return parseStopOnError();
      case Arguments::BRANCH: break;
    }
    return rc == NEBRIX_OK ? expectEnd() : rc;
  }

  NEBRIX_Retcode parseOnOff() {
    const char* word = take("one of ON, OFF");
    if (word == nullptr) return NEBRIX_NOT_OK;
    if (matchKeyword(word, "ON", 2)) {
      m_console.m_on = true;
    } else if (matchKeyword(word, "OFF", 2)) {
      m_console.m_on = false;
    } else {
      return reportSyntaxError(Text::err, "one of ON, OFF", word);
    }
    return NEBRIX_OK;
  }

  NEBRIX_Retcode parsePacket() {
    const char* word = take("one of ON, OFF, <size>");
    if (word == nullptr) return NEBRIX_NOT_OK;
    if (matchKeyword(word, "ON", 2)) {
      m_console.m_on = true;
      m_console.m_size = 1000;
    } else if (matchKeyword(word, "OFF", 2)) {
      m_console.m_on = false;
    } else {
      int32_t size = 0;
      if (!readSize(word, size) || size < 1) return reportSyntaxError(Text::err, "one of ON, OFF, <size>", word);
      m_console.m_on = true;
      m_console.m_size = size;
    }
    return NEBRIX_OK;
  }

  NEBRIX_Retcode parseFileSize() {
    const char* word = take("one of UNLIMITED, <size>");
    if (word == nullptr) return NEBRIX_NOT_OK;
    if (matchKeyword(word, "UNLIMITED", 1)) {
      m_console.m_size = -1;
      return NEBRIX_OK;
    }
    int32_t size = 0;
    if (!readSize(word, size) || size <= 8191) {
      return reportSyntaxError(Text::err, "UNLIMITED or a number > 8192", word);
    }
    m_console.m_size = size;
    return NEBRIX_OK;
  }

  NEBRIX_Retcode parseFileName() {
    const char* word = take("<filename>");
    if (word == nullptr) return NEBRIX_NOT_OK;
    m_console.m_filename = word;
    return NEBRIX_OK;
  }

  // ON ERROR <code>|OFF [COUNT <count>]
  NEBRIX_Retcode parseStopOnError() {
    const char* word = take("ON");
    if (word == nullptr) return NEBRIX_NOT_OK;
    if (!matchKeyword(word, "ON", 1)) return reportSyntaxError(Text::err, "ON", word);
    word = take("ERROR");
    if (word == nullptr) return NEBRIX_NOT_OK;
    if (!matchKeyword(word, "ERROR", 1)) return reportSyntaxError(Text::err, "ERROR", word);
    word = take("<errorcode> or OFF");
    if (word == nullptr) return NEBRIX_NOT_OK;
    if (matchKeyword(word, "OFF", 1)) {
      m_console.m_stop_on_error = false;
      return expectEnd();
    }
    int32_t code = 0;
    if (!readNumberWord(word, code) || code == 0) return reportSyntaxError(Text::err, "an error code", word);
    m_console.m_stop_on_error = true;
    m_console.m_errorcode = code;
    if (atEnd()) return NEBRIX_OK;

    word = take("COUNT");
    if (!matchKeyword(word, "COUNT", 1)) return reportSyntaxError(Text::err, "COUNT", word);
    word = take("<errorcount>");
    if (word == nullptr) return NEBRIX_NOT_OK;
    int32_t count = 0;
    if (!readNumberWord(word, count) || count < 1) return reportSyntaxError(Text::err, "a positive number", word);
    m_console.m_errorcount = count;
    return expectEnd();
  }

  // After CONFIG sizes may carry a unit ("16k"); after a plain TRACE they are
  // plain decimal numbers and reading stops at the first non-digit. A size
  // that does not fit its 32-bit field is refused, never cut to fit.
  bool readSize(const char* word, int32_t& size) const {
    return m_sizesWithUnits ? readSizeWord(word, size) : readNumberWord(word, size);
  }

  bool atEnd() const { return m_next >= m_count; }

  // The next word, or null after reporting that the command ended too early.
  const char* take(const char* expected) {
    if (atEnd()) {
      Text::err << "Error: Unexpected end of command, expected " << expected << "." << Text::endl;
      return nullptr;
    }
    return m_words[m_next++];
  }

  NEBRIX_Retcode expectEnd() {
    if (atEnd()) return NEBRIX_OK;
    Text::err << "Error: Extra arguments after " << m_words[m_next - 1] << ":";
    for (int i = m_next; i < m_count; ++i) Text::err << ' ' << m_words[i];
    Text::err << Text::endl;
    return NEBRIX_NOT_OK;
  }

  Console& m_console;
  char** m_words;
  int m_count;
  int m_next = 0;
  bool m_sizesWithUnits = false;
  Route m_route = Route::NONE;
};

NEBRIX_Retcode Console::parseArguments(int argc, char** argv) {
  int next = 0;
  const NEBRIX_Retcode rc = scanOptions(argc, argv, next);
  if (rc != NEBRIX_OK || next >= argc) return rc;
  if (CommandParser(*this, argv + next, argc - next).parse() != NEBRIX_OK) return NEBRIX_NOT_OK;
  // Only what SHOW prints has a JSON form: the other commands print nothing
  // when they succeed.
  if (m_output == OUTPUT_JSON && !m_command.shows()) {
    Text::err << "Error: Option -o json applies to SHOW commands only." << Text::endl;
    return NEBRIX_NOT_OK;
  }
  // Only a change that moves the update counter can be acknowledged.
  if (m_waitpresent && !m_command.reachesProcesses()) return refuseForOption("-w");
  // --all hands processes back to the configuration, which -p keeps them
  // from; only a command that announces a change reaches them.
  if (m_all && m_pidpresent) {
    Text::err << "Error: Option --all is not applicable with -p option." << Text::endl;
    return NEBRIX_NOT_OK;
  }
  if (m_all && !m_command.reachesProcesses()) return refuseForOption("--all");
  return NEBRIX_OK;
}

NEBRIX_Retcode Console::refuseForOption(const char* option) const {
  const char* words = m_command.route == Route::PROFILE ? "PROFILE FILENAME"
                      : m_command.route == Route::SHOW  ? "SHOW"
                                                        : "CONFIG";
  Text::err << "Error: " << words << " command is not applicable with " << option << " option." << Text::endl;
  return NEBRIX_NOT_OK;
}

}  // namespace NEBRIX
