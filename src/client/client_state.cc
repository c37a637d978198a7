#include "client/client_state.h"

#include "client/profile_counters.h"

#include <unistd.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "base/exception.h"
#include "base/time_stamp.h"
#include "client/own_process.h"
#include "profile/configuration.h"

namespace {
// The counter of a process that follows no file: it never moves.
const std::int32_t kNeverMoves = 0;
}  // namespace

// Before anything is attached every check takes the slow path, which
// attaches.
extern "C" {
__attribute__((visibility("default"))) struct nbx_trace_fast_state_ nbx_trace_fast_state_ = {&kNeverMoves, 0};
}

namespace NEBRIX::Client {
namespace {

std::mutex g_diagnosticMutex;
DiagnosticCallback g_diagnostic = nullptr;
void* g_diagnosticContext = nullptr;
std::mutex g_callbackMutex;
ChangeCallback g_changeCallback = nullptr;
void* g_changeContext = nullptr;

// The settings as a line says them.
std::string settingsText(const Settings& settings) {
  return "update count " + std::to_string(settings.count) + ", settings " +
         (settings.text.empty() ? std::string("(none)") : settings.text);
}

TraceTarget traceTarget(const Settings& settings, long pid) {
  TraceTarget target;
  target.header = "=== " + programName() + ", process " + std::to_string(pid) +
                  ", library " + NEBRIX_PROJECT_VERSION + ", " + settingsText(settings);
  target.path = settings.traceFile;
  target.limit = settings.flags.m_filesize;
  if (settings.flags.m_compressed) {
    target.encoding = settings.ownFile ? Encoding::kGzipStream : Encoding::kGzipMembers;
  }
  return target;
}

}  // namespace

void lockCallbacksForFork() {
  g_diagnosticMutex.lock();
  g_callbackMutex.lock();
}

void unlockCallbacksAfterFork() {
  g_callbackMutex.unlock();
  g_diagnosticMutex.unlock();
}

// A thread of the parent may have held them at the fork; none of the
// parent's threads lives on in the child.
void renewCallbackLocks() {
  new (&g_diagnosticMutex) std::mutex;
  new (&g_callbackMutex) std::mutex;
}

void setDiagnostic(DiagnosticCallback callback, void* context) {
  std::lock_guard<std::mutex> guard(g_diagnosticMutex);
  g_diagnostic = callback;
  g_diagnosticContext = context;
}

// The callback is copied out and called without the lock, so that it may
// call into the library itself.
void diagnose(const std::string& text) {
  DiagnosticCallback callback;
  void* context;
  {
    std::lock_guard<std::mutex> guard(g_diagnosticMutex);
    callback = g_diagnostic;
    context = g_diagnosticContext;
  }
  if (callback != nullptr) callback(text.c_str(), context);
}

ClientState::ClientState(std::string component) : m_component(std::move(component)), m_pid(::getpid()) {
  m_slots.push_back(std::make_unique<SettingsSlot>());
  m_slots.back()->settings = std::make_unique<Settings>();
  m_current.store(m_slots.back().get(), std::memory_order_seq_cst);
}

ClientState::~ClientState() {
  forget();
  m_status.withdraw(true);
  m_memory.detach();
}

void ClientState::forget() {
  storeWord(0);
  storeCounter(&kNeverMoves);
}

bool ClientState::attach() {
  Outcome outcome;
  bool attached;
  {
    std::lock_guard<std::mutex> guard(m_refreshMutex);
    if (!m_attached && !m_failed) refreshLocked(outcome);
    attached = !m_failed;
  }
  tell(outcome);
  return attached;
}

// Sequentially consistent, against freeSlot: either the refresher sees the
// reader count, or the reader sees that the slot is no longer in force.
PinnedSettings ClientState::current() {
  enabled(0);
  for (;;) {
    SettingsSlot* slot = m_current.load(std::memory_order_seq_cst);
    slot->readers.fetch_add(1, std::memory_order_seq_cst);
    if (m_current.load(std::memory_order_seq_cst) == slot) return PinnedSettings(slot);
    slot->readers.fetch_sub(1, std::memory_order_release);
  }
}

bool ClientState::refreshAndTest(int category) {
  // Before the first settings are in force there are no old ones to answer
  // from: the threads wait for them, so that nothing traced at start is lost.
  // Later only one thread reads, and the others go on with the old settings.
  std::unique_lock<std::mutex> lock(m_refreshMutex, std::defer_lock);
  if ((loadWord() & kValid) == 0) {
    lock.lock();
  } else {
    lock.try_lock();
  }
  if (lock.owns_lock()) {
    Outcome outcome;
    refreshLocked(outcome);
    lock.unlock();
    tell(outcome);
  }
  // The word another thread is still working on answers from the old
  // settings; after a stop on error it has no categories.
  return ((loadWord() >> category) & 1u) != 0;
}

void ClientState::attachLocked(Outcome& outcome) {
  try {
    m_memory.attach(m_component.c_str(), nullptr);
    m_attached = true;
    m_status.begin(m_memory.profileDirectory(), m_component, m_pid);
  } catch (const ltt::exception& ex) {
    m_failed = true;
    outcome.diagnostic = "Trace settings cannot be followed, tracing is off: " + ltt::expandedText(ex);
  } catch (...) {
    m_failed = true;
    outcome.diagnostic = "Trace settings cannot be followed, tracing is off";
  }
}

// Under m_refreshMutex.
void ClientState::refreshLocked(Outcome& outcome) {
  if (!m_attached && !m_failed) attachLocked(outcome);
  if (!m_failed && !mappedFileWhole()) {
    m_failed = true;
    outcome.diagnostic = "The trace shared-memory file was cut short while mapped; tracing is off";
  }
  if (m_failed) {
    // For good: a private counter that never moves, no categories, and
    // settings that say so to nbx_trace_settings.
    SettingsSlot* slot = freeSlot();
    slot->settings = std::make_unique<Settings>();
    m_current.store(slot, std::memory_order_seq_cst);
    storeCounter(&kNeverMoves);
    storeWord(kValid | (static_cast<std::uint64_t>(static_cast<std::uint32_t>(kNeverMoves)) << 32));
    return;
  }
  const Settings* old = m_current.load(std::memory_order_acquire)->settings.get();
  const std::int32_t count = m_memory.getUpdateCount();
  const bool first = (loadWord() & kValid) == 0;
  if (!first && old->count == count) return;

  auto settings = std::make_unique<Settings>();
  std::string problem;
  readSettings(m_memory, m_component.c_str(), count, *settings, problem);
  if (!problem.empty()) {
    if (!m_reportedConfiguration) outcome.diagnostic = problem;
    m_reportedConfiguration = true;
  }
  const std::uint32_t bits = settings->categoryBits();
  outcome.collecting = followProfileSettings(*settings);
  const Settings& taken = *settings;
  publish(std::move(settings), bits);
  // The trace file is tried at once, so that what the process publishes
  // says whether it can be written before the change is acknowledged: the
  // console reads it as soon as it sees the acknowledgement.
  const int error = writeChangeLine(first ? nullptr : old, taken);
  if (error != 0) {
    m_reportedWrite.store(true, std::memory_order_relaxed);
    outcome.diagnostic = "The trace file " + taken.traceFile + " cannot be written: " + std::strerror(error);
  }
  m_status.settingsTaken(taken, error);
  m_memory.updateMyReadCount(count);
  storeCounter(m_memory.updateCountWord());
  outcome.changed = !first;  // the settings found at the start are no change
}

// A file cut short under the mapping faults (SIGBUS) at every access past
// its new end, which a library without a signal handler cannot catch. Before
// the parts are read it is checked, and once it is short the process stops
// following it: the hot path then reads the private counter instead.
bool ClientState::mappedFileWhole() {
  struct stat status;
  return ::fstat(m_memory.mappedDescriptor(), &status) == 0 &&
         status.st_size >= static_cast<off_t>(TraceSharedMemory::getTotalSize());
}

// Under m_refreshMutex: a line in the trace file where tracing begins or
// changes (the header, in a file new to the process), when the new settings
// trace, or the old ones traced into the same file. 0, or the errno of a
// file that cannot be written.
int ClientState::writeChangeLine(const Settings* old, const Settings& settings) {
  const bool traced = old != nullptr && old->categoryBits() != 0 && old->traceFile == settings.traceFile;
  if (settings.categoryBits() == 0 && !traced) return 0;
  const std::string line = "=== change taken up: " + settingsText(settings) + "\n";
  const LinePrefix prefix = linePrefix(settings);
  return m_writer.write(prefix.view(), line, true) ? 0 : errno;
}

void ClientState::tell(const Outcome& outcome) {
  if (!outcome.diagnostic.empty()) diagnose(outcome.diagnostic);
  // A change that asks for the counters shows them at once, not only with
  // the program's next count.
  std::string report;
  int error = -1;
  if (outcome.collecting && !writeProfileIfDue(true, report, &error) && !report.empty()) diagnose(report);
  if (error >= 0) profileWritten(error);
  if (!outcome.changed) return;
  ChangeCallback callback;
  void* context;
  {
    std::lock_guard<std::mutex> guard(g_callbackMutex);
    callback = g_changeCallback;
    context = g_changeContext;
  }
  if (callback != nullptr) callback(context);
}

void ClientState::publish(std::unique_ptr<Settings> settings, std::uint32_t bits) {
  const std::uint64_t word =
      kValid | bits | (static_cast<std::uint64_t>(static_cast<std::uint32_t>(settings->count)) << 32);
  // New settings write to the file now under the name: one moved or removed
  // in the meantime is not written to any longer. Records of threads still
  // holding the old settings go there too, so that the file's form follows
  // the newest settings only.
  m_writer.reset(traceTarget(*settings, m_pid));
  SettingsSlot* slot = freeSlot();
  slot->settings = std::move(settings);
  m_current.store(slot, std::memory_order_seq_cst);
  storeWord(word);
  m_reportedWrite.store(false, std::memory_order_relaxed);
}

// Under m_refreshMutex: a slot not in force that no thread holds, or a new
// one; there are never more than the threads that hold settings at once.
SettingsSlot* ClientState::freeSlot() {
  const SettingsSlot* inForce = m_current.load(std::memory_order_seq_cst);
  for (const std::unique_ptr<SettingsSlot>& slot : m_slots) {
    if (slot.get() != inForce && slot->readers.load(std::memory_order_seq_cst) == 0) return slot.get();
  }
  m_slots.push_back(std::make_unique<SettingsSlot>());
  return m_slots.back().get();
}

void setChangeCallback(ChangeCallback callback, void* context) {
  std::lock_guard<std::mutex> guard(g_callbackMutex);
  g_changeCallback = callback;
  g_changeContext = context;
}

// What every line of this process starts with: the time stamp when asked
// for, and the thread's id, after the process's own in a file that other
// processes may write too.
LinePrefix ClientState::linePrefix(const Settings& settings) const {
  LinePrefix prefix;
  if (settings.flags.m_timestamp) {
    currentTimeStamp(prefix.text);
    prefix.text[kTimeStampLength] = ' ';
    prefix.length = kTimeStampLength + 1;
  }
  const int ids = settings.ownFile
                      ? std::snprintf(prefix.text + prefix.length, sizeof prefix.text - prefix.length, "[%ld] ",
                                      ownThreadID())
                      : std::snprintf(prefix.text + prefix.length, sizeof prefix.text - prefix.length, "[%ld:%ld] ",
                                      m_pid, ownThreadID());
  if (ids > 0) prefix.length += static_cast<std::size_t>(ids);
  return prefix;
}

bool ClientState::write(const Settings& settings, std::string record) {
  if (record.empty() || record.back() != '\n') record += '\n';
  const LinePrefix prefix = linePrefix(settings);
  if (m_writer.write(prefix.view(), record)) {
    m_status.traceWritten();
    return true;
  }
  const int error = errno;
  m_status.traceFailed(error);
  if (!m_reportedWrite.exchange(true)) {
    diagnose("The trace file " + settings.traceFile + " cannot be written: " + std::strerror(error));
  }
  errno = error;
  return false;
}

void ClientState::reportError(int code) {
  const PinnedSettings pinned = current();
  const Settings& settings = *pinned;
  if (!settings.flags.m_stop_on_error || settings.flags.m_errorcode != code) return;
  const std::int32_t needed = settings.flags.m_errorcount > 0 ? settings.flags.m_errorcount : 1;
  if (settings.errorsSeen.fetch_add(1) + 1 != needed) return;
  write(settings, "Trace stopped: error " + std::to_string(code) + " happened " + std::to_string(needed) +
                      (needed == 1 ? " time" : " times"));
  m_status.traceStopped(code);
  // Only the settings that asked for the stop lose their categories; a
  // change published meanwhile stands (its word differs in the count, so the
  // exchange fails). No lock: this may run inside a callback of a refresh.
  unsigned long long word = loadWord();  // the exported field's own type
  while (m_current.load(std::memory_order_acquire) == pinned.slot() &&
         !__atomic_compare_exchange_n(&nbx_trace_fast_state_.word, &word, word & ~0x7fffffffull, true,
                                      __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)) {
  }
}

}  // namespace NEBRIX::Client
