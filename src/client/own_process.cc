#include "client/own_process.h"

#include <sched.h>
#include <sys/syscall.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <new>

namespace NEBRIX::Client {
namespace {

// The process the state belongs to: its id shifted left, with the low bit
// set once it has started. 0: no process has called yet.
std::atomic<std::uint64_t> g_owner{0};
// One byte of a page that the kernel fills with zeros in every child; 1 in
// the process that owns the state. Null until made, or where it cannot be.
std::atomic<std::atomic<std::uint8_t>*> g_marker{nullptr};

std::atomic<std::uint8_t>* makeMarker() {
  const long size = ::sysconf(_SC_PAGESIZE);
  void* page = ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                      -1, 0);
  if (page == MAP_FAILED) return nullptr;
  if (::madvise(page, static_cast<std::size_t>(size), MADV_WIPEONFORK) != 0) {
    ::munmap(page, static_cast<std::size_t>(size));
    return nullptr;
  }
  return new (page) std::atomic<std::uint8_t>(0);
}

// Moves on in every child that starts afresh: a thread's id kept from before
// is then taken anew.
std::atomic<unsigned> g_generation{0};
struct ThreadID {
  unsigned generation = ~0u;
  long id = 0;
};
thread_local ThreadID t_thread;

std::uint64_t started(std::uint64_t owner) { return owner | 1u; }

}  // namespace

bool isOwnProcess() {
  std::atomic<std::uint8_t>* marker = g_marker.load(std::memory_order_acquire);
  if (marker != nullptr) return marker->load(std::memory_order_acquire) != 0;
  return g_owner.load(std::memory_order_acquire) == started(static_cast<std::uint64_t>(::getpid()) << 1);
}

void becomeOwnProcess(void (*startAfresh)()) {
  const std::uint64_t me = static_cast<std::uint64_t>(::getpid()) << 1;
  std::uint64_t seen = g_owner.load(std::memory_order_acquire);
  for (;;) {
    if (seen == started(me)) return;
    if (seen == me) {  // another thread of this process is starting it
      ::sched_yield();
      seen = g_owner.load(std::memory_order_acquire);
    } else if (g_owner.compare_exchange_weak(seen, me, std::memory_order_acq_rel, std::memory_order_acquire)) {
      break;
    }
  }
  if (seen != 0) {
    g_generation.fetch_add(1, std::memory_order_relaxed);
    startAfresh();
  }
  std::atomic<std::uint8_t>* marker = g_marker.load(std::memory_order_acquire);
  if (marker == nullptr) {
    marker = makeMarker();
    g_marker.store(marker, std::memory_order_release);
  }
  if (marker != nullptr) marker->store(1, std::memory_order_release);
  g_owner.store(started(me), std::memory_order_release);
}

long ownThreadID() {
  const unsigned generation = g_generation.load(std::memory_order_relaxed);
  if (t_thread.generation != generation) {
    t_thread.id = ::syscall(SYS_gettid);
    t_thread.generation = generation;
  }
  return t_thread.id;
}

std::string programName() {
  std::string name = program_invocation_short_name;
  for (char& c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
  return name;
}

}  // namespace NEBRIX::Client
