#include "securestore/diagnostics.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "securestore/checked_allocator.h"

namespace {

constexpr char kEndMark[] = "##SSFS_ENDMARK##";
constexpr size_t kEndMarkLength = sizeof kEndMark - 1;
constexpr size_t kBufferStep = 1024;
constexpr int kMaxMasks = 8;

RSecSSFsTraceFunction g_callback = nullptr;
int g_maxLevel = 0;
char* g_errorText = nullptr;
size_t g_errorTextSize = 0;
const char* g_file = "";
int g_line = 0;

// Formats into a fresh buffer of at least *size bytes, growing it by 1024
// bytes until the appended end mark fits, then cuts the end mark off.
// Returns null when memory runs out; *size is the size of the result buffer.
char* formatWhole(size_t* size, const char* format, va_list args) {
  const size_t formatLength = std::strlen(format);
  auto* marked = static_cast<char*>(RSECSSFS_ALLOC_CHARS(formatLength + kEndMarkLength + 1));
  if (marked == nullptr) return nullptr;
  std::memcpy(marked, format, formatLength);
  std::memcpy(marked + formatLength, kEndMark, kEndMarkLength + 1);
  char* buffer = nullptr;
  for (;;) {
    buffer = static_cast<char*>(RSECSSFS_ALLOC_CHARS(*size));
    if (buffer == nullptr) break;
    va_list copy;
    va_copy(copy, args);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    const int written = std::vsnprintf(buffer, *size - 1, marked, copy);
#pragma GCC diagnostic pop
    va_end(copy);
    if (written < 0) {  // an encoding error: nothing sensible to show
      RSECSSFS_FREE(buffer);
      buffer = nullptr;
      break;
    }
    if (static_cast<size_t>(written) < *size - 1) {  // the end mark made it in full
      buffer[written - kEndMarkLength] = '\0';
      break;
    }
    RSECSSFS_FREE(buffer);
    *size += kBufferStep;
  }
  RSECSSFS_FREE(marked);
  return buffer;
}

char* formatWholeV(size_t* size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  char* result = formatWhole(size, format, args);
  va_end(args);
  return result;
}

void addToErrorText(const char* message) {
  if (g_errorText == nullptr) {
    g_errorText = static_cast<char*>(RSECSSFS_ALLOC_CHARS(kBufferStep));
    if (g_errorText == nullptr) return;
    g_errorText[0] = '\0';
    g_errorTextSize = kBufferStep;
  }
  if (g_errorText[0] != '\0' && std::strncmp(g_errorText, message, std::strlen(message)) == 0) return;
  size_t size = g_errorTextSize;
  char* combined = g_errorText[0] == '\0' ? formatWholeV(&size, "%s", message)
                                          : formatWholeV(&size, "%s <-- %s", message, g_errorText);
  if (combined == nullptr) return;
  RSECSSFS_FREE(g_errorText);
  g_errorText = combined;
  g_errorTextSize = size;
}

const char* baseName(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash != nullptr ? slash + 1 : path;
}

}  // namespace

void RSecSSFsSetTraceCallback(RSecSSFsTraceFunction traceFunction, int maxLevel) {
  g_callback = traceFunction;
  g_maxLevel = maxLevel;
}

void rsecssfs_setTraceLocation(const char* file, int line) {
  g_file = file != nullptr ? baseName(file) : "";
  g_line = line;
}

void rsecssfs_trace(int level, const char* format, ...) {
  if (rsecssfs_isLowMemory() || format == nullptr) return;
  int shown = RSECSSFS_TRCERR;
  bool isError = true;
  if (level >= RSECSSFS_TRC1 && level <= RSECSSFS_TRC3) {
    shown = level;
    isError = false;
  } else if (level == RSECSSFS_TRC2_RETURNED) {
    shown = RSECSSFS_TRC2;
  }
  const bool toCallback = g_callback != nullptr && shown <= g_maxLevel;
  if (!toCallback && !isError) return;

  va_list args;
  va_start(args, format);
  size_t size = kBufferStep;
  char* message = formatWhole(&size, format, args);
  va_end(args);
  if (message == nullptr) return;
  if (toCallback) {
    size_t lineSize = kBufferStep;
    char* line = formatWholeV(&lineSize, "RSecSSFs: %s [%s %d]", message, g_file, g_line);
    if (line != nullptr) {
      g_callback(shown, line);
      RSECSSFS_FREE(line);
    }
  }
  if (isError) addToErrorText(message);
  RSECSSFS_FREE(message);
}

void rsecssfs_hextrace(const void* start, size_t length, int numberMasks, ...) {
  if (g_callback == nullptr || g_maxLevel < RSECSSFS_TRC3) return;
  if (start == nullptr) {
    rsecssfs_trace(RSECSSFS_TRC3, "Binary dump: Incoming data are NULL");
    return;
  }
  uintptr_t maskFrom[kMaxMasks], maskTo[kMaxMasks];
  int masks = 0;
  va_list args;
  va_start(args, numberMasks);
  for (int i = 0; i < numberMasks; ++i) {
    const void* from = va_arg(args, const void*);
    const void* to = va_arg(args, const void*);
    if (masks < kMaxMasks) {
      maskFrom[masks] = reinterpret_cast<uintptr_t>(from);
      maskTo[masks++] = reinterpret_cast<uintptr_t>(to);
    }
  }
  va_end(args);

  const auto* bytes = static_cast<const unsigned char*>(start);
  for (size_t offset = 0; offset < length; offset += 16) {
    char hex[49], text[17], position[20];
    std::memset(hex, ' ', 48);
    std::memset(text, ' ', 16);
    hex[48] = text[16] = '\0';
    for (size_t i = 0; i < 16 && offset + i < length; ++i) {
      const unsigned char* byte = bytes + offset + i;
      const auto address = reinterpret_cast<uintptr_t>(byte);
      bool masked = false;
      for (int m = 0; m < masks && !masked; ++m) masked = address >= maskFrom[m] && address < maskTo[m];
      if (masked) {
        hex[3 * i] = hex[3 * i + 1] = '*';
        text[i] = '*';
      } else {
        static const char kDigits[] = "0123456789ABCDEF";
        hex[3 * i] = kDigits[*byte >> 4];
        hex[3 * i + 1] = kDigits[*byte & 0x0F];
        text[i] = *byte >= 0x20 && *byte <= 0x7E ? static_cast<char>(*byte) : '.';
      }
    }
    std::snprintf(position, sizeof position, "%08X", static_cast<unsigned>(offset));
    rsecssfs_trace(RSECSSFS_TRC3, "    %s %s %s", position, hex, text);
  }
}

const char* rsecssfs_errorText() { return g_errorText; }

void rsecssfs_discardErrorText() {
  if (g_errorText != nullptr) RSECSSFS_FREE(g_errorText);
  g_errorText = nullptr;
  g_errorTextSize = 0;
}
