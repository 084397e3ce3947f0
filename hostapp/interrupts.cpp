#include "interrupts.h"

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <signal.h>
#endif

#include <atomic>

namespace orbel::hostapp::interrupts {
namespace {

// Lock-free, so that the handler may touch them.
std::atomic<int> gBusy{0};
std::atomic<bool> gRecording{false};
std::atomic<bool> gInterrupted{false};
std::atomic<bool> gTerminate{false};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "a signal handler may only use lock-free atomics");

#if defined(_WIN32)
// Windows has no signals: Ctrl+C comes to a console handler, on a thread
// of its own; closing the console, logging off and shutting down stand in
// for SIGTERM. Answering FALSE lets the default handler end the process.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
    return (gBusy.load() > 0 || gRecording.load()) && !gInterrupted.exchange(true) ? TRUE : FALSE;
  }
  gTerminate.store(true);
  // Windows ends the process when this returns: give the shell the time to
  // put the devices offline.
  Sleep(3000);
  return TRUE;
}

}  // namespace

void Install() {
  static std::atomic<bool> installed{false};
  if (installed.exchange(true)) return;
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}
#else
void OnSignal(int signalNumber) {
  if (signalNumber == SIGTERM) {
    gTerminate.store(true);
    return;
  }
  if ((gBusy.load() > 0 || gRecording.load()) && !gInterrupted.exchange(true)) return;
  // Idle, or a second Ctrl-C: end as the default action does. Both calls
  // are async-signal-safe.
  struct sigaction standard {};
  standard.sa_handler = SIG_DFL;
  sigemptyset(&standard.sa_mask);
  sigaction(SIGINT, &standard, nullptr);
  raise(SIGINT);
}

}  // namespace

void Install() {
  static std::atomic<bool> installed{false};
  if (installed.exchange(true)) return;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a read waiting for a command returns
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}
#endif

BusyScope::BusyScope() { gBusy.fetch_add(1); }
BusyScope::~BusyScope() { gBusy.fetch_sub(1); }

void SetRecording(bool recording) { gRecording.store(recording); }

bool Interrupted() { return gInterrupted.load(); }
void ClearInterrupted() { gInterrupted.store(false); }
bool TerminateRequested() { return gTerminate.load(); }

}  // namespace orbel::hostapp::interrupts
