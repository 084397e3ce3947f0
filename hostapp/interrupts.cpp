#include "interrupts.h"

#include <signal.h>

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

BusyScope::BusyScope() { gBusy.fetch_add(1); }
BusyScope::~BusyScope() { gBusy.fetch_sub(1); }

void SetRecording(bool recording) { gRecording.store(recording); }

bool Interrupted() { return gInterrupted.load(); }
void ClearInterrupted() { gInterrupted.store(false); }
bool TerminateRequested() { return gTerminate.load(); }

}  // namespace orbel::hostapp::interrupts
