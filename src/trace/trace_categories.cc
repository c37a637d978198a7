#include "trace/trace_categories.h"

#include <cstring>

namespace NEBRIX {

namespace {

// The letters of the trace flags string that are not categories.
constexpr const char kOtherFlagLetters[] = "zTGse";

constexpr bool lettersAreFree() {
  for (size_t i = 0; i < kTraceCategoryCount; ++i) {
    for (const char* other = kOtherFlagLetters; *other != '\0'; ++other) {
      if (kTraceCategories[i].letter == *other) return false;
    }
    for (size_t j = 0; j < i; ++j) {
      if (kTraceCategories[i].letter == kTraceCategories[j].letter) return false;
    }
  }
  return true;
}

static_assert(lettersAreFree(), "each category needs a flag letter of its own");
// The category bits share a 32-bit half of the client's packed word with
// its valid bit (see client/client_state.h).
static_assert(kTraceCategoryCount <= 31, "the category bits fill the low 31 bits of a word");

}  // namespace

const TraceCategoryInfo* categoryOfLetter(char letter) {
  for (const TraceCategoryInfo& row : kTraceCategories) {
    if (row.letter == letter) return &row;
  }
  return nullptr;
}

}  // namespace NEBRIX
