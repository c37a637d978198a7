// The stop on error: after the settings' count of reports of the error they
// name, a last record says so and tracing stops until the settings change.
#include "client/client_state.h"

namespace NEBRIX::Client {

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
