// Takes a fuzz input apart front to back. Reading past the end gives zero
// bytes and short texts, so every input is a complete one.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace nebrix_fuzz {

class InputReader {
 public:
  InputReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

  bool empty() const { return m_size == 0; }
  uint8_t byte() {
    if (m_size == 0) return 0;
    --m_size;
    return *m_data++;
  }
  // Four bytes in the machine's byte order.
  int32_t word() {
    const uint8_t bytes[4] = {byte(), byte(), byte(), byte()};
    int32_t value;
    memcpy(&value, bytes, sizeof value);
    return value;
  }
  std::string text(size_t length) {
    length = std::min(length, m_size);
    std::string t(reinterpret_cast<const char*>(m_data), length);
    m_data += length;
    m_size -= length;
    return t;
  }
  std::string rest() { return text(m_size); }

 private:
  const uint8_t* m_data;
  size_t m_size;
};

}  // namespace nebrix_fuzz
