#include "hex_key.h"

#include <cstring>

#include "crypto/secure_wipe.h"
#include "crypto/system_random.h"
#include "secret_text.h"

namespace {

// Room for the digits with any reasonable blank lines around them.
constexpr size_t kKeyTextCapacity = 1024;

int digitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

StoreKey::~StoreKey() { secureWipe(m_bytes, sizeof m_bytes); }

bool StoreKey::read(const std::string& source, const char* prompt, std::string& error) {
  SecretText text(kKeyTextCapacity);
  if (!text.read(source, "key", prompt, error)) return false;
  const char* begin = text.data();
  const char* end = begin + text.size();
  while (begin < end && isBlank(*begin)) ++begin;
  while (end > begin && isBlank(end[-1])) --end;

  const std::string expected =
      "The key in " + describeSource(source) + " must be 24 bytes written as 48 hexadecimal digits";
  if (static_cast<size_t>(end - begin) != kStoreKeyDigits) {
    error = expected + "; it has " + std::to_string(end - begin) + " characters.";
    return false;
  }
  for (size_t i = 0; i < kStoreKeyLength; ++i) {
    const int high = digitValue(begin[2 * i]);
    const int low = digitValue(begin[2 * i + 1]);
    if (high < 0 || low < 0) {
      secureWipe(m_bytes, sizeof m_bytes);
      error = expected + "; it has other characters.";
      return false;
    }
    m_bytes[i] = static_cast<unsigned char>(high << 4 | low);
  }
  return true;
}

bool StoreKey::generate(std::string& error) {
  const int failure = systemRandomBytes(m_bytes, sizeof m_bytes);
  if (failure != 0) {
    secureWipe(m_bytes, sizeof m_bytes);
    error = std::string("The system's random source (getrandom) failed: ") + strerror(failure) +
            "; no key was generated.";
    return false;
  }
  return true;
}

bool StoreKey::isZero() const {
  unsigned char any = 0;
  for (unsigned char b : m_bytes) any |= b;
  return any == 0;
}

void StoreKey::toHex(char (&text)[kStoreKeyDigits + 1]) const {
  static const char digits[] = "0123456789abcdef";
  for (size_t i = 0; i < kStoreKeyLength; ++i) {
    text[2 * i] = digits[m_bytes[i] >> 4];
    text[2 * i + 1] = digits[m_bytes[i] & 0x0F];
  }
  text[kStoreKeyDigits] = '\0';
}

bool looksLikeKey(const std::string& word) {
  if (word.size() != kStoreKeyDigits) return false;
  for (char c : word) {
    if (digitValue(c) < 0) return false;
  }
  return true;
}
