// Secrets (keys, values to be stored encrypted) come from a file or from
// standard input, never from the command line, where every user of the
// machine can read them. The text lives in one buffer of fixed capacity, so
// no growing buffer leaves copies behind, and it is overwritten with zeros
// when the object goes away.
#pragma once

#include <cstddef>
#include <string>

class SecretText {
 public:
  // Holds at most `capacity` bytes.
  explicit SecretText(size_t capacity);
  ~SecretText();
  SecretText(const SecretText&) = delete;
  SecretText& operator=(const SecretText&) = delete;

  // Reads all of `source`: a file name, or "-" for standard input. On a
  // terminal, `prompt` goes to standard error and one line is read with the
  // echo switched off. False with a message in `error` when the source
  // cannot be read or holds more than the capacity; `what` names the secret
  // in that message ("key", "value").
  bool read(const std::string& source, const char* what, const char* prompt, std::string& error);

  // Drops one final line end ("\n" or "\r\n").
  void dropFinalLineEnd();

  // The bytes read, followed by a NUL.
  const char* data() const { return m_data; }
  size_t size() const { return m_size; }

 private:
  bool readFrom(int fd, bool oneLine);

  char* m_data;
  size_t m_capacity;
  size_t m_size = 0;
};

// How a source is named in messages: "standard input" for "-", else the
// file name in quotes.
std::string describeSource(const std::string& source);
