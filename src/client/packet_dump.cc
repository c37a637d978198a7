#include "client/packet_dump.h"

#include <cstdio>

namespace NEBRIX::Client {

std::string dumpPacket(const unsigned char* data, std::size_t size, std::size_t limit) {
  const std::size_t shown = size < limit ? size : limit;
  std::string text = "packet of " + std::to_string(size) + " bytes";
  if (shown < size) text += ", first " + std::to_string(shown) + " shown";
  text += "\n";
  char line[96];
  for (std::size_t offset = 0; offset < shown; offset += 16) {
    int used = std::snprintf(line, sizeof line, "%08zx ", offset);
    std::string printable;
    for (std::size_t i = offset; i < offset + 16; ++i) {
      if (i < shown) {
        used += std::snprintf(line + used, sizeof line - static_cast<std::size_t>(used), " %02x", data[i]);
        printable += (data[i] >= 0x20 && data[i] < 0x7f) ? static_cast<char>(data[i]) : '.';
      } else {
        used += std::snprintf(line + used, sizeof line - static_cast<std::size_t>(used), "   ");
      }
    }
    text += line;
    text += "  " + printable + "\n";
  }
  return text;
}

}  // namespace NEBRIX::Client
