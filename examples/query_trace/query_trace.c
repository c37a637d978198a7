/* query_trace: a program that follows nebrix_cons. Several threads run
 * "queries" and trace each one when SQL trace is on; switch it with
 *
 *   nebrix_cons -w 10 TRACE SQL ON
 *   nebrix_cons TRACE SQL OFF
 *
 * and watch the trace file (SHOW CONFIG names it; %p is this process's id).
 *
 *   query_trace [seconds [threads]]      default: 60 seconds, 4 threads
 *
 * It uses nothing but the installed library and its header. */
#define _POSIX_C_SOURCE 200809L
#include <nebrix/trace.h>

#include <pthread.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

static atomic_int g_running = 1;

static void report(const char* text, void* context) {
  (void)context;
  fprintf(stderr, "query_trace: %s\n", text);
}

static void* run_queries(void* argument) {
  const int thread = (int)(size_t)argument;
  const struct timespec pause = {0, 1000000}; /* a query takes a millisecond */
  long query = 0;
  while (g_running) {
    ++query;
    if (nbx_trace_enabled(NBX_TRACE_SQL)) {
      nbx_trace_printf(NBX_TRACE_SQL, "thread %d query %ld: SELECT name FROM customers WHERE id = %ld\n", thread,
                       query, query % 1000);
    }
    nanosleep(&pause, NULL);
  }
  return NULL;
}

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? atoi(argv[1]) : 60;
  const int threads = argc > 2 ? atoi(argv[2]) : 4;
  pthread_t workers[64];
  int started = 0;
  if (seconds < 1 || threads < 1 || threads > 64) {
    fprintf(stderr, "usage: query_trace [seconds [threads (1-64)]]\n");
    return 2;
  }
  nbx_trace_set_diagnostic(report, NULL);
  if (nbx_trace_open(NULL) != NBX_OK) fprintf(stderr, "query_trace: tracing is off\n");
  printf("query_trace %ld running with %d threads (nebrix_trace %s)\n", (long)getpid(), threads, nbx_version());
  fflush(stdout);
  for (; started < threads; ++started) {
    if (pthread_create(&workers[started], NULL, run_queries, (void*)(size_t)started) != 0) break;
  }
  sleep((unsigned)seconds);
  g_running = 0;
  for (int i = 0; i < started; ++i) pthread_join(workers[i], NULL);
  nbx_trace_close();
  return started == threads ? 0 : 1;
}
