// Code point decoders and encoders of every supported encoding, and the
// three ways of converting between them: copying, swapping byte order, and
// decoding and re-encoding one character at a time.
#include "encoding/converters.h"

#include <cstring>

namespace support {
namespace UC {
namespace impl {
namespace {

constexpr char32_t kMaxCodePoint = 0x10FFFF;

bool isHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

char32_t combineSurrogates(char32_t high, char32_t low) {
  return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}
char32_t highSurrogateOf(char32_t c) { return 0xD800 + ((c - 0x10000) >> 10); }
char32_t lowSurrogateOf(char32_t c) { return 0xDC00 + ((c - 0x10000) & 0x3FF); }

template <bool BigEndian>
char32_t load16(const unsigned char* p) {
  return BigEndian ? (char32_t{p[0]} << 8) | p[1] : (char32_t{p[1]} << 8) | p[0];
}

template <bool BigEndian>
void store16(char32_t v, unsigned char* p) {
  const unsigned char hi = static_cast<unsigned char>(v >> 8);
  const unsigned char lo = static_cast<unsigned char>(v);
  p[0] = BigEndian ? hi : lo;
  p[1] = BigEndian ? lo : hi;
}

template <bool BigEndian>
char32_t load32(const unsigned char* p) {
  char32_t v = 0;
  for (int i = 0; i < 4; ++i) v = (v << 8) | p[BigEndian ? i : 3 - i];
  return v;
}

template <bool BigEndian>
void store32(char32_t v, unsigned char* p) {
  for (int i = 0; i < 4; ++i) p[BigEndian ? 3 - i : i] = static_cast<unsigned char>(v >> (8 * i));
}

// 8-bit text.

DecodeStatus decodeEightBit(const unsigned char* p, std::size_t, char32_t& codePoint,
                            std::size_t& length) {
  codePoint = p[0];
  length = 1;
  return DecodeStatus::Ok;
}

std::size_t encodeEightBit(char32_t codePoint, unsigned char* out) {
  out[0] = codePoint <= 0xFF ? static_cast<unsigned char>(codePoint) : '?';
  return 1;
}

// UTF-8 and CESU-8.

// One sequence of at most maxLength bytes, in its shortest form.
DecodeStatus decodeSequence(const unsigned char* p, std::size_t available, std::size_t maxLength,
                            char32_t& codePoint, std::size_t& length) {
  static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  const std::size_t n = sequenceLength(p[0]);
  if (n == 0 || n > maxLength) return DecodeStatus::Invalid;
  char32_t value = n == 1 ? p[0] : p[0] & (0x7F >> n);
  for (std::size_t i = 1; i < n; ++i) {
    if (i >= available) return DecodeStatus::Truncated;
    if ((p[i] & 0xC0) != 0x80) return DecodeStatus::Invalid;
    value = (value << 6) | (p[i] & 0x3F);
  }
  if (value < kSmallest[n] || value > kMaxCodePoint) return DecodeStatus::Invalid;
  codePoint = value;
  length = n;
  return DecodeStatus::Ok;
}

DecodeStatus decodeUtf8(const unsigned char* p, std::size_t available, char32_t& codePoint,
                        std::size_t& length) {
  return decodeSequence(p, available, 4, codePoint, length);
}

// Whether the bytes at p, cut off by the end of the source, may still
// become a low surrogate (0xED 0xB0-0xBF ...).
bool mayBecomeLowSurrogate(const unsigned char* p, std::size_t available) {
  return p[0] == 0xED && (available < 2 || (p[1] & 0xF0) == 0xB0);
}

DecodeStatus decodeCesu8(const unsigned char* p, std::size_t available, char32_t& codePoint,
                         std::size_t& length) {
  DecodeStatus status = decodeSequence(p, available, 3, codePoint, length);
  if (status != DecodeStatus::Ok || !isHighSurrogate(codePoint)) return status;
  if (available == 3) return DecodeStatus::Truncated;
  char32_t low = 0;
  std::size_t lowLength = 0;
  status = decodeSequence(p + 3, available - 3, 3, low, lowLength);
  if (status == DecodeStatus::Truncated)
    return mayBecomeLowSurrogate(p + 3, available - 3) ? status : DecodeStatus::Invalid;
  if (status != DecodeStatus::Ok || !isLowSurrogate(low)) return DecodeStatus::Invalid;
  codePoint = combineSurrogates(codePoint, low);
  length = 6;
  return DecodeStatus::Ok;
}

std::size_t encodeUtf8(char32_t c, unsigned char* out) {
  if (c < 0x80) {
    out[0] = static_cast<unsigned char>(c);
    return 1;
  }
  std::size_t n = c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
  static constexpr unsigned char kLeadMark[] = {0, 0, 0xC0, 0xE0, 0xF0};
  for (std::size_t i = n - 1; i > 0; --i) {
    out[i] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    c >>= 6;
  }
  out[0] = static_cast<unsigned char>(kLeadMark[n] | c);
  return n;
}

std::size_t encodeCesu8(char32_t c, unsigned char* out) {
  if (c < 0x10000) return encodeUtf8(c, out);
  encodeUtf8(highSurrogateOf(c), out);
  encodeUtf8(lowSurrogateOf(c), out + 3);
  return 6;
}

// UCS-2, in either byte order.

template <bool BigEndian>
DecodeStatus decodeUcs2(const unsigned char* p, std::size_t available, char32_t& codePoint,
                        std::size_t& length) {
  if (available < 2) return DecodeStatus::Truncated;
  const char32_t unit = load16<BigEndian>(p);
  if (!isHighSurrogate(unit)) {
    codePoint = unit;
    length = 2;
    return DecodeStatus::Ok;
  }
  if (available < 4) return DecodeStatus::Truncated;
  const char32_t low = load16<BigEndian>(p + 2);
  if (!isLowSurrogate(low)) return DecodeStatus::Invalid;
  codePoint = combineSurrogates(unit, low);
  length = 4;
  return DecodeStatus::Ok;
}

template <bool BigEndian>
std::size_t encodeUcs2(char32_t c, unsigned char* out) {
  if (c < 0x10000) {
    store16<BigEndian>(c, out);
    return 2;
  }
  store16<BigEndian>(highSurrogateOf(c), out);
  store16<BigEndian>(lowSurrogateOf(c), out + 2);
  return 4;
}

// UCS-4, in either byte order.

template <bool BigEndian>
DecodeStatus decodeUcs4(const unsigned char* p, std::size_t available, char32_t& codePoint,
                        std::size_t& length) {
  if (available < 4) return DecodeStatus::Truncated;
  const char32_t value = load32<BigEndian>(p);
  if (value > kMaxCodePoint) return DecodeStatus::Invalid;
  codePoint = value;
  length = 4;
  return DecodeStatus::Ok;
}

template <bool BigEndian>
std::size_t encodeUcs4(char32_t c, unsigned char* out) {
  store32<BigEndian>(c, out);
  return 4;
}

const EncodingDescription kDescriptions[] = {
    {CHAR_ENCODING_ASCII, 1, decodeEightBit, encodeEightBit},
    {CHAR_ENCODING_UCS2_BE, 2, decodeUcs2<true>, encodeUcs2<true>},
    {CHAR_ENCODING_UCS2_LE, 2, decodeUcs2<false>, encodeUcs2<false>},
    {CHAR_ENCODING_UTF8, 1, decodeUtf8, encodeUtf8},
    {CHAR_ENCODING_CESU8, 1, decodeCesu8, encodeCesu8},
    {CHAR_ENCODING_UCS4_BE, 4, decodeUcs4<true>, encodeUcs4<true>},
    {CHAR_ENCODING_UCS4_LE, 4, decodeUcs4<false>, encodeUcs4<false>},
};

// The converters. Each consumes whole characters of the source and stops
// before the first one that the target cannot hold whole.

using Converter = t_sp78ConversionResult (*)(const EncodingDescription& from,
                                             const unsigned char* source,
                                             std::size_t sourceLength, std::size_t& read,
                                             const EncodingDescription& to,
                                             unsigned char* target, std::size_t targetSize,
                                             std::size_t& written);

// Bytes of the character at p when it is copied unchecked: sequences by lead
// byte for the 8-bit Unicode forms (a stray byte alone), units otherwise.
std::size_t copiedCharacterLength(const EncodingDescription& d, unsigned char lead) {
  if (d.encoding != CHAR_ENCODING_UTF8 && d.encoding != CHAR_ENCODING_CESU8) return d.unitSize;
  const std::size_t n = sequenceLength(lead);
  return n == 0 ? 1 : n;
}

t_sp78ConversionResult copyCharacters(const EncodingDescription& from,
                                      const unsigned char* source, std::size_t sourceLength,
                                      std::size_t& read, const EncodingDescription&,
                                      unsigned char* target, std::size_t targetSize,
                                      std::size_t& written) {
  t_sp78ConversionResult result = sp78_Ok;
  std::size_t done = 0;
  while (done < sourceLength) {
    const std::size_t n = copiedCharacterLength(from, source[done]);
    if (n > sourceLength - done) {
      result = sp78_SourceExhausted;
      break;
    }
    if (n > targetSize - done) {
      result = sp78_TargetExhausted;
      break;
    }
    done += n;
  }
  std::memcpy(target, source, done);
  read = written = done;
  return result;
}

t_sp78ConversionResult swapUnits(const EncodingDescription&, const unsigned char* source,
                                 std::size_t sourceLength, std::size_t& read,
                                 const EncodingDescription&, unsigned char* target,
                                 std::size_t targetSize, std::size_t& written) {
  t_sp78ConversionResult result = sp78_Ok;
  std::size_t done = 0;
  while (done < sourceLength) {
    if (sourceLength - done < 2) {
      result = sp78_SourceExhausted;
      break;
    }
    if (targetSize - done < 2) {
      result = sp78_TargetExhausted;
      break;
    }
    target[done] = source[done + 1];
    target[done + 1] = source[done];
    done += 2;
  }
  read = written = done;
  return result;
}

t_sp78ConversionResult transcode(const EncodingDescription& from, const unsigned char* source,
                                 std::size_t sourceLength, std::size_t& read,
                                 const EncodingDescription& to, unsigned char* target,
                                 std::size_t targetSize, std::size_t& written) {
  t_sp78ConversionResult result = sp78_Ok;
  std::size_t in = 0;
  std::size_t out = 0;
  unsigned char encoded[kMaxEncodedLength];
  while (in < sourceLength) {
    char32_t codePoint = 0;
    std::size_t consumed = 0;
    const DecodeStatus status = from.decode(source + in, sourceLength - in, codePoint, consumed);
    if (status != DecodeStatus::Ok) {
      result = status == DecodeStatus::Truncated ? sp78_SourceExhausted : sp78_SourceCorrupted;
      break;
    }
    const std::size_t produced = to.encode(codePoint, encoded);
    if (produced > targetSize - out) {
      result = sp78_TargetExhausted;
      break;
    }
    std::memcpy(target + out, encoded, produced);
    in += consumed;
    out += produced;
  }
  read = in;
  written = out;
  return result;
}

bool isUcs2(char_encoding e) { return e == CHAR_ENCODING_UCS2_BE || e == CHAR_ENCODING_UCS2_LE; }

Converter converterFor(const EncodingDescription& from, const EncodingDescription& to) {
  if (from.encoding == to.encoding) return copyCharacters;
  if (isUcs2(from.encoding) && isUcs2(to.encoding)) return swapUnits;
  return transcode;
}

}  // namespace

std::size_t sequenceLength(unsigned char lead) noexcept {
  if (lead < 0x80) return 1;
  if (lead < 0xC0) return 0;
  if (lead < 0xE0) return 2;
  if (lead < 0xF0) return 3;
  if (lead < 0xF8) return 4;
  if (lead < 0xFC) return 5;
  return 6;
}

const EncodingDescription* describe(char_encoding encoding) noexcept {
  for (const EncodingDescription& d : kDescriptions)
    if (d.encoding == encoding) return &d;
  return nullptr;
}

t_sp78ConversionResult convert(char_encoding targetEncoding, void* target,
                               std::size_t targetSize, std::size_t& written,
                               char_encoding sourceEncoding, const void* source,
                               std::size_t sourceLength, std::size_t& read) noexcept {
  written = 0;
  read = 0;
  const EncodingDescription* to = describe(targetEncoding);
  const EncodingDescription* from = describe(sourceEncoding);
  if (to == nullptr || from == nullptr || target == nullptr ||
      (source == nullptr && sourceLength != 0))
    return sp78_NullArgument;
  // Nothing to convert always succeeds, even into no room at all.
  if (sourceLength == 0) return sp78_Ok;
  if (targetSize == 0) return sp78_TargetExhausted;
  if (from->decode == nullptr) return sp78_BadSourceEncoding;
  if (to->encode == nullptr) return sp78_BadTargetEncoding;
  return converterFor(*from, *to)(*from, static_cast<const unsigned char*>(source), sourceLength,
                                  read, *to, static_cast<unsigned char*>(target), targetSize,
                                  written);
}

}  // namespace impl
}  // namespace UC
}  // namespace support
