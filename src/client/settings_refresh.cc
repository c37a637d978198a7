// Following the settings: attaching to the shared-memory file, re-reading
// the settings when its update count moves, and publishing them to the hot
// path; then, with no lock held, telling the program what the refresh found.
#include "client/client_state.h"

#include <sys/stat.h>

#include <cstring>

#include "base/exception.h"
#include "client/callbacks.h"
#include "client/counters.h"

namespace NEBRIX::Client {

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
    storeCounter(neverMoves());
    storeWord(kValid | (static_cast<std::uint64_t>(static_cast<std::uint32_t>(*neverMoves())) << kCountShift));
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
  outcome.collecting = followCounterSettings(*settings);
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

void ClientState::tell(const Outcome& outcome) {
  if (!outcome.diagnostic.empty()) diagnose(outcome.diagnostic);
  // A change that asks for the counters shows them at once, not only with
  // the program's next count.
  std::string report;
  int error = -1;
  if (outcome.collecting && !writeCountersIfDue(true, report, &error) && !report.empty()) diagnose(report);
  if (error >= 0) counterFileWritten(error);
  if (!outcome.changed) return;
  tellChange();
}

void ClientState::publish(std::unique_ptr<Settings> settings, std::uint32_t bits) {
  const std::uint64_t word =
      kValid | bits | (static_cast<std::uint64_t>(static_cast<std::uint32_t>(settings->count)) << kCountShift);
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

}  // namespace NEBRIX::Client
