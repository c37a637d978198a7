// The two callbacks a program may set: the change callback, called after
// each change of the settings, and the diagnostic callback, which gets the
// texts of the problems the library meets. Each is kept under a lock of its
// own and called without it, so that a callback may call into the library.
// They outlive the state, so that they may be set before the first call and
// kept over close.
#pragma once

#include <string>

namespace NEBRIX::Client {

using ChangeCallback = void (*)(void* context);
using DiagnosticCallback = void (*)(const char* text, void* context);

// Sends `text` to the diagnostic callback, if one is set. Never called with
// a lock of the library held.
void diagnose(const std::string& text);
void setDiagnostic(DiagnosticCallback callback, void* context);
// Calls the change callback, if one is set; likewise never with a lock of
// the library held.
void tellChange();
void setChangeCallback(ChangeCallback callback, void* context);
// Around fork: the callbacks' locks are held across it, so that the child
// finds them free; in a child made without the handlers they are made anew.
void lockCallbacksForFork();
void unlockCallbacksAfterFork();
void renewCallbackLocks();

}  // namespace NEBRIX::Client
