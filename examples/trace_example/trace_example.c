/* Prints the trace settings this process follows and writes one SQL trace
   record when SQL trace is on. Exit status 0 when the library answered. */
#include <nebrix/trace.h>
#include <stdio.h>

int main(void) {
  struct nbx_trace_settings settings;
  if (nbx_trace_settings(&settings) != NBX_OK) return 1;
  printf("nebrix trace %s: flags \"%s\" (%s), trace file %s\n", nbx_version(), settings.flags,
         settings.own_settings ? "own settings" : "configuration", settings.trace_file);
  if (nbx_trace_enabled(NBX_TRACE_SQL) && nbx_trace_printf(NBX_TRACE_SQL, "example %d", 1) != NBX_OK) return 1;
  nbx_trace_close();
  return 0;
}
