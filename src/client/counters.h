// The named counters a program keeps with nbx_profile_add, and the file
// that shows them while collection is on (the settings' profile file; the
// format is in trace/counter_file.h).
//
// The settings decide: every change whose settings carry the reset action
// zeroes the counters; while they carry the collect action, the process's
// profile file is written when the change is taken up, then rewritten with
// the library's calls, at most about once a second, and at close and at
// exit. The library has no thread of its own, so the file is as new as the
// program's last call into the library made it. A child of fork starts
// without counters and writes nothing until its own settings tell it to
// collect.
//
// The counters are never destroyed: other threads may still count while
// the process exits.
#pragma once

#include <string>

namespace NEBRIX::Client {

struct Settings;

// Adds `amount` to the counter `name` (made a valid counter name), clamped
// to the range of a 64-bit number.
void addToCounter(const char* name, long long amount);
// The settings in force changed to `settings` (also the first ones); true
// when they carry the collect action.
bool followCounterSettings(const Settings& settings);
// While collecting: writes the profile file when the counters changed since
// the last write and that is a second ago, or, with `now`, whenever they
// changed. False when a write failed; `report` then holds the text to tell,
// once per problem: it stays empty while the same file fails for the same
// reason again, until a write succeeds or the file or reason changes.
// `written`, when given, gets 0 after a write, the errno after a failed one,
// and stays as it is when nothing was due.
bool writeCountersIfDue(bool now, std::string& report, int* written = nullptr);

// Around fork: the counters' lock is held across it. In the child the
// counters start afresh, with a new lock: one made without the handlers may
// have been forked while a thread of the parent held it.
void lockCountersForFork();
void unlockCountersAfterFork();
void startCountersAfresh();

}  // namespace NEBRIX::Client
