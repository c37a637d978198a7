/* The floor's work behind a call into a shared library, as a program calls
 * nbx_trace_enabled: what the call itself costs against the inline check. */
#include <stdatomic.h>
#include <stdint.h>

#define HIDDEN __attribute__((visibility("hidden")))

HIDDEN _Atomic uint32_t client_bench_shared_count = 42;
HIDDEN _Atomic uint64_t client_bench_cached_word = ((uint64_t)42 << 32) | (1u << 4);

__attribute__((visibility("default"))) int client_bench_call_floor(int category) {
  if (category < 0 || category > 5) return 0;
  const uint32_t count = atomic_load_explicit(&client_bench_shared_count, memory_order_relaxed);
  const uint64_t cached = atomic_load_explicit(&client_bench_cached_word, memory_order_relaxed);
  return count == (uint32_t)(cached >> 32) && ((cached >> category) & 1u) != 0;
}
