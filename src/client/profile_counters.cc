#include "client/profile_counters.h"

#include <pthread.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <limits>
#include <mutex>
#include <string>
#include <unordered_map>

#include "client/settings.h"
#include "trace/profile_data.h"

namespace NEBRIX::Client {

namespace {

using Clock = std::chrono::steady_clock;

class Counters {
 public:
  Counters() { pthread_atfork(lockForFork, unlockInParent, startAfreshInChild); }
  // At exit the last counters are written; the process is gone after that.
  ~Counters() {
    int error = 0;
    write(true, error);
  }

  void add(const char* name, long long amount) {
    std::lock_guard<std::mutex> guard(m_mutex);
    const std::string key = profileCounterName(name);
    auto found = m_index.find(key);
    if (found == m_index.end()) {
      found = m_index.emplace(key, m_data.counters.size()).first;
      m_data.counters.push_back({key, 0});
    }
    int64_t& value = m_data.counters[found->second].value;
    if (__builtin_add_overflow(value, static_cast<int64_t>(amount), &value)) {
      value = amount < 0 ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max();
    }
    m_changed = true;
  }

  void follow(const Settings& settings) {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (settings.flags.m_profile == PROFILE_RESET) {
      for (ProfileCounter& counter : m_data.counters) counter.value = 0;
      m_changed = true;
    }
    m_collecting = settings.flags.m_profile == PROFILE_COLLECT;
    if (m_file != settings.profileFile) m_changed = true;  // a new file gets the counters at once
    m_file = settings.profileFile;
    m_data.pid = static_cast<int32_t>(::getpid());
  }

  bool write(bool now, int& error) {
    std::lock_guard<std::mutex> guard(m_mutex);
    const Clock::time_point time = Clock::now();
    if (!m_collecting || !m_changed || (!now && time - m_written < std::chrono::seconds(1))) return true;
    m_written = time;
    if (!writeProfileFile(m_file, m_data, error)) return false;
    m_changed = false;
    return true;
  }

 private:
  // The mutex is held across fork, so that the child finds it free.
  static void lockForFork();
  static void unlockInParent();
  static void startAfreshInChild();

  std::mutex m_mutex;
  ProfileData m_data{0, {}};
  std::unordered_map<std::string, size_t> m_index;
  bool m_collecting = false;
  bool m_changed = false;
  std::string m_file;
  Clock::time_point m_written;
};

Counters g_counters;

void Counters::lockForFork() { g_counters.m_mutex.lock(); }
void Counters::unlockInParent() { g_counters.m_mutex.unlock(); }
void Counters::startAfreshInChild() {
  g_counters.m_data.counters.clear();
  g_counters.m_index.clear();
  g_counters.m_collecting = false;
  g_counters.m_changed = false;
  g_counters.m_mutex.unlock();
}

}  // namespace

void addProfileCounter(const char* name, long long amount) { g_counters.add(name, amount); }

void followProfileSettings(const Settings& settings) { g_counters.follow(settings); }

bool writeProfileIfDue(bool now, int& error) { return g_counters.write(now, error); }

}  // namespace NEBRIX::Client
