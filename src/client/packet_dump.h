// The text of a traced packet: a header line and 16 bytes a line in hex and
// printable characters, cut at the packet size limit.
#pragma once

#include <cstddef>
#include <string>

namespace NEBRIX::Client {

std::string dumpPacket(const unsigned char* data, std::size_t size, std::size_t limit);

}  // namespace NEBRIX::Client
