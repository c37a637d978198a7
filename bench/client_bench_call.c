/* The floor's work behind a call into a shared library, as a program calls
 * nbx_trace_enabled: what the call itself costs against the inline check. */
#include <stdatomic.h>
#include <stdint.h>

#define HIDDEN __attribute__((visibility("hidden")))

HIDDEN _Atomic uint32_t client_bench_shared_count = 42;
HIDDEN uint32_t client_bench_cached_count = 42;
HIDDEN uint32_t client_bench_cached_bits = 1u << 4;

__attribute__((visibility("default"))) int client_bench_call_floor(int category) {
  if (category < 0 || category > 5) return 0;
  const uint32_t count = atomic_load_explicit(&client_bench_shared_count, memory_order_relaxed);
  return count == client_bench_cached_count && ((client_bench_cached_bits >> category) & 1u) != 0;
}
