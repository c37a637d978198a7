// convertString on top of the converters, and measuring and terminating
// texts.
#include "encoding/unicode_conversion.h"

#include <cstdint>
#include <cstring>

#include "encoding/converters.h"
#include "encoding/string_encoding_type.h"

namespace support {
namespace UC {
namespace {

ConversionResult toConversionResult(t_sp78ConversionResult result) {
  switch (result) {
    case sp78_Ok:
      return Success;
    case sp78_SourceExhausted:
      return SourceExhausted;
    case sp78_TargetExhausted:
    case sp78_TargetNotTerminated:
      return TargetExhausted;
    case sp78_SourceCorrupted:
    case sp78_BadSourceEncoding:
    case sp78_BadTargetEncoding:
    case sp78_NullArgument:
      break;
  }
  return SourceCorrupted;
}

bool allZero(const unsigned char* p, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i)
    if (p[i] != 0) return false;
  return true;
}

struct Measure {
  std::size_t characters = 0;
  std::size_t bytes = 0;
  bool terminated = false;
  bool corrupted = false;
  bool incomplete = false;
};

// Texts of fixed-size units: stops at a zero unit.
Measure measureUnits(const unsigned char* p, std::size_t unit, std::size_t limit,
                     bool limitInBytes) {
  Measure m;
  if (unit == 1 && limitInBytes) {
    // The common case of 8-bit text, at library speed. memchr stops at the
    // first zero, so a terminated text shorter than limit is not over-read.
    if (limit == SIZE_MAX) {
      m.terminated = true;
      m.bytes = m.characters = std::strlen(reinterpret_cast<const char*>(p));
      return m;
    }
    const void* zero = std::memchr(p, 0, limit);
    m.terminated = zero != nullptr;
    m.bytes = m.characters =
        zero != nullptr ? static_cast<std::size_t>(static_cast<const unsigned char*>(zero) - p)
                        : limit;
    return m;
  }
  for (;;) {
    if (!limitInBytes && m.characters == limit) break;
    if (limitInBytes && limit - m.bytes < unit) {
      m.incomplete = limit != m.bytes;
      break;
    }
    if (allZero(p + m.bytes, unit)) {
      m.terminated = true;
      break;
    }
    m.bytes += unit;
    ++m.characters;
  }
  return m;
}

// UTF-8 and CESU-8, by lead byte. Bytes are read one at a time and never
// past the first that ends the measurement.
Measure measureSequences(const unsigned char* p, std::size_t limit, bool limitInBytes) {
  Measure m;
  for (;;) {
    if (limitInBytes ? m.bytes == limit : m.characters == limit) break;
    const unsigned char lead = p[m.bytes];
    if (lead == 0) {
      m.terminated = true;
      break;
    }
    const std::size_t n = impl::sequenceLength(lead);
    if (n == 0) {
      m.corrupted = true;
      break;
    }
    std::size_t i = 1;
    for (; i < n; ++i) {
      if (limitInBytes && m.bytes + i == limit) {
        m.incomplete = true;
        break;
      }
      if ((p[m.bytes + i] & 0xC0) != 0x80) {
        m.corrupted = true;
        break;
      }
    }
    if (i < n) break;
    m.bytes += n;
    ++m.characters;
  }
  return m;
}

}  // namespace

bool isValidText(char_encoding encoding, const void* text, std::size_t length) {
  const impl::EncodingDescription* description = impl::describe(encoding);
  if (description == nullptr || (text == nullptr && length != 0)) return false;
  const auto* p = static_cast<const unsigned char*>(text);
  for (std::size_t done = 0, step = 0; done < length; done += step) {
    char32_t codePoint = 0;
    if (description->decode(p + done, length - done, codePoint, step) != impl::DecodeStatus::Ok) return false;
  }
  return true;
}

std::size_t terminatorWidth(char_encoding encoding) {
  return NEBRIX_StringEncodingType::terminatorWidth(
      static_cast<NEBRIX_StringEncodingType::Encoding>(encoding));
}

std::size_t terminateString(char_encoding encoding, void* at) {
  const std::size_t width = terminatorWidth(encoding);
  std::memset(at, 0, width);
  return width;
}

void stringInfo(char_encoding encoding, const void* text, std::size_t limit, bool limitInBytes,
                std::size_t& characters, std::size_t& bytes, bool* terminated, bool* corrupted,
                bool* incomplete) {
  Measure m;
  if (text != nullptr) {
    const auto* p = static_cast<const unsigned char*>(text);
    if (encoding == CHAR_ENCODING_UTF8 || encoding == CHAR_ENCODING_CESU8) {
      m = measureSequences(p, limit, limitInBytes);
    } else {
      m = measureUnits(p, terminatorWidth(encoding), limit, limitInBytes);
    }
  }
  characters = m.characters;
  bytes = m.bytes;
  if (terminated != nullptr) *terminated = m.terminated;
  if (corrupted != nullptr) *corrupted = m.corrupted;
  if (incomplete != nullptr) *incomplete = m.incomplete;
}

ConversionResult convertString(char_encoding targetEncoding, void* target, std::size_t targetSize,
                               std::size_t* written, bool terminate, char_encoding sourceEncoding,
                               const void* source, std::size_t sourceLength, std::size_t* read) {
  std::size_t out = 0;
  std::size_t in = 0;
  t_sp78ConversionResult result;
  if (!terminate) {
    result = impl::convert(targetEncoding, target, targetSize, out, sourceEncoding, source,
                           sourceLength, in);
  } else {
    const std::size_t width = terminatorWidth(targetEncoding);
    // A target of exactly the terminator's size converts into no room: it
    // receives the terminator and, unless the source is empty, is full.
    if (target == nullptr || targetSize < width) {
      result = sp78_NullArgument;
    } else {
      result = impl::convert(targetEncoding, target, targetSize - width, out, sourceEncoding,
                             source, sourceLength, in);
      out += terminateString(targetEncoding, static_cast<unsigned char*>(target) + out);
    }
  }
  if (written != nullptr) *written = out;
  if (read != nullptr) *read = in;
  return toConversionResult(result);
}

}  // namespace UC
}  // namespace support
