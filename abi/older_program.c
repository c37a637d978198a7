/* A program built against the header of the ABI baseline (abi/include), run
   with the library of the change: what it was built to do must keep working.
   Run by older_program_test.sh with SQL trace on; exits 0 when all works,
   else names what did not. */
#include <nebrix/trace.h>
#include <stdio.h>
#include <string.h>

static int failed(const char* what) {
  fprintf(stderr, "older_program: %s\n", what);
  return 1;
}

int main(void) {
  struct nbx_trace_settings settings = NBX_TRACE_SETTINGS_INIT;
  if (nbx_trace_open(NULL) != NBX_OK) return failed("nbx_trace_open");
  if (nbx_version_number() < NBX_VERSION_NUMBER || nbx_version_number() / 1000000 != NBX_VERSION_MAJOR)
    return failed("nbx_version_number");
  if (!nbx_trace_enabled(NBX_TRACE_SQL)) return failed("nbx_trace_enabled");
  if (nbx_trace_get_settings(&settings) != NBX_OK || settings.size != sizeof settings ||
      (settings.categories & (1u << NBX_TRACE_SQL)) == 0 || settings.trace_file[0] != '/')
    return failed("nbx_trace_get_settings");
  if (nbx_trace_printf(NBX_TRACE_SQL, "older program, built against %d", NBX_VERSION_NUMBER) != NBX_OK)
    return failed("nbx_trace_printf");
  if (strcmp(nbx_strerror(NBX_ERROR_WRITE), nbx_strerror(NBX_OK)) == 0) return failed("nbx_strerror");
  nbx_trace_close();
  return 0;
}
