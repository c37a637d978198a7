/* A tracepoint provider of one event, for comparing the cost of LTTng-UST's
 * enabled check with nbx_trace_enabled. client_bench_tp.c creates the probes;
 * client_bench.cc only asks whether the event is enabled. */
#undef LTTNG_UST_TRACEPOINT_PROVIDER
#define LTTNG_UST_TRACEPOINT_PROVIDER nebrix_bench

#undef LTTNG_UST_TRACEPOINT_INCLUDE
#define LTTNG_UST_TRACEPOINT_INCLUDE "client_bench_tp.h"

#if !defined(NEBRIX_CLIENT_BENCH_TP_H) || defined(LTTNG_UST_TRACEPOINT_HEADER_MULTI_READ)
#define NEBRIX_CLIENT_BENCH_TP_H

#include <lttng/tracepoint.h>

LTTNG_UST_TRACEPOINT_EVENT(nebrix_bench, sql,
                           LTTNG_UST_TP_ARGS(int, thread, long, query),
                           LTTNG_UST_TP_FIELDS(lttng_ust_field_integer(int, thread, thread)
                                                   lttng_ust_field_integer(long, query, query)))

#endif

#include <lttng/tracepoint-event.h>
