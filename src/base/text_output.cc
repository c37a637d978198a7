#include "base/text_output.h"

namespace Text {

Output out(&stdout, nullptr);
Output err(&stderr, &stdout);

// A stream that lost a write writes nothing more, as a std::ostream whose
// badbit is set: what follows a gap would be read as if it followed what
// went before.
Output& Output::operator<<(std::string_view text) noexcept {
  if (m_tied != nullptr && std::ferror(*m_tied) == 0) std::fflush(*m_tied);
  std::FILE* stream = *m_stream;
  if (!text.empty() && std::ferror(stream) == 0) std::fwrite(text.data(), 1, text.size(), stream);
  return *this;
}

Output& Output::flush() noexcept {
  if (std::ferror(*m_stream) == 0) std::fflush(*m_stream);
  return *this;
}

Output& endl(Output& output) noexcept { return (output << '\n').flush(); }

}  // namespace Text
