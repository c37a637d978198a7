// nebrix_cons: one command of the trace console per invocation.
#include "console/console.h"

int main(int argc, char** argv) {
  NEBRIX_Retcode rc;
  {
    NEBRIX::Console console;
    rc = console.parseArguments(argc, argv);
    if (rc == NEBRIX_OK) rc = console.run();
  }
  return rc == NEBRIX_OK ? 0 : 1;
}
