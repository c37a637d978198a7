// The library's state in a process: the attached shared-memory file, the
// settings in force and the trace file.
//
// The hot path, enabled(), is three loads and a compare (the header's inline
// check does the same in the caller): the address of the mapped update
// counter, the counter, and one packed word holding the count the published settings were
// read for (high half), a valid bit and the category bits (low half). While
// they agree the bits answer. When they differ one thread re-reads the
// settings (try_lock; the others answer from the settings still published),
// acknowledges the count and publishes a new Settings object and word.
//
// Settings live in slots that are reused, so that memory stays flat over any
// number of changes. A thread that uses the settings pins their slot (a
// reader count, no lock): a slot is refilled only when it is not the one in
// force and no thread holds it, and a thread that pinned a slot just as it
// was replaced sees that and pins the one in force instead.
//
// Before anything is attached, and after attaching failed, the counter is a
// private word of the state's own: before, the packed word is not valid and
// every call takes the slow path; after a failure it is valid with no bits,
// and tracing stays off for good.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "client/settings.h"
#include "client/status_publisher.h"
#include "client/trace_writer.h"
#include "nebrix/trace.h"
#include "trace/trace_shared_memory.h"

namespace NEBRIX::Client {

// The start of a line: the time stamp and the writer's ids, made without
// taking memory, as it goes before every record.
struct LinePrefix {
  char text[96];
  std::size_t length = 0;
  std::string_view view() const { return {text, length}; }
};

struct SettingsSlot {
  std::atomic<std::int32_t> readers{0};
  std::unique_ptr<Settings> settings;
};

// Settings pinned for as long as the object lives.
class PinnedSettings {
 public:
  explicit PinnedSettings(SettingsSlot* slot) : m_slot(slot) {}
  PinnedSettings(const PinnedSettings&) = delete;
  PinnedSettings& operator=(const PinnedSettings&) = delete;
  ~PinnedSettings() { m_slot->readers.fetch_sub(1, std::memory_order_release); }
  const Settings& operator*() const { return *m_slot->settings; }
  const Settings* operator->() const { return m_slot->settings.get(); }
  const SettingsSlot* slot() const { return m_slot; }

 private:
  SettingsSlot* m_slot;
};

class ClientState {
 public:
  explicit ClientState(std::string component);
  ~ClientState();

  // The hot path: true with the answer in `on` while nothing changed.
  bool answers(int category, bool& on) const {
    const std::int32_t count = __atomic_load_n(loadCounter(), __ATOMIC_ACQUIRE);
    const std::uint64_t word = loadWord();
    if ((word & kValid) == 0 || static_cast<std::uint32_t>(word >> kCountShift) != static_cast<std::uint32_t>(count)) {
      return false;
    }
    on = ((word >> category) & 1u) != 0;
    return true;
  }
  bool enabled(int category) {
    bool on = false;
    return answers(category, on) ? on : refreshAndTest(category);
  }

  // Attaches now if not yet; false when tracing is off for good.
  bool attach();
  // The settings in force (after looking for a change).
  PinnedSettings current();
  const std::string& component() const { return m_component; }
  // Counts a report of error `code`; at the count the settings ask for,
  // writes a last record and turns tracing off until the next change.
  void reportError(int code);
  // Writes `record` (a time stamp is put before it when asked for, and a
  // newline after it when it has none).
  bool write(const Settings& settings, std::string_view record);
  // A write of the counter file: `error` 0 when it succeeded.
  void counterFileWritten(int error) { m_status.counterFileWritten(error); }
  // At the end of the process: ends the compressed trace file's member and
  // takes back what the process published, without waiting for a thread
  // that is busy with either.
  void finishAtExit() {
    m_writer.finishIfIdle();
    m_status.withdraw(false);
  }

  // In the child of a fork that left this state behind: the one left
  // behind before it.
  ClientState* leftBefore = nullptr;

  static constexpr std::uint64_t kValid = NBX_FAST_STATE_VALID_;
  static constexpr int kCountShift = NBX_FAST_STATE_COUNT_SHIFT_;
  // Back to the state before any attach: every check takes the slow path.
  static void forget();

 private:
  // What a refresh leaves to be done once the lock is released, so that the
  // caller's callbacks may call into the library again.
  struct Outcome {
    bool changed = false;
    bool collecting = false;
    std::string diagnostic;
  };
  bool refreshAndTest(int category);
  void refreshLocked(Outcome& outcome);
  void attachLocked(Outcome& outcome);
  bool mappedFileWhole();
  void tell(const Outcome& outcome);
  int writeChangeLine(const Settings* old, const Settings& settings);
  LinePrefix linePrefix(const Settings& settings) const;
  // The file `settings` send records to, and the header a file new to the process begins with.
  static TraceTarget traceTarget(const Settings& settings, long pid);
  void publish(std::unique_ptr<Settings> settings, std::uint32_t bits);
  SettingsSlot* freeSlot();

  // The hot path's two words live in nbx_trace_fast_state_, which the
  // header's inline check reads as well.
  static const std::int32_t* loadCounter() {
    return __atomic_load_n(&nbx_trace_fast_state_.counter, __ATOMIC_ACQUIRE);
  }
  static void storeCounter(const std::int32_t* counter) {
    __atomic_store_n(&nbx_trace_fast_state_.counter, counter, __ATOMIC_RELEASE);
  }
  // The counter of a process that follows no file: it never moves.
  static const std::int32_t* neverMoves();
  static std::uint64_t loadWord() { return __atomic_load_n(&nbx_trace_fast_state_.word, __ATOMIC_ACQUIRE); }
  static void storeWord(std::uint64_t word) { __atomic_store_n(&nbx_trace_fast_state_.word, word, __ATOMIC_RELEASE); }

  const std::string m_component;
  const long m_pid;
  std::atomic<SettingsSlot*> m_current{nullptr};
  std::vector<std::unique_ptr<SettingsSlot>> m_slots;  // under m_refreshMutex; never shrinks
  std::mutex m_refreshMutex;
  bool m_attached = false;
  bool m_failed = false;
  bool m_reportedConfiguration = false;
  std::atomic<bool> m_reportedWrite{false};
  TraceSharedMemory m_memory;
  TraceWriter m_writer;
  StatusPublisher m_status;
};

}  // namespace NEBRIX::Client
