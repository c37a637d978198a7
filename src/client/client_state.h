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
// Superseded Settings stay alive until close, so a thread that still holds
// one reads it whole.
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
#include <vector>

#include "client/settings.h"
#include "client/trace_writer.h"
#include "nebrix/trace.h"
#include "trace/trace_shared_memory.h"

namespace NEBRIX::Client {

using ChangeCallback = void (*)(void* context);
using DiagnosticCallback = void (*)(const char* text, void* context);

class ClientState {
 public:
  explicit ClientState(std::string component);
  ~ClientState();

  bool enabled(int category) {
    const std::int32_t count = __atomic_load_n(loadCounter(), __ATOMIC_ACQUIRE);
    const std::uint64_t word = loadWord();
    if ((word & kValid) != 0 && static_cast<std::uint32_t>(word >> 32) == static_cast<std::uint32_t>(count)) {
      return ((word >> category) & 1u) != 0;
    }
    return refreshAndTest(category);
  }

  // Attaches now if not yet; false when tracing is off for good.
  bool attach();
  // The settings in force (after looking for a change).
  const Settings& current();
  const std::string& component() const { return m_component; }
  // Counts a report of error `code`; at the count the settings ask for,
  // writes a last record and turns tracing off until the next change.
  void reportError(int code);
  // Writes `record` (a time stamp is put before it when asked for).
  bool write(const Settings& settings, std::string record);
  // Ends the compressed trace file's member at the end of the process.
  void finishAtExit() { m_writer.finishIfIdle(); }

  static constexpr std::uint64_t kValid = 1u << 31;
  // Back to the state before any attach: every check takes the slow path.
  static void forget();

 private:
  // What a refresh leaves to be told once the lock is released, so that the
  // caller's callbacks may call into the library again.
  struct Outcome {
    bool changed = false;
    std::string diagnostic;
  };
  bool refreshAndTest(int category);
  void refreshLocked(Outcome& outcome);
  void attachLocked(Outcome& outcome);
  bool mappedFileWhole();
  static void tell(const Outcome& outcome);
  void publish(std::unique_ptr<Settings> settings, std::uint32_t bits);

  // The hot path's two words live in nbx_trace_fast_state_, which the
  // header's inline check reads as well.
  static const std::int32_t* loadCounter() {
    return __atomic_load_n(&nbx_trace_fast_state_.counter, __ATOMIC_ACQUIRE);
  }
  static void storeCounter(const std::int32_t* counter) {
    __atomic_store_n(&nbx_trace_fast_state_.counter, counter, __ATOMIC_RELEASE);
  }
  static std::uint64_t loadWord() { return __atomic_load_n(&nbx_trace_fast_state_.word, __ATOMIC_ACQUIRE); }
  static void storeWord(std::uint64_t word) { __atomic_store_n(&nbx_trace_fast_state_.word, word, __ATOMIC_RELEASE); }

  const std::string m_component;
  std::atomic<const Settings*> m_settings;
  std::vector<std::unique_ptr<Settings>> m_kept;
  std::mutex m_refreshMutex;
  bool m_attached = false;
  bool m_failed = false;
  bool m_reportedConfiguration = false;
  std::atomic<bool> m_reportedWrite{false};
  TraceSharedMemory m_memory;
  TraceWriter m_writer;
};

// Sends `text` to the diagnostic callback, if one is set.
void diagnose(const std::string& text);
void setDiagnostic(DiagnosticCallback callback, void* context);
// The function called after each change of the settings; it outlives the
// state, so that it may be set before the first call and kept over close.
void setChangeCallback(ChangeCallback callback, void* context);

}  // namespace NEBRIX::Client
