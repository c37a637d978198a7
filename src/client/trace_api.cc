// The C API of the library: every exported function catches whatever the
// layers below throw, so that nothing crosses into the caller's program.
#include <pthread.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "client/callbacks.h"
#include "client/client_state.h"
#include "client/own_process.h"
#include "client/packet_dump.h"
#include "client/counters.h"
#include "nebrix/trace.h"
#include "profile/configuration.h"
#include "profile/user_profile.h"
#include "trace/trace_categories.h"

#define NBX_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using NEBRIX::Client::ClientState;

std::mutex g_openMutex;
std::atomic<ClientState*> g_state{nullptr};

// A child of fork is a new process: it drops its parent's state (other
// threads of the parent may have held its locks, so it is left, not
// destroyed) and attaches afresh on its first call. With fork(3) the
// library's locks are held across the fork, in one order, so that the child
// finds them free; a child made without the handlers (_Fork) may find them
// held by threads that it does not have, so they are made anew.
//
// The states left behind stay reachable from g_leftBehind, each pointing to
// the one left before it, so that a leak checker sees them kept, not lost.
ClientState* g_leftBehind = nullptr;

void startAfresh() {
  new (&g_openMutex) std::mutex;
  NEBRIX::Client::renewCallbackLocks();
  if (ClientState* parents = g_state.exchange(nullptr, std::memory_order_acq_rel)) {
    parents->leftBefore = g_leftBehind;
    g_leftBehind = parents;
  }
  ClientState::forget();
  NEBRIX::Client::startCountersAfresh();
}

void beforeFork() {
  g_openMutex.lock();
  NEBRIX::Client::lockCountersForFork();
  NEBRIX::Client::lockCallbacksForFork();
}
void afterForkInParent() {
  NEBRIX::Client::unlockCallbacksAfterFork();
  NEBRIX::Client::unlockCountersAfterFork();
  g_openMutex.unlock();
}
void afterForkInChild() {
  afterForkInParent();
  NEBRIX::Client::becomeOwnProcess(startAfresh);
}

// Every call but the hot path's check comes here first: in a new process,
// the parent's state is dropped before anything of it is used.
inline void enter() {
  if (__builtin_expect(!NEBRIX::Client::isOwnProcess(), 0)) {
    static const bool handlers = pthread_atfork(beforeFork, afterForkInParent, afterForkInChild) == 0;
    (void)handlers;
    NEBRIX::Client::becomeOwnProcess(startAfresh);
  }
}

// At the end of the process (or when the library is unloaded) the counters
// are written a last time and the member of a compressed trace file gets its
// end, so that gzip readers find the file whole. Nothing that a call may
// touch is destroyed: other threads may still be running. The writer is
// touched only when no thread is in it or in nbx_trace_close: a file left
// without its end still reads back, with a complaint about the missing
// trailer. A destructor of the library rather than atexit, which could run
// after an unloaded library's code is gone. A child that never called has
// nothing of its own to finish.
struct FinishAtExit {
  ~FinishAtExit() {
    if (!NEBRIX::Client::isOwnProcess()) return;
    std::string report;
    NEBRIX::Client::writeCountersIfDue(true, report);
    std::unique_lock<std::mutex> lock(g_openMutex, std::try_to_lock);
    ClientState* current = g_state.load(std::memory_order_acquire);
    if (lock.owns_lock() && current != nullptr) current->finishAtExit();
  }
} g_finishAtExit;

// Under g_openMutex.
ClientState* createState(const char* component) {
  auto* state = new ClientState(component != nullptr ? component : NEBRIX::Configuration::NEBRIX_COMPONENT);
  g_state.store(state, std::memory_order_release);
  return state;
}

// The first call of a process creates the state; kept out of line so that
// the load every later call makes is inlined into nbx_trace_enabled.
__attribute__((noinline, cold)) ClientState* firstState() {
  std::lock_guard<std::mutex> guard(g_openMutex);
  ClientState* current = g_state.load(std::memory_order_acquire);
  return current != nullptr ? current : createState(nullptr);
}

inline ClientState* state() {
  ClientState* current = g_state.load(std::memory_order_acquire);
  return __builtin_expect(current != nullptr, 1) ? current : firstState();
}

// The state for a call that is not the hot path's check.
ClientState* enteredState() {
  enter();
  return state();
}

// The header's categories are the table's, value for value.
#define NEBRIX_CHECK_CATEGORY(word, ...)                                            \
  static_assert(NBX_TRACE_##word == static_cast<int>(NEBRIX::TraceCategory::word), \
                "nbx_category and trace_categories.h differ in NBX_TRACE_" #word);
NEBRIX_TRACE_CATEGORIES(NEBRIX_CHECK_CATEGORY)
#undef NEBRIX_CHECK_CATEGORY
static_assert(NBX_TRACE_LAST_CATEGORY + 1 == NEBRIX::kTraceCategoryCount,
              "nbx_category and trace_categories.h differ in their number of categories");

bool validCategory(int category) { return category >= 0 && category <= NBX_TRACE_LAST_CATEGORY; }

int failure(const char* call) {
  NEBRIX::Client::diagnose(std::string("Unexpected failure in ") + call);
  return NBX_ERROR_INTERNAL;
}

// A text that does not fit leaves its field empty: a path cut short would
// name another file.
bool copyWhole(char* target, std::size_t size, const std::string& text) {
  if (text.size() >= size) return false;
  std::memcpy(target, text.c_str(), text.size() + 1);
  return true;
}

}  // namespace

NBX_EXPORT int nbx_trace_open(const char* component) {
  // A name, never a path: a refused component makes no file and no state.
  if (component != nullptr && !SecureStore::UserProfile::component_is_valid(component)) return NBX_ERROR_ARGUMENT;
  try {
    enter();
    ClientState* opened = nullptr;
    {
      std::lock_guard<std::mutex> guard(g_openMutex);
      opened = g_state.load(std::memory_order_acquire);
      if (opened == nullptr) opened = createState(component);
    }
    return opened->attach() ? NBX_OK : NBX_ERROR_UNAVAILABLE;
  } catch (const std::bad_alloc&) {
    return NBX_ERROR_MEMORY;
  } catch (...) {
    return failure("nbx_trace_open");
  }
}

NBX_EXPORT void nbx_trace_close(void) {
  try {
    enter();
    std::string report;
    {
      std::lock_guard<std::mutex> guard(g_openMutex);
      int written = -1;
      NEBRIX::Client::writeCountersIfDue(true, report, &written);
      ClientState* closing = g_state.exchange(nullptr, std::memory_order_acq_rel);
      if (closing != nullptr && written >= 0) closing->counterFileWritten(written);
      delete closing;
    }
    if (!report.empty()) NEBRIX::Client::diagnose(report);
  } catch (...) {
    failure("nbx_trace_close");
  }
}

NBX_EXPORT int(nbx_trace_enabled)(int category) {  // the name in parentheses: not the inline check
  if (!validCategory(category)) return 0;
  bool on = false;
  ClientState* current = g_state.load(std::memory_order_acquire);
  if (__builtin_expect(current != nullptr && current->answers(category, on), 1)) return on ? 1 : 0;
  try {
    return enteredState()->enabled(category) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

NBX_EXPORT int nbx_trace_get_settings(struct nbx_trace_settings* settings) {
  // The caller's size says how much of the struct it has: an older program
  // knows fewer fields, a newer one more, of which this library fills none.
  if (settings == nullptr || settings->size < sizeof settings->size) return NBX_ERROR_ARGUMENT;
  const std::size_t callerSize = settings->size;
  try {
    const NEBRIX::Client::PinnedSettings pinned = enteredState()->current();
    const NEBRIX::Client::Settings& current = *pinned;
    const NEBRIX::TraceFlags& flags = current.flags;
    struct nbx_trace_settings filled;
    std::memset(&filled, 0, sizeof filled);
    filled.categories = flags.m_categories;
    filled.packet_size_limit = flags.m_packetsize;
    filled.file_size_limit = flags.m_filesize;
    filled.time_stamp = flags.m_timestamp;
    filled.stop_on_error = flags.m_stop_on_error;
    filled.error_code = flags.m_errorcode;
    filled.error_count = flags.m_errorcount;
    filled.compressed = flags.m_compressed;
    filled.profile_action = flags.m_counterAction;
    filled.own_settings = current.own;
    bool fits = copyWhole(filled.flags, sizeof filled.flags, current.text);
    fits = copyWhole(filled.trace_file, sizeof filled.trace_file, current.traceFile) && fits;
    fits = copyWhole(filled.profile_file, sizeof filled.profile_file, current.profileFile) && fits;
    filled.size = callerSize;
    const std::size_t known = std::min(callerSize, sizeof filled);
    std::memcpy(settings, &filled, known);
    std::memset(reinterpret_cast<char*>(settings) + known, 0, callerSize - known);
    return fits ? NBX_OK : NBX_ERROR_TOO_LONG;
  } catch (const std::bad_alloc&) {
    return NBX_ERROR_MEMORY;
  } catch (...) {
    return failure("nbx_trace_get_settings");
  }
}

NBX_EXPORT int nbx_trace_update_count(void) {
  try {
    return enteredState()->current()->count;
  } catch (...) {
    return 0;
  }
}

NBX_EXPORT int nbx_trace_on_change(void (*callback)(void* context), void* context) {
  try {
    enter();
    NEBRIX::Client::setChangeCallback(callback, context);
    return NBX_OK;
  } catch (...) {
    return failure("nbx_trace_on_change");
  }
}

NBX_EXPORT int nbx_trace_vprintf(int category, const char* format, va_list arguments) {
  if (!validCategory(category) || format == nullptr) return NBX_ERROR_ARGUMENT;
  try {
    ClientState* current = enteredState();
    if (!current->enabled(category)) return NBX_OK;
    const NEBRIX::Client::PinnedSettings pinned = current->current();
    const NEBRIX::Client::Settings& settings = *pinned;
    // A record that fits goes out from the stack, with room kept for the
    // newline it may lack; only a longer one takes memory.
    char small[512];
    va_list copy;
    va_copy(copy, arguments);
    const int length = std::vsnprintf(small, sizeof small - 1, format, copy);
    va_end(copy);
    if (length < 0) return NBX_ERROR_ARGUMENT;
    std::size_t size = static_cast<std::size_t>(length);
    if (size < sizeof small - 1) {
      if (size == 0 || small[size - 1] != '\n') small[size++] = '\n';
      return current->write(settings, std::string_view(small, size)) ? NBX_OK : NBX_ERROR_WRITE;
    }
    std::string record(size + 1, '\0');
    std::vsnprintf(&record[0], record.size(), format, arguments);
    record.resize(size);
    return current->write(settings, record) ? NBX_OK : NBX_ERROR_WRITE;
  } catch (const std::bad_alloc&) {
    return NBX_ERROR_MEMORY;
  } catch (...) {
    return failure("nbx_trace_vprintf");
  }
}

NBX_EXPORT int nbx_trace_printf(int category, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const int result = nbx_trace_vprintf(category, format, arguments);
  va_end(arguments);
  return result;
}

NBX_EXPORT int nbx_trace_packet(const void* data, size_t size) {
  if (data == nullptr && size > 0) return NBX_ERROR_ARGUMENT;
  try {
    ClientState* current = enteredState();
    if (!current->enabled(NBX_TRACE_PACKET)) return NBX_OK;
    const NEBRIX::Client::PinnedSettings pinned = current->current();
    const NEBRIX::Client::Settings& settings = *pinned;
    const std::string record =
        NEBRIX::Client::dumpPacket(static_cast<const unsigned char*>(data), size,
                                   static_cast<std::size_t>(settings.flags.m_packetsize));
    return current->write(settings, record) ? NBX_OK : NBX_ERROR_WRITE;
  } catch (const std::bad_alloc&) {
    return NBX_ERROR_MEMORY;
  } catch (...) {
    return failure("nbx_trace_packet");
  }
}

NBX_EXPORT int nbx_trace_error(int code) {
  try {
    enteredState()->reportError(code);
    return NBX_OK;
  } catch (const std::bad_alloc&) {
    return NBX_ERROR_MEMORY;
  } catch (...) {
    return failure("nbx_trace_error");
  }
}

NBX_EXPORT int nbx_profile_add(const char* name, long long amount) {
  if (name == nullptr) return NBX_ERROR_ARGUMENT;
  try {
    ClientState* current = enteredState();
    current->enabled(0);  // a reset that came with a change applies first
    NEBRIX::Client::addToCounter(name, amount);
    std::string report;
    int written = -1;
    const bool ok = NEBRIX::Client::writeCountersIfDue(false, report, &written);
    if (written >= 0) current->counterFileWritten(written);
    if (ok) return NBX_OK;
    if (!report.empty()) NEBRIX::Client::diagnose(report);
    return NBX_ERROR_WRITE;
  } catch (const std::bad_alloc&) {
    return NBX_ERROR_MEMORY;
  } catch (...) {
    return failure("nbx_profile_add");
  }
}

NBX_EXPORT void nbx_trace_set_diagnostic(void (*callback)(const char* text, void* context), void* context) {
  try {
    enter();
    NEBRIX::Client::setDiagnostic(callback, context);
  } catch (...) {
  }
}

NBX_EXPORT const char* nbx_version(void) { return NEBRIX_PROJECT_VERSION; }

static_assert(NBX_VERSION_NUMBER == NEBRIX_VERSION_NUMBER, "the header's version is not the project's");

NBX_EXPORT int nbx_version_number(void) { return NEBRIX_VERSION_NUMBER; }

NBX_EXPORT const char* nbx_strerror(int code) {
  switch (code) {
    case NBX_OK: return "success";
    case NBX_ERROR_ARGUMENT: return "a null pointer or a value out of range";
    case NBX_ERROR_UNAVAILABLE: return "the trace settings cannot be read: tracing is off";
    case NBX_ERROR_WRITE: return "the trace file could not be opened or written";
    case NBX_ERROR_MEMORY: return "out of memory";
    case NBX_ERROR_INTERNAL: return "an internal error of the trace library";
    case NBX_ERROR_TOO_LONG: return "a text does not fit its field";
    default: return "unknown result";
  }
}
