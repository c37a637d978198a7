// Updates of the store run with the signals that end a program by default
// (SIGINT, SIGTERM, SIGHUP, SIGQUIT) blocked, from just before the lock is
// taken until just after it is removed. A signal that arrives meanwhile
// stays pending and takes effect once the store is consistent again: the
// old or the new state, no lock file left, no data file cut short.
#pragma once

#include <signal.h>

#include <initializer_list>

class rsecssfsSignalBlock {
 public:
  rsecssfsSignalBlock() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&set, signal);
    pthread_sigmask(SIG_BLOCK, &set, &m_saved);
  }
  ~rsecssfsSignalBlock() { pthread_sigmask(SIG_SETMASK, &m_saved, nullptr); }
  rsecssfsSignalBlock(const rsecssfsSignalBlock&) = delete;
  rsecssfsSignalBlock& operator=(const rsecssfsSignalBlock&) = delete;

 private:
  sigset_t m_saved;
};
