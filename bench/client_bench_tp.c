/* The probes and the tracepoint definitions of client_bench_tp.h. */
#define LTTNG_UST_TRACEPOINT_CREATE_PROBES
#define LTTNG_UST_TRACEPOINT_DEFINE
#include "client_bench_tp.h"
