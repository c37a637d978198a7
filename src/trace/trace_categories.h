// The trace categories: what a client process can trace, each switched on
// and off by itself. Everything that names a category reads this table: the
// trace flags string (its letter), the command language (its keyword), SHOW
// (its label), JSON (its member), the usage text (its help), and the client
// library (its bit; include/nebrix/trace.h names the same categories in
// enum nbx_category, checked against this table when the library compiles).
//
// A new category is a new last row here and the enumerator of the same
// value in include/nebrix/trace.h (NBX_TRACE_<word>, and
// NBX_TRACE_LAST_CATEGORY); its letter must be free in the trace flags
// string and its keyword must not share an abbreviation with another word
// of TRACE or CONFIG TRACE, which trace_categories.cc checks at compile time.
#pragma once

#include <cstddef>

namespace NEBRIX {

// X(word, letter, keyword, shortest abbreviation, label, JSON member,
//   arguments, help, SHOW rank, usage rank)
// word: the name in code (TraceCategory::word, NBX_TRACE_word).
// SHOW rank: where its line stands among the settings in words (see
// console/flag_words.cc); below 100 SHOW CONFIG prints it, from 100 on only
// the report of -v does. Usage rank: where its help stands among the categories of
// the usage text; 0 puts it among the further commands of --help instead.
#define NEBRIX_TRACE_CATEGORIES(X)                                                                    \
  X(SHORT, 'c', "SHORT", 2, "Short trace", "short", "ON|OFF", "Enables/disables a method call trace.", \
    10, 10)                                                                                           \
  X(API, 'A', "API", 2, "API trace", "api", "ON|OFF", "Enables/disables an API trace.", 110, 0)         \
  X(DEBUG, 'd', "DEBUG", 1, "Debug trace", "debug", "ON|OFF",                                         \
    "Enables/disables method arguments and a detailed debug trace.", 20, 20)                          \
  X(DISTRIBUTION, 'D', "DISTRIBUTION", 2, "Distribution trace", "distribution", "ON|OFF",             \
    "Enables/disables a distribution trace", 40, 50)                                                  \
  X(SQL, 'a', "SQL", 2, "SQL trace", "sql", "ON|OFF",                                                 \
    "Enables/disables a high level SQL trace. Includes DISTRIBUTION\ninformation automatically.", 30, \
    40)                                                                                               \
  X(PACKET, 'p', "PACKET", 2, "Packet trace", "packet", "ON|OFF|<size>",                              \
    "Enables/disables packet trace, limiting the size of the traced\nobject to the specified number " \
    "of bytes, or 1000 if no size is\nspecified.",                                                    \
    60, 30)

// The value of a category: its position in the table, which is its value in
// nbx_category and its bit in the category word.
enum class TraceCategory : int {
#define NEBRIX_CATEGORY_ENUMERATOR(word, ...) word,
  NEBRIX_TRACE_CATEGORIES(NEBRIX_CATEGORY_ENUMERATOR)
#undef NEBRIX_CATEGORY_ENUMERATOR
};

struct TraceCategoryInfo {
  TraceCategory category;
  const char* word;       // "SQL": TraceCategory::SQL, NBX_TRACE_SQL
  char letter;            // its token in the trace flags string
  const char* keyword;    // TRACE <keyword> ..., CONFIG TRACE <keyword> ...
  int abbreviation;       // the fewest letters of the keyword accepted
  const char* label;      // SHOW: "<label>: enabled"
  const char* json;       // member of the JSON settings object
  const char* arguments;  // what follows the keyword, for the help
  const char* help;       // lines of the help, '\n' between them
  int showRank;
  int usageRank;
};

inline constexpr TraceCategoryInfo kTraceCategories[] = {
#define NEBRIX_CATEGORY_ROW(word, letter, keyword, abbreviation, label, json, arguments, help, showRank, \
                            usageRank)                                                                 \
  {TraceCategory::word, #word, letter, keyword, abbreviation, label, json, arguments, help, showRank, usageRank},
    NEBRIX_TRACE_CATEGORIES(NEBRIX_CATEGORY_ROW)
#undef NEBRIX_CATEGORY_ROW
};

inline constexpr size_t kTraceCategoryCount = sizeof kTraceCategories / sizeof kTraceCategories[0];

constexpr unsigned categoryBit(TraceCategory category) { return 1u << static_cast<int>(category); }

constexpr const TraceCategoryInfo& categoryInfo(TraceCategory category) {
  return kTraceCategories[static_cast<int>(category)];
}

// The row whose flag letter is `letter`, or null.
const TraceCategoryInfo* categoryOfLetter(char letter);

}  // namespace NEBRIX
