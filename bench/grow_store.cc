// grow_store <profile directory> <count>: makes the console's configuration
// look as if the trace flags had been changed <count> times, by putting
// <count> deleted copies of the ORQ/NEBRIX/TRACEFLAGS record before it.
#include <cstdlib>
#include <iostream>
#include <string>

#include "store_growth.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "Usage: grow_store <profile directory> <count>" << std::endl;
    return 1;
  }
  const std::string directory = argv[1];
  const long count = strtol(argv[2], nullptr, 10);
  if (count < 0 || !nebrix_bench::putRecord(directory, "ORQ/NEBRIX/TRACEFLAGS", "a") ||
      !nebrix_bench::supersedeLastRecord(directory, static_cast<size_t>(count))) {
    std::cerr << "grow_store: cannot grow the store in " << directory << std::endl;
    return 1;
  }
  return 0;
}
