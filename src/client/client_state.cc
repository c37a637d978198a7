// The library's state in a process: the words of the hot path, which the
// header's inline check reads too, and the state's life from open to close.
// Following the settings is in settings_refresh.cc, the lines written to
// the trace file in trace_lines.cc, the stop on error in stop_on_error.cc.
#include "client/client_state.h"

#include <unistd.h>

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

const std::int32_t* ClientState::neverMoves() { return &kNeverMoves; }

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

}  // namespace NEBRIX::Client
