// The words of the command language: whether a typed word abbreviates a
// keyword, and the message for a word that fits none of those expected.
#include <cctype>
#include <cstring>

#include "base/text_output.h"
#include "console/console.h"

namespace NEBRIX {

bool matchKeyword(const char* word, const char* keyword, int minLength) {
  if (word == nullptr || *word == '\0') return false;
  const size_t length = strlen(word);
  if (length < static_cast<size_t>(minLength < 0 ? 0 : minLength) || length > strlen(keyword)) {
    return false;
  }
  for (size_t i = 0; i < length; ++i) {
    if (toupper(static_cast<unsigned char>(word[i])) !=
        toupper(static_cast<unsigned char>(keyword[i]))) {
      return false;
    }
  }
  return true;
}

NEBRIX_Retcode reportSyntaxError(Text::Output& stream, const char* expected, const char* found) {
  stream << "Error: Syntax error, found " << found << ", expected " << expected << "." << Text::endl;
  return NEBRIX_NOT_OK;
}

}  // namespace NEBRIX
