// The standard descriptors of a program: never lent to a file it opens, and
// output that is lost is a failure, not a success.
#pragma once

namespace Diagnose {

// Gives a closed standard descriptor (0, 1 or 2) a stand-in that fails every
// use the way a closed descriptor does (/dev/null opened the other way
// round), so that no file the program opens later becomes its standard
// output and receives what was meant for the terminal. Call first in main.
void occupyClosedStandardDescriptors() noexcept;

// Flushes and closes standard output (stdout; a std::cout synchronised with
// stdio writes through it as well). When anything written to it was lost (a
// full disk, a closed descriptor, an I/O error, or `lostWriteError`, the
// errno of a write the caller made to descriptor 1 itself), says so on
// standard error and returns false: the program must then exit with a
// failure, whatever its command did.
bool finishStandardOutput(int lostWriteError = 0) noexcept;

}  // namespace Diagnose
