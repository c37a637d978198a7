// Which process the library's state belongs to. The child of a fork starts
// with a copy of its parent's state, also when it was made without the
// atfork handlers (_Fork, a raw clone): it must never answer the console for
// its parent, write into its parent's files with its parent's settings, or
// wait for a lock that a thread of its parent held at the fork.
//
// Every call but the hot path's check asks isOwnProcess() first, which costs
// one load: a page marked MADV_WIPEONFORK reads as zeros in every child. On a
// kernel that cannot mark it, the process id is compared instead.
#pragma once

#include <string>

namespace NEBRIX::Client {

// True once the library's state is this process's own.
bool isOwnProcess();

// Makes the state this process's own. In the child of a fork exactly one
// thread runs `startAfresh`, which drops what the parent left, while other
// threads that arrive meanwhile wait for it; in the first process of a
// program nothing is dropped.
void becomeOwnProcess(void (*startAfresh)());

// The calling thread's id, asked of the kernel once per thread and process:
// the thread of a child of fork has an id of its own, not the one its
// parent's thread had.
long ownThreadID();

// The program's name, as the trace file and the console show it: a program
// chooses its own, so a control character in it becomes '?'.
std::string programName();

}  // namespace NEBRIX::Client
