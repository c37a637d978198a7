#include "secret_text.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <iterator>

#include "crypto/secure_wipe.h"

namespace {

// The terminal settings to restore when a signal ends the program while the
// echo is off; otherwise the person's shell would stay without echo.
struct termios g_savedTerminal;
const int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void restoreTerminalAndDie(int signalNumber) {
  tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTerminal);
  signal(signalNumber, SIG_DFL);
  raise(signalNumber);
}

// Switches the terminal's echo off for as long as it lives.
class EchoOff {
 public:
  EchoOff() {
    if (tcgetattr(STDIN_FILENO, &g_savedTerminal) != 0) return;
    struct sigaction restore;
    memset(&restore, 0, sizeof restore);
    restore.sa_handler = restoreTerminalAndDie;
    for (size_t i = 0; i < std::size(kEndingSignals); ++i) sigaction(kEndingSignals[i], &restore, &m_previous[i]);
    struct termios quiet = g_savedTerminal;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    m_active = tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
    if (!m_active) restoreHandlers();
  }
  ~EchoOff() {
    if (!m_active) return;
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_savedTerminal);
    restoreHandlers();
    static const char newline = '\n';
    (void)!write(STDERR_FILENO, &newline, 1);  // the Enter the person typed was not echoed
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

 private:
  void restoreHandlers() {
    for (size_t i = 0; i < std::size(kEndingSignals); ++i) sigaction(kEndingSignals[i], &m_previous[i], nullptr);
  }

  bool m_active = false;
  struct sigaction m_previous[std::size(kEndingSignals)];
};

}  // namespace

std::string describeSource(const std::string& source) {
  return source == "-" ? "standard input" : "\"" + source + "\"";
}

// One byte more than the capacity plus the terminator, so that an overlong
// source is noticed without reading it all.
SecretText::SecretText(size_t capacity) : m_data(new char[capacity + 2]), m_capacity(capacity) {
  m_data[0] = '\0';
}

SecretText::~SecretText() {
  secureWipe(m_data, m_capacity + 2);
  delete[] m_data;
}

bool SecretText::readFrom(int fd, bool oneLine) {
  m_size = 0;
  while (m_size <= m_capacity) {
    const ssize_t got = ::read(fd, m_data + m_size, m_capacity + 1 - m_size);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) break;
    m_size += static_cast<size_t>(got);
    if (oneLine && m_data[m_size - 1] == '\n') break;
  }
  m_data[m_size] = '\0';
  return true;
}

bool SecretText::read(const std::string& source, const char* what, const char* prompt, std::string& error) {
  bool readable = false;
  if (source == "-") {
    if (isatty(STDIN_FILENO)) {
      (void)!write(STDERR_FILENO, prompt, strlen(prompt));
      EchoOff quiet;
      readable = readFrom(STDIN_FILENO, true);
    } else {
      readable = readFrom(STDIN_FILENO, false);
    }
  } else {
    const int fd = open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
      readable = readFrom(fd, false);
      const int savedErrno = errno;
      close(fd);
      errno = savedErrno;
    }
  }
  if (!readable) {
    error = std::string("Cannot read the ") + what + " from " + describeSource(source) + ": " + strerror(errno) + ".";
    return false;
  }
  if (m_size > m_capacity) {
    error = std::string("The ") + what + " in " + describeSource(source) + " is longer than " +
            std::to_string(m_capacity) + " bytes.";
    return false;
  }
  return true;
}

void SecretText::dropFinalLineEnd() {
  if (m_size == 0 || m_data[m_size - 1] != '\n') return;
  m_data[--m_size] = '\0';
  if (m_size > 0 && m_data[m_size - 1] == '\r') m_data[--m_size] = '\0';
}
