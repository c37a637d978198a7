// Encryption keys of the store as a person handles them: 24 bytes written as
// 48 hexadecimal digits, kept in a file or typed on standard input. A key is
// overwritten with zeros when it goes away.
#pragma once

#include <cstddef>
#include <string>

constexpr size_t kStoreKeyLength = 24;
constexpr size_t kStoreKeyDigits = 2 * kStoreKeyLength;

class StoreKey {
 public:
  StoreKey() = default;
  ~StoreKey();
  StoreKey(const StoreKey&) = delete;
  StoreKey& operator=(const StoreKey&) = delete;

  // Reads the key from a file, or from standard input for "-", where a
  // terminal is asked with `prompt`. Blanks and line ends around the digits
  // are ignored; nothing else is. False with a message in `error`, which
  // never shows the text read.
  bool read(const std::string& source, const char* prompt, std::string& error);

  // A fresh key straight from the system's random source (getrandom), not
  // from a generator seeded in this process. False with a message naming
  // the system error.
  bool generate(std::string& error);

  const unsigned char* bytes() const { return m_bytes; }
  // 24 zero bytes: the store's built-in default key, no secret at all.
  bool isZero() const;
  // The 48 digits in lower case and a NUL; the caller wipes `text`.
  void toHex(char (&text)[kStoreKeyDigits + 1]) const;

 private:
  unsigned char m_bytes[kStoreKeyLength] = {};
};

// True for a word of exactly 48 hexadecimal digits: a key that someone is
// about to give on the command line.
bool looksLikeKey(const std::string& word);
