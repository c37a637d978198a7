// Waiting for an exclusive flock(2) that another console holds, for a while.
// Consoles hold their locks for a fraction of a second; one that holds a lock
// much longer is stuck, and waiting on would make every console hang behind
// it. So the wait is bounded: the caller decides what giving up means.
#pragma once

namespace NEBRIX {

// Takes an exclusive flock on `fd`, trying again every 20 milliseconds for up
// to `seconds`. Returns 0 when it is held, EWOULDBLOCK when another still
// holds it after that time, or flock's own error (errno).
int lockExclusiveWithin(int fd, int seconds);

// flock(fd, operation), waiting as long as it takes and tried again when a
// signal interrupts it; for locks that are only ever held for a moment.
void lockFile(int fd, int operation);

}  // namespace NEBRIX
