/* A host program that returns from main while eight threads still call the
   library: counting, or with an argument, tracing. */
#include <nebrix/trace.h>
#include <pthread.h>
#include <unistd.h>

static void* call(void* printing) {
  for (;;) printing ? nbx_trace_printf(NBX_TRACE_SQL, "record") : nbx_profile_add("calls", 1);
  return NULL;
}

int main(int argc, char** argv) {
  (void)argv;
  pthread_t thread;
  for (int i = 0; i < 8; ++i) pthread_create(&thread, NULL, call, argc > 1 ? &thread : NULL);
  usleep(5000);
  return 0;
}
