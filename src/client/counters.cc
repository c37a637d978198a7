#include "client/counters.h"

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>

#include "client/settings.h"
#include "trace/counter_file.h"

namespace NEBRIX::Client {

namespace {

using Clock = std::chrono::steady_clock;

class Counters {
 public:
  void add(const char* name, long long amount) {
    std::lock_guard<std::mutex> guard(m_mutex);
    const std::string key = validCounterName(name);
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

  bool follow(const Settings& settings) {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (settings.flags.m_counterAction == COUNTERS_RESET) {
      for (NamedCounter& counter : m_data.counters) counter.value = 0;
      m_changed = true;
    }
    const bool collecting = settings.flags.m_counterAction == COUNTERS_COLLECT;
    if (collecting && !m_collecting && !m_data.counters.empty()) m_changed = true;  // counted before it began
    m_collecting = collecting;
    if (m_file != settings.profileFile) m_changed = true;  // a new file gets the counters at once
    m_file = settings.profileFile;
    m_data.pid = static_cast<int32_t>(::getpid());
    return collecting;
  }

  bool write(bool now, std::string& report, int* written) {
    std::lock_guard<std::mutex> guard(m_mutex);
    const Clock::time_point time = Clock::now();
    if (!m_collecting || !m_changed || (!now && time - m_written < std::chrono::seconds(1))) return true;
    m_written = time;
    int error = 0;
    const bool ok = writeCounterFile(m_file, m_data, error);
    if (written != nullptr) *written = ok ? 0 : error;
    if (ok) {
      m_changed = false;
      m_reported.clear();
      return true;
    }
    std::string problem = "The profile file " + m_file + " cannot be written: " + std::strerror(error);
    if (problem != m_reported) report = m_reported = std::move(problem);
    return false;
  }

  void lock() { m_mutex.lock(); }
  void unlock() { m_mutex.unlock(); }
  // Without the lock: the caller is the only thread of a new process.
  void startAfresh() {
    new (&m_mutex) std::mutex;
    m_data = ProcessCounters{0, {}};
    m_index.clear();
    m_collecting = false;
    m_changed = false;
    m_file.clear();
    m_reported.clear();
    m_written = Clock::time_point();
  }

 private:
  std::mutex m_mutex;
  ProcessCounters m_data{0, {}};
  std::unordered_map<std::string, size_t> m_index;
  bool m_collecting = false;
  bool m_changed = false;
  std::string m_file;
  std::string m_reported;  // the failure last told
  Clock::time_point m_written;
};

Counters& counters() {
  static Counters* const instance = new Counters;
  return *instance;
}

}  // namespace

void addToCounter(const char* name, long long amount) { counters().add(name, amount); }

bool followCounterSettings(const Settings& settings) { return counters().follow(settings); }

bool writeCountersIfDue(bool now, std::string& report, int* written) { return counters().write(now, report, written); }

void lockCountersForFork() { counters().lock(); }
void unlockCountersAfterFork() { counters().unlock(); }
void startCountersAfresh() { counters().startAfresh(); }

}  // namespace NEBRIX::Client
