// System error texts from the platform's strerror_r.
#include "base/system_error.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace Diagnose {
namespace {

// glibc's text for numbers it does not know; such texts are replaced by our
// own form so that messages look the same on every platform.
constexpr char kUnknownPrefix[] = "Unknown error ";

// strerror_r exists in a GNU form returning the text and an XSI form
// returning a status; overloads pick whichever the headers declare.
[[maybe_unused]] const char* strerror_result(const char* text, const char*) noexcept {
  return text;
}
[[maybe_unused]] const char* strerror_result(int status, const char* scratch) noexcept {
  return status == 0 ? scratch : nullptr;
}

}  // namespace

int getSystemError() noexcept { return errno; }

const char* getSystemErrorMessage(int rc, char* buffer, std::size_t size) noexcept {
  if (buffer == nullptr || size == 0) return buffer;
  const int saved_errno = errno;

  char scratch[256];
  scratch[0] = '\0';
  const char* text;
  if (rc == 0) {
    text = "[no error]";
  } else if (rc == kNotARegularFile) {
    text = "Not a regular file";
  } else {
    text = strerror_result(strerror_r(rc, scratch, sizeof scratch), scratch);
    if (text == nullptr || text[0] == '\0' ||
        std::strncmp(text, kUnknownPrefix, sizeof kUnknownPrefix - 1) == 0) {
      std::snprintf(scratch, sizeof scratch, "[unknown error code %d]", rc);
      text = scratch;
    }
  }

  std::size_t length = std::strlen(text);
  if (length > size - 1) length = size - 1;
  std::memmove(buffer, text, length);
  buffer[length] = '\0';

  errno = saved_errno;
  return buffer;
}

}  // namespace Diagnose
