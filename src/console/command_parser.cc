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

struct Keyword {
  const char* name;
  int minLength;
  Console::Command code;
  Arguments arguments;
};

const Keyword kFirstWords[] = {
    {"CONFIG", 1, Console::C_NONE, Arguments::BRANCH},
    {"TRACE", 1, Console::C_NONE, Arguments::BRANCH},
    {"SHOW", 1, Console::C_NONE, Arguments::BRANCH},
    {"PROFILE", 1, Console::C_NONE, Arguments::BRANCH},
};

const Keyword kConfigTraceWords[] = {
    {"SHORT", 2, Console::C_CONFIG_TRACE_SHORT, Arguments::ON_OFF},
    {"DEBUG", 1, Console::C_CONFIG_TRACE_LONG, Arguments::ON_OFF},
    {"SQL", 2, Console::C_CONFIG_TRACE_SQL, Arguments::ON_OFF},
    {"PACKET", 2, Console::C_CONFIG_TRACE_PACKET, Arguments::PACKET},
    {"DISTRIBUTION", 2, Console::C_CONFIG_TRACE_DISTRIBUTION, Arguments::ON_OFF},
    {"TIMESTAMP", 1, Console::C_CONFIG_TRACE_TIMESTAMP, Arguments::ON_OFF},
    {"SIZE", 2, Console::C_CONFIG_TRACE_SIZE, Arguments::FILE_SIZE},
    {"FILENAME", 1, Console::C_CONFIG_TRACE_FILENAME, Arguments::FILE_NAME},
    {"COMPRESS", 1, Console::C_CONFIG_TRACE_COMPRESS, Arguments::ON_OFF},
    {"STOP", 2, Console::C_CONFIG_TRACE_STOP_ON_ERROR, Arguments::STOP_ON_ERROR},
    {"API", 2, Console::C_CONFIG_TRACE_API, Arguments::ON_OFF},
};

// TIMESTAMP and API come last, so they take no abbreviation from the others;
// the usage text promises them for the dynamic commands too.
const Keyword kTraceWords[] = {
    {"REFRESH", 1, Console::C_TRACE_REFRESH, Arguments::NOTHING},
    {"SHORT", 2, Console::C_TRACE_SHORT, Arguments::ON_OFF},
    {"DEBUG", 1, Console::C_TRACE_LONG, Arguments::ON_OFF},
    {"PACKET", 2, Console::C_TRACE_PACKET, Arguments::PACKET},
    {"DISTRIBUTION", 2, Console::C_TRACE_DISTRIBUTION, Arguments::ON_OFF},
    {"SQL", 2, Console::C_TRACE_SQL, Arguments::ON_OFF},
    {"SIZE", 2, Console::C_TRACE_SIZE, Arguments::FILE_SIZE},
    {"OFF", 1, Console::C_TRACE_OFF, Arguments::ENDS_PARSING},
    {"STOP", 2, Console::C_TRACE_STOP_ON_ERROR, Arguments::STOP_ON_ERROR},
    {"TIMESTAMP", 1, Console::C_TRACE_TIMESTAMP, Arguments::ON_OFF},
    {"API", 2, Console::C_TRACE_API, Arguments::ON_OFF},
};

const Keyword kShowWords[] = {
    {"CONFIG", 1, Console::C_SHOW_CONFIG, Arguments::NOTHING},
    {"TRACESETTINGS", 1, Console::C_SHOW_TRACESETTINGS, Arguments::ENDS_PARSING},
    {"FILE", 1, Console::C_SHOW_TRACEFILE, Arguments::ENDS_PARSING},
    {"ALL", 1, Console::C_SHOW_ALL, Arguments::ENDS_PARSING},
    {"HISTORY", 1, Console::C_SHOW_HISTORY, Arguments::NOTHING},
    {"PROFILE", 1, Console::C_SHOW_PROFILE, Arguments::BRANCH},
    // "PRO" stays PROFILE: PROCESSES needs four letters.
    {"PROCESSES", 4, Console::C_SHOW_PROCESSES, Arguments::NOTHING},
    // Three letters, so that "R" and "RE" stay free for later words.
    {"RECORDS", 3, Console::C_SHOW_RECORDS, Arguments::BRANCH},
};

const Keyword kProfileWords[] = {
    {"RESET", 1, Console::C_PROFILE_RESET, Arguments::NOTHING},
    {"COLLECT", 1, Console::C_NONE, Arguments::BRANCH},
    {"FILENAME", 1, Console::C_PROFILE_FILENAME, Arguments::FILE_NAME},
};

template <size_t N>
const Keyword* lookup(const Keyword (&table)[N], const char* word) {
  for (const Keyword& keyword : table) {
    if (Console_matchCommand(word, keyword.name, keyword.minLength)) return &keyword;
  }
  return nullptr;
}

}  // namespace

class Console::CommandParser {
 public:
  CommandParser(Console& console, char** words, int count)
      : m_console(console), m_words(words), m_count(count) {}

  NEBRIX_Retcode parse() {
    const char* word = take("one of CONFIG,TRACE,PROFILE,SHOW");
    if (word == nullptr) return NEBRIX_NOT_OK;
    const Keyword* first = lookup(kFirstWords, word);
    if (first == nullptr) return print_syntax_error(Text::err, "one of CONFIG,TRACE,PROFILE,SHOW", word);
    switch (first - kFirstWords) {
      case 0: return parseConfig();
      case 1: return parseTrace();
      case 2: return parseShow();
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
    if (!Console_matchCommand(word, "TRACE", 1)) return print_syntax_error(Text::err, "TRACE", word);
    word = take("one of SHORT,DEBUG,PROFILE,PACKET,DISTRIBUTION,SIZE,FILENAME,SQL");
    if (word == nullptr) return NEBRIX_NOT_OK;
    const Keyword* keyword = lookup(kConfigTraceWords, word);
    if (keyword == nullptr) {
      return print_syntax_error(
          Text::err, "one of SHORT,DEBUG,PROFILE,PACKET,DISTRIBUTION,SIZE,FILENAME,SQL,STOP", word);
    }
    m_sizesWithUnits = true;
    return select(*keyword);
  }

  NEBRIX_Retcode parseTrace() {
    const char* word = take("one of SHORT,SQL,PACKET,DISTRIBUTION,DEBUG,REFRESH,OFF");
    if (word == nullptr) return NEBRIX_NOT_OK;
    const Keyword* keyword = lookup(kTraceWords, word);
    if (keyword == nullptr) {
      return print_syntax_error(Text::err, "one of SHORT,DEBUG,PACKET,DISTRIBUTION,REFRESH,OFF,SQL,STOP",
                                word);
    }
    return select(*keyword);
  }

  NEBRIX_Retcode parseShow() {
    const char* word = take("one of CONFIG,TRACESETTINGS,ALL");
    if (word == nullptr) return NEBRIX_NOT_OK;
    const Keyword* keyword = lookup(kShowWords, word);
    if (keyword == nullptr) return print_syntax_error(Text::err, "one of CONFIG,TRACESETTINGS,ALL", word);
    if (keyword->arguments != Arguments::BRANCH) return select(*keyword);
    if (keyword->code == C_SHOW_RECORDS) return parseRecords();

    // SHOW PROFILE [DETAILS]
    m_console.m_command = C_SHOW_PROFILE;
    if (atEnd()) return NEBRIX_OK;
    word = take("DETAILS");
    if (!Console_matchCommand(word, "DETAILS", 1)) return print_syntax_error(Text::err, "DETAILS", word);
    m_console.m_command = C_SHOW_PROFILE_DETAIL;
    return expectEnd();
  }

  // SHOW RECORDS [LAST <n>] [FOLLOW], in either order.
  NEBRIX_Retcode parseRecords() {
    m_console.m_command = C_SHOW_RECORDS;
    while (!atEnd()) {
      const char* word = take("one of LAST,FOLLOW");
      if (Console_matchCommand(word, "FOLLOW", 1) && !m_console.m_follow) {
        m_console.m_follow = true;
      } else if (Console_matchCommand(word, "LAST", 1) && m_console.m_last < 0) {
        word = take("<number of records>");
        if (word == nullptr) return NEBRIX_NOT_OK;
        if (!readCount(word, m_console.m_last)) return print_syntax_error(Text::err, "a number of records", word);
      } else {
        return print_syntax_error(Text::err, "one of LAST,FOLLOW", word);
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
    if (keyword == nullptr) return print_syntax_error(Text::err, "one of RESET,COLLECT,FILENAME", word);
    if (keyword->arguments != Arguments::BRANCH) return select(*keyword);

    // PROFILE COLLECT ON|OFF
    word = take("one of ON, OFF");
    if (word == nullptr) return NEBRIX_NOT_OK;
    if (Console_matchCommand(word, "ON", 2)) {
      m_console.m_command = C_PROFILE_COLLECT_ON;
    } else if (Console_matchCommand(word, "OFF", 2)) {
      m_console.m_command = C_PROFILE_COLLECT_OFF;
    } else {
      return print_syntax_error(Text::err, "one of ON, OFF", word);
    }
    return expectEnd();
  }

  // Sets the keyword's code and reads what follows it.
  NEBRIX_Retcode select(const Keyword& keyword) {
    m_console.m_command = keyword.code;
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
    if (Console_matchCommand(word, "ON", 2)) {
      m_console.m_on = true;
    } else if (Console_matchCommand(word, "OFF", 2)) {
      m_console.m_on = false;
    } else {
      return print_syntax_error(Text::err, "one of ON, OFF", word);
    }
    return NEBRIX_OK;
  }

  NEBRIX_Retcode parsePacket() {
    const char* word = take("one of ON, OFF, <size>");
    if (word == nullptr) return NEBRIX_NOT_OK;
    if (Console_matchCommand(word, "ON", 2)) {
      m_console.m_on = true;
      m_console.m_size = 1000;
    } else if (Console_matchCommand(word, "OFF", 2)) {
      m_console.m_on = false;
    } else {
      int32_t size = 0;
      if (!readSize(word, size) || size < 1) return print_syntax_error(Text::err, "one of ON, OFF, <size>", word);
      m_console.m_on = true;
      m_console.m_size = size;
    }
    return NEBRIX_OK;
  }

  NEBRIX_Retcode parseFileSize() {
    const char* word = take("one of UNLIMITED, <size>");
    if (word == nullptr) return NEBRIX_NOT_OK;
    if (Console_matchCommand(word, "UNLIMITED", 1)) {
      m_console.m_size = -1;
      return NEBRIX_OK;
    }
    int32_t size = 0;
    if (!readSize(word, size) || size <= 8191) {
      return print_syntax_error(Text::err, "UNLIMITED or a number > 8192", word);
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
    if (!Console_matchCommand(word, "ON", 1)) return print_syntax_error(Text::err, "ON", word);
    word = take("ERROR");
    if (word == nullptr) return NEBRIX_NOT_OK;
    if (!Console_matchCommand(word, "ERROR", 1)) return print_syntax_error(Text::err, "ERROR", word);
    word = take("<errorcode> or OFF");
    if (word == nullptr) return NEBRIX_NOT_OK;
    if (Console_matchCommand(word, "OFF", 1)) {
      m_console.m_stop_on_error = false;
      return expectEnd();
    }
    int32_t code = 0;
    if (!readNumberWord(word, code) || code == 0) return print_syntax_error(Text::err, "an error code", word);
    m_console.m_stop_on_error = true;
    m_console.m_errorcode = code;
    if (atEnd()) return NEBRIX_OK;

    word = take("COUNT");
    if (!Console_matchCommand(word, "COUNT", 1)) return print_syntax_error(Text::err, "COUNT", word);
    word = take("<errorcount>");
    if (word == nullptr) return NEBRIX_NOT_OK;
    int32_t count = 0;
    if (!readNumberWord(word, count) || count < 1) return print_syntax_error(Text::err, "a positive number", word);
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
};

NEBRIX_Retcode Console::parseArguments(int argc, char** argv) {
  int next = 0;
  const NEBRIX_Retcode rc = scanOptions(argc, argv, next);
  if (rc != NEBRIX_OK || next >= argc) return rc;
  if (CommandParser(*this, argv + next, argc - next).parse() != NEBRIX_OK) return NEBRIX_NOT_OK;
  // Only what SHOW prints has a JSON form: the other commands print nothing
  // when they succeed.
  if (m_output == OUTPUT_JSON && !isShowCommand(m_command)) {
    Text::err << "Error: Option -o json applies to SHOW commands only." << Text::endl;
    return NEBRIX_NOT_OK;
  }
  // Only a change that moves the update counter can be acknowledged.
  if (m_waitpresent && !isDynamicCommand(m_command)) return refuseForOption("-w");
  // --all hands processes back to the configuration, which -p keeps them
  // from; only a command that announces a change reaches them.
  if (m_all && m_pidpresent) {
    Text::err << "Error: Option --all is not applicable with -p option." << Text::endl;
    return NEBRIX_NOT_OK;
  }
  if (m_all && !isDynamicCommand(m_command)) return refuseForOption("--all");
  return NEBRIX_OK;
}

NEBRIX_Retcode Console::refuseForOption(const char* option) const {
  const char* words = m_command == C_PROFILE_FILENAME ? "PROFILE FILENAME"
                      : m_command <= C_CONFIG_TRACE_DISTRIBUTION ? "CONFIG"
                                                                 : "SHOW";
  Text::err << "Error: " << words << " command is not applicable with " << option << " option." << Text::endl;
  return NEBRIX_NOT_OK;
}

}  // namespace NEBRIX
