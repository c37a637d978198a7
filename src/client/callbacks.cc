// The program's change callback and diagnostic callback, and their locks.
#include "client/callbacks.h"

#include <mutex>
#include <new>

namespace NEBRIX::Client {
namespace {

std::mutex g_diagnosticMutex;
DiagnosticCallback g_diagnostic = nullptr;
void* g_diagnosticContext = nullptr;
std::mutex g_callbackMutex;
ChangeCallback g_changeCallback = nullptr;
void* g_changeContext = nullptr;

}  // namespace

void lockCallbacksForFork() {
  g_diagnosticMutex.lock();
  g_callbackMutex.lock();
}

void unlockCallbacksAfterFork() {
  g_callbackMutex.unlock();
  g_diagnosticMutex.unlock();
}

// A thread of the parent may have held them at the fork; none of the
// parent's threads lives on in the child.
void renewCallbackLocks() {
  new (&g_diagnosticMutex) std::mutex;
  new (&g_callbackMutex) std::mutex;
}

void setDiagnostic(DiagnosticCallback callback, void* context) {
  std::lock_guard<std::mutex> guard(g_diagnosticMutex);
  g_diagnostic = callback;
  g_diagnosticContext = context;
}

// The callback is copied out and called without the lock, so that it may
// call into the library itself.
void diagnose(const std::string& text) {
  DiagnosticCallback callback;
  void* context;
  {
    std::lock_guard<std::mutex> guard(g_diagnosticMutex);
    callback = g_diagnostic;
    context = g_diagnosticContext;
  }
  if (callback != nullptr) callback(text.c_str(), context);
}

void setChangeCallback(ChangeCallback callback, void* context) {
  std::lock_guard<std::mutex> guard(g_callbackMutex);
  g_changeCallback = callback;
  g_changeContext = context;
}

// Copied out and called without the lock, as the diagnostic callback is.
void tellChange() {
  ChangeCallback callback;
  void* context;
  {
    std::lock_guard<std::mutex> guard(g_callbackMutex);
    callback = g_changeCallback;
    context = g_changeContext;
  }
  if (callback != nullptr) callback(context);
}

}  // namespace NEBRIX::Client
